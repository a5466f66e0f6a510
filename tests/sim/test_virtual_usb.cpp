// The virtual bus's clock drives the PIC's timing. (Its enumeration and
// re-enumeration are seen through the device link's tests.)
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <memory>

using sim::Talmo;
using simtest::request;

TEST(VirtualUsb, StrictPicTimingUsesTheBusClock) {
    // A chip erase needs 20 ms: cut short by the next report it is undone,
    // given its time it erases; latency counts as time spent.
    struct Case {
        std::int64_t latencyUs;
        int waitMs;
        bool erased;
    };
    const Case cases[] = {{0, 0, false}, {0, 19, false}, {0, 20, true}, {1000, 19, true}};
    for (const auto& c : cases) {
        talmo::VirtualClock clock;
        sim::VirtualUsb bus(clock);
        auto dev = std::make_unique<Talmo>();
        dev->setPic(sim::Pic(sim::PicChip::F877A, 1));
        dev->pic()->setCell(0, 0x1234);
        dev->pic()->setStrictTiming(true);
        Talmo* t = dev.get();
        const auto path = *bus.pathOf(bus.plug(std::move(dev)));
        bus.setLatencyUs(c.latencyUs);
        bus.exchange(path, request('Y', {0}));
        bus.exchange(path, request('Y', {3, 0x1F}));
        clock.sleepMs(c.waitMs);
        bus.exchange(path, request('Y', {1}));
        EXPECT_EQ(t->pic()->programWord(0), c.erased ? 0x3FFF : 0x1234)
            << c.latencyUs << " " << c.waitMs;
    }
}
