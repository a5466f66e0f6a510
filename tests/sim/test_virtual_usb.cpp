#include "sim_test_util.h"
#include <gtest/gtest.h>

TEST(Smoke, VersionAnswer)
{
    talmo::VirtualClock clock;
    sim::VirtualUsb bus(clock);
    bus.plug(std::make_unique<sim::Talmo>());
    auto a = bus.exchange(bus.interfaces()[0].path, simtest::request('V'));
    ASSERT_TRUE(a);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*a)[2])), "TALMO V0.23");
}
