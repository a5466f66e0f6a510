// The device link on the emulator's bus: finding, following and exchanging.
#include "link/device_link.h"
#include "link/sim_backend.h"

#include "shell/clock.h"
#include "shell/scripted_ui.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <poll.h>

namespace {

using talmo::DeviceLink;
using talmo::HidDeviceEvent;
using talmo::HidOpenError;
using talmo::Report;

const std::string kConnected = "USB: TALMO connecté";
const std::string kBootLoader = "USB: TALMO Boot Loader connecté";
const std::string kNotConnected = "USB: TALMO non connecté";
const std::string kDenied = "USB: TALMO présent, accès refusé";

struct Bench {
    talmo::VirtualClock clock;
    sim::VirtualUsb usb{clock};
    talmo::SimBackend backend{usb};
    talmo::ScriptedUi ui{&clock};
    DeviceLink link;
    std::vector<std::string> opened; // every path the link tried to open

    Bench()
    {
        link.backend = &backend;
        link.ui = &ui;
        backend.openFault = [this](const std::string& path, int) {
            opened.push_back(path);
            return denyFor(path);
        };
        EXPECT_TRUE(talmo::RegisterForDeviceEvents(link));
    }

    // Refusals for tests: path -> opens still refused (-1: always).
    std::map<std::string, int> denied;
    HidOpenError deniedError = HidOpenError::PermissionDenied;
    HidOpenError denyFor(const std::string& path)
    {
        auto it = denied.find(path);
        if (it == denied.end() || it->second == 0)
            return HidOpenError::None;
        if (it->second > 0)
            --it->second;
        return deniedError;
    }

    sim::Talmo* plug(bool bootLoader = false, int* id = nullptr)
    {
        auto dev = std::make_unique<sim::Talmo>();
        if (bootLoader)
            dev->setMode(sim::Talmo::Mode::BootLoader);
        sim::Talmo* t = dev.get();
        const auto before = usb.interfaces();
        const int n = backend.plug(std::move(dev));
        for (const auto& itf : usb.interfaces())
            if (std::none_of(before.begin(), before.end(), [&](const auto& o) { return o.path == itf.path; }))
                paths[t] = itf.path;
        if (id)
            *id = n;
        return t;
    }
    // The path a device got when it was plugged.
    std::map<sim::Talmo*, std::string> paths;
    std::string pathOf(sim::Talmo* t) { return paths[t]; }
    // Hands every waiting event to the link, as the main window does.
    void deliver()
    {
        for (const HidDeviceEvent& e : backend.takeEvents())
            talmo::OnDeviceChange(link, e);
    }
    std::string status() const { return ui.status(talmo::ConnectionField); }
};

Report request(char letter)
{
    Report r{};
    r[1] = static_cast<std::uint8_t>(letter);
    return r;
}

std::string textAt(const Report& r, int from)
{
    std::string s;
    for (int i = from; i < talmo::kReportSize && r[i]; ++i)
        s += static_cast<char>(r[i]);
    return s;
}

TEST(DeviceLink, ConnectionTextFollowsTheProductId)
{
    struct Case {
        const char* name;
        int devices; // 0: none, 1: normal, 2: boot loader
        int result;
        std::uint16_t productId;
        std::string text;
    } cases[] = {
        {"no device", 0, 0, 0, kNotConnected},
        {"normal mode", 1, 1, talmo::kTalmoProductId, kConnected},
        {"boot loader", 2, 1, talmo::kBootLoaderProductId, kBootLoader},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        if (c.devices)
            b.plug(c.devices == 2);
        EXPECT_EQ(talmo::OpenDevice(b.link), c.result);
        EXPECT_EQ(b.link.connected(), c.result == 1);
        EXPECT_EQ(b.status(), c.text);
        if (c.result) {
            EXPECT_EQ(b.link.productId, c.productId);
            EXPECT_EQ(b.link.inputReportLength, 65);
            EXPECT_EQ(b.link.outputReportLength, 65);
        }
        // Every search starts closed: the first text is "non connecté".
        ASSERT_FALSE(b.ui.statusTexts(talmo::ConnectionField).empty());
        EXPECT_EQ(b.ui.statusTexts(talmo::ConnectionField).front(), kNotConnected);
    }
}

TEST(DeviceLink, TwoTalmosOnlyTheFirstIsOpenedAndFollowed)
{
    Bench b;
    int idA = 0, idB = 0;
    sim::Talmo* a = b.plug(false, &idA);
    sim::Talmo* second = b.plug(true, &idB);
    const std::string pathA = b.pathOf(a), pathB = b.pathOf(second);
    b.deliver();
    ASSERT_TRUE(b.link.connected());
    EXPECT_EQ(b.link.devicePath, pathA);
    EXPECT_EQ(b.status(), kConnected);

    // The other one leaves: nothing changes.
    const auto textsBefore = b.ui.statusTexts(talmo::ConnectionField).size();
    b.backend.unplug(idB);
    b.deliver();
    EXPECT_TRUE(b.link.connected());
    EXPECT_EQ(b.ui.statusTexts(talmo::ConnectionField).size(), textsBefore);

    // Plug it back, unplug the opened one: closed, and the remaining device
    // stays unopened until something arrives.
    int idC = 0;
    sim::Talmo* c = b.plug(false, &idC);
    b.deliver(); // an arrival while connected: ignored
    EXPECT_EQ(b.link.devicePath, pathA);
    b.backend.unplug(idA);
    b.deliver();
    EXPECT_FALSE(b.link.connected());
    EXPECT_EQ(b.status(), kNotConnected);
    EXPECT_EQ(b.link.devicePath, pathA); // kept after closing

    b.plug(true); // any arrival: a full search finds c first
    b.deliver();
    ASSERT_TRUE(b.link.connected());
    EXPECT_EQ(b.link.devicePath, b.pathOf(c));
    (void)pathB;
}

TEST(DeviceLink, RemovalClosesOnlyForTheKeptPathInAnyCase)
{
    struct Case {
        const char* name;
        std::string (*path)(const std::string& kept);
        bool closes;
    } cases[] = {
        {"same path", [](const std::string& p) { return p; }, true},
        {"upper case", [](const std::string& p) {
             std::string s = p;
             std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return std::toupper(ch); });
             return s;
         }, true},
        {"unrelated device", [](const std::string&) { return std::string("/dev/hidraw7"); }, false},
        {"longer path", [](const std::string& p) { return p + "0"; }, false},
        {"shorter path", [](const std::string& p) { return p.substr(0, p.size() - 1); }, false},
        {"empty path", [](const std::string&) { return std::string(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.backend.extraInterfaces.push_back({"/dev/hidraw7", 0x046D, 0xC52B, 9, 9});
        b.plug();
        ASSERT_EQ(talmo::OpenDevice(b.link), 1);
        talmo::OnDeviceChange(b.link, {HidDeviceEvent::Removal, c.path(b.link.devicePath)});
        EXPECT_EQ(b.link.connected(), !c.closes);
        EXPECT_EQ(b.status(), c.closes ? kNotConnected : kConnected);
    }
}

TEST(DeviceLink, ArrivalWhileClosedSearchesWhateverArrived)
{
    Bench b;
    b.plug();
    b.backend.takeEvents(); // the link has not seen the TALMO arrive
    EXPECT_FALSE(b.link.connected());
    // An unrelated device's arrival still triggers the search.
    talmo::OnDeviceChange(b.link, {HidDeviceEvent::Arrival, "/dev/hidraw9"});
    EXPECT_TRUE(b.link.connected());
    EXPECT_EQ(b.status(), kConnected);

    // While connected, an arrival opens nothing.
    const auto opens = b.opened.size();
    talmo::OnDeviceChange(b.link, {HidDeviceEvent::Arrival, "/dev/hidraw9"});
    EXPECT_EQ(b.opened.size(), opens);
    EXPECT_EQ(talmo::OnDeviceChange(b.link, {HidDeviceEvent::Removal, "/dev/none"}), 1);
}

TEST(DeviceLink, OtherProductsAndVendorsAreSkippedWithoutOpening)
{
    struct Case {
        const char* name;
        talmo::HidInterfaceInfo other;
    } cases[] = {
        {"same vendor, other product", {"/dev/hidraw0", 0x04D8, 0x00AB, 65, 65}},
        {"same vendor, product 0", {"/dev/hidraw0", 0x04D8, 0x0000, 65, 65}},
        {"other vendor, TALMO product", {"/dev/hidraw0", 0x04D9, 0x00AA, 65, 65}},
        {"other vendor, boot-loader product", {"/dev/hidraw0", 0x0000, 0x00A9, 65, 65}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.backend.extraInterfaces.push_back(c.other);
        EXPECT_EQ(talmo::OpenDevice(b.link), 0);
        EXPECT_EQ(b.status(), kNotConnected);
        sim::Talmo* t = b.plug();
        EXPECT_EQ(talmo::OpenDevice(b.link), 1);
        EXPECT_EQ(b.link.devicePath, b.pathOf(t));
        EXPECT_EQ(std::count(b.opened.begin(), b.opened.end(), c.other.path), 0);
    }
}

TEST(DeviceLink, ExchangeCarriesTheWholeBufferBothWays)
{
    Bench b;
    sim::Talmo* t = b.plug();
    t->machine().pwmLevel = 40;
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);

    Report r = request('V');
    ASSERT_TRUE(talmo::Exchange(b.link, r));
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(textAt(r, 2), "TALMO V0.23");

    // A second request built from the first answer: every byte the caller
    // did not set goes out as the answer left it.
    r = request('P');
    r[2] = 2;
    for (int i = 10; i < talmo::kReportSize; ++i)
        r[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(talmo::Exchange(b.link, r));
    EXPECT_EQ(r[3], 40);
    const Report answer = r;
    r[2] = 1;
    r[3] = 99;
    ASSERT_TRUE(talmo::Exchange(b.link, r));
    const sim::Exchange& sent = t->log().entries().back();
    for (int i = 0; i < talmo::kReportSize; ++i) {
        if (i == 2 || i == 3)
            continue;
        EXPECT_EQ(sent.request[i], answer[i]) << "byte " << i;
    }
    EXPECT_EQ(t->machine().pwmLevel, 99);
}

TEST(DeviceLink, SilentDeviceTimesOutOnTheClockAndLeavesTheBuffer)
{
    Bench b;
    sim::Talmo* t = b.plug();
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);
    t->faults().silentAt = t->nextExchange();

    Report r = request('I');
    for (int i = 2; i < talmo::kReportSize; ++i)
        r[i] = static_cast<std::uint8_t>(0xA0 + i);
    const Report sent = r;
    const auto before = b.clock.nowUs();
    talmo::WriteReport(b.link, r);
    EXPECT_EQ(talmo::ReadReport(b.link, r), 0);
    EXPECT_EQ(b.clock.nowUs() - before, 500000);
    EXPECT_EQ(r, sent);
    // Byte 1 still holds the request's letter, and the check fails anyway.
    EXPECT_EQ(r[1], 'I');
    EXPECT_FALSE(talmo::EchoOk(0, r, 'I'));

    // The next exchange works, at once.
    const auto next = b.clock.nowUs();
    r = request('V');
    EXPECT_TRUE(talmo::Exchange(b.link, r));
    EXPECT_LT(b.clock.nowUs() - next, 500000);
}

TEST(DeviceLink, ClearedLetterAfterTimeoutFailsTheCheck)
{
    Bench b;
    sim::Talmo* t = b.plug();
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);
    t->faults().silentAt = t->nextExchange();
    Report r = request('I');
    talmo::WriteReport(b.link, r);
    r[1] = 0; // the status poll clears it before reading
    const int count = talmo::ReadReport(b.link, r);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(r[1], 0);
    EXPECT_FALSE(talmo::EchoOk(count, r, 'I'));
}

TEST(DeviceLink, EchoCheck)
{
    struct Case {
        int count;
        std::uint8_t byte1;
        std::uint8_t letter;
        bool ok;
    } cases[] = {
        {65, 'I', 'I', true}, {1, 'V', 'V', true},  {0, 'I', 'I', false},
        {65, 0, 'I', false},  {65, 'i', 'I', false}, {-1, 'I', 'I', false},
    };
    for (const Case& c : cases) {
        Report r{};
        r[1] = c.byte1;
        EXPECT_EQ(talmo::EchoOk(c.count, r, c.letter), c.ok) << c.count << " " << int(c.byte1);
    }
}

TEST(DeviceLink, WrongEchoFailsTheExchange)
{
    Bench b;
    sim::Talmo* t = b.plug();
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);
    t->faults().wrongEchoAt = t->nextExchange();
    Report r = request('F');
    EXPECT_FALSE(talmo::Exchange(b.link, r));
    EXPECT_EQ(r[1], t->faults().wrongEchoLetter);
    r = request('F');
    EXPECT_TRUE(talmo::Exchange(b.link, r));
}

TEST(DeviceLink, ReenumerationIntoTheBootLoaderAndBack)
{
    Bench b;
    b.plug();
    b.deliver();
    ASSERT_EQ(b.status(), kConnected);
    const std::string normalPath = b.link.devicePath;
    b.ui.clearEvents();

    Report r = request('Z');
    r[2] = 'U';
    r[3] = 0xAA;
    r[4] = 1;
    talmo::WriteReport(b.link, r); // the jump gets no answer
    pollfd pfd{b.backend.eventFd(), POLLIN, 0};
    ASSERT_GE(pfd.fd, 0);
    EXPECT_EQ(::poll(&pfd, 1, 0), 1);
    b.deliver();
    EXPECT_EQ(::poll(&pfd, 1, 0), 0);
    EXPECT_TRUE(b.link.connected());
    EXPECT_EQ(b.link.productId, talmo::kBootLoaderProductId);
    EXPECT_NE(b.link.devicePath, normalPath);
    EXPECT_EQ(b.ui.statusTexts(talmo::ConnectionField),
              (std::vector<std::string>{kNotConnected, kNotConnected, kBootLoader}));

    r = request('V');
    ASSERT_TRUE(talmo::Exchange(b.link, r));
    EXPECT_EQ(textAt(r, 2), "TALMO BOOT V1.02");

    r = request('Z');
    r[2] = 'U';
    r[3] = 0xAA;
    r[4] = 0;
    talmo::WriteReport(b.link, r);
    b.deliver();
    EXPECT_EQ(b.link.productId, talmo::kTalmoProductId);
    EXPECT_EQ(b.status(), kConnected);
}

TEST(DeviceLink, UnplugInTheMiddleOfAnExchange)
{
    Bench b;
    sim::Talmo* t = b.plug();
    ASSERT_EQ(talmo::OpenDevice(b.link), 1);
    t->faults().unplugAt = t->nextExchange();
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

TEST(DeviceLink, ClosedLinkNeitherWritesNorWaits)
{
    Bench b;
    Report r = request('V');
    const Report sent = r;
    talmo::WriteReport(b.link, r);
    EXPECT_EQ(talmo::ReadReport(b.link, r), 0);
    EXPECT_FALSE(talmo::Exchange(b.link, r));
    EXPECT_EQ(r, sent);
    EXPECT_EQ(b.clock.nowUs(), 0);
    talmo::CloseDevice(b.link); // twice closed is harmless
    EXPECT_EQ(b.status(), kNotConnected);
}

TEST(DeviceLink, ReportLengthsNeverExceedTheBuffer)
{
    struct Case {
        std::uint16_t declaredIn, declaredOut;
        std::uint16_t in, out;
    } cases[] = {
        {65, 65, 65, 65},
        {129, 1024, 65, 65},   // clamped: the buffer holds 65
        {0xFFFF, 66, 65, 65},
        {33, 17, 33, 17},      // shorter reports move fewer bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declaredIn);
        Bench b;
        sim::Talmo* t = b.plug();
        b.backend.lengthOverride[b.pathOf(t)] = {c.declaredIn, c.declaredOut};
        ASSERT_EQ(talmo::OpenDevice(b.link), 1);
        EXPECT_EQ(b.link.inputReportLength, c.in);
        EXPECT_EQ(b.link.outputReportLength, c.out);
        Report r = request('V');
        r.back() = 0x5A;
        const int count = (talmo::WriteReport(b.link, r), talmo::ReadReport(b.link, r));
        EXPECT_EQ(b.backend.lastWriteLength(), c.out);
        EXPECT_EQ(count, c.in);
        if (c.in < talmo::kReportSize) {
            EXPECT_EQ(r.back(), 0x5A); // past the input length: untouched
        }
    }
}

TEST(DeviceLink, HalfOpenDeviceCountsAsNotConnected)
{
    Bench b;
    int secondId = 0;
    sim::Talmo* first = b.plug();
    sim::Talmo* second = b.plug(false, &secondId);
    const std::string firstPath = b.pathOf(first);
    // The second open of the first device (its write handle) fails.
    b.backend.openFault = [&](const std::string& path, int n) {
        b.opened.push_back(path);
        return path == firstPath && n % 2 == 1 ? HidOpenError::Other : HidOpenError::None;
    };
    EXPECT_EQ(talmo::OpenDevice(b.link), 1);
    EXPECT_EQ(b.link.devicePath, b.pathOf(second));

    b.backend.unplug(secondId);
    b.deliver();
    EXPECT_EQ(talmo::OpenDevice(b.link), 0);
    EXPECT_FALSE(b.link.connected());
    EXPECT_EQ(b.link.readHandle, nullptr);
    EXPECT_EQ(b.link.writeHandle, nullptr);
    EXPECT_EQ(b.status(), kNotConnected);
}

TEST(DeviceLink, PermissionDenied)
{
    struct Case {
        const char* name;
        bool onArrival;    // found by an arrival (with retries) or at start-up
        int refusals;      // -1: refused for good
        HidOpenError error;
        bool connected;
        std::string text;
        int waits;
    } cases[] = {
        {"start-up, refused", false, -1, HidOpenError::PermissionDenied, false, kDenied, 0},
        {"start-up, other failure", false, -1, HidOpenError::Other, false, kNotConnected, 0},
        {"arrival, permissions set after two tries", true, 2, HidOpenError::PermissionDenied, true, kConnected, 2},
        {"arrival, never allowed", true, -1, HidOpenError::PermissionDenied, false, kDenied,
         talmo::kPermissionRetries},
        {"arrival, other failure is not retried", true, -1, HidOpenError::Other, false, kNotConnected, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        sim::Talmo* t = b.plug();
        b.denied[b.pathOf(t)] = c.refusals;
        b.deniedError = c.error;
        if (c.onArrival)
            b.deliver();
        else
            talmo::OpenDevice(b.link);
        EXPECT_EQ(b.link.connected(), c.connected);
        EXPECT_EQ(b.status(), c.text);
        int waits = 0;
        for (const auto& e : b.ui.events())
            if (e.kind == talmo::UiEvent::Wait) {
                ++waits;
                EXPECT_EQ(e.ms, talmo::kPermissionRetryMs);
            }
        EXPECT_EQ(waits, c.waits);
    }
}

TEST(DeviceLink, RefusedDeviceLeavingClearsItsText)
{
    Bench b;
    int id = 0;
    sim::Talmo* t = b.plug(false, &id);
    b.denied[b.pathOf(t)] = -1;
    talmo::OpenDevice(b.link);
    ASSERT_EQ(b.status(), kDenied);
    talmo::OnDeviceChange(b.link, {HidDeviceEvent::Removal, "/dev/unrelated"});
    EXPECT_EQ(b.status(), kDenied);
    b.backend.unplug(id);
    b.deliver();
    EXPECT_EQ(b.status(), kNotConnected);
}

} // namespace
