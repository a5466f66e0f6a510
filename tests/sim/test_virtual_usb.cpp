// The virtual bus: enumeration, re-enumeration on a mode switch, plug and unplug.
#include "sim_test_util.h"

#include <gtest/gtest.h>

#include <memory>

using sim::Talmo;
using sim::VirtualUsb;
using simtest::request;

namespace {

sim::Report jump(std::uint8_t target)
{
    return request('Z', {'U', 0xAA, target});
}

} // namespace

TEST(VirtualUsb, PluggedDeviceEnumeratesAsATalmoInNormalMode)
{
    talmo::VirtualClock clock;
    VirtualUsb bus(clock);
    EXPECT_TRUE(bus.interfaces().empty());
    const int id = bus.plug(std::make_unique<Talmo>());
    const auto events = bus.takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].arrival);
    EXPECT_EQ(events[0].path, "/dev/vhidraw0");
    EXPECT_FALSE(bus.hasEvents());
    const auto list = bus.interfaces();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, "/dev/vhidraw0");
    EXPECT_EQ(list[0].vendorId, 0x04D8);
    EXPECT_EQ(list[0].productId, 0x00AA);
    EXPECT_EQ(list[0].inputReportLength, 65);
    EXPECT_EQ(list[0].outputReportLength, 65);
    EXPECT_EQ(bus.pathOf(id), "/dev/vhidraw0");
    EXPECT_TRUE(bus.exchange("/dev/vhidraw0", request('B')));
    EXPECT_FALSE(bus.exchange("/dev/vhidraw9", request('B')));
}

TEST(VirtualUsb, ModeSwitchIsRemovalThenArrivalOnANewPathWithTheOtherProduct)
{
    talmo::VirtualClock clock;
    VirtualUsb bus(clock);
    const int id = bus.plug(std::make_unique<Talmo>());
    bus.takeEvents();
    struct Step { std::uint8_t target; std::uint16_t product; };
    const Step steps[] = {{1, 0x00A9}, {0, 0x00AA}, {1, 0x00A9}};
    std::string path = "/dev/vhidraw0";
    for (const auto& s : steps) {
        EXPECT_FALSE(bus.exchange(path, jump(s.target)));
        const auto events = bus.takeEvents();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_FALSE(events[0].arrival);
        EXPECT_EQ(events[0].path, path);
        EXPECT_TRUE(events[1].arrival);
        EXPECT_NE(events[1].path, path);
        const auto list = bus.interfaces();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].path, events[1].path);
        EXPECT_EQ(list[0].productId, s.product);
        EXPECT_FALSE(bus.exchange(path, request('V'))); // the old path is gone
        path = events[1].path;
        EXPECT_TRUE(bus.exchange(path, request('V')));
    }
    EXPECT_EQ(path, "/dev/vhidraw3");
    // A mode set from outside re-enumerates too.
    bus.device(id)->setMode(Talmo::Mode::Normal);
    const auto events = bus.takeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(bus.interfaces()[0].productId, 0x00AA);
}

TEST(VirtualUsb, UnplugAndReplugSeveralDevices)
{
    talmo::VirtualClock clock;
    VirtualUsb bus(clock);
    const int a = bus.plug(std::make_unique<Talmo>());
    auto second = std::make_unique<Talmo>();
    second->setMode(Talmo::Mode::BootLoader);
    const int b = bus.plug(std::move(second));
    bus.takeEvents();
    auto list = bus.interfaces();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].productId, 0x00AA);
    EXPECT_EQ(list[1].productId, 0x00A9);

    // Each path reaches its own device.
    EXPECT_TRUE(bus.exchange(list[0].path, request('M', {1})));
    EXPECT_TRUE(bus.device(a)->machine().motorsOn);
    EXPECT_FALSE(bus.device(b)->machine().motorsOn);

    bus.unplug(a);
    EXPECT_FALSE(bus.plugged(a));
    EXPECT_FALSE(bus.pathOf(a));
    auto events = bus.takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].arrival);
    EXPECT_EQ(events[0].path, list[0].path);
    EXPECT_FALSE(bus.exchange(list[0].path, request('B')));
    ASSERT_EQ(bus.interfaces().size(), 1u);
    bus.unplug(a); // twice: nothing more
    EXPECT_FALSE(bus.hasEvents());

    bus.replug(a);
    events = bus.takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].arrival);
    EXPECT_NE(events[0].path, list[0].path);
    EXPECT_TRUE(bus.device(a)->machine().motorsOn); // same device, state kept
    EXPECT_EQ(bus.interfaces().size(), 2u);
    EXPECT_EQ(bus.device(7), nullptr);
}

TEST(VirtualUsb, UnplugFaultPullsTheDeviceOutAtThatExchange)
{
    talmo::VirtualClock clock;
    VirtualUsb bus(clock);
    const int id = bus.plug(std::make_unique<Talmo>());
    bus.takeEvents();
    Talmo* t = bus.device(id);
    t->faults().unplugAt = t->nextExchange() + 1;
    const auto path = *bus.pathOf(id);
    EXPECT_TRUE(bus.exchange(path, request('I')));
    EXPECT_FALSE(bus.exchange(path, request('I')));
    EXPECT_FALSE(bus.plugged(id));
    const auto events = bus.takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].arrival);
}

TEST(VirtualUsb, LatencyRunsOnTheClock)
{
    talmo::VirtualClock clock;
    VirtualUsb bus(clock);
    const int id = bus.plug(std::make_unique<Talmo>());
    const auto path = *bus.pathOf(id);
    bus.exchange(path, request('B'));
    EXPECT_EQ(clock.nowUs(), 0);
    bus.setLatencyUs(1000);
    for (int i = 0; i < 5; ++i) bus.exchange(path, request('I'));
    EXPECT_EQ(clock.nowUs(), 5000);
    // The log carries the time each request arrived.
    const auto& log = bus.device(id)->log().entries();
    EXPECT_EQ(log.back().timeUs, 4000);
}

TEST(VirtualUsb, StrictPicTimingUsesTheBusClock)
{
    // A chip erase needs 20 ms: cut short by the next report it is undone,
    // given its time it erases; latency counts as time spent.
    struct Case { std::int64_t latencyUs; int waitMs; bool erased; };
    const Case cases[] = {{0, 0, false}, {0, 19, false}, {0, 20, true}, {1000, 19, true}};
    for (const auto& c : cases) {
        talmo::VirtualClock clock;
        VirtualUsb bus(clock);
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
        EXPECT_EQ(t->pic()->programWord(0), c.erased ? 0x3FFF : 0x1234) << c.latencyUs << " " << c.waitMs;
    }
}
