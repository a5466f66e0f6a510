// Shared by the updater tests: a virtual TALMO on the emulator's bus behind
// the real device link, a scripted user interface on a virtual clock, a
// temporary folder, and firmware files built independently of the program's
// own HEX writer.
#pragma once

#include "tests/common/files.h"
#include "tests/common/rig.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace talmo::test {

// Firmware contents: a pattern that differs with `seed`, the version text at
// 0x130C (zero-padded to 12 bytes, a longer text written whole with its
// zero byte) and blank
// cells below the application area.
struct Firmware {
    std::array<std::uint8_t, 0x8000> program{};
    std::array<std::uint8_t, 0x100> eeprom{};
    Firmware() = default;
    Firmware(int seed, const std::string& version) {
        for (int a = 0x1300; a < 0x8000; ++a)
            program[a] = static_cast<std::uint8_t>(((a * 7 + seed) ^ (a >> 8)) | 1);
        std::fill(program.begin(), program.begin() + 0x1300, 0xFF);
        std::fill_n(program.begin() + 0x130C, std::max<std::size_t>(12, version.size() + 1), 0);
        std::copy(version.begin(), version.end(), program.begin() + 0x130C);
        for (int e = 0; e < 0x100; ++e)
            eeprom[e] = static_cast<std::uint8_t>(e * 5 + seed);
    }
    bool operator==(const Firmware&) const = default;

    // The whole HEX file, CR LF line ends: ":10AAAA00" + 16 bytes + checksum.
    std::string hexText() const {
        std::string text = ":020000040000FA\r\n";
        auto lines = [&text](const std::uint8_t* cells, int from, int to) {
            for (int a = from; a < to; a += 16) {
                char buf[8];
                std::snprintf(buf, sizeof buf, ":10%04X", a);
                text += std::string(buf) + "00";
                int sum = 0x10 + (a >> 8) + (a & 0xFF);
                for (int i = 0; i < 16; sum += cells[a + i++]) {
                    std::snprintf(buf, sizeof buf, "%02X", cells[a + i]);
                    text += buf;
                }
                std::snprintf(buf, sizeof buf, "%02X\r\n", -sum & 0xFF);
                text += buf;
            }
        };
        lines(program.data(), 0x1300, 0x8000);
        text += ":0200000400F00A\r\n";
        lines(eeprom.data(), 0, 0x100);
        return text + ":00000001FF\r\n";
    }
};

// The names in a folder, sorted.
inline std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string ReadWholeFile(const std::string& path) { return ReadFile(path); }

// A message box as "caption: text".
inline std::vector<std::string> Boxes(const ScriptedUi& ui) {
    std::vector<std::string> out;
    for (const UiEvent& e : ui.boxes())
        out.push_back(e.caption + ": " + e.text);
    return out;
}

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
        : Rig(MakeTalmo(mode), open) {}

    // A fault `at` requests from now; Short: every answer cut to `at` bytes;
    // Refuse, RefuseEeprom: the block holding address `at` is refused.
    void arm(Fault fault, int at = 0) {
        sim::Faults& f = device->faults();
        const std::uint64_t n = device->nextExchange() + static_cast<std::uint64_t>(at);
        switch (fault) {
        case Fault::None:
            break;
        case Fault::Silent:
            f.silentAt = n;
            break;
        case Fault::SilentFrom:
            f.silentFrom = n;
            break;
        case Fault::WrongEcho:
            f.wrongEchoAt = n;
            break;
        case Fault::WrongAddress:
            f.wrongAddressAt = n;
            break;
        case Fault::Short:
            link.inputReportLength = static_cast<std::uint16_t>(at);
            break;
        case Fault::Refuse:
            f.refuseProgramBlockAt = static_cast<std::uint16_t>(at);
            break;
        case Fault::RefuseEeprom:
            f.refuseEepromBlockAt = static_cast<std::uint8_t>(at);
            break;
        }
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
