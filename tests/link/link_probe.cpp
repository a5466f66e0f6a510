// Run by the bridge program as its child: finds the TALMO through the real
// Linux link and asks its version. With --follow it waits for
// the device to be unplugged and plugged in again (the test drives the
// bridge's commands). Each connection text goes to standard output.
#include "core/clock.h"
#include "link/linux_backend.h"
#include "link_test_util.h"
#include "tests/common/scripted_ui.h"

#include <cstdio>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    talmo::RealClock clock;
    talmo::ScriptedUi ui(&clock);
    talmo::LinuxBackend backend;
    talmo::DeviceLink link;
    link.backend = &backend;
    link.ui = &ui;
    talmo::RegisterForDeviceEvents(link);
    talmo::OpenDevice(link);
    const auto say = [&] {
        std::printf("%s\n", ui.status(talmo::ConnectionField).c_str());
        std::fflush(stdout);
    };
    say();
    talmo::Report r = linktest::request('V');
    if (!link.connected() || !talmo::Exchange(link, r))
        return 1;
    std::printf("version: %s\n", linktest::textAt(r, 2).c_str());

    const auto until = [&](bool connected) {
        return linktest::follow(
            link, [&] { return link.connected() == connected; }, 10000);
    };
    if (mode == "--follow") {
        std::printf("waiting for unplug\n");
        std::fflush(stdout);
        if (!until(false))
            return 1;
        say();
        if (!until(true))
            return 1;
        say();
    }
    return 0;
}
