// The boot loader's four requests ('V' version, 'R' read 32 bytes, 'W' write
// 32 bytes, 'Z' leave) and the two long operations built on them: saving the
// device's firmware to a HEX file and programming the firmware image into it.
//
// Plain functions, no widgets, no exceptions. Progress and device errors go
// to the message field of the Ui; file errors to the writer's message boxes.
#pragma once

#include "link/device_link.h"
#include "link/job_outcome.h"
#include "updater/firmware_image.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talmo {

class Ui;

// Memory selector of 'R' (byte 2).
enum class BootMemory : std::uint8_t {
    Eeprom = 0,
    Program = 1
};

// Transfers go in aligned 32-byte blocks over these ranges.
constexpr int kBootBlockSize = 32;
constexpr int kApplicationStart = static_cast<int>(kFirmwareAppStart);
constexpr int kApplicationEnd =
    static_cast<int>(kFirmwareImageSize); // one past the last program address
constexpr int kEepromSize = static_cast<int>(kFirmwareEepromSize);
constexpr int kVersionAnswerOffset = 17; // 'R' at 0x1300: byte of address 0x130C

// Request layouts. Bytes past a request's last argument are left as they are.
void BuildBootVersionRequest(Report& report);                                        // 'V'
void BuildBootReadRequest(Report& report, BootMemory memory, std::uint16_t address); // 'R'
// 'W' header only (bytes 0 to 4); the caller puts the data at bytes 5 to 36.
void BuildBootWriteRequest(Report& report, std::uint8_t blockFlag, std::uint16_t address);
void BuildBootLeaveRequest(Report& report); // 'Z', 'U', 0xAA, 0x00

// Text of a device answer from byte `from` up to its first zero byte or the
// end of the `count` bytes received, as UTF-8 (bytes above 0x7F are Latin-1).
std::string AnswerText(const Report& report, int from, int count);

// 'V': the boot loader's version text, or nothing when the exchange fails.
std::optional<std::string> QueryBootLoaderVersion(DeviceLink& link, Report& report);
// 'R' at 0x1300: the firmware version text now in the device, from its
// "TALMO" up to the zero byte or the answer's last memory byte (0x131F), or
// "Inconnue" (no answer, an answer to another command or address, other
// text).
std::string QueryDeviceFirmwareVersion(DeviceLink& link, Report& report);
// 'Z' with WriteReport alone: the device starts its application.
void LeaveBootLoader(DeviceLink& link, Report& report);

// The firmware version text of an image: its 12 bytes at 0x130C up to a zero
// byte, or "Inconnue" when they do not begin with "TALMO".
std::string ImageVersionText(const FirmwareImage& image);

// Reads the application area and the EEPROM from the device and writes them
// as a firmware HEX file at `path`. Shows "Lecture de l'adresse: ..." progress.
// A missing answer, or one that is not the 'R' answer for the block's address
// (bytes 3 and 4), ends the save with
// "TALMO communication: Erreur" and NoAnswer: no byte that the device did not
// deliver is written, and the destination keeps what it held. File errors
// have had their box: FileNotWritten. Done when the whole file is in place.
JobOutcome SaveFirmwareToHex(DeviceLink& link, Ui& ui, const std::string& path);

// The same reads into `image` (reset first; the boot-loader area stays
// blank). False, with "TALMO communication: Erreur", at the first block
// without an 'R' answer.
bool ReadFirmware(DeviceLink& link, Ui& ui, FirmwareImage& image);

// Where two firmware images differ over what the boot loader transfers: the
// application area (first), then the EEPROM.
struct FirmwareComparison {
    std::uint32_t differences = 0;
    std::uint32_t address = 0; // cell of the first difference
    std::uint8_t expected = 0;
    std::uint8_t got = 0;
};
FirmwareComparison CompareFirmwareImages(const FirmwareImage& expected,
                                         const FirmwareImage& device);

// Writes the image's application area (872 blocks, flags 1, 2, 1, 2, ...)
// and its EEPROM cells (8 blocks, addressed by their last byte) into the
// device; an answer counts when it echoes 'W' and the block's address (bytes 3
// and 4). Shows "Ecriture de l'adresse: ..." progress; on failure leaves
// "TALMO communication: Erreur", "Erreur programmation: 0x%04X" or
// "Erreur programmation EEPROM: 0x%02X" in the message field and stops at
// once. True on success (no text of its own then).
bool ProgramFirmware(DeviceLink& link, Ui& ui, const FirmwareImage& image);

} // namespace talmo
