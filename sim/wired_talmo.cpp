#include "sim/wired_talmo.h"

#include "sim/board_firmware.h"

namespace talmo {

std::unique_ptr<sim::Talmo> MakeTalmo(sim::Talmo::Mode mode, std::optional<sim::PicChip> chip,
                                      unsigned revision) {
    auto device = std::make_unique<sim::Talmo>();
    device->setMode(mode);
    if (chip) {
        device->setPic(sim::Pic(*chip, revision));
        sim::loadBoardFirmware(*device->pic());
    }
    if (sim::Pic* pic = device->pic())
        pic->setStrictTiming(true);
    return device;
}

WiredTalmo::WiredTalmo(Clock& clock, Ui* ui, std::unique_ptr<sim::Talmo> plugged) : bus(clock) {
    link.backend = &backend;
    link.ui = ui;
    if (plugged) {
        device = plugged.get();
        deviceId = backend.plug(std::move(plugged));
        backend.takeEvents();
    }
}

} // namespace talmo
