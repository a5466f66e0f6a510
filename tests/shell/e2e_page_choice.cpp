// End to end: the real program (argv[1]), with its real Linux link, against
// virtual TALMOs served as hidraw nodes under umockdev. The program prints
// nothing, so the pages are seen through what the device receives:
//   console page      the 50 ms status poll ('I') runs;
//   boot-loader page  its show sequence asks the boot loader's version ('V')
//                     and the poll has stopped;
//   waiting page      after an unplug, a device in the other mode is taken at
//                     once (a connected link would ignore a second device).
// Exit status 0 when the page choice followed every step.
#include "shell/clock.h"
#include "sim/hidraw_bridge.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    sim::HidrawBridge& bridge;
    pid_t child = -1;

    // The number of requests with that letter that a device got since `mark`.
    std::size_t count(int id, char letter, std::size_t mark) {
        std::size_t n = 0;
        bridge.withBus([&](sim::VirtualUsb& bus) {
            if (sim::Talmo* t = bus.device(id))
                n = t->log().count(sim::Match(letter), mark);
        });
        return n;
    }
    std::size_t mark(int id) {
        std::size_t n = 0;
        bridge.withBus([&](sim::VirtualUsb& bus) {
            if (sim::Talmo* t = bus.device(id))
                n = t->log().size();
        });
        return n;
    }
    bool childAlive() { return ::waitpid(child, nullptr, WNOHANG) == 0; }
    // Waits until `done` holds; false after `seconds` or when the program ended.
    bool waitFor(const std::function<bool()>& done, double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            if (done())
                return true;
            if (!childAlive())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return done();
    }
};

int failures = 0;
void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok)
        ++failures;
}

void setMode(sim::HidrawBridge& bridge, int id, sim::Talmo::Mode mode) {
    bridge.withBus([&](sim::VirtualUsb& bus) { bus.device(id)->setMode(mode); });
    bridge.settle();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: e2e_page_choice PROGRAM\n");
        return 2;
    }
    // Under umockdev's preload, or start again under it.
    if (!sim::HidrawBridge::underPreload()) {
        char wrapper[] = "umockdev-wrapper";
        char* args[] = {wrapper, argv[0], argv[1], nullptr};
        ::execvp(args[0], args);
        std::fprintf(stderr, "e2e_page_choice: cannot start umockdev-wrapper: %s\n", std::strerror(errno));
        return 1;
    }

    talmo::RealClock clock;
    sim::VirtualUsb usb(clock);
    sim::HidrawBridge bridge(usb);
    if (!bridge.ok()) {
        std::fprintf(stderr, "e2e_page_choice: %s\n", bridge.error().c_str());
        return 1;
    }
    const int first = bridge.plug(std::make_unique<sim::Talmo>());
    if (!bridge.settle()) {
        std::fprintf(stderr, "e2e_page_choice: the emulated device did not come up\n");
        return 1;
    }

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Run run{bridge};
    run.child = ::fork();
    if (run.child == 0) {
        ::execl(argv[1], argv[1], static_cast<char*>(nullptr));
        std::fprintf(stderr, "e2e_page_choice: cannot run %s: %s\n", argv[1], std::strerror(errno));
        ::_exit(127);
    }
    if (run.child < 0)
        return 1;

    using Mode = sim::Talmo::Mode;
    // 1. Start-up with the TALMO in normal mode: the console page polls.
    check(run.waitFor([&] { return run.count(first, 'I', 0) >= 10; }, 20),
          "start-up in normal mode: the console page polls");

    // 2. Into the boot loader: the boot-loader page asks the version, the poll stops.
    std::size_t m = run.mark(first);
    setMode(bridge, first, Mode::BootLoader);
    check(run.waitFor([&] { return run.count(first, 'V', m) >= 1; }, 10),
          "re-enumeration into the boot loader: the boot-loader page reads the version");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    m = run.mark(first);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    check(run.count(first, 'I', m) == 0, "boot-loader page: no status poll");

    // 3. Back to normal mode: the console page polls again.
    m = run.mark(first);
    setMode(bridge, first, Mode::Normal);
    check(run.waitFor([&] { return run.count(first, 'I', m) >= 10; }, 10),
          "re-enumeration back to normal mode: the console page polls again");

    // 4. Unplug: the link closes (waiting page). A TALMO plugged in its boot
    //    loader next is taken at once.
    bridge.unplug(first);
    bridge.settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int second = bridge.plug([] {
        auto t = std::make_unique<sim::Talmo>();
        t->setMode(sim::Talmo::Mode::BootLoader);
        return t;
    }());
    bridge.settle();
    check(run.waitFor([&] { return run.count(second, 'V', 0) >= 1; }, 10),
          "unplug, then a boot-loader device: the boot-loader page reads its version");
    check(run.count(second, 'I', 0) == 0, "the boot-loader device is never polled");

    // 5. Unplug the boot loader, plug a TALMO in normal mode: console page.
    bridge.unplug(second);
    bridge.settle();
    const int third = bridge.plug(std::make_unique<sim::Talmo>());
    bridge.settle();
    check(run.waitFor([&] { return run.count(third, 'I', 0) >= 10; }, 10),
          "unplug, then plug in normal mode: the console page polls the new device");

    const bool alive = run.childAlive();
    check(alive, "the program is still running");
    if (alive) {
        ::kill(run.child, SIGTERM);
        ::waitpid(run.child, nullptr, 0);
    }
    std::printf("%s\n", failures ? "page choice: FAILED" : "page choice: all steps passed");
    return failures ? 1 : 0;
}
