#include "sim/wired_talmo.h"

#include "sim/board_firmware.h"

namespace sim {

std::unique_ptr<Talmo> MakeTalmo(Talmo::Mode mode, std::optional<PicChip> chip, unsigned revision) {
    auto device = std::make_unique<Talmo>();
    device->setMode(mode);
    if (chip) {
        device->setPic(Pic(*chip, revision));
        LoadBoardFirmware(*device->pic());
    }
    if (Pic* pic = device->pic())
        pic->setStrictTiming(true);
    return device;
}

WiredTalmo::WiredTalmo(talmo::Clock& clock, talmo::Ui* ui, std::unique_ptr<Talmo> plugged)
    : bus(clock) {
    link.backend = &backend;
    link.ui = ui;
    if (plugged) {
        device = plugged.get();
        deviceId = backend.plug(std::move(plugged));
        backend.takeEvents();
    }
}

} // namespace sim
