// The virtual TALMO's answers in normal and boot-loader mode, and its faults.
#include "sim_test_util.h"

#include "sim/board_firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using sim::Report;
using sim::Talmo;
using namespace simtest;

namespace {

std::vector<std::uint8_t> bytes(const Report& r, std::size_t from, std::size_t to) {
    return std::vector<std::uint8_t>(r.begin() + static_cast<long>(from),
                                     r.begin() + static_cast<long>(to));
}

Report block(std::uint8_t flag, std::uint32_t address, std::uint8_t fill) {
    Report r = request('W', {flag, static_cast<std::uint8_t>(address >> 8),
                             static_cast<std::uint8_t>(address & 0xFF)});
    for (std::size_t k = 0; k < 32; ++k)
        r[5 + k] = static_cast<std::uint8_t>(fill + k);
    return r;
}

} // namespace

TEST(TalmoNormal, AnswersEchoTheLetterWithReportIdZero) {
    Dev d;
    for (char letter : {'B', 'V', 'F', 'T', 'I', 'P', 'M', 'L', 'Y'}) {
        auto a = d.ask(letter);
        ASSERT_TRUE(a) << letter;
        EXPECT_EQ(bytes(*a, 0, 2),
                  (std::vector<std::uint8_t>{0, static_cast<std::uint8_t>(letter)}));
    }
    // Letters of the boot loader, and unknown ones, get no answer in normal mode.
    for (char letter : {'R', 'W', 'A', 'Q'})
        EXPECT_FALSE(d.ask(letter)) << letter;
}

TEST(TalmoNormal, VersionIsTheTextProgrammedAt130C) {
    Dev d;
    EXPECT_EQ(textAt(*d.ask('V'), 2), "TALMO V0.23");
    // Programmed through the boot loader, it shows once the application runs again.
    EXPECT_FALSE(d.ask(simtest::jump(1)));
    Report first = block(1, 0x1300, 0);
    const std::string v = "TALMO V0.24";
    std::fill(first.begin() + 5, first.begin() + 37, 0xFF);
    std::copy(v.begin(), v.end() + 1, first.begin() + 17);
    EXPECT_EQ((*d.ask(first))[2], 1);
    EXPECT_FALSE(d.ask(simtest::jump(0)));
    EXPECT_EQ(textAt(*d.ask('V'), 2), v);
    EXPECT_EQ(d.t.firmwareVersion(), v);
    // A text without terminator in memory still ends inside the report.
    d.t.setFlashBytes(0x130C, std::vector<std::uint8_t>(200, 'x'));
    const auto a = *d.ask('V');
    EXPECT_EQ(a[64], 0);
    EXPECT_EQ(textAt(a, 2).size(), 62u);
}

TEST(TalmoNormal, JumpReportSwitchesToTheBootLoaderWithoutAnswer) {
    Dev d;
    EXPECT_EQ((*d.ask(simtest::jump(0)))[2], 0); // not a jump in normal mode
    EXPECT_EQ(d.t.mode(), Talmo::Mode::Normal);
    d.t.machine().motorsOn = true;
    EXPECT_FALSE(d.ask(simtest::jump(1)));
    EXPECT_EQ(d.t.mode(), Talmo::Mode::BootLoader);
    EXPECT_EQ(d.t.productId(), 0x00A9);
    EXPECT_FALSE(d.t.machine().motorsOn);
    EXPECT_FALSE(d.ask('I')); // normal-mode commands are gone
}

TEST(TalmoBootLoader, WritesFollowTheFlashRows) {
    struct Step {
        std::uint8_t flag;
        std::uint32_t address;
        bool accepted;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"row in two halves",
         {{1, 0x1300, true}, {2, 0x1320, true}, {1, 0x1340, true}, {2, 0x1360, true}}},
        {"second half first", {{2, 0x1320, false}}},
        {"first half at a half-row address", {{1, 0x1320, false}}},
        {"second half of another row", {{1, 0x1300, true}, {2, 0x1360, false}}},
        {"second half twice", {{1, 0x1300, true}, {2, 0x1320, true}, {2, 0x1320, false}}},
        {"EEPROM write between the halves",
         {{1, 0x1300, true}, {0, 0x1F, true}, {2, 0x1320, false}}},
        {"boot-loader area", {{1, 0x12C0, false}, {1, 0x0000, false}}},
        {"last row", {{1, 0x7FC0, true}, {2, 0x7FE0, true}}},
        {"unknown flags", {{3, 0x1300, false}, {0xFF, 0x1300, false}}},
        {"EEPROM names the block's last byte",
         {{0, 0x1F, true}, {0, 0xFF, true}, {0, 0x00, false}, {0, 0x20, false}, {0, 0x11F, false}}},
    };
    for (const auto& c : cases) {
        Dev d;
        d.t.setMode(Talmo::Mode::BootLoader);
        for (const auto& s : c.steps) {
            auto a = d.ask(block(s.flag, s.address, 0x40));
            ASSERT_TRUE(a) << c.name;
            EXPECT_EQ(bytes(*a, 1, 3), (std::vector<std::uint8_t>{'W', s.accepted}))
                << c.name << " at " << s.address;
        }
    }
}

TEST(TalmoBootLoader, FirstHalfErasesTheWholeRow) {
    Dev d;
    d.t.setMode(Talmo::Mode::BootLoader);
    d.t.setFlashBytes(0x1340, std::vector<std::uint8_t>(128, 0x00));
    d.ask(block(1, 0x1340, 0x10));
    // Written, erased and never written, the next row untouched.
    for (std::uint32_t k = 0; k < 65; ++k)
        EXPECT_EQ(d.t.flashByte(0x1340 + k), k < 32 ? 0x10 + k : k < 64 ? 0xFF : 0x00) << k;
    d.ask(block(0, 0x3F, 0x80));
    for (std::uint32_t k = 0; k < 32; ++k)
        EXPECT_EQ(d.t.eepromByte(0x20 + k), 0x80 + k);
}
