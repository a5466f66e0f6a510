// Erasing, programming and verifying the board PIC from the PIC image.
//
// Word mode (PIC16F873/874/876/877): a bulk erase chosen by the protection
// bits read at identification, then one pass that writes and reads back each
// program word and EEPROM byte, then the ID words and the configuration word,
// each written and read back.
// Block mode (the A parts): chip erase, program memory in 8-word rows, the
// EEPROM, the four ID words together, the configuration word, then a pass
// that verifies program memory and the ID words.
#pragma once

#include "link/device_link.h"

#include <cstdint>

namespace talmo {

class Ui;
struct PicImage;
struct PicIdentification;

// Waits, in milliseconds, each after the answer to the command named.
namespace pic_wait {
constexpr int WordEraseCycle = 16;   // word mode, each Begin Erase/Program of the erase
constexpr int WordAfterErase = 16;   // word mode, after the erase, before the first word
constexpr int WordProgramOnly = 8;   // word mode, Begin Programming Only (word or EEPROM byte)
constexpr int WordConfigCycle = 16;  // word mode, Begin Erase/Program for an ID or config word
constexpr int BlockChipErase = 20;   // block mode, after Chip Erase
constexpr int BlockBulkErase = 8;    // block mode, each Begin Erase/Program of the erase
constexpr int BlockConfigCycle = 16; // block mode, ID words and configuration word
} // namespace pic_wait

// True when erase, programming and verification all succeeded, false at the
// first step without a 'Y' echo ("TALMO communication: Erreur") or the first
// difference ("Erreur PROG …", "Erreur EEPROM …", "Erreur ID …"); nothing more
// is sent after a failure and the target is left in programming mode. Neither
// the image nor the identification is changed.
bool ProgramPic(DeviceLink& link, Ui& ui, const PicImage& image, const PicIdentification& ident);

// The erase that ProgramPic starts with, on its own, between TargetLeave and
// TargetEnter like it, then TargetLeave: "Effacement : OK" and true, or false at the
// first step without a 'Y' echo ("TALMO communication: Erreur").
bool ErasePic(DeviceLink& link, Ui& ui, const PicIdentification& ident);

// Where two PIC images differ over what the identified PIC holds: program
// words, the four ID words and the EEPROM bytes (low 8 bits). The
// configuration word is left out: its unimplemented bits read as the chip
// decides.
struct PicComparison {
    std::uint32_t differences = 0;
    std::uint32_t address = 0; // image address of the first difference
    std::uint32_t expected = 0;
    std::uint32_t got = 0;
};
PicComparison ComparePicImages(const PicImage& expected, const PicImage& device,
                               const PicIdentification& ident);

} // namespace talmo
