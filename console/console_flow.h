// What the console page does, without widgets: its show sequence, the 50 ms
// status poll and the user's commands, over the device link, drawn through
// ConsoleView. The window's page and the web page's shell both drive it.
#pragma once

#include "console/console_core.h"
#include "link/device_link.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace talmo {

class Ui;

// The status poll's period, on the facade's clock.
inline constexpr int kConsolePollPeriodMs = 50;

// The page's controls as the flow draws them, by their numbers.
class ConsoleView {
public:
    virtual ~ConsoleView() = default;
    virtual void setText(int control, const std::string& text) = 0;
    virtual void setPicture(int control, int picture) = 0;
    virtual void setPosition(int control, int position) = 0; // 0..100, not a user's move
    virtual void setVisible(int control, bool visible) = 0;
    virtual void setChecked(int control, bool checked) = 0;
    // An edit that has the focus, or a slider being dragged.
    virtual bool hasFocus(int control) = 0;
};

// The page's data for the whole run.
struct ConsoleState {
    Report buffer{};
    StatusCache cache;
    MachineStatus status;
    bool polling = false;
    bool busy = false;           // a conversation with the device is under way
    std::int64_t nextPollUs = 0; // when the next poll is due, on the facade's clock
    int displayedAnswers = 0;    // status answers drawn since the start
};

struct ConsoleContext {
    DeviceLink& link;
    Ui& ui;
    ConsoleState& state;
    ConsoleView& view;
};

// The page became visible: the start sequence, its texts, then the poll
// (none with too old a firmware: the device is on its way to the boot loader).
void ConsoleShown(ConsoleContext& c);
// The page was hidden: no more polls; the status cache keeps what it holds.
void ConsoleHidden(ConsoleState& state);

// What a timer runs, as often as it likes: one status poll when one is due
// (every kConsolePollPeriodMs from the show on), an answer that changed
// drawn. False when nothing was due, or when the beat found the device busy
// (then skipped).
bool ConsoleTick(ConsoleContext& c);
// Milliseconds until the next poll is due (0 when it is), -1 while not polling.
int ConsoleNextPollMs(ConsoleContext& c);

// The user's commands. Each talks to the device unless another conversation
// is under way; the edit's text goes to the device whatever is under way.
void ConsoleSliderMoved(ConsoleContext& c, int percent);
void ConsoleEditChanged(ConsoleContext& c, std::string_view text);
// The edit lost the focus: the device's level asked again and written back.
void ConsoleEditLeft(ConsoleContext& c);
void ConsoleMotorsClicked(ConsoleContext& c);
void ConsoleLcdTestClicked(ConsoleContext& c);
// "Mise à jour": the restart in the boot loader, sent at once.
void ConsoleUpdateClicked(ConsoleContext& c);

} // namespace talmo
