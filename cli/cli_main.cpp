// talmo-cli: the jobs of TALMO_Tools from a terminal, on the same core.
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/sim_session.h"
#include "cli/terminal_ui.h"
#include "core/clock.h"
#include "link/device_link.h"

#include "link/access_advice.h"
#include "link/linux_backend.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
volatile std::sig_atomic_t gWatching = 0;

// Ctrl+C ends `status --watch`. Any other command runs its operation to the
// end first, so that a board or a firmware is never left half written by a
// stray key; a second Ctrl+C forces the stop.
void OnInterrupt(int sig) {
    if (gInterrupted) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    gInterrupted = 1;
    if (!gWatching) {
        static const char notice[] =
            "\nInterruption demandée : l'opération en cours va jusqu'au bout "
            "(Ctrl+C encore pour forcer l'arrêt).\n";
        [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, notice, sizeof notice - 1);
    }
}

void CatchInterrupt(bool watching) {
    gWatching = watching ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "talmo-cli : %s\nEssayez « talmo-cli --help ».\n", message.c_str());
    return talmo::cli::kExitUsage;
}

int RunOnDevice(talmo::cli::CliContext& c, const talmo::cli::Options& o) {
    using namespace talmo::cli;
    switch (o.command) {
    case Command::Status:
        return RunStatus(c, o);
    case Command::FirmwareSave:
    case Command::FirmwareProgram:
        return RunFirmware(c, o);
    case Command::PicIdentify:
    case Command::PicRead:
    case Command::PicProgram:
        return RunPic(c, o);
    default:
        return kExitUsage;
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace talmo;
    using namespace talmo::cli;

    const ParseResult parsed = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok)
        return UsageError(parsed.error);
    const Options& o = parsed.options;
    if (o.help) {
        std::fputs(o.helpText.c_str(), stdout);
        return kExitOk;
    }
    if (o.command != Command::HexCheck)
        CatchInterrupt(o.watch); // before anything slow

    TerminalStreams streams;
    streams.outIsTerminal = isatty(STDOUT_FILENO) == 1;
    streams.errIsTerminal = isatty(STDERR_FILENO) == 1;
    streams.inIsTerminal = isatty(STDIN_FILENO) == 1;
    RealClock realClock;

    if (o.command == Command::HexCheck) {
        // Files only: no device, real or virtual, is involved.
        TerminalUi ui(realClock, streams);
        return RunHexCheck(ui, o);
    }

    std::unique_ptr<SimSession> session;
    std::unique_ptr<HidBackend> realBackend;
    HidBackend* backend = nullptr;
    Clock* clock = &realClock;
    if (!o.simulateFolder.empty()) {
        session = std::make_unique<SimSession>();
        std::string error;
        switch (session->open({o.simulateFolder, o.simPic, o.simProtected}, &error)) {
        case SimSession::OpenResult::Ok:
            break;
        case SimSession::OpenResult::BadRequest:
            return UsageError(error);
        case SimSession::OpenResult::BadState:
            std::fprintf(stderr, "talmo-cli : %s\n", error.c_str());
            return kExitFile;
        }
        backend = &session->backend();
        clock = &session->clock();
    } else {
        realBackend = std::make_unique<LinuxBackend>();
        backend = realBackend.get();
    }

    int status = kExitOk;
    {
        TerminalUi ui(*clock, streams);
        DeviceLink link;
        link.backend = backend;
        link.ui = &ui;
        RegisterForDeviceEvents(link);
        backend->takeEvents(); // what is present now is found by the search below
        if (!OpenDevice(link)) {
            ui.printError(link.deniedPath.empty() ? std::string("Aucun TALMO connecté.")
                                                  : AccessDeniedAdvice(link.deniedPath));
            status = link.deniedPath.empty() ? kExitNoDevice : kExitAccessDenied;
        } else {
            CliContext context{link, ui, session != nullptr, &gInterrupted};
            status = RunOnDevice(context, o);
        }
        link.ui = nullptr;
    }

    if (session) {
        std::string error;
        if (!session->save(&error)) {
            std::fprintf(stderr, "talmo-cli : état de simulation non enregistré : %s\n",
                         error.c_str());
            if (status == kExitOk)
                status = kExitFile;
        }
    }
    return status;
}
