// The virtual bus: enumeration, re-enumeration on a mode switch, plug and unplug.
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

using sim::Talmo;
using simtest::request;

namespace {

struct Bus : ::testing::Test {
    talmo::VirtualClock clock;
    sim::VirtualUsb bus{clock};

    // Takes the bus's events and checks each: arrival or removal, and its
    // path (any path when empty).
    void expectEvents(std::initializer_list<std::pair<bool, std::string>> want) {
        const auto events = bus.takeEvents();
        ASSERT_EQ(events.size(), want.size());
        std::size_t i = 0;
        for (const auto& [arrival, path] : want) {
            EXPECT_EQ(events[i].arrival, arrival) << i;
            EXPECT_TRUE(path.empty() || events[i].path == path) << i << " " << events[i].path;
            ++i;
        }
    }
};

} // namespace

TEST_F(Bus, ModeSwitchIsRemovalThenArrivalOnANewPathWithTheOtherProduct) {
    const int id = bus.plug(std::make_unique<Talmo>());
    bus.takeEvents();
    std::string path = "/dev/vhidraw0";
    for (const auto& [target, product] : {std::pair{1, 0x00A9}, {0, 0x00AA}, {1, 0x00A9}}) {
        EXPECT_FALSE(bus.exchange(path, simtest::jump(static_cast<std::uint8_t>(target))));
        const auto list = bus.interfaces();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_NE(list[0].path, path);
        expectEvents({{false, path}, {true, list[0].path}});
        EXPECT_EQ(list[0].productId, product);
        EXPECT_FALSE(bus.exchange(path, request('V'))); // the old path is gone
        path = list[0].path;
        EXPECT_TRUE(bus.exchange(path, request('V')));
    }
    EXPECT_EQ(path, "/dev/vhidraw3");
    // A mode set from outside re-enumerates too.
    bus.device(id)->setMode(Talmo::Mode::Normal);
    expectEvents({{false, path}, {true, ""}});
    EXPECT_EQ(bus.interfaces()[0].productId, 0x00AA);
}

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
