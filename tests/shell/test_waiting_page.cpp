// The waiting page: its texts, the bar's step rule at both ends, the timer
// running only between the show and hide notifications, and the bar keeping
// position and step while hidden.
#include "shell/waiting_page.h"
#include "ui/page.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace talmo;

class TestWaitingPage : public QObject {
    Q_OBJECT
private slots:
    void stepRule_data();
    void stepRule();
    void pageTexts();
    void timerFollowsNotifications();
    void resumesWhereItStopped_data();
    void resumesWhereItStopped();
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

void TestWaitingPage::pageTexts() {
    AppContext context;
    WaitingPage page(context, nullptr);
    QStringList texts;
    for (const QLabel* l : page.findChildren<QLabel*>())
        texts << l->text();
    QVERIFY(texts.contains(QString::fromUtf8("En attente de connexion d'TALMO...")));
    QVERIFY(texts.contains(QStringLiteral("TALMO_Tools, Version")));
    auto* bar = page.control<QProgressBar>(WaitingPage::kProgressBar);
    QVERIFY(bar && bar->minimum() == 0 && bar->maximum() == 100 && bar->value() == 0);
    auto* icon = page.control<QLabel>(kFooterIconControl);
    QVERIFY(icon && !icon->pixmap().isNull());
    auto* web = page.control<QPushButton>(kWebSiteButton);
    QVERIFY(web && web->isDefault());
    // Without a shell the web button does nothing, and does not crash.
    QTest::mouseClick(web, Qt::LeftButton);
}

void TestWaitingPage::timerFollowsNotifications() {
    AppContext context;
    WaitingPage page(context, nullptr);
    QVERIFY(!page.animating());
    page.pageShown();
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

// Ticks, hidden and shown twice, one more tick: position and step kept.
void TestWaitingPage::resumesWhereItStopped_data() {
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("step");
    QTest::newRow("at the top, still climbing") << 20 << 95 << -5;
    QTest::newRow("falling") << 25 << 70 << -5;
    QTest::newRow("at the bottom") << 39 << 10 << 5;
}

void TestWaitingPage::resumesWhereItStopped() {
    QFETCH(int, ticks);
    QFETCH(int, position);
    QFETCH(int, step);
    AppContext context;
    WaitingPage page(context, nullptr);
    for (int i = 0; i < ticks; ++i)
        page.tick();
    for (int i = 0; i < 2; ++i) {
        page.pageShown();
        page.pageHidden();
    }
    page.tick();
    QCOMPARE(page.barPosition(), position);
    QCOMPARE(page.barStep(), step);
}

QTEST_MAIN(TestWaitingPage)
#include "test_waiting_page.moc"
