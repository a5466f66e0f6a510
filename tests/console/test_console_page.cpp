// The console page on the device emulator: what showing it asks and shows,
// the status poll, and the user's commands.
#include "console/console_page.h"

#include "tests/common/page_rig.h"
#include "tests/common/rig.h"

#include <QCheckBox>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

using namespace talmo;

namespace {

QString u(const char* s) { return QString::fromUtf8(s); }

// Controls and what each shows, in pairs: T(id, "text", id, "text"...).
using Texts = std::vector<std::pair<int, const char*>>;
void Pair(Texts&) {}
template <class... Rest>
void Pair(Texts& t, int id, const char* text, Rest... rest) {
    t.emplace_back(id, text);
    Pair(t, rest...);
}
template <class... A>
Texts T(A... a) {
    Texts t;
    Pair(t, a...);
    return t;
}

// A console page on a virtual TALMO.
struct Rig : test::Rig {
    sim::Talmo* device = dev;
    test::FakeShell shell;
    AppContext context{&link, &ui, &shell};
    std::unique_ptr<ConsolePage> page;

    explicit Rig(const std::function<void(sim::Talmo&)>& setUp = {}) {
        if (setUp)
            setUp(*device);
        page = std::make_unique<ConsolePage>(context, nullptr);
        page->show();
    }
    sim::ExchangeLog& log() { return device->log(); }
    sim::Machine& machine() { return device->machine(); }
    // Shows the page the way the main window does; the log index before it.
    std::size_t show() {
        const std::size_t mark = log().size();
        page->pageShown();
        return mark;
    }
    std::size_t poll() {
        const std::size_t mark = log().size();
        page->pollStatus();
        return mark;
    }
    QString shown(int id) const { return test::Shown(*page, id); }
    void expectShown(const char* name, const Texts& expected) const {
        for (auto [id, text] : expected)
            QVERIFY2(
                shown(id) == u(text),
                qPrintable(QStringLiteral("%1: %2 shows '%3'").arg(name).arg(id).arg(shown(id))));
    }
    QSlider* slider(int id) const { return page->control<QSlider>(id); }
    QLineEdit* edit() const { return page->control<QLineEdit>(kCtlInputLevelEdit); }
    void click(int id) { QTest::mouseClick(page->control<QPushButton>(id), Qt::LeftButton); }
    // Byte 3 of every second 'P' request (the value sent) since mark.
    std::vector<std::uint8_t> pwmSent(std::size_t mark) {
        return log().requestBytes(sim::Match('P').byte(2, 1), 3, mark);
    }
};

using Bytes = std::vector<std::uint8_t>;

} // namespace

class ConsolePageTest : public QObject {
    Q_OBJECT
private slots:
    // What the page shows until the device answers: the texts that stay when
    // an answer is missing, and the controls that cannot be used.
    void layoutBeforeTheDeviceAnswers() {
        Rig rig;
        rig.expectShown("layout",
                        T(kCtlVersionText, "TALMO Vx.yz", kCtlTableText, "-", kCtlFrequencyText,
                          "- kHz", kCtlFlashMakerText, "Non détecté", kCtlFlashSizeText,
                          "Non détecté", kCtlPwmMaxText, "- %", kCtlIo1Text, "-", kCtlAutoOnOffText,
                          "-", kCtlAxesText, "-,-,-,-,-", kCtlAccelText, "-", kCtlContactsText, "-",
                          kCtlStopPicture, "148", kCtlKeypadMissingText,
                          " Clavier\n   non\ndétecté"));
        for (int id : {kCtlFlashDetailsButton, kCtlMovesButton, kCtlSignalInvertedBox,
                       kCtlInputLevel2Slider, kCtlOutputLevelSlider})
            QVERIFY2(!rig.page->control(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(rig.page->control(kCtlMovesButton)->isHidden() &&
                rig.page->control(kCtlKeypadMissingText)->isHidden());
        QVERIFY(rig.page->control<QLineEdit>(kCtlInputLevel2Edit)->isReadOnly());
        QVERIFY(rig.page->control<QLineEdit>(kCtlOutputLevelEdit)->isReadOnly());
        QCOMPARE(rig.log().size(), std::size_t(0)); // nothing sent before the page is shown
        QVERIFY(!rig.page->polling());
    }

    void startSequence() {
        struct Case {
            const char* name;
            std::function<void(sim::Talmo&)> setUp;
            Texts texts;
            bool inverted;
            bool tooOld; // box, jump to the boot loader, no poll
        };
        const Case cases[] = {
            {"emulator defaults",
             {},
             T(kCtlVersionText, "TALMO V0.23", kCtlFlashMakerText, "AMIC", kCtlFlashTypeText,
               "0x30", kCtlFlashSizeText, "2 Mo (16 Mbit)", kCtlFlashProtectText, "Non",
               kCtlTableText, "FRAISE3A", kCtlAxesText, "X ,Y ,Z ,--,--", kCtlPwmMaxText, "100 %",
               kCtlAccelText, "10", kCtlFrequencyText, "250kHz", kCtlContactsText, "Actifs",
               kCtlAutoOnOffText, "Désactivé"),
             false,
             false},
            {"oldest firmware accepted, plain flash code, other table",
             [](sim::Talmo& t) {
                 t.setFirmwareVersion("TALMO V0.22");
                 t.flash() = {0xC2, 0x20, 24, 0x80};
                 t.table() = {"TOUR", {17, 0, 0, 0, 50}, 12, 3, 128, 3, 0x04};
             },
             T(kCtlVersionText, "TALMO V0.22", kCtlFlashMakerText, "0xC2", kCtlFlashTypeText,
               "0x20", kCtlFlashSizeText, "16 Mo (128 Mbit)", kCtlFlashProtectText, "Oui",
               kCtlTableText, "TOUR", kCtlAxesText, "B ,--,--,--,W ", kCtlPwmMaxText, " 50 %",
               kCtlAccelText, "3", kCtlFrequencyText, "120kHz", kCtlContactsText, "Inactifs",
               kCtlAutoOnOffText, "on=0.5s, off=3s"),
             true, false},
            {"too old a firmware", [](sim::Talmo& t) { t.setFirmwareVersion("TALMO V0.21"); },
             T(kCtlVersionText, "TALMO V0.21", kCtlFlashMakerText, "Non détecté"), false, true},
        };
        for (const Case& c : cases) {
            Rig rig(c.setUp);
            QString versionUnderBox;
            rig.ui.onBox = [&] { versionUnderBox = rig.shown(kCtlVersionText); };
            const std::size_t mark = rig.show();
            rig.expectShown(c.name, c.texts);
            QCOMPARE(rig.page->control<QCheckBox>(kCtlSignalInvertedBox)->isChecked(), c.inverted);
            const Bytes letters = rig.log().requestBytes(sim::Match(), 1, mark);
            QCOMPARE(std::string(letters.begin(), letters.end()),
                     std::string(c.tooOld ? "BVZ" : "BVFTT"));
            QCOMPARE(rig.page->polling(), !c.tooOld);
            QCOMPARE(rig.device->mode() == sim::Talmo::Mode::BootLoader, c.tooOld);
            const auto boxes = rig.ui.boxes();
            QCOMPARE(boxes.size(), std::size_t(c.tooOld ? 1 : 0));
            if (!c.tooOld) {
                QCOMPARE(rig.log().requestBytes(sim::Match('T'), 2, mark), Bytes({0, 3}));
                continue;
            }
            const auto& box = boxes[0];
            QCOMPARE(QString::fromStdString(box.text),
                     u("La version du firmware d'TALMO est trop ancienne.\nVersion minimum: 0.22"));
            QCOMPARE(QString::fromStdString(box.caption), u("Version TALMO"));
            QCOMPARE(versionUnderBox, u("TALMO V0.21")); // shown before the box comes up
            QVERIFY(box.icon == Icon::Error && box.buttons == Buttons::Ok);
        }
    }

    // A step of the start sequence that gets no answer (or a wrong letter) is
    // neither judged nor shown: the fields keep what they showed, the sequence
    // goes on and the poll starts.
    void unansweredStepKeepsWhatWasShown() {
        struct Case {
            const char* name;
            bool shownBefore;   // the page was shown once before the device changed
            std::uint64_t step; // 0: 'B', 1: 'V', 2: 'F', 3 and 4: 'T'
            bool wrongLetter;
            int control;
            const char* kept;
        };
        const Case cases[] = {
            {"'V' silent on a fresh buffer", false, 1, false, kCtlVersionText, "TALMO Vx.yz"},
            {"'F' silent", true, 2, false, kCtlFlashMakerText, "AMIC"},
            {"'F' with a wrong letter", true, 2, true, kCtlFlashMakerText, "AMIC"},
            {"second 'T' silent", true, 4, false, kCtlTableText, "FRAISE3A"},
        };
        for (const Case& c : cases) {
            Rig rig;
            if (c.shownBefore) {
                rig.show();
                rig.page->pageHidden();
                rig.device->flash() = {0x1F, 0x44, 22, 1};
                rig.device->table().name = "AUTRE";
            }
            (c.wrongLetter ? rig.device->faults().wrongEchoAt : rig.device->faults().silentAt) =
                rig.device->nextExchange() + c.step;
            rig.show();
            rig.expectShown(c.name, T(c.control, c.kept));
            QVERIFY(rig.ui.boxes().empty());
            QVERIFY(rig.device->mode() == sim::Talmo::Mode::Normal);
            QVERIFY(rig.page->polling());
        }
    }

    // Every item of the status answer reaches its control, as the machine's
    // state goes one way and back.
    void pollShowsEveryItemOfTheAnswer() {
        Rig rig;
        rig.show();
        const Texts shown[2] = {
            T(kCtlIo1Text, "0", kCtlStopPicture, "150", kCtlOutputSwitchPicture, "166",
              kCtlInputModePicture, "140", kCtlInputLevelEdit, "100", kCtlInputLevelSlider, "100",
              kCtlInputLevel2Edit, "  1", kCtlOutputLevelEdit, "100", kCtlOutputLevelSlider, "100",
              kCtlStartProtectText, "OFF", kCtlKeyLeft, "152", kCtlKeyRight, "152", kCtlKeyEsc,
              "155", kCtlKeyOk, "155", kCtlLimitSwitchPicture, "163", kCtlProbePicture, "163",
              kCtlMotorButton, "167"),
            T(kCtlIo1Text, "1", kCtlStopPicture, "148", kCtlOutputSwitchPicture, "167",
              kCtlInputModePicture, "141", kCtlInputLevelEdit, " 50", kCtlInputLevelSlider, "50",
              kCtlInputLevel2Edit, "100", kCtlInputLevel2Slider, "100", kCtlOutputLevelEdit, "0",
              kCtlOutputLevelSlider, "0", kCtlStartProtectText, "ON", kCtlKeyUp, "153", kCtlKeyDown,
              "153", kCtlKeyEsc, "157", kCtlKeyOk, "157", kCtlLimitSwitchPicture, "162",
              kCtlProbePicture, "162", kCtlMotorButton, "166")};
        for (const bool on : {true, false, true}) {
            sim::Machine& m = rig.machine();
            m.motorsOn = m.io1 = m.stopProg = m.outputOff = m.manual = m.keypadAbsent = on;
            m.outputEnabled = m.limitSwitchesOpen = m.probesOpen = !on;
            m.keys = on ? 0xF3 : 0;
            m.pwmLevel = on ? 128 : 255;
            m.pwmInput = on ? 255 : 3;
            rig.poll();
            rig.expectShown(on ? "on" : "off", shown[on]);
            QCOMPARE(rig.page->control(kCtlKeypadMissingText)->isHidden(), !on);
        }
        QVERIFY(!rig.page->control<QLabel>(kCtlStopPicture)->pixmap().isNull());
    }

    // An answer is drawn only when it differs from the last one drawn; none,
    // or one with a wrong letter, changes nothing. Hiding the page stops the
    // poll, and showing it again draws the next answer in full.
    void onlyAChangedAnswerIsRedrawn() {
        Rig rig;
        rig.show();
        rig.machine().motorsOn = true;
        rig.poll();
        QCOMPARE(rig.page->displayedAnswers(), 1);
        auto* io1 = rig.page->control<QLabel>(kCtlIo1Text);
        io1->setText(u("x"));
        const std::size_t mark = rig.poll();
        QCOMPARE(rig.log().size() - mark, std::size_t(1)); // the 'I' alone
        rig.machine().motorsOn = false;
        rig.device->faults().silentAt = rig.device->nextExchange();
        rig.device->faults().wrongEchoAt = rig.device->nextExchange() + 1;
        const std::int64_t before = rig.clock.nowMs();
        rig.poll();
        QVERIFY(rig.clock.nowMs() - before >= 500); // the time-out was waited out
        rig.poll();
        QCOMPARE(rig.page->displayedAnswers(), 1);
        rig.expectShown("unchanged", T(kCtlIo1Text, "x", kCtlMotorButton, "166"));
        rig.poll();
        QCOMPARE(rig.page->displayedAnswers(), 2);
        rig.expectShown("changed", T(kCtlIo1Text, "0", kCtlMotorButton, "167"));

        rig.page->pageHidden();
        QVERIFY(!rig.page->polling());
        io1->setText(u("x"));
        rig.show();
        rig.poll();
        QCOMPARE(rig.page->displayedAnswers(), 3);
        QCOMPARE(io1->text(), u("0"));
        // The timer itself runs the poll, until the page is hidden.
        const std::size_t running = rig.log().size();
        QTRY_VERIFY_WITH_TIMEOUT(rig.log().count('I', running) >= 2, 2000);
        rig.page->pageHidden();
        const std::size_t stopped = rig.log().size();
        QTest::qWait(150);
        QCOMPARE(rig.log().size(), stopped);
    }

    // The poll leaves the focused PWM control alone; the edit losing the focus
    // asks the level again ('I' without clearing the buffer) and sends it back.
    void focusRule() {
        Rig rig;
        rig.page->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.page.get()));
        rig.show();
        rig.edit()->setFocus();
        rig.machine().pwmLevel = 253;
        std::size_t mark = rig.log().size();
        rig.slider(kCtlInputLevelSlider)->setFocus();
        QCOMPARE(rig.edit()->text(), u(" 99"));
        QCOMPARE(int(rig.log().entries().at(mark).request[1]), int('I'));
        QCOMPARE(int(rig.log().entries().at(mark).request[4]),
                 int('F')); // left from the table's answer
        QCOMPARE(rig.pwmSent(mark), Bytes({253}));

        rig.machine().pwmLevel = 128;
        mark = rig.poll();
        rig.expectShown("slider focused", T(kCtlInputLevelSlider, "0", kCtlInputLevelEdit, " 50"));
        QCOMPARE(rig.pwmSent(mark), Bytes({128})); // the poll's write of the edit goes out too
        rig.edit()->setFocus();
        rig.machine().pwmLevel = 255;
        mark = rig.poll();
        rig.expectShown("edit focused", T(kCtlInputLevelSlider, "100", kCtlInputLevelEdit, " 50"));
        QCOMPARE(rig.pwmSent(mark), Bytes());
    }

    void pwmLevelGoesToTheDevice() {
        Rig rig;
        rig.show();
        QSlider* s = rig.slider(kCtlInputLevelSlider);
        const std::pair<int, int> positions[] = {{0, 0}, {1, 3}, {50, 128}, {99, 253}, {100, 255}};
        for (auto [position, value] : positions) {
            s->blockSignals(true);
            s->setValue(position == 50 ? 10 : 50);
            s->blockSignals(false);
            const std::size_t mark = rig.log().size();
            s->setSliderPosition(position); // a drag's move
            QCOMPARE(rig.pwmSent(mark), Bytes({std::uint8_t(value)}));
            QCOMPARE(rig.log().count(sim::Match('P').byte(2, 2), mark), std::size_t(1));
            QCOMPARE(int(rig.machine().pwmLevel), value);
        }
        // Keyboard steps and the end of a drag send too; the display-only slider doesn't.
        std::size_t mark = rig.log().size();
        s->setFocus();
        QTest::keyClick(s, Qt::Key_Left);
        emit s->sliderReleased();
        rig.slider(kCtlInputLevel2Slider)->setSliderPosition(30);
        QCOMPARE(rig.pwmSent(mark), Bytes({253, 253}));
        // An unanswered first 'P' ends the command.
        rig.device->faults().silentAt = rig.device->nextExchange();
        mark = rig.log().size();
        s->setSliderPosition(20);
        QCOMPARE(rig.log().size() - mark, std::size_t(1));

        // Each keystroke in the edit; letters are refused; emptied, it sends 0.
        mark = rig.log().size();
        QTest::keyClicks(rig.edit(), "150a");
        QCOMPARE(rig.edit()->text(), u("150"));
        rig.edit()->selectAll();
        QTest::keyClick(rig.edit(), Qt::Key_Delete);
        QCOMPARE(rig.pwmSent(mark), Bytes({3, 39, 255, 0}));
    }

    void lcdTest() {
        struct Case {
            const char* name;
            std::uint64_t silentStep; // 0: none; from 1, the exchanges of the test
            std::size_t lit0, lit1, blank, waits, exchanges;
        };
        const Case cases[] = {
            {"whole test", 0, 20, 20, 40, 40, 2 + 40 + 40 + 2 + 1},
            {"the LCD stops answering at line 0 of column 5", 13, 6, 5, 40, 5 + 20,
             2 + 11 + 40 + 2 + 1},
            {"no answer to the set-up", 2, 0, 0, 0, 0, 2},
        };
        for (const Case& c : cases) {
            Rig rig;
            rig.show();
            const std::size_t mark = rig.log().size();
            if (c.silentStep)
                rig.device->faults().silentAt = rig.device->nextExchange() + c.silentStep - 1;
            rig.click(kCtlLcdTestButton);
            const auto& log = rig.log();
            QCOMPARE(log.size() - mark, c.exchanges);
            QCOMPARE(log.count(sim::Match('L').byte(2, 0).byte(4, 1).byte(5, 0xFF), mark), c.lit0);
            QCOMPARE(log.count(sim::Match('L').byte(2, 1).byte(4, 1).byte(5, 0xFF), mark), c.lit1);
            QCOMPARE(log.count(sim::Match('L').byte(4, 1).byte(5, ' '), mark), c.blank);
            QCOMPARE(std::size_t(std::count_if(
                         rig.ui.events().begin(), rig.ui.events().end(),
                         [](const UiEvent& e) { return e.kind == UiEvent::Wait && e.ms == 50; })),
                     c.waits);
            const Bytes subs = log.requestBytes(sim::Match('L'), 2, mark);
            QCOMPARE(Bytes(subs.begin(), subs.begin() + 2),
                     Bytes({2, 5})); // take the display, clear it
            if (c.exchanges == 2)
                continue;
            QCOMPARE(subs.back(), std::uint8_t(3)); // give it back
            QCOMPARE(QString::fromStdString(rig.device->lcdLine(0)), u("TALMO               "));
            QCOMPARE(QString::fromStdString(rig.device->lcdLine(1)), u("MODE USB            "));
            QVERIFY(!rig.device->lcdHeldByUsb());
        }
    }

    void buttons() {
        Rig rig;
        rig.show();
        rig.click(kCtlProgrammerButton);
        QCOMPARE(rig.shell.programmerShown, 1);
        QTest::mouseClick(rig.page->control<QPushButton>(kWebSiteButton), Qt::LeftButton);
        QCOMPARE(rig.shell.webOpened, 1);
        QVERIFY(!rig.page->autoUpdateTicked());
        rig.page->control<QCheckBox>(kCtlAutoBox)->click();
        QVERIFY(rig.page->autoUpdateTicked());
        // The motors, twice: the question, then the switch to the other state.
        for (const bool on : {true, false}) {
            const std::size_t mark = rig.log().size();
            rig.click(kCtlMotorButton);
            QCOMPARE(rig.machine().motorsOn, on);
            QCOMPARE(rig.log().requestBytes(sim::Match('M'), 2, mark),
                     Bytes({2, std::uint8_t(on ? 1 : 0)}));
        }
        // Without an answer to the question, nothing is switched.
        rig.device->faults().silentAt = rig.device->nextExchange();
        std::size_t mark = rig.log().size();
        rig.click(kCtlMotorButton);
        QCOMPARE(rig.log().size() - mark, std::size_t(1));
        QVERIFY(!rig.machine().motorsOn);
        // "Mise à jour": the jump report alone, no answer awaited.
        mark = rig.log().size();
        rig.click(kCtlUpdateButton);
        QCOMPARE(rig.log().size() - mark, std::size_t(1));
        QVERIFY(!rig.log().entries().back().answer);
        QVERIFY(rig.device->mode() == sim::Talmo::Mode::BootLoader);
        QVERIFY(rig.ui.boxes().empty());
    }
};

QTEST_MAIN(ConsolePageTest)
#include "test_console_page.moc"
