#include "console/console_flow.h"

#include "console/console_commands.h"
#include "core/clock.h"
#include "core/ui.h"

#include <algorithm>

namespace talmo {

namespace {

constexpr std::int64_t kPollPeriodUs = std::int64_t{kConsolePollPeriodMs} * 1000;
// A timer may wake up to this much before the poll is due: its own clock's
// rounding is not a reason to skip a whole period.
constexpr std::int64_t kPollEarlyUs = 500;

std::int64_t nowUs(ConsoleContext& c) { return c.ui.clock().nowUs(); }

// Runs one conversation with the device, unless another one is under way.
template <class Conversation>
bool talk(ConsoleContext& c, Conversation conversation) {
    if (c.state.busy)
        return false;
    c.state.busy = true;
    conversation();
    c.state.busy = false;
    return true;
}

// Every change of the edit's text goes to the device, the page's own writes
// included: the shown value settles the device's.
void writeLevelEdit(ConsoleContext& c, const std::string& text) {
    c.view.setText(kCtlInputLevelEdit, text);
    ConsoleEditChanged(c, text);
}

void drawStatus(ConsoleContext& c, const LiveStatus& live) {
    ++c.state.displayedAnswers;
    for (const DisplayItem& d : StatusDisplay(live)) {
        if (d.skipWhenFocused && c.view.hasFocus(d.control))
            continue;
        switch (d.kind) {
        case DisplayItem::Text:
            if (d.control == kCtlInputLevelEdit)
                writeLevelEdit(c, d.text);
            else
                c.view.setText(d.control, d.text);
            break;
        case DisplayItem::Picture:
            c.view.setPicture(d.control, d.value);
            break;
        case DisplayItem::Position:
            c.view.setPosition(d.control, d.value);
            break;
        case DisplayItem::Visible:
            c.view.setVisible(d.control, d.value != 0);
            break;
        }
    }
}

// What the start sequence read replaces what the status held; what it did
// not read stays.
void takeStart(MachineStatus& status, const MachineStatus& start) {
    status.tooOld = start.tooOld;
    if (start.version)
        status.version = start.version;
    if (start.flash)
        status.flash = start.flash;
    if (start.table)
        status.table = start.table;
}

} // namespace

void ConsoleShown(ConsoleContext& c) {
    ConsoleState& s = c.state;
    s.polling = false;
    MachineStatus start;
    // The version is shown as soon as it is read: a too-old-firmware box
    // comes up over the page with it.
    const bool wasBusy = s.busy;
    s.busy = true;
    start = RunStartSequence(c.link, s.buffer, s.cache, c.ui,
                             [&](const std::string& v) { c.view.setText(kCtlVersionText, v); });
    s.busy = wasBusy;
    takeStart(s.status, start);
    if (start.tooOld)
        return;
    for (const auto& [control, text] : StartTexts(start))
        c.view.setText(control, text);
    if (start.table)
        c.view.setChecked(kCtlSignalInvertedBox, start.table->signalInverted);
    s.polling = true;
    s.nextPollUs = nowUs(c) + kPollPeriodUs;
}

void ConsoleHidden(ConsoleState& state) { state.polling = false; }

bool ConsoleTick(ConsoleContext& c) {
    ConsoleState& s = c.state;
    const std::int64_t now = nowUs(c);
    if (!s.polling || now + kPollEarlyUs < s.nextPollUs)
        return false;
    // On the period's beat; after a long stall, one period from now. A beat
    // that finds the device busy is skipped.
    s.nextPollUs = std::max(s.nextPollUs, now - kPollPeriodUs) + kPollPeriodUs;
    if (s.busy)
        return false;
    PollOutcome outcome = PollOutcome::NoAnswer;
    talk(c, [&] { outcome = PollStatus(c.link, s.buffer, s.cache); });
    if (outcome == PollOutcome::Changed) {
        s.status.live = DecodeStatus(s.cache.bytes);
        drawStatus(c, *s.status.live);
    }
    return true;
}

int ConsoleNextPollMs(ConsoleContext& c) {
    if (!c.state.polling)
        return -1;
    const std::int64_t us = c.state.nextPollUs - nowUs(c);
    return us <= 0 ? 0 : static_cast<int>((us + 999) / 1000);
}

void ConsoleSliderMoved(ConsoleContext& c, int percent) {
    talk(c, [&] { SendPwm(c.link, c.state.buffer, PercentToByte(percent)); });
}

void ConsoleEditChanged(ConsoleContext& c, std::string_view text) {
    const bool wasBusy = c.state.busy;
    c.state.busy = true;
    SendPwm(c.link, c.state.buffer, PercentToByte(ParseEditNumber(text)));
    c.state.busy = wasBusy;
}

void ConsoleEditLeft(ConsoleContext& c) {
    std::optional<std::uint8_t> level;
    talk(c, [&] { level = RefreshPwmLevel(c.link, c.state.buffer); });
    if (level)
        writeLevelEdit(c, PercentText(*level));
}

void ConsoleMotorsClicked(ConsoleContext& c) {
    talk(c, [&] { ToggleMotors(c.link, c.state.buffer); });
}

void ConsoleLcdTestClicked(ConsoleContext& c) {
    talk(c, [&] { RunLcdTest(c.link, c.state.buffer, c.ui); });
}

void ConsoleUpdateClicked(ConsoleContext& c) { JumpToBootLoader(c.link, c.state.buffer); }

} // namespace talmo
