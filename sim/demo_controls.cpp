#include "sim/demo_controls.h"

#include "sim/board_firmware.h"

namespace talmo {

namespace {

constexpr std::uint16_t kCodeProtect87x = 0x3030; // CP1:CP0, both copies
constexpr std::uint16_t kCodeProtectA = 0x2000;   // CP
constexpr std::uint16_t kDataProtect = 0x0100;    // CPD
constexpr std::uint16_t kFirmwareBlock = 0x1300;

} // namespace

std::span<const MachineInput> MachineInputs() {
    static constexpr MachineInput kInputs[] = {
        {"limit-switches-open", "Fins de course ouvertes", &sim::Machine::limitSwitchesOpen},
        {"probes-open", "Palpeurs ouverts", &sim::Machine::probesOpen},
        {"stop-prog", "STOP PROG allumé", &sim::Machine::stopProg},
        {"manual", "Entrée PWM en MANU", &sim::Machine::manual},
        {"output-off", "Sortie PWM sur OFF", &sim::Machine::outputOff},
        {"io1", "IO1", &sim::Machine::io1},
        {"output-enabled", "Sortie PWM active", &sim::Machine::outputEnabled},
        {"keypad-absent", "Clavier absent", &sim::Machine::keypadAbsent},
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

void PlaceBoardPic(sim::Talmo& device, std::optional<sim::PicChip> chip, DemoProtection protection,
                   unsigned revision) {
    if (!chip) {
        device.removePic();
        return;
    }
    sim::Pic pic(*chip, revision);
    sim::loadBoardFirmware(pic);
    pic.setConfigWord(ProtectedConfigWord(pic.configWord(), pic.info().aFamily, protection));
    pic.setStrictTiming(true);
    device.setPic(pic);
}

void ArmFault(sim::Talmo& device, DemoFault fault, std::uint64_t later) {
    sim::Faults& f = device.faults();
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

} // namespace talmo
