// Firmware programming and save on the device emulator with 1 ms per
// exchange on the virtual clock, against the protocol's floor: 880 exchanges
// (872 program-memory blocks and 8 EEPROM blocks) of 1 ms each.
#include "core/clock.h"
#include "sim/wired_talmo.h"
#include "tests/common/scripted_ui.h"
#include "updater/bootloader_commands.h"
#include "updater/firmware_image.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

using namespace talmo;

int main() {
    constexpr std::int64_t kLatencyUs = 1000;
    constexpr std::int64_t kFloorUs = 880 * kLatencyUs;

    VirtualClock clock;
    ScriptedUi ui(&clock);
    sim::WiredTalmo wired(clock, &ui, sim::MakeTalmo(sim::Talmo::Mode::BootLoader));
    wired.bus.setLatencyUs(kLatencyUs);
    sim::Talmo* device = wired.device;
    DeviceLink& link = wired.link;
    device->log().setEnabled(false);
    if (!wired.open()) {
        std::fprintf(stderr, "the emulated boot loader did not open\n");
        return 1;
    }

    auto image = std::make_unique<FirmwareImage>();
    ResetFirmwareImage(*image);
    for (int a = 0; a < 0x8000; ++a)
        image->cells[a] = static_cast<std::uint8_t>(a ^ (a >> 7));

    auto timeIt = [&](const char* name, auto&& operation) {
        const std::uint64_t exchangesBefore = device->exchangeCount();
        const std::int64_t virtualBefore = clock.nowUs();
        const auto realBefore = std::chrono::steady_clock::now();
        const bool ok = operation();
        const auto realAfter = std::chrono::steady_clock::now();
        const std::int64_t virtualUs = clock.nowUs() - virtualBefore;
        const std::uint64_t exchanges = device->exchangeCount() - exchangesBefore;
        std::printf("  %-18s %s  %4llu exchanges  %9.3f ms virtual  floor %7.3f ms  over floor "
                    "%+.3f %%  (%.1f ms real)\n",
                    name, ok ? "ok    " : "FAILED", static_cast<unsigned long long>(exchanges),
                    virtualUs / 1000.0, kFloorUs / 1000.0,
                    100.0 * static_cast<double>(virtualUs - kFloorUs) / kFloorUs,
                    std::chrono::duration<double, std::milli>(realAfter - realBefore).count());
        return ok;
    };

    std::printf("Firmware update on the emulator, %lld us per exchange (virtual clock)\n",
                static_cast<long long>(kLatencyUs));
    const bool programmed =
        timeIt("ProgramFirmware", [&] { return ProgramFirmware(link, ui, *image); });
    const auto path = std::filesystem::temp_directory_path() /
                      ("talmo-bench-emulated-" + std::to_string(::getpid()) + ".hex");
    const bool saved = timeIt("SaveFirmwareToHex",
                              [&] { return SaveFirmwareToHex(link, ui, path.string()).done(); });
    std::filesystem::remove(path);
    std::printf("  target: within 1 %% of the floor\n");
    return programmed && saved ? 0 : 1;
}
