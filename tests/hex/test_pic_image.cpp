#include "programmer/pic_image.h"

#include "programmer/hex_records.h"

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
    std::string message;                                   // empty: no box
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries; // checked after the call
    int changed = -1; // entries that differ from blank, when >= 0
};

int ChangedEntries(const PicImage& image) {
    int n = 0;
    for (std::uint32_t v : image.entries)
        n += v != kPicBlankWord;
    return n;
}

const std::string kWord0 = ":020000000428D2"; // entry 0 = 0x2804

std::string Words(unsigned byteAddress, std::initializer_list<unsigned> words, int delta = 0) {
    std::vector<unsigned> bytes;
    for (unsigned w : words) {
        bytes.push_back(w & 0xFF);
        bytes.push_back(w >> 8);
    }
    return Record(byteAddress, 0, bytes, delta);
}

std::vector<ReadCase> ReadCases() {
    std::vector<ReadCase> cases = {
        {"empty file", "", 1, "", {}, 0},
        {"CR LF", kWord0 + "\r\n:00000001FF\r\n", 1, "", {{0, 0x2804}}, 1},
        {"bare LF, no final line end", kWord0 + "\n" + Words(2, {0x1234}), 1, "",
         {{0, 0x2804}, {1, 0x1234}}, 2},
        {"two CRs", kWord0 + "\r\r\n", 0, "Ligne incompléte dans le fichier...", {}, 0},
        {"empty lines", "\n\n" + kWord0 + "\n\n\r\n", 1, "", {{0, 0x2804}}, 1},
        {"byte-order mark and comments", "\xEF\xBB\xBF" + kWord0 + "\n; comment\nxyz\n " + kWord0,
         1, "", {}, 0},
        {"spaces after the checksum", kWord0 + "  \n", 0, "Ligne incompléte dans le fichier...", {}, 0},
        {"lower case", ":02000000ab1200", 0, "Checksum invalide...", {{0, 0x12AB}}, 1},
        {"lower case with its checksum", ":02000000ab1241", 1, "", {{0, 0x12AB}}, 1},
        {"no end-of-file record", Words(0x10, {1, 2, 3, 4}), 1, "", {{8, 1}, {9, 2}, {10, 3}, {11, 4}}, 4},
        {"lines after the end are never parsed", ":00000001FF\n:zz\n" + kWord0, 1, "", {}, 0},
        {"end record with a wrong checksum still ends", kWord0 + "\n:0000000100\n:zz", 1, "",
         {{0, 0x2804}}, 1},
        {"non-hex length, long line", ":ZZ000000FF3F00", 0, "Ligne incompléte dans le fichier...", {}, 0},
        {"non-hex length on nine characters", ":ZZ000000", 0, "Longueur invalide...", {}, 0},
        {"odd length, data", Record(0, 0, {0xFF}), 0, "Longueur invalide...", {}, 0},
        {"odd length, end record", Record(0, 1, {0x00}), 0, "Longueur invalide...", {}, 0},
        {"address 0x4400", Words(0x4400, {1}), 0, "Adresse invalide...", {}, 0},
        {"address 0x4400, end record", Record(0x4400, 1, {}), 0, "Adresse invalide...", {}, 0},
        {"address checked before type", Record(0x4400, 7, {}), 0, "Adresse invalide...", {}, 0},
        {"odd address", Words(0x0001, {1}), 0, "Adresse invalide...", {}, 0},
        {"odd address, address record", Record(0x0001, 4, {0, 0}), 0, "Adresse invalide...", {}, 0},
        {"non-hex low address pair", ":0240ZZ00010000", 0, "Adresse invalide...", {}, 0},
        {"non-hex high address pair", ":02ZZ0000010000", 0, "Adresse invalide...", {}, 0},
        {"type 06", Record(0, 6, {}), 0, "Record invalide...", {}, 0},
        {"non-hex type", ":000000ZZ00", 0, "Record invalide...", {}, 0},
        {"types 02, 03, 05 ignored with wrong checksums",
         Record(0, 2, {0x10, 0x00}, 1) + "\n" + Record(0, 3, {0, 0, 0, 0}, 7) + "\n" +
             Record(0, 5, {1, 2, 3, 4}, 9) + "\n" + kWord0,
         1, "", {{0, 0x2804}}, 1},
        {"extended linear address 0x0001 is ignored",
         Record(0, 4, {0x00, 0x01}) + "\n" + Words(0x4200, {0x00AA}), 1, "", {{0x2100, 0xAA}}, 1},
        {"data word 0x4000", Words(0, {0x3FFE, 0x4000, 0x0001}), 0, "Valeur supérieur à 0x3FFF...",
         {{0, 0x3FFE}, {1, 0x4000}}, 2},
        {"EEPROM word with high byte 0x40", Words(0x4200, {0x4001}), 0, "Valeur supérieur à 0x3FFF...",
         {{0x2100, 0x4001}}, 1},
        {"non-hex high byte of a word", ":02000000FFZZ00", 0, "Valeur supérieur à 0x3FFF...",
         {{0, 0xFFFFFFFFu}}, 1},
        {"non-hex low byte, high 0x01: the checksum decides", ":02000000ZZ01FE", 1, "", {{0, 0x00FF}}, 1},
        {"non-hex low byte, high 0x00", ":02000000ZZ0000", 0, "Valeur supérieur à 0x3FFF...", {}, 1},
        {"wrong checksum after the data is stored", Words(0x0100, {0x0123, 0x0456}, 1), 0,
         "Checksum invalide...", {{0x80, 0x0123}, {0x81, 0x0456}}, 2},
        {"data record of no data", ":0000000000\n" + kWord0, 1, "", {{0, 0x2804}}, 1},
        {"data record of no data, wrong checksum", ":00000000FF", 0, "Checksum invalide...", {}, 0},
        {"record running past the image keeps what fits", Words(0x43FE, {0x0055, 0x0066, 0x0077}), 1,
         "", {{0x21FF, 0x55}}, 1},
        {"words past the image are still tested", Words(0x43FE, {0x0055, 0x4000}), 0,
         "Valeur supérieur à 0x3FFF...", {{0x21FF, 0x55}}, 1},
        {"words past the image are still summed", Words(0x43FE, {0x0055, 0x0066}, 1), 0,
         "Checksum invalide...", {{0x21FF, 0x55}}, 1},
        {"configuration, IDs, device ID and free area",
         Words(0x4000, {1, 2, 3, 4, 0x3FFF, 0x3FFF, 0x0E20, 0x3F72}) + "\n" + Words(0x4010, {7}), 1, "",
         {{0x2000, 1}, {0x2003, 4}, {0x2006, 0x0E20}, {0x2007, 0x3F72}, {0x2008, 7}}, 7},
        {"program for a larger PIC loads whole", Words(0x3FFE, {0x0123}), 1, "", {{0x1FFF, 0x0123}}, 1},
        {"only the first failure is shown", kWord0 + "\n" + Words(2, {1}, 3) + "\n" + Words(3, {1}), 0,
         "Checksum invalide...", {{0, 0x2804}, {1, 1}}, 2},
    };

    // A record of 254 data bytes (127 words) is read whole; one of 255 is odd.
    std::vector<unsigned> bytes;
    for (unsigned i = 0; i < 127; ++i) {
        bytes.push_back(i);
        bytes.push_back(i % 0x40);
    }
    ReadCase longRecord{"254 data bytes", Record(0x0200, 0, bytes), 1, "", {}, 127};
    for (unsigned i = 0; i < 127; ++i)
        longRecord.entries.push_back({0x100 + i, (i % 0x40) * 256 + i});
    cases.push_back(longRecord);
    bytes.push_back(0);
    cases.push_back({"255 data bytes", Record(0, 0, bytes), 0, "Longueur invalide...", {}, 0});
    // A long line of other text is skipped, however long.
    cases.push_back({"long comment line", std::string(5000, 'x') + "\n" + kWord0, 1, "", {{0, 0x2804}}, 1});
    // A long record line with a wrong length never reaches the image.
    cases.push_back({"long line with a short length", ":02000000" + std::string(600, '0'), 0,
                     "Ligne incompléte dans le fichier...", {}, 0});
    return cases;
}

} // namespace

TEST(LoadPicHex, RecordTestsInOrder) {
    for (const auto& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        ScriptedUi ui;
        PicImage image;
        image.entries.fill(0x1111); // the reader must reset it first
        EXPECT_EQ(LoadPicHexText(ui, image, c.text), c.result);
        const auto boxes = ui.boxes();
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text);
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.message);
            EXPECT_EQ(boxes[0].caption, "Erreur fichier");
            EXPECT_EQ(boxes[0].icon, Icon::Error);
        }
        for (const auto& [entry, value] : c.entries)
            EXPECT_EQ(image.entries[entry], value) << std::hex << "entry 0x" << entry;
        if (c.changed >= 0) {
            EXPECT_EQ(ChangedEntries(image), c.changed);
        }
    }
}

TEST(LoadPicHex, FromFilesLikeFromMemory) {
    TempDir dir;
    // A NUL inside the file ends its text; what came before is kept.
    const std::string withNul = kWord0 + "\r\n" + std::string(1, '\0') + ":zz garbage\r\n";
    hextest::WriteFile(dir.file("nul.hex"), withNul);
    ScriptedUi ui;
    PicImage image;
    EXPECT_EQ(LoadPicHex(ui, image, dir.file("nul.hex")), 1);
    EXPECT_EQ(image.entries[0], 0x2804u);
    EXPECT_EQ(ChangedEntries(image), 1);

    // A file that cannot be opened still leaves the image blank.
    image.entries.fill(0);
    EXPECT_EQ(LoadPicHex(ui, image, dir.file("missing.hex")), 0);
    EXPECT_EQ(ChangedEntries(image), 0);
    EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Impossible de lire le fichier..."});

    // An empty file loads as a blank image.
    hextest::WriteFile(dir.file("empty.hex"), "");
    image.entries.fill(0);
    ui.clearEvents();
    EXPECT_EQ(LoadPicHex(ui, image, dir.file("empty.hex")), 1);
    EXPECT_EQ(ChangedEntries(image), 0);
    EXPECT_TRUE(ui.boxes().empty());
}

namespace {

struct SavedFile {
    std::string bytes;
    std::vector<std::string> lines;
};

SavedFile Save(const PicImage& image, int programSize, int eepromSize) {
    TempDir dir;
    ScriptedUi ui;
    EXPECT_EQ(SavePicHex(ui, image, dir.file("out.hex"), programSize, eepromSize), 1);
    EXPECT_TRUE(ui.boxes().empty());
    SavedFile f;
    f.bytes = hextest::ReadFile(dir.file("out.hex"));
    f.lines = hextest::CrLfLines(f.bytes);
    return f;
}

} // namespace

TEST(SavePicHex, BlankImageLinesAndSizes) {
    PicImage image;
    ResetPicImage(image);
    struct Case {
        int program, eeprom;
        std::size_t lines, bytes;
    } cases[] = {{0x2000, 0x100, 1060, 47596}, {0x1000, 0x80, 532, 23836}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const SavedFile f = Save(image, c.program, c.eeprom);
        ASSERT_EQ(f.lines.size(), c.lines);
        EXPECT_EQ(f.bytes.size(), c.bytes);
        const std::size_t eepromFirst = 1 + static_cast<std::size_t>(c.program) / 8;
        EXPECT_EQ(f.lines[0], ":020000040000FA");
        EXPECT_EQ(f.lines[1], ":10000000FF3FFF3FFF3FFF3FFF3FFF3FFF3FFF3F00");
        EXPECT_EQ(f.lines[eepromFirst], ":10420000FF00FF00FF00FF00FF00FF00FF00FF00B6");
        EXPECT_EQ(f.lines[c.lines - 3], ":02400E00FF3F72");
        EXPECT_EQ(f.lines[c.lines - 2], ":08400000FF3FFF3FFF3FFF3FC0");
        EXPECT_EQ(f.lines[c.lines - 1], ":00000001FF");
        // Program lines at 0x0000, 0x0010, ...; EEPROM lines at 0x4200, 0x4210, ...
        for (std::size_t i = 1; i < eepromFirst; ++i) {
            char head[10];
            std::snprintf(head, sizeof head, ":10%04X00", static_cast<unsigned>((i - 1) * 16));
            ASSERT_EQ(f.lines[i].substr(0, 9), head) << i;
            ASSERT_EQ(f.lines[i].size(), 43u);
        }
        for (std::size_t i = eepromFirst; i < c.lines - 3; ++i) {
            char head[10];
            std::snprintf(head, sizeof head, ":10%04X00",
                          static_cast<unsigned>(0x4200 + (i - eepromFirst) * 16));
            ASSERT_EQ(f.lines[i].substr(0, 9), head) << i;
        }
    }
}

TEST(SavePicHex, WritesOnlyTheLowSixteenBitsAndTheEepromLowByte) {
    PicImage image;
    ResetPicImage(image);
    image.entries[0] = 0x00012804;   // a chip read may carry more than 14 bits
    image.entries[0x2100] = 0x3FFF;  // blank EEPROM: FF then 00
    image.entries[0x2101] = 0x1234;  // only 0x34 is written
    image.entries[0x2006] = 0x0E20;  // device ID: never written
    image.entries[0x2004] = 0x0001;
    image.entries[0x2007] = 0x3F72;
    image.entries[0x2000] = 0x0001;
    image.entries[0x2003] = 0x000F;
    const SavedFile f = Save(image, 8, 8);
    ASSERT_EQ(f.lines.size(), 6u);
    EXPECT_EQ(f.lines[1], ":100000000428FF3FFF3FFF3FFF3FFF3FFF3FFF3F12");
    EXPECT_EQ(f.lines[2], Record(0x4200, 0, {0xFF, 0, 0x34, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0,
                                             0xFF, 0, 0xFF, 0}));
    EXPECT_EQ(f.lines[3], ":02400E00723FFF");
    EXPECT_EQ(f.lines[4], ":084000000100FF3FFF3F0F002C");
    for (const auto& line : f.lines)
        EXPECT_EQ(line.find(":02400C"), std::string::npos);
    // Every written line carries a correct checksum.
    for (const auto& line : f.lines) {
        int sum = 0;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2)
            sum += ParseHexByte(line[i], line[i + 1]);
        EXPECT_EQ(sum & 0xFF, 0) << line;
    }
}

TEST(SavePicHex, RoundTripThroughTheReader) {
    struct Case {
        int program, eeprom;
    } cases[] = {{0x2000, 0x100}, {0x1000, 0x80}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        PicImage image;
        ResetPicImage(image);
        std::uint32_t seed = 12345;
        auto next = [&] { return seed = seed * 1103515245u + 12345u; };
        for (int i = 0; i < c.program; ++i)
            image.entries[static_cast<std::size_t>(i)] = (next() >> 8) & 0x3FFF;
        for (int i = 0; i < c.eeprom; ++i)
            image.entries[0x2100 + static_cast<std::size_t>(i)] = (next() >> 8) & 0xFF;
        for (std::uint32_t a : {0x2000u, 0x2001u, 0x2002u, 0x2003u, 0x2007u})
            image.entries[a] = (next() >> 8) & 0x3FFF;

        TempDir dir;
        ScriptedUi ui;
        ASSERT_EQ(SavePicHex(ui, image, dir.file("r.hex"), c.program, c.eeprom), 1);
        PicImage back;
        ASSERT_EQ(LoadPicHex(ui, back, dir.file("r.hex")), 1);
        EXPECT_TRUE(ui.boxes().empty());
        EXPECT_TRUE(back.entries == image.entries);
    }
}

TEST(SavePicHex, RefusesSizesNoPicHas) {
    TempDir dir;
    PicImage image;
    ResetPicImage(image);
    const std::pair<int, int> bad[] = {{0x2008, 0x100}, {-8, 0x80}, {0x1000, 0x108}, {0x1000, -8},
                                       {0x1004, 0x80},  {0x1000, 0x81}};
    for (const auto& [program, eeprom] : bad) {
        ScriptedUi ui;
        EXPECT_EQ(SavePicHex(ui, image, dir.file("bad.hex"), program, eeprom), 0);
        ASSERT_EQ(ui.boxes().size(), 1u);
        EXPECT_EQ(ui.boxes()[0].caption, "Erreur");
        EXPECT_EQ(::access(dir.file("bad.hex").c_str(), F_OK), -1) << "no file is created";
    }
}

TEST(SavePicHex, FileErrors) {
    TempDir dir;
    PicImage image;
    ResetPicImage(image);
    ScriptedUi ui;
    EXPECT_EQ(SavePicHex(ui, image, "/dev/full", 0x2000, 0x100), 0);
    EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Impossible d'écrire dans le fichier..."});
    ui.clearEvents();
    EXPECT_EQ(SavePicHex(ui, image, dir.file("none/x.hex"), 0x2000, 0x100), 0);
    EXPECT_EQ(hextest::BoxTexts(ui), std::vector<std::string>{"Impossible de créer le fichier..."});

    // A write that comes back short midway leaves the lines before it and
    // reports one failure.
    const std::string path = dir.file("short.hex");
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {10000, 10000};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        ScriptedUi child;
        const int rc = SavePicHex(child, image, path, 0x2000, 0x100);
        const bool one = hextest::BoxTexts(child) ==
                         std::vector<std::string>{"Impossible d'écrire dans le fichier..."};
        ::_exit(rc == 0 && one ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string partial = hextest::ReadFile(path);
    EXPECT_EQ(partial.size(), 10000u);
    EXPECT_EQ(partial.substr(0, 17), ":020000040000FA\r\n");
    EXPECT_EQ(partial.find(":00000001FF"), std::string::npos);
}
