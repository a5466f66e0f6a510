// The console's requests and the decoding of the device's answers.
#include "console/console_core.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <string>

namespace talmo {
namespace {

// ---------------------------------------------------------------- scales

TEST(ConsoleScale, PercentBothWays) {
    const std::pair<int, int> toPercent[] = {{0, 0},    {2, 0},    {3, 1},    {127, 49},
                                             {128, 50}, {254, 99}, {255, 100}};
    for (auto [v, pct] : toPercent)
        EXPECT_EQ(Pct(static_cast<std::uint8_t>(v)), pct) << "v=" << v;
    const std::pair<int, int> toByte[] = {{INT_MIN, 0}, {-5, 0},       {0, 0},    {1, 3},
                                          {15, 39},     {50, 128},     {99, 253}, {100, 255},
                                          {101, 255},   {INT_MAX, 255}};
    for (auto [p, v] : toByte)
        EXPECT_EQ(PercentToByte(p), v) << "p=" << p;
    // A value shown and sent back settles after one pass.
    for (int v = 0; v <= 255; ++v) {
        const std::uint8_t back = PercentToByte(Pct(static_cast<std::uint8_t>(v)));
        EXPECT_EQ(Pct(back), Pct(static_cast<std::uint8_t>(v))) << "v=" << v;
        EXPECT_EQ(PercentToByte(Pct(back)), back) << "v=" << v;
    }
}

// Only the first 19 characters are read, and no overflow.
TEST(ConsoleScale, EditTextReadLikeAtoi) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},      {"1", 1},    {"15", 15}, {"150", 150}, {" 50", 50}, {"  0", 0},  {"\t 7", 7},
        {"12ab", 12}, {"ab12", 0}, {"-3", -3}, {"+7", 7},    {"- 3", 0},  {"99 ", 99},
    };
    for (auto [text, value] : cases)
        EXPECT_EQ(ParseEditNumber(text), value) << '"' << text << '"';
    EXPECT_EQ(ParseEditNumber("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseEditNumber("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(ParseEditNumber("0000000000000000000100"), 0);
    EXPECT_EQ(ParseEditNumber("000000000000000000100"), 1);
}

// ---------------------------------------------------------------- requests

// Each request sets its own bytes and leaves the rest of the buffer as the
// previous exchange left it; the status poll alone clears the whole buffer.
// The bytes it sets from byte 0 on, in hex ("--": left as it was).
TEST(ConsoleRequests, SetOnlyTheirOwnBytes) {
    using Build = void (*)(ConsoleReport&);
    const std::pair<Build, std::string> cases[] = {
        {BuildBootRequest, "004200"},
        {BuildVersionRequest, "0056"},
        {BuildStatusRequest, "0049"},
        {[](ConsoleReport& r) { SetPwmValue(r, 0x42); }, "------42"},
        {[](ConsoleReport& r) { BuildMotorSwitch(r, 0x80); }, "004D00"},
        {[](ConsoleReport& r) { ASSERT_TRUE(BuildLcdWrite(r, 1, 19, "\xFF", false)); },
         "004C011301FF"},
        {[](ConsoleReport& r) { ASSERT_TRUE(BuildLcdWrite(r, 0, 0, "TALMO", true)); },
         "004C00000554414C4D4F00"},
        {[](ConsoleReport& r) { ASSERT_TRUE(BuildLcdWrite(r, 1, 0, std::string(20, 'T'), true)); },
         "004C010014545454545454545454545454545454545454545400"},
        {BuildJumpRequest, "005A55AA01"},
    };
    for (const auto& [build, hex] : cases) {
        ConsoleReport r;
        r.fill(0xA5);
        build(r);
        for (std::size_t i = 0; i < r.size(); ++i) {
            const std::string pair = 2 * i < hex.size() ? hex.substr(2 * i, 2) : "--";
            const int expected = pair != "--"                  ? std::stoi(pair, nullptr, 16)
                                 : build == BuildStatusRequest ? 0
                                                               : 0xA5;
            EXPECT_EQ(r[i], expected) << hex << " byte " << i;
        }
    }
}

TEST(ConsoleRequests, LcdWriteOutsideTheDisplayIsRefused) {
    struct Case {
        int line, column;
        const char* text;
    };
    const Case cases[] = {{2, 0, "A"},  {-1, 0, "A"},  {0, 20, "A"},
                          {0, -1, "A"}, {0, 19, "AB"}, {1, 0, "ABCDEFGHIJKLMNOPQRSTU"},
                          {0, 0, ""}};
    for (const Case& c : cases) {
        ConsoleReport r{};
        EXPECT_FALSE(BuildLcdWrite(r, c.line, c.column, c.text, true)) << c.line << "," << c.column;
        EXPECT_EQ(r, ConsoleReport{});
    }
}

// ---------------------------------------------------------------- version

ConsoleReport answer(char letter, std::size_t at, const std::string& bytes) {
    ConsoleReport r{};
    r[1] = static_cast<std::uint8_t>(letter);
    for (std::size_t i = 0; i < bytes.size() && at + i < r.size(); ++i)
        r[at + i] = static_cast<std::uint8_t>(bytes[i]);
    return r;
}

TEST(ConsoleVersion, NumberCheckAndText) {
    // 0.21 and 0.22 are the page's.
    struct Case {
        const char* text;
        int number;
        bool tooOld;
    };
    const Case cases[] = {
        {"TALMO V0.09", 9, true}, {"TALMO V1.05", 105, false}, {"TALMO V0.30", 30, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(VersionNumber(answer('V', 2, c.text)), c.number) << c.text;
        EXPECT_EQ(FirmwareTooOld(answer('V', 2, c.text)), c.tooOld) << c.text;
    }
    // The text ends at the buffer's end; bytes that are not printable show as '?'.
    EXPECT_EQ(VersionText(answer('V', 0, std::string(65, 'A'))), std::string(63, 'A'));
    EXPECT_EQ(VersionText(answer('V', 2, "TALMO\x01V\xE9")), "TALMO?V?");

    // The box reads 0.22 also where the desktop writes decimals with a comma
    // (the window's toolkit takes the desktop's locale at start-up).
    const std::string box =
        "La version du firmware d'TALMO est trop ancienne.\nVersion minimum: 0.22";
    EXPECT_EQ(TooOldMessage(), box);
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    int commaLocales = 0;
    for (const char* name : {"fr_FR.UTF-8", "fr_FR.utf8", "de_DE.UTF-8", "de_DE.utf8"}) {
        if (!std::setlocale(LC_NUMERIC, name))
            continue;
        ++commaLocales;
        EXPECT_EQ(TooOldMessage(), box) << name;
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (commaLocales == 0)
        std::printf("note: no decimal-comma locale here; the message was checked in \"%s\" only\n",
                    saved.c_str());
}

// ---------------------------------------------------------------- flash

TEST(ConsoleFlash, SizeIsTwoToThePowerOfTheCode) {
    const std::pair<int, const char*> cases[] = {
        {20, "1 Mo (8 Mbit)"},          {21, "2 Mo (16 Mbit)"},      {22, "4 Mo (32 Mbit)"},
        {23, "8 Mo (64 Mbit)"},         {25, "32 Mo (256 Mbit)"},    {30, "1024 Mo (8192 Mbit)"},
        {19, "512 Ko (4096 Kbit)"},     {17, "128 Ko (1024 Kbit)"},  {10, "1 Ko (8 Kbit)"},
        {9, "Inconnue (code 0x09)"},    {0, "Inconnue (code 0x00)"}, {31, "Inconnue (code 0x1F)"},
        {0xFE, "Inconnue (code 0xFE)"},
    };
    for (auto [code, text] : cases)
        EXPECT_EQ(FlashSizeText(static_cast<std::uint8_t>(code)), text) << code;
    // No chip: every text says so.
    const FlashTexts none = DecodeFlash(answer('F', 2, "\xFF\x30\x15\x01"));
    for (const std::string& t : {none.manufacturer, none.type, none.size, none.protection})
        EXPECT_EQ(t, "Non détecté");
}

// ---------------------------------------------------------------- table

TEST(ConsoleTable, AxisCodes) {
    const std::pair<int, const char*> cases[] = {
        {4, "X "},  {5, "XG"},  {6, "XD"},  {8, "Y "},  {9, "YG"},  {10, "YD"},
        {12, "Z "}, {13, "ZG"}, {14, "ZD"}, {16, "A "}, {17, "B "}, {18, "C "},
        {32, "R "}, {33, "RX"}, {34, "RY"}, {35, "RZ"}, {48, "U "}, {49, "V "},
        {50, "W "}, {0, "--"},  {7, "--"},  {15, "--"}, {51, "--"}, {255, "--"},
    };
    for (auto [code, text] : cases)
        EXPECT_EQ(AxisText(static_cast<std::uint8_t>(code)), text) << code;
}

// ---------------------------------------------------------------- status

ConsoleReport statusAnswer(int b7, int b8, int b9, int b10, int b11) {
    const char bytes[] = {char(b7), char(b8), char(b9), char(b10), char(b11)};
    return answer('I', 7, std::string(bytes, 5));
}

DisplayItem item(const ConsoleReport& answer, int control) {
    for (const DisplayItem& d : StatusDisplay(DecodeStatus(answer)))
        if (d.control == control)
            return d;
    ADD_FAILURE() << "no item for control " << control;
    return {};
}

// Each bit: the control it drives and its picture (or whether it is
// visible) when the bit is set and when it is clear. The keypad notice (1054)
// needs both bits.
TEST(ConsoleStatus, EachBitDrivesItsControl) {
    struct Case {
        int byte, mask, control, whenSet, whenClear;
    };
    const Case pictures[] = {
        {8, 0x20, 1012, 148, 150},  {8, 0x08, 1008, 167, 166},  {8, 0x01, 1007, 141, 140},
        {11, 0x10, 1023, 153, 152}, {11, 0x20, 1024, 153, 152}, {11, 0x40, 1019, 153, 152},
        {11, 0x80, 1022, 153, 152}, {11, 0x01, 1020, 157, 155}, {11, 0x02, 1026, 157, 155},
        {8, 0x02, 1035, 163, 162},  {8, 0x04, 1036, 163, 162},  {7, 0x40, 1014, 166, 167},
        {11, 0x0C, 1054, 1, 0},     {11, 0x04, 1054, 0, 0},     {11, 0x08, 1054, 0, 0},
    };
    for (const Case& c : pictures) {
        ConsoleReport set = statusAnswer(0, 0, 0, 0, 0);
        set[c.byte] = static_cast<std::uint8_t>(c.mask);
        // Every other bit of the byte set, so that a wrong mask shows.
        ConsoleReport clear = statusAnswer(0, 0, 0, 0, 0);
        clear[c.byte] = static_cast<std::uint8_t>(0xFF & ~c.mask);
        EXPECT_EQ(item(set, c.control).value, c.whenSet) << c.control;
        EXPECT_EQ(item(clear, c.control).value, c.whenClear) << c.control;
    }
    EXPECT_EQ(item(statusAnswer(0, 0x10, 0, 0, 0), 1017).text, "1");
    EXPECT_EQ(item(statusAnswer(0, 0xEF, 0, 0, 0), 1017).text, "0");
}

// The output: 0 and start protection while it is not driven; else the USB
// level (AUTO) or the measured input (MANU), held while its switch is at OFF.
TEST(ConsoleStatus, OutputRule) {
    struct Case {
        int b7, b8;
        const char *level, *protection;
        int position;
    };
    const Case cases[] = {{0x00, 0x00, "0", "ON", 0},
                          {0x10, 0x02, " 50", "OFF", 50},
                          {0x10, 0x01, "100", "OFF", 100},
                          {0x10, 0x09, "100", "ON", 100},
                          {0xEF, 0xFF, "0", "ON", 0}};
    for (const Case& c : cases) {
        const ConsoleReport a = statusAnswer(c.b7, c.b8, 128, 255, 0);
        EXPECT_EQ(item(a, kCtlOutputLevelEdit).text, c.level) << c.b7 << " " << c.b8;
        EXPECT_EQ(item(a, kCtlStartProtectText).text, c.protection) << c.b7 << " " << c.b8;
        EXPECT_EQ(item(a, kCtlOutputLevelSlider).value, c.position) << c.b7 << " " << c.b8;
    }
}

// Bytes that are not shown count too; the page's tests cover the rest.
TEST(ConsoleStatus, CacheComparesTheWholeAnswer) {
    StatusCache cache;
    ConsoleReport a = statusAnswer(0x40, 0, 0, 0, 0);
    EXPECT_TRUE(cache.update(a));
    a[40] = 1;
    EXPECT_TRUE(cache.update(a));
    EXPECT_FALSE(cache.update(a));
}

} // namespace
} // namespace talmo
