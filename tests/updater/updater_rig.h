// Shared by the updater tests: a virtual TALMO on the emulator's bus behind
// the real device link, a scripted user interface on a virtual clock, a
// temporary folder, and firmware files built independently of the program's
// own HEX writer.
#pragma once

#include "tests/common/files.h"
#include "tests/common/hex_files.h"
#include "tests/common/rig.h"

#include <string>
#include <vector>

namespace talmo::test {

enum class Fault {
    None,
    Silent,
    SilentFrom,
    WrongEcho,
    WrongAddress,
    Short,
    Refuse,
    RefuseEeprom
};

struct UpdaterRig : Rig {
    TempDir dir;
    sim::Talmo* device = dev;

    // A plugged TALMO in that mode; `open`: the link is opened on it.
    explicit UpdaterRig(sim::Talmo::Mode mode = sim::Talmo::Mode::BootLoader, bool open = true)
        : Rig(sim::MakeTalmo(mode), open) {}

    // A fault `at` requests from now; Short: every answer cut to `at` bytes;
    // Refuse, RefuseEeprom: the block holding address `at` is refused.
    void arm(Fault fault, int at = 0) {
        sim::Faults& f = device->faults();
        const std::uint64_t n = device->nextExchange() + static_cast<std::uint64_t>(at);
        std::uint64_t sim::Faults::*const at64[] = {
            nullptr, &sim::Faults::silentAt, &sim::Faults::silentFrom, &sim::Faults::wrongEchoAt,
            &sim::Faults::wrongAddressAt};
        if (fault == Fault::Short)
            link.inputReportLength = static_cast<std::uint16_t>(at);
        else if (fault == Fault::Refuse)
            f.refuseProgramBlockAt = static_cast<std::uint16_t>(at);
        else if (fault == Fault::RefuseEeprom)
            f.refuseEepromBlockAt = static_cast<std::uint8_t>(at);
        else if (fault != Fault::None)
            f.*at64[static_cast<int>(fault)] = n;
    }
    std::string path(const std::string& name) const { return dir.file(name); }
    std::string write(const std::string& name, const std::string& text) {
        return WriteFile(path(name), text);
    }
    void load(const Firmware& f) {
        device->setFlashBytes(
            0x1300, std::vector<std::uint8_t>(f.program.begin() + 0x1300, f.program.end()));
        for (std::uint32_t e = 0; e < 0x100; ++e)
            device->setEepromByte(e, f.eeprom[e]);
    }
    // What the device holds, in the same form.
    Firmware held() const {
        Firmware f;
        f.program.fill(0xFF);
        for (std::uint32_t a = 0x1300; a < 0x8000; ++a)
            f.program[a] = device->flashByte(a);
        for (std::uint32_t e = 0; e < 0x100; ++e)
            f.eeprom[e] = device->eepromByte(e);
        return f;
    }
};

} // namespace talmo::test
