// The Qt facade as the user meets it: boxes answer in French with the
// button pressed, and a cancelled box counts as Cancel.
#include "core/clock.h"
#include "ui/qt_ui.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace talmo;

class QtUiTest : public QObject {
    Q_OBJECT

    // Presses the button whose text is `text` in the box that opens next,
    // after recording every button text it shows.
    void pressLater(const QString& text, QStringList* seen) {
        QTimer::singleShot(0, [text, seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QAbstractButton* target = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                seen->append(b->text());
                if (b->text() == text)
                    target = b;
            }
            if (target)
                target->click();
            else
                box->reject();
        });
    }

private slots:
    void answersComeFromFrenchButtons_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("oui") << int(Buttons::YesNo) << "Oui" << int(Answer::Yes)
                             << QStringList{"Oui", "Non"};
        QTest::newRow("non") << int(Buttons::YesNo) << "Non" << int(Answer::No)
                             << QStringList{"Oui", "Non"};
        QTest::newRow("ok") << int(Buttons::Ok) << "OK" << int(Answer::Ok) << QStringList{"OK"};
        QTest::newRow("annuler") << int(Buttons::OkCancel) << "Annuler" << int(Answer::Cancel)
                                 << QStringList{"Annuler", "OK"};
        QTest::newRow("closed") << int(Buttons::YesNoCancel) << "" << int(Answer::Cancel)
                                << QStringList{"Annuler", "Non", "Oui"};
    }

    void answersComeFromFrenchButtons() {
        QFETCH(int, buttons);
        QFETCH(QString, press);
        QFETCH(int, answer);
        QFETCH(QStringList, shown);
        VirtualClock clock;
        QtUi ui(clock);
        QStringList seen;
        pressLater(press, &seen);
        const Answer got = ui.messageBox("Programmer cette version ?\nTALMO V0.31", "Programmation",
                                         Icon::Question, static_cast<Buttons>(buttons));
        QCOMPARE(int(got), answer);
        seen.sort();
        shown.sort();
        QCOMPARE(seen, shown);
    }

    void statusTextsGoToTheSinkAndWaitsToTheClock() {
        VirtualClock clock;
        QtUi ui(clock);
        std::vector<std::pair<int, std::string>> got;
        ui.setStatusSink(
            [&](int field, const std::string& text) { got.emplace_back(field, text); });
        ui.setStatusText(1, "Lecture: OK");
        ui.waitMs(8);
        QCOMPARE(got.size(), size_t(1));
        QCOMPARE(got[0].second, std::string("Lecture: OK"));
        QCOMPARE(clock.nowUs(), 8000);
    }
};

QTEST_MAIN(QtUiTest)
#include "test_qt_ui.moc"
