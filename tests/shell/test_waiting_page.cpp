// The waiting page's bar: the step rule at both ends, the full back-and-forth,
// and the page keeping position and step while hidden.
#include "shell/page.h"
#include "shell/waiting_page.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>

using namespace talmo;

class TestWaitingPage : public QObject {
    Q_OBJECT
private slots:
    void stepRule_data();
    void stepRule();
    void fullCycle();
    void pageTexts();
    void timerFollowsNotifications();
    void resumesAfterHide();
    void firstTickAtTheTop();
    void firstTickAtTheBottomGoingDown();
};

void TestWaitingPage::stepRule_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("nextPosition");
    QTest::addColumn<int>("nextStep");
    QTest::newRow("start") << 0 << 5 << 5 << 5;
    QTest::newRow("start, step down") << 0 << -5 << 5 << 5;
    QTest::newRow("at 5 going down") << 5 << -5 << 10 << 5;
    QTest::newRow("at 8 going down") << 8 << -5 << 13 << 5;
    QTest::newRow("at 9 going down") << 9 << -5 << 4 << -5;
    QTest::newRow("at 10 going down") << 10 << -5 << 5 << -5;
    QTest::newRow("climbing") << 50 << 5 << 55 << 5;
    QTest::newRow("falling") << 50 << -5 << 45 << -5;
    QTest::newRow("at 95 climbing") << 95 << 5 << 100 << 5;
    QTest::newRow("at 96 climbing") << 96 << 5 << 91 << -5;
    QTest::newRow("at 100 climbing") << 100 << 5 << 95 << -5;
    QTest::newRow("at 100 falling") << 100 << -5 << 95 << -5;
}

void TestWaitingPage::stepRule() {
    QFETCH(int, position);
    QFETCH(int, step);
    QFETCH(int, nextPosition);
    QFETCH(int, nextStep);
    const BarMotion next = nextBarMotion({position, step});
    QCOMPARE(next.position, nextPosition);
    QCOMPARE(next.step, nextStep);
}

void TestWaitingPage::fullCycle() {
    // From 0: 20 ticks up to 100, then between 5 and 100, 38 ticks a round.
    BarMotion m{0, 5};
    for (int i = 0; i < 20; ++i)
        m = nextBarMotion(m);
    QCOMPARE(m.position, 100);
    int lowest = 100, highest = 0;
    for (int i = 0; i < 38; ++i) {
        m = nextBarMotion(m);
        lowest = std::min(lowest, m.position);
        highest = std::max(highest, m.position);
        QVERIFY(m.position % 5 == 0);
    }
    QCOMPARE(m.position, 100);
    QCOMPARE(lowest, 5);
    QCOMPARE(highest, 100);
    m = nextBarMotion(m);
    QCOMPARE(m.position, 95);
}

void TestWaitingPage::pageTexts() {
    AppContext context;
    WaitingPage page(context, nullptr);
    QStringList texts;
    for (const QLabel* l : page.findChildren<QLabel*>())
        texts << l->text();
    QVERIFY(texts.contains(QString::fromUtf8("En attente de connexion d'TALMO...")));
    QVERIFY(texts.contains(QStringLiteral("TALMO_Tools, Version")));
    auto* bar = page.control<QProgressBar>(WaitingPage::kProgressBar);
    QVERIFY(bar);
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    auto* icon = page.control<QLabel>(kFooterIconControl);
    QVERIFY(icon && !icon->pixmap().isNull());
    // Without a shell the web button does nothing, and does not crash.
    auto* web = page.control<QWidget>(kWebSiteButton);
    QVERIFY(web);
    QTest::mouseClick(web, Qt::LeftButton);
}

void TestWaitingPage::timerFollowsNotifications() {
    AppContext context;
    WaitingPage page(context, nullptr);
    QVERIFY(!page.animating());
    page.pageShown();
    QVERIFY(page.animating());
    QTRY_VERIFY(page.barPosition() >= 10);
    page.pageHidden();
    QVERIFY(!page.animating());
    const int stopped = page.barPosition();
    QTest::qWait(150);
    QCOMPARE(page.barPosition(), stopped);
    // A close request stops it too.
    page.pageShown();
    page.show();
    page.close();
    QVERIFY(!page.animating());
}

void TestWaitingPage::resumesAfterHide() {
    AppContext context;
    WaitingPage page(context, nullptr);
    for (int i = 0; i < 25; ++i) // up to 100, then down to 75
        page.tick();
    QCOMPARE(page.barPosition(), 75);
    QCOMPARE(page.barStep(), -5);
    page.pageShown();
    page.pageHidden();
    page.pageShown();
    page.pageHidden();
    QCOMPARE(page.barPosition(), 75);
    page.tick();
    QCOMPARE(page.barPosition(), 70);
}

void TestWaitingPage::firstTickAtTheTop() {
    AppContext context;
    WaitingPage page(context, nullptr);
    for (int i = 0; i < 20; ++i)
        page.tick();
    QCOMPARE(page.barPosition(), 100);
    QCOMPARE(page.barStep(), 5);
    page.pageHidden();
    page.pageShown();
    page.pageHidden();
    page.tick();
    QCOMPARE(page.barPosition(), 95);
    QCOMPARE(page.barStep(), -5);
}

void TestWaitingPage::firstTickAtTheBottomGoingDown() {
    AppContext context;
    WaitingPage page(context, nullptr);
    for (int i = 0; i < 39; ++i) // 20 up to 100, 19 down to 5
        page.tick();
    QCOMPARE(page.barPosition(), 5);
    QCOMPARE(page.barStep(), -5);
    page.tick();
    QCOMPARE(page.barPosition(), 10);
    QCOMPARE(page.barStep(), 5);
}

QTEST_MAIN(TestWaitingPage)
#include "test_waiting_page.moc"
