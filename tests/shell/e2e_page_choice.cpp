// End to end: the real program (argv[1]), with its real Linux link, against
// virtual TALMOs served as hidraw nodes under umockdev. The program prints
// nothing, so the pages are seen through what the device receives:
//   console page      the 50 ms status poll ('I') runs;
//   boot-loader page  its show sequence asks the boot loader's version ('V')
//                     and the poll has stopped;
//   waiting page      after an unplug, a device in the other mode is taken at
//                     once (a connected link would ignore a second device).
// Exit status 0 when the page choice followed every step.
#include "core/clock.h"
#include "sim/hidraw_bridge.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Mode = sim::Talmo::Mode;
sim::HidrawBridge* bridge = nullptr;
pid_t child = -1;
int failures = 0;

// Requests with that letter (0: any) that a device got after the first `from`.
std::size_t requests(int id, char letter, std::size_t from = 0) {
    std::size_t n = 0;
    bridge->withBus([&](sim::VirtualUsb& bus) {
        if (sim::Talmo* t = bus.device(id))
            n = letter ? t->log().count(sim::Match(letter), from) : t->log().size();
    });
    return n;
}

bool childAlive() { return ::waitpid(child, nullptr, WNOHANG) == 0; }

// Waits until `done` holds; false after `seconds` or when the program ended.
bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end && childAlive()) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
}

int plug(Mode mode) {
    auto t = std::make_unique<sim::Talmo>();
    t->setMode(mode);
    const int id = bridge->plug(std::move(t));
    bridge->settle();
    return id;
}

void setMode(int id, Mode mode) {
    bridge->withBus([&](sim::VirtualUsb& bus) { bus.device(id)->setMode(mode); });
    bridge->settle();
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
        std::fprintf(stderr, "e2e_page_choice: cannot start umockdev-wrapper: %s\n",
                     std::strerror(errno));
        return 1;
    }
    talmo::RealClock clock;
    sim::VirtualUsb usb(clock);
    sim::HidrawBridge theBridge(usb);
    bridge = &theBridge;
    if (!bridge->ok()) {
        std::fprintf(stderr, "e2e_page_choice: %s\n", bridge->error().c_str());
        return 1;
    }
    const int first = bridge->plug(std::make_unique<sim::Talmo>());
    if (!bridge->settle()) {
        std::fprintf(stderr, "e2e_page_choice: the emulated device did not come up\n");
        return 1;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    child = ::fork();
    if (child == 0) {
        ::execl(argv[1], argv[1], static_cast<char*>(nullptr));
        std::fprintf(stderr, "e2e_page_choice: cannot run %s: %s\n", argv[1], std::strerror(errno));
        ::_exit(127);
    }
    if (child < 0)
        return 1;

    check(waitFor([&] { return requests(first, 'I') >= 10; }, 20),
          "start-up in normal mode: the console page polls");

    std::size_t m = requests(first, 0);
    setMode(first, Mode::BootLoader);
    check(waitFor([&] { return requests(first, 'V', m) >= 1; }, 10),
          "re-enumeration into the boot loader: the boot-loader page reads the version");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    m = requests(first, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    check(requests(first, 'I', m) == 0, "boot-loader page: no status poll");

    m = requests(first, 0);
    setMode(first, Mode::Normal);
    check(waitFor([&] { return requests(first, 'I', m) >= 10; }, 10),
          "re-enumeration back to normal mode: the console page polls again");

    bridge->unplug(first);
    bridge->settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int second = plug(Mode::BootLoader);
    check(waitFor([&] { return requests(second, 'V') >= 1; }, 10),
          "unplug, then a boot-loader device: the boot-loader page reads its version");
    check(requests(second, 'I') == 0, "the boot-loader device is never polled");

    bridge->unplug(second);
    bridge->settle();
    const int third = plug(Mode::Normal);
    check(waitFor([&] { return requests(third, 'I') >= 10; }, 10),
          "unplug, then plug in normal mode: the console page polls the new device");

    const bool alive = childAlive();
    check(alive, "the program is still running");
    if (alive) {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
    }
    std::printf("%s\n", failures ? "page choice: FAILED" : "page choice: all steps passed");
    return failures ? 1 : 0;
}
