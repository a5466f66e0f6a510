// Identification, reading and programming against the emulated board PIC,
// in strict timing mode.
#include "emulator.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_program.h"
#include "programmer/pic_read.h"
#include "programmer/target_commands.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace talmo;
using namespace talmo::test;
using sim::PicChip;

namespace {

struct ChipCase {
    PicChip chip;
    unsigned revision;
    const char* name;
};

const ChipCase kChips[] = {
    {PicChip::F873, 0, "PIC16F873 Rev00"},    {PicChip::F874, 31, "PIC16F874 Rev31"},
    {PicChip::F876, 7, "PIC16F876 Rev07"},    {PicChip::F877, 1, "PIC16F877 Rev01"},
    {PicChip::F873A, 2, "PIC16F873A Rev02"},  {PicChip::F874A, 12, "PIC16F874A Rev12"},
    {PicChip::F876A, 7, "PIC16F876A Rev07"},  {PicChip::F877A, 4, "PIC16F877A Rev04"},
};

std::string Hex(const char* format, std::uint32_t a, std::uint32_t b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

PicIdentification Identified(Emulator& e) {
    PicIdentification ident;
    EXPECT_EQ(IdentifyPic(e.link, e.ui, ident).result, 1);
    return ident;
}

// What the chip holds now compared with the image, within the chip's sizes.
void ExpectChipHolds(Emulator& e, const PicImage& image) {
    const auto& info = e.info();
    for (std::uint32_t a = 0; a < info.programWords; ++a)
        ASSERT_EQ(e.pic()->readBack(a), image.entries[a]) << "program word " << a;
    for (std::uint32_t a = 0; a < info.eepromBytes; ++a)
        ASSERT_EQ(e.pic()->eepromByte(a), image.entries[kPicEepromAddress + a] & 0xFF) << "EEPROM byte " << a;
    for (std::uint32_t k = 0; k < 4; ++k)
        ASSERT_EQ(e.pic()->cell(kPicIdAddress + k), image.entries[kPicIdAddress + k]) << "ID word " << k;
    ASSERT_EQ(e.pic()->cell(kPicConfigAddress), image.entries[kPicConfigAddress]);
}

// The waits a successful run must have made, from the image alone.
std::vector<int> ExpectedWaits(const PicImage& image, const PicIdentification& ident) {
    std::vector<int> waits;
    if (ident.aFamily == 0) {
        const bool prot = PicProtected(ident.configWord);
        waits.insert(waits.end(), prot ? 1 : 2, 16); // erase cycles
        waits.push_back(16);                         // before the first word
        for (std::uint32_t a = 0; a < ident.programSize; ++a) {
            if (image.entries[a] != 0x3FFF)
                waits.push_back(8);
            if (a < ident.eepromSize && (image.entries[kPicEepromAddress + a] & 0xFF) != 0xFF)
                waits.push_back(8);
        }
        waits.insert(waits.end(), 5, 16); // four ID words and the configuration word
    } else {
        waits = {20, 8, 8, 16, 16};
    }
    return waits;
}

std::vector<int> WaitsShown(const ScriptedUi& ui) {
    std::vector<int> waits;
    for (const auto& ev : ui.events())
        if (ev.kind == UiEvent::Wait)
            waits.push_back(ev.ms);
    return waits;
}

} // namespace

// ---------------------------------------------------------------------------
// Identification

TEST(PicOnEmulator, IdentifiesEachChipInThirteenReports) {
    for (const auto& c : kChips) {
        SCOPED_TRACE(c.name);
        Emulator e(c.chip, c.revision);
        const auto from = e.mark();
        PicIdentification ident;
        const IdentifyOutcome out = IdentifyPic(e.link, e.ui, ident);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.picText, c.name);
        EXPECT_EQ(e.dev->log().size() - from, 13u);
        EXPECT_EQ(e.countY(from), 13u);
        EXPECT_EQ(ident.programSize, e.info().programWords);
        EXPECT_EQ(ident.eepromSize, e.info().eepromBytes);
        EXPECT_EQ(ident.aFamily, e.info().aFamily ? 1u : 0u);
        EXPECT_EQ(ident.configWord, e.pic()->readBack(kPicConfigAddress));
        EXPECT_FALSE(PicProtected(ident.configWord));
        EXPECT_EQ(e.ui.status(MessageField), Hex("PIC: 0x%04X", e.pic()->deviceId(), 0));
        EXPECT_FALSE(e.pic()->programmingMode());
    }
}

TEST(PicOnEmulator, ABoardWithoutPicIsUnknown) {
    Emulator e(PicChip::F876A);
    e.dev->removePic();
    PicIdentification ident;
    const IdentifyOutcome out = IdentifyPic(e.link, e.ui, ident);
    EXPECT_EQ(out.result, 0);
    EXPECT_TRUE(out.sequenceCompleted);
    EXPECT_EQ(out.picText, "Unknown");
    EXPECT_EQ(ident.programSize, 0u);
    EXPECT_EQ(e.ui.status(MessageField), "PIC: 0x3FFF");
}

TEST(PicOnEmulator, ASilentDeviceFailsIdentificationAfterOneTimeOut) {
    Emulator e(PicChip::F877);
    e.dev->faults().silentFrom = e.next();
    const auto t0 = e.clock.nowMs();
    PicIdentification ident;
    EXPECT_EQ(IdentifyPic(e.link, e.ui, ident).result, 0);
    EXPECT_EQ(e.clock.nowMs() - t0, 500);
    EXPECT_TRUE(e.ui.statusTexts(MessageField).empty());
}

// ---------------------------------------------------------------------------
// Reading

TEST(PicOnEmulator, ReadsEachChipWhole) {
    for (const auto& c : kChips) {
        SCOPED_TRACE(c.name);
        Emulator e(c.chip, c.revision);
        const PicIdentification ident = Identified(e);
        auto image = BlankImage();
        image->entries.fill(0x1234); // nothing of an earlier image survives
        e.ui.clearEvents();
        const auto from = e.mark();
        ASSERT_EQ(ReadPic(e.link, e.ui, *image, ident), 1);

        const std::uint32_t p = ident.programSize, ee = ident.eepromSize;
        // Leave, enter, a read and an increment per word, an EEPROM read at
        // each of the first E addresses, Load Configuration, eight reads and
        // increments, leave.
        EXPECT_EQ(e.countY(from), 2 + 2 * p + ee + 1 + 16 + 1);
        EXPECT_EQ(e.dev->log().countTarget(kTargetRead, pic_cmd::ReadProgramData, from), p + 8);
        EXPECT_EQ(e.dev->log().countTarget(kTargetRead, pic_cmd::ReadDataMemory, from), ee);

        for (std::uint32_t a = 0; a < kPicImageSize; ++a) {
            std::uint32_t want = 0x3FFF;
            if (a < p || (a >= 0x2000 && a <= 0x2003) || a == 0x2007)
                want = e.pic()->readBack(a);
            else if (a >= kPicEepromAddress && a < kPicEepromAddress + ee)
                want = e.pic()->eepromByte(a - kPicEepromAddress);
            ASSERT_EQ(image->entries[a], want) << std::hex << "entry 0x" << a;
        }

        const auto texts = e.ui.statusTexts(MessageField);
        ASSERT_EQ(texts.size(), (p + 19) / 20 + 2);
        EXPECT_EQ(texts.front(), Hex("Lecture de l'adresse: 0x%04X/0x%04X", 0, p));
        EXPECT_EQ(texts[texts.size() - 3], Hex("Lecture de l'adresse: 0x%04X/0x%04X", p == 0x2000 ? 0x1FF4 : 0x0FF0, p));
        EXPECT_EQ(texts[texts.size() - 2], "Lecture zone ID: 0x2000/0x2007");
        EXPECT_EQ(texts.back(), "Lecture: OK");
        EXPECT_FALSE(e.pic()->programmingMode());

        // Twice in a row gives the same image.
        auto again = BlankImage();
        ASSERT_EQ(ReadPic(e.link, e.ui, *again, ident), 1);
        EXPECT_TRUE(again->entries == image->entries);
    }
}

TEST(PicOnEmulator, AReadStopsAtItsFirstFailedStep) {
    Emulator e(PicChip::F877A);
    const PicIdentification ident = Identified(e);
    // Offsets of the failing request within the read: the first leave, a
    // word read, an EEPROM read, an increment, Load Configuration, an ID read,
    // the last leave.
    const std::uint32_t total = 2 + 2 * 8192 + 256 + 1 + 16 + 1;
    const std::uint32_t offsets[] = {0, 2 + 3 * 5, 2 + 3 * 5 + 1, 2 + 3 * 5 + 2, 2 + 3 * 256 + 2 * (8192 - 256),
                                     2 + 3 * 256 + 2 * (8192 - 256) + 3, total - 1};
    for (std::uint32_t off : offsets) {
        for (bool silent : {false, true}) {
            SCOPED_TRACE(testing::Message() << "offset " << off << (silent ? " silent" : " wrong echo"));
            e.dev->faults() = sim::Faults{};
            if (silent)
                e.dev->faults().silentAt = e.next() + off;
            else
                e.dev->faults().wrongEchoAt = e.next() + off;
            auto image = BlankImage();
            e.ui.clearEvents();
            const auto from = e.mark();
            EXPECT_EQ(ReadPic(e.link, e.ui, *image, ident), 0);
            EXPECT_EQ(e.dev->log().size() - from, off + 1) << "nothing is sent after the failed step";
            const auto texts = e.ui.statusTexts(MessageField);
            if (off == 0)
                EXPECT_TRUE(texts.empty());
            else
                EXPECT_NE(texts.back(), "Lecture: OK");
            if (off == 0) {
                for (auto v : image->entries)
                    ASSERT_EQ(v, 0x3FFFu);
            }
            if (off == 2 + 3 * 5 + 1) { // the EEPROM read of address 5 failed
                EXPECT_EQ(image->entries[5], e.pic()->readBack(5));
            }
        }
        // The target is left as the failed sequence left it; a new leave
        // and enter start afresh.
        e.dev->faults() = sim::Faults{};
        Report r{};
        TargetLeave(e.link, r);
    }
}

// ---------------------------------------------------------------------------
// Programming

TEST(PicOnEmulator, ProgramsEachChipAndVerifies) {
    for (const auto& c : kChips) {
        SCOPED_TRACE(c.name);
        Emulator e(c.chip, c.revision);
        const PicIdentification ident = Identified(e);
        auto image = BlankImage();
        FillOtherFirmware(*image, ident.programSize, ident.eepromSize, 0x3FF2);
        e.ui.clearEvents();
        const auto t0 = e.clock.nowUs();
        ASSERT_EQ(ProgramPic(e.link, e.ui, *image, ident), 1) << e.ui.status(MessageField);
        EXPECT_EQ(e.ui.status(MessageField), "Programmation+Vérification: OK");
        EXPECT_EQ(e.pic()->interruptedCycles(), 0u);
        EXPECT_FALSE(e.pic()->programmingMode());
        ExpectChipHolds(e, *image);

        const auto waits = WaitsShown(e.ui);
        EXPECT_EQ(waits, ExpectedWaits(*image, ident));
        std::int64_t waited = 0;
        for (int w : waits)
            waited += w * 1000;
        EXPECT_EQ(e.clock.nowUs() - t0, waited) << "the emulator answers at once: only the waits take time";

        const auto texts = e.ui.statusTexts(MessageField);
        const std::uint32_t p = ident.programSize;
        EXPECT_EQ(texts.front(), "Effacement du PIC");
        auto has = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) != texts.end(); };
        if (ident.aFamily) {
            EXPECT_TRUE(has(Hex("Programmation PROG: 0x%04X/0x%04X", p == 0x2000 ? 0x1FE0 : 0x0FF0, p)));
            EXPECT_FALSE(has(Hex("Programmation PROG: 0x%04X/0x%04X", p == 0x2000 ? 0x1FF4 : 0x0FF0 + 8, p)));
            EXPECT_TRUE(has(Hex("Programmation EEPROM: 0x%02X/0x%02X", 0, ident.eepromSize)));
            EXPECT_TRUE(has("Programmation ID: 0x2000/0x2003"));
            EXPECT_TRUE(has(Hex("Vérification: 0x%04X/0x%04X", p == 0x2000 ? 0x1FF4 : 0x0FF0, p)));
            EXPECT_TRUE(has("Vérification: 0x2000/0x2007"));
        } else {
            EXPECT_EQ(texts[texts.size() - 3],
                      Hex("Programmation+Vérification: 0x%04X/0x%04X", p == 0x2000 ? 0x1FF4 : 0x0FF0, p));
            EXPECT_EQ(texts[texts.size() - 2], "Programmation+Vérification: 0x2000/0x2007");
        }

        // Read back: the board holds the image.
        auto back = BlankImage();
        ASSERT_EQ(ReadPic(e.link, e.ui, *back, ident), 1);
        for (std::uint32_t a = 0; a < kPicImageSize; ++a) {
            const bool used = a < p || (a >= 0x2000 && a <= 0x2003) || a == 0x2007 ||
                              (a >= kPicEepromAddress && a < kPicEepromAddress + ident.eepromSize);
            const std::uint32_t mask = a >= kPicEepromAddress ? 0xFF : 0xFFFFFFFF;
            if (used) {
                ASSERT_EQ(back->entries[a], image->entries[a] & mask) << std::hex << "entry 0x" << a;
            }
        }
    }
}

namespace {

struct Step {
    std::uint8_t sub, code;
    std::uint16_t word;
};

std::vector<Step> Steps(Emulator& e, std::size_t from, std::size_t count) {
    std::vector<Step> out;
    for (const auto& s : e.dev->log().targetSteps(from)) {
        if (out.size() == count)
            break;
        out.push_back({s.sub, s.code, s.word});
    }
    return out;
}

void ExpectSteps(const std::vector<Step>& got, const std::vector<Step>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].sub, want[i].sub);
        if (want[i].sub >= kTargetRead) {
            EXPECT_EQ(got[i].code, want[i].code);
        }
        if (want[i].sub == kTargetLoad) {
            EXPECT_EQ(got[i].word, want[i].word);
        }
    }
}

constexpr std::uint8_t L = kTargetLeave, N = kTargetEnter, C = kTargetCommand, D = kTargetLoad;

} // namespace

TEST(PicOnEmulator, EraseSequences) {
    struct Case {
        const char* what;
        PicChip chip;
        std::uint16_t config; // on the chip before programming
        std::vector<Step> steps;
        std::vector<int> waits;
    } cases[] = {
        {"word mode, unprotected", PicChip::F876, 0x3F72,
         {{L, 0, 0}, {N, 0, 0}, {D, 0x02, 0x3FFF}, {C, 0x01, 0}, {C, 0x07, 0}, {C, 0x08, 0}, {C, 0x01, 0},
          {C, 0x07, 0}, {D, 0x03, 0x3FFF}, {C, 0x01, 0}, {C, 0x07, 0}, {C, 0x08, 0}, {C, 0x01, 0}, {C, 0x07, 0}},
         {16, 16, 16}},
        {"word mode, protected", PicChip::F873, 0x0F42,
         {{L, 0, 0}, {N, 0, 0}, {D, 0x00, 0x3FFF}, {C, 6, 0}, {C, 6, 0}, {C, 6, 0}, {C, 6, 0}, {C, 6, 0},
          {C, 6, 0}, {C, 6, 0}, {C, 0x01, 0}, {C, 0x07, 0}, {C, 0x08, 0}, {C, 0x01, 0}, {C, 0x07, 0}, {L, 0, 0},
          {N, 0, 0}},
         {16, 16}},
        {"block mode", PicChip::F874A, 0x1E72,
         {{L, 0, 0}, {N, 0, 0}, {C, 0x1F, 0}, {C, 0x09, 0}, {C, 0x08, 0}, {C, 0x0B, 0}, {C, 0x08, 0}},
         {20, 8, 8}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Emulator e(c.chip);
        e.pic()->setConfigWord(c.config);
        const PicIdentification ident = Identified(e);
        EXPECT_EQ(PicProtected(ident.configWord), c.config != 0x3F72);
        auto image = BlankImage(); // a blank image: no word is loaded
        e.ui.clearEvents();
        const auto from = e.mark();
        ASSERT_EQ(ProgramPic(e.link, e.ui, *image, ident), 1) << e.ui.status(MessageField);
        ExpectSteps(Steps(e, from, c.steps.size()), c.steps);
        auto waits = WaitsShown(e.ui);
        waits.resize(std::min(waits.size(), c.waits.size()));
        EXPECT_EQ(waits, c.waits);
        // Everything, protection included, is erased.
        EXPECT_FALSE(e.pic()->programProtected(0));
        EXPECT_FALSE(e.pic()->eepromProtected());
        for (std::uint32_t a = 0; a < e.info().programWords; ++a)
            ASSERT_EQ(e.pic()->readBack(a), 0x3FFF);
        EXPECT_EQ(e.dev->log().countTarget(kTargetLoad, pic_cmd::LoadProgramData, from),
                  c.chip == PicChip::F876 ? 6u : 5u)
            << "a blank image loads only the erase word, the ID words and the configuration word";
    }
}

TEST(PicOnEmulator, ProtectedChipsEndAsTheFileSays) {
    struct Case {
        const char* what;
        PicChip chip;
        std::uint16_t before, file;
        bool protectedAfter;
    } cases[] = {
        {"word mode, protected to unprotected", PicChip::F877, 0x0F72, 0x3FF2, false},
        {"word mode, protected to protected", PicChip::F874, 0x0F72, 0x0EF2, true},
        {"word mode, upper half protected", PicChip::F876, 0x2F62, 0x3FF2, false},
        {"block mode, protected to unprotected", PicChip::F876A, 0x1F72, 0x3FF2, false},
        {"block mode, protected to protected", PicChip::F873A, 0x1E72, 0x1EF2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Emulator e(c.chip);
        e.pic()->setConfigWord(c.before);
        const PicIdentification ident = Identified(e);
        ASSERT_TRUE(PicProtected(ident.configWord));
        auto image = BlankImage();
        FillOtherFirmware(*image, ident.programSize, ident.eepromSize, c.file);
        ASSERT_EQ(ProgramPic(e.link, e.ui, *image, ident), 1) << e.ui.status(MessageField);
        EXPECT_EQ(e.ui.status(MessageField), "Programmation+Vérification: OK");
        EXPECT_EQ(e.pic()->cell(kPicConfigAddress), c.file);
        EXPECT_EQ(e.pic()->programProtected(0), c.protectedAfter);
        EXPECT_EQ(e.pic()->interruptedCycles(), 0u);
        // Unprotect to look at what was written.
        const std::uint16_t keep = e.pic()->cell(kPicConfigAddress);
        e.pic()->setConfigWord(0x3FFF);
        image->entries[kPicConfigAddress] = 0x3FFF;
        ExpectChipHolds(e, *image);
        EXPECT_EQ(keep, c.file);
    }
}

TEST(PicOnEmulator, ARowWithOneWordIsLoadedWhole) {
    Emulator e(PicChip::F877A);
    const PicIdentification ident = Identified(e);
    auto image = BlankImage();
    image->entries[0x0013] = 0x2ABC; // row 0x0010
    e.ui.clearEvents();
    const auto from = e.mark();
    ASSERT_EQ(ProgramPic(e.link, e.ui, *image, ident), 1);
    // After the erase (7 steps): rows 0 and 8 are eight increments each, then
    // row 0x10: eight loads with increments between, 0x18, 0x17, increment.
    const auto all = Steps(e, from, 7 + 16 + 8 + 7 + 3);
    std::vector<Step> want(all.begin(), all.begin() + 7);
    for (int i = 0; i < 16; ++i)
        want.push_back({C, 6, 0});
    for (std::uint32_t a = 0x10; a < 0x18; ++a) {
        want.push_back({D, 0x02, static_cast<std::uint16_t>(image->entries[a])});
        if (a != 0x17)
            want.push_back({C, 6, 0});
    }
    want.push_back({C, 0x18, 0});
    want.push_back({C, 0x17, 0});
    want.push_back({C, 6, 0});
    ExpectSteps(all, want);
    EXPECT_EQ(e.dev->log().countTarget(kTargetCommand, pic_cmd::BeginProgrammingOnly, from), 1u);
    EXPECT_EQ(e.pic()->readBack(0x13), 0x2ABC);
}

namespace {

// Where a fault is put: the n-th request (from 0) of the run that matches.
struct PhaseCase {
    const char* phase;
    PicChip chip;
    std::function<bool(const sim::TargetStep&)> match;
    int nth;
};

} // namespace

TEST(PicOnEmulator, ACommunicationFaultInEachPhaseStopsTheRun) {
    auto is = [](std::uint8_t sub, std::uint8_t code) {
        return [=](const sim::TargetStep& s) { return s.sub == sub && (sub < kTargetRead || s.code == code); };
    };
    auto loadWord = [](std::uint16_t w) {
        return [=](const sim::TargetStep& s) { return s.sub == kTargetLoad && s.code == 0x02 && s.word == w; };
    };
    const PhaseCase cases[] = {
        {"word: first leave", PicChip::F876, is(L, 0), 0},
        {"word: erase", PicChip::F876, is(C, 0x08), 1},
        {"word: program", PicChip::F876, is(C, 0x18), 10},
        {"word: EEPROM", PicChip::F876, is(D, 0x03), 4},
        {"word: verify", PicChip::F876, is(kTargetRead, 0x04), 300},
        {"word: EEPROM verify", PicChip::F876, is(kTargetRead, 0x05), 7},
        {"word: ID", PicChip::F876, loadWord(0x0223), 0},
        {"word: configuration", PicChip::F876, loadWord(0x3FF2), 0},
        {"word: last leave", PicChip::F876, is(L, 0), 1},
        {"block: erase", PicChip::F877A, is(C, 0x1F), 0},
        {"block: program", PicChip::F877A, is(C, 0x17), 20},
        {"block: EEPROM", PicChip::F877A, is(D, 0x03), 9},
        {"block: ID", PicChip::F877A, loadWord(0x0323), 0},
        {"block: configuration", PicChip::F877A, loadWord(0x3FF2), 0},
        {"block: verify", PicChip::F877A, is(kTargetRead, 0x04), 5000},
        {"block: ID verify", PicChip::F877A, is(kTargetRead, 0x04), 8192 + 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phase);
        // A clean run finds the request's place in the sequence.
        std::size_t offset = 0;
        {
            Emulator e(c.chip);
            const PicIdentification ident = Identified(e);
            auto image = BlankImage();
            FillOtherFirmware(*image, ident.programSize, ident.eepromSize, 0x3FF2);
            const auto from = e.mark();
            ASSERT_EQ(ProgramPic(e.link, e.ui, *image, ident), 1);
            int seen = -1;
            const auto steps = e.dev->log().targetSteps(from);
            for (offset = 0; offset < steps.size(); ++offset)
                if (c.match(steps[offset]) && ++seen == c.nth)
                    break;
            ASSERT_LT(offset, steps.size());
        }
        for (bool silent : {false, true}) {
            Emulator e(c.chip);
            const PicIdentification ident = Identified(e);
            auto image = BlankImage();
            FillOtherFirmware(*image, ident.programSize, ident.eepromSize, 0x3FF2);
            if (silent)
                e.dev->faults().silentAt = e.next() + offset;
            else
                e.dev->faults().wrongEchoAt = e.next() + offset;
            e.ui.clearEvents();
            const auto from = e.mark();
            EXPECT_EQ(ProgramPic(e.link, e.ui, *image, ident), 0);
            EXPECT_EQ(e.ui.status(MessageField), "TALMO communication: Erreur");
            EXPECT_EQ(e.dev->log().size() - from, offset + 1) << "nothing is sent after the failed step";
        }
    }
}

TEST(PicOnEmulator, TheFirstDifferenceEndsTheRun) {
    struct Case {
        const char* what;
        PicChip chip;
        std::uint32_t address;
        unsigned bit;
        bool value;
        std::function<std::string(const PicImage&, std::uint32_t)> text; // empty: no difference seen
    } cases[] = {
        {"word mode, program word", PicChip::F873, 0x0456, 3, false,
         [](const PicImage& i, std::uint32_t got) { return Hex("Erreur PROG 0x%04X:%04X!=", 0x456, i.entries[0x456]) + Hex("%04X", got, 0); }},
        {"block mode, program word", PicChip::F876A, 0x1FFF, 13, false,
         [](const PicImage& i, std::uint32_t got) { return Hex("Erreur PROG 0x%04X:%04X!=", 0x1FFF, i.entries[0x1FFF]) + Hex("%04X", got, 0); }},
        {"word mode, EEPROM byte", PicChip::F877, kPicEepromAddress + 0x42, 0, false,
         [](const PicImage& i, std::uint32_t got) { return Hex("Erreur EEPROM 0x%04X:%02X!=", 0x42, i.entries[kPicEepromAddress + 0x42] & 0xFF) + Hex("%02X", got, 0); }},
        {"word mode, ID word", PicChip::F874, 0x2002, 1, false,
         [](const PicImage& i, std::uint32_t got) { return Hex("Erreur ID 0x%04X:%04X!=", 0x2002, i.entries[0x2002]) + Hex("%04X", got, 0); }},
        {"block mode, ID word", PicChip::F874A, 0x2001, 1, false,
         [](const PicImage& i, std::uint32_t got) { return Hex("Erreur ID 0x%04X:%04X!=", 0x2001, i.entries[0x2001]) + Hex("%04X", got, 0); }},
        {"word mode, configuration word", PicChip::F876, 0x2007, 6, false,
         [](const PicImage& i, std::uint32_t got) { return Hex("Erreur ID 0x%04X:%04X!=", 0x2007, i.entries[0x2007]) + Hex("%04X", got, 0); }},
        {"block mode does not verify the EEPROM", PicChip::F877A, kPicEepromAddress + 0x42, 0, false, nullptr},
        {"block mode does not verify the configuration word", PicChip::F877A, 0x2007, 6, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Emulator e(c.chip);
        const PicIdentification ident = Identified(e);
        auto image = BlankImage();
        FillOtherFirmware(*image, ident.programSize, ident.eepromSize, 0x3FF2);
        image->entries[kPicEepromAddress + 0x42] = 0x5B; // bit 0 set, so a stuck 0 shows
        image->entries[0x1FFF] = 0x3FFF;
        image->entries[0x0456] = 0x0008;                 // bit 3 set
        e.pic()->stickBit(c.address, c.bit, c.value);
        const std::uint16_t idBefore = e.pic()->cell(0x2000), configBefore = e.pic()->cell(0x2007);
        e.ui.clearEvents();
        const auto from = e.mark();
        const int result = ProgramPic(e.link, e.ui, *image, ident);
        if (!c.text) {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(e.ui.status(MessageField), "Programmation+Vérification: OK");
            continue;
        }
        EXPECT_EQ(result, 0);
        const std::uint32_t expected = c.address >= kPicEepromAddress ? image->entries[c.address] & 0xFF
                                                                      : image->entries[c.address];
        const std::uint32_t got = expected & ~(1u << c.bit);
        EXPECT_EQ(e.ui.status(MessageField), c.text(*image, got));
        // The compare was the last request: nothing after it.
        const auto& last = e.dev->log().entries().back();
        EXPECT_EQ(last.request[2], kTargetRead);
        if (c.address == 0x0456 && c.chip == PicChip::F873) {
            // Word mode: nothing past that address is written, and the ID
            // and configuration words are not touched (the bulk erase of an
            // unprotected chip leaves them).
            EXPECT_EQ(e.pic()->cell(0x0457), 0x3FFF);
            EXPECT_EQ(e.pic()->cell(0x2000), idBefore);
            EXPECT_EQ(e.pic()->cell(0x2007), configBefore);
            EXPECT_EQ(e.dev->log().countTarget(kTargetCommand, pic_cmd::BeginEraseProgram, from), 2u);
            std::size_t written = 1; // the erase's own load
            for (std::uint32_t a = 0; a < 128; ++a)
                written += (image->entries[kPicEepromAddress + a] & 0xFF) != 0xFF;
            EXPECT_EQ(e.dev->log().countTarget(kTargetLoad, pic_cmd::LoadDataMemory, from), written)
                << "erase plus the non-blank EEPROM bytes of the 128";
        }
    }
}
