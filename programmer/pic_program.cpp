#include "programmer/pic_program.h"

#include "core/ui.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "programmer/target_commands.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>

namespace talmo {

namespace {

constexpr std::uint32_t kBlankEepromByte = 0xFF;
constexpr std::uint32_t kBlockWords = 8;
constexpr std::uint32_t kProgressInterval = 20;

// One run: the link, the facade, the buffer shared by every step, and the
// sizes clamped to the image's areas.
struct Run {
    DeviceLink& link;
    Ui& ui;
    const PicImage& image;
    Report report{};
    std::uint32_t p = 0;
    std::uint32_t e = 0;
    std::uint32_t steps = 0;    // progress: the whole run's steps
    bool protectedChip = false; // as read at identification: word mode's erase

    // Every step below shows the communication error itself when it fails,
    // so that the sequences read as plain lists of steps.
    bool fail() {
        ui.setStatusText(MessageField, "TALMO communication: Erreur");
        return false;
    }
    bool enter() { return TargetEnter(link, report) || fail(); }
    bool leave() { return TargetLeave(link, report) || fail(); }
    bool command(std::uint8_t code) { return TargetCommand(link, report, code) || fail(); }
    bool load(std::uint8_t code, std::uint32_t word) {
        return TargetLoad(link, report, code, static_cast<std::uint16_t>(word)) || fail();
    }
    bool read(std::uint8_t code, std::uint16_t* word) {
        return TargetRead(link, report, code, word) || fail();
    }
    bool increment() { return command(pic_cmd::IncrementAddress); }
    bool incrementTimes(int n) {
        for (int i = 0; i < n; ++i)
            if (!increment())
                return false;
        return true;
    }
    void wait(int ms) { ui.waitMs(ms); }
    void progress(const char* phase, std::uint32_t done) { ui.progress(phase, done, steps); }

    std::uint32_t word(std::uint32_t a) const { return image.entries[a]; }
    std::uint32_t eepromByte(std::uint32_t a) const {
        return image.entries[kPicEepromAddress + a] & 0xFF;
    }

    void show(const char* format, std::uint32_t a, std::uint32_t of) {
        char text[64];
        std::snprintf(text, sizeof text, format, a, of);
        ui.setStatusText(MessageField, text);
    }
    void showDifference(const char* format, std::uint32_t a, std::uint32_t expected,
                        std::uint32_t got) {
        char text[64];
        std::snprintf(text, sizeof text, format, a, expected, got);
        ui.setStatusText(MessageField, text);
    }
};

// Both bulk-erase setup commands, optionally followed by Begin Erase/Program.
bool EraseSetup(Run& r, bool cycle) {
    if (!r.command(pic_cmd::BulkEraseSetup1) || !r.command(pic_cmd::BulkEraseSetup2))
        return false;
    if (cycle) {
        if (!r.command(pic_cmd::BeginEraseProgram))
            return false;
        r.wait(pic_wait::WordEraseCycle);
    }
    return true;
}

// Word mode, phase by phase, as block mode below: each phase returns false
// at its first failed step or verification difference, with its text
// already shown.

// The bulk erase that the protection bits read at identification choose.
bool WordErase(Run& r) {
    if (!r.protectedChip) {
        // Program memory, then data memory, each by its bulk-erase sequence.
        if (!r.load(pic_cmd::LoadProgramData, 0x3FFF) || !EraseSetup(r, true) ||
            !EraseSetup(r, false))
            return false;
        if (!r.load(pic_cmd::LoadDataMemory, 0x3FFF) || !EraseSetup(r, true) ||
            !EraseSetup(r, false))
            return false;
    } else {
        // Through the configuration word: erases everything, protection included.
        if (!r.load(pic_cmd::LoadConfiguration, 0x3FFF) || !r.incrementTimes(7))
            return false;
        if (!EraseSetup(r, true) || !EraseSetup(r, false))
            return false;
        if (!r.leave() || !r.enter())
            return false;
    }
    r.wait(pic_wait::WordAfterErase);
    return true;
}

// One program word at the counter: written unless blank, read back.
bool WordProgramWord(Run& r, std::uint32_t a) {
    const std::uint32_t w = r.word(a);
    if (w != kPicBlankWord) {
        if (!r.load(pic_cmd::LoadProgramData, w) || !r.command(pic_cmd::BeginProgrammingOnly))
            return false;
        r.wait(pic_wait::WordProgramOnly);
    }
    std::uint16_t got = 0;
    if (!r.read(pic_cmd::ReadProgramData, &got))
        return false;
    if (got != w) {
        r.showDifference("Erreur PROG 0x%04X:%04X!=%04X", a, w, got);
        return false;
    }
    return true;
}

// The EEPROM byte at the same counter: written unless erased, read back.
bool WordEepromByte(Run& r, std::uint32_t a) {
    const std::uint32_t b = r.eepromByte(a);
    if (b != kBlankEepromByte) {
        if (!r.load(pic_cmd::LoadDataMemory, b) || !r.command(pic_cmd::BeginProgrammingOnly))
            return false;
        r.wait(pic_wait::WordProgramOnly);
    }
    if (!r.read(pic_cmd::ReadDataMemory, nullptr))
        return false;
    const std::uint32_t gotByte = r.report[3];
    if (gotByte != b) {
        r.showDifference("Erreur EEPROM 0x%04X:%02X!=%02X", a, b, gotByte);
        return false;
    }
    return true;
}

// Program memory and EEPROM in one walk of the counter.
bool WordMemories(Run& r) {
    for (std::uint32_t a = 0; a < r.p; ++a) {
        r.progress("Programmation+Vérification", a);
        if (a % kProgressInterval == 0)
            r.show("Programmation+Vérification: 0x%04X/0x%04X", a, r.p);
        if (!WordProgramWord(r, a) || (a < r.e && !WordEepromByte(r, a)) || !r.increment())
            return false;
    }
    return true;
}

// The ID words and the configuration word, each written and read back.
bool WordIdAndConfig(Run& r) {
    if (!r.load(pic_cmd::LoadConfiguration, 0x0000))
        return false;
    r.progress("Programmation+Vérification", r.p);
    r.ui.setStatusText(MessageField, "Programmation+Vérification: 0x2000/0x2007");
    for (std::uint32_t i = 0; i < 8; ++i) {
        r.progress("Programmation+Vérification", r.p + i);
        if (i < 4 || i == 7) {
            const std::uint32_t a = kPicIdAddress + i;
            const std::uint32_t w = r.word(a);
            if (!r.load(pic_cmd::LoadProgramData, w) || !r.command(pic_cmd::BeginEraseProgram))
                return false;
            r.wait(pic_wait::WordConfigCycle);
            std::uint16_t got = 0;
            if (!r.read(pic_cmd::ReadProgramData, &got))
                return false;
            if (got != w) {
                r.showDifference("Erreur ID 0x%04X:%04X!=%04X", a, w, got);
                return false;
            }
        }
        if (!r.increment())
            return false;
    }
    return true;
}

bool WordFinish(Run& r) {
    if (!r.leave())
        return false;
    r.progress("Programmation+Vérification", r.steps);
    r.ui.setStatusText(MessageField, "Programmation+Vérification: OK");
    return true;
}

using Phase = bool (*)(Run&);

bool RunPhases(Run& r, std::initializer_list<Phase> phases) {
    for (const Phase phase : phases)
        if (!phase(r))
            return false;
    return true;
}

bool WordMode(Run& r) {
    return RunPhases(r, {WordErase, WordMemories, WordIdAndConfig, WordFinish});
}

// Block mode, phase by phase. Each phase returns false at its first failed
// step or verification difference, with its text already shown.

// Chip Erase, then program memory and data memory each by its bulk erase.
bool BlockErase(Run& r) {
    if (!r.command(pic_cmd::ChipErase))
        return false;
    r.wait(pic_wait::BlockChipErase);
    for (const std::uint8_t bulk : {pic_cmd::BulkEraseProgram, pic_cmd::BulkEraseData}) {
        if (!r.command(bulk) || !r.command(pic_cmd::BeginEraseProgram))
            return false;
        r.wait(pic_wait::BlockBulkErase);
    }
    return true;
}

bool BlankRow(const Run& r, std::uint32_t b) {
    for (std::uint32_t a = b; a < b + kBlockWords; ++a)
        if (r.word(a) != kPicBlankWord)
            return false;
    return true;
}

// Program memory, one 8-word row at a time, each row's cycle ended by End
// Programming; blank rows are stepped over. The counter ends at P.
bool BlockProgramMemory(Run& r) {
    for (std::uint32_t b = 0; b < r.p; b += kBlockWords) {
        r.progress("Programmation PROG", b);
        if (b % kProgressInterval == 0)
            r.show("Programmation PROG: 0x%04X/0x%04X", b, r.p);
        if (BlankRow(r, b)) {
            if (!r.incrementTimes(kBlockWords))
                return false;
            continue;
        }
        for (std::uint32_t a = b; a < b + kBlockWords; ++a) {
            if (!r.load(pic_cmd::LoadProgramData, r.word(a)))
                return false;
            if (a + 1 < b + kBlockWords && !r.increment())
                return false;
        }
        if (!r.command(pic_cmd::BeginProgrammingOnly) || !r.command(pic_cmd::EndProgramming) ||
            !r.increment())
            return false;
    }
    return true;
}

// The EEPROM from address 0, each non-blank byte with its own cycle.
bool BlockEeprom(Run& r) {
    if (!r.leave() || !r.enter())
        return false;
    for (std::uint32_t a = 0; a < r.e; ++a) {
        r.progress("Programmation EEPROM", r.p + a);
        if (a % kProgressInterval == 0)
            r.show("Programmation EEPROM: 0x%02X/0x%02X", a, r.e);
        const std::uint32_t v = r.eepromByte(a);
        if (v != kBlankEepromByte &&
            (!r.load(pic_cmd::LoadDataMemory, v) || !r.command(pic_cmd::BeginProgrammingOnly) ||
             !r.command(pic_cmd::EndProgramming)))
            return false;
        if (!r.increment())
            return false;
    }
    return true;
}

// The four ID words, written together by one cycle.
bool BlockIdWords(Run& r) {
    r.progress("Programmation ID", r.p + r.e);
    r.ui.setStatusText(MessageField, "Programmation ID: 0x2000/0x2003");
    if (!r.load(pic_cmd::LoadConfiguration, 0x0000))
        return false;
    for (std::uint32_t a = kPicIdAddress; a < kPicIdAddress + 4; ++a) {
        if (!r.load(pic_cmd::LoadProgramData, r.word(a)))
            return false;
        if (a != kPicIdAddress + 3 && !r.increment())
            return false;
    }
    if (!r.command(pic_cmd::BeginEraseProgram))
        return false;
    r.wait(pic_wait::BlockConfigCycle);
    return true;
}

// With the counter at 0x2007: the configuration word, on its own.
bool WriteBlockConfig(Run& r) {
    if (!r.load(pic_cmd::LoadProgramData, r.word(kPicConfigAddress)) ||
        !r.command(pic_cmd::BeginEraseProgram))
        return false;
    r.wait(pic_wait::BlockConfigCycle);
    return true;
}

// A configuration word that turns code protection on would make the
// verification read zeros: it is written after the verification, where the
// counter already stands at 0x2007. Any other is written before it.
bool ProtectsCode(const Run& r) { return PicProtected(r.word(kPicConfigAddress)); }

bool BlockConfigBeforeVerification(Run& r) {
    if (ProtectsCode(r))
        return true;
    return r.load(pic_cmd::LoadConfiguration, 0x0000) && r.incrementTimes(7) && WriteBlockConfig(r);
}

bool BlockConfigAfterVerification(Run& r) { return !ProtectsCode(r) || WriteBlockConfig(r); }

// Reads program memory back from address 0 and compares every word.
bool BlockVerifyProgramMemory(Run& r) {
    if (!r.leave() || !r.enter())
        return false;
    for (std::uint32_t a = 0; a < r.p; ++a) {
        r.progress("Vérification", r.p + r.e + a);
        if (a % kProgressInterval == 0)
            r.show("Vérification: 0x%04X/0x%04X", a, r.p);
        std::uint16_t got = 0;
        if (!r.read(pic_cmd::ReadProgramData, &got))
            return false;
        if (got != r.word(a)) {
            r.showDifference("Erreur PROG 0x%04X:%04X!=%04X", a, r.word(a), got);
            return false;
        }
        if (!r.increment())
            return false;
    }
    return true;
}

// Reads the four ID words back and walks on to 0x2007.
bool BlockVerifyIdWords(Run& r) {
    if (!r.load(pic_cmd::LoadConfiguration, 0x0000))
        return false;
    r.progress("Vérification", 2 * r.p + r.e);
    r.ui.setStatusText(MessageField, "Vérification: 0x2000/0x2007");
    for (std::uint32_t a = kPicIdAddress; a < kPicIdAddress + 7; ++a) {
        r.progress("Vérification", 2 * r.p + r.e + (a - kPicIdAddress));
        if (a < kPicIdAddress + 4) {
            std::uint16_t got = 0;
            if (!r.read(pic_cmd::ReadProgramData, &got))
                return false;
            if (got != r.word(a)) {
                r.showDifference("Erreur ID 0x%04X:%04X!=%04X", a, r.word(a), got);
                return false;
            }
        }
        if (!r.increment())
            return false;
    }
    return true;
}

bool BlockFinish(Run& r) {
    if (!r.leave())
        return false;
    r.progress("Vérification", r.steps);
    r.ui.setStatusText(MessageField, "Programmation+Vérification: OK");
    return true;
}

bool BlockMode(Run& r) {
    return RunPhases(r, {BlockErase, BlockProgramMemory, BlockEeprom, BlockIdWords,
                         BlockConfigBeforeVerification, BlockVerifyProgramMemory,
                         BlockVerifyIdWords, BlockConfigAfterVerification, BlockFinish});
}

} // namespace

bool ProgramPic(DeviceLink& link, Ui& ui, const PicImage& image, const PicIdentification& ident) {
    Run r{link, ui, image};
    r.protectedChip = PicProtected(ident.configWord);
    // Whole rows of the program area only, within the image's areas.
    r.p =
        std::min<std::uint32_t>(ident.programSize, kPicMaxProgramWords) / kBlockWords * kBlockWords;
    r.e = std::min<std::uint32_t>(ident.eepromSize, kPicMaxEepromBytes);
    // Progress steps: word mode, each address then the eight ID-zone
    // addresses; block mode, each word programmed, each EEPROM byte, each word
    // verified, then the ID zone.
    r.steps = ident.aFamily == 0 ? r.p + 8 : 2 * r.p + r.e + 8;

    if (!r.leave())
        return false;
    r.progress("Effacement du PIC", 0);
    ui.setStatusText(MessageField, "Effacement du PIC");
    if (!r.enter())
        return false;
    return ident.aFamily == 0 ? WordMode(r) : BlockMode(r);
}

bool ErasePic(DeviceLink& link, Ui& ui, const PicIdentification& ident) {
    auto unused = std::make_unique<PicImage>(); // the erase reads no word of it
    Run r{link, ui, *unused};
    r.protectedChip = PicProtected(ident.configWord);
    if (!r.leave())
        return false;
    ui.setStatusText(MessageField, "Effacement du PIC");
    if (!r.enter())
        return false;
    const bool erased = ident.aFamily == 0 ? WordErase(r) : BlockErase(r);
    if (!erased || !r.leave())
        return false;
    ui.setStatusText(MessageField, "Effacement : OK");
    return true;
}

PicComparison ComparePicImages(const PicImage& expected, const PicImage& device,
                               const PicIdentification& ident) {
    PicComparison c;
    auto check = [&](std::uint32_t a, std::uint32_t want, std::uint32_t got) {
        if (want == got)
            return;
        if (c.differences++ == 0) {
            c.address = a;
            c.expected = want;
            c.got = got;
        }
    };
    const std::uint32_t p = std::min<std::uint32_t>(ident.programSize, kPicMaxProgramWords);
    const std::uint32_t e = std::min<std::uint32_t>(ident.eepromSize, kPicMaxEepromBytes);
    for (std::uint32_t a = 0; a < p; ++a)
        check(a, expected.entries[a], device.entries[a]);
    for (std::uint32_t a = kPicIdAddress; a < kPicIdAddress + 4; ++a)
        check(a, expected.entries[a], device.entries[a]);
    for (std::uint32_t a = kPicEepromAddress; a < kPicEepromAddress + e; ++a)
        check(a, expected.entries[a] & 0xFF, device.entries[a] & 0xFF);
    return c;
}

} // namespace talmo
