// One virtual TALMO on the emulator's bus, reached through the real device
// link, on a clock the caller gives: what the demo, the benches and the tests
// all start from.
//
//   VirtualClock clock;
//   WiredTalmo wired(clock, &ui);                    // a TALMO in its normal mode
//   WiredTalmo boot(clock, &ui, MakeTalmo(Talmo::Mode::BootLoader));
//   WiredTalmo board(clock, &ui, MakeTalmo(Talmo::Mode::Normal, PicChip::F876));
//   WiredTalmo none(clock, &ui, nullptr);            // an empty bus
//   wired.open();                                    // the link opened on it
#pragma once

#include "core/clock.h"
#include "core/ui.h"
#include "link/device_link.h"
#include "sim/pic.h"
#include "sim/sim_backend.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <memory>
#include <optional>

namespace sim {

// A TALMO in that mode; with a chip, its board carries that PIC (revision
// `revision`) loaded with the board firmware, in strict timing: a cycle cut
// short leaves its cells unchanged.
std::unique_ptr<Talmo> MakeTalmo(Talmo::Mode mode = Talmo::Mode::Normal,
                                 std::optional<PicChip> chip = std::nullopt, unsigned revision = 3);

struct WiredTalmo {
    // `device` is plugged in as though it was there before the program
    // started (its arrival already taken); null: the bus stays empty. The
    // link shows its texts and makes its waits through `ui` (may be null).
    explicit WiredTalmo(talmo::Clock& clock, talmo::Ui* ui = nullptr,
                        std::unique_ptr<Talmo> device = MakeTalmo());
    WiredTalmo(const WiredTalmo&) = delete;
    WiredTalmo& operator=(const WiredTalmo&) = delete;

    // Opens the link on the bus; true when a TALMO opened.
    bool open() { return talmo::OpenDevice(link); }

    VirtualUsb bus;
    SimBackend backend{bus};
    talmo::DeviceLink link;
    Talmo* device = nullptr; // the one plugged at the start; the bus owns it
    int deviceId = -1;
};

} // namespace sim
