#include "updater/firmware_image.h"

#include "hex_test_util.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace talmo;
using hextest::Record;
using hextest::TempDir;

namespace {

struct ReadCase {
    const char* name;
    std::string text;
    int result;
    std::string message;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> cells;
    int changed = -1; // cells that differ from 0xFF, when >= 0
};

int ChangedCells(const FirmwareImage& image) {
    int n = 0;
    for (std::uint8_t v : image.cells)
        n += v != 0xFF;
    return n;
}

const std::string kEepromSection = ":0200000400F00A";

std::vector<ReadCase> ReadCases() {
    std::vector<ReadCase> cases = {
        {"empty file", "", 1, "", {}, 0},
        {"program data, CR LF", Record(0x1300, 0, {0x12, 0x34}) + "\r\n:00000001FF\r\n", 1, "",
         {{0x1300, 0x12}, {0x1301, 0x34}}, 2},
        {"bare LF, no final line end", Record(0x2000, 0, {1}) + "\n" + Record(0x7FFF, 0, {2}), 1, "",
         {{0x2000, 1}, {0x7FFF, 2}}, 2},
        {"two CRs", Record(0x2000, 0, {1}) + "\r\r\n", 0, "Ligne incompléte dans le fichier...", {}, 0},
        {"lower case", ":01130000ab41", 1, "", {{0x1300, 0xAB}}, 1},
        {"odd length and odd address", Record(0x1301, 0, {1, 2, 3}), 1, "",
         {{0x1301, 1}, {0x1302, 2}, {0x1303, 3}}, 3},
        {"program data at 0x0000 lands in the EEPROM cells", Record(0x0000, 0, {0x5A}), 1, "",
         {{0x0000, 0x5A}}, 1},
        {"address 0x8000", Record(0x8000, 0, {1}), 0, "Adresse invalide...", {}, 0},
        {"address 0x8000, end record", Record(0x8000, 1, {}), 0, "Adresse invalide...", {}, 0},
        {"address 0xFFFF, address record", Record(0xFFFF, 4, {0, 0}), 0, "Adresse invalide...", {}, 0},
        {"address before type", Record(0x8000, 2, {0, 0}), 0, "Adresse invalide...", {}, 0},
        {"type 02", Record(0, 2, {0x10, 0}), 0, "Record invalide...", {}, 0},
        {"type 03", Record(0, 3, {0, 0, 0, 0}), 0, "Record invalide...", {}, 0},
        {"type 05", Record(0, 5, {0, 0, 0, 0}), 0, "Record invalide...", {}, 0},
        {"non-hex type", ":001300ZZ00", 0, "Record invalide...", {}, 0},
        {"lines after the end are never read", ":00000001FF\n" + Record(0x1300, 0, {1}) + "\n:zz", 1, "",
         {}, 0},
        {"end record with a wrong checksum", Record(0x1300, 0, {1}) + "\n:0000000100\n:zz", 1, "",
         {{0x1300, 1}}, 1},
        {"EEPROM section",
         Record(0x1300, 0, {1}) + "\n" + kEepromSection + "\n" + Record(0x0000, 0, {0xA0, 0xA1}) +
             "\n" + Record(0x00FF, 0, {0xAF}) + "\n:00000001FF",
         1, "", {{0x1300, 1}, {0x0000, 0xA0}, {0x0001, 0xA1}, {0x00FF, 0xAF}}, 4},
        {"EEPROM flag: record at 0x100 dropped unread, program memory again",
         kEepromSection + "\n" + Record(0x0010, 0, {0x11}) + "\n" + Record(0x0100, 0, {0x22}, 5) +
             "\n" + Record(0x2000, 0, {0x33}) + "\n" + Record(0x0020, 0, {0x44}),
         1, "", {{0x0010, 0x11}, {0x0100, 0xFF}, {0x2000, 0x33}, {0x0020, 0x44}}, 3},
        {"any non-zero upper address sets the EEPROM flag",
         Record(0, 4, {0x00, 0x30}) + "\n" + Record(0x0000, 0, {1, 2, 3}) + "\n" +
             Record(0x1300, 0, {9}) + "\n" + kEepromSection + "\n" + Record(0x0001, 0, {0x77}) + "\n" +
             Record(0, 4, {0, 0}) + "\n" + Record(0x0100, 0, {0x88}),
         1, "", {{0x0000, 1}, {0x0001, 0x77}, {0x0002, 3}, {0x1300, 0xFF}, {0x0100, 0x88}}, 4},
        {"address record checksum is verified", kEepromSection.substr(0, 13) + "0B", 0,
         "Checksum invalide...", {}, 0},
        {"EEPROM data past 0xFF lands in untransferred cells",
         kEepromSection + "\n" + Record(0x00FE, 0, {1, 2, 3, 4}), 1, "",
         {{0x00FE, 1}, {0x00FF, 2}, {0x0100, 3}, {0x0101, 4}}, 4},
        {"wrong checksum after the data is stored", Record(0x1300, 0, {1, 2}, 1), 0,
         "Checksum invalide...", {{0x1300, 1}, {0x1301, 2}}, 2},
        {"non-hex data pair reads as 0xFF, the checksum decides", ":0213000012ZZDA", 1, "",
         {{0x1300, 0x12}, {0x1301, 0xFF}}, 1},
        {"non-hex data pair, checksum refuses", ":0213000012ZZDB", 0, "Checksum invalide...",
         {{0x1300, 0x12}}, 1},
        {"non-hex low address pair: 0x1FFF", ":0120ZZ0055" + std::string("8B"), 1, "",
         {{0x1FFF, 0x55}}, 1},
        {"non-hex length on nine characters, data", ":ZZ130000", 0,
         "Ligne incompléte dans le fichier...", {}, 0},
        {"non-hex length on nine characters, address record", ":ZZ000004", 0,
         "Ligne incompléte dans le fichier...", {}, 0},
        {"non-hex length, longer line", ":ZZ13000012", 0, "Ligne incompléte dans le fichier...", {}, 0},
        {"record running past 0x7FFF is refused whole",
         Record(0x7FF0, 0, {1}) + "\n" + Record(0x7FF8, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}), 0,
         "Adresse invalide...", {{0x7FF0, 1}, {0x7FF8, 0xFF}}, 1},
        {"record ending at 0x7FFF is accepted", Record(0x7FF8, 0, {1, 2, 3, 4, 5, 6, 7, 8}), 1, "",
         {{0x7FF8, 1}, {0x7FFF, 8}}, 8},
        {"data record of no data", ":00130000ED\n", 1, "", {}, 0},
        {"long comment line", std::string(10000, 'y') + "\n" + Record(0x1300, 0, {1}), 1, "",
         {{0x1300, 1}}, 1},
    };
    std::vector<unsigned> bytes;
    for (unsigned i = 0; i < 255; ++i)
        bytes.push_back(i ^ 0x5A);
    ReadCase longRecord{"255 data bytes", Record(0x1300, 0, bytes), 1, "", {}, -1};
    for (unsigned i = 0; i < 255; ++i)
        longRecord.cells.push_back({0x1300 + i, static_cast<std::uint8_t>(i ^ 0x5A)});
    cases.push_back(longRecord);
    return cases;
}

} // namespace

TEST(LoadFirmwareHex, RecordTestsInOrder) {
    for (const auto& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        ScriptedUi ui;
        FirmwareImage image;
        image.cells.fill(0);
        image.eepromFlag = true;
        EXPECT_EQ(LoadFirmwareHexText(ui, image, c.text), c.result);
        const auto boxes = ui.boxes();
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text);
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.message);
            EXPECT_EQ(boxes[0].caption, "Erreur fichier");
            EXPECT_EQ(boxes[0].icon, Icon::Error);
        }
        for (const auto& [cell, value] : c.cells)
            EXPECT_EQ(image.cells[cell], value) << std::hex << "cell 0x" << cell;
        if (c.changed >= 0) {
            EXPECT_EQ(ChangedCells(image), c.changed);
        }
    }
}

TEST(LoadFirmwareHex, FileFrontEnd) {
    TempDir dir;
    ScriptedUi ui;
    FirmwareImage image;
    image.cells.fill(0);
    EXPECT_EQ(LoadFirmwareHex(ui, image, dir.file("missing.hex")), 0);
    EXPECT_EQ(ChangedCells(image), 0);
    EXPECT_FALSE(image.eepromFlag);
    EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Impossible de lire le fichier..."});

    ui.clearEvents();
    hextest::WriteFile(dir.file("nul.hex"),
                       Record(0x1300, 0, {7}) + "\r\n" + std::string(1, '\0') + "\r\n:bad\r\n");
    EXPECT_EQ(LoadFirmwareHex(ui, image, dir.file("nul.hex")), 1);
    EXPECT_EQ(image.cells[0x1300], 7);
    EXPECT_EQ(ChangedCells(image), 1);
    EXPECT_TRUE(ui.boxes().empty());
}

namespace {

// The byte the device would hold at a program address, or at an EEPROM
// address (offset so the two sections differ).
std::uint8_t ProgramByte(std::uint32_t a) { return static_cast<std::uint8_t>((a * 7) ^ (a >> 8)); }
std::uint8_t EepromByte(std::uint32_t e) { return static_cast<std::uint8_t>(0xC3 ^ (e * 13)); }

// Writes a whole firmware file, handing the writer `chunk` bytes at a time.
int WriteFirmware(Ui& ui, const std::string& path, std::size_t chunk, bool blank) {
    FirmwareHexWriter writer(ui);
    if (!writer.create(path))
        return 0;
    std::vector<std::uint8_t> all;
    for (std::uint32_t a = 0x1300; a < 0x8000; ++a)
        all.push_back(blank ? 0xFF : ProgramByte(a));
    for (std::uint32_t e = 0; e < 0x100; ++e)
        all.push_back(blank ? 0xFF : EepromByte(e));
    for (std::size_t i = 0; i < all.size(); i += chunk)
        if (!writer.addBytes(all.data() + i, std::min(chunk, all.size() - i)))
            return 0;
    return writer.finish();
}

} // namespace

TEST(FirmwareHexWriter, BlankFileLinesAndChecksums) {
    TempDir dir;
    ScriptedUi ui;
    ASSERT_EQ(WriteFirmware(ui, dir.file("blank.hex"), 1, true), 1);
    EXPECT_TRUE(ui.boxes().empty());
    const std::string bytes = hextest::ReadFile(dir.file("blank.hex"));
    const auto lines = hextest::CrLfLines(bytes);
    ASSERT_EQ(lines.size(), 1u + 1744u + 1u + 16u + 1u);
    EXPECT_EQ(bytes.size(), 17u + 1760u * 45u + 17u + 13u);
    const std::string ff16(32, 'F');
    EXPECT_EQ(lines[0], ":020000040000FA");
    EXPECT_EQ(lines[1], ":10130000" + ff16 + "ED");
    EXPECT_EQ(lines[1744], ":107FF000" + ff16 + "91");
    EXPECT_EQ(lines[1745], ":0200000400F00A");
    EXPECT_EQ(lines[1746], ":10000000" + ff16 + "00");
    EXPECT_EQ(lines[1761], ":1000F000" + ff16 + "10");
    EXPECT_EQ(lines[1762], ":00000001FF");
    for (std::size_t i = 1; i <= 1744; ++i) {
        char head[10];
        std::snprintf(head, sizeof head, ":10%04X00", static_cast<unsigned>(0x1300 + (i - 1) * 16));
        ASSERT_EQ(lines[i].substr(0, 9), head);
    }
}

TEST(FirmwareHexWriter, RoundTripThroughTheReaderWhateverTheChunks) {
    TempDir dir;
    std::string first;
    for (std::size_t chunk : {1u, 16u, 32u, 7u, 0x6E00u}) {
        SCOPED_TRACE(chunk);
        ScriptedUi ui;
        const std::string path = dir.file("fw" + std::to_string(chunk) + ".hex");
        ASSERT_EQ(WriteFirmware(ui, path, chunk, false), 1);
        const std::string bytes = hextest::ReadFile(path);
        if (first.empty())
            first = bytes;
        EXPECT_EQ(bytes, first);

        FirmwareImage image;
        ASSERT_EQ(LoadFirmwareHex(ui, image, path), 1);
        EXPECT_TRUE(ui.boxes().empty());
        for (std::uint32_t a = 0x1300; a < 0x8000; ++a)
            ASSERT_EQ(image.cells[a], ProgramByte(a)) << std::hex << a;
        for (std::uint32_t e = 0; e < 0x100; ++e)
            ASSERT_EQ(image.cells[e], EepromByte(e)) << std::hex << e;
        for (std::uint32_t a = 0x100; a < 0x1300; ++a)
            ASSERT_EQ(image.cells[a], 0xFF);
    }
}

TEST(FirmwareHexWriter, NeverWritesALineOfUndeliveredBytes) {
    TempDir dir;
    ScriptedUi ui;
    const std::string path = dir.file("partial.hex");
    {
        FirmwareHexWriter writer(ui);
        ASSERT_EQ(writer.create(path), 1);
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(writer.addByte(static_cast<std::uint8_t>(i)), 1);
        EXPECT_EQ(writer.delivered(), 100u);
        EXPECT_EQ(writer.nextAddress(), 0x1364u);
        EXPECT_FALSE(writer.inEeprom());
        // The save stops here (a device error): the writer just goes away.
    }
    const auto lines = hextest::CrLfLines(hextest::ReadFile(path));
    ASSERT_EQ(lines.size(), 7u); // the first line and six whole data lines
    EXPECT_EQ(lines[6].substr(0, 9), ":10135000");
    EXPECT_TRUE(ui.boxes().empty());
}

TEST(FirmwareHexWriter, ContractBreachesFailWithAMessage) {
    TempDir dir;
    {
        ScriptedUi ui;
        FirmwareHexWriter writer(ui);
        ASSERT_EQ(writer.create(dir.file("early.hex")), 1);
        std::vector<std::uint8_t> program(FirmwareHexWriter::kProgramBytes, 0xFF);
        ASSERT_EQ(writer.addBytes(program.data(), program.size()), 1);
        EXPECT_TRUE(writer.inEeprom());
        EXPECT_EQ(writer.nextAddress(), 0u);
        EXPECT_EQ(writer.finish(), 0); // no EEPROM bytes yet
        EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Données du firmware incomplètes..."});
        EXPECT_EQ(writer.addByte(0), 0);
        EXPECT_EQ(ui.boxes().size(), 1u);
        const auto lines = hextest::CrLfLines(hextest::ReadFile(dir.file("early.hex")));
        ASSERT_EQ(lines.size(), 1u + 1744u + 1u);
        EXPECT_EQ(lines[1744].substr(0, 9), ":107FF000");
        EXPECT_EQ(lines.back(), ":0200000400F00A");
    }
    {
        ScriptedUi ui;
        FirmwareHexWriter writer(ui);
        ASSERT_EQ(writer.create(dir.file("over.hex")), 1);
        std::vector<std::uint8_t> all(FirmwareHexWriter::kTotalBytes + 1, 0x00);
        EXPECT_EQ(writer.addBytes(all.data(), all.size()), 0);
        EXPECT_EQ(writer.finish(), 0);
        EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Données du firmware en trop..."});
        const std::string bytes = hextest::ReadFile(dir.file("over.hex"));
        EXPECT_EQ(bytes.find(":00000001FF"), std::string::npos);
    }
    {
        ScriptedUi ui;
        FirmwareHexWriter writer(ui);
        EXPECT_EQ(writer.addByte(1), 0); // never created
        EXPECT_EQ(writer.finish(), 0);
    }
}

TEST(FirmwareHexWriter, FileErrors) {
    TempDir dir;
    {
        ScriptedUi ui;
        EXPECT_EQ(WriteFirmware(ui, "/dev/full", 16, false), 0);
        EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Impossible d'écrire dans le fichier..."});
        EXPECT_EQ(ui.boxes()[0].caption, "Erreur");
    }
    {
        ScriptedUi ui;
        EXPECT_EQ(WriteFirmware(ui, dir.file("none/fw.hex"), 16, false), 0);
        EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Impossible de créer le fichier..."});
    }
    // A short write midway: one message, the file keeps what was written.
    const std::string path = dir.file("short.hex");
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {4000, 4000};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        ScriptedUi child;
        FirmwareHexWriter writer(child);
        int addFailures = 0;
        if (writer.create(path) != 1)
            ::_exit(1);
        for (std::uint32_t i = 0; i < FirmwareHexWriter::kTotalBytes; ++i)
            addFailures += writer.addByte(0x42) == 0;
        const int rc = writer.finish();
        const bool one = hextest::BoxTexts(child) ==
                         std::vector<std::string>{"Impossible d'écrire dans le fichier..."};
        ::_exit(rc == 0 && one && addFailures > 0 ? 0 : 2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string partial = hextest::ReadFile(path);
    EXPECT_EQ(partial.size(), 4000u);
    EXPECT_EQ(partial.find(":00000001FF"), std::string::npos);
}
