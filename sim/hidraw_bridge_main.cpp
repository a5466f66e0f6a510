// talmo-hidraw-bridge: runs a program against virtual TALMOs served as hidraw
// devices under umockdev. Usage and commands: see hidraw_bridge.h.
#include "sim/hidraw_bridge.h"

#include "core/clock.h"
#include "sim/board_firmware.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

int Usage() {
    std::fprintf(stderr,
                 "usage: talmo-hidraw-bridge [--boot] [--none] [--control FIFO] [--log FILE]\n"
                 "                           [--sim-pic PIC] -- program [args...]\n");
    return 2;
}

struct Options {
    bool boot = false;                // the first device starts in its boot loader
    bool none = false;                // no device at the start
    std::string control;              // the control FIFO; standard input when empty
    std::string log;                  // the exchange log; none when empty
    std::optional<sim::PicChip> chip; // the board's PIC; the device's own when not given
    char** program = nullptr;         // the program to run and its arguments
};

// A new virtual TALMO as the options want it. Its PIC's programming cycles
// must last their full time (the clock is real, so a program that waits as
// it should always passes), and its exchanges go to the log file.
std::unique_ptr<sim::Talmo> NewTalmo(const Options& options, bool bootLoader) {
    auto device = std::make_unique<sim::Talmo>();
    if (options.chip && device->pic()) {
        sim::Pic pic(*options.chip, device->pic()->deviceId() & 0x1F);
        sim::LoadBoardFirmware(pic);
        device->setPic(pic);
    }
    if (device->pic())
        device->pic()->setStrictTiming(true);
    if (!options.log.empty()) {
        device->log().setEnabled(false); // the file has it all; the run may be long
        std::string error;
        if (!device->log().streamToFile(options.log, &error))
            std::fprintf(stderr, "talmo-hidraw-bridge: %s\n", error.c_str());
    }
    if (bootLoader)
        device->setMode(sim::Talmo::Mode::BootLoader);
    return device;
}

// False on anything but the usage line.
bool ParseArguments(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        } else if (a == "--boot") {
            options.boot = true;
        } else if (a == "--none") {
            options.none = true;
        } else if (a == "--control" && i + 1 < argc) {
            options.control = argv[++i];
        } else if (a == "--log" && i + 1 < argc) {
            options.log = argv[++i];
        } else if (a == "--sim-pic" && i + 1 < argc) {
            options.chip = sim::PicChipByName(argv[++i]);
            if (!options.chip) {
                std::fprintf(stderr, "talmo-hidraw-bridge: unknown PIC '%s'\n", argv[i]);
                return false;
            }
        } else {
            return false;
        }
    }
    if (i >= argc)
        return false;
    options.program = argv + i;
    return true;
}

// The bridge needs umockdev's preload itself: starts again under it. Returns
// only when that cannot be done.
int RestartUnderPreload(int argc, char** argv) {
    std::vector<char*> args;
    args.push_back(const_cast<char*>("umockdev-wrapper"));
    for (int k = 0; k < argc; ++k)
        args.push_back(argv[k]);
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    std::fprintf(stderr, "talmo-hidraw-bridge: cannot start umockdev-wrapper: %s\n",
                 std::strerror(errno));
    return 1;
}

// The control channel: standard input, or the FIFO (made when missing).
// -1, with the reason said, when the FIFO cannot be had.
int OpenControl(const std::string& control) {
    if (control.empty())
        return STDIN_FILENO;
    struct stat st {};
    if (::stat(control.c_str(), &st) != 0 && ::mkfifo(control.c_str(), 0600) != 0) {
        std::fprintf(stderr, "talmo-hidraw-bridge: cannot make %s: %s\n", control.c_str(),
                     std::strerror(errno));
        return -1;
    }
    // Read and write: the FIFO never reads as ended between writers.
    const int fd = ::open(control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        std::fprintf(stderr, "talmo-hidraw-bridge: cannot open %s: %s\n", control.c_str(),
                     std::strerror(errno));
    return fd;
}

// The program, as the bridge's child; -1 when it cannot be started.
pid_t StartProgram(char** program) {
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("talmo-hidraw-bridge: fork");
        return -1;
    }
    if (child == 0) {
        ::execvp(program[0], program);
        std::fprintf(stderr, "talmo-hidraw-bridge: cannot run %s: %s\n", program[0],
                     std::strerror(errno));
        ::_exit(127);
    }
    return child;
}

// The devices on the bus and the program they serve.
struct Session {
    sim::HidrawBridge& bridge;
    const Options& options;
    pid_t child = -1;
    std::vector<int> plugged; // every device plugged so far, in order

    // One line of the control channel, then the testbed brought up to date.
    void runCommand(const std::string& cmd) {
        if (cmd == "plug" || cmd == "plug-boot") {
            plugged.push_back(bridge.plug(NewTalmo(options, cmd == "plug-boot")));
        } else if (cmd.rfind("mark", 0) == 0 && (cmd.size() == 4 || cmd[4] == ' ')) {
            mark(cmd.size() > 5 ? cmd.substr(5) : std::string());
        } else if (cmd == "unplug" || cmd == "replug") {
            const int target = lastPresent();
            if (target < 0)
                std::fprintf(stderr, "talmo-hidraw-bridge: no device to %s\n", cmd.c_str());
            else if (cmd == "unplug")
                bridge.unplug(target);
            else
                bridge.replug(target);
        } else if (cmd == "quit") {
            ::kill(child, SIGTERM);
        } else if (!cmd.empty()) {
            std::fprintf(stderr, "talmo-hidraw-bridge: unknown command '%s'\n", cmd.c_str());
        }
        bridge.settle();
    }

    // "# TEXT" in the exchange log, between the exchanges before and after.
    void mark(const std::string& text) {
        if (options.log.empty()) {
            std::fprintf(stderr, "talmo-hidraw-bridge: mark without --log\n");
            return;
        }
        bridge.withBus([&](sim::VirtualUsb&) {
            std::FILE* f = std::fopen(options.log.c_str(), "ab");
            const std::string line = "# " + text + "\n";
            if (!f || std::fwrite(line.data(), 1, line.size(), f) != line.size())
                std::fprintf(stderr, "talmo-hidraw-bridge: cannot write %s\n", options.log.c_str());
            if (f)
                std::fclose(f);
        });
    }

    // The most recently plugged device still present, or -1.
    int lastPresent() {
        int target = -1;
        bridge.withBus([&](sim::VirtualUsb& bus) {
            for (auto it = plugged.rbegin(); it != plugged.rend() && target < 0; ++it)
                if (bus.plugged(*it))
                    target = *it;
        });
        return target;
    }

    // Runs the control channel's commands until the child ends; its wait status.
    int serve(int controlFd) {
        std::string line;
        bool controlOpen = true;
        int status = 0;
        for (;;) {
            if (gStop) {
                ::kill(child, SIGTERM);
                gStop = 0;
            }
            if (::waitpid(child, &status, WNOHANG) == child)
                return status;
            pollfd pfd{controlFd, POLLIN, 0};
            const int ready = ::poll(&pfd, controlOpen ? 1 : 0, 50);
            if (ready <= 0 || !(pfd.revents & (POLLIN | POLLHUP)))
                continue;
            char buf[256];
            const ssize_t n = ::read(controlFd, buf, sizeof buf);
            if (n <= 0) {
                if (n == 0)
                    controlOpen = false; // standard input ended: no more commands
                continue;
            }
            line.append(buf, static_cast<std::size_t>(n));
            std::size_t eol;
            while ((eol = line.find('\n')) != std::string::npos) {
                std::string cmd = line.substr(0, eol);
                line.erase(0, eol + 1);
                while (!cmd.empty() && (cmd.back() == '\r' || cmd.back() == ' '))
                    cmd.pop_back();
                runCommand(cmd);
            }
        }
    }
};

// The child's exit code, or 128 + the signal that ended it.
int ExitCode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options))
        return Usage();
    if (!sim::HidrawBridge::underPreload())
        return RestartUnderPreload(argc, argv);

    talmo::RealClock clock;
    sim::VirtualUsb usb(clock);
    sim::HidrawBridge bridge(usb);
    if (!bridge.ok()) {
        std::fprintf(stderr, "talmo-hidraw-bridge: %s\n", bridge.error().c_str());
        return 1;
    }
    Session session{bridge, options, -1, {}};
    if (!options.none)
        session.plugged.push_back(bridge.plug(NewTalmo(options, options.boot)));
    if (!bridge.settle()) {
        std::fprintf(stderr, "talmo-hidraw-bridge: the emulated device did not come up\n");
        return 1;
    }
    const int controlFd = OpenControl(options.control);
    if (controlFd < 0)
        return 1;
    session.child = StartProgram(options.program);
    if (session.child < 0)
        return 1;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const int status = session.serve(controlFd);
    if (!options.control.empty())
        ::close(controlFd);
    return ExitCode(status);
}
