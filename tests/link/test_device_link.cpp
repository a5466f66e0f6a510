// The device link on the emulator's bus: finding, following and exchanging.
#include "link/access_advice.h"
#include "link/device_link.h"

#include "link_test_util.h"
#include "tests/common/rig.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace linktest;
using namespace talmo;

const std::string kDenied = "USB: TALMO présent, accès refusé";

// An empty bus to plug TALMOs into.
struct Bench : talmo::test::Rig {
    sim::VirtualUsb& usb = bus;
    std::vector<std::string> opened; // every path the link tried to open

    Bench() : Rig(nullptr, false) {
        backend.controls.openFault = [this](const std::string& path, int) {
            opened.push_back(path);
            return HidOpenError::None;
        };
        EXPECT_TRUE(talmo::RegisterForDeviceEvents(link));
    }
    // A virtual TALMO on the bus; its id.
    int plug(bool bootLoader = false) {
        return backend.plug(
            sim::MakeTalmo(bootLoader ? sim::Talmo::Mode::BootLoader : sim::Talmo::Mode::Normal));
    }
    sim::Talmo& dev(int id) { return *usb.device(id); }
    std::string path(int id) { return usb.pathOf(id).value_or("(unplugged)"); }
    // Hands every waiting event to the link, as the main window does.
    void deliver() {
        for (const HidDeviceEvent& e : backend.takeEvents())
            talmo::OnDeviceChange(link, e);
    }
    std::string status() const { return ui.status(talmo::ConnectionField); }
};

TEST(DeviceLink, TwoTalmosOnlyTheFirstIsOpenedAndFollowed) {
    Bench b;
    const int a = b.plug();
    const int second = b.plug(true);
    const std::string pathA = b.path(a);
    b.deliver();
    ASSERT_TRUE(b.link.connected());
    EXPECT_EQ(b.link.devicePath, pathA);
    EXPECT_EQ(b.status(), kConnected);

    // The other one leaves: nothing changes.
    const auto textsBefore = b.ui.statusTexts(talmo::ConnectionField).size();
    b.backend.unplug(second);
    b.deliver();
    EXPECT_TRUE(b.link.connected());
    EXPECT_EQ(b.ui.statusTexts(talmo::ConnectionField).size(), textsBefore);

    // Another one arrives: nothing is opened while connected. The opened one
    // leaves: closed (the path is kept), and the next arrival, whatever it
    // is, starts a full search that finds the remaining one first.
    const auto opens = b.opened.size();
    const int c = b.plug();
    b.deliver();
    EXPECT_EQ(b.opened.size(), opens);
    b.backend.unplug(a);
    b.deliver();
    EXPECT_FALSE(b.link.connected());
    EXPECT_EQ(b.status(), kNotConnected);
    EXPECT_EQ(b.link.devicePath, pathA);
    talmo::OnDeviceChange(b.link, {HidDeviceEvent::Arrival, "/dev/hidraw9"});
    ASSERT_TRUE(b.link.connected());
    EXPECT_EQ(b.link.devicePath, b.path(c));
}

TEST(DeviceLink, APreferredPathIsOpenedFirstWhenPresent) {
    Bench b;
    b.plug();
    const int second = b.plug(true);
    b.link.preferredPath = b.path(second);
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);
    EXPECT_EQ(b.link.devicePath, b.path(second));
    // Gone: the others in their order.
    b.link.preferredPath = "/dev/hidraw-elsewhere";
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);
    EXPECT_EQ(b.link.productId, talmo::kTalmoProductId);
}

TEST(DeviceLink, RemovalClosesOnlyForTheKeptPathInAnyCase) {
    const std::pair<std::string, bool> cases[] = {
        {"/dev/vhidraw0", true},
        {"/DEV/VHIDRAW0", true},
        {"/dev/hidraw7", false}, // an unrelated device
        {"/dev/vhidraw00", false},
        {"/dev/vhidraw", false},
        {"", false},
    };
    for (const auto& [path, closes] : cases) {
        SCOPED_TRACE(path);
        Bench b;
        b.backend.controls.extraInterfaces.push_back({"/dev/hidraw7", 0x046D, 0xC52B, 9, 9});
        b.plug();
        ASSERT_EQ(talmo::OpenDevice(b.link), 1);
        ASSERT_EQ(b.link.devicePath, "/dev/vhidraw0");
        talmo::OnDeviceChange(b.link, {HidDeviceEvent::Removal, path});
        EXPECT_EQ(b.link.connected(), !closes);
        EXPECT_EQ(b.status(), closes ? kNotConnected : kConnected);
    }
}

TEST(DeviceLink, OtherProductsAndVendorsAreSkippedWithoutOpening) {
    const talmo::HidInterfaceInfo others[] = {
        {"/dev/hidraw0", 0x04D8, 0x00AB, 65, 65}, // same vendor, other product
        {"/dev/hidraw0", 0x04D9, 0x00AA, 65, 65}, // other vendor, TALMO products
    };
    for (const auto& other : others) {
        SCOPED_TRACE(other.productId);
        Bench b;
        b.backend.controls.extraInterfaces.push_back(other);
        EXPECT_EQ(talmo::OpenDevice(b.link), 0);
        EXPECT_EQ(b.status(), kNotConnected);
        const int t = b.plug();
        EXPECT_EQ(talmo::OpenDevice(b.link), 1);
        EXPECT_EQ(b.link.devicePath, b.path(t));
        EXPECT_EQ(std::count(b.opened.begin(), b.opened.end(), other.path), 0);
    }
}

// An answer that never comes, or carries the wrong letter: the exchange
// fails, a silent device costs 500 ms and leaves the buffer exactly as it
// was (the letter left in byte 1 or cleared by the caller), and the next
// exchange works at once.
TEST(DeviceLink, UnansweredExchangeFailsAndTheNextWorks) {
    // Silent (else a wrong echo); byte 1 cleared between write and read.
    struct Case {
        const char* name;
        bool silent, clearLetter;
    } cases[] = {
        {"silent, letter kept", true, false},
        {"silent, letter cleared", true, true},
        {"wrong echo", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        sim::Talmo& t = b.dev(b.plug());
        ASSERT_EQ(talmo::OpenDevice(b.link), 1);
        (c.silent ? t.faults().silentAt : t.faults().wrongEchoAt) = t.nextExchange();
        Report r = request('I');
        for (int i = 2; i < talmo::kReportSize; ++i)
            r[i] = static_cast<std::uint8_t>(0xA0 + i);
        const auto before = b.clock.nowUs();
        if (c.silent) {
            talmo::WriteReport(b.link, r);
            if (c.clearLetter)
                r[1] = 0;
            const Report sent = r;
            const int count = talmo::ReadReport(b.link, r);
            EXPECT_EQ(count, 0);
            EXPECT_EQ(b.clock.nowUs() - before, 500000);
            EXPECT_EQ(r, sent);
            EXPECT_FALSE(talmo::EchoOk(count, r, 'I'));
        } else {
            EXPECT_FALSE(talmo::Exchange(b.link, r));
            EXPECT_EQ(r[1], t.faults().wrongEchoLetter);
        }
        const auto next = b.clock.nowUs();
        r = request('V');
        EXPECT_TRUE(talmo::Exchange(b.link, r));
        EXPECT_LT(b.clock.nowUs() - next, 500000);
    }
}

TEST(DeviceLink, ReenumerationIntoTheBootLoaderAndBack) {
    Bench b;
    b.plug();
    b.deliver();
    ASSERT_EQ(b.status(), kConnected);
    for (const bool intoBootLoader : {true, false}) {
        SCOPED_TRACE(intoBootLoader);
        const std::string before = b.link.devicePath;
        b.ui.clearEvents();
        talmo::WriteReport(b.link, jump(intoBootLoader)); // the jump gets no answer
        // The events wake the owner's descriptor.
        pollfd pfd{b.backend.eventFd(), POLLIN, 0};
        ASSERT_GE(pfd.fd, 0);
        EXPECT_EQ(::poll(&pfd, 1, 0), 1);
        b.deliver();
        EXPECT_EQ(::poll(&pfd, 1, 0), 0);
        EXPECT_TRUE(b.link.connected());
        EXPECT_NE(b.link.devicePath, before);
        EXPECT_EQ(b.link.productId,
                  intoBootLoader ? talmo::kBootLoaderProductId : talmo::kTalmoProductId);
        const std::string found = intoBootLoader ? kBootLoader : kConnected;
        EXPECT_EQ(b.ui.statusTexts(talmo::ConnectionField),
                  (std::vector<std::string>{kNotConnected, kNotConnected, found}));
        Report r = request('V');
        ASSERT_TRUE(talmo::Exchange(b.link, r));
        EXPECT_EQ(textAt(r, 2), intoBootLoader ? "TALMO BOOT V1.02" : "TALMO V0.23");
    }
}

TEST(DeviceLink, UnplugInTheMiddleOfAnExchange) {
    Bench b;
    sim::Talmo& t = b.dev(b.plug());
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);
    t.faults().unplugAt = t.nextExchange();
    Report r = request('I');
    const Report sent = r;
    EXPECT_FALSE(talmo::Exchange(b.link, r));
    EXPECT_EQ(r, sent);
    // Later exchanges fail at once until the removal is handled, and the
    // failed read counts as nothing received.
    const auto before = b.clock.nowUs();
    EXPECT_FALSE(talmo::Exchange(b.link, r));
    talmo::WriteReport(b.link, r);
    EXPECT_EQ(talmo::ReadReport(b.link, r), 0);
    EXPECT_EQ(b.clock.nowUs(), before);
    EXPECT_EQ(r, sent);
    b.deliver();
    EXPECT_FALSE(b.link.connected());
    EXPECT_EQ(b.status(), kNotConnected);
}

TEST(DeviceLink, ReportLengthsNeverExceedTheBuffer) {
    struct Case {
        std::uint16_t declaredIn, declaredOut, in, out;
    } cases[] = {
        {65, 65, 65, 65},
        {129, 1024, 65, 65}, // clamped: the buffer holds 65
        {0xFFFF, 66, 65, 65},
        {33, 17, 33, 17}, // shorter reports move fewer bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declaredIn);
        Bench b;
        b.backend.controls.lengthOverride[b.path(b.plug())] = {c.declaredIn, c.declaredOut};
        ASSERT_EQ(talmo::OpenDevice(b.link), 1);
        EXPECT_EQ(b.link.inputReportLength, c.in);
        EXPECT_EQ(b.link.outputReportLength, c.out);
        Report r = request('V');
        r.back() = 0x5A;
        talmo::WriteReport(b.link, r);
        EXPECT_EQ(talmo::ReadReport(b.link, r), c.in);
        EXPECT_EQ(b.backend.lastWriteLength(), c.out);
        if (c.in < talmo::kReportSize) {
            EXPECT_EQ(r.back(), 0x5A); // past the input length: untouched
        }
    }
}

TEST(DeviceLink, HalfOpenDeviceCountsAsNotConnected) {
    Bench b;
    const std::string first = b.path(b.plug());
    const int second = b.plug();
    // The second open of the first device (its write handle) fails.
    b.backend.controls.openFault = [&](const std::string& path, int n) {
        return path == first && n % 2 == 1 ? HidOpenError::Other : HidOpenError::None;
    };
    EXPECT_EQ(talmo::OpenDevice(b.link), 1);
    EXPECT_EQ(b.link.devicePath, b.path(second));

    b.backend.unplug(second);
    b.deliver();
    EXPECT_EQ(talmo::OpenDevice(b.link), 0);
    EXPECT_EQ(b.link.readHandle, nullptr);
    EXPECT_EQ(b.link.writeHandle, nullptr);
    EXPECT_EQ(b.status(), kNotConnected);
    // A closed link neither writes nor waits, and leaves the buffer.
    Report r = request('V');
    const Report sent = r;
    const auto before = b.clock.nowUs();
    talmo::WriteReport(b.link, r);
    EXPECT_EQ(talmo::ReadReport(b.link, r), 0);
    EXPECT_FALSE(talmo::Exchange(b.link, r));
    EXPECT_EQ(r, sent);
    EXPECT_EQ(b.clock.nowUs(), before);
}

TEST(DeviceLink, PermissionDenied) {
    struct Case {
        const char* name;
        bool onArrival; // found by an arrival (with retries) or at start-up
        int refusals;   // -1: refused for good
        HidOpenError error;
        std::string text;
        int waits;
    } cases[] = {
        {"start-up, refused", false, -1, HidOpenError::PermissionDenied, kDenied, 0},
        {"start-up, other failure", false, -1, HidOpenError::Other, kNotConnected, 0},
        {"arrival, permissions set after two tries", true, 2, HidOpenError::PermissionDenied,
         kConnected, 2},
        {"arrival, never allowed", true, -1, HidOpenError::PermissionDenied, kDenied,
         talmo::kPermissionRetries},
        {"arrival, other failure is not retried", true, -1, HidOpenError::Other, kNotConnected, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        const int id = b.plug();
        b.backend.controls.openFault = [&c](const std::string&, int n) {
            return c.refusals < 0 || n < c.refusals ? c.error : HidOpenError::None;
        };
        if (c.onArrival)
            b.deliver();
        else
            talmo::OpenDevice(b.link);
        EXPECT_EQ(b.link.connected(), c.text == kConnected);
        EXPECT_EQ(b.status(), c.text);
        int waits = 0;
        for (const auto& e : b.ui.events())
            if (e.kind == talmo::UiEvent::Wait) {
                ++waits;
                EXPECT_EQ(e.ms, talmo::kPermissionRetryMs);
            }
        EXPECT_EQ(waits, c.waits);
        if (c.text != kDenied)
            continue;
        // The refusal stays through another device's removal and goes with
        // the refused device.
        talmo::OnDeviceChange(b.link, {HidDeviceEvent::Removal, "/dev/unrelated"});
        EXPECT_EQ(b.status(), kDenied);
        b.backend.unplug(id);
        b.deliver();
        EXPECT_EQ(b.status(), kNotConnected);
    }
}

// The advice names the refused node; a rule outside udev's folders is
// copied into /etc/udev/rules.d first, one inside them is only read again.
TEST(DeviceLink, AccessRefusedAdviceFollowsWhereTheRuleIs) {
    const struct {
        const char* rule;
        bool copied;
    } cases[] = {
        {"/usr/lib/udev/rules.d/70-talmo.rules", false},
        {"/etc/udev/rules.d/70-talmo.rules", false},
        {"/usr/local/lib/udev/rules.d/70-talmo.rules", true},
        {"/home/u/TALMO_Tools/data/70-talmo.rules", true},
        {"/usr/lib/udev/rules.d/old/70-talmo.rules", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const std::string advice = talmo::AccessDeniedAdvice("/dev/hidraw7", c.rule);
        EXPECT_NE(advice.find("l'accès à /dev/hidraw7 est refusé"), std::string::npos);
        EXPECT_EQ(advice.find(std::string("sudo install -m 644 ") + c.rule +
                              " /etc/udev/rules.d/70-talmo.rules\n") != std::string::npos,
                  c.copied);
        EXPECT_NE(advice.find(c.rule), std::string::npos);
        for (const char* command : {"sudo udevadm control --reload-rules\n",
                                    "sudo udevadm trigger --subsystem-match=hidraw\n",
                                    "débranchez et rebranchez", "sudo usermod -aG plugdev $USER"})
            EXPECT_NE(advice.find(command), std::string::npos) << command;
    }
}

} // namespace
