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
    // The buttons of each set, and the answer of the one pressed ("": the box closed).
    void answersComeFromFrenchButtons() {
        const struct {
            Buttons buttons;
            const char* press;
            Answer answer;
            QStringList shown; // sorted
        } cases[] = {{Buttons::YesNo, "Oui", Answer::Yes, {"Non", "Oui"}},
                     {Buttons::YesNo, "Non", Answer::No, {"Non", "Oui"}},
                     {Buttons::Ok, "OK", Answer::Ok, {"OK"}},
                     {Buttons::OkCancel, "Annuler", Answer::Cancel, {"Annuler", "OK"}},
                     {Buttons::YesNoCancel, "", Answer::Cancel, {"Annuler", "Non", "Oui"}}};
        for (const auto& c : cases) {
            VirtualClock clock;
            QtUi ui(clock);
            QStringList seen;
            pressLater(c.press, &seen);
            const Answer got = ui.messageBox("Programmer cette version ?\nTALMO V0.31",
                                             "Programmation", Icon::Question, c.buttons);
            QCOMPARE(got, c.answer);
            seen.sort();
            QCOMPARE(seen, c.shown);
        }
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
