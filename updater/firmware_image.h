// The firmware image: the device's 32 KB program memory and its 256 EEPROM
// bytes in one array of byte cells, and its Intel HEX files.
//
//   0x0000-0x00FF  EEPROM cells (cell index = EEPROM address); program
//                  records at 0x0000-0x00FF land in the same cells
//   0x0100-0x12FF  boot-loader area, never transferred
//   0x1300-0x7FFF  application area (program address = cell index)
//   0x130C-0x1317  the firmware version text ("TALMO...")
#pragma once

#include "core/ui.h"
#include "hex/hex_records.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talmo {

inline constexpr std::uint32_t kFirmwareImageSize = 0x8000;
inline constexpr std::uint8_t kFirmwareBlank = 0xFF;
inline constexpr std::uint32_t kFirmwareAppStart = 0x1300;
inline constexpr std::uint32_t kFirmwareEepromSize = 0x100;
inline constexpr std::uint32_t kFirmwareVersionAddress = 0x130C;
inline constexpr std::uint32_t kFirmwareVersionLength = 12;

struct FirmwareImage {
    std::array<std::uint8_t, kFirmwareImageSize> cells;
    bool eepromFlag; // set by a non-zero extended linear address record
};

// Sets every cell to 0xFF and clears the EEPROM flag.
void ResetFirmwareImage(FirmwareImage& image);

// Resets the image, then reads the Intel HEX file at `path` into it.
// True when the file was accepted, false after one message box (caption
// "Erreur fichier"); after a failure the image holds what was stored before
// the failing line. Accepted types: 00 data, 01 end of file, 04 extended
// linear address (non-zero: the following data records at 0x00-0xFF are
// EEPROM; a data record at 0x100 or above under it is skipped and ends the
// EEPROM section). Refused before any cell is written: a data record that
// runs past 0x7FFF ("Adresse invalide...") and a data or extended address
// record whose length pair is not hex ("Ligne incompléte dans le fichier...").
// `facts`, when given, tells whether the end-of-file record was read and how
// many data bytes were taken (a skipped record counts none).
bool LoadFirmwareHex(Ui& ui, FirmwareImage& image, const std::string& path,
                     HexFileFacts* facts = nullptr);

// The same reader over a text already in memory (it ends at its first NUL);
// the image is reset first. Used by LoadFirmwareHex and by the fuzzer.
bool LoadFirmwareHexText(Ui& ui, FirmwareImage& image, std::string_view text,
                         HexFileFacts* facts = nullptr);

// Refusals of a file about to be programmed, each a message for a box with
// the caption "Erreur fichier", in the order they are shown; none when the
// file may be programmed.
//   - always: a file without a data byte (it would wipe the working
//     firmware) and a file without its end-of-file record (cut off);
inline constexpr char kFirmwareNoData[] = "Aucune donnée de firmware dans le fichier...";
std::vector<const char*> FirmwareFileRefusals(const HexFileFacts& facts);
//   - where no confirmation shows what is written: data in cells that are
//     never transferred (0x0100-0x12FF, the boot loader's area: a PIC file
//     given as firmware lands there), and no "TALMO" version text at 0x130C,
//     where the running firmware keeps it.
inline constexpr char kFirmwareOutsideArea[] = "Données hors de la zone du firmware...";
inline constexpr char kFirmwareNoVersion[] = "Version du firmware introuvable dans le fichier...";
std::vector<const char*> FirmwareContentRefusals(const FirmwareImage& image);

// Streaming writer of the firmware HEX file, fed with the bytes read from the
// device in file order:
//
//   create(path)          creates the file, writes ":020000040000FA"
//   addByte / addBytes    program bytes 0x1300..0x7FFF, then EEPROM bytes
//                         0x00..0xFF: 0x6D00 + 0x100 bytes in all
//   finish()              writes ":00000001FF" and closes the file
//
// Every 16 bytes delivered make one data line (":10AAAA00" + data + CC), so
// a line is only ever built from bytes the caller gave. The writer places
// ":0200000400F00A" by itself right after the last program line (0x7FF0).
// Each line is one write call; a short write shows "Impossible d'écrire dans
// le fichier..." once (caption "Erreur") and every later call returns false
// at once. finish() succeeds only when every byte was delivered and written;
// a save that stops midway just stops calling (or destroys the writer): the
// file is never completed, its temporary file is removed and the destination
// keeps what it held (HexFileWriter).
class FirmwareHexWriter {
public:
    static constexpr std::uint32_t kProgramBytes = kFirmwareImageSize - kFirmwareAppStart;
    static constexpr std::uint32_t kTotalBytes = kProgramBytes + kFirmwareEepromSize;

    explicit FirmwareHexWriter(Ui& ui) : ui_(ui), file_(ui) {}

    // Creates the file (see HexFileWriter) and writes its first line. False
    // after "Impossible de créer le fichier..." or "Impossible d'écrire dans
    // le fichier...".
    bool create(const std::string& path);
    // Delivers the next byte; writes a line when it completes one. False
    // after a failure (see above) or when more bytes arrive than the file
    // holds.
    bool addByte(std::uint8_t byte);
    // Delivers `count` bytes in order; the same as calling addByte for each.
    bool addBytes(const std::uint8_t* data, std::size_t count);
    // Writes the end line and puts the file in place once all kTotalBytes
    // bytes were written. True when the whole file is written.
    bool finish();

    // Bytes delivered so far, and the device address the next byte belongs
    // to (0x1300..0x7FFF, then EEPROM 0x00..0xFF).
    std::uint32_t delivered() const { return delivered_; }
    bool inEeprom() const { return delivered_ >= kProgramBytes; }
    std::uint32_t nextAddress() const;

private:
    bool fail(const char* message);
    // The device address of the n-th byte delivered.
    static std::uint32_t addressOf(std::uint32_t n);

    Ui& ui_;
    HexFileWriter file_;
    std::array<std::uint8_t, 16> line_{};
    std::uint32_t delivered_ = 0;
    bool created_ = false;
    bool failed_ = false;
};

// Shown by FirmwareHexWriter when a caller breaks its contract (finish()
// before every byte was delivered, or bytes beyond the end); caption "Erreur".
inline constexpr char kFirmwareIncompleteData[] = "Données du firmware incomplètes...";
inline constexpr char kFirmwareTooMuchData[] = "Données du firmware en trop...";

} // namespace talmo
