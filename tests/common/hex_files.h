// HEX files for the tests, built independently of the program's own writers:
// one record, and a whole firmware file; and a blank PIC image.
#pragma once

#include "programmer/pic_image.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace talmo::test {

// ':' LL AAAA TT data CC with a correct checksum (plus `checksumDelta`).
inline std::string Record(unsigned address, unsigned type, const std::vector<unsigned>& data,
                          int checksumDelta = 0) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    char buf[16];
    std::snprintf(buf, sizeof buf, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address,
                  type);
    std::string line = buf;
    for (unsigned b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b & 0xFF);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF) + checksumDelta) & 0xFF);
    return line + buf;
}

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

// A fresh blank PIC image on the heap (it is 34 KB).
inline std::unique_ptr<PicImage> BlankImage() {
    auto image = std::make_unique<PicImage>();
    ResetPicImage(*image);
    return image;
}

} // namespace talmo::test
