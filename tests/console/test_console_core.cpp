// The console's requests and the decoding of the device's answers.
#include "console/console_core.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>

namespace talmo {
namespace {

ConsoleReport filled(std::uint8_t value) {
    ConsoleReport r;
    r.fill(value);
    return r;
}

// ---------------------------------------------------------------- scales

TEST(ConsoleScale, DeviceByteToPercentTruncates) {
    const std::pair<int, int> cases[] = {{0, 0},   {1, 0},    {2, 0},    {3, 1},
                                         {127, 49}, {128, 50}, {254, 99}, {255, 100}};
    for (auto [v, pct] : cases)
        EXPECT_EQ(Pct(static_cast<std::uint8_t>(v)), pct) << "v=" << v;
}

TEST(ConsoleScale, PercentToDeviceByte) {
    const std::pair<int, int> cases[] = {{INT_MIN, 0}, {-5, 0},    {0, 0},     {1, 3},
                                         {15, 39},     {50, 128},  {99, 253},  {100, 255},
                                         {101, 255},   {150, 255}, {INT_MAX, 255}};
    for (auto [p, v] : cases)
        EXPECT_EQ(PercentToByte(p), v) << "p=" << p;
}

TEST(ConsoleScale, ShownValueSentBackSettlesAfterOnePass) {
    for (int v = 0; v <= 255; ++v) {
        const int shown = Pct(static_cast<std::uint8_t>(v));
        const std::uint8_t back = PercentToByte(shown);
        EXPECT_EQ(Pct(back), shown) << "v=" << v;
        EXPECT_EQ(PercentToByte(Pct(back)), back) << "v=" << v;
    }
}

TEST(ConsoleScale, EditTextReadLikeAtoi) {
    const std::pair<const char*, int> cases[] = {
        {"", 0},         {"1", 1},     {"15", 15},   {"150", 150}, {" 50", 50},
        {"  0", 0},      {"\t 7", 7},  {"12ab", 12}, {"ab12", 0},  {"-3", -3},
        {"+7", 7},       {"- 3", 0},   {"99 ", 99},
        // Only the first 19 characters are read, and no overflow.
        {"99999999999999999999999", INT_MAX},
        {"-99999999999999999999", INT_MIN},
        {"0000000000000000000100", 0},
        {"000000000000000000100", 1},
    };
    for (auto [text, value] : cases)
        EXPECT_EQ(ParseEditNumber(text), value) << '"' << text << '"';
}

TEST(ConsoleScale, PercentTextIsThreeWide) {
    EXPECT_EQ(PercentText(0), "  0");
    EXPECT_EQ(PercentText(128), " 50");
    EXPECT_EQ(PercentText(255), "100");
}

// ---------------------------------------------------------------- requests

struct RequestCase {
    const char* name;
    void (*build)(ConsoleReport&);
    std::map<int, int> bytes; // the bytes the request sets; the rest stays
};

TEST(ConsoleRequests, SetOnlyTheirOwnBytes) {
    const RequestCase cases[] = {
        {"B", BuildBootRequest, {{0, 0}, {1, 'B'}, {2, 0}}},
        {"V", BuildVersionRequest, {{0, 0}, {1, 'V'}}},
        {"F", BuildFlashRequest, {{0, 0}, {1, 'F'}}},
        {"T0", [](ConsoleReport& r) { BuildTableRequest(r, 0); }, {{0, 0}, {1, 'T'}, {2, 0}}},
        {"T3", [](ConsoleReport& r) { BuildTableRequest(r, 3); }, {{0, 0}, {1, 'T'}, {2, 3}}},
        {"I refresh", BuildRefreshRequest, {{0, 0}, {1, 'I'}}},
        {"P first", BuildPwmQuery, {{0, 0}, {1, 'P'}, {2, 2}}},
        {"P second", [](ConsoleReport& r) { SetPwmValue(r, 0x42); }, {{3, 0x42}}},
        {"M first", BuildMotorQuery, {{0, 0}, {1, 'M'}, {2, 2}}},
        {"M on", [](ConsoleReport& r) { BuildMotorSwitch(r, 0); }, {{0, 0}, {1, 'M'}, {2, 1}}},
        {"M off", [](ConsoleReport& r) { BuildMotorSwitch(r, 1); }, {{0, 0}, {1, 'M'}, {2, 0}}},
        {"M off any", [](ConsoleReport& r) { BuildMotorSwitch(r, 0x80); }, {{0, 0}, {1, 'M'}, {2, 0}}},
        {"L 2", [](ConsoleReport& r) { BuildLcdCommand(r, 2); }, {{0, 0}, {1, 'L'}, {2, 2}}},
        {"L 5", [](ConsoleReport& r) { BuildLcdCommand(r, 5); }, {{0, 0}, {1, 'L'}, {2, 5}}},
        {"L 3", [](ConsoleReport& r) { BuildLcdCommand(r, 3); }, {{0, 0}, {1, 'L'}, {2, 3}}},
        {"L cell", [](ConsoleReport& r) { ASSERT_TRUE(BuildLcdWrite(r, 1, 19, "\xFF", false)); },
         {{0, 0}, {1, 'L'}, {2, 1}, {3, 19}, {4, 1}, {5, 0xFF}}},
        {"L text", [](ConsoleReport& r) { ASSERT_TRUE(BuildLcdWrite(r, 0, 0, "TALMO", true)); },
         {{0, 0}, {1, 'L'}, {2, 0}, {3, 0}, {4, 5}, {5, 'T'}, {6, 'A'}, {7, 'L'}, {8, 'M'},
          {9, 'O'}, {10, 0}}},
        {"L full line", [](ConsoleReport& r) {
             ASSERT_TRUE(BuildLcdWrite(r, 1, 0, "ABCDEFGHIJKLMNOPQRST", true)); },
         {{0, 0}, {1, 'L'}, {2, 1}, {3, 0}, {4, 20}, {5, 'A'}, {24, 'T'}, {25, 0}}},
        {"Z", BuildJumpRequest, {{0, 0}, {1, 'Z'}, {2, 'U'}, {3, 0xAA}, {4, 1}}},
    };
    for (const RequestCase& c : cases) {
        ConsoleReport r = filled(0xA5);
        c.build(r);
        for (int i = 0; i < 65; ++i) {
            auto it = c.bytes.find(i);
            const bool fullLineText = std::string(c.name) == "L full line" && i > 5 && i < 24;
            if (it != c.bytes.end()) {
                EXPECT_EQ(r[i], it->second) << c.name << " byte " << i;
            } else if (!fullLineText) {
                EXPECT_EQ(r[i], 0xA5) << c.name << " byte " << i << " should be untouched";
            }
        }
    }
}

TEST(ConsoleRequests, StatusPollClearsTheWholeBuffer) {
    ConsoleReport r = filled(0x5A);
    BuildStatusRequest(r);
    for (int i = 0; i < 65; ++i)
        EXPECT_EQ(r[i], i == 1 ? 'I' : 0) << i;
}

TEST(ConsoleRequests, LcdWriteOutsideTheDisplayIsRefused) {
    struct Case { int line, column; const char* text; };
    const Case cases[] = {{2, 0, "A"}, {-1, 0, "A"}, {0, 20, "A"}, {0, -1, "A"},
                          {0, 19, "AB"}, {1, 0, "ABCDEFGHIJKLMNOPQRSTU"}, {0, 0, ""}};
    for (const Case& c : cases) {
        ConsoleReport r = filled(0x33);
        EXPECT_FALSE(BuildLcdWrite(r, c.line, c.column, c.text, true)) << c.line << "," << c.column;
        EXPECT_EQ(r, filled(0x33));
    }
}

// ---------------------------------------------------------------- version

ConsoleReport versionAnswer(const std::string& text) {
    ConsoleReport r{};
    r[1] = 'V';
    for (std::size_t i = 0; i < text.size() && 2 + i < r.size(); ++i)
        r[2 + i] = static_cast<std::uint8_t>(text[i]);
    return r;
}

TEST(ConsoleVersion, NumberAndCheck) {
    struct Case { const char* text; int number; bool tooOld; };
    const Case cases[] = {
        {"TALMO V0.21", 21, true},  {"TALMO V0.22", 22, false}, {"TALMO V0.09", 9, true},
        {"TALMO V1.05", 105, false}, {"TALMO V0.30", 30, false},
    };
    for (const Case& c : cases) {
        const ConsoleReport r = versionAnswer(c.text);
        EXPECT_EQ(VersionText(r), c.text);
        EXPECT_EQ(VersionNumber(r), c.number) << c.text;
        EXPECT_EQ(FirmwareTooOld(r), c.tooOld) << c.text;
    }
}

TEST(ConsoleVersion, TextStopsAtTheBufferAndHidesControlBytes) {
    ConsoleReport r = filled('A');
    EXPECT_EQ(VersionText(r), std::string(63, 'A'));
    r = versionAnswer("TALMO\x01V\xE9");
    EXPECT_EQ(VersionText(r), "TALMO?V?");
}

TEST(ConsoleVersion, TooOldMessageText) {
    EXPECT_EQ(TooOldMessage(),
              "La version du firmware d'TALMO est trop ancienne.\nVersion minimum: 0.22");
    EXPECT_STREQ(kTooOldCaption, "Version TALMO");
}

// ---------------------------------------------------------------- flash

ConsoleReport flashAnswer(int maker, int type, int size, int protect) {
    ConsoleReport r{};
    r[1] = 'F';
    r[2] = static_cast<std::uint8_t>(maker);
    r[3] = static_cast<std::uint8_t>(type);
    r[4] = static_cast<std::uint8_t>(size);
    r[5] = static_cast<std::uint8_t>(protect);
    return r;
}

TEST(ConsoleFlash, Texts) {
    struct Case { ConsoleReport answer; FlashTexts texts; };
    const Case cases[] = {
        {flashAnswer(0x37, 0x30, 21, 0), {"AMIC", "0x30", "2 Mo (16 Mbit)", "Non"}},
        {flashAnswer(0xC2, 0x20, 24, 1), {"0xC2", "0x20", "16 Mo (128 Mbit)", "Oui"}},
        {flashAnswer(0x01, 0x0A, 22, 0x80), {"0x01", "0x0A", "4 Mo (32 Mbit)", "Oui"}},
        {flashAnswer(0xFF, 0x30, 21, 1),
         {"Non détecté", "Non détecté", "Non détecté", "Non détecté"}},
    };
    for (const Case& c : cases) {
        const FlashTexts t = DecodeFlash(c.answer);
        EXPECT_EQ(t.manufacturer, c.texts.manufacturer);
        EXPECT_EQ(t.type, c.texts.type);
        EXPECT_EQ(t.size, c.texts.size);
        EXPECT_EQ(t.protection, c.texts.protection);
    }
}

TEST(ConsoleFlash, SizeIsTwoToThePowerOfTheCode) {
    const std::pair<int, const char*> cases[] = {
        {20, "1 Mo (8 Mbit)"},       {21, "2 Mo (16 Mbit)"},     {22, "4 Mo (32 Mbit)"},
        {23, "8 Mo (64 Mbit)"},      {25, "32 Mo (256 Mbit)"},   {30, "1024 Mo (8192 Mbit)"},
        {19, "512 Ko (4096 Kbit)"},  {17, "128 Ko (1024 Kbit)"}, {10, "1 Ko (8 Kbit)"},
        {9, "Inconnue (code 0x09)"}, {0, "Inconnue (code 0x00)"}, {31, "Inconnue (code 0x1F)"},
        {0xFE, "Inconnue (code 0xFE)"},
    };
    for (auto [code, text] : cases)
        EXPECT_EQ(FlashSizeText(static_cast<std::uint8_t>(code)), text) << code;
}

// ---------------------------------------------------------------- table

ConsoleReport tableAnswer(const char* name, std::array<int, 5> axes, int freq, int accel,
                          int pwmMax, int offTime, int flags) {
    ConsoleReport r{};
    r[1] = 'T';
    for (int i = 0; i < 8 && name[i]; ++i)
        r[4 + i] = static_cast<std::uint8_t>(name[i]);
    for (int i = 0; i < 5; ++i)
        r[12 + i] = static_cast<std::uint8_t>(axes[i]);
    r[27] = static_cast<std::uint8_t>(freq);
    r[28] = static_cast<std::uint8_t>(accel);
    r[29] = static_cast<std::uint8_t>(pwmMax);
    r[30] = static_cast<std::uint8_t>(offTime);
    r[31] = static_cast<std::uint8_t>(flags);
    return r;
}

TEST(ConsoleTable, AxisCodes) {
    const std::pair<int, const char*> cases[] = {
        {4, "X "},  {5, "XG"},  {6, "XD"},  {8, "Y "},  {9, "YG"},  {10, "YD"}, {12, "Z "},
        {13, "ZG"}, {14, "ZD"}, {16, "A "}, {17, "B "}, {18, "C "}, {32, "R "}, {33, "RX"},
        {34, "RY"}, {35, "RZ"}, {48, "U "}, {49, "V "}, {50, "W "}, {0, "--"},  {7, "--"},
        {15, "--"}, {51, "--"}, {255, "--"},
    };
    for (auto [code, text] : cases)
        EXPECT_EQ(AxisText(static_cast<std::uint8_t>(code)), text) << code;
}

TEST(ConsoleTable, Texts) {
    struct Case {
        ConsoleReport answer;
        const char *name, *axes, *pwmMax, *accel, *freq, *contacts, *autoOnOff;
        bool inverted;
    };
    const Case cases[] = {
        {tableAnswer("FRAISE", {4, 8, 12, 0, 0}, 25, 7, 255, 0, 0x01),
         "FRAISE", "X ,Y ,Z ,--,--", "100 %", "7", "250kHz", "Actifs", "Désactivé", false},
        {tableAnswer("ABCDEFGH", {17, 0, 0, 0, 50}, 1, 0, 128, 3, 0x04),
         "ABCDEFGH", "B ,--,--,--,W ", " 50 %", "0", "10kHz", "Inactifs", "on=0.5s, off=3s", true},
        {tableAnswer("", {35, 33, 6, 200, 49}, 0, 255, 0, 255, 0x05),
         "", "RZ,RX,XD,--,V ", "  0 %", "255", "00kHz", "Actifs", "on=0.5s, off=255s", true},
        {tableAnswer("T1", {5, 9, 13, 16, 18}, 10, 3, 2, 1, 0x02),
         "T1", "XG,YG,ZG,A ,C ", "  0 %", "3", "100kHz", "Inactifs", "on=0.5s, off=1s", false},
    };
    for (const Case& c : cases) {
        const TableTexts t = DecodeTable(c.answer);
        EXPECT_EQ(t.name, c.name);
        EXPECT_EQ(t.axes, c.axes);
        EXPECT_EQ(t.axes.size(), 14u);
        EXPECT_EQ(t.pwmMax, c.pwmMax);
        EXPECT_EQ(t.accel, c.accel);
        EXPECT_EQ(t.frequency, c.freq);
        EXPECT_EQ(t.contacts, c.contacts);
        EXPECT_EQ(t.autoOnOff, c.autoOnOff);
        EXPECT_EQ(t.signalInverted, c.inverted);
    }
}

// ---------------------------------------------------------------- status

ConsoleReport statusAnswer(int b7, int b8, int b9, int b10, int b11) {
    ConsoleReport r{};
    r[1] = 'I';
    r[7] = static_cast<std::uint8_t>(b7);
    r[8] = static_cast<std::uint8_t>(b8);
    r[9] = static_cast<std::uint8_t>(b9);
    r[10] = static_cast<std::uint8_t>(b10);
    r[11] = static_cast<std::uint8_t>(b11);
    return r;
}

DisplayItem item(const std::vector<DisplayItem>& items, int control) {
    for (const DisplayItem& d : items)
        if (d.control == control)
            return d;
    ADD_FAILURE() << "no item for control " << control;
    return {};
}

TEST(ConsoleStatus, ControlsInDisplayOrder) {
    std::vector<int> order;
    for (const DisplayItem& d : DecodeStatus(statusAnswer(0, 0, 0, 0, 0)))
        order.push_back(d.control);
    const std::vector<int> expected = {1017, 1012, 1008, 1007, 1006, 1003, 1005, 1002, 1009, 1004,
                                       1010, 1054, 1023, 1024, 1019, 1022, 1020, 1026, 1035, 1036,
                                       1014};
    EXPECT_EQ(order, expected);
}

// Each single bit: the control it drives and the picture (or text) when the
// bit is set and when it is clear.
TEST(ConsoleStatus, EachBitDrivesItsControl) {
    struct Case { int byte, mask, control, whenSet, whenClear; };
    const Case pictures[] = {
        {8, 0x20, 1012, 148, 150}, {8, 0x08, 1008, 167, 166}, {8, 0x01, 1007, 141, 140},
        {11, 0x10, 1023, 153, 152}, {11, 0x20, 1024, 153, 152}, {11, 0x40, 1019, 153, 152},
        {11, 0x80, 1022, 153, 152}, {11, 0x01, 1020, 157, 155}, {11, 0x02, 1026, 157, 155},
        {8, 0x02, 1035, 163, 162}, {8, 0x04, 1036, 163, 162}, {7, 0x40, 1014, 166, 167},
    };
    for (const Case& c : pictures) {
        ConsoleReport set = statusAnswer(0, 0, 0, 0, 0);
        set[c.byte] = static_cast<std::uint8_t>(c.mask);
        // Every other bit of the byte set, so that a wrong mask shows.
        ConsoleReport clear = statusAnswer(0, 0, 0, 0, 0);
        clear[c.byte] = static_cast<std::uint8_t>(0xFF & ~c.mask);
        const DisplayItem s = item(DecodeStatus(set), c.control);
        EXPECT_EQ(s.kind, DisplayItem::Picture) << c.control;
        EXPECT_EQ(s.value, c.whenSet) << c.control;
        EXPECT_EQ(item(DecodeStatus(clear), c.control).value, c.whenClear) << c.control;
    }
    EXPECT_EQ(item(DecodeStatus(statusAnswer(0, 0x10, 0, 0, 0)), 1017).text, "1");
    EXPECT_EQ(item(DecodeStatus(statusAnswer(0, 0xEF, 0, 0, 0)), 1017).text, "0");
}

TEST(ConsoleStatus, InputLevels) {
    const auto items = DecodeStatus(statusAnswer(0, 0, 128, 255, 0));
    EXPECT_EQ(item(items, 1006).text, " 50");
    EXPECT_TRUE(item(items, 1006).skipWhenFocused);
    EXPECT_EQ(item(items, 1003).value, 50);
    EXPECT_TRUE(item(items, 1003).skipWhenFocused);
    EXPECT_EQ(item(items, 1005).text, "100");
    EXPECT_FALSE(item(items, 1005).skipWhenFocused);
    EXPECT_EQ(item(items, 1002).value, 100);
    EXPECT_FALSE(item(items, 1002).skipWhenFocused);
}

TEST(ConsoleStatus, OutputRule) {
    struct Case { int b7, b8, b9, b10; const char* text; int position; const char* protect; };
    const Case cases[] = {
        // Output off: 0 and ON whatever byte 8 holds.
        {0x00, 0x00, 200, 100, "0", 0, "ON"},
        {0xEF, 0xFF, 200, 100, "0", 0, "ON"},
        // Output on: automatic level (byte 9) or manual (byte 10).
        {0x10, 0x00, 128, 255, " 50", 50, "OFF"},
        {0x10, 0x01, 128, 255, "100", 100, "OFF"},
        {0x10, 0x08, 0, 255, "  0", 0, "ON"},
        {0x10, 0x09, 0, 3, "  1", 1, "ON"},
    };
    for (const Case& c : cases) {
        const auto items = DecodeStatus(statusAnswer(c.b7, c.b8, c.b9, c.b10, 0));
        EXPECT_EQ(item(items, 1009).text, c.text) << c.b7 << "/" << c.b8;
        EXPECT_EQ(item(items, 1004).value, c.position) << c.b7 << "/" << c.b8;
        EXPECT_EQ(item(items, 1010).text, c.protect) << c.b7 << "/" << c.b8;
    }
}

TEST(ConsoleStatus, KeypadMissingNeedsBothBits) {
    const std::pair<int, int> cases[] = {{0x0C, 1}, {0xFF, 1}, {0x04, 0}, {0x08, 0}, {0xF3, 0}};
    for (auto [b11, visible] : cases) {
        const DisplayItem d = item(DecodeStatus(statusAnswer(0, 0, 0, 0, b11)), 1054);
        EXPECT_EQ(d.kind, DisplayItem::Visible);
        EXPECT_EQ(d.value, visible) << b11;
    }
}

TEST(ConsoleStatus, CacheShowsOnlyChangedAnswers) {
    StatusCache cache;
    const ConsoleReport zero{};
    ConsoleReport a = statusAnswer(0x40, 0, 0, 0, 0);
    EXPECT_FALSE(cache.update(zero)); // starts as all zero
    EXPECT_TRUE(cache.update(a));
    EXPECT_FALSE(cache.update(a));
    a[40] = 1; // bytes that are not shown count too
    EXPECT_TRUE(cache.update(a));
    cache.invalidate();
    EXPECT_TRUE(cache.update(a));
    EXPECT_FALSE(cache.update(a));
}

} // namespace
} // namespace talmo
