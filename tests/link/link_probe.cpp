// Run by the bridge program as its child: finds the TALMO through the real
// Linux link, asks its version, and with --follow also waits for it to be
// unplugged and plugged in again (the test drives the bridge's commands).
#include "link/device_link.h"
#include "link/linux_backend.h"
#include "shell/clock.h"
#include "shell/scripted_ui.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>

namespace {

bool follow(talmo::DeviceLink& link, talmo::LinuxBackend& backend, bool wantConnected)
{
    const auto t0 = std::chrono::steady_clock::now();
    while (link.connected() != wantConnected) {
        if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(10))
            return false;
        pollfd pfd{backend.eventFd(), POLLIN, 0};
        if (::poll(&pfd, 1, 100) > 0)
            for (const auto& e : backend.takeEvents())
                talmo::OnDeviceChange(link, e);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const bool followPlug = argc > 1 && std::strcmp(argv[1], "--follow") == 0;
    talmo::RealClock clock;
    talmo::ScriptedUi ui(&clock);
    talmo::LinuxBackend backend;
    talmo::DeviceLink link;
    link.backend = &backend;
    link.ui = &ui;
    talmo::RegisterForDeviceEvents(link);
    talmo::OpenDevice(link);
    std::printf("%s\n", ui.status(talmo::ConnectionField).c_str());
    if (!link.connected())
        return 1;
    talmo::Report r{};
    r[1] = 'V';
    if (!talmo::Exchange(link, r))
        return 1;
    std::printf("version: %s\n", reinterpret_cast<const char*>(r.data() + 2));
    if (argc > 1 && std::strcmp(argv[1], "--jump") == 0) {
        // Into the boot loader: the device re-enumerates.
        r = talmo::Report{};
        r[1] = 'Z';
        r[2] = 'U';
        r[3] = 0xAA;
        r[4] = 1;
        talmo::WriteReport(link, r);
        const auto t0 = std::chrono::steady_clock::now();
        while (!(link.connected() && link.productId == talmo::kBootLoaderProductId)) {
            if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(10))
                return 1;
            pollfd pfd{backend.eventFd(), POLLIN, 0};
            if (::poll(&pfd, 1, 100) > 0)
                for (const auto& e : backend.takeEvents()) {
                    std::printf("event %s %s\n", e.kind == talmo::HidDeviceEvent::Arrival ? "arrival" : "removal", e.path.c_str());
                    talmo::OnDeviceChange(link, e);
                }
        }
        std::printf("%s\n", ui.status(talmo::ConnectionField).c_str());
    }
    if (followPlug) {
        std::printf("waiting for unplug\n");
        std::fflush(stdout);
        if (!follow(link, backend, false))
            return 1;
        std::printf("%s\n", ui.status(talmo::ConnectionField).c_str());
        std::fflush(stdout);
        if (!follow(link, backend, true))
            return 1;
        std::printf("%s\n", ui.status(talmo::ConnectionField).c_str());
    }
    return 0;
}
