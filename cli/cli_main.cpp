// talmo-cli: the jobs of TALMO_Tools from a terminal, on the same core.
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/guarded_backend.h"
#include "cli/sim_session.h"
#include "cli/terminal_ui.h"
#include "core/clock.h"
#include "link/device_link.h"

#include "link/access_advice.h"
#include "link/linux_backend.h"
#include "programmer/target_commands.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
volatile std::sig_atomic_t gForced = 0;
volatile std::sig_atomic_t gWatching = 0;

void Notice(const char* text, std::size_t size) {
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, text, size);
}

// Ctrl+C, a closed terminal (SIGHUP) and SIGTERM end `status --watch`. Any
// other command runs its operation to the end first, so that a board or a
// firmware is never left half written by a stray key or a dropped session.
// A second signal forces the stop: every exchange fails from then on, the
// operation ends at its next step, and main takes the PIC out of programming
// mode. A third one ends the program at once.
void OnInterrupt(int sig) {
    if (gForced) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    if (gInterrupted) {
        gForced = 1;
        static const char forced[] = "\nArrêt forcé : l'opération s'arrête au prochain échange.\n";
        Notice(forced, sizeof forced - 1);
        return;
    }
    gInterrupted = 1;
    if (!gWatching) {
        static const char notice[] =
            "\nInterruption demandée : l'opération en cours va jusqu'au bout "
            "(Ctrl+C encore pour forcer l'arrêt).\n";
        Notice(notice, sizeof notice - 1);
    }
}

void CatchInterrupt(bool watching) {
    gWatching = watching ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "talmo-cli : %s\nEssayez « talmo-cli --help ».\n", message.c_str());
    return talmo::cli::kExitUsage;
}

using namespace talmo;
using namespace talmo::cli;

TerminalStreams StreamsFor(const Options& o) {
    TerminalStreams streams;
    streams.outIsTerminal = isatty(STDOUT_FILENO) == 1;
    streams.errIsTerminal = isatty(STDERR_FILENO) == 1;
    streams.inIsTerminal = isatty(STDIN_FILENO) == 1;
    if (o.has(kOptJson)) { // standard output holds the JSON alone
        streams.out = stderr;
        streams.outIsTerminal = streams.errIsTerminal;
    }
    return streams;
}

// The device services: the emulator's (--simulate) or the real ones.
struct Devices {
    std::unique_ptr<SimSession> session;
    std::unique_ptr<HidBackend> real;
    HidBackend* backend = nullptr;
    Clock* clock = nullptr;
};

// Sets up the devices; an exit status when that failed.
std::optional<int> OpenDevices(const Options& o, RealClock& realClock, Devices& d) {
    d.clock = &realClock;
    if (o.simulateFolder.empty()) {
        d.real = std::make_unique<LinuxBackend>();
        d.backend = d.real.get();
        return std::nullopt;
    }
    d.session = std::make_unique<SimSession>();
    std::string error;
    switch (d.session->open({o.simulateFolder, o.simPic, o.simProtected}, &error)) {
    case SimSession::OpenResult::Ok:
        break;
    case SimSession::OpenResult::BadRequest:
        return UsageError(error);
    case SimSession::OpenResult::BadState:
        std::fprintf(stderr, "talmo-cli : %s\n", error.c_str());
        return kExitFile;
    }
    d.backend = &d.session->backend();
    d.clock = &d.session->clock();
    return std::nullopt;
}

// Why no TALMO could be opened, said.
JobOutcome NotConnected(TerminalUi& ui, const DeviceLink& link, const Options& o) {
    if (!link.deniedPath.empty()) {
        ui.printError(AccessDeniedAdvice(link.deniedPath));
        return Outcome(JobEnd::AccessDenied);
    }
    if (!link.busyPath.empty()) {
        ui.printError("TALMO utilisé par un autre programme (" + link.busyPath +
                      ") : le fermer (fenêtre TALMO_Tools ou autre talmo-cli), puis "
                      "recommencer.");
        return Outcome(JobEnd::Busy);
    }
    ui.printError(o.devicePath.empty() ? std::string("Aucun TALMO connecté.")
                                       : "Aucun TALMO à " + o.devicePath + ".");
    return Outcome(JobEnd::NoDevice);
}

// After a forced stop: the exchanges were cut short, so the board's PIC must
// not stay in programming mode. A firmware left half written keeps the TALMO
// in its boot loader, where the command can be run again.
void SayStopped(TerminalUi& ui, DeviceLink& link, GuardedBackend& guarded, const Options& o) {
    guarded.release();
    std::string said = "Opération arrêtée";
    if (o.command->target == Target::BoardPic && link.connected() &&
        link.productId == kTalmoProductId) {
        Report leave{};
        said += TargetLeave(link, leave)
                    ? " ; le PIC est sorti du mode programmation."
                    : " ; le PIC n'a pas répondu à la sortie du mode programmation.";
    } else if (link.connected() && link.productId == kBootLoaderProductId) {
        said += " ; le TALMO reste dans son boot loader, où la commande peut être relancée.";
    } else {
        said += ".";
    }
    ui.printError(said);
}

// Finds the TALMO and runs the command on it.
JobOutcome RunOnDevice(const Options& o, GuardedBackend& guarded, Clock& clock,
                       const TerminalStreams& streams, bool simulated) {
    TerminalUi ui(clock, streams);
    ui.setVerbosity(o.verbosity);
    DeviceLink link;
    link.backend = &guarded;
    link.ui = &ui;
    link.preferredPath = o.devicePath;
    RegisterForDeviceEvents(link);
    guarded.takeEvents(); // what is present now is found by the search below
    OpenDevice(link);
    if (link.connected() && !o.devicePath.empty() && link.devicePath != o.devicePath)
        CloseDevice(link); // another TALMO than the one asked for
    JobOutcome outcome;
    if (!link.connected()) {
        outcome = NotConnected(ui, link, o);
    } else {
        if (const std::string notice = DeviceNotice(guarded, link, ui.verbosity()); !notice.empty())
            ui.printError(notice);
        CliContext context{link, ui, simulated, &gInterrupted, &gForced};
        outcome = o.command->run(context, o);
        if (gForced) {
            SayStopped(ui, link, guarded, o);
            outcome = Outcome(JobEnd::Cancelled);
        }
    }
    link.ui = nullptr;
    return outcome;
}

// Files only: no device, real or virtual, is involved.
int RunOnFiles(const Options& o, const TerminalStreams& streams) {
    RealClock clock;
    TerminalUi ui(clock, streams);
    DeviceLink unused;
    CliContext context{unused, ui};
    return ExitStatusOf(o.command->run(context, o));
}

} // namespace

int main(int argc, char** argv) {
    const ParseResult parsed = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok)
        return UsageError(parsed.error);
    const Options& o = parsed.options;
    if (o.help) {
        std::fputs(o.helpText.c_str(), stdout);
        return kExitOk;
    }
    // A reader that went away (`talmo-cli ... | head`) makes writes fail;
    // it never ends the program in the middle of an operation.
    std::signal(SIGPIPE, SIG_IGN);
    const TerminalStreams streams = StreamsFor(o);
    if (o.command->target == Target::Files)
        return RunOnFiles(o, streams);
    CatchInterrupt(o.has(kOptWatch)); // before anything slow

    RealClock realClock;
    Devices devices;
    if (const std::optional<int> failed = OpenDevices(o, realClock, devices))
        return *failed;
    GuardedBackend guarded(*devices.backend, *devices.clock, &gForced);
    std::string error;
    if (!o.logFile.empty() && !guarded.logTo(o.logFile, &error)) {
        std::fprintf(stderr, "talmo-cli : --log %s : %s\n", o.logFile.c_str(), error.c_str());
        return kExitFile;
    }
    int status =
        ExitStatusOf(RunOnDevice(o, guarded, *devices.clock, streams, devices.session != nullptr));
    if (devices.session && !devices.session->save(&error)) {
        std::fprintf(stderr, "talmo-cli : état de simulation non enregistré : %s\n", error.c_str());
        if (status == kExitOk)
            status = kExitFile;
    }
    return status;
}
