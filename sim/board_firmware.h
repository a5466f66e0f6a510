// A realistic VELKOR board firmware for the PIC model: start-up and interrupt
// vectors, a few thousand words of code, the version text as a computed
// RETLW table (ADDWF PCL,F then one RETLW per character), EEPROM parameters,
// ID words and a configuration word (HS oscillator, power-up timer, brown-out
// reset, no low-voltage programming, no protection).
#pragma once

#include "sim/pic.h"

#include <cstdint>
#include <string>

namespace sim {

inline constexpr const char* kDefaultBoardVersion = "VELKOR V2.10 14/03/2011 CNC 4 AXES";
inline constexpr std::uint16_t kBoardConfigWord = 0x3F72;

// Erases the chip, then programs the firmware into it (sized for its program
// memory). Returns the address of the version table's first character.
std::uint32_t LoadBoardFirmware(Pic& pic, const std::string& versionTable = kDefaultBoardVersion);

} // namespace sim
