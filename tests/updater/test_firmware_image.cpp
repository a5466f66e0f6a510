#include "programmer/pic_image.h"
#include "updater/firmware_image.h"

#include "tests/hex/hex_test_util.h"

#include <functional>
#include <sys/stat.h>

using namespace talmo;
using namespace hextest;

namespace {

const std::string kSection = ":0200000400F00A";
const std::string kIncomplete = "Ligne incompléte dans le fichier...",
                  kAddress = "Adresse invalide...", kType = "Record invalide...",
                  kChecksum = "Checksum invalide...";

// Line ends, letter case, comments and what follows the end record are the
// shared walk's, tested on the PIC reader; these are the firmware records.
std::vector<ReadCase> ReadCases() {
    std::vector<ReadCase> cases = {
        Ok("odd length and address; data at 0x0000 lands in the EEPROM cells",
           Record(0x1301, 0, {1, 2, 3}) + "\r\n" + Record(0, 0, {0x5A}) + "\r\n:00000001FF\r\n",
           {{0x1301, 1}, {0x1303, 3}, {0, 0x5A}}, 4),
        Bad("address 0x8000", Record(0x8000, 0, {1}), kAddress),
        Bad("address 0x8000, end record", Record(0x8000, 1, {}), kAddress),
        Bad("address 0xFFFF, address record", Record(0xFFFF, 4, {0, 0}), kAddress),
        Bad("type 02", Record(0, 2, {0x10, 0}), kType),
        Bad("type 05", Record(0, 5, {0, 0, 0, 0}), kType),
        Bad("non-hex type", ":001300ZZ00", kType),
        Ok("end record with a wrong checksum still ends",
           Record(0x1300, 0, {1}) + "\n:0000000100\n:zz", {{0x1300, 1}}, 1),
        Ok("EEPROM section",
           Record(0x1300, 0, {1}) + "\n" + kSection + "\n" + Record(0, 0, {0xA0, 0xA1}) + "\n" +
               Record(0xFF, 0, {0xAF}) + "\n:00000001FF",
           {{0x1300, 1}, {0, 0xA0}, {1, 0xA1}, {0xFF, 0xAF}}, 4),
        Ok("EEPROM flag: record at 0x100 dropped unread, program memory again",
           kSection + "\n" + Record(0x10, 0, {0x11}) + "\n" + Record(0x100, 0, {0x22}, 5) + "\n" +
               Record(0x2000, 0, {0x33}) + "\n" + Record(0x20, 0, {0x44}),
           {{0x10, 0x11}, {0x100, 0xFF}, {0x2000, 0x33}, {0x20, 0x44}}, 3),
        Ok("any non-zero upper address sets the EEPROM flag, zero clears it",
           Record(0, 4, {0x00, 0x30}) + "\n" + Record(0, 0, {1, 2, 3}) + "\n" +
               Record(0x1300, 0, {9}) + "\n" + kSection + "\n" + Record(1, 0, {0x77}) + "\n" +
               Record(0, 4, {0, 0}) + "\n" + Record(0x100, 0, {0x88}),
           {{0, 1}, {1, 0x77}, {2, 3}, {0x1300, 0xFF}, {0x100, 0x88}}, 4),
        Bad("address record checksum is verified", kSection.substr(0, 13) + "0B", kChecksum),
        Ok("EEPROM data past 0xFF lands in untransferred cells",
           kSection + "\n" + Record(0xFE, 0, {1, 2, 3, 4}), {{0xFE, 1}, {0x101, 4}}, 4),
        Bad("wrong checksum after the data is stored", Record(0x1300, 0, {1, 2}, 1), kChecksum,
            {{0x1300, 1}, {0x1301, 2}}, 2),
        Ok("non-hex data pair reads as 0xFF, the checksum decides", ":0213000012ZZDA",
           {{0x1300, 0x12}, {0x1301, 0xFF}}, 1),
        Ok("non-hex low address pair: 0x1FFF", ":0120ZZ00558B", {{0x1FFF, 0x55}}, 1),
        Bad("non-hex length on nine characters", ":ZZ130000", kIncomplete),
        Bad("a record ending at 0x7FFF is taken, one running past it refused whole",
            Record(0x7FF8, 0, {1, 2, 3, 4, 5, 6, 7, 8}) + "\n" +
                Record(0x7FF8, 0, {9, 9, 9, 9, 9, 9, 9, 9, 9}),
            kAddress, {{0x7FF8, 1}, {0x7FFF, 8}}, 8),
    };
    std::vector<unsigned> bytes;
    for (unsigned i = 0; i < 255; ++i)
        bytes.push_back(i ^ 0x5A);
    // One of the 255 bytes is 0xFF.
    cases.push_back(Ok("255 data bytes", Record(0x1300, 0, bytes),
                       {{0x1300, 0x5A}, {0x13FE, 0xFE ^ 0x5A}}, 254));
    return cases;
}

// The bytes the device would hold: program 0x1300-0x7FFF, then EEPROM 0x00-0xFF.
std::uint8_t DeviceByte(std::uint32_t i) { return static_cast<std::uint8_t>((i * 7) ^ (i >> 8)); }

// Writes a whole firmware file, `chunk` bytes at a time; every call is made
// even after a failure, which must then stay silent.
bool WriteFirmware(Ui& ui, const std::string& path, std::size_t chunk, bool blank) {
    FirmwareHexWriter writer(ui);
    bool ok = writer.create(path);
    std::vector<std::uint8_t> all(FirmwareHexWriter::kTotalBytes);
    for (std::uint32_t i = 0; i < all.size(); ++i)
        all[i] = blank ? 0xFF : DeviceByte(i);
    for (std::size_t i = 0; i < all.size(); i += chunk)
        ok &= writer.addBytes(all.data() + i, std::min(chunk, all.size() - i));
    return writer.finish() && ok;
}

} // namespace

TEST(LoadFirmwareHex, RecordTestsInOrder) {
    hextest::CheckReadCases<FirmwareImage>(
        ReadCases(), LoadFirmwareHexText,
        [](FirmwareImage& i) {
            i.cells.fill(0);
            i.eepromFlag = true;
        },
        [](const FirmwareImage& i) -> const auto& { return i.cells; }, 0xFF);
}

// A save that stops (a device error) just drops the writer; a caller that
// breaks the writer's contract gets a message. Either way the file it would
// replace stays as it was, and nothing is left beside it.
TEST(FirmwareHexWriter, AnUnfinishedFileReplacesNothing) {
    const std::uint32_t program = FirmwareHexWriter::kProgramBytes,
                        total = FirmwareHexWriter::kTotalBytes;
    const struct {
        std::uint32_t bytes, next;
        const char* message; // nullptr: no finish()
    } cases[] = {{0, 0x1300, nullptr},
                 {100, 0x1364, nullptr},
                 {program, 0, "Données du firmware incomplètes..."},
                 {total - 1, 0xFF, nullptr},
                 {total + 1, 0x100, "Données du firmware en trop..."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        TempDir dir;
        hextest::WriteFile(dir.file("p.hex"), "old\r\n");
        ScriptedUi ui;
        {
            FirmwareHexWriter writer(ui);
            ASSERT_EQ(writer.create(dir.file("p.hex")), 1);
            const std::vector<std::uint8_t> data(c.bytes, 0x42);
            EXPECT_EQ(writer.addBytes(data.data(), data.size()), c.bytes <= total ? 1 : 0);
            EXPECT_EQ(writer.nextAddress(), c.next);
            EXPECT_EQ(writer.inEeprom(), c.bytes >= program);
            EXPECT_EQ(c.message ? writer.finish() + writer.addByte(0) : 0, 0);
        }
        EXPECT_EQ(ui.boxTexts(),
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(hextest::ReadFile(dir.file("p.hex")), "old\r\n");
        EXPECT_EQ(hextest::Names(dir.path), std::vector<std::string>{"p.hex"});
    }
}

// A complete file replaces the old one whole, with its permissions; through
// a symbolic link, the link stays and its target is replaced.
TEST(HexWriters, ACompleteFileTakesThePlaceOfTheOld) {
    TempDir dir;
    hextest::WriteFile(dir.file("target.hex"), std::string(100000, 'x'));
    ::chmod(dir.file("target.hex").c_str(), 0640);
    std::filesystem::create_symlink("target.hex", dir.file("link.hex"));
    ScriptedUi ui;
    ASSERT_EQ(WriteFirmware(ui, dir.file("link.hex"), 1, true), 1); // a byte at a time
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.hex")));
    hextest::Firmware blank;
    blank.program.fill(0xFF);
    blank.eeprom.fill(0xFF);
    EXPECT_EQ(hextest::ReadFile(dir.file("target.hex")), blank.hexText());
    struct stat info {};
    ::stat(dir.file("target.hex").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(hextest::Names(dir.path), (std::vector<std::string>{"link.hex", "target.hex"}));
}
