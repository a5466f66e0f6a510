// A virtual TALMO with the board's PIC on the emulator's bus, reached
// through the real device link, with every wait and time-out on one virtual
// clock. The PIC checks its programming cycles against their minimum times.
#pragma once

#include "link/device_link.h"
#include "link/sim_backend.h"
#include "programmer/pic_image.h"
#include "shell/scripted_ui.h"
#include "sim/board_firmware.h"
#include "sim/talmo.h"

#include <gtest/gtest.h>

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

    // A board with that chip; seeded with the board firmware unless blank.
    explicit Emulator(sim::PicChip chip, unsigned revision = 3, bool firmware = true) {
        auto t = std::make_unique<sim::Talmo>();
        t->setPic(sim::Pic(chip, revision));
        dev = t.get();
        if (firmware)
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
    // The next request's number on the device (for faults) and the log's size
    // (for counting from now on).
    std::uint64_t next() { return dev->nextExchange(); }
    std::size_t mark() { return dev->log().size(); }
    std::size_t countY(std::size_t from) { return dev->log().count('Y', from); }
};

// A fresh blank image on the heap (it is 34 KB).
inline std::unique_ptr<PicImage> BlankImage() {
    auto image = std::make_unique<PicImage>();
    ResetPicImage(*image);
    return image;
}

// A folder of its own for one test's files, removed afterwards.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        const auto* t = testing::UnitTest::GetInstance()->current_test_info();
        path = std::filesystem::temp_directory_path() /
               (std::string("talmo_programmer_") + t->test_suite_name() + "_" + t->name() + "_" +
                std::to_string(::getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

// The version table of the board firmware, as RETLW words from `at`.
inline void PutVersionTable(PicImage& image, std::uint32_t at, const std::string& text) {
    for (std::size_t k = 0; k < text.size(); ++k)
        image.entries[at + k] = 0x3400u | static_cast<std::uint8_t>(text[k]);
    image.entries[at + text.size()] = 0x3400; // RETLW 0
}

// Another firmware for the chip: every program word, EEPROM byte and ID word
// differs from the seeded one somewhere, blank stretches included, and a
// version table. Only words below the chip's sizes are filled.
inline void FillOtherFirmware(PicImage& image, std::uint32_t programWords, std::uint32_t eepromBytes,
                              std::uint32_t configWord, const std::string& version = "VELKOR V3.00 01/02/2024 NEW") {
    std::uint32_t x = 0xC0FFEEu;
    for (std::uint32_t a = 0; a < programWords; ++a) {
        x = x * 1103515245u + 12345u;
        // Leave a few whole blank rows and some single blank words.
        if ((a / 8) % 37 == 5 || (x >> 20) % 29 == 0)
            continue;
        image.entries[a] = (x >> 9) & 0x3FFF;
    }
    PutVersionTable(image, programWords / 2 + 0x31, version);
    for (std::uint32_t a = 0; a < eepromBytes; ++a) {
        x = x * 1103515245u + 12345u;
        if (a % 11 == 3)
            continue; // blank bytes stay 0xFF
        image.entries[kPicEepromAddress + a] = (x >> 13) & 0xFF;
    }
    for (std::uint32_t k = 0; k < 4; ++k)
        image.entries[kPicIdAddress + k] = 0x0100u * (k + 1) + 0x23;
    image.entries[kPicConfigAddress] = configWord;
}

} // namespace talmo::test
