// The program's window with its four real pages on the device emulator:
// each page's show sequence at start-up, before the window appears; the
// console's jump into the boot loader and the boot-loader page's return,
// through the link's events as the program gets them.
#include "shell/waiting_page.h"
#include "shell_rig.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace talmo;
using namespace talmo::test;

class TestShellEmulator : public QObject {
    Q_OBJECT
private slots:
    void startUp_data();
    void startUp();
    void intoTheBootLoaderAndBack();
};

void TestShellEmulator::startUp_data() {
    QTest::addColumn<int>("mode"); // -1: no device
    QTest::addColumn<int>("page");
    QTest::newRow("no device") << -1 << int(PageKind::Waiting);
    QTest::newRow("normal mode") << int(Mode::Normal) << int(PageKind::Console);
    QTest::newRow("boot loader") << int(Mode::BootLoader) << int(PageKind::BootLoader);
}

void TestShellEmulator::startUp() {
    QFETCH(int, mode);
    QFETCH(int, page);
    ShellRig rig;
    const int id = mode < 0 ? -1 : rig.plug(static_cast<Mode>(mode), true);
    MainWindow& w = rig.start(createStandardPage);
    QCOMPARE(int(rig.current()), page);
    QCOMPARE(rig.visiblePages(), std::vector<PageKind>{rig.current()});
    QCOMPARE(rig.ui.status(ConnectionField), connectionText(rig.current()));
    // The shown page did its work before the window itself appeared.
    if (id >= 0)
        QVERIFY(rig.device(id).log().count(sim::Match('V')) > 0);
    else
        QVERIFY(qobject_cast<WaitingPage*>(w.currentPage())->animating());
    // Every real page has its footer.
    for (int i = 0; i < kPageCount; ++i) {
        Page* p = w.page(static_cast<PageKind>(i));
        auto* version = p->control<QLabel>(kVersionControl);
        auto* web = p->control<QPushButton>(kWebSiteButton);
        QVERIFY2(version && web, pageName(static_cast<PageKind>(i)));
        QCOMPARE(version->text(), QStringLiteral("0.23"));
        QCOMPARE(web->text(), QString::fromUtf8("Site web TALMO"));
    }
}

void TestShellEmulator::intoTheBootLoaderAndBack() {
    ShellRig rig;
    rig.start(createStandardPage);
    const int id = rig.plug(Mode::Normal);
    rig.deliver();
    QCOMPARE(rig.current(), PageKind::Console);
    sim::Talmo& t = rig.device(id);
    // The console page polls while it is shown.
    QTRY_VERIFY(t.log().count(sim::Match('I')) > 2);

    // "Mise à jour" (Auto not ticked): the device restarts in its boot loader.
    QTest::mouseClick(rig.window->page(PageKind::Console)->control<QPushButton>(1027),
                      Qt::LeftButton);
    QCOMPARE(t.mode(), Mode::BootLoader);
    rig.deliver();
    QCOMPARE(rig.current(), PageKind::BootLoader);
    const auto texts = rig.ui.statusTexts(ConnectionField);
    QCOMPARE(texts[texts.size() - 2], connectionText(PageKind::Waiting));
    QCOMPARE(texts.back(), connectionText(PageKind::BootLoader));
    QVERIFY(t.log().count(sim::Match('V')) >= 1);

    // "Retour TALMO": back to normal mode and to the console page.
    QTest::mouseClick(rig.window->page(PageKind::BootLoader)->control<QPushButton>(1044),
                      Qt::LeftButton);
    QCOMPARE(t.mode(), Mode::Normal);
    rig.deliver();
    QCOMPARE(rig.current(), PageKind::Console);
    QCOMPARE(rig.visiblePages(), std::vector<PageKind>{PageKind::Console});
    QVERIFY(rig.ui.boxes().empty());

    rig.backend.unplug(id);
    rig.deliver();
    QCOMPARE(rig.current(), PageKind::Waiting);
    QVERIFY(qobject_cast<WaitingPage*>(rig.window->currentPage())->animating());
}

QTEST_MAIN(TestShellEmulator)
#include "test_shell_emulator.moc"
