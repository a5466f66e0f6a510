// The link through the real Linux backend (hidapi, hidraw) against a virtual
// TALMO served as an emulated hidraw node, beside a bare hidapi write-and-read
// loop on the same node in the same run. Restarts itself under umockdev's
// preload when needed.
#include <glib.h>
#include <umockdev.h>

#include "core/clock.h"
#include "link/device_link.h"
#include "link/linux_backend.h"
#include "sim/hidraw_bridge.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"
#include "tests/common/scripted_ui.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

template <typename F>
double usPer(long n, F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i)
        if (!f())
            return -1;
    const std::chrono::duration<double, std::micro> dt = std::chrono::steady_clock::now() - t0;
    return dt.count() / static_cast<double>(n);
}

} // namespace

int main(int argc, char** argv) {
    if (!sim::HidrawBridge::underPreload()) {
        std::vector<char*> args{const_cast<char*>("umockdev-wrapper")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::perror("bench_link_umockdev: umockdev-wrapper");
        return 1;
    }
    const long n = argc > 1 ? std::max(10L, std::atol(argv[1])) : 2000;

    talmo::RealClock clock;
    sim::VirtualUsb usb(clock);
    sim::HidrawBridge bridge(usb);
    if (!bridge.ok()) {
        std::fprintf(stderr, "bench_link_umockdev: %s\n", bridge.error().c_str());
        return 1;
    }
    auto device = std::make_unique<sim::Talmo>();
    device->log().setEnabled(false);
    bridge.plug(std::move(device));
    bridge.settle();

    talmo::LinuxBackend backend;
    talmo::ScriptedUi ui(&clock);
    talmo::DeviceLink link;
    link.backend = &backend;
    link.ui = &ui;
    if (talmo::OpenDevice(link) != 1) {
        std::fprintf(stderr, "bench_link_umockdev: the link found no device\n");
        return 1;
    }
    hid_device* in = hid_open_path(link.devicePath.c_str());
    hid_device* out = hid_open_path(link.devicePath.c_str());
    if (!in || !out) {
        std::fprintf(stderr, "bench_link_umockdev: hidapi cannot open %s\n",
                     link.devicePath.c_str());
        return 1;
    }

    unsigned char buf[65] = {0, 'I'};
    auto bare = [&] {
        buf[1] = 'I';
        return hid_write(out, buf, 65) == 65 && hid_read_timeout(in, buf + 1, 64, 500) == 64 &&
               buf[1] == 'I';
    };
    talmo::Report report{};
    auto linked = [&] {
        report[1] = 'I';
        return talmo::Exchange(link, report);
    };

    // Interleaved rounds; the best of each is the least disturbed.
    double best[2] = {1e18, 1e18};
    for (int round = 0; round < 5; ++round) {
        const double b = usPer(n / 5, bare);
        const double l = usPer(n / 5, linked);
        if (b < 0 || l < 0) {
            std::fprintf(stderr, "bench_link_umockdev: an exchange failed\n");
            return 1;
        }
        best[0] = std::min(best[0], b);
        best[1] = std::min(best[1], l);
    }
    std::printf("exchanges per loop:                 %8ld\n", n / 5);
    std::printf("bare hidapi write and read ('I'):   %8.1f us\n", best[0]);
    std::printf("link Exchange, Linux backend ('I'): %8.1f us\n", best[1]);
    std::printf("link / bare:                        %8.3f (target: within 5 %%)\n",
                best[1] / best[0]);
    hid_close(in);
    hid_close(out);
    return 0;
}
