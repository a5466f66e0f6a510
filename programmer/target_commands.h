// The 'Y' command: one step of the board PIC's serial programming interface,
// carried out by the TALMO on the program's behalf.
//
// Each operation is one exchange on a report buffer that the calling sequence
// owns and passes to every step. Only the bytes a step uses are set; the rest
// of the buffer keeps whatever the previous answer left there. A step succeeds
// when the answer echoes 'Y'; sequences stop at their first failed step and
// send nothing more.
#pragma once

#include "link/device_link.h"

#include <cstdint>

namespace talmo {

constexpr std::uint8_t kTargetLetter = 'Y';

// Byte 2 of a 'Y' request.
enum TargetSubCommand : std::uint8_t {
    kTargetEnter = 0,   // programming mode on, address counter to 0
    kTargetLeave = 1,   // programming mode off
    kTargetRead = 2,    // serial command, then read the 14-bit word back
    kTargetCommand = 3, // serial command alone
    kTargetLoad = 4,    // serial command, then the 14-bit word in bytes 4-5
};

// Six-bit serial commands of the PIC16F87x(A) programming interface.
namespace pic_cmd {
constexpr std::uint8_t LoadConfiguration = 0x00; // counter to 0x2000
constexpr std::uint8_t BulkEraseSetup1 = 0x01;   // not on the A parts
constexpr std::uint8_t LoadProgramData = 0x02;
constexpr std::uint8_t LoadDataMemory = 0x03;
constexpr std::uint8_t ReadProgramData = 0x04;
constexpr std::uint8_t ReadDataMemory = 0x05;
constexpr std::uint8_t IncrementAddress = 0x06;
constexpr std::uint8_t BulkEraseSetup2 = 0x07; // not on the A parts
constexpr std::uint8_t BeginEraseProgram = 0x08;
constexpr std::uint8_t BulkEraseProgram = 0x09; // A parts only
constexpr std::uint8_t BulkEraseData = 0x0B;    // A parts only
constexpr std::uint8_t EndProgramming = 0x17;   // A parts only
constexpr std::uint8_t BeginProgrammingOnly = 0x18;
constexpr std::uint8_t ChipErase = 0x1F; // A parts only
} // namespace pic_cmd

bool TargetEnter(DeviceLink& link, Report& report);
bool TargetLeave(DeviceLink& link, Report& report);
bool TargetCommand(DeviceLink& link, Report& report, std::uint8_t code);
// The word goes high byte first: bits 15-8 to byte 4, bits 7-0 to byte 5.
bool TargetLoad(DeviceLink& link, Report& report, std::uint8_t code, std::uint16_t word);
// On success *word is byte 2 × 256 + byte 3 of the answer, all 16 bits;
// on failure it is left alone.
bool TargetRead(DeviceLink& link, Report& report, std::uint8_t code, std::uint16_t* word);

} // namespace talmo
