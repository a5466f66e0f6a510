// The console's conversations with the device: the start sequence, the
// status poll and the user's commands. Each runs on the caller's one report
// buffer over the device link and returns what there is to show; nothing
// here knows about widgets.
#pragma once

#include "console/console_core.h"
#include "link/device_link.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talmo {

class Ui;

// What the start sequence finds is the machine status without its live
// part; a field left empty keeps what the page showed.

// Run each time the console page becomes visible: invalidates the cache,
// then 'B', 'V' (and the version check), 'F', 'T' 0 and 'T' 3. With too old a
// firmware it shows the box through `ui`, sends the jump report and stops.
// `showVersion`, when given, gets the version text as soon as it is read, so
// that the page shows it under the box. Without `jumpWhenTooOld` too old a
// firmware only ends the sequence: no box, no jump, the device unchanged.
MachineStatus RunStartSequence(DeviceLink& link, Report& buffer, StatusCache& cache, Ui& ui,
                               const std::function<void(const std::string&)>& showVersion = {},
                               bool jumpWhenTooOld = true);

// The texts the start sequence read, as (control, text) in the order the page
// shows them; what it did not read is left out. The signal-inverted box is
// the table's `signalInverted`.
std::vector<std::pair<int, std::string>> StartTexts(const MachineStatus& start);

enum class PollOutcome {
    NoAnswer,
    Unchanged,
    Changed
};
// One tick of the status poll. On Changed the answer is in cache.bytes.
PollOutcome PollStatus(DeviceLink& link, Report& buffer, StatusCache& cache);

// The pair of 'P' exchanges that sets the PWM level to the device byte v.
// False when the first exchange was not answered (the second is not sent).
bool SendPwm(DeviceLink& link, Report& buffer, std::uint8_t v);

// The edit's focus-loss refresh: an 'I' exchange without clearing. The
// device's PWM input level (answer byte 9), or nothing without an answer.
std::optional<std::uint8_t> RefreshPwmLevel(DeviceLink& link, Report& buffer);

// Asks the motors' state and switches it over. False when the first
// exchange was not answered.
bool ToggleMotors(DeviceLink& link, Report& buffer);

// The LCD test: fill both lines with 0xFF, clear them, write "TALMO" and
// "MODE USB", with 50 ms waits through `ui`. A write that is not answered
// ends the fill or the clear early; the texts are written all the same.
// False when the set-up or the texts were not answered.
bool RunLcdTest(DeviceLink& link, Report& buffer, Ui& ui);

// Sends the restart-in-boot-loader report; no answer is read.
void JumpToBootLoader(DeviceLink& link, Report& buffer);

} // namespace talmo
