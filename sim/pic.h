// The VELKOR board's PIC16F87x(A) as its serial programming interface sees it.
//
// Memory is addressed the way the program's PIC image is: program words at
// 0x0000-0x1FFF, the configuration area at 0x2000-0x2007 (ID words 0-3,
// reserved 4-5, device ID 6, configuration word 7) and EEPROM byte a at
// 0x2100 + a. Cells hold the raw stored value; what a read returns also goes
// through code protection, unimplemented configuration bits and stuck bits.
//
// Serial interface (one call per six-bit command, as the TALMO passes them on):
//   enterProgramming()/leaveProgramming(), then serial(code, transfer, data).
// Behaviour follows the chips' programming documents:
//   - one address counter: 0 on entering programming mode, +1 on Increment
//     Address (0x06), 0x2000 on Load Configuration (0x00); once in the
//     configuration area it stays there until programming mode is re-entered.
//     Program addresses wrap at the chip's size; EEPROM uses the counter's low
//     bits, so program word a and EEPROM byte a are reached together.
//   - Begin Programming Only (0x18) only clears bits: the cell becomes
//     old AND new. Begin Erase/Program (0x08) erases the cell, then programs it.
//   - A parts: Load Data for Program Memory fills slot (counter & 7) of an
//     8-word write latch; 0x18/0x08 write the whole latch to the row
//     (counter & ~7), unloaded slots as 0x3FFF, and empty the latch. In the
//     configuration area the ID words 0x2000-0x2003 form one row and the
//     configuration word is written alone.
//   - Bulk erases: PIC16F87x: 0x01, 0x07, 0x08 erases program memory after a
//     program-memory load, data memory after a data-memory load (each only when
//     that memory is not protected), and everything (program, EEPROM, ID and
//     configuration words) with the counter at 0x2007 after Load
//     Configuration. A parts: Chip Erase (0x1F) erases everything; 0x09 then
//     0x08 erases program memory unless CP is on; 0x0B then 0x08 erases data
//     memory unless CPD is on.
//   - Code protection: protected program words and EEPROM bytes read as 0 and
//     are not written. PIC16F87x: CP1:CP0 (bits 13:12 and 5:4) 11 none,
//     10 the last 256 words, 01 the upper half, 00 all. A parts: bit 13.
//     CPD (bit 8) protects the EEPROM on both.
//   - Unimplemented configuration bits read as 1: bit 10 on the PIC16F87x,
//     bits 12, 5 and 4 on the A parts.
//   - Outside programming mode the PIC ignores serial commands and the data
//     line reads as pulled up (0x3FFF).
//
// Timing: each programming or erase cycle starts on its command and ends at
// the next serial step. In strict mode a cycle that ends before its minimum
// time (PicCycleTimes) is undone: the cells keep what they held before.
// On the A parts, Begin Programming Only (0x18) is timed from outside: its
// cycle is ended by End Programming (0x17). Any other next step (a command,
// leaving or entering programming mode) cuts it off, and the row or byte it
// was writing keeps what it held before, whatever the mode.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

enum class PicChip {
    F873,
    F874,
    F876,
    F877,
    F873A,
    F874A,
    F876A,
    F877A
};

struct PicChipInfo {
    PicChip chip;
    const char* name;         // "PIC16F876A"
    std::uint16_t deviceCode; // device ID word = code << 5 | revision
    std::uint32_t programWords;
    std::uint32_t eepromBytes;
    bool aFamily;
};

const PicChipInfo& ChipInfo(PicChip chip);
const std::vector<PicChip>& AllPicChips();
// The chip for a name such as "PIC16F877A" or "16f873" (any letter case).
std::optional<PicChip> PicChipByName(const std::string& name);

// Minimum duration of each self-timed cycle, in microseconds, as the
// programming sequences wait for them.
struct PicCycleTimes {
    std::int64_t eraseProgramUs =
        16000;                         // 0x08, PIC16F87x (bulk erases, ID and configuration words)
    std::int64_t programOnlyUs = 8000; // 0x18, PIC16F87x
    std::int64_t chipEraseUs = 20000;  // 0x1F, A parts
    std::int64_t bulkEraseUs = 8000;   // 0x08 after 0x09 or 0x0B, A parts
    std::int64_t eraseProgramAUs = 16000; // 0x08 otherwise, A parts
    std::int64_t programOnlyAUs = 0;      // 0x18, A parts: the TALMO holds it until End Programming
};

enum class PicTransfer {
    None,
    Load,
    Read
};

class Pic {
public:
    static constexpr std::uint32_t kConfigBase = 0x2000;
    static constexpr std::uint32_t kConfigWord = 0x2007;
    static constexpr std::uint32_t kDeviceIdAddress = 0x2006;
    static constexpr std::uint32_t kEepromBase = 0x2100;
    static constexpr std::uint32_t kCells = 0x2200;
    static constexpr std::uint16_t kBlank = 0x3FFF;

    // A blank chip (every cell erased) with the given silicon revision (0-31).
    explicit Pic(PicChip chip, unsigned revision = 0);

    const PicChipInfo& info() const { return *info_; }
    std::uint16_t deviceId() const;

    // --- Test side: raw cells by image address (see top of file). Addresses
    // that the chip doesn't implement read 0x3FFF and ignore writes.
    std::uint16_t cell(std::uint32_t address) const;
    void setCell(std::uint32_t address, std::uint16_t value);
    std::uint16_t programWord(std::uint32_t a) const { return cell(a); }
    std::uint8_t eepromByte(std::uint32_t a) const {
        return static_cast<std::uint8_t>(cell(kEepromBase + a));
    }
    std::uint16_t configWord() const { return cell(kConfigWord); }
    void setConfigWord(std::uint16_t w) { setCell(kConfigWord, w); }
    // What a programmer reads at that address right now (protection,
    // unimplemented bits and stuck bits applied).
    std::uint16_t readBack(std::uint32_t address) const;
    // Every cell to its erased value.
    void eraseAll();

    // A bit that always reads `value` at that image address (a worn cell).
    void stickBit(std::uint32_t address, unsigned bit, bool value);
    void clearStuckBits();

    bool programProtected(std::uint32_t a) const;
    bool eepromProtected() const;

    // --- Timing.
    void setStrictTiming(bool strict) { strict_ = strict; }
    bool strictTiming() const { return strict_; }
    // Cycles undone: cut short in strict mode, or not ended by End
    // Programming on an A part.
    std::uint64_t interruptedCycles() const { return interrupted_; }

    // --- Serial programming interface.
    void enterProgramming(std::int64_t nowUs);
    void leaveProgramming(std::int64_t nowUs);
    std::uint16_t addressCounter() const { return counter_; }
    // One six-bit command, followed by a 14-bit data word to load or to
    // read. Returns the word read (0x3FFF when nothing is read).
    std::uint16_t serial(std::uint8_t code, PicTransfer transfer, std::uint16_t data,
                         std::int64_t nowUs);

private:
    enum class LastLoad {
        None,
        Program,
        Data
    };
    enum class Arm {
        None,
        Setup1,
        Setup2,
        BulkProgram,
        BulkData
    };

    bool implemented(std::uint32_t address) const;
    std::uint32_t programIndex() const;
    std::uint32_t eepromIndex() const;
    // endProgramming: the step that ends the cycle is End Programming.
    void endCycle(std::int64_t nowUs, bool endProgramming = false);
    void startCycle(std::int64_t nowUs, std::int64_t minUs, bool needsEnd = false);
    void save(std::uint32_t address);
    void saveAll();
    void writeCell(std::uint32_t address, std::uint16_t value, bool programOnly);
    void beginCycle(bool erase, std::int64_t nowUs);
    void bulkErase(bool program, bool data, bool config);
    void clearLatch();
    // The parts of serial(): loads, the counter, the erase setups and Begin
    // Erase/Program.
    void serialLoad(std::uint8_t code, PicTransfer transfer, std::uint16_t data);
    void incrementCounter();
    void armErase(std::uint8_t code, Arm previous);
    void beginEraseProgram(Arm arm, std::int64_t nowUs);

    const PicChipInfo* info_;
    unsigned revision_;
    std::array<std::uint16_t, kCells> cells_{};
    std::array<std::uint16_t, kCells> stuckMask_{};
    std::array<std::uint16_t, kCells> stuckValue_{};
    bool anyStuck_ = false;

    bool programming_ = false;
    std::uint16_t counter_ = 0;
    std::uint16_t programLatch_ = kBlank;
    std::uint8_t dataLatch_ = 0xFF;
    LastLoad lastLoad_ = LastLoad::None;
    Arm arm_ = Arm::None;
    std::array<std::uint16_t, 8> rowLatch_{};

    bool strict_ = false;
    PicCycleTimes times_;
    bool cycleActive_ = false;
    std::int64_t cycleStartUs_ = 0;
    std::int64_t cycleMinUs_ = 0;
    bool cycleNeedsEnd_ = false; // only End Programming completes it
    std::vector<std::pair<std::uint32_t, std::uint16_t>> undo_;
    bool undoAll_ = false;
    std::array<std::uint16_t, kCells> saved_{};
    std::uint64_t interrupted_ = 0;
};

} // namespace sim
