// A virtual TALMO whose board carries a PIC loaded with the board firmware,
// reached through the real device link, with every wait and time-out on one
// virtual clock. The PIC checks its programming cycles against their minimum
// times.
#pragma once

#include "link/device_link.h"
#include "programmer/pic_image.h"
#include "sim/board_firmware.h"
#include "sim/sim_backend.h"
#include "sim/talmo.h"
#include "tests/common/scripted_ui.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace talmo::test {

struct Emulator {
    VirtualClock clock;
    sim::VirtualUsb bus{clock};
    SimBackend backend{bus};
    ScriptedUi ui{&clock};
    DeviceLink link;
    sim::Talmo* dev = nullptr;

    explicit Emulator(sim::PicChip chip, unsigned revision = 3) {
        auto t = std::make_unique<sim::Talmo>();
        t->setPic(sim::Pic(chip, revision));
        dev = t.get();
        sim::loadBoardFirmware(*pic());
        pic()->setStrictTiming(true);
        backend.plug(std::move(t));
        link.backend = &backend;
        link.ui = &ui;
        EXPECT_EQ(OpenDevice(link), 1);
        ui.clearEvents();
    }

    sim::Pic* pic() { return dev->pic(); }
    const sim::PicChipInfo& info() { return pic()->info(); }
    std::uint64_t next() { return dev->nextExchange(); } // the next request's number, for faults
    std::size_t mark() { return dev->log().size(); }     // for counting from now on
};

inline std::string Format(const char* format, std::uint32_t a, std::uint32_t b = 0,
                          std::uint32_t c = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// A fresh blank image on the heap (it is 34 KB).
inline std::unique_ptr<PicImage> BlankImage() {
    auto image = std::make_unique<PicImage>();
    ResetPicImage(*image);
    return image;
}

// A folder of its own for one test's files, removed afterwards.
struct TempDir {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("talmo_programmer_" + std::to_string(::getpid()) + "_" +
                                  testing::UnitTest::GetInstance()->current_test_info()->name());
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// Another firmware than the board's for a chip of these sizes: program words
// with whole blank rows and single blank words, a version table, EEPROM bytes
// with blank ones, ID words 0x0123, 0x0223, 0x0323, 0x0423, and that
// configuration word.
inline void FillOtherFirmware(PicImage& image, std::uint32_t programWords,
                              std::uint32_t eepromBytes, std::uint32_t configWord,
                              const std::string& version = "VELKOR V3.00 01/02/2024 NEW") {
    std::uint32_t x = 0xC0FFEEu;
    for (std::uint32_t a = 0; a < programWords; ++a) {
        x = x * 1103515245u + 12345u;
        if ((a / 8) % 37 == 5 || (x >> 20) % 29 == 0)
            continue;
        image.entries[a] = (x >> 9) & 0x3FFF;
    }
    const std::uint32_t table = programWords / 2 + 0x31;
    for (std::size_t k = 0; k <= version.size(); ++k) // RETLW of each character, then RETLW 0
        image.entries[table + k] =
            0x3400u | (k < version.size() ? static_cast<std::uint8_t>(version[k]) : 0);
    for (std::uint32_t a = 0; a < eepromBytes; ++a) {
        x = x * 1103515245u + 12345u;
        if (a % 11 != 3)
            image.entries[kPicEepromAddress + a] = (x >> 13) & 0xFF;
    }
    for (std::uint32_t k = 0; k < 4; ++k)
        image.entries[kPicIdAddress + k] = 0x0100u * (k + 1) + 0x23;
    image.entries[kPicConfigAddress] = configWord;
}

} // namespace talmo::test
