// talmo-hidraw-bridge: runs a program against virtual TALMOs served as hidraw
// devices under umockdev. Usage and commands: see hidraw_bridge.h.
#include "sim/hidraw_bridge.h"

#include "core/clock.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

int usage() {
    std::fprintf(
        stderr,
        "usage: talmo-hidraw-bridge [--boot] [--none] [--control FIFO] -- program [args...]\n");
    return 2;
}

std::unique_ptr<sim::Talmo> newTalmo(bool bootLoader) {
    auto device = std::make_unique<sim::Talmo>();
    if (bootLoader)
        device->setMode(sim::Talmo::Mode::BootLoader);
    return device;
}

} // namespace

int main(int argc, char** argv) {
    bool boot = false, none = false;
    std::string control;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        } else if (a == "--boot") {
            boot = true;
        } else if (a == "--none") {
            none = true;
        } else if (a == "--control" && i + 1 < argc) {
            control = argv[++i];
        } else {
            return usage();
        }
    }
    if (i >= argc)
        return usage();

    // The bridge needs umockdev's preload itself; start again under it.
    if (!sim::HidrawBridge::underPreload()) {
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

    talmo::RealClock clock;
    sim::VirtualUsb usb(clock);
    sim::HidrawBridge bridge(usb);
    if (!bridge.ok()) {
        std::fprintf(stderr, "talmo-hidraw-bridge: %s\n", bridge.error().c_str());
        return 1;
    }
    std::vector<int> plugged;
    if (!none)
        plugged.push_back(bridge.plug(newTalmo(boot)));
    if (!bridge.settle()) {
        std::fprintf(stderr, "talmo-hidraw-bridge: the emulated device did not come up\n");
        return 1;
    }

    int controlFd = STDIN_FILENO;
    if (!control.empty()) {
        struct stat st {};
        if (::stat(control.c_str(), &st) != 0 && ::mkfifo(control.c_str(), 0600) != 0) {
            std::fprintf(stderr, "talmo-hidraw-bridge: cannot make %s: %s\n", control.c_str(),
                         std::strerror(errno));
            return 1;
        }
        // Read and write: the FIFO never reads as ended between writers.
        controlFd = ::open(control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (controlFd < 0) {
            std::fprintf(stderr, "talmo-hidraw-bridge: cannot open %s: %s\n", control.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("talmo-hidraw-bridge: fork");
        return 1;
    }
    if (child == 0) {
        ::execvp(argv[i], argv + i);
        std::fprintf(stderr, "talmo-hidraw-bridge: cannot run %s: %s\n", argv[i],
                     std::strerror(errno));
        ::_exit(127);
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    std::string line;
    bool controlOpen = true;
    int status = 0;
    for (;;) {
        if (gStop) {
            ::kill(child, SIGTERM);
            gStop = 0;
        }
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
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
            if (cmd == "plug" || cmd == "plug-boot") {
                plugged.push_back(bridge.plug(newTalmo(cmd == "plug-boot")));
            } else if (cmd == "unplug" || cmd == "replug") {
                // The most recently plugged device still present.
                int target = -1;
                bridge.withBus([&](sim::VirtualUsb& bus) {
                    for (auto it = plugged.rbegin(); it != plugged.rend() && target < 0; ++it)
                        if (bus.plugged(*it))
                            target = *it;
                });
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
    }
    if (!control.empty())
        ::close(controlFd);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
