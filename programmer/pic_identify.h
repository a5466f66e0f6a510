// Identification of the board's PIC: its device ID word names the chip and
// gives the sizes and the programming family; its configuration word tells
// whether the chip is protected.
#pragma once

#include "link/device_link.h"

#include <cstdint>
#include <string>

namespace talmo {

class Ui;

// What every later step depends on. A program size of 0 means that no PIC is
// identified.
struct PicIdentification {
    std::uint32_t programSize = 0; // words: 0x1000 or 0x2000
    std::uint32_t eepromSize = 0;  // bytes: 0x80 or 0x100
    std::uint32_t aFamily = 0;     // 1 for the A parts (block-mode programming)
    std::uint32_t configWord = 0;  // the word at 0x2007 as the chip returned it

    bool identified() const { return programSize != 0; }
};

// The largest memories of a listed chip; the PIC image has room for these.
constexpr std::uint32_t kPicMaxProgramWords = 0x2000;
constexpr std::uint32_t kPicMaxEepromBytes = 0x100;

// Code-protection bits 13, 12, 5, 4 and the data-protection bit 8; a bit at
// 0 means protection on.
constexpr std::uint32_t kProtectionMask = 0x3130;

inline bool PicProtected(std::uint32_t configWord) {
    return (configWord & kProtectionMask) != kProtectionMask;
}

// One known chip, by device code (device ID word >> 5).
struct PicModel {
    std::uint16_t deviceCode;
    const char* name; // without the revision
    std::uint32_t programSize;
    std::uint32_t eepromSize;
    std::uint32_t aFamily;
};

// The listed chip for a device ID word, or null.
const PicModel* FindPicModel(std::uint16_t deviceId);
// "PIC16F877A Rev04" for a listed chip, "Inconnu" otherwise.
std::string PicDisplayName(std::uint16_t deviceId);

struct IdentifyOutcome {
    bool result = false;            // a listed chip was found
    bool sequenceCompleted = false; // every step answered
    std::uint16_t deviceId = 0;     // valid once the ID word was read
    // For the page's "PIC:" control once the sequence completed: the chip's
    // name or "Inconnu". The "Version:" control goes back to "-" when the
    // chip is not listed.
    std::string picText;
};

// Clears the identification, runs the 13-exchange identification sequence
// and fills the identification for a listed chip. Shows "PIC: 0x%04X" in the
// message field as soon as the ID word is read. A failed step ends the
// sequence at once, without leaving programming mode.
IdentifyOutcome IdentifyPic(DeviceLink& link, Ui& ui, PicIdentification& ident);

} // namespace talmo
