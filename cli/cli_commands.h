// The commands of talmo-cli, one function each (named in command_table.cpp).
// Each strings together the operations and the page flows of the window
// program, unchanged, reports through the terminal's Ui and returns the job's
// outcome, which main maps to the exit status (ExitStatusOf, cli_options.h).
#pragma once

#include "cli/cli_options.h"
#include "cli/terminal_ui.h"
#include "link/device_link.h"

#include <csignal>
#include <cstdint>

namespace talmo::cli {

// How long the device may take to come back after a mode switch.
constexpr int kModeSwitchTimeoutMs = 10000;

struct CliContext {
    DeviceLink& link;
    TerminalUi& ui;
    bool simulated = false;
    // Set by the interrupt handler: `status --watch` stops at the next tick.
    volatile std::sig_atomic_t* interrupted = nullptr;
    // Set by a second signal: the exchanges fail, the waits end.
    const volatile std::sig_atomic_t* forced = nullptr;
};

// Follows the link's device events (and looks again when the device it
// holds has left) until the device is connected with `productId`, for at
// most `timeoutMs` on the Ui's clock. With `leaveBootLoader`, a device
// opened anew in its boot loader is sent the leave report (a few times at most).
// It ends early, false, once `stop` is set.
bool WaitForMode(DeviceLink& link, Ui& ui, std::uint16_t productId, int timeoutMs,
                 bool leaveBootLoader = false, const volatile std::sig_atomic_t* stop = nullptr);

// Names the device the link holds when several TALMOs are plugged in (or,
// with -v, always); empty otherwise.
std::string DeviceNotice(HidBackend& backend, const DeviceLink& link, int verbosity);

// Files only: the link is not used.
JobOutcome RunHexCheck(CliContext& c, const Options& options);
// These need an open link.
JobOutcome RunStatus(CliContext& c, const Options& options);
JobOutcome RunFirmwareSave(CliContext& c, const Options& options);
JobOutcome RunFirmwareProgram(CliContext& c, const Options& options);
JobOutcome RunFirmwareVerify(CliContext& c, const Options& options);
JobOutcome RunFirmwareLeave(CliContext& c, const Options& options);
JobOutcome RunPicIdentify(CliContext& c, const Options& options);
JobOutcome RunPicRead(CliContext& c, const Options& options);
JobOutcome RunPicProgram(CliContext& c, const Options& options);
JobOutcome RunPicVerify(CliContext& c, const Options& options);
JobOutcome RunPicBlankCheck(CliContext& c, const Options& options);
JobOutcome RunPicErase(CliContext& c, const Options& options);

} // namespace talmo::cli
