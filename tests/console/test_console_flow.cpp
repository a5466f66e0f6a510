// The console's flow on the device emulator, drawn on a recording view: the
// show sequence, the status poll and its period, and the user's commands.
#include "console/console_flow.h"

#include "tests/common/rig.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace talmo::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Shown = std::map<int, std::string>; // control: text, or picture/position number

// The page as a record of what the flow drew last on each control.
struct RecordingView : ConsoleView {
    Shown shown;
    std::map<int, bool> visible, checked;
    std::set<int> focused;
    void setText(int control, const std::string& text) override { shown[control] = text; }
    void setPicture(int control, int p) override { shown[control] = std::to_string(p); }
    void setPosition(int control, int p) override { shown[control] = std::to_string(p); }
    void setVisible(int control, bool v) override { visible[control] = v; }
    void setChecked(int control, bool c) override { checked[control] = c; }
    bool hasFocus(int control) override { return focused.count(control) != 0; }
};

struct FlowRig : Rig {
    RecordingView view;
    ConsoleState state;
    ConsoleContext c{link, ui, state, view};

    explicit FlowRig(const std::function<void(sim::Talmo&)>& setUp = {}) {
        if (setUp)
            setUp(*dev);
    }
    sim::ExchangeLog& log() { return dev->log(); }
    sim::Machine& machine() { return dev->machine(); }
    std::size_t show() {
        const std::size_t m = mark();
        ConsoleShown(c);
        return m;
    }
    // One period on, then the timer's tick.
    std::size_t poll() {
        const std::size_t m = mark();
        clock.sleepMs(kConsolePollPeriodMs);
        ConsoleTick(c);
        return m;
    }
    void expectShown(const char* name, const Shown& expected) {
        for (const auto& [control, text] : expected)
            EXPECT_EQ(view.shown[control], text) << name << ": control " << control;
    }
    Bytes pwmSent(std::size_t from) {
        return log().requestBytes(sim::Match('P').byte(2, 1), 3, from);
    }
};

// The texts the show sequence draws, in the page's order, joined by '|'.
std::string StartTexts(RecordingView& v) {
    std::string out;
    for (int id : {kCtlVersionText, kCtlFlashMakerText, kCtlFlashTypeText, kCtlFlashSizeText,
                   kCtlFlashProtectText, kCtlTableText, kCtlAxesText, kCtlPwmMaxText, kCtlAccelText,
                   kCtlFrequencyText, kCtlContactsText, kCtlAutoOnOffText})
        out.append(out.empty() ? "" : "|").append(v.shown.count(id) ? v.shown[id] : "-");
    return out;
}

// What the show sequence draws and sends, the poll started after it. A step
// that gets no answer (or a wrong letter) is neither judged nor shown: the
// fields keep what they showed (shown once before the device changed its
// flash and table), and the sequence goes on.
TEST(ConsoleFlow, ShowSequence) {
    struct Case {
        std::function<void(sim::Talmo&)> setUp;
        bool again;         // shown, hidden, the flash and table changed, shown again
        std::uint64_t step; // 0: no fault; 2: 'V', 3: 'F', 5: the second 'T'
        bool wrongLetter;
        std::string texts;
        bool inverted = false, tooOld = false; // too old: box, jump, no poll
    };
    const auto oldest = [](sim::Talmo& t) {
        t.setFirmwareVersion("TALMO V0.22");
        t.flash() = {0xC2, 0x20, 24, 0x80};
        t.table() = {"TOUR", {17, 0, 0, 0, 50}, 12, 3, 128, 3, 0x04};
    };
    const std::string tail = "|X ,Y ,Z ,--,--|100 %|10|250kHz|Actifs|Désactivé",
                      flash = "|AMIC|0x30|2 Mo (16 Mbit)|Non", v23 = "TALMO V0.23";
    const Case cases[] = {
        {{}, false, 0, false, v23 + flash + "|FRAISE3A" + tail},
        {oldest, false, 0, false,
         "TALMO V0.22|0xC2|0x20|16 Mo (128 Mbit)|Oui|TOUR|B ,--,--,--,W | 50 %|3|120kHz|"
         "Inactifs|on=0.5s, off=3s",
         true},
        {[](sim::Talmo& t) { t.setFirmwareVersion("TALMO V0.21"); }, false, 0, false,
         "TALMO V0.21|-|-|-|-|-|-|-|-|-|-|-", false, true},
        {{}, false, 2, false, "-" + flash + "|FRAISE3A" + tail},
        {{}, true, 3, false, v23 + flash + "|AUTRE" + tail},
        {{}, true, 3, true, v23 + flash + "|AUTRE" + tail},
        {{}, true, 5, false, v23 + "|0x1F|0x44|4 Mo (32 Mbit)|Oui|FRAISE3A" + tail},
    };
    const std::vector<std::string> box = {"Version TALMO: " + TooOldMessage()};
    for (const Case& k : cases) {
        FlowRig r(k.setUp);
        if (k.again) {
            r.show();
            ConsoleHidden(r.state);
            r.dev->flash() = {0x1F, 0x44, 22, 1};
            r.dev->table().name = "AUTRE";
        }
        if (k.step)
            (k.wrongLetter ? r.dev->faults().wrongEchoAt : r.dev->faults().silentAt) =
                r.next() + k.step - 1;
        std::string underBox;
        r.ui.onBox = [&] { underBox = StartTexts(r.view); };
        const std::size_t m = r.show();
        EXPECT_EQ(StartTexts(r.view), k.texts);
        EXPECT_EQ(r.view.checked[kCtlSignalInvertedBox], k.inverted) << k.texts;
        const Bytes letters = r.log().requestBytes(sim::Match(), 1, m);
        EXPECT_EQ(std::string(letters.begin(), letters.end()), k.tooOld ? "BVZ" : "BVFTT");
        EXPECT_EQ(r.log().requestBytes(sim::Match('T'), 2, m), k.tooOld ? Bytes() : Bytes({0, 3}));
        EXPECT_EQ(r.state.polling, !k.tooOld);
        EXPECT_EQ(r.state.status.tooOld, k.tooOld);
        EXPECT_EQ(r.dev->mode() == sim::Talmo::Mode::BootLoader, k.tooOld);
        EXPECT_EQ(r.ui.boxTexts(true), k.tooOld ? box : std::vector<std::string>{});
        for (const UiEvent& e : r.ui.boxes())
            EXPECT_EQ(e.icon, Icon::Error);
        EXPECT_EQ(underBox, k.tooOld ? k.texts : std::string()); // the version shown before the box
    }
}

// An answer is drawn only when it differs from the last one drawn; none,
// or one with a wrong letter, changes nothing. Hidden, the page is not
// polled; shown again, the next answer is drawn in full.
TEST(ConsoleFlow, OnlyAChangedAnswerIsRedrawn) {
    FlowRig r;
    r.show();
    r.machine().motorsOn = r.machine().keypadAbsent = true;
    r.poll();
    EXPECT_EQ(r.state.displayedAnswers, 1);
    EXPECT_TRUE(r.view.visible[kCtlKeypadMissingText]);
    EXPECT_TRUE(r.state.status.live->motorsOn);
    r.view.shown[kCtlIo1Text] = "x";
    const std::size_t m = r.poll();
    EXPECT_EQ(r.log().size() - m, 1u); // the 'I' alone
    r.machine().motorsOn = false;
    r.dev->faults().silentAt = r.next();
    r.dev->faults().wrongEchoAt = r.next() + 1;
    const std::int64_t before = r.clock.nowMs();
    r.poll();
    EXPECT_GE(r.clock.nowMs() - before, 500); // the time-out was waited out
    r.poll();
    EXPECT_EQ(r.state.displayedAnswers, 1);
    r.expectShown("unchanged", {{kCtlIo1Text, "x"}, {kCtlMotorButton, "166"}});
    r.poll();
    r.expectShown("changed", {{kCtlIo1Text, "0"}, {kCtlMotorButton, "167"}});

    ConsoleHidden(r.state);
    EXPECT_EQ(r.log().count('I', r.poll()), 0u);
    r.view.shown[kCtlIo1Text] = "x";
    r.show();
    r.poll();
    EXPECT_EQ(r.state.displayedAnswers, 3);
    EXPECT_EQ(r.view.shown[kCtlIo1Text], "0");
}

// The poll runs every 50 ms of the facade's clock from the show on, however
// often the timer ticks, on its beat after a slow answer, and one period
// after a stall.
TEST(ConsoleFlow, PollEveryFiftyMilliseconds) {
    FlowRig r;
    r.show();
    const std::int64_t shownUs = r.clock.nowUs();
    EXPECT_EQ(ConsoleNextPollMs(r.c), 50);
    const std::size_t m = r.mark();
    r.dev->faults().silentAt = r.next() + 4; // the fourth poll waits out its time-out
    for (int ms = 0; ms < 1000; ++ms) {
        ConsoleTick(r.c);
        r.clock.sleepMs(1);
    }
    std::vector<std::int64_t> at; // ms after the show
    for (const std::size_t i : r.log().indices(sim::Match('I'), m))
        at.push_back((r.log().entries()[i].timeUs - shownUs) / 1000);
    ASSERT_GE(at.size(), 10u);
    EXPECT_EQ(std::vector<std::int64_t>(at.begin(), at.begin() + 3),
              (std::vector<std::int64_t>{50, 100, 150}));
    EXPECT_GT(at[3], 600);       // logged at the end of its time-out
    EXPECT_LE(at[4] - at[3], 1); // then one poll at once, not the ones missed
    for (std::size_t i = 6; i < at.size(); ++i)
        EXPECT_EQ(at[i] - at[i - 1], 50) << i;
    const int next = ConsoleNextPollMs(r.c);
    EXPECT_TRUE(next > 0 && next <= 50) << next;
    ConsoleHidden(r.state);
    EXPECT_EQ(ConsoleNextPollMs(r.c), -1);
}

// The poll leaves a focused PWM control alone (and sends nothing for the
// edit); the edit losing the focus asks the level again ('I' without
// clearing the buffer) and sends it back.
TEST(ConsoleFlow, FocusRule) {
    FlowRig r;
    r.show();
    r.machine().pwmLevel = 253;
    std::size_t m = r.mark();
    ConsoleEditLeft(r.c);
    EXPECT_EQ(r.view.shown[kCtlInputLevelEdit], " 99");
    EXPECT_EQ(r.log().entries().at(m).request[1], 'I');
    EXPECT_EQ(r.log().entries().at(m).request[4], 'F'); // left from the table's answer
    EXPECT_EQ(r.pwmSent(m), Bytes({253}));

    r.view.focused = {kCtlInputLevelSlider};
    r.machine().pwmLevel = 128;
    m = r.poll();
    r.expectShown("slider focused", {{kCtlInputLevelEdit, " 50"}});
    EXPECT_EQ(r.view.shown.count(kCtlInputLevelSlider), 0u);
    EXPECT_EQ(r.pwmSent(m), Bytes({128})); // the poll's write of the edit goes out too
    r.view.focused = {kCtlInputLevelEdit};
    r.machine().pwmLevel = 255;
    m = r.poll();
    r.expectShown("edit focused", {{kCtlInputLevelSlider, "100"}, {kCtlInputLevelEdit, " 50"}});
    EXPECT_EQ(r.pwmSent(m), Bytes());
}

// Each command, what it sends (the letters; the PWM bytes set; byte 2 of
// the 'M' requests) and the motors' state after it. An unanswered first
// request ends a command; a command while another conversation is under way
// (a box of the LCD test, say) sends nothing, but the edit's text goes.
TEST(ConsoleFlow, Commands) {
    struct Case {
        const char* name;
        std::function<void(ConsoleContext&)> run;
        bool silent, busy;
        const char* letters;
        Bytes pwm = {}, motors = {};
    };
    const auto slider = [](std::vector<int> ps) {
        return [ps](ConsoleContext& c) {
            for (int p : ps)
                ConsoleSliderMoved(c, p);
        };
    };
    const auto edit = [](ConsoleContext& c) {
        for (const char* text : {"1", "15", "150", "", "abc"})
            ConsoleEditChanged(c, text);
    };
    const auto motorsTwice = [](ConsoleContext& c) {
        ConsoleMotorsClicked(c);
        ConsoleMotorsClicked(c);
    };
    const Case cases[] = {
        {"slider", slider({0, 1, 50, 99, 100}), false, false, "PPPPPPPPPP", {0, 3, 128, 253, 255}},
        {"slider, no answer", slider({20}), true, false, "P", {}},
        {"edit", edit, false, false, "PPPPPPPPPP", {3, 39, 255, 0, 0}},
        {"edit while busy", edit, false, true, "PPPPPPPPPP", {3, 39, 255, 0, 0}},
        {"motors", motorsTwice, false, false, "MMMM", {}, {2, 1, 2, 0}},
        {"motors, no answer", ConsoleMotorsClicked, true, false, "M", {}, {2}},
        {"busy", motorsTwice, false, true, ""},
        {"slider while busy", slider({5}), false, true, ""},
    };
    for (const Case& k : cases) {
        FlowRig r;
        r.show();
        const std::size_t m = r.mark();
        if (k.silent)
            r.dev->faults().silentAt = r.next();
        r.state.busy = k.busy;
        k.run(r.c);
        const Bytes letters = r.log().requestBytes(sim::Match(), 1, m);
        EXPECT_EQ(std::string(letters.begin(), letters.end()), k.letters) << k.name;
        EXPECT_EQ(r.pwmSent(m), k.pwm) << k.name;
        EXPECT_EQ(r.log().requestBytes(sim::Match('M'), 2, m), k.motors) << k.name;
        EXPECT_FALSE(r.machine().motorsOn) << k.name;
        EXPECT_EQ(r.state.busy, k.busy) << k.name;
    }
    // "Mise à jour": the jump report alone, no answer awaited, no box.
    FlowRig r;
    ConsoleUpdateClicked(r.c);
    EXPECT_FALSE(r.log().entries().back().answer);
    EXPECT_EQ(r.dev->mode(), sim::Talmo::Mode::BootLoader);
    EXPECT_TRUE(r.ui.boxes().empty());
}

// The whole test; the LCD silent at line 0 of column 5; no answer to the set-up.
TEST(ConsoleFlow, LcdTest) {
    struct Case {
        std::uint64_t silentStep; // 0: none; from 1, the exchanges of the test
        std::size_t lit0, lit1, blank, waits, exchanges;
    };
    const Case cases[] = {{0, 20, 20, 40, 40, 2 + 40 + 40 + 2 + 1},
                          {13, 6, 5, 40, 5 + 20, 2 + 11 + 40 + 2 + 1},
                          {2, 0, 0, 0, 0, 2}};
    for (const Case& k : cases) {
        FlowRig r;
        r.show();
        const std::size_t m = r.mark();
        if (k.silentStep)
            r.dev->faults().silentAt = r.next() + k.silentStep - 1;
        r.ui.clearEvents();
        ConsoleLcdTestClicked(r.c);
        const auto& log = r.log();
        const auto cells = [&](int line, int c) {
            return log.count(sim::Match('L').byte(2, line).byte(4, 1).byte(5, c), m);
        };
        EXPECT_EQ(log.size() - m, k.exchanges);
        EXPECT_EQ(cells(0, 0xFF) + 100 * cells(1, 0xFF), k.lit0 + 100 * k.lit1);
        EXPECT_EQ(cells(0, ' ') + cells(1, ' '), k.blank);
        EXPECT_EQ(r.ui.events().size(), k.waits);
        for (const UiEvent& e : r.ui.events())
            EXPECT_TRUE(e.kind == UiEvent::Wait && e.ms == 50);
        const Bytes subs = log.requestBytes(sim::Match('L'), 2, m);
        EXPECT_EQ(Bytes(subs.begin(), subs.begin() + 2), Bytes({2, 5})); // take, clear
        if (k.exchanges == 2)
            continue;
        EXPECT_EQ(subs.back(), 3); // given back
        EXPECT_EQ(r.dev->lcdLine(0) + r.dev->lcdLine(1),
                  "TALMO               MODE USB            ");
        EXPECT_FALSE(r.dev->lcdHeldByUsb());
    }
}

} // namespace
} // namespace talmo::test
