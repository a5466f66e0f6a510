// The PIC image: everything the program reads from or programs into the
// board's PIC16F87x(A), indexed by PIC word address, and its HEX files.
//
//   0x0000-0x1FFF  program memory, one 14-bit word per entry
//   0x2000-0x2003  ID locations
//   0x2004-0x2006  reserved words and device ID (never written to a file)
//   0x2007         configuration word
//   0x2008-0x20FF  no PIC memory
//   0x2100-0x21FF  data EEPROM, one byte per entry in bits 0-7
//
// A HEX record address is a byte address, 2 x the word address, each word
// low byte first; EEPROM entries are stored in files as the byte then 0x00.
#pragma once

#include "core/ui.h"
#include "hex/hex_records.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talmo {

inline constexpr std::uint32_t kPicImageSize = 0x2200;
inline constexpr std::uint32_t kPicBlankWord = 0x3FFF;
inline constexpr std::uint32_t kPicIdAddress = 0x2000;
inline constexpr std::uint32_t kPicConfigAddress = 0x2007;
inline constexpr std::uint32_t kPicEepromAddress = 0x2100;
// Record addresses (byte addresses) a PIC file may use: below 0x4400, even.
inline constexpr std::uint32_t kPicHexAddressBound = 0x4400;

struct PicImage {
    std::array<std::uint32_t, kPicImageSize> entries;
};

// Sets all 0x2200 entries, the EEPROM ones included, to 0x3FFF.
void ResetPicImage(PicImage& image);

// Resets the image, then reads the Intel HEX file at `path` into it.
// True when the file was accepted, false after one message box (caption
// "Erreur fichier"); after a failure the image holds the blank reset plus
// every word stored before the failing test. Records of any length up to 255
// data bytes are read; words that fall past entry 0x21FF are checked and
// summed but not kept. Extended address records (types 02-05) are ignored.
// `facts`, when given, tells whether the end-of-file record was read and
// how many data bytes the file held.
bool LoadPicHex(Ui& ui, PicImage& image, const std::string& path, HexFileFacts* facts = nullptr);

// The same reader over a text already in memory (it ends at its first NUL);
// the image is reset first. Used by LoadPicHex and by the fuzzer.
bool LoadPicHexText(Ui& ui, PicImage& image, std::string_view text, HexFileFacts* facts = nullptr);

// Refusals of a file about to be programmed, each a message for a box with
// the caption "Erreur fichier", in the order they are shown; none when the
// file may be programmed.
//   - always: a file without a data byte (it would program a blank PIC) and
//     a file without its end-of-file record (cut off);
inline constexpr char kPicNoData[] = "Aucune donnée pour le PIC dans le fichier...";
std::vector<const char*> PicFileRefusals(const HexFileFacts& facts);
//   - where no confirmation shows what is written: data that the identified
//     PIC has no room for (program words at or above its program size, EEPROM
//     bytes at or above its EEPROM size), which would be dropped. Blank words
//     and erased EEPROM bytes (0xFF) lose nothing and are not counted.
inline constexpr char kPicBeyondProgram[] = "Données au-delà de la mémoire programme du PIC...";
inline constexpr char kPicBeyondEeprom[] = "Données au-delà de l'EEPROM du PIC...";
std::vector<const char*> PicFitRefusals(const PicImage& image, std::uint32_t programSize,
                                        std::uint32_t eepromSize);

// Writes the image to `path`: the first line, `programSize` program words
// eight per line, `eepromSize` EEPROM bytes eight per line, the
// configuration word line, the ID locations line, the end line; CR LF line
// ends. True when the whole file was written, false after one message box
// (caption "Erreur"). `programSize` must be 0..0x2000 and `eepromSize`
// 0..0x100, both multiples of 8 (the sizes of an identified PIC); other
// sizes are refused with a message before the file is created.
bool SavePicHex(Ui& ui, const PicImage& image, const std::string& path, int programSize,
                int eepromSize);

// The PIC reader's own message: a program word above 14 bits.
inline constexpr char kHexValueTooLarge[] = "Valeur supérieur à 0x3FFF...";

// Shown by SavePicHex for sizes that no identified PIC has.
inline constexpr char kPicBadSizes[] = "Tailles de mémoire du PIC invalides...";

} // namespace talmo
