// The PIC model against the chips' documented behaviour.
#include "sim_test_util.h"

#include "sim/board_firmware.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using sim::Pic;
using sim::PicChip;
using namespace simtest;

namespace {

constexpr std::uint8_t kLoadProg = 0x02, kLoadData = 0x03, kReadProg = 0x04, kReadData = 0x05,
                       kEraseProgram = 0x08, kEndProg = 0x17, kProgramOnly = 0x18;

Pic loaded(PicChip chip) {
    Pic p(chip, 1);
    sim::LoadBoardFirmware(p);
    return p;
}

} // namespace

TEST(PicChips, DeviceIdAndSizesReadThroughTheSerialInterface) {
    struct Case {
        PicChip chip;
        std::uint16_t code;
        std::uint32_t words, eeprom;
        bool a;
    };
    const Case cases[] = {
        {PicChip::F873, 0x4B, 4096, 128, false}, {PicChip::F874, 0x49, 4096, 128, false},
        {PicChip::F876, 0x4F, 8192, 256, false}, {PicChip::F877, 0x4D, 8192, 256, false},
        {PicChip::F873A, 0x72, 4096, 128, true}, {PicChip::F874A, 0x73, 4096, 128, true},
        {PicChip::F876A, 0x70, 8192, 256, true}, {PicChip::F877A, 0x71, 8192, 256, true},
    };
    ASSERT_EQ(sim::AllPicChips().size(), std::size(cases));
    for (const auto& c : cases) {
        for (unsigned rev : {0u, 4u, 31u}) {
            Pic pic(c.chip, rev);
            PicDriver d{pic};
            d.enter();
            d.config(6);
            EXPECT_EQ(d.read(kReadProg), c.code << 5 | rev) << pic.info().name;
        }
        const auto& info = sim::ChipInfo(c.chip);
        EXPECT_EQ(std::tuple(info.programWords, info.eepromBytes, info.aFamily),
                  std::tuple(c.words, c.eeprom, c.a));
    }
}

TEST(PicWrite, ProgramOnlyClearsBitsAndEraseProgramReplaces) {
    struct Step {
        std::uint8_t load;
        std::uint32_t cell;
        std::uint16_t old, programmed, erased;
    };
    const Step steps[] = {{kLoadProg, 3, 0x3F0F, 0x30FF, 0x1234},
                          {kLoadData, Pic::kEepromBase + 3, 0xF0, 0x3C, 0xA5}};
    for (PicChip chip : {PicChip::F876, PicChip::F873, PicChip::F876A, PicChip::F874A}) {
        Pic pic(chip);
        PicDriver d{pic};
        d.enter();
        d.inc(3);
        for (const auto& s : steps) {
            pic.setCell(s.cell, s.old);
            d.load(s.load, s.programmed);
            d.run("BPO END");
            EXPECT_EQ(pic.cell(s.cell), s.old & s.programmed) << pic.info().name;
            d.load(s.load, s.erased);
            d.cmd(kEraseProgram);
            EXPECT_EQ(pic.cell(s.cell), s.erased) << pic.info().name;
        }
    }
}

TEST(PicWrite, ProgramOnlyWritesTheCounterWordOrTheAPartsLatchRow) {
    // Eight words loaded from word 8 on: a word-mode part writes the last one
    // at the counter; an A part writes its latch as the row the counter points
    // at, so one increment too many lands the row at 16. Nothing is written
    // before the cycle, and an A part's latch is empty after it. An A part
    // writes the row only when End Programming ends the cycle.
    struct Case {
        PicChip chip;
        bool extraInc;
        std::uint32_t row;
        std::uint8_t end = kEndProg; // the step after Begin Programming Only
    };
    for (const Case c : {Case{PicChip::F877, false, 8}, Case{PicChip::F877A, false, 8},
                         Case{PicChip::F876A, true, 16}, Case{PicChip::F877, false, 8, 0x06},
                         Case{PicChip::F877A, false, 8, 0x06}}) {
        Pic pic(c.chip);
        PicDriver d{pic};
        d.enter();
        d.inc(8);
        for (int k = 0; k < 8; ++k) {
            d.load(kLoadProg, static_cast<std::uint16_t>(0x100 + k));
            if (k < 7 || c.extraInc)
                d.inc();
        }
        EXPECT_EQ(pic.programWord(8), Pic::kBlank);
        d.cmd(kProgramOnly);
        d.cmd(c.end);
        const bool ended = c.end == kEndProg || !pic.info().aFamily;
        EXPECT_EQ(pic.interruptedCycles(), ended ? 0u : 1u) << pic.info().name;
        for (std::uint32_t a = 0; a < 32; ++a) {
            const bool written =
                ended && a >= c.row && a < c.row + 8 && (pic.info().aFamily || a == 15);
            EXPECT_EQ(pic.programWord(a), written ? 0x100 + a - c.row : Pic::kBlank)
                << pic.info().name << " " << a;
        }
        if (!pic.info().aFamily)
            continue;
        pic.setCell(c.row, Pic::kBlank);
        d.run("BPO END");
        EXPECT_EQ(pic.programWord(c.row), Pic::kBlank);
    }
}

TEST(PicWrite, APartsWriteIdWordsTogetherAndTheConfigurationWordAlone) {
    Pic pic(PicChip::F873A);
    pic.setConfigWord(0x3F72);
    PicDriver d{pic};
    d.enter();
    d.run("LC=0 LP=5 INC LP=6 INC LP=7 INC LP=8 BEP W16");
    for (std::uint32_t k = 0; k < 4; ++k)
        EXPECT_EQ(pic.cell(0x2000 + k), k + 5);
    EXPECT_EQ(pic.configWord(), 0x3F72);
    d.run("LC=0 INC*7 LP=3F3A BEP");
    EXPECT_EQ(pic.configWord(), 0x3F3A);
    for (std::uint32_t k = 0; k < 4; ++k)
        EXPECT_EQ(pic.cell(0x2000 + k), k + 5);
}

TEST(PicErase, EachSequenceErasesWhatItErasesOnTheChip) {
    // What is erased: program memory, EEPROM, ID words, configuration word.
    enum : int {
        P = 1,
        E = 2,
        I = 4,
        C = 8
    };
    const struct {
        const char* name;
        PicChip chip;
        std::string steps;
        int erased;
        std::uint32_t spareFrom = 0, spareTo = 0; // words a plain Begin Erase/Program rewrites
    } cases[] = {
        {"87x program bulk erase", PicChip::F876, "LP=3FFF" + kBulk87x, P},
        {"87x data bulk erase", PicChip::F873, "LD=3FFF" + kBulk87x, E},
        {"87x erase through the configuration word", PicChip::F877, "LC=3FFF INC*7" + kBulk87x,
         P | E | I | C},
        {"87x set-up commands out of order do nothing in bulk", PicChip::F876, "LP=3FFF S2 S1 BEP",
         0, 0, 1},
        {"87x ignores the A parts' erase commands", PicChip::F877, "CE BP BD", 0},
        {"A chip erase", PicChip::F877A, "CE W20", P | E | I | C},
        {"A bulk erase program memory", PicChip::F876A, "BP BEP W8", P},
        {"A bulk erase data memory", PicChip::F874A, "BD BEP W8", E},
        {"A parts ignore the 87x set-up commands", PicChip::F873A, "INC*100 LP=3FFF S1 S2 BEP W16",
         0, 96, 104},
    };
    for (const auto& c : cases) {
        Pic pic = loaded(c.chip);
        const Pic before = pic;
        PicDriver d{pic};
        d.enter();
        d.run(c.steps);
        d.leave();
        const std::uint32_t words = pic.info().programWords, bytes = pic.info().eepromBytes;
        // Every word of a memory is either erased or untouched.
        for (std::uint32_t a = 0; a < words; ++a) {
            const bool spare = a >= c.spareFrom && a < c.spareTo;
            const auto want = c.erased & P || spare ? Pic::kBlank : before.programWord(a);
            ASSERT_EQ(pic.programWord(a), want) << c.name << " word " << a;
        }
        for (std::uint32_t e = 0; e < bytes; ++e)
            ASSERT_EQ(pic.eepromByte(e), c.erased & E ? 0xFF : before.eepromByte(e))
                << c.name << " byte " << e;
        for (std::uint32_t k = 0; k < 4; ++k)
            EXPECT_EQ(pic.cell(0x2000 + k), c.erased & I ? Pic::kBlank : before.cell(0x2000 + k))
                << c.name;
        EXPECT_EQ(pic.configWord(), c.erased & C ? Pic::kBlank : before.configWord()) << c.name;
        EXPECT_EQ(pic.deviceId(), before.deviceId()) << c.name;
    }
}

TEST(PicProtection, ProtectedRangesReadAsZero) {
    // 87x: CP1:CP0 in bits 13:12 and 5:4; A parts: bit 13. CPD: bit 8.
    struct Case {
        PicChip chip;
        std::uint16_t config;
        std::uint32_t firstProtected;
        bool eepromProtected;
    };
    const Case cases[] = {
        {PicChip::F877, 0x3F72, 0x2000, false},  {PicChip::F877, 0x2F62, 0x1F00, false},
        {PicChip::F877, 0x1F52, 0x1000, false},  {PicChip::F877, 0x0F42, 0x0000, false},
        {PicChip::F873, 0x2F62, 0x0F00, false},  {PicChip::F873, 0x1F52, 0x0800, false},
        {PicChip::F874, 0x3E72, 0x1000, true},   {PicChip::F876A, 0x1F72, 0x0000, false},
        {PicChip::F876A, 0x3F72, 0x2000, false}, {PicChip::F873A, 0x3E72, 0x1000, true},
    };
    for (const auto& c : cases) {
        Pic pic = loaded(c.chip);
        pic.setConfigWord(c.config);
        const std::uint32_t words = pic.info().programWords;
        PicDriver d{pic};
        d.enter();
        for (std::uint32_t a = 0; a < words; ++a) {
            const auto got = d.read(kReadProg);
            const std::uint16_t want = a >= c.firstProtected ? 0 : pic.programWord(a);
            ASSERT_EQ(got, want) << pic.info().name << " " << a;
            if (a < pic.info().eepromBytes) {
                ASSERT_EQ(d.read(kReadData), c.eepromProtected ? 0 : pic.eepromByte(a)) << a;
            }
            d.inc();
        }
        // The ID words and the configuration word stay readable.
        d.config(0);
        EXPECT_EQ(d.read(kReadProg), pic.cell(0x2000));
        d.inc(7);
        EXPECT_EQ(d.read(kReadProg) & ~0x1430, c.config & ~0x1430);
    }
}

TEST(PicProtection, ProtectedWordsAreNotWrittenAndOnlyTheFullEraseClearsThem) {
    // A write or erase a protected part ignores, then the full erase.
    const struct {
        PicChip chip;
        std::uint16_t config;
        std::string refused, fullErase;
    } cases[] = {
        {PicChip::F876, 0x0F42, "LP=0000 BPO W8 LP=3FFF" + kBulk87x, "LC=3FFF INC*7" + kBulk87x},
        {PicChip::F877A, 0x1E72, "BP BEP W8", "CE W20"},
    };
    for (const auto& c : cases) {
        Pic pic = loaded(c.chip);
        pic.setConfigWord(c.config);
        const auto word0 = pic.programWord(0);
        ASSERT_NE(word0, Pic::kBlank);
        PicDriver d{pic};
        d.enter();
        d.run(c.refused);
        EXPECT_EQ(pic.programWord(0), word0) << pic.info().name;
        d.run(c.fullErase);
        d.leave();
        EXPECT_EQ(pic.programWord(0), Pic::kBlank);
        EXPECT_EQ(pic.eepromByte(0), 0xFF);
        EXPECT_EQ(pic.configWord(), Pic::kBlank);
        EXPECT_FALSE(pic.programProtected(0));
        EXPECT_FALSE(pic.eepromProtected());
    }
}

TEST(PicTiming, StrictModeUndoesCyclesCutShort) {
    // A cycle on word 40 of the board firmware, ended after `minMs` - 1 and
    // after `minMs` by the next command or by leaving programming mode.
    // A parts: the row cycle lasts until End Programming, however soon.
    const struct {
        PicChip chip;
        const char* start;
        int minMs;
        std::uint16_t result;
        bool leave;
    } cases[] = {
        {PicChip::F876, "LP=0 BPO", 8, 0, false},
        {PicChip::F876A, "LP=0 BPO END", 0, 0, true},
        {PicChip::F877, "LP=3FFF S1 S2 BEP", 16, Pic::kBlank, true},
        {PicChip::F877A, "CE", 20, Pic::kBlank, false},
        {PicChip::F877A, "BP BEP", 8, Pic::kBlank, true},
    };
    for (const auto& c : cases) {
        for (int wait : {c.minMs - 1, c.minMs}) {
            if (wait < 0)
                continue;
            Pic pic = loaded(c.chip);
            const auto word = pic.programWord(40);
            ASSERT_TRUE(word != 0 && word != Pic::kBlank);
            pic.setStrictTiming(true);
            PicDriver d{pic};
            d.enter();
            d.inc(40);
            d.run(c.start);
            d.waitMs(wait);
            c.leave ? d.leave() : d.inc();
            const bool applied = wait >= c.minMs;
            EXPECT_EQ(pic.programWord(40), applied ? c.result : word)
                << pic.info().name << " " << wait;
            EXPECT_EQ(pic.interruptedCycles(), applied ? 0u : 1u);
        }
    }
}

// The bus's clock drives the PIC's timing.
TEST(VirtualUsb, StrictPicTimingUsesTheBusClock) {
    // A chip erase needs 20 ms: cut short by the next report it is undone,
    // given its time it erases; latency counts as time spent.
    struct Case {
        std::int64_t latencyUs;
        int waitMs;
        bool erased;
    };
    const Case cases[] = {{0, 0, false}, {0, 19, false}, {0, 20, true}, {1000, 19, true}};
    for (const auto& c : cases) {
        talmo::VirtualClock clock;
        sim::VirtualUsb bus(clock);
        auto dev = std::make_unique<sim::Talmo>();
        dev->setPic(sim::Pic(sim::PicChip::F877A, 1));
        dev->pic()->setCell(0, 0x1234);
        dev->pic()->setStrictTiming(true);
        sim::Talmo* t = dev.get();
        const auto path = *bus.pathOf(bus.plug(std::move(dev)));
        bus.setLatencyUs(c.latencyUs);
        bus.exchange(path, simtest::request('Y', {0}));
        bus.exchange(path, simtest::request('Y', {3, 0x1F}));
        clock.sleepMs(c.waitMs);
        bus.exchange(path, simtest::request('Y', {1}));
        EXPECT_EQ(t->pic()->programWord(0), c.erased ? 0x3FFF : 0x1234)
            << c.latencyUs << " " << c.waitMs;
    }
}
