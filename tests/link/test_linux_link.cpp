// The real Linux link (hidapi's hidraw library, the udev monitor) against
// virtual TALMOs served as emulated hidraw nodes. Runs under umockdev's
// preload (umockdev-wrapper); times here are real.
#include <glib.h>
#include <umockdev.h>

#include "core/clock.h"
#include "link/linux_backend.h"
#include "link_test_util.h"
#include "sim/hidraw_bridge.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"
#include "tests/common/scripted_ui.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace linktest;
using talmo::Report;
using Ms = std::chrono::milliseconds;

std::int64_t msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t0).count();
}

// The order matters: the bridge (and its testbed) before any libudev object,
// that is before the backend.
struct Rig {
    talmo::RealClock clock;
    sim::VirtualUsb usb{clock};
    sim::HidrawBridge bridge{usb};
    std::unique_ptr<talmo::LinuxBackend> backend = std::make_unique<talmo::LinuxBackend>();
    talmo::ScriptedUi ui{&clock};
    talmo::DeviceLink link;

    Rig() {
        link.backend = backend.get();
        link.ui = &ui;
    }
    ~Rig() { talmo::CloseDevice(link); }

    sim::Talmo* plug(bool bootLoader = false, int* id = nullptr) {
        auto dev = std::make_unique<sim::Talmo>();
        if (bootLoader)
            dev->setMode(sim::Talmo::Mode::BootLoader);
        sim::Talmo* t = dev.get();
        const int n = bridge.plug(std::move(dev));
        if (id)
            *id = n;
        EXPECT_TRUE(bridge.settle());
        return t;
    }
    std::string status() const { return ui.status(talmo::ConnectionField); }
};

class LinuxLink : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sim::HidrawBridge::underPreload())
            GTEST_SKIP() << "needs umockdev's preload (run under umockdev-wrapper)";
        // Asked before any testbed exists, as programs commonly do, umockdev
        // keeps answering "no" and stops announcing new devices by itself:
        // the bridge must announce them. (The bridge program's test covers
        // the other case.)
        (void)umockdev_in_mock_environment();
    }
};

TEST_F(LinuxLink, EnumeratesAndExchangesWholeReportsThroughTwoHandles) {
    Rig rig;
    ASSERT_TRUE(rig.bridge.ok()) << rig.bridge.error();
    sim::Talmo* t = rig.plug();
    t->setFirmwareVersion("TALMO V9.87");
    rig.plug(true);
    const auto list = rig.backend->enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].vendorId, talmo::kTalmoVendorId);
    EXPECT_EQ(list[0].productId, talmo::kTalmoProductId);
    EXPECT_EQ(list[1].productId, talmo::kBootLoaderProductId);
    for (const auto& info : list) {
        EXPECT_EQ(info.inputReportLength, 65);
        EXPECT_EQ(info.outputReportLength, 65);
        EXPECT_EQ(info.path.rfind("/dev/hidraw", 0), 0u) << info.path;
    }
    ASSERT_EQ(talmo::OpenDevice(rig.link), 1);
    EXPECT_EQ(rig.link.devicePath, list[0].path);
    EXPECT_EQ(rig.status(), kConnected);
    ASSERT_NE(rig.link.writeHandle, nullptr);

    Report r = request('V');
    r[64] = 0x77; // the last byte goes out too
    ASSERT_TRUE(talmo::Exchange(rig.link, r));
    EXPECT_EQ(r[0], 0); // report ID 0 in the buffer, though hidraw drops it
    EXPECT_EQ(textAt(r, 2), "TALMO V9.87");
    EXPECT_EQ(t->log().entries().back().request[64], 0x77);
    // Many in a row: each answer belongs to its own request.
    for (int i = 0; i < 50; ++i) {
        r = request('P');
        r[2] = 1;
        r[3] = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(talmo::Exchange(rig.link, r)) << i;
        EXPECT_EQ(r[3], i);
    }
    EXPECT_EQ(t->machine().pwmLevel, 49);

    // A silent device: half a second, the buffer as it was, then the next
    // exchange works.
    t->faults().silentAt = t->nextExchange();
    r = request('I');
    r[20] = 0xEE;
    const Report sent = r;
    const auto t0 = std::chrono::steady_clock::now();
    talmo::WriteReport(rig.link, r);
    EXPECT_EQ(talmo::ReadReport(rig.link, r), 0);
    EXPECT_GE(msSince(t0), 490);
    EXPECT_LT(msSince(t0), 1500);
    EXPECT_EQ(r, sent);
    r = request('V');
    EXPECT_TRUE(talmo::Exchange(rig.link, r));
}

TEST_F(LinuxLink, FollowsPlugAndUnplugThroughTheMonitor) {
    Rig rig;
    ASSERT_TRUE(talmo::RegisterForDeviceEvents(rig.link));
    ASSERT_GE(rig.backend->eventFd(), 0);
    EXPECT_EQ(talmo::OpenDevice(rig.link), 0);
    int first = 0, second = 0;
    sim::Talmo* t = rig.plug(false, &first);
    ASSERT_TRUE(follow(rig.link, [&] { return rig.link.connected(); }));
    EXPECT_EQ(rig.status(), kConnected);
    const std::string kept = rig.link.devicePath;

    rig.plug(true, &second); // ignored while connected
    follow(
        rig.link, [] { return false; }, 200);
    EXPECT_EQ(rig.link.devicePath, kept);
    rig.bridge.unplug(second); // not ours: nothing changes
    follow(
        rig.link, [] { return false; }, 200);
    EXPECT_TRUE(rig.link.connected());

    // Ours is pulled out while a read waits: the read fails at once, the
    // buffer is left, and the monitor's removal closes the link.
    t->faults().silentAt = t->nextExchange();
    Report r = request('I');
    const Report sent = r;
    talmo::WriteReport(rig.link, r);
    std::thread puller([&] {
        std::this_thread::sleep_for(Ms(100));
        rig.bridge.unplug(first);
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(talmo::ReadReport(rig.link, r), 0);
    EXPECT_LT(msSince(t0), 480); // before the time-out
    puller.join();
    EXPECT_EQ(r, sent);
    ASSERT_TRUE(follow(rig.link, [&] { return !rig.link.connected(); }));
    EXPECT_EQ(rig.status(), kNotConnected);
}

// One program on the TALMO at a time: a second link (its own backend, as in
// another program) is refused as busy while the first holds the device,
// without disturbing it, and opens once the first has let go.
TEST_F(LinuxLink, ASecondLinkIsRefusedWhileTheFirstIsOpen) {
    Rig rig;
    rig.plug();
    ASSERT_EQ(talmo::OpenDevice(rig.link), 1);
    talmo::LinuxBackend otherBackend;
    talmo::ScriptedUi otherUi{&rig.clock};
    talmo::DeviceLink other;
    other.backend = &otherBackend;
    other.ui = &otherUi;
    EXPECT_EQ(talmo::OpenDevice(other), 0);
    EXPECT_EQ(other.busyPath, rig.link.devicePath);
    EXPECT_EQ(otherUi.status(talmo::ConnectionField), "USB: TALMO utilisé par un autre programme");
    Report r = request('V');
    EXPECT_TRUE(talmo::Exchange(rig.link, r));

    talmo::CloseDevice(rig.link);
    ASSERT_EQ(talmo::OpenDevice(other), 1);
    EXPECT_TRUE(other.busyPath.empty());
    EXPECT_EQ(talmo::OpenDevice(rig.link), 0); // now the other way round
    talmo::CloseDevice(other);
}

} // namespace
