// The virtual TALMO's answers in normal and boot-loader mode, and its faults.
#include "sim_test_util.h"

#include "sim/board_firmware.h"

#include <gtest/gtest.h>

#include <string>

using sim::Report;
using sim::Talmo;
using simtest::request;

namespace {

std::string textAt(const Report& r, std::size_t from)
{
    std::string s;
    for (std::size_t i = from; i < r.size() && r[i] != 0; ++i) s += static_cast<char>(r[i]);
    return s;
}

struct Dev {
    Talmo t;
    std::int64_t now = 0;
    std::optional<Report> ask(const Report& r) { return t.exchange(r, now); }
    std::optional<Report> ask(char letter, std::initializer_list<std::uint8_t> args = {})
    {
        return ask(request(letter, args));
    }
};

Report jump(std::uint8_t target)
{
    return request('Z', {'U', 0xAA, target});
}

} // namespace

TEST(TalmoNormal, AnswersEchoTheLetterWithReportIdZero)
{
    Dev d;
    for (char letter : {'B', 'V', 'F', 'T', 'I', 'P', 'M', 'L', 'Y'}) {
        auto a = d.ask(letter);
        ASSERT_TRUE(a) << letter;
        EXPECT_EQ((*a)[0], 0) << letter;
        EXPECT_EQ((*a)[1], static_cast<std::uint8_t>(letter));
    }
    // Letters of the boot loader, and unknown ones, get no answer in normal mode.
    for (char letter : {'R', 'W', 'A', 'Q'}) EXPECT_FALSE(d.ask(letter)) << letter;
}

TEST(TalmoNormal, VersionIsTheTextProgrammedAt130C)
{
    Dev d;
    EXPECT_EQ(textAt(*d.ask('V'), 2), "TALMO V0.23");
    d.t.setFlashBytes(0x130C, {'T', 'A', 'L', 'M', 'O', ' ', 'V', '0', '.', '2', '1', 0});
    EXPECT_EQ(textAt(*d.ask('V'), 2), "TALMO V0.21");
    // A text without terminator in memory still ends inside the report.
    std::vector<std::uint8_t> longText(200, 'x');
    d.t.setFlashBytes(0x130C, longText);
    const auto a = *d.ask('V');
    EXPECT_EQ(a[64], 0);
    EXPECT_EQ(textAt(a, 2).size(), 62u);
}

TEST(TalmoNormal, FlashAndTableAnswers)
{
    Dev d;
    auto f = *d.ask('F');
    EXPECT_EQ(f[2], 0x37);
    EXPECT_EQ(f[4], 21);
    EXPECT_EQ(f[5], 0);
    d.t.flash().manufacturer = 0xFF;
    EXPECT_EQ((*d.ask('F'))[2], 0xFF);

    d.t.table() = {"ABCDEFGHIJ", {17, 0, 0, 0, 50}, 30, 12, 200, 3, 0x05};
    auto t = *d.ask('T', {3});
    EXPECT_EQ(std::string(t.begin() + 4, t.begin() + 12), "ABCDEFGH");
    EXPECT_EQ(std::vector<std::uint8_t>(t.begin() + 12, t.begin() + 17), (std::vector<std::uint8_t>{17, 0, 0, 0, 50}));
    EXPECT_EQ(t[27], 30);
    EXPECT_EQ(t[28], 12);
    EXPECT_EQ(t[29], 200);
    EXPECT_EQ(t[30], 3);
    EXPECT_EQ(t[31], 0x05);
    d.t.table().name = "AB";
    t = *d.ask('T', {3});
    EXPECT_EQ(t[6], 0);
}

TEST(TalmoNormal, StatusBitsFollowTheMachine)
{
    struct Case { const char* name; void (*set)(sim::Machine&); std::size_t byte; std::uint8_t bits; };
    const Case cases[] = {
        {"motors", [](sim::Machine& m) { m.motorsOn = true; }, 7, 0x40},
        {"manual", [](sim::Machine& m) { m.manual = true; }, 8, 0x01},
        {"output off", [](sim::Machine& m) { m.outputOff = true; }, 8, 0x08},
        {"io1", [](sim::Machine& m) { m.io1 = true; }, 8, 0x10},
        {"stop prog", [](sim::Machine& m) { m.stopProg = true; }, 8, 0x20},
        {"keypad absent", [](sim::Machine& m) { m.keypadAbsent = true; }, 11, 0x0C},
        {"keys", [](sim::Machine& m) { m.keys = sim::KeyUp | sim::KeyOk; }, 11, 0x42},
        {"pwm level", [](sim::Machine& m) { m.pwmLevel = 0x80; }, 9, 0x80},
        {"pwm input", [](sim::Machine& m) { m.pwmInput = 0x33; }, 10, 0x33},
    };
    for (const auto& c : cases) {
        Dev d;
        sim::Machine& m = d.t.machine();
        m = {};
        m.outputEnabled = false;
        m.limitSwitchesOpen = false;
        m.probesOpen = false;
        const auto base = *d.ask('I');
        for (std::size_t i = 7; i <= 11; ++i) EXPECT_EQ(base[i], 0) << c.name;
        c.set(m);
        const auto a = *d.ask('I');
        for (std::size_t i = 7; i <= 11; ++i) EXPECT_EQ(a[i], i == c.byte ? c.bits : 0) << c.name << " byte " << i;
    }
    Dev d;
    d.t.machine() = {};
    const auto a = *d.ask('I');
    EXPECT_EQ(a[7], 0x10); // output enabled
    EXPECT_EQ(a[8], 0x06); // limit switches and probes open
}

TEST(TalmoNormal, PwmSecondRequestBuiltFromTheFirstAnswerSetsTheLevel)
{
    Dev d;
    for (std::uint8_t v : {std::uint8_t{128}, std::uint8_t{0}, std::uint8_t{255}}) {
        auto first = d.ask('P', {2, 0x77}); // byte 3 carries junk in a query
        ASSERT_TRUE(first);
        EXPECT_NE(d.t.machine().pwmLevel, 0x77);
        Report second = *first;
        second[3] = v;
        ASSERT_TRUE(d.ask(second));
        EXPECT_EQ(d.t.machine().pwmLevel, v);
        EXPECT_EQ((*d.ask('I'))[9], v);
        EXPECT_EQ((*d.ask('P', {2}))[3], v);
    }
}

TEST(TalmoNormal, MotorToggleTwiceReturnsToTheFirstState)
{
    Dev d;
    for (int round = 0; round < 4; ++round) {
        const bool wasOn = d.t.machine().motorsOn;
        const auto first = *d.ask('M', {2});
        EXPECT_EQ(first[2], wasOn ? 1 : 0);
        d.ask('M', {static_cast<std::uint8_t>(first[2] == 0 ? 1 : 0)});
        EXPECT_EQ(d.t.machine().motorsOn, !wasOn);
        EXPECT_EQ(((*d.ask('I'))[7] & 0x40) != 0, !wasOn);
    }
}

TEST(TalmoNormal, LcdKeepsWhatWasWritten)
{
    Dev d;
    d.ask('L', {2});
    EXPECT_TRUE(d.t.lcdHeldByUsb());
    for (std::uint8_t col = 0; col < 20; ++col) d.ask('L', {0, col, 1, 0xFF});
    EXPECT_EQ(d.t.lcdLine(0), std::string(20, '\xFF'));
    d.ask('L', {5});
    EXPECT_EQ(d.t.lcdLine(0), std::string(20, ' '));
    d.ask('L', {0, 0, 5, 'T', 'A', 'L', 'M', 'O', 0});
    d.ask('L', {1, 0, 8, 'M', 'O', 'D', 'E', ' ', 'U', 'S', 'B', 0});
    d.ask('L', {1, 17, 6, 'A', 'B', 'C', 'D', 'E', 'F'}); // cut at column 20
    d.ask('L', {0, 10, 4, 'x', 0, 'y', 'z'});             // a NUL ends the text
    d.ask('L', {3});
    EXPECT_FALSE(d.t.lcdHeldByUsb());
    EXPECT_EQ(d.t.lcdLine(0), "TALMO     x         ");
    EXPECT_EQ(d.t.lcdLine(1), "MODE USB         ABC");
}

TEST(TalmoNormal, JumpReportSwitchesToTheBootLoaderWithoutAnswer)
{
    Dev d;
    auto bad = d.ask(request('Z', {'U', 0xAA, 0}));
    ASSERT_TRUE(bad);
    EXPECT_EQ((*bad)[2], 0);
    EXPECT_EQ(d.t.mode(), Talmo::Mode::Normal);
    d.t.machine().motorsOn = true;
    EXPECT_FALSE(d.ask(jump(1)));
    EXPECT_EQ(d.t.mode(), Talmo::Mode::BootLoader);
    EXPECT_EQ(d.t.productId(), 0x00A9);
    EXPECT_FALSE(d.t.machine().motorsOn);
    EXPECT_FALSE(d.ask('I')); // normal-mode commands are gone
}

TEST(TalmoNormal, TargetCommandsReachThePic)
{
    Dev d;
    // Identification walk: leave, enter, load configuration, six increments, read.
    d.ask('Y', {1});
    d.ask('Y', {0});
    d.ask('Y', {4, 0x00, 0x00, 0x00});
    for (int i = 0; i < 6; ++i) d.ask('Y', {3, 0x06});
    auto id = *d.ask('Y', {2, 0x04});
    EXPECT_EQ(id[2] << 8 | id[3], 0x70 << 5 | 7);
    d.ask('Y', {3, 0x06});
    auto cfg = *d.ask('Y', {2, 0x04});
    EXPECT_EQ(cfg[2] << 8 | cfg[3], sim::kBoardConfigWord);
    // Sub-command 4 loads bytes 4-5, high first.
    d.ask('Y', {1});
    d.ask('Y', {0});
    d.ask('Y', {3, 0x1F});
    d.now += 20000;
    d.ask('Y', {4, 0x02, 0x12, 0x34});
    d.ask('Y', {3, 0x18});
    d.ask('Y', {3, 0x17});
    EXPECT_EQ(d.t.pic()->programWord(0), 0x1234);
    auto eep = *d.ask('Y', {2, 0x05});
    EXPECT_EQ(eep[3], 0xFF);
}

TEST(TalmoNormal, BoardWithoutPicReadsBlank)
{
    Dev d;
    d.t.removePic();
    d.ask('Y', {0});
    d.ask('Y', {4, 0x00, 0, 0});
    for (int i = 0; i < 6; ++i) d.ask('Y', {3, 0x06});
    auto a = d.ask('Y', {2, 0x04});
    ASSERT_TRUE(a);
    EXPECT_EQ((*a)[2] << 8 | (*a)[3], 0x3FFF);
}

TEST(TalmoBootLoader, VersionAndReads)
{
    Dev d;
    d.t.setMode(Talmo::Mode::BootLoader);
    EXPECT_EQ(textAt(*d.ask('V'), 2), "TALMO BOOT V1.02");
    auto r = d.ask('R', {1, 0x13, 0x00});
    ASSERT_TRUE(r);
    EXPECT_EQ(textAt(*r, 17), "TALMO V0.23");
    for (std::uint32_t k = 0; k < 32; ++k) EXPECT_EQ((*r)[5 + k], d.t.flashByte(0x1300 + k));
    d.t.setEepromByte(0x25, 0x99);
    auto e = d.ask('R', {0, 0x00, 0x20});
    ASSERT_TRUE(e);
    EXPECT_EQ((*e)[5 + 5], 0x99);
    // Nothing of the boot loader's own area, nothing past the end.
    for (auto args : {std::vector<std::uint8_t>{1, 0x12, 0xE0}, {1, 0x00, 0x00}, {1, 0x7F, 0xF0}, {0, 0x00, 0xF0}, {2, 0x13, 0x00}})
        EXPECT_FALSE(d.ask(request('R', {args[0], args[1], args[2]})));
    EXPECT_FALSE(d.ask('I'));
    EXPECT_FALSE(d.ask('Y', {0}));
}

namespace {

Report block(std::uint8_t flag, std::uint32_t address, std::uint8_t fill)
{
    Report r = request('W', {flag, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF)});
    for (std::size_t k = 0; k < 32; ++k) r[5 + k] = static_cast<std::uint8_t>(fill + k);
    return r;
}

} // namespace

TEST(TalmoBootLoader, WritesFollowTheFlashRows)
{
    struct Step { std::uint8_t flag; std::uint32_t address; bool accepted; };
    struct Case { const char* name; std::vector<Step> steps; };
    const std::vector<Case> cases = {
        {"row in two halves", {{1, 0x1300, true}, {2, 0x1320, true}, {1, 0x1340, true}, {2, 0x1360, true}}},
        {"second half first", {{2, 0x1320, false}}},
        {"first half at a half-row address", {{1, 0x1320, false}}},
        {"second half of another row", {{1, 0x1300, true}, {2, 0x1360, false}}},
        {"second half twice", {{1, 0x1300, true}, {2, 0x1320, true}, {2, 0x1320, false}}},
        {"EEPROM write between the halves", {{1, 0x1300, true}, {0, 0x1F, true}, {2, 0x1320, false}}},
        {"boot-loader area", {{1, 0x12C0, false}, {1, 0x0000, false}}},
        {"last row", {{1, 0x7FC0, true}, {2, 0x7FE0, true}}},
        {"unknown flags", {{3, 0x1300, false}, {0xFF, 0x1300, false}}},
        {"EEPROM names the block's last byte", {{0, 0x1F, true}, {0, 0xFF, true}, {0, 0x00, false}, {0, 0x20, false}, {0, 0x11F, false}}},
    };
    for (const auto& c : cases) {
        Dev d;
        d.t.setMode(Talmo::Mode::BootLoader);
        for (const auto& s : c.steps) {
            auto a = d.ask(block(s.flag, s.address, 0x40));
            ASSERT_TRUE(a) << c.name;
            EXPECT_EQ((*a)[1], 'W');
            EXPECT_EQ((*a)[2], s.accepted ? 1 : 0) << c.name << " at " << s.address;
        }
    }
}

TEST(TalmoBootLoader, FirstHalfErasesTheWholeRow)
{
    Dev d;
    d.t.setMode(Talmo::Mode::BootLoader);
    d.t.setFlashBytes(0x1340, std::vector<std::uint8_t>(128, 0x00));
    d.ask(block(1, 0x1340, 0x10));
    for (std::uint32_t k = 0; k < 32; ++k) EXPECT_EQ(d.t.flashByte(0x1340 + k), 0x10 + k);
    for (std::uint32_t k = 32; k < 64; ++k) EXPECT_EQ(d.t.flashByte(0x1340 + k), 0xFF); // erased, never written
    EXPECT_EQ(d.t.flashByte(0x1380), 0x00);
    d.ask(block(0, 0x3F, 0x80));
    for (std::uint32_t k = 0; k < 32; ++k) EXPECT_EQ(d.t.eepromByte(0x20 + k), 0x80 + k);
}

TEST(TalmoBootLoader, UpdatedFirmwareVersionShowsAfterStartingTheApplication)
{
    Dev d;
    d.t.setMode(Talmo::Mode::BootLoader);
    Report first = block(1, 0x1300, 0);
    const std::string v = "TALMO V0.24";
    for (std::size_t i = 0; i < 32; ++i) first[5 + i] = 0xFF;
    for (std::size_t i = 0; i <= v.size(); ++i) first[5 + 12 + i] = i < v.size() ? static_cast<std::uint8_t>(v[i]) : 0;
    EXPECT_EQ((*d.ask(first))[2], 1);
    EXPECT_FALSE(d.ask(request('Z', {'U', 0xAA, 0})));
    EXPECT_EQ(d.t.mode(), Talmo::Mode::Normal);
    EXPECT_EQ(textAt(*d.ask('V'), 2), v);
    EXPECT_EQ(d.t.firmwareVersion(), v);
}

TEST(TalmoFaults, SilenceWrongEchoAndRefusals)
{
    Dev d;
    d.t.faults().silentAt = d.t.nextExchange() + 1;
    EXPECT_TRUE(d.ask('B'));
    EXPECT_FALSE(d.ask('B'));
    EXPECT_TRUE(d.ask('B'));
    d.t.faults().wrongEchoAt = d.t.nextExchange();
    d.t.faults().wrongEchoLetter = 'X';
    EXPECT_EQ((*d.ask('V'))[1], 'X');
    EXPECT_EQ((*d.ask('V'))[1], 'V');
    d.t.faults().silentFrom = d.t.nextExchange() + 2;
    EXPECT_TRUE(d.ask('I'));
    EXPECT_TRUE(d.ask('I'));
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(d.ask('I'));
    d.t.faults() = {};
    EXPECT_TRUE(d.ask('I'));

    d.t.setMode(Talmo::Mode::BootLoader);
    d.t.faults().refuseProgramBlockAt = 0x135F;
    EXPECT_EQ((*d.ask(block(1, 0x1300, 0)))[2], 1);
    EXPECT_EQ((*d.ask(block(2, 0x1320, 0)))[2], 1);
    EXPECT_EQ((*d.ask(block(1, 0x1340, 0)))[2], 0);
    d.t.faults().refuseEepromBlockAt = 0x40;
    EXPECT_EQ((*d.ask(block(0, 0x3F, 0)))[2], 1);
    EXPECT_EQ((*d.ask(block(0, 0x5F, 0)))[2], 0);
}

TEST(TalmoLog, RecordsEveryRequestWithTimeAndAnswer)
{
    Dev d;
    d.now = 1500;
    d.ask('V');
    d.now = 2500;
    d.ask('Q');
    ASSERT_EQ(d.t.log().size(), 2u);
    EXPECT_EQ(d.t.log().entries()[0].timeUs, 1500);
    EXPECT_TRUE(d.t.log().entries()[0].answer);
    EXPECT_EQ(d.t.log().entries()[1].request[1], 'Q');
    EXPECT_FALSE(d.t.log().entries()[1].answer);
    EXPECT_EQ(d.t.exchangeCount(), 2u);
}
