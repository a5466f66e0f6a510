#include "sim/demo_controls.h"

#include "sim/board_firmware.h"

namespace sim {

namespace {

constexpr std::uint16_t kCodeProtect87x = 0x3030; // CP1:CP0, both copies
constexpr std::uint16_t kCodeProtectA = 0x2000;   // CP
constexpr std::uint16_t kDataProtect = 0x0100;    // CPD
constexpr std::uint16_t kFirmwareBlock = 0x1300;

} // namespace

std::span<const MachineInput> MachineInputs() {
    static constexpr MachineInput kInputs[] = {
        {"limit-switches-open", "Fins de course ouvertes", &Machine::limitSwitchesOpen},
        {"probes-open", "Palpeurs ouverts", &Machine::probesOpen},
        {"stop-prog", "STOP PROG allumé", &Machine::stopProg},
        {"manual", "Entrée PWM en MANU", &Machine::manual},
        {"output-off", "Sortie PWM sur OFF", &Machine::outputOff},
        {"io1", "IO1", &Machine::io1},
        {"output-enabled", "Sortie PWM active", &Machine::outputEnabled},
        {"keypad-absent", "Clavier absent", &Machine::keypadAbsent},
    };
    return kInputs;
}

std::uint16_t ProtectedConfigWord(std::uint16_t word, bool aFamily, DemoProtection protection) {
    const std::uint16_t code = aFamily ? kCodeProtectA : kCodeProtect87x;
    // A protection bit protects when it is 0.
    switch (protection) {
    case DemoProtection::None:
        return static_cast<std::uint16_t>(word | code | kDataProtect);
    case DemoProtection::Program:
        return static_cast<std::uint16_t>((word | kDataProtect) & ~code);
    case DemoProtection::Eeprom:
        return static_cast<std::uint16_t>((word | code) & ~kDataProtect);
    case DemoProtection::All:
        return static_cast<std::uint16_t>(word & ~(code | kDataProtect));
    }
    return word;
}

void PlaceBoardPic(Talmo& device, std::optional<PicChip> chip, DemoProtection protection,
                   unsigned revision) {
    if (!chip) {
        device.removePic();
        return;
    }
    Pic pic(*chip, revision);
    LoadBoardFirmware(pic);
    pic.setConfigWord(ProtectedConfigWord(pic.configWord(), pic.info().aFamily, protection));
    pic.setStrictTiming(true);
    device.setPic(pic);
}

void ArmFault(Talmo& device, DemoFault fault, std::uint64_t later) {
    Faults& f = device.faults();
    const std::uint64_t next = device.nextExchange() + later;
    switch (fault) {
    case DemoFault::NoAnswer:
        f.silentAt = next;
        break;
    case DemoFault::Silent:
        f.silentFrom = next;
        break;
    case DemoFault::WrongEcho:
        f.wrongEchoAt = next;
        break;
    case DemoFault::Unplug:
        f.unplugAt = next;
        break;
    case DemoFault::RefuseFirmware:
        f.refuseProgramBlockAt = kFirmwareBlock;
        break;
    }
}

} // namespace sim
