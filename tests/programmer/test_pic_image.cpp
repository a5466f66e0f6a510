#include "programmer/pic_image.h"

#include "tests/hex/hex_test_util.h"

using namespace talmo;
using namespace hextest;

namespace {

const std::string kWord0 = ":020000000428D2"; // entry 0 = 0x2804
const std::string kIncomplete = "Ligne incompléte dans le fichier...",
                  kOdd = "Longueur invalide...", kAddress = "Adresse invalide...",
                  kType = "Record invalide...", kTooLarge = "Valeur supérieur à 0x3FFF...",
                  kChecksum = "Checksum invalide...";

std::string Words(unsigned byteAddress, std::initializer_list<unsigned> words, int delta = 0) {
    std::vector<unsigned> bytes;
    for (unsigned w : words)
        bytes.insert(bytes.end(), {w & 0xFF, w >> 8});
    return Record(byteAddress, 0, bytes, delta);
}

std::vector<ReadCase> ReadCases() {
    std::vector<ReadCase> cases = {
        Ok("CR LF", kWord0 + "\r\n:00000001FF\r\n", {{0, 0x2804}}, 1),
        Ok("empty lines, bare LF, no final line end, no end record",
           "\n\n" + kWord0 + "\n\n" + Words(2, {0x1234}), {{1, 0x1234}}, 2),
        Bad("two CRs", kWord0 + "\r\r\n", kIncomplete),
        Ok("byte-order mark and comments",
           "\xEF\xBB\xBF" + kWord0 + "\n; comment\nxyz\n " + kWord0),
        Ok("lower case", ":02000000ab1241", {{0, 0x12AB}}, 1),
        Ok("lines after the end are never parsed", ":00000001FF\n:zz\n" + kWord0),
        Ok("end record with a wrong checksum still ends", kWord0 + "\n:0000000100\n:zz", {}, 1),
        Bad("non-hex length on nine characters", ":ZZ000000", kOdd),
        Bad("odd length, end record", Record(0, 1, {0x00}), kOdd),
        Bad("address 0x4400", Words(0x4400, {1}), kAddress),
        Bad("address 0x4400, end record", Record(0x4400, 1, {}), kAddress),
        Bad("odd address", Words(0x0001, {1}), kAddress),
        Bad("non-hex high address pair", ":02ZZ0000010000", kAddress),
        Bad("type 06", Record(0, 6, {}), kType),
        Bad("non-hex type", ":000000ZZ00", kType),
        Ok("types 02, 03, 05 ignored, checksums too",
           Record(0, 2, {0x10, 0}, 1) + "\n" + Record(0, 3, {0, 0, 0, 0}, 7) + "\n" +
               Record(0, 5, {1, 2, 3, 4}, 9) + "\n" + kWord0,
           {{0, 0x2804}}, 1),
        Ok("extended linear address ignored", Record(0, 4, {0, 1}) + "\n" + Words(0x4200, {0xAA}),
           {{0x2100, 0xAA}}, 1),
        Bad("data word 0x4000", Words(0, {0x3FFE, 0x4000, 1}), kTooLarge,
            {{0, 0x3FFE}, {1, 0x4000}}, 2),
        Bad("non-hex high byte of a word", ":02000000FFZZ00", kTooLarge, {{0, 0xFFFFFFFFu}}, 1),
        Ok("non-hex low byte, high 0x01: the checksum decides", ":02000000ZZ01FE", {{0, 0xFF}}, 1),
        Bad("non-hex low byte, high 0x00", ":02000000ZZ0000", kTooLarge, {}, 1),
        Bad("wrong checksum after the data is stored", Words(0x100, {0x123, 0x456}, 1), kChecksum,
            {{0x80, 0x123}, {0x81, 0x456}}, 2),
        Ok("record running past the image keeps what fits", Words(0x43FE, {0x55, 0x66, 0x77}),
           {{0x21FF, 0x55}}, 1),
        Bad("words past the image are still tested", Words(0x43FE, {0x55, 0x4000}), kTooLarge, {},
            1),
        Ok("configuration, IDs, device ID and free area",
           Words(0x4000, {1, 2, 3, 4, 0x3FFF, 0x3FFF, 0x0E20, 0x3F72}) + "\n" + Words(0x4010, {7}),
           {{0x2000, 1}, {0x2003, 4}, {0x2006, 0x0E20}, {0x2007, 0x3F72}, {0x2008, 7}}, 7),
        Bad("data records without data store nothing, their checksum still counts",
            Record(0x100, 0, {}) + "\n" + kWord0 + "\n" + Record(0x100, 0, {}, 1), kChecksum,
            {{0, 0x2804}}, 1),
        Ok("program for a larger PIC loads whole", Words(0x3FFE, {0x0123}), {{0x1FFF, 0x0123}}, 1),
        Bad("only the first failure is shown",
            kWord0 + "\n" + Words(2, {1}, 3) + "\n" + Words(3, {1}), kChecksum, {{1, 1}}, 2),
        Bad("long line with a short length", ":02000000" + std::string(600, '0'), kIncomplete),
    };
    // A record of 254 data bytes (127 words) is read whole; one of 255 is odd.
    std::vector<unsigned> bytes;
    for (unsigned i = 0; i < 127; ++i)
        bytes.insert(bytes.end(), {i + 1, i % 0x40});
    cases.push_back(
        Ok("254 data bytes", Record(0x200, 0, bytes), {{0x100, 1}, {0x17E, 0x3E7F}}, 127));
    bytes.push_back(0);
    cases.push_back(Bad("255 data bytes", Record(0, 0, bytes), kOdd));
    return cases;
}

// Saves `image` and returns the file's bytes.
std::string Save(const PicImage& image, const std::string& path, int program, int eeprom) {
    ScriptedUi ui;
    EXPECT_EQ(SavePicHex(ui, image, path, program, eeprom), 1);
    EXPECT_TRUE(ui.boxes().empty());
    return hextest::ReadFile(path);
}

} // namespace

TEST(LoadPicHex, RecordTestsInOrder) {
    hextest::CheckReadCases<PicImage>(
        ReadCases(), LoadPicHexText, [](PicImage& i) { i.entries.fill(0x1111); },
        [](const PicImage& i) -> const auto& { return i.entries; }, kPicBlankWord);
}

TEST(SavePicHex, BlankImageLinesAndSizes) {
    const auto image = BlankImage();
    TempDir dir;
    // The larger file first: saving again over it must replace it whole.
    const struct {
        int program, eeprom;
        std::size_t lines, bytes;
    } cases[] = {{0x2000, 0x100, 1060, 47596}, {0x1000, 0x80, 532, 23836}};
    for (const auto& c : cases) {
        const std::string bytes = Save(*image, dir.file("blank.hex"), c.program, c.eeprom);
        const auto lines = hextest::CrLfLines(bytes);
        ASSERT_EQ(lines.size(), c.lines);
        EXPECT_EQ(bytes.size(), c.bytes);
        EXPECT_EQ(
            (std::vector<std::string>{lines[0], lines[1], lines[1 + c.program / 8],
                                      lines[c.lines - 3], lines[c.lines - 2], lines[c.lines - 1]}),
            (std::vector<std::string>{
                ":020000040000FA", ":10000000FF3FFF3FFF3FFF3FFF3FFF3FFF3FFF3F00",
                ":10420000FF00FF00FF00FF00FF00FF00FF00FF00B6", ":02400E00FF3F72",
                ":08400000FF3FFF3FFF3FFF3FC0", ":00000001FF"}));
    }
}

TEST(SavePicHex, WritesTheLowSixteenBitsOfWordsAndTheLowByteOfEeprom) {
    const auto image = BlankImage();
    // A chip read may carry more than 14 bits; only 0x34 of the EEPROM entry
    // is written; the reserved and device ID words never are.
    const std::pair<std::uint32_t, std::uint32_t> set[] = {
        {0, 0x00012804},  {0x2101, 0x1234}, {0x2004, 1},  {0x2006, 0x0E20},
        {0x2007, 0x3F72}, {0x2000, 1},      {0x2003, 0xF}};
    for (const auto& [entry, value] : set)
        image->entries[entry] = value;
    TempDir dir;
    EXPECT_EQ(
        hextest::CrLfLines(Save(*image, dir.file("w.hex"), 8, 8)),
        (std::vector<std::string>{":020000040000FA", ":100000000428FF3FFF3FFF3FFF3FFF3FFF3FFF3F12",
                                  ":10420000FF003400FF00FF00FF00FF00FF00FF0081", ":02400E00723FFF",
                                  ":084000000100FF3FFF3F0F002C", ":00000001FF"}));
}

TEST(SavePicHex, RefusesSizesNoPicHasBeforeCreatingTheFile) {
    TempDir dir;
    const auto image = BlankImage();
    const std::pair<int, int> sizes[] = {{0x2008, 0x100}, {-8, 0x80},     {0x1000, 0x108},
                                         {0x1000, -8},    {0x1004, 0x80}, {0x1000, 0x81}};
    for (const auto& [program, eeprom] : sizes) {
        ScriptedUi ui;
        EXPECT_EQ(SavePicHex(ui, *image, dir.file("bad.hex"), program, eeprom), 0);
        EXPECT_EQ(ui.boxTexts(),
                  std::vector<std::string>{"Tailles de mémoire du PIC invalides..."});
        EXPECT_FALSE(std::filesystem::exists(dir.file("bad.hex")));
    }
}
