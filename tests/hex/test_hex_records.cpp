#include "hex/hex_records.h"
#include "programmer/pic_image.h"
#include "updater/firmware_image.h"

#include "hex_test_util.h"

#include <cctype>
#include <sys/stat.h>
#include <tuple>

using namespace talmo;
using hextest::TempDir;

TEST(ParseHexByte, EveryPairOfCharacters) {
    int digit[256];
    for (int c = 0; c < 256; ++c)
        digit[c] =
            std::isxdigit(c) ? std::stoi(std::string(1, static_cast<char>(c)), nullptr, 16) : -1;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            ASSERT_EQ(ParseHexByte(static_cast<char>(a), static_cast<char>(b)),
                      digit[a] < 0 || digit[b] < 0 ? -1 : digit[a] * 16 + digit[b])
                << a << " " << b;
}

TEST(HexPairAt, NeverReadsPastTheLine) {
    const std::string_view line(":10AB----", 5); // what follows the view is not the line's
    const std::pair<std::size_t, int> cases[] = {
        {1, 0x10}, {3, 0xAB}, {4, -1}, {5, -1}, {1000, -1}};
    for (const auto& [index, value] : cases)
        EXPECT_EQ(HexPairAt(line, index), value) << index;
}

TEST(FormatHexRecord, LongestRecordFitsTheBufferLongerIsRefused) {
    char out[kHexMaxRecordLine];
    std::uint8_t data[256] = {};
    data[254] = 0xAB;
    ASSERT_EQ(FormatHexRecord(out, 0xABCD, 0, data, 255), kHexMaxRecordLine);
    EXPECT_EQ(std::string(out, 9), ":FFABCD00");
    EXPECT_EQ(std::string(out + 9 + 2 * 254, 6), "ABDE\r\n");
    EXPECT_EQ(FormatHexRecord(out, 0, 0, data, 256), 0u);
}

// The file front end, through both readers: each image is blank after a
// failure, and a NUL inside a file ends its text.
TEST(HexFiles, FrontEndOfBothReaders) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0); // no writer: must not block
    hextest::WriteFile(dir.file("empty.hex"), "");
    hextest::WriteFile(dir.file("nul.hex"), std::string(":020000000428D2\r\n\0:zz\r\n", 24));
    const std::string cannot = "Impossible de lire le fichier...";
    const struct {
        std::string path;
        int result;
        std::string text;
    } cases[] = {{dir.file("missing.hex"), 0, ""},
                 {dir.path, 0, ""},
                 {"", 0, ""},
                 {dir.file("pipe"), 0, ""},
                 {dir.file("empty.hex"), 1, ""},
                 {dir.file("nul.hex"), 1, ":020000000428D2\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ScriptedUi ui;
        HexText text;
        EXPECT_EQ(LoadHexText(ui, c.path, text), c.result);
        EXPECT_EQ(text.text(), c.text);
        auto pic = std::make_unique<PicImage>();
        auto firmware = std::make_unique<FirmwareImage>();
        pic->entries.fill(0);
        firmware->cells.fill(0);
        firmware->eepromFlag = true;
        EXPECT_EQ(LoadPicHex(ui, *pic, c.path), c.result);
        EXPECT_EQ(LoadFirmwareHex(ui, *firmware, c.path), c.result);
        EXPECT_EQ(ui.boxTexts(),
                  c.result ? std::vector<std::string>{} : std::vector<std::string>(3, cannot));
        const bool word = !c.text.empty();
        EXPECT_EQ(std::tuple(pic->entries[0], pic->entries[1], firmware->cells[1],
                             firmware->cells[2], firmware->eepromFlag),
                  std::tuple(word ? 0x2804u : kPicBlankWord, kPicBlankWord, word ? 0x28 : 0xFF,
                             0xFF, false));
    }
}

// What both readers tell of a file besides its image: whether its end record
// was read (a file cut off has none) and how many data bytes it gave.
TEST(HexFiles, ReadersTellTheEndRecordAndTheDataBytes) {
    using hextest::Record;
    const std::string end = ":00000001FF\r\n", data = Record(0x1300, 0, {1, 2}) + "\r\n";
    const struct {
        const char* name;
        std::string text;
        HexFileFacts pic, firmware;
    } cases[] = {
        {"empty", "", {false, 0}, {false, 0}},
        {"end record only", end, {true, 0}, {true, 0}},
        {"address records and an empty data record",
         Record(0, 4, {0, 0}) + "\n" + Record(0x1300, 0, {}) + "\n" + end,
         {true, 0},
         {true, 0}},
        {"cut off after a data record", data, {false, 2}, {false, 2}},
        {"data, end, then more data never read", data + end + data, {true, 2}, {true, 2}},
        {"under the EEPROM flag a record at 0x100 is skipped, not taken",
         Record(0, 4, {0, 0xF0}) + "\n" + Record(0x100, 0, {1, 2}) + "\n" + end,
         {true, 2},
         {true, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedUi ui;
        auto pic = std::make_unique<PicImage>();
        auto firmware = std::make_unique<FirmwareImage>();
        HexFileFacts pf{true, 99}, ff{true, 99};
        EXPECT_EQ(LoadPicHexText(ui, *pic, c.text, &pf), 1);
        EXPECT_EQ(LoadFirmwareHexText(ui, *firmware, c.text, &ff), 1);
        EXPECT_EQ(std::tuple(pf.endRecord, pf.dataBytes, ff.endRecord, ff.dataBytes),
                  std::tuple(c.pic.endRecord, c.pic.dataBytes, c.firmware.endRecord,
                             c.firmware.dataBytes));
    }
}

// A valid record of each kind the readers check, with each of the 255 wrong
// checksum bytes: refused, whatever bits differ.
TEST(HexChecksum, EveryWrongChecksumByteIsRefused) {
    const std::string records[] = {hextest::Record(0x0100, 0, {0x85, 0x3F, 0xFF, 0x00}),
                                   hextest::Record(0, 4, {0x00, 0xF0})};
    for (const std::string& good : records) {
        const unsigned right = std::stoul(good.substr(good.size() - 2), nullptr, 16);
        for (unsigned wrong = 0; wrong < 256; ++wrong) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", wrong);
            const std::string line = good.substr(0, good.size() - 2) + pair;
            ScriptedUi ui;
            auto pic = std::make_unique<PicImage>();
            auto firmware = std::make_unique<FirmwareImage>();
            const int expected = wrong == right ? 1 : 0;
            if (good[8] == '0') { // the PIC reader skips address records unchecked
                ASSERT_EQ(LoadPicHexText(ui, *pic, line), expected) << line;
            }
            ASSERT_EQ(LoadFirmwareHexText(ui, *firmware, line), expected) << line;
        }
    }
}
