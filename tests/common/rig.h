// The rig every device test starts from: a virtual clock, the scripted
// interface on it, and one virtual TALMO wired to the device link.
#pragma once

#include "sim/wired_talmo.h"
#include "tests/common/scripted_ui.h"

#include <cstdint>
#include <memory>

namespace talmo::test {

struct Rig {
    VirtualClock clock;
    ScriptedUi ui{&clock};
    sim::WiredTalmo wired;
    DeviceLink& link = wired.link;
    sim::SimBackend& backend = wired.backend;
    sim::VirtualUsb& bus = wired.bus;
    sim::Talmo* dev = wired.device;

    // `device` plugged in (null: an empty bus); `open`: the link opened on
    // it, and what opening showed forgotten (the fields keep their texts).
    explicit Rig(std::unique_ptr<sim::Talmo> device = sim::MakeTalmo(), bool open = true)
        : wired(clock, &ui, std::move(device)) {
        if (open && wired.open())
            ui.clearEvents();
    }

    sim::Pic* pic() { return dev->pic(); }
    std::uint64_t next() { return dev->nextExchange(); } // the next request's number
    std::size_t mark() { return dev->log().size(); }     // for counting from now on
};

} // namespace talmo::test
