// The program's window with its four real pages on the device emulator:
// start-up in each mode, plug and unplug, the console's jump into the boot
// loader and the boot-loader page's return, the programmer page and a
// foreign device, all through the link's events as the program gets them.
#include "link/device_link.h"
#include "link/sim_backend.h"
#include "shell/clock.h"
#include "shell/main_window.h"
#include "shell/scripted_ui.h"
#include "shell/waiting_page.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace talmo;

namespace {

const std::string kNotConnected = "USB: TALMO non connecté";
const std::string kConnected = "USB: TALMO connecté";
const std::string kBootConnected = "USB: TALMO Boot Loader connecté";

std::unique_ptr<sim::Talmo> talmoIn(sim::Talmo::Mode mode) {
    auto t = std::make_unique<sim::Talmo>();
    t->setMode(mode);
    return t;
}

struct Rig {
    VirtualClock clock;
    sim::VirtualUsb usb{clock};
    SimBackend backend{usb};
    ScriptedUi ui{&clock};
    DeviceLink link;
    std::unique_ptr<MainWindow> window;

    Rig() {
        link.backend = &backend;
        link.ui = &ui;
    }
    // A device present before the program starts.
    int present(sim::Talmo::Mode mode) {
        const int id = usb.plug(talmoIn(mode));
        usb.takeEvents();
        return id;
    }
    MainWindow& start() {
        window = std::make_unique<MainWindow>(link, ui, createStandardPage);
        window->urlOpener = [](const QString&) {};
        return *window;
    }
    // What the event notifier does when the bus has news.
    void deliver() { window->processDeviceEvents(); }
    void click(PageKind page, int control) {
        auto* button = window->page(page)->control<QPushButton>(control);
        QVERIFY2(button, qPrintable(QStringLiteral("control %1").arg(control)));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    PageKind current() const { return window->currentPageKind(); }
    int visibleCount() const {
        int n = 0;
        for (int i = 0; i < kPageCount; ++i)
            n += window->page(static_cast<PageKind>(i))->isHidden() ? 0 : 1;
        return n;
    }
};

} // namespace

class TestShellEmulator : public QObject {
    Q_OBJECT
private slots:
    void startUp_data();
    void startUp();
    void plugAndUnplug();
    void updateButtonIntoBootLoaderAndBack();
    void programmerPageAndForeignDevice();
    void everyPageHasItsFooter();
};

void TestShellEmulator::startUp_data() {
    QTest::addColumn<int>("mode"); // -1: no device
    QTest::addColumn<QString>("connection");
    QTest::addColumn<int>("page");
    QTest::newRow("no device") << -1 << QString::fromStdString(kNotConnected) << int(PageKind::Waiting);
    QTest::newRow("normal mode") << int(sim::Talmo::Mode::Normal) << QString::fromStdString(kConnected)
                                 << int(PageKind::Console);
    QTest::newRow("boot loader") << int(sim::Talmo::Mode::BootLoader)
                                 << QString::fromStdString(kBootConnected) << int(PageKind::BootLoader);
}

void TestShellEmulator::startUp() {
    QFETCH(int, mode);
    QFETCH(QString, connection);
    QFETCH(int, page);
    Rig rig;
    int id = -1;
    if (mode >= 0)
        id = rig.present(static_cast<sim::Talmo::Mode>(mode));
    MainWindow& w = rig.start();
    QCOMPARE(rig.ui.statusTexts(ConnectionField).front(), std::string("USB: Getting status"));
    QCOMPARE(QString::fromStdString(rig.ui.status(ConnectionField)), connection);
    QCOMPARE(int(rig.current()), page);
    QCOMPARE(rig.visibleCount(), 1);
    QVERIFY(!w.currentPage()->isHidden());
    // The shown page did its work before the window itself appeared.
    if (id >= 0)
        QVERIFY(rig.usb.device(id)->exchangeCount() > 0);
    else
        QVERIFY(qobject_cast<WaitingPage*>(w.currentPage())->animating());
    QCOMPARE(w.firmwarePath(), std::string("./talmo.hex"));
}

void TestShellEmulator::plugAndUnplug() {
    Rig rig;
    MainWindow& w = rig.start();
    auto* waiting = qobject_cast<WaitingPage*>(w.page(PageKind::Waiting));
    QVERIFY(waiting && waiting->animating());

    const int id = rig.backend.plug(talmoIn(sim::Talmo::Mode::Normal));
    rig.deliver();
    QCOMPARE(int(rig.current()), int(PageKind::Console));
    QCOMPARE(rig.ui.status(ConnectionField), kConnected);
    QVERIFY(!waiting->animating());
    // The console page polls while it is shown.
    const auto before = rig.usb.device(id)->log().count(sim::Match('I'));
    QTRY_VERIFY(rig.usb.device(id)->log().count(sim::Match('I')) > before + 2);

    rig.backend.unplug(id);
    rig.deliver();
    QCOMPARE(int(rig.current()), int(PageKind::Waiting));
    QCOMPARE(rig.ui.status(ConnectionField), kNotConnected);
    QVERIFY(waiting->animating());
    QCOMPARE(rig.visibleCount(), 1);
}

void TestShellEmulator::updateButtonIntoBootLoaderAndBack() {
    Rig rig;
    const int id = rig.present(sim::Talmo::Mode::Normal);
    rig.start();
    QCOMPARE(int(rig.current()), int(PageKind::Console));
    sim::Talmo* t = rig.usb.device(id);

    // "Mise à jour" (Auto not ticked): the device restarts in its boot loader.
    rig.click(PageKind::Console, 1027);
    QCOMPARE(t->mode(), sim::Talmo::Mode::BootLoader);
    rig.deliver();
    QCOMPARE(int(rig.current()), int(PageKind::BootLoader));
    const auto texts = rig.ui.statusTexts(ConnectionField);
    QVERIFY(texts.size() >= 2);
    QCOMPARE(texts[texts.size() - 2], kNotConnected);
    QCOMPARE(texts.back(), kBootConnected);
    // The boot-loader page asked the boot loader's version when it was shown.
    QVERIFY(t->log().count(sim::Match('V')) >= 1);
    QCOMPARE(rig.visibleCount(), 1);

    // "Retour TALMO": back to normal mode and to the console page.
    rig.click(PageKind::BootLoader, 1044);
    QCOMPARE(t->mode(), sim::Talmo::Mode::Normal);
    rig.deliver();
    QCOMPARE(int(rig.current()), int(PageKind::Console));
    QCOMPARE(rig.ui.status(ConnectionField), kConnected);
    QCOMPARE(rig.visibleCount(), 1);
    QVERIFY(rig.ui.boxes().empty());
}

void TestShellEmulator::programmerPageAndForeignDevice() {
    Rig rig;
    rig.present(sim::Talmo::Mode::Normal);
    MainWindow& w = rig.start();
    rig.click(PageKind::Console, 1041); // "Màj VELKOR"
    QCOMPARE(int(rig.current()), int(PageKind::Programmer));
    QCOMPARE(rig.visibleCount(), 1);

    // Another device arrives (a second TALMO, which the link ignores): the
    // programmer page goes, the console page comes back.
    rig.usb.plug(talmoIn(sim::Talmo::Mode::BootLoader));
    rig.backend.notify();
    rig.deliver();
    QCOMPARE(int(rig.current()), int(PageKind::Console));
    QVERIFY(w.page(PageKind::Programmer)->isHidden());
    QCOMPARE(rig.ui.status(ConnectionField), kConnected);
    QCOMPARE(rig.visibleCount(), 1);
}

void TestShellEmulator::everyPageHasItsFooter() {
    Rig rig;
    MainWindow& w = rig.start();
    for (int i = 0; i < kPageCount; ++i) {
        Page* p = w.page(static_cast<PageKind>(i));
        auto* version = p->control<QLabel>(kVersionControl);
        QVERIFY2(version, pageName(static_cast<PageKind>(i)));
        QCOMPARE(version->text(), QStringLiteral("0.23"));
        auto* web = p->control<QPushButton>(kWebSiteButton);
        QVERIFY(web);
        QCOMPARE(web->text(), QString::fromUtf8("Site web TALMO"));
    }
}

QTEST_MAIN(TestShellEmulator)
#include "test_shell_emulator.moc"
