// The PIC model against the chips' documented behaviour.
#include "sim_test_util.h"

#include "sim/board_firmware.h"

#include <gtest/gtest.h>

#include <string>

using sim::Pic;
using sim::PicChip;
using simtest::PicDriver;

namespace {

constexpr std::uint8_t kLoadConfig = 0x00, kSetup1 = 0x01, kLoadProg = 0x02, kLoadData = 0x03, kReadProg = 0x04,
                       kReadData = 0x05, kSetup2 = 0x07, kEraseProgram = 0x08, kBulkProg = 0x09, kBulkData = 0x0B,
                       kEndProg = 0x17, kProgramOnly = 0x18, kChipErase = 0x1F;

Pic loaded(PicChip chip)
{
    Pic p(chip, 1);
    sim::loadBoardFirmware(p);
    return p;
}

} // namespace

TEST(PicChips, DeviceIdAndSizesReadThroughTheSerialInterface)
{
    struct Case { PicChip chip; std::uint16_t code; std::uint32_t words, eeprom; bool a; };
    const Case cases[] = {
        {PicChip::F873, 0x4B, 4096, 128, false},  {PicChip::F874, 0x49, 4096, 128, false},
        {PicChip::F876, 0x4F, 8192, 256, false},  {PicChip::F877, 0x4D, 8192, 256, false},
        {PicChip::F873A, 0x72, 4096, 128, true},  {PicChip::F874A, 0x73, 4096, 128, true},
        {PicChip::F876A, 0x70, 8192, 256, true},  {PicChip::F877A, 0x71, 8192, 256, true},
    };
    ASSERT_EQ(sim::allPicChips().size(), std::size(cases));
    for (const auto& c : cases) {
        for (unsigned rev : {0u, 4u, 31u}) {
            Pic pic(c.chip, rev);
            PicDriver d{pic};
            d.enter();
            d.config(6);
            EXPECT_EQ(d.read(kReadProg), c.code << 5 | rev) << pic.info().name;
        }
        const auto& info = sim::picChipInfo(c.chip);
        EXPECT_EQ(info.programWords, c.words);
        EXPECT_EQ(info.eepromBytes, c.eeprom);
        EXPECT_EQ(info.aFamily, c.a);
    }
}

TEST(PicCounter, OneCounterWalksProgramMemoryAndEepromTogether)
{
    Pic pic(PicChip::F876);
    for (std::uint32_t a = 0; a < 300; ++a) {
        pic.setCell(a, static_cast<std::uint16_t>(0x1000 + a));
        if (a < 256) pic.setCell(Pic::kEepromBase + a, static_cast<std::uint16_t>(255 - a));
    }
    PicDriver d{pic};
    d.enter();
    for (std::uint32_t a = 0; a < 300; ++a) {
        ASSERT_EQ(d.read(kReadProg), 0x1000 + a);
        ASSERT_EQ(d.read(kReadData), (255 - a) & 0xFF) << a; // EEPROM wraps with the counter's low bits
        d.inc();
    }
}

TEST(PicCounter, LoadConfigurationJumpsTo2000AndOnlyReEnteringLeavesIt)
{
    Pic pic(PicChip::F877A, 2);
    pic.setCell(0x2000, 0x0011);
    pic.setCell(0x2003, 0x0033);
    pic.setCell(0x0000, 0x2805);
    PicDriver d{pic};
    d.enter();
    d.inc(5);
    d.load(kLoadConfig, 0);
    EXPECT_EQ(pic.addressCounter(), 0x2000);
    EXPECT_EQ(d.read(kReadProg), 0x0011);
    d.inc(3);
    EXPECT_EQ(d.read(kReadProg), 0x0033);
    d.inc(0x2000); // a full turn of the configuration area does not reach program memory
    EXPECT_GE(pic.addressCounter(), 0x2000);
    d.leave();
    d.enter();
    EXPECT_EQ(pic.addressCounter(), 0);
    EXPECT_EQ(d.read(kReadProg), 0x2805);
}

TEST(PicCounter, ProgramAddressesWrapAtTheChipSize)
{
    Pic pic(PicChip::F873);
    pic.setCell(0, 0x0123);
    pic.setCell(4096, 0x0456); // not implemented on a 4K part
    EXPECT_EQ(pic.cell(4096), Pic::kBlank);
    PicDriver d{pic};
    d.enter();
    d.inc(4096);
    EXPECT_EQ(d.read(kReadProg), 0x0123);
}

TEST(PicCounter, OutsideProgrammingModeCommandsAreIgnored)
{
    Pic pic = loaded(PicChip::F876);
    const auto before = pic.programWord(0);
    PicDriver d{pic};
    d.load(kLoadProg, 0x0000);
    d.cmd(kEraseProgram);
    EXPECT_EQ(d.read(kReadProg), Pic::kBlank);
    EXPECT_EQ(pic.programWord(0), before);
}

TEST(PicWrite, ProgramOnlyClearsBitsAndEraseProgramReplaces)
{
    // word mode parts write one word; A parts write the row through the latch.
    for (PicChip chip : {PicChip::F876, PicChip::F873, PicChip::F876A, PicChip::F874A}) {
        Pic pic(chip);
        pic.setCell(3, 0x3F0F);
        pic.setCell(Pic::kEepromBase + 3, 0xF0);
        PicDriver d{pic};
        d.enter();
        d.inc(3);
        d.load(kLoadProg, 0x30FF);
        d.cmd(kProgramOnly);
        d.cmd(kEndProg);
        EXPECT_EQ(pic.programWord(3), 0x3F0F & 0x30FF) << pic.info().name;
        d.load(kLoadData, 0x3C);
        d.cmd(kProgramOnly);
        d.cmd(kEndProg);
        EXPECT_EQ(pic.eepromByte(3), 0xF0 & 0x3C) << pic.info().name;
        d.load(kLoadProg, 0x1234);
        d.cmd(kEraseProgram);
        EXPECT_EQ(pic.programWord(3), 0x1234) << pic.info().name;
        d.load(kLoadData, 0xA5);
        d.cmd(kEraseProgram);
        EXPECT_EQ(pic.eepromByte(3), 0xA5) << pic.info().name;
    }
}

TEST(PicWrite, APartsWriteTheWholeLatchRowAtOnce)
{
    Pic pic(PicChip::F877A);
    PicDriver d{pic};
    d.enter();
    d.inc(16);
    for (int k = 0; k < 8; ++k) {
        d.load(kLoadProg, static_cast<std::uint16_t>(0x100 + k));
        if (k < 7) d.inc();
        EXPECT_EQ(pic.programWord(16 + static_cast<std::uint32_t>(k)), Pic::kBlank); // nothing written yet
    }
    d.cmd(kProgramOnly);
    d.cmd(kEndProg);
    for (std::uint32_t k = 0; k < 8; ++k) EXPECT_EQ(pic.programWord(16 + k), 0x100 + k);
    EXPECT_EQ(pic.programWord(15), Pic::kBlank);
    EXPECT_EQ(pic.programWord(24), Pic::kBlank);
}

TEST(PicWrite, APartsLatchSlotFollowsTheCounterSoAMisWalkLandsElsewhere)
{
    Pic pic(PicChip::F876A);
    PicDriver d{pic};
    d.enter();
    d.inc(8);
    for (int k = 0; k < 8; ++k) {
        d.load(kLoadProg, static_cast<std::uint16_t>(0x200 + k));
        d.inc(); // one increment too many after the eighth word
    }
    d.cmd(kProgramOnly);
    d.cmd(kEndProg);
    for (std::uint32_t k = 0; k < 8; ++k) {
        EXPECT_EQ(pic.programWord(8 + k), Pic::kBlank);
        EXPECT_EQ(pic.programWord(16 + k), 0x200 + k); // the row the counter pointed at
    }
    // The latch is empty after a write: another cycle programs nothing new.
    pic.setCell(16, 0x3FFF);
    d.cmd(kProgramOnly);
    EXPECT_EQ(pic.programWord(16), 0x3FFF);
}

TEST(PicWrite, WordModePartsWriteOnlyTheWordAtTheCounter)
{
    Pic pic(PicChip::F877);
    PicDriver d{pic};
    d.enter();
    d.inc(9);
    d.load(kLoadProg, 0x0ABC);
    d.cmd(kProgramOnly);
    for (std::uint32_t a = 8; a < 16; ++a) EXPECT_EQ(pic.programWord(a), a == 9 ? 0x0ABC : Pic::kBlank);
}

TEST(PicWrite, APartsWriteIdWordsTogetherAndTheConfigurationWordAlone)
{
    Pic pic(PicChip::F873A);
    pic.setConfigWord(0x3F72);
    PicDriver d{pic};
    d.enter();
    d.load(kLoadConfig, 0);
    for (int k = 0; k < 4; ++k) {
        d.load(kLoadProg, static_cast<std::uint16_t>(k + 5));
        if (k < 3) d.inc();
    }
    d.cmd(kEraseProgram);
    d.waitMs(16);
    for (std::uint32_t k = 0; k < 4; ++k) EXPECT_EQ(pic.cell(0x2000 + k), k + 5);
    EXPECT_EQ(pic.configWord(), 0x3F72);
    d.config(7);
    d.load(kLoadProg, 0x3F3A);
    d.cmd(kEraseProgram);
    EXPECT_EQ(pic.configWord(), 0x3F3A);
    for (std::uint32_t k = 0; k < 4; ++k) EXPECT_EQ(pic.cell(0x2000 + k), k + 5);
}

TEST(PicErase, EachSequenceErasesWhatItErasesOnTheChip)
{
    struct Result { bool program, eeprom, ids, config; };
    struct Case {
        const char* name;
        PicChip chip;
        void (*run)(PicDriver&);
        Result erased;
        std::uint32_t spareFrom = 0, spareTo = 0; // words a plain Begin Erase/Program rewrites instead
    };
    const Case cases[] = {
        {"87x program bulk erase", PicChip::F876,
         [](PicDriver& d) { d.load(kLoadProg, 0x3FFF); d.cmd(kSetup1); d.cmd(kSetup2); d.cmd(kEraseProgram); d.waitMs(16); d.cmd(kSetup1); d.cmd(kSetup2); },
         {true, false, false, false}},
        {"87x data bulk erase", PicChip::F873,
         [](PicDriver& d) { d.load(kLoadData, 0x3FFF); d.cmd(kSetup1); d.cmd(kSetup2); d.cmd(kEraseProgram); d.waitMs(16); d.cmd(kSetup1); d.cmd(kSetup2); },
         {false, true, false, false}},
        {"87x erase through the configuration word", PicChip::F877,
         [](PicDriver& d) { d.config(7, 0x3FFF); d.cmd(kSetup1); d.cmd(kSetup2); d.cmd(kEraseProgram); d.waitMs(16); d.cmd(kSetup1); d.cmd(kSetup2); },
         {true, true, true, true}},
        {"87x set-up commands out of order do nothing in bulk", PicChip::F876,
         [](PicDriver& d) { d.load(kLoadProg, 0x3FFF); d.cmd(kSetup2); d.cmd(kSetup1); d.cmd(kEraseProgram); },
         {false, false, false, false}, 0, 1},
        {"87x ignores the A parts' erase commands", PicChip::F877,
         [](PicDriver& d) { d.cmd(kChipErase); d.cmd(kBulkProg); d.cmd(kBulkData); },
         {false, false, false, false}},
        {"A chip erase", PicChip::F877A, [](PicDriver& d) { d.cmd(kChipErase); d.waitMs(20); },
         {true, true, true, true}},
        {"A bulk erase program memory", PicChip::F876A,
         [](PicDriver& d) { d.cmd(kBulkProg); d.cmd(kEraseProgram); d.waitMs(8); },
         {true, false, false, false}},
        {"A bulk erase data memory", PicChip::F874A,
         [](PicDriver& d) { d.cmd(kBulkData); d.cmd(kEraseProgram); d.waitMs(8); },
         {false, true, false, false}},
        {"A parts ignore the 87x set-up commands", PicChip::F873A,
         [](PicDriver& d) { d.inc(100); d.load(kLoadProg, 0x3FFF); d.cmd(kSetup1); d.cmd(kSetup2); d.cmd(kEraseProgram); d.waitMs(16); },
         {false, false, false, false}, 96, 104},
    };
    for (const auto& c : cases) {
        Pic pic = loaded(c.chip);
        const Pic before = pic;
        PicDriver d{pic};
        d.enter();
        c.run(d);
        d.leave();
        const std::uint32_t words = pic.info().programWords, bytes = pic.info().eepromBytes;
        // Every word of a memory is either erased or untouched.
        for (std::uint32_t a = 0; a < words; ++a) {
            const bool spare = a >= c.spareFrom && a < c.spareTo;
            const auto want = c.erased.program || spare ? Pic::kBlank : before.programWord(a);
            ASSERT_EQ(pic.programWord(a), want) << c.name << " word " << a;
        }
        for (std::uint32_t e = 0; e < bytes; ++e)
            ASSERT_EQ(pic.eepromByte(e), c.erased.eeprom ? 0xFF : before.eepromByte(e)) << c.name << " byte " << e;
        for (std::uint32_t k = 0; k < 4; ++k)
            EXPECT_EQ(pic.cell(0x2000 + k), c.erased.ids ? Pic::kBlank : before.cell(0x2000 + k)) << c.name;
        EXPECT_EQ(pic.configWord(), c.erased.config ? Pic::kBlank : before.configWord()) << c.name;
        EXPECT_EQ(pic.deviceId(), before.deviceId()) << c.name;
    }
}

TEST(PicProtection, ProtectedRangesReadAsZero)
{
    // 87x: CP1:CP0 in bits 13:12 and 5:4; A parts: bit 13. CPD: bit 8.
    struct Case { PicChip chip; std::uint16_t config; std::uint32_t firstProtected; bool eepromProtected; };
    const Case cases[] = {
        {PicChip::F877, 0x3F72, 0x2000, false}, {PicChip::F877, 0x2F62, 0x1F00, false},
        {PicChip::F877, 0x1F52, 0x1000, false}, {PicChip::F877, 0x0F42, 0x0000, false},
        {PicChip::F873, 0x2F62, 0x0F00, false}, {PicChip::F873, 0x1F52, 0x0800, false},
        {PicChip::F874, 0x3E72, 0x1000, true},  {PicChip::F876A, 0x1F72, 0x0000, false},
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
        d.leave();
        d.enter();
        d.config(0);
        EXPECT_EQ(d.read(kReadProg), pic.cell(0x2000));
        d.inc(7);
        EXPECT_EQ(d.read(kReadProg) & ~0x1430, c.config & ~0x1430);
    }
}

TEST(PicProtection, ProtectedWordsAreNotWrittenAndOnlyTheFullEraseClearsThem)
{
    Pic pic = loaded(PicChip::F876);
    pic.setConfigWord(0x0F42); // everything protected
    const auto word10 = pic.programWord(10);
    PicDriver d{pic};
    d.enter();
    d.inc(10);
    d.load(kLoadProg, 0x0000);
    d.cmd(kProgramOnly);
    d.waitMs(8);
    EXPECT_EQ(pic.programWord(10), word10);
    d.leave();
    d.enter();
    d.load(kLoadProg, 0x3FFF); // program bulk erase: refused on a protected part
    d.cmd(kSetup1); d.cmd(kSetup2); d.cmd(kEraseProgram); d.waitMs(16); d.cmd(kSetup1); d.cmd(kSetup2);
    EXPECT_EQ(pic.programWord(10), word10);
    d.config(7, 0x3FFF);
    d.cmd(kSetup1); d.cmd(kSetup2); d.cmd(kEraseProgram); d.waitMs(16); d.cmd(kSetup1); d.cmd(kSetup2);
    EXPECT_EQ(pic.programWord(10), Pic::kBlank);
    EXPECT_EQ(pic.configWord(), Pic::kBlank);
    EXPECT_FALSE(pic.programProtected(0));
}

TEST(PicProtection, ChipEraseClearsAProtectedAPart)
{
    Pic pic = loaded(PicChip::F877A);
    pic.setConfigWord(0x1E72);
    PicDriver d{pic};
    d.enter();
    d.cmd(kBulkProg); // program bulk erase refused while CP is on
    d.cmd(kEraseProgram);
    d.waitMs(8);
    EXPECT_NE(pic.programWord(0), Pic::kBlank);
    d.cmd(kChipErase);
    d.waitMs(20);
    d.leave();
    EXPECT_EQ(pic.programWord(0), Pic::kBlank);
    EXPECT_EQ(pic.eepromByte(0), 0xFF);
    EXPECT_FALSE(pic.programProtected(0));
    EXPECT_FALSE(pic.eepromProtected());
}

TEST(PicConfig, UnimplementedBitsReadAsOne)
{
    struct Case { PicChip chip; std::uint16_t written; std::uint16_t read; };
    const Case cases[] = {
        {PicChip::F877A, 0x0000, 0x1030}, {PicChip::F873A, 0x2F4A, 0x3F7A},
        {PicChip::F876, 0x0000, 0x0400},  {PicChip::F874, 0x3B72, 0x3F72},
    };
    for (const auto& c : cases) {
        Pic pic(c.chip);
        PicDriver d{pic};
        d.enter();
        d.config(7);
        d.load(kLoadProg, c.written);
        d.cmd(kEraseProgram);
        d.waitMs(16);
        EXPECT_EQ(d.read(kReadProg), c.read) << pic.info().name;
    }
}

TEST(PicTiming, StrictModeUndoesCyclesCutShort)
{
    struct Case {
        const char* name;
        PicChip chip;
        int waitMs;
        bool applied;
    };
    // Program word 5 with 0x0123 by the chip's own cycle, wait, then send the next command.
    const Case cases[] = {
        {"87x program only, 8 ms", PicChip::F876, 8, true},
        {"87x program only, 7 ms", PicChip::F876, 7, false},
        {"87x program only, no wait", PicChip::F873, 0, false},
        {"A row, no wait before End Programming", PicChip::F876A, 0, true},
    };
    for (const auto& c : cases) {
        Pic pic(c.chip);
        pic.setStrictTiming(true);
        PicDriver d{pic};
        d.enter();
        d.inc(5);
        d.load(kLoadProg, 0x0123);
        d.cmd(kProgramOnly);
        d.waitMs(c.waitMs);
        d.cmd(pic.info().aFamily ? kEndProg : 0x06);
        EXPECT_EQ(pic.programWord(5), c.applied ? 0x0123 : Pic::kBlank) << c.name;
        EXPECT_EQ(pic.interruptedCycles(), c.applied ? 0u : 1u) << c.name;
    }
}

TEST(PicTiming, StrictModeChecksEraseCyclesToo)
{
    struct Case { PicChip chip; void (*erase)(PicDriver&); int minMs; };
    const Case cases[] = {
        {PicChip::F877, [](PicDriver& d) { d.load(kLoadProg, 0x3FFF); d.cmd(kSetup1); d.cmd(kSetup2); d.cmd(kEraseProgram); }, 16},
        {PicChip::F877A, [](PicDriver& d) { d.cmd(kChipErase); }, 20},
        {PicChip::F877A, [](PicDriver& d) { d.cmd(kBulkProg); d.cmd(kEraseProgram); }, 8},
    };
    for (const auto& c : cases) {
        for (int wait : {c.minMs - 1, c.minMs}) {
            Pic pic = loaded(c.chip);
            const auto word = pic.programWord(40);
            pic.setStrictTiming(true);
            PicDriver d{pic};
            d.enter();
            c.erase(d);
            d.waitMs(wait);
            d.leave(); // leaving programming mode also ends the cycle
            EXPECT_EQ(pic.programWord(40), wait >= c.minMs ? Pic::kBlank : word) << pic.info().name << " " << wait;
        }
    }
}

TEST(PicTiming, WithoutStrictModeTimeDoesNotMatter)
{
    Pic pic(PicChip::F877);
    PicDriver d{pic};
    d.enter();
    d.load(kLoadProg, 0x0042);
    d.cmd(kProgramOnly);
    d.cmd(0x06);
    EXPECT_EQ(pic.programWord(0), 0x0042);
    EXPECT_EQ(pic.interruptedCycles(), 0u);
}

TEST(PicFaults, StuckBitReadsItsValueWhateverIsWritten)
{
    Pic pic(PicChip::F876A);
    pic.stickBit(0x0010, 3, false);
    pic.stickBit(Pic::kEepromBase + 2, 7, true);
    PicDriver d{pic};
    d.enter();
    d.inc(2);
    d.load(kLoadData, 0x0011);
    d.cmd(kProgramOnly);
    d.cmd(kEndProg);
    EXPECT_EQ(d.read(kReadData), 0x91);
    d.inc(14);
    EXPECT_EQ(d.read(kReadProg), 0x3FF7);
    pic.clearStuckBits();
    EXPECT_EQ(d.read(kReadProg), 0x3FFF);
}

TEST(PicSeed, BoardFirmwareCarriesARetlwVersionTableOnBothSizes)
{
    for (PicChip chip : {PicChip::F873, PicChip::F876A}) {
        Pic pic(chip);
        const std::uint32_t at = sim::loadBoardFirmware(pic);
        const std::uint32_t words = pic.info().programWords;
        ASSERT_LT(at + 40, words);
        // The table: ADDWF PCL,F then one RETLW (0x34xx) per character.
        EXPECT_EQ(pic.programWord(at - 1), 0x0782);
        std::string text;
        for (std::uint32_t a = at; (pic.programWord(a) >> 8) == 0x34 && (pic.programWord(a) & 0xFF) != 0; ++a)
            text += static_cast<char>(pic.programWord(a) & 0xFF);
        EXPECT_EQ(text, sim::kDefaultBoardVersion);
        EXPECT_EQ(text.rfind("VELKOR V2.10 14/03/2011 ", 0), 0u);
        // The name appears once, so a search from the start finds this table.
        std::uint32_t found = 0, first = 0;
        for (std::uint32_t a = 0; a + 6 < words; ++a) {
            bool match = true;
            for (std::uint32_t k = 0; k < 6 && match; ++k) match = (pic.programWord(a + k) & 0xFF) == "VELKOR"[k];
            if (match && found++ == 0) first = a;
        }
        EXPECT_EQ(found, 1u);
        EXPECT_EQ(first, at);
        // A real program: 14-bit words, the top of memory blank, unprotected configuration.
        for (std::uint32_t a = 0; a < words; ++a) ASSERT_LE(pic.programWord(a), 0x3FFF);
        EXPECT_EQ(pic.programWord(words - 1), Pic::kBlank);
        EXPECT_EQ(pic.configWord() & 0x3130, 0x3130);
        EXPECT_NE(pic.eepromByte(0), 0xFF);
    }
}
