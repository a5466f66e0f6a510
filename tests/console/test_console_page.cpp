// The console page on the device emulator: what showing it asks and shows,
// the status poll, and the user's commands.
#include "console/console_page.h"

#include "link/sim_backend.h"
#include "resources/pictures.h"
#include "shell/scripted_ui.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include <functional>
#include <map>
#include <memory>

using namespace talmo;

namespace {

class FakeShell : public Shell {
public:
    void showProgrammerPage() override { ++programmerShown; }
    void returnToConsolePage() override {}
    const QPixmap& picture(int id) const override {
        auto it = pictures_.find(id);
        if (it == pictures_.end())
            it = pictures_.emplace(id, loadPicture(id)).first;
        return it->second;
    }
    bool autoUpdateTicked() const override { return false; }
    std::string& firmwarePath() override { return path_; }
    void openWebSite() override { ++webOpened; }

    int programmerShown = 0;
    int webOpened = 0;

private:
    mutable std::map<int, QPixmap> pictures_;
    std::string path_ = "./talmo.hex";
};

// A console page on a virtual TALMO.
struct Rig {
    VirtualClock clock;
    ScriptedUi ui{&clock};
    sim::VirtualUsb bus{clock};
    SimBackend backend{bus};
    sim::Talmo* device = nullptr;
    DeviceLink link;
    FakeShell shell;
    AppContext context;
    std::unique_ptr<ConsolePage> page;

    explicit Rig(const std::function<void(sim::Talmo&)>& setUp = {}) {
        auto d = std::make_unique<sim::Talmo>();
        device = d.get();
        if (setUp)
            setUp(*device);
        backend.plug(std::move(d));
        link.backend = &backend;
        link.ui = &ui;
        OpenDevice(link);
        context.link = &link;
        context.ui = &ui;
        context.shell = &shell;
        page = std::make_unique<ConsolePage>(context, nullptr);
        page->show();
    }

    // Shows the page the way the main window does; the log index before it.
    std::size_t show() {
        std::size_t mark = device->log().size();
        page->pageShown();
        return mark;
    }
    std::size_t poll() {
        std::size_t mark = device->log().size();
        page->pollStatus();
        return mark;
    }

    QString text(int id) const {
        if (auto* l = page->control<QLabel>(id))
            return l->text();
        if (auto* e = page->control<QLineEdit>(id))
            return e->text();
        if (auto* b = page->control<QPushButton>(id))
            return b->text();
        return QStringLiteral("<missing %1>").arg(id);
    }
    int picture(int id) const {
        QWidget* w = page->control(id);
        return w ? w->property("picture").toInt() : -1;
    }
    QSlider* slider(int id) const { return page->control<QSlider>(id); }
    QLineEdit* edit() const { return page->control<QLineEdit>(kCtlInputLevelEdit); }
    void click(int id) { QTest::mouseClick(page->control<QPushButton>(id), Qt::LeftButton); }

    // Byte 3 of every second 'P' request (the value sent) since mark.
    std::vector<int> pwmSent(std::size_t mark) const {
        std::vector<int> out;
        for (auto b : device->log().requestBytes(sim::Match('P').byte(2, 1), 3, mark))
            out.push_back(b);
        return out;
    }
    std::vector<UiEvent> waits() const {
        std::vector<UiEvent> out;
        for (const UiEvent& e : ui.events())
            if (e.kind == UiEvent::Wait)
                out.push_back(e);
        return out;
    }
};

QString u(const char* s) { return QString::fromUtf8(s); }

} // namespace

class ConsolePageTest : public QObject {
    Q_OBJECT
private slots:
    void layoutBeforeTheDeviceAnswers();
    void startSequenceTexts();
    void tooOldFirmwareGoesToTheBootLoader();
    void versionWithoutAnswerIsNotJudged();
    void tableWithoutAnswerKeepsItsTexts();
    void flashWithoutAnswerKeepsItsTexts();
    void pollShowsEachMachineState();
    void pollWithoutAnswerChangesNothing();
    void unchangedAnswerIsNotRedrawn();
    void hidingStopsThePollAndShowingRedrawsInFull();
    void focusedControlsAreNotOverwritten();
    void focusLossRefreshesTheEdit();
    void sliderSendsThePwmLevel();
    void editSendsThePwmLevel();
    void pollWriteOfTheEditIsSentBack();
    void motorToggleTwice();
    void lcdTest();
    void lcdTestSkipsAheadWhenTheLcdStopsAnswering();
    void buttons();
};

void ConsolePageTest::layoutBeforeTheDeviceAnswers() {
    Rig rig;
    const std::pair<int, const char*> texts[] = {
        {kCtlVersionText, "TALMO Vx.yz"}, {kCtlTableText, "-"},        {kCtlFrequencyText, "- kHz"},
        {kCtlUpdateButton, "Mise à jour"}, {kCtlProgrammerButton, "Màj VELKOR"},
        {kCtlFlashMakerText, "Non détecté"}, {kCtlFlashTypeText, "Non détecté"},
        {kCtlFlashSizeText, "Non détecté"}, {kCtlFlashProtectText, "Non détecté"},
        {kCtlFlashFilesText, "0"},          {kCtlFlashDetailsButton, "Détails"},
        {kCtlPwmMaxText, "- %"},            {kCtlIo1Text, "-"},         {kCtlStartProtectText, "OFF"},
        {kCtlLcdTestButton, "Test"},        {kCtlKeypadMissingText, " Clavier\n   non\ndétecté"},
        {kCtlAutoOnOffText, "-"},           {kCtlAxesText, "-,-,-,-,-"}, {kCtlAccelText, "-"},
        {kCtlMovesButton, "Déplacements"},  {kCtlContactsText, "-"},
    };
    for (auto [id, text] : texts)
        QCOMPARE(rig.text(id), u(text));

    // Disabled and hidden controls.
    const std::pair<int, bool> enabled[] = {
        {kCtlFlashDetailsButton, false}, {kCtlMovesButton, false}, {kCtlSignalInvertedBox, false},
        {kCtlInputLevel2Slider, false},  {kCtlOutputLevelSlider, false}, {kCtlInputLevelSlider, true},
        {kCtlInputLevelEdit, true},      {kCtlAutoBox, true},         {kCtlMotorButton, true},
    };
    for (auto [id, on] : enabled)
        QVERIFY2(rig.page->control(id)->isEnabled() == on, qPrintable(QString::number(id)));
    QVERIFY(rig.page->control(kCtlMovesButton)->isHidden());
    QVERIFY(rig.page->control(kCtlKeypadMissingText)->isHidden());
    QVERIFY(rig.page->control<QLineEdit>(kCtlInputLevel2Edit)->isReadOnly());
    QVERIFY(rig.page->control<QLineEdit>(kCtlOutputLevelEdit)->isReadOnly());
    for (int id : {kCtlInputLevel2Slider, kCtlInputLevelSlider, kCtlOutputLevelSlider}) {
        QCOMPARE(rig.slider(id)->minimum(), 0);
        QCOMPARE(rig.slider(id)->maximum(), 100);
        QCOMPARE(rig.slider(id)->tickInterval(), 25);
    }
    // Template pictures until the first status answer.
    QCOMPARE(rig.picture(kCtlInputModePicture), 140);
    QCOMPARE(rig.picture(kCtlOutputSwitchPicture), 166);
    QCOMPARE(rig.picture(kCtlStopPicture), 148);
    QCOMPARE(rig.picture(kCtlKeyUp), 152);
    QCOMPARE(rig.picture(kCtlKeyOk), 155);
    QCOMPARE(rig.picture(kCtlProbePicture), 163);

    QStringList groups;
    for (auto* g : rig.page->findChildren<QGroupBox*>())
        groups << g->title();
    groups.sort();
    QCOMPARE(groups, QStringList({u("Arrêts"), u("Clavier"), u("Entrée PWM"), u("Flash"), u("LCD"),
                                  u("Moteurs"), u("Sortie PWM"), u("TALMO")}));
    // Nothing was sent before the page was shown.
    QCOMPARE(rig.device->log().size(), std::size_t(0));
    QVERIFY(!rig.page->polling());
}

void ConsolePageTest::startSequenceTexts() {
    struct Case {
        const char* name;
        std::function<void(sim::Talmo&)> setUp;
        std::map<int, const char*> texts;
        bool inverted;
    };
    const Case cases[] = {
        {"emulator defaults", {},
         {{kCtlVersionText, "TALMO V0.23"}, {kCtlFlashMakerText, "AMIC"}, {kCtlFlashTypeText, "0x30"},
          {kCtlFlashSizeText, "2 Mo (16 Mbit)"}, {kCtlFlashProtectText, "Non"},
          {kCtlTableText, "FRAISE3A"}, {kCtlAxesText, "X ,Y ,Z ,--,--"}, {kCtlPwmMaxText, "100 %"},
          {kCtlAccelText, "10"}, {kCtlFrequencyText, "250kHz"}, {kCtlContactsText, "Actifs"},
          {kCtlAutoOnOffText, "Désactivé"}},
         false},
        {"plain flash code, other table",
         [](sim::Talmo& t) {
             t.setFirmwareVersion("TALMO V0.22");
             t.flash() = {0xC2, 0x20, 24, 1};
             t.table().name = "TOUR";
             t.table().axes = {17, 0, 0, 0, 50};
             t.table().frequency = 12;
             t.table().acceleration = 3;
             t.table().pwmMax = 128;
             t.table().offTimeS = 3;
             t.table().flags = 0x04;
         },
         {{kCtlVersionText, "TALMO V0.22"}, {kCtlFlashMakerText, "0xC2"}, {kCtlFlashTypeText, "0x20"},
          {kCtlFlashSizeText, "16 Mo (128 Mbit)"}, {kCtlFlashProtectText, "Oui"},
          {kCtlTableText, "TOUR"}, {kCtlAxesText, "B ,--,--,--,W "}, {kCtlPwmMaxText, " 50 %"},
          {kCtlAccelText, "3"}, {kCtlFrequencyText, "120kHz"}, {kCtlContactsText, "Inactifs"},
          {kCtlAutoOnOffText, "on=0.5s, off=3s"}},
         true},
        {"no flash chip, unknown axes",
         [](sim::Talmo& t) {
             t.flash().manufacturer = 0xFF;
             t.table().axes = {35, 7, 200, 16, 49};
         },
         {{kCtlFlashMakerText, "Non détecté"}, {kCtlFlashTypeText, "Non détecté"},
          {kCtlFlashSizeText, "Non détecté"}, {kCtlFlashProtectText, "Non détecté"},
          {kCtlAxesText, "RZ,--,--,A ,V "}},
         false},
    };
    for (const Case& c : cases) {
        Rig rig(c.setUp);
        const std::size_t mark = rig.show();
        for (auto [id, text] : c.texts)
            QVERIFY2(rig.text(id) == u(text),
                     qPrintable(QStringLiteral("%1: %2 shows '%3'").arg(c.name).arg(id).arg(rig.text(id))));
        QCOMPARE(rig.page->control<QCheckBox>(kCtlSignalInvertedBox)->isChecked(), c.inverted);
        // The requests, in order.
        std::string letters;
        for (std::size_t i = mark; i < rig.device->log().size(); ++i)
            letters.push_back(static_cast<char>(rig.device->log().entries()[i].request[1]));
        QCOMPARE(QString::fromStdString(letters), QStringLiteral("BVFTT"));
        const auto& e = rig.device->log().entries();
        QCOMPARE(int(e[mark].request[2]), 0);
        QCOMPARE(int(e[mark + 3].request[2]), 0);
        QCOMPARE(int(e[mark + 4].request[2]), 3);
        QVERIFY(rig.page->polling());
        QVERIFY(rig.ui.boxes().empty());
    }
}

void ConsolePageTest::tooOldFirmwareGoesToTheBootLoader() {
    Rig rig([](sim::Talmo& t) { t.setFirmwareVersion("TALMO V0.21"); });
    const std::size_t mark = rig.show();
    const auto boxes = rig.ui.boxes();
    QCOMPARE(boxes.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(boxes[0].text),
             u("La version du firmware d'TALMO est trop ancienne.\nVersion minimum: 0.22"));
    QCOMPARE(QString::fromStdString(boxes[0].caption), u("Version TALMO"));
    QVERIFY(boxes[0].icon == Icon::Error);
    QVERIFY(boxes[0].buttons == Buttons::Ok);
    // The jump report, and nothing after it.
    const auto& log = rig.device->log();
    QCOMPARE(log.size() - mark, std::size_t(3));
    const auto& jump = log.entries().back();
    QCOMPARE(int(jump.request[1]), int('Z'));
    QCOMPARE(int(jump.request[2]), int('U'));
    QCOMPARE(int(jump.request[3]), 0xAA);
    QCOMPARE(int(jump.request[4]), 1);
    QVERIFY(rig.device->mode() == sim::Talmo::Mode::BootLoader);
    QVERIFY(!rig.page->polling());
    QCOMPARE(rig.text(kCtlVersionText), u("TALMO V0.21"));
    QCOMPARE(rig.text(kCtlFlashMakerText), u("Non détecté"));
}

void ConsolePageTest::versionWithoutAnswerIsNotJudged() {
    Rig rig;
    rig.device->faults().silentAt = rig.device->nextExchange() + 1; // the 'V'
    rig.show();
    QVERIFY(rig.ui.boxes().empty());
    QVERIFY(rig.device->mode() == sim::Talmo::Mode::Normal);
    QCOMPARE(rig.device->log().count('Z'), std::size_t(0));
    QCOMPARE(rig.text(kCtlVersionText), u("TALMO Vx.yz"));
    QCOMPARE(rig.text(kCtlFlashMakerText), u("AMIC"));
    QCOMPARE(rig.text(kCtlTableText), u("FRAISE3A"));
    QVERIFY(rig.page->polling());
}

void ConsolePageTest::tableWithoutAnswerKeepsItsTexts() {
    Rig rig;
    rig.device->faults().silentAt = rig.device->nextExchange() + 4; // the second 'T'
    rig.show();
    const std::pair<int, const char*> initial[] = {
        {kCtlTableText, "-"},    {kCtlAxesText, "-,-,-,-,-"}, {kCtlPwmMaxText, "- %"},
        {kCtlAccelText, "-"},    {kCtlContactsText, "-"},     {kCtlAutoOnOffText, "-"},
        {kCtlFrequencyText, "- kHz"}};
    for (auto [id, text] : initial)
        QVERIFY2(rig.text(id) == u(text), qPrintable(rig.text(id)));
    QVERIFY(!rig.page->control<QCheckBox>(kCtlSignalInvertedBox)->isChecked());
    QVERIFY(rig.page->polling());

    // Shown again: the texts of the last answer stay when one is missing.
    rig.page->pageHidden();
    rig.show();
    QCOMPARE(rig.text(kCtlTableText), u("FRAISE3A"));
    rig.device->table().name = "AUTRE";
    rig.device->faults().silentAt = rig.device->nextExchange() + 4;
    rig.page->pageHidden();
    rig.show();
    QCOMPARE(rig.text(kCtlTableText), u("FRAISE3A"));
}

void ConsolePageTest::flashWithoutAnswerKeepsItsTexts() {
    Rig rig;
    rig.show();
    QCOMPARE(rig.text(kCtlFlashMakerText), u("AMIC"));
    rig.device->flash() = {0x1F, 0x44, 22, 1};
    rig.device->faults().silentAt = rig.device->nextExchange() + 2; // the 'F'
    rig.page->pageHidden();
    rig.show();
    QCOMPARE(rig.text(kCtlFlashMakerText), u("AMIC"));
    QCOMPARE(rig.text(kCtlFlashSizeText), u("2 Mo (16 Mbit)"));
    // A wrong letter in the answer counts as none.
    rig.device->faults().wrongEchoAt = rig.device->nextExchange() + 2;
    rig.page->pageHidden();
    rig.show();
    QCOMPARE(rig.text(kCtlFlashMakerText), u("AMIC"));
    rig.page->pageHidden();
    rig.show();
    QCOMPARE(rig.text(kCtlFlashMakerText), u("0x1F"));
    QCOMPARE(rig.text(kCtlFlashSizeText), u("4 Mo (32 Mbit)"));
    QCOMPARE(rig.text(kCtlFlashProtectText), u("Oui"));
}

void ConsolePageTest::pollShowsEachMachineState() {
    // Every bit's own decoding is covered by the core's tests; here each
    // picture, text and position must reach its control.
    struct Case {
        const char* name;
        std::function<void(sim::Machine&)> change;
        std::map<int, int> pictures;
        std::map<int, const char*> texts;
    };
    const Case cases[] = {
        {"idle",
         [](sim::Machine& m) {
             m.limitSwitchesOpen = false;
             m.probesOpen = false;
         },
         {{1012, 150}, {1008, 166}, {1007, 140}, {1023, 152}, {1024, 152}, {1019, 152}, {1022, 152},
          {1020, 155}, {1026, 155}, {1035, 162}, {1036, 162}, {1014, 167}},
         {{1017, "0"}, {1010, "OFF"}}},
        {"everything on, automatic output",
         [](sim::Machine& m) {
             m.motorsOn = m.io1 = m.stopProg = m.outputOff = true;
             m.keys = sim::KeyLeft | sim::KeyUp | sim::KeyOk;
             m.pwmLevel = 128;
             m.pwmInput = 255;
         },
         {{1014, 166}, {1012, 148}, {1008, 167}, {1007, 140}, {1035, 163}, {1036, 163}, {1023, 153},
          {1024, 152}, {1019, 153}, {1022, 152}, {1020, 155}, {1026, 157}},
         {{1017, "1"}, {1010, "ON"}, {1009, " 50"}, {1005, "100"}, {1006, " 50"}}},
        {"other keys, manual output",
         [](sim::Machine& m) {
             m.keys = sim::KeyDown | sim::KeyRight | sim::KeyEsc;
             m.manual = true;
             m.pwmLevel = 128;
             m.pwmInput = 255;
         },
         {{1023, 152}, {1024, 153}, {1019, 152}, {1022, 153}, {1020, 157}, {1026, 155}, {1007, 141}},
         {{1009, "100"}, {1010, "OFF"}}},
        {"output not driven",
         [](sim::Machine& m) {
             m.outputEnabled = false;
             m.manual = true;
             m.pwmInput = 255;
         },
         {}, {{1009, "0"}, {1010, "ON"}}},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.show();
        c.change(rig.device->machine());
        rig.poll();
        QCOMPARE(rig.page->displayedAnswers(), 1);
        for (auto [id, picture] : c.pictures)
            QVERIFY2(rig.picture(id) == picture,
                     qPrintable(QStringLiteral("%1: %2 shows %3").arg(c.name).arg(id).arg(rig.picture(id))));
        for (auto [id, text] : c.texts)
            QVERIFY2(rig.text(id) == u(text),
                     qPrintable(QStringLiteral("%1: %2 shows '%3'").arg(c.name).arg(id).arg(rig.text(id))));
        QVERIFY(rig.page->control(kCtlKeypadMissingText)->isHidden());
        const auto* l = rig.page->control<QLabel>(kCtlStopPicture);
        QVERIFY(!l->pixmap().isNull());
    }

    // Positions of the three sliders, and the keypad notice.
    Rig rig;
    rig.show();
    auto& m = rig.device->machine();
    m.pwmLevel = 255;
    m.pwmInput = 128;
    m.manual = true;
    m.keypadAbsent = true;
    rig.poll();
    QCOMPARE(rig.slider(kCtlInputLevelSlider)->value(), 100);
    QCOMPARE(rig.slider(kCtlInputLevel2Slider)->value(), 50);
    QCOMPARE(rig.slider(kCtlOutputLevelSlider)->value(), 50);
    QVERIFY(!rig.page->control(kCtlKeypadMissingText)->isHidden());
    m.outputEnabled = false;
    m.keypadAbsent = false;
    rig.poll();
    QCOMPARE(rig.slider(kCtlOutputLevelSlider)->value(), 0);
    QVERIFY(rig.page->control(kCtlKeypadMissingText)->isHidden());
}

void ConsolePageTest::pollWithoutAnswerChangesNothing() {
    Rig rig;
    rig.show();
    rig.device->machine().motorsOn = true;
    rig.poll();
    QCOMPARE(rig.picture(kCtlMotorButton), 166);
    rig.device->machine().motorsOn = false;
    rig.device->faults().silentAt = rig.device->nextExchange();
    const std::int64_t before = rig.clock.nowMs();
    rig.poll();
    QVERIFY(rig.clock.nowMs() - before >= 500); // waited out the time-out
    QCOMPARE(rig.picture(kCtlMotorButton), 166);
    QCOMPARE(rig.page->displayedAnswers(), 1);
    // A wrong answer letter is no answer either.
    rig.device->faults().wrongEchoAt = rig.device->nextExchange();
    rig.poll();
    QCOMPARE(rig.page->displayedAnswers(), 1);
    rig.poll();
    QCOMPARE(rig.picture(kCtlMotorButton), 167);
    QCOMPARE(rig.page->displayedAnswers(), 2);
}

void ConsolePageTest::unchangedAnswerIsNotRedrawn() {
    Rig rig;
    rig.show();
    rig.device->machine().pwmLevel = 128;
    rig.poll();
    QCOMPARE(rig.page->displayedAnswers(), 1);
    QCOMPARE(rig.edit()->text(), u(" 50"));

    // The user types while the machine stays the same.
    QTest::keyClick(rig.edit(), Qt::Key_Backspace);
    QTest::keyClick(rig.edit(), Qt::Key_Backspace);
    QTest::keyClicks(rig.edit(), "7");
    QCOMPARE(rig.edit()->text(), u(" 7"));
    rig.device->machine().pwmLevel = 128; // the typing reached the device; put it back
    rig.page->control<QLabel>(kCtlIo1Text)->setText(u("x"));
    const std::size_t mark = rig.poll();
    QCOMPARE(rig.device->log().size() - mark, std::size_t(1)); // the 'I' alone
    QCOMPARE(rig.page->displayedAnswers(), 1);
    QCOMPARE(rig.edit()->text(), u(" 7"));
    QCOMPARE(rig.text(kCtlIo1Text), u("x"));
    // Any byte of the answer that differs brings the display up to date.
    rig.device->machine().io1 = true;
    rig.poll();
    QCOMPARE(rig.page->displayedAnswers(), 2);
    QCOMPARE(rig.text(kCtlIo1Text), u("1"));
    QCOMPARE(rig.edit()->text(), u(" 50"));
}

void ConsolePageTest::hidingStopsThePollAndShowingRedrawsInFull() {
    Rig rig;
    rig.show();
    QVERIFY(rig.page->polling());
    rig.poll();
    QCOMPARE(rig.page->displayedAnswers(), 1);
    rig.page->pageHidden();
    QVERIFY(!rig.page->polling());
    rig.page->control<QLabel>(kCtlIo1Text)->setText(u("x"));
    rig.show();
    QVERIFY(rig.page->polling());
    rig.poll(); // the same answer as before
    QCOMPARE(rig.page->displayedAnswers(), 2);
    QCOMPARE(rig.text(kCtlIo1Text), u("0"));
    rig.poll();
    QCOMPARE(rig.page->displayedAnswers(), 2);

    // The timer itself runs the poll.
    const std::size_t mark = rig.device->log().size();
    QTRY_VERIFY_WITH_TIMEOUT(rig.device->log().count('I', mark) >= 2, 2000);
    rig.page->pageHidden();
    const std::size_t stopped = rig.device->log().size();
    QTest::qWait(150);
    QCOMPARE(rig.device->log().size(), stopped);
}

void ConsolePageTest::focusedControlsAreNotOverwritten() {
    Rig rig;
    rig.page->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.page.get()));
    rig.show();
    rig.poll();
    QCOMPARE(rig.edit()->text(), u("  0"));

    rig.edit()->setFocus();
    QVERIFY(rig.edit()->hasFocus());
    rig.device->machine().pwmLevel = 255;
    rig.poll();
    QCOMPARE(rig.page->displayedAnswers(), 2);
    QCOMPARE(rig.edit()->text(), u("  0"));                 // focused: left alone
    QCOMPARE(rig.slider(kCtlInputLevelSlider)->value(), 100); // not focused: follows

    rig.slider(kCtlInputLevelSlider)->setFocus();
    QVERIFY(rig.slider(kCtlInputLevelSlider)->hasFocus());
    rig.device->machine().pwmLevel = 128;
    rig.poll();
    QCOMPARE(rig.slider(kCtlInputLevelSlider)->value(), 100);
    QCOMPARE(rig.edit()->text(), u(" 50"));
}

void ConsolePageTest::focusLossRefreshesTheEdit() {
    Rig rig;
    rig.page->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(rig.page.get()));
    rig.show();
    rig.edit()->setFocus();
    QVERIFY(rig.edit()->hasFocus());
    rig.device->machine().pwmLevel = 253; // shown as 99
    const std::size_t mark = rig.device->log().size();
    rig.slider(kCtlInputLevelSlider)->setFocus();
    QCOMPARE(rig.edit()->text(), u(" 99"));
    // The refresh: 'I' without clearing the buffer, then the shown value sent back.
    const auto& e = rig.device->log().entries();
    QVERIFY(e.size() >= mark + 3);
    QCOMPARE(int(e[mark].request[1]), int('I'));
    QCOMPARE(int(e[mark].request[4]), int('F')); // left over from the 'T' answer ("FRAISE3A")
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({253}));
    QCOMPARE(int(rig.device->machine().pwmLevel), 253);
}

void ConsolePageTest::sliderSendsThePwmLevel() {
    const std::pair<int, int> cases[] = {{0, 0}, {1, 3}, {50, 128}, {99, 253}, {100, 255}};
    Rig rig;
    rig.show();
    for (auto [position, value] : cases) {
        QSlider* s = rig.slider(kCtlInputLevelSlider);
        {
            const QSignalBlocker block(s);
            s->setValue(position == 50 ? 10 : 50);
        }
        const std::size_t mark = rig.device->log().size();
        s->setSliderPosition(position); // a drag's move
        QCOMPARE(rig.pwmSent(mark), std::vector<int>({value}));
        QCOMPARE(int(rig.device->machine().pwmLevel), value);
        QCOMPARE(rig.device->log().count(sim::Match('P').byte(2, 2), mark), std::size_t(1));
    }
    // Keyboard steps and the end of a drag send too; the display-only slider doesn't.
    QSlider* s = rig.slider(kCtlInputLevelSlider);
    std::size_t mark = rig.device->log().size();
    s->setFocus();
    QTest::keyClick(s, Qt::Key_Left);
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({253}));
    mark = rig.device->log().size();
    emit s->sliderReleased();
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({253}));
    mark = rig.device->log().size();
    rig.slider(kCtlInputLevel2Slider)->setSliderPosition(30);
    QCOMPARE(rig.device->log().size(), mark);

    // An unanswered first 'P' ends the command: no second request.
    rig.device->faults().silentAt = rig.device->nextExchange();
    mark = rig.device->log().size();
    s->setSliderPosition(20);
    QCOMPARE(rig.device->log().size() - mark, std::size_t(1));
    QCOMPARE(int(rig.device->machine().pwmLevel), 253);
}

void ConsolePageTest::editSendsThePwmLevel() {
    Rig rig;
    rig.show();
    std::size_t mark = rig.device->log().size();
    QTest::keyClicks(rig.edit(), "150");
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({3, 39, 255}));
    QCOMPARE(rig.device->log().count(sim::Match('P').byte(2, 2), mark), std::size_t(3));
    // Letters are refused by the edit.
    mark = rig.device->log().size();
    QTest::keyClicks(rig.edit(), "a");
    QCOMPARE(rig.edit()->text(), u("150"));
    QCOMPARE(rig.device->log().size(), mark);
    // Emptying it sends 0.
    rig.edit()->selectAll();
    QTest::keyClick(rig.edit(), Qt::Key_Delete);
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({0}));
    QCOMPARE(int(rig.device->machine().pwmLevel), 0);
    // Each keystroke: 5 -> 13, 50 -> 128, 99 -> 253.
    mark = rig.device->log().size();
    QTest::keyClicks(rig.edit(), "50");
    rig.edit()->clear();
    QTest::keyClicks(rig.edit(), "99");
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({13, 128, 0, 23, 253}));
}

void ConsolePageTest::pollWriteOfTheEditIsSentBack() {
    Rig rig;
    rig.show();
    rig.device->machine().pwmLevel = 128;
    std::size_t mark = rig.poll();
    QCOMPARE(rig.edit()->text(), u(" 50"));
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({128}));
    // A level that doesn't survive the round trip settles on the next one.
    rig.device->machine().pwmLevel = 1;
    mark = rig.poll();
    QCOMPARE(rig.edit()->text(), u("  0"));
    QCOMPARE(rig.pwmSent(mark), std::vector<int>({0}));
    QCOMPARE(int(rig.device->machine().pwmLevel), 0);
    // The rest of the answer was still shown after the exchanges of the edit.
    rig.device->machine().pwmLevel = 200;
    rig.device->machine().motorsOn = true;
    rig.device->machine().keys = sim::KeyOk;
    rig.poll();
    QCOMPARE(rig.picture(kCtlMotorButton), 166);
    QCOMPARE(rig.picture(kCtlKeyOk), 157);
    QCOMPARE(rig.slider(kCtlInputLevelSlider)->value(), 78);
}

void ConsolePageTest::motorToggleTwice() {
    Rig rig;
    rig.show();
    QVERIFY(!rig.device->machine().motorsOn);
    std::size_t mark = rig.device->log().size();
    rig.click(kCtlMotorButton);
    QVERIFY(rig.device->machine().motorsOn);
    QCOMPARE(rig.device->log().requestBytes(sim::Match('M'), 2, mark), std::vector<std::uint8_t>({2, 1}));
    rig.poll();
    QCOMPARE(rig.picture(kCtlMotorButton), 166);
    mark = rig.device->log().size();
    rig.click(kCtlMotorButton);
    QVERIFY(!rig.device->machine().motorsOn);
    QCOMPARE(rig.device->log().requestBytes(sim::Match('M'), 2, mark), std::vector<std::uint8_t>({2, 0}));
    rig.poll();
    QCOMPARE(rig.picture(kCtlMotorButton), 167);
    // Without an answer to the question, nothing is switched.
    rig.device->faults().silentAt = rig.device->nextExchange();
    mark = rig.device->log().size();
    rig.click(kCtlMotorButton);
    QCOMPARE(rig.device->log().size() - mark, std::size_t(1));
    QVERIFY(!rig.device->machine().motorsOn);
}

void ConsolePageTest::lcdTest() {
    Rig rig;
    rig.show();
    const std::size_t mark = rig.device->log().size();
    const std::int64_t start = rig.clock.nowMs();
    rig.click(kCtlLcdTestButton);
    QCOMPARE(QString::fromStdString(rig.device->lcdLine(0)), u("TALMO               "));
    QCOMPARE(QString::fromStdString(rig.device->lcdLine(1)), u("MODE USB            "));
    QVERIFY(!rig.device->lcdHeldByUsb());
    const auto& log = rig.device->log();
    QCOMPARE(log.count('L', mark), std::size_t(2 + 40 + 40 + 2 + 1));
    QCOMPARE(log.count(sim::Match('L').byte(2, 0).byte(5, 0xFF), mark), std::size_t(20));
    QCOMPARE(log.count(sim::Match('L').byte(2, 1).byte(5, 0xFF), mark), std::size_t(20));
    QCOMPARE(log.count(sim::Match('L').byte(2, 1).byte(5, ' ').byte(4, 1), mark), std::size_t(20));
    const auto subs = log.requestBytes(sim::Match('L'), 2, mark);
    QCOMPARE(int(subs.front()), 2);
    QCOMPARE(int(subs[1]), 5);
    QCOMPARE(int(subs.back()), 3);
    const auto waits = rig.waits();
    QCOMPARE(waits.size(), std::size_t(40));
    for (const UiEvent& w : waits)
        QCOMPARE(w.ms, 50);
    QVERIFY(rig.clock.nowMs() - start >= 2000);
}

void ConsolePageTest::lcdTestSkipsAheadWhenTheLcdStopsAnswering() {
    Rig rig;
    rig.show();
    const std::size_t mark = rig.device->log().size();
    // Set-up (2 exchanges), then columns 0..4 of the fill (10), then line 0 of column 5.
    rig.device->faults().silentAt = rig.device->nextExchange() + 2 + 10;
    rig.click(kCtlLcdTestButton);
    const auto& log = rig.device->log();
    QCOMPARE(log.count(sim::Match('L').byte(5, 0xFF).byte(4, 1), mark), std::size_t(11));
    QCOMPARE(log.count(sim::Match('L').byte(5, ' ').byte(4, 1), mark), std::size_t(40));
    QCOMPARE(rig.waits().size(), std::size_t(5 + 20));
    QCOMPARE(QString::fromStdString(rig.device->lcdLine(0)), u("TALMO               "));
    QCOMPARE(QString::fromStdString(rig.device->lcdLine(1)), u("MODE USB            "));

    // Silent during the set-up: nothing more is sent.
    rig.device->faults().silentAt = rig.device->nextExchange() + 1;
    const std::size_t mark2 = log.size();
    rig.click(kCtlLcdTestButton);
    QCOMPARE(log.size() - mark2, std::size_t(2));
}

void ConsolePageTest::buttons() {
    {
        Rig rig;
        rig.show();
        rig.click(kCtlProgrammerButton);
        QCOMPARE(rig.shell.programmerShown, 1);
        QTest::mouseClick(rig.page->control<QPushButton>(kWebSiteButton), Qt::LeftButton);
        QCOMPARE(rig.shell.webOpened, 1);
        QVERIFY(!rig.page->autoUpdateTicked());
        rig.page->control<QCheckBox>(kCtlAutoBox)->click();
        QVERIFY(rig.page->autoUpdateTicked());
        QVERIFY(rig.device->mode() == sim::Talmo::Mode::Normal);
    }
    {
        Rig rig;
        rig.show();
        const std::size_t mark = rig.device->log().size();
        rig.click(kCtlUpdateButton);
        QCOMPARE(rig.device->log().size() - mark, std::size_t(1));
        const auto& jump = rig.device->log().entries().back();
        QCOMPARE(int(jump.request[1]), int('Z'));
        QCOMPARE(int(jump.request[2]), int('U'));
        QCOMPARE(int(jump.request[3]), 0xAA);
        QCOMPARE(int(jump.request[4]), 1);
        QVERIFY(!jump.answer);
        QVERIFY(rig.device->mode() == sim::Talmo::Mode::BootLoader);
        QVERIFY(rig.ui.boxes().empty());
    }
}

QTEST_MAIN(ConsolePageTest)
#include "test_console_page.moc"
