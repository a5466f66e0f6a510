#include "programmer/hex_records.h"

#include "hex_test_util.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/resource.h>
#include <csignal>

using namespace talmo;
using hextest::TempDir;

TEST(ParseHexByte, DigitsOfBothCasesAndRefusals) {
    struct Case {
        char a, b;
        int expected;
    } cases[] = {
        {'0', '0', 0},    {'0', '9', 9},    {'0', 'A', 10},   {'0', 'f', 15},  {'1', '0', 16},
        {'7', 'F', 127},  {'8', '0', 128},  {'F', 'F', 255},  {'f', 'f', 255}, {'a', 'B', 0xAB},
        {'G', '0', -1},   {'0', 'G', -1},   {'g', 'g', -1},   {' ', '1', -1},  {'1', ' ', -1},
        {'\0', '0', -1},  {'0', '\0', -1},  {':', '0', -1},   {'/', '0', -1},  {'@', '0', -1},
        {'`', '0', -1},   {'0', '\xFF', -1}, {'-', '1', -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseHexByte(c.a, c.b), c.expected) << "'" << c.a << c.b << "'";
    // Every pair of hex digits, exhaustively, against its numeric value.
    const std::string digits = "0123456789ABCDEFabcdef";
    for (char a : digits)
        for (char b : digits)
            EXPECT_EQ(ParseHexByte(a, b), std::stoi(std::string{a, b}, nullptr, 16));
}

TEST(HexPairAt, NeverReadsPastTheLine) {
    const std::string text = ":10AB";
    const std::string_view line(text);
    EXPECT_EQ(HexPairAt(line, 1), 0x10);
    EXPECT_EQ(HexPairAt(line, 3), 0xAB);
    EXPECT_EQ(HexPairAt(line, 4), -1); // one character left
    EXPECT_EQ(HexPairAt(line, 5), -1);
    EXPECT_EQ(HexPairAt(line, 1000), -1);
    EXPECT_EQ(HexPairAt(line.substr(0, 2), 1), -1);
}

TEST(HexChecksum, CompletesTheSumModulo256) {
    struct Case {
        int sum, checksum;
        bool ok;
    } cases[] = {
        {0, 0, true},         {0x100, 0, true},   {1, 0xFF, true},  {0x10 + 0x13, 0xDD, true},
        {0x10 + 0x13, 0xDC, false}, {0, 0x100, false}, {-1, 1, true}, // a -1 pair in the sum
        {-1 + 0x13 + 1, 0xED, true}, {5, -1, false},  {0xFF, 1, true}, {0xFF, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexChecksumMatches(c.sum, c.checksum), c.ok) << c.sum << " " << c.checksum;
}

TEST(NextHexLine, LineEndsAndEmptyLines) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"\n\n\n", {}},
        {"a", {"a"}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\r\nc", {"a", "b", "c"}},
        {"\na\n\nb\n", {"a", "b"}},
        {"a\r\r\n", {"a\r"}}, // only one CR is removed
        {"\r\n", {""}},       // a lone CR is a line of nothing
        {"a\rb\n", {"a\rb"}},
        {"x\r", {"x"}},
    };
    for (const auto& c : cases) {
        std::string_view rest = c.text;
        std::string_view line;
        std::vector<std::string> got;
        while (NextHexLine(rest, line))
            got.emplace_back(line);
        EXPECT_EQ(got, c.lines) << testing::PrintToString(c.text);
    }
}

TEST(FormatHexRecord, UpperCaseDigitsChecksumAndCrLf) {
    char out[kHexMaxRecordLine];
    const std::uint8_t blank[16] = {0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F,
                                    0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F, 0xFF, 0x3F};
    std::size_t n = FormatHexRecord(out, 0x0000, 0, blank, 16);
    EXPECT_EQ(std::string(out, n), ":10000000FF3FFF3FFF3FFF3FFF3FFF3FFF3FFF3F00\r\n");
    const std::uint8_t upper[2] = {0x00, 0x00};
    n = FormatHexRecord(out, 0x0000, 4, upper, 2);
    EXPECT_EQ(std::string(out, n), std::string(kHexFirstLine) + "\r\n");
    n = FormatHexRecord(out, 0x0000, 1, nullptr, 0);
    EXPECT_EQ(std::string(out, n), std::string(kHexEndLine) + "\r\n");
    const std::uint8_t config[2] = {0x72, 0x3F};
    n = FormatHexRecord(out, 0x400E, 0, config, 2);
    EXPECT_EQ(std::string(out, n), ":02400E00723FFF\r\n");

    // The longest record fills the buffer exactly; a longer one is refused.
    std::uint8_t data[256];
    for (int i = 0; i < 256; ++i)
        data[i] = static_cast<std::uint8_t>(i);
    n = FormatHexRecord(out, 0xABCD, 0, data, 255);
    ASSERT_EQ(n, kHexMaxRecordLine);
    EXPECT_EQ(std::string(out, 9), ":FFABCD00");
    EXPECT_EQ(std::string(out + 9 + 2 * 0xFE, 2), "FE");
    unsigned sum = 0;
    for (std::size_t i = 1; i + 2 < n; i += 2)
        sum += static_cast<unsigned>(ParseHexByte(out[i], out[i + 1]));
    EXPECT_EQ(sum & 0xFF, 0u);
    EXPECT_EQ(FormatHexRecord(out, 0, 0, data, 256), 0u);
}

TEST(LoadHexText, FrontEndMessages) {
    TempDir dir;
    ScriptedUi ui;
    HexText text;
    EXPECT_EQ(LoadHexText(ui, dir.file("missing.hex"), text), 0);
    EXPECT_EQ(LoadHexText(ui, dir.path(), text), 0); // a folder is not a file
    EXPECT_EQ(LoadHexText(ui, "", text), 0);
    // A pipe with no writer is refused at once instead of blocking.
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    EXPECT_EQ(LoadHexText(ui, dir.file("pipe"), text), 0);
    ASSERT_EQ(ui.boxes().size(), 4u);
    for (const auto& box : ui.boxes()) {
        EXPECT_EQ(box.text, "Impossible de lire le fichier...");
        EXPECT_EQ(box.caption, "Erreur fichier");
        EXPECT_EQ(box.icon, Icon::Error);
    }
}

TEST(LoadHexText, WholeFileInOneBlockEndingAtTheFirstNul) {
    TempDir dir;
    ScriptedUi ui;
    HexText text;
    hextest::WriteFile(dir.file("empty.hex"), "");
    ASSERT_EQ(LoadHexText(ui, dir.file("empty.hex"), text), 1);
    EXPECT_EQ(text.size, 0u);
    EXPECT_TRUE(text.text().empty());

    const std::string bytes("abc\r\ndef\0ghi", 12);
    hextest::WriteFile(dir.file("nul.hex"), bytes);
    ASSERT_EQ(LoadHexText(ui, dir.file("nul.hex"), text), 1);
    EXPECT_EQ(text.size, 12u);
    EXPECT_EQ(text.text(), "abc\r\ndef");
    EXPECT_TRUE(ui.boxes().empty());
}

namespace {

// Runs `body` in a child process whose file size limit is `limit` bytes, so
// that a write crossing it comes back short; returns the child's exit code.
template <class Body>
int RunWithFileSizeLimit(rlim_t limit, Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

} // namespace

TEST(HexFileWriter, FramesTheFileWithTheFirstAndTheEndLine) {
    TempDir dir;
    ScriptedUi ui;
    HexFileWriter writer(ui);
    ASSERT_EQ(writer.create(dir.file("a.hex")), 1);
    const std::uint8_t data[3] = {0x01, 0x02, 0x03};
    ASSERT_EQ(writer.writeRecord(0x1234, 0, data, 3), 1);
    ASSERT_EQ(writer.finish(), 1);
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(hextest::ReadFile(dir.file("a.hex")),
              ":020000040000FA\r\n:03123400010203B1\r\n:00000001FF\r\n");
    EXPECT_TRUE(ui.boxes().empty());

    // Creating again replaces the file.
    HexFileWriter again(ui);
    ASSERT_EQ(again.create(dir.file("a.hex")), 1);
    ASSERT_EQ(again.finish(), 1);
    EXPECT_EQ(hextest::ReadFile(dir.file("a.hex")), ":020000040000FA\r\n:00000001FF\r\n");
}

TEST(HexFileWriter, CreateFailureShowsItsMessage) {
    TempDir dir;
    ScriptedUi ui;
    HexFileWriter writer(ui);
    EXPECT_EQ(writer.create(dir.file("no/such/folder.hex")), 0);
    EXPECT_EQ(writer.writeLine("x"), 0);
    EXPECT_EQ(writer.finish(), 0);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, "Impossible de créer le fichier...");
    EXPECT_EQ(ui.boxes()[0].caption, "Erreur");
}

TEST(HexFileWriter, FullDeviceGivesOneMessage) {
    ScriptedUi ui;
    HexFileWriter writer(ui);
    EXPECT_EQ(writer.create("/dev/full"), 0);
    EXPECT_EQ(writer.writeLine(":00000001FF"), 0);
    EXPECT_EQ(writer.finish(), 0);
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, "Impossible d'écrire dans le fichier...");
    EXPECT_EQ(ui.boxes()[0].caption, "Erreur");
    EXPECT_TRUE(writer.failed());
}

TEST(HexFileWriter, ShortWriteKeepsTheLinesBeforeIt) {
    TempDir dir;
    const std::string path = dir.file("short.hex");
    // The limit falls inside the third line: two whole lines stay, then the
    // part of the third line that fitted.
    const int code = RunWithFileSizeLimit(17 + 13 + 5, [&] {
        ScriptedUi ui;
        HexFileWriter writer(ui);
        if (writer.create(path) != 1)
            return 1;
        if (writer.writeLine(":0000000000") != 1)
            return 2;
        if (writer.writeLine(":0000000000") != 0)
            return 3;
        if (writer.finish() != 0)
            return 4;
        if (hextest::BoxTexts(ui) != std::vector<std::string>{"Impossible d'écrire dans le fichier..."})
            return 5;
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(hextest::ReadFile(path), ":020000040000FA\r\n:0000000000\r\n:0000");
}
