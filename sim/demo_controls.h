// What the demos' control panels do to a virtual TALMO (the window
// "TALMO virtuel" of talmo-tools-demo, the panel of the web page's demo):
// the board's PIC with a protection, the faults that can be armed.
#pragma once

#include "sim/pic.h"
#include "sim/talmo.h"

#include <cstdint>
#include <optional>
#include <span>

namespace sim {

// The board's PIC protection that a panel can set.
enum class DemoProtection {
    None,
    Program,
    Eeprom,
    All
};
// The configuration word for that protection on a chip of the A family or
// not, from an unprotected word.
std::uint16_t ProtectedConfigWord(std::uint16_t word, bool aFamily, DemoProtection protection);

// Puts a PIC of that chip and revision on the device's board, loaded with the
// board firmware, protected as asked, in strict timing; no chip: the board
// has none.
void PlaceBoardPic(Talmo& device, std::optional<PicChip> chip, DemoProtection protection,
                   unsigned revision);

// The machine's inputs a panel sets: the name the web page's panel sends,
// the label the window's shows.
struct MachineInput {
    const char* name;
    const char* label;
    bool Machine::*field;
};
std::span<const MachineInput> MachineInputs();

// The board a new virtual TALMO of the web page's demo carries, as
// talmo-cli --simulate's new boards: so that the two log the same exchanges.
constexpr PicChip kDemoPicChip = PicChip::F877A;
constexpr unsigned kDemoPicRevision = 4;

// The faults a panel arms for the next request (after `later` more).
enum class DemoFault {
    NoAnswer,       // the next request gets no answer
    Silent,         // no answer from the next request on
    WrongEcho,      // the next answer carries a wrong letter
    Unplug,         // the device is pulled out as the next request arrives
    RefuseFirmware, // the boot loader refuses to write the block at 0x1300
};
void ArmFault(Talmo& device, DemoFault fault, std::uint64_t later = 0);

} // namespace sim
