// Exchanges per second of the bare emulator (bus + device), so that the
// emulator is never what a benchmark of the program measures.
#include "core/clock.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace {

template <typename F>
double perSecond(long n, F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i)
        f(i);
    const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    return static_cast<double>(n) / dt.count();
}

} // namespace

int main() {
    talmo::VirtualClock clock;
    sim::VirtualUsb bus(clock);
    const int id = bus.plug(std::make_unique<sim::Talmo>());
    sim::Talmo* dev = bus.device(id);
    const std::string path = *bus.pathOf(id);
    const long n = 2000000;
    volatile unsigned sink = 0;

    sim::Report status{};
    status[1] = 'I';
    dev->log().setEnabled(false);
    const double poll = perSecond(n, [&](long) { sink = sink + (*bus.exchange(path, status))[7]; });
    std::printf("status 'I' exchanges, log off:   %12.0f /s\n", poll);

    // Reading a PIC: read word, increment, the walk of a program-memory read.
    sim::Report read{};
    read[1] = 'Y';
    read[2] = 2;
    read[3] = 0x04;
    sim::Report inc{};
    inc[1] = 'Y';
    inc[2] = 3;
    inc[3] = 0x06;
    sim::Report enter{};
    enter[1] = 'Y';
    bus.exchange(path, enter);
    const double target =
        perSecond(n, [&](long i) { sink = sink + (*bus.exchange(path, (i & 1) ? inc : read))[3]; });
    std::printf("target 'Y' exchanges, log off:   %12.0f /s\n", target);

    dev->log().setEnabled(true);
    const double logged =
        perSecond(n / 4, [&](long) { sink = sink + (*bus.exchange(path, status))[7]; });
    std::printf("status 'I' exchanges, log on:    %12.0f /s\n", logged);
    dev->log().clear();

    // Boot-loader block writes (flag 1, 2, 1, 2 ... over the application area).
    dev->log().setEnabled(false);
    dev->setMode(sim::Talmo::Mode::BootLoader);
    const std::string bootPath = *bus.pathOf(id);
    sim::Report w{};
    w[1] = 'W';
    const double blocks = perSecond(n / 4, [&](long i) {
        const unsigned a = 0x1300 + static_cast<unsigned>(i % 872) * 32;
        w[2] = (a % 64) ? 2 : 1;
        w[3] = static_cast<std::uint8_t>(a >> 8);
        w[4] = static_cast<std::uint8_t>(a & 0xFF);
        sink = sink + (*bus.exchange(bootPath, w))[2];
    });
    std::printf("boot-loader 'W' exchanges:       %12.0f /s\n", blocks);
    std::printf("target: over 1000000 /s for the bare emulator\n");
    return 0;
}
