// The waiting page: its texts, the bar's step rule at both ends, the timer
// running only between the show and hide notifications, and the bar keeping
// position and step while hidden.
#include "shell/waiting_page.h"
#include "ui/page.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <array>

using namespace talmo;

class TestWaitingPage : public QObject {
    Q_OBJECT
private slots:
    // Position and step, then the next ones: both ends of the bar.
    void stepRule() {
        const int cases[][4] = {{0, 5, 5, 5},    {0, -5, 5, 5},    {5, -5, 10, 5},
                                {8, -5, 13, 5},  {9, -5, 4, -5},   {10, -5, 5, -5},
                                {50, 5, 55, 5},  {50, -5, 45, -5}, {95, 5, 100, 5},
                                {96, 5, 91, -5}, {100, 5, 95, -5}, {100, -5, 95, -5}};
        for (const auto& c : cases) {
            const BarMotion next = nextBarMotion({c[0], c[1]});
            QVERIFY2(next.position == c[2] && next.step == c[3],
                     qPrintable(QStringLiteral("%1 %2").arg(c[0]).arg(c[1])));
        }
    }

    void pageTexts() {
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

    void timerFollowsNotifications() {
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

    // Ticks, hidden and shown twice, one more tick: position and step kept (at
    // the top still climbing, falling, at the bottom).
    void resumesWhereItStopped() {
        for (const auto& [ticks, position, step] :
             {std::array{20, 95, -5}, {25, 70, -5}, {39, 10, 5}}) {
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
    }
};

QTEST_MAIN(TestWaitingPage)
#include "test_waiting_page.moc"
