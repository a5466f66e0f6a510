// The shared rig with a board PIC of that chip loaded with the board
// firmware, checking its programming cycles against their minimum times.
#pragma once

#include "tests/common/files.h"
#include "tests/common/hex_files.h"
#include "tests/common/rig.h"

#include <cstdio>
#include <string>

namespace talmo::test {

struct Emulator : Rig {
    explicit Emulator(sim::PicChip chip, unsigned revision = 3)
        : Rig(sim::MakeTalmo(sim::Talmo::Mode::Normal, chip, revision)) {}
    const sim::PicChipInfo& info() { return pic()->info(); }
};

inline std::string Format(const char* format, std::uint32_t a, std::uint32_t b = 0,
                          std::uint32_t c = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

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
