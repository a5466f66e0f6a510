// The 'Y' report layouts, the echo rule and identification, on a recording
// stand-in for the device.
#include "fake_target.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "programmer/pic_program.h"
#include "programmer/pic_read.h"
#include "programmer/target_commands.h"
#include "shell/scripted_ui.h"

#include <gtest/gtest.h>

using namespace talmo;
using namespace talmo::test;

namespace {

Report Filled(std::uint8_t value) {
    Report r;
    r.fill(value);
    return r;
}

struct LayoutCase {
    const char* what;
    std::function<bool(DeviceLink&, Report&)> step;
    std::vector<int> expected; // bytes 0.. that the step sets
};

} // namespace

TEST(TargetCommands, EachStepSetsOnlyItsOwnBytes) {
    const LayoutCase cases[] = {
        {"enter", [](DeviceLink& l, Report& r) { return TargetEnter(l, r); }, {0, 'Y', 0}},
        {"leave", [](DeviceLink& l, Report& r) { return TargetLeave(l, r); }, {0, 'Y', 1}},
        {"command", [](DeviceLink& l, Report& r) { return TargetCommand(l, r, 0x06); }, {0, 'Y', 3, 0x06}},
        {"load", [](DeviceLink& l, Report& r) { return TargetLoad(l, r, 0x02, 0x3A5C); },
         {0, 'Y', 4, 0x02, 0x3A, 0x5C}},
        {"load eeprom", [](DeviceLink& l, Report& r) { return TargetLoad(l, r, 0x03, 0x00E7); },
         {0, 'Y', 4, 0x03, 0x00, 0xE7}},
        {"read", [](DeviceLink& l, Report& r) { return TargetRead(l, r, 0x04, nullptr); }, {0, 'Y', 2, 0x04}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWire wire;
        wire.answer = [](int, const Report& r) { return std::optional<Report>(r); };
        DeviceLink link;
        Attach(link, wire);
        Report report = Filled(0xA5); // what the previous answer left
        ASSERT_TRUE(c.step(link, report));
        ASSERT_EQ(wire.requests.size(), 1u);
        const Report& sent = wire.requests[0];
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const int want = i < c.expected.size() ? c.expected[i] : 0xA5;
            EXPECT_EQ(sent[i], want) << "byte " << i;
        }
    }
}

TEST(TargetCommands, ReadGivesAllSixteenBitsOfBytesTwoAndThree) {
    const std::uint16_t words[] = {0x0000, 0x3FFF, 0x4000, 0xFFFF, 0x0E24, 0x12AB};
    for (std::uint16_t w : words) {
        FakeWire wire;
        wire.answer = [w](int, const Report& r) { return std::optional<Report>(EchoWith(r, w)); };
        DeviceLink link;
        Attach(link, wire);
        Report report{};
        std::uint16_t got = 0x1234;
        ASSERT_TRUE(TargetRead(link, report, 0x04, &got));
        EXPECT_EQ(got, w);
    }
}

TEST(TargetCommands, AWrongEchoOrNoAnswerFailsTheStepAndLeavesTheWord) {
    struct Case {
        const char* what;
        std::function<std::optional<Report>(int, const Report&)> answer;
    } cases[] = {
        {"no answer", [](int, const Report&) { return std::optional<Report>{}; }},
        {"letter I", [](int, const Report& r) { Report a = EchoWith(r, 0x3FFF); a[1] = 'I'; return std::optional<Report>(a); }},
        {"letter 0", [](int, const Report& r) { Report a = EchoWith(r, 0x3FFF); a[1] = 0; return std::optional<Report>(a); }},
        {"lower y", [](int, const Report& r) { Report a = EchoWith(r, 0x3FFF); a[1] = 'y'; return std::optional<Report>(a); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWire wire;
        wire.answer = c.answer;
        DeviceLink link;
        Attach(link, wire);
        Report report{};
        std::uint16_t word = 0x1111;
        EXPECT_FALSE(TargetRead(link, report, 0x04, &word));
        EXPECT_EQ(word, 0x1111);
        EXPECT_FALSE(TargetEnter(link, report));
        EXPECT_FALSE(TargetLeave(link, report));
        EXPECT_FALSE(TargetCommand(link, report, 0x06));
        EXPECT_FALSE(TargetLoad(link, report, 0x02, 0x0000));
    }
}

// ---------------------------------------------------------------------------
// Identification

namespace {

// A target that answers every step, with the device ID word for the first
// program-memory read and the configuration word for the second.
std::function<std::optional<Report>(int, const Report&)> Chip(std::uint16_t id, std::uint16_t config,
                                                              int failAt = -1, bool silent = false) {
    auto reads = std::make_shared<int>(0);
    return [=](int n, const Report& r) -> std::optional<Report> {
        if (n == failAt) {
            if (silent)
                return std::nullopt;
            Report a = r;
            a[1] = 'B';
            return a;
        }
        if (r[2] == kTargetRead)
            return EchoWith(r, (*reads)++ == 0 ? id : config);
        return r;
    };
}

} // namespace

TEST(IdentifyPic, SendsThirteenReportsInOrder) {
    FakeWire wire;
    wire.answer = Chip(0x0E24, 0x3F72);
    DeviceLink link;
    Attach(link, wire);
    ScriptedUi ui;
    PicIdentification ident;
    IdentifyOutcome out = IdentifyPic(link, ui, ident);
    ASSERT_EQ(wire.requests.size(), 13u);
    const std::pair<int, int> steps[] = {{1, -1}, {0, -1}, {4, 0x00}, {3, 6}, {3, 6}, {3, 6}, {3, 6},
                                         {3, 6},  {3, 6},  {2, 0x04}, {3, 6}, {2, 0x04}, {1, -1}};
    for (std::size_t i = 0; i < 13; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(wire.requests[i][1], 'Y');
        EXPECT_EQ(wire.requests[i][2], steps[i].first);
        if (steps[i].second >= 0) {
            EXPECT_EQ(wire.requests[i][3], steps[i].second);
        }
    }
    EXPECT_EQ(wire.requests[2][4], 0);
    EXPECT_EQ(wire.requests[2][5], 0);
    EXPECT_EQ(out.result, 1);
    EXPECT_TRUE(out.sequenceCompleted);
    EXPECT_EQ(out.picText, "PIC16F877A Rev04");
    EXPECT_EQ(ident.programSize, 8192u);
    EXPECT_EQ(ident.eepromSize, 256u);
    EXPECT_EQ(ident.aFamily, 1u);
    EXPECT_EQ(ident.configWord, 0x3F72u);
    EXPECT_EQ(ui.statusTexts(MessageField), std::vector<std::string>{"PIC: 0x0E24"});
}

TEST(IdentifyPic, NameTable) {
    struct Case {
        std::uint16_t id;
        const char* text;
        std::uint32_t program, eeprom, a;
        int result;
    } cases[] = {
        {0x0960, "PIC16F873 Rev00", 4096, 128, 0, 1},   {0x097F, "PIC16F873 Rev31", 4096, 128, 0, 1},
        {0x0925, "PIC16F874 Rev05", 4096, 128, 0, 1},   {0x09E7, "PIC16F876 Rev07", 8192, 256, 0, 1},
        {0x09A0, "PIC16F877 Rev00", 8192, 256, 0, 1},   {0x0E4A, "PIC16F873A Rev10", 4096, 128, 1, 1},
        {0x0E61, "PIC16F874A Rev01", 4096, 128, 1, 1},  {0x0E1F, "PIC16F876A Rev31", 8192, 256, 1, 1},
        {0x0E24, "PIC16F877A Rev04", 8192, 256, 1, 1},  {0x3FFF, "Unknown", 0, 0, 0, 0},
        {0x0000, "Unknown", 0, 0, 0, 0},                {0x0980, "Unknown", 0, 0, 0, 0},
        {0x0E80, "Unknown", 0, 0, 0, 0},                {0x2E24, "Unknown", 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        FakeWire wire;
        wire.answer = Chip(c.id, 0x3FFF);
        DeviceLink link;
        Attach(link, wire);
        ScriptedUi ui;
        PicIdentification ident{1, 2, 3, 4}; // cleared by the identification
        IdentifyOutcome out = IdentifyPic(link, ui, ident);
        EXPECT_EQ(out.result, c.result);
        EXPECT_TRUE(out.sequenceCompleted);
        EXPECT_EQ(out.picText, c.text);
        EXPECT_EQ(PicDisplayName(c.id), c.text);
        EXPECT_EQ(ident.programSize, c.program);
        EXPECT_EQ(ident.eepromSize, c.eeprom);
        EXPECT_EQ(ident.aFamily, c.a);
        EXPECT_EQ(ident.configWord, 0x3FFFu);
        char shown[32];
        std::snprintf(shown, sizeof shown, "PIC: 0x%04X", c.id);
        EXPECT_EQ(ui.status(MessageField), shown);
    }
}

TEST(IdentifyPic, AFailedStepEndsTheSequenceThere) {
    for (bool silent : {false, true}) {
        for (int k = 0; k < 13; ++k) {
            SCOPED_TRACE(testing::Message() << "step " << k << (silent ? " silent" : " wrong echo"));
            FakeWire wire;
            wire.answer = Chip(0x09E3, 0x3F3A, k, silent);
            DeviceLink link;
            Attach(link, wire);
            ScriptedUi ui;
            PicIdentification ident{8192, 256, 1, 0x1234};
            IdentifyOutcome out = IdentifyPic(link, ui, ident);
            EXPECT_EQ(out.result, 0);
            EXPECT_FALSE(out.sequenceCompleted);
            EXPECT_TRUE(out.picText.empty());
            EXPECT_EQ(wire.requests.size(), static_cast<std::size_t>(k + 1));
            EXPECT_EQ(ident.programSize, 0u);
            EXPECT_EQ(ident.eepromSize, 0u);
            EXPECT_EQ(ident.aFamily, 0u);
            // The configuration word is kept as soon as it was read.
            EXPECT_EQ(ident.configWord, k == 12 ? 0x3F3Au : 0u);
            // The ID word is shown as soon as it was read (step 9).
            EXPECT_EQ(ui.status(MessageField), k >= 10 ? "PIC: 0x09E3" : "");
        }
    }
}

TEST(PicProtection, AllFiveMaskBitsMustBeSet) {
    const std::pair<std::uint32_t, bool> cases[] = {
        {0x3FFF, false}, {0x3130, false}, {0x3F72, false}, {0x0000, true}, {0x1FFF, true},
        {0x2FFF, true},  {0x3EFF, true},  {0x3FDF, true},  {0x3FEF, true}, {0x3B7A, false},
        {0xFFFF, false}, {0x0130, true},
    };
    for (auto [word, prot] : cases)
        EXPECT_EQ(PicProtected(word), prot) << std::hex << word;
}

// ---------------------------------------------------------------------------
// Answers as they come: an EEPROM read uses byte 3 alone, a program read all
// sixteen bits.

TEST(AnswersAsTheyCome, AnEepromReadKeepsByteThreeOnly) {
    FakeWire wire;
    wire.answer = [](int, const Report& r) -> std::optional<Report> {
        if (r[2] == kTargetRead && r[3] == 0x05) {
            Report a = r;
            a[2] = 0x3F; // not part of the EEPROM byte
            a[3] = 0xA7;
            return a;
        }
        return r[2] == kTargetRead ? EchoWith(r, 0x4000) : r;
    };
    DeviceLink link;
    Attach(link, wire);
    ScriptedUi ui;
    auto image = std::make_unique<PicImage>();
    const PicIdentification ident{16, 8, 0, 0x3FFF};
    ASSERT_EQ(ReadPic(link, ui, *image, ident), 1);
    for (std::uint32_t a = 0; a < 16; ++a)
        EXPECT_EQ(image->entries[a], 0x4000u) << "all 16 bits of the word read";
    for (std::uint32_t a = 0; a < 8; ++a)
        EXPECT_EQ(image->entries[kPicEepromAddress + a], 0xA7u);
    EXPECT_EQ(image->entries[kPicEepromAddress + 8], 0x3FFFu);

    // 0x4000 differs from every 14-bit word: the first compare fails.
    ResetPicImage(*image);
    ui.clearEvents();
    EXPECT_EQ(ProgramPic(link, ui, *image, ident), 0);
    EXPECT_EQ(ui.status(MessageField), "Erreur PROG 0x0000:3FFF!=4000");
}
