// The boot-loader requests, the firmware save and programming, against a
// scripted boot loader whose every answer the tests control.
#include "updater/bootloader_commands.h"

#include "fake_boot_loader.h"
#include "hex_text.h"
#include "shell/scripted_ui.h"
#include "updater/firmware_image.h"

#include <gtest/gtest.h>

#include <memory>

using namespace talmo;
using namespace talmo::test;

namespace {

struct Bench {
    VirtualClock clock;
    ScriptedUi ui{&clock};
    FakeBootLoader device;
    DeviceLink link;
    Report report{};
    Bench() {
        device.clock = &clock;
        ConnectFake(link, device);
    }
};

// An image with a recognisable pattern in every transferred cell.
std::unique_ptr<FirmwareImage> PatternImage() {
    auto image = std::make_unique<FirmwareImage>();
    ResetFirmwareImage(*image);
    for (int a = 0; a < 0x8000; ++a)
        image->cells[a] = static_cast<std::uint8_t>((a * 7 + (a >> 8)) & 0xFF);
    return image;
}

void FillDevicePattern(FakeBootLoader& device) {
    for (int a = 0; a < 0x8000; ++a)
        device.program[a] = static_cast<std::uint8_t>((a * 13 + 5 + (a >> 9)) & 0xFF);
    for (int e = 0; e < 0x100; ++e)
        device.eeprom[e] = static_cast<std::uint8_t>(0xFF - e);
}

} // namespace

TEST(BootLoaderRequests, LayoutsLeaveTheRestOfTheBufferAlone) {
    Report r;
    r.fill(0xA5);
    BuildBootReadRequest(r, BootMemory::Eeprom, 0x00E0);
    EXPECT_EQ((std::vector<int>{r[0], r[1], r[2], r[3], r[4], r[5]}), (std::vector<int>{0, 'R', 0, 0x00, 0xE0, 0xA5}));
    BuildBootWriteRequest(r, 2, 0x7FE0);
    EXPECT_EQ((std::vector<int>{r[0], r[1], r[2], r[3], r[4], r[5]}), (std::vector<int>{0, 'W', 2, 0x7F, 0xE0, 0xA5}));
    BuildBootLeaveRequest(r);
    EXPECT_EQ((std::vector<int>{r[0], r[1], r[2], r[3], r[4], r[5]}), (std::vector<int>{0, 'Z', 'U', 0xAA, 0x00, 0xA5}));
    BuildBootVersionRequest(r);
    EXPECT_EQ((std::vector<int>{r[0], r[1], r[2]}), (std::vector<int>{0, 'V', 'U'}));
}

TEST(BootLoaderRequests, VersionAnswers) {
    struct Case {
        const char* name;
        std::string version;    // the device's text ("" with silent)
        bool silent;
        int answerLength;
        std::optional<std::string> expected;
    };
    const std::string longText(70, 'x'); // no zero byte within the report
    const Case cases[] = {
        {"plain", "TALMO BL V1.07", false, 65, std::string("TALMO BL V1.07")},
        {"empty", "", false, 65, std::string("")},
        {"to the end of the report", longText, false, 65, std::string(63, 'x')},
        {"to the end of a short report", longText, false, 20, std::string(18, 'x')},
        {"latin-1 byte", "V\xE9", false, 65, std::string("V\xC3\xA9")},
        {"silent", "", true, 65, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.device.answerLength = c.answerLength;
        if (c.version.size() > 62) {
            // Fill the whole answer without a zero byte.
            b.device.fault = [](const Report&, int, bool*) {
                Report a;
                a.fill('x');
                a[0] = 0;
                a[1] = 'V';
                return std::optional<Report>(a);
            };
        } else {
            b.device.version = c.version;
        }
        if (c.silent)
            b.device.fault = [](const Report&, int, bool* silence) { *silence = true; return std::optional<Report>(); };
        EXPECT_EQ(QueryBootLoaderVersion(b.link, b.report), c.expected);
        ASSERT_EQ(b.device.requests.size(), 1u);
        EXPECT_EQ(b.device.requests[0][1], 'V');
    }
}

TEST(BootLoaderRequests, DeviceFirmwareVersionIsReadAt0x1300) {
    enum Fault { None, Silent, WrongEcho };
    struct Case {
        const char* name;
        std::string bytesAt130C; // written at 0x130C
        Fault fault;
        std::string expected;
    };
    const Case cases[] = {
        {"version", std::string("TALMO V2.10\0", 12), None, "TALMO V2.10"},
        {"runs past the 12 bytes up to the zero byte", std::string("TALMO V2.10 beta\0", 17), None, "TALMO V2.10 beta"},
        {"no zero byte before 0x1320", std::string("TALMO V2.10 abcdefghijklmnop"), None, "TALMO V2.10 abcdefgh"},
        {"not a TALMO text", std::string("talmo V2.10\0", 12), None, "Inconnue"},
        {"blank memory", "", None, "Inconnue"},
        {"silent boot loader", std::string("TALMO V2.10\0", 12), Silent, "Inconnue"},
        {"answer of another command", std::string("TALMO V2.10\0", 12), WrongEcho, "Inconnue"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        std::copy(c.bytesAt130C.begin(), c.bytesAt130C.end(), b.device.program.begin() + 0x130C);
        const Fault fault = c.fault;
        b.device.fault = [&b, fault](const Report& request, int, bool* silence) -> std::optional<Report> {
            if (fault == Silent)
                *silence = true;
            if (fault != WrongEcho)
                return std::nullopt;
            Report a = *b.device.answer(request);
            a[1] = 'V';
            return a;
        };
        // What the buffer held before: "TALMO" where the version would be
        // must not be taken for an answer, and bytes past the answer's
        // memory must not be taken for text.
        b.report.fill('x');
        std::memcpy(&b.report[17], "TALMO stale", 11);
        EXPECT_EQ(QueryDeviceFirmwareVersion(b.link, b.report), c.expected);
        ASSERT_EQ(b.device.requests.size(), 1u);
        const Report& r = b.device.requests[0];
        EXPECT_EQ((std::vector<int>{r[1], r[2], r[3], r[4]}), (std::vector<int>{'R', 1, 0x13, 0x00}));
    }
}

TEST(BootLoaderRequests, LeavingSendsZWithoutReading) {
    Bench b;
    b.device.pending = Report{}; // an answer that must stay unread
    LeaveBootLoader(b.link, b.report);
    ASSERT_EQ(b.device.requests.size(), 1u);
    const Report& r = b.device.requests[0];
    EXPECT_EQ((std::vector<int>{r[0], r[1], r[2], r[3], r[4]}), (std::vector<int>{0, 'Z', 'U', 0xAA, 0x00}));
    EXPECT_EQ(b.clock.nowUs(), 0);
}

TEST(ImageVersion, TwelveBytesAt0x130C) {
    struct Case {
        const char* name;
        std::string bytes; // written at 0x130C (the rest of the image blank)
        std::string expected;
    };
    const Case cases[] = {
        {"zero-terminated", std::string("TALMO V1.5\0", 11), "TALMO V1.5"},
        {"all twelve bytes, no zero", "TALMO V1.234XYZ", "TALMO V1.234"},
        {"blank after the text", "TALMO", "TALMO\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF\xC3\xBF"},
        {"other text", "VELKOR V1.0", "Inconnue"},
        {"TALM only", std::string("TALM\0", 5), "Inconnue"},
        {"blank image", "", "Inconnue"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = std::make_unique<FirmwareImage>();
        ResetFirmwareImage(*image);
        std::copy(c.bytes.begin(), c.bytes.end(), image->cells.begin() + 0x130C);
        EXPECT_EQ(ImageVersionText(*image), c.expected);
    }
}

TEST(ProgramFirmware, ProgressTexts) {
    Bench b;
    auto image = PatternImage();
    ASSERT_TRUE(ProgramFirmware(b.link, b.ui, *image));
    std::vector<std::string> expected;
    for (int a = 0x1800; a < 0x8000; a += 0x800) {
        char text[40];
        std::snprintf(text, sizeof text, "Ecriture de l'adresse: 0x%04X/0x8000", a);
        expected.push_back(text);
    }
    for (int e = 0; e < 0x100; e += 0x20) {
        char text[40];
        std::snprintf(text, sizeof text, "Ecriture de l'adresse: 0x%02X/0x100", e);
        expected.push_back(text);
    }
    EXPECT_EQ(b.ui.statusTexts(MessageField), expected);
    EXPECT_EQ(expected.front(), "Ecriture de l'adresse: 0x1800/0x8000");
    EXPECT_EQ(expected[13], "Ecriture de l'adresse: 0x00/0x100");
    EXPECT_TRUE(b.ui.boxes().empty());
}

TEST(ProgramFirmware, StopsAtTheFirstFault) {
    enum Fault { Refuse, Silence, WrongEcho, ShortAnswer };
    struct Case {
        const char* name;
        int block; // request index that fails
        Fault fault;
        std::string text;
    };
    const Case cases[] = {
        {"third block refused", 2, Refuse, "Erreur programmation: 0x135F"},
        {"first block refused", 0, Refuse, "Erreur programmation: 0x131F"},
        {"last program block refused", 871, Refuse, "Erreur programmation: 0x7FFF"},
        {"first EEPROM block refused", 872, Refuse, "Erreur programmation EEPROM: 0x1F"},
        {"last EEPROM block refused", 879, Refuse, "Erreur programmation EEPROM: 0xFF"},
        {"silent in the middle", 400, Silence, "TALMO communication: Erreur"},
        {"silent on EEPROM", 875, Silence, "TALMO communication: Erreur"},
        {"answer of another command", 10, WrongEcho, "TALMO communication: Erreur"},
        {"answer without its status byte", 5, ShortAnswer, "TALMO communication: Erreur"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        auto image = PatternImage();
        const int failing = c.block;
        const Fault fault = c.fault;
        b.device.fault = [&b, failing, fault](const Report& request, int n, bool* silence) -> std::optional<Report> {
            if (n != failing)
                return std::nullopt;
            Report a = *b.device.answer(request);
            switch (fault) {
            case Refuse: a[2] = 0; return a;
            case Silence: *silence = true; return std::nullopt;
            case WrongEcho: a[1] = 'R'; return a;
            case ShortAnswer: b.device.answerLength = 2; return a;
            }
            return std::nullopt;
        };
        const std::int64_t before = b.clock.nowUs();
        EXPECT_FALSE(ProgramFirmware(b.link, b.ui, *image));
        EXPECT_EQ(b.ui.status(MessageField), c.text);
        EXPECT_EQ(static_cast<int>(b.device.requests.size()), failing + 1) << "nothing more is sent";
        EXPECT_TRUE(b.device.sent('Z').empty());
        EXPECT_TRUE(b.ui.boxes().empty());
        if (fault == Silence) {
            EXPECT_LE(b.clock.nowUs() - before, 500'000);
        }
    }
}

TEST(SaveFirmwareToHex, BlankDeviceLinesCarryTheKnownChecksums) {
    Bench b;
    TempDir dir;
    const auto path = dir / "blank.hex";
    ASSERT_TRUE(SaveFirmwareToHex(b.link, b.ui, path.string()));
    const auto lines = SplitCrLf(ReadWholeFile(path));
    ASSERT_EQ(lines.size(), 1763u);
    EXPECT_EQ(lines[1], ":10130000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFED");
    EXPECT_EQ(lines[1744], ":107FF000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF91");
    EXPECT_EQ(lines[1746], ":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00");
}

TEST(SaveFirmwareToHex, ProgressTexts) {
    Bench b;
    TempDir dir;
    ASSERT_TRUE(SaveFirmwareToHex(b.link, b.ui, (dir / "p.hex").string()));
    const auto texts = b.ui.statusTexts(MessageField);
    ASSERT_EQ(texts.size(), 110u);
    for (int i = 0; i < 109; ++i) {
        char expected[40];
        std::snprintf(expected, sizeof expected, "Lecture de l'adresse: 0x%04X/0x8000", 0x1300 + 0x100 * i);
        EXPECT_EQ(texts[i], expected);
    }
    EXPECT_EQ(texts[108], "Lecture de l'adresse: 0x7F00/0x8000");
    EXPECT_EQ(texts[109], "Lecture de l'adresse: 0x00/0x100");
}

TEST(SaveFirmwareToHex, AMissingAnswerWritesNothingItDidNotDeliver) {
    enum Fault { Silence, WrongEcho, ShortAnswer };
    struct Case {
        const char* name;
        int block;
        Fault fault;
    };
    const Case cases[] = {
        {"first block silent", 0, Silence},
        {"silent in program memory", 100, Silence},
        {"last program block silent", 871, Silence},
        {"first EEPROM block silent", 872, Silence},
        {"last EEPROM block silent", 879, Silence},
        {"answer of another command", 300, WrongEcho},
        {"answer cut before its data end", 50, ShortAnswer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        FillDevicePattern(b.device);
        const int failing = c.block;
        const Fault fault = c.fault;
        b.device.fault = [&b, failing, fault](const Report& request, int n, bool* silence) -> std::optional<Report> {
            if (n != failing)
                return std::nullopt;
            Report a = *b.device.answer(request);
            switch (fault) {
            case Silence: *silence = true; return std::nullopt;
            case WrongEcho: a[1] = 'W'; return a;
            case ShortAnswer: b.device.answerLength = 36; return a;
            }
            return std::nullopt;
        };
        TempDir dir;
        const auto path = dir / "partial.hex";
        EXPECT_FALSE(SaveFirmwareToHex(b.link, b.ui, path.string()));
        EXPECT_EQ(b.ui.status(MessageField), "TALMO communication: Erreur");
        EXPECT_EQ(static_cast<int>(b.device.requests.size()), failing + 1);

        // The file holds exactly the lines of the blocks answered before.
        const std::string full = FirmwareFileText(b.device.program.data(), b.device.eeprom.data());
        const auto fullLines = SplitCrLf(full);
        const int answeredLines = 2 * failing + (failing >= 872 ? 1 : 0); // the EEPROM address line
        std::string expected;
        for (int i = 0; i < 1 + answeredLines; ++i)
            expected += fullLines[i] + "\r\n";
        EXPECT_EQ(ReadWholeFile(path), expected);
    }
}

TEST(SaveFirmwareToHex, UncreatableFileAsksTheDeviceNothing) {
    Bench b;
    TempDir dir;
    EXPECT_FALSE(SaveFirmwareToHex(b.link, b.ui, (dir / "no-such-folder" / "x.hex").string()));
    ASSERT_EQ(b.ui.boxes().size(), 1u);
    EXPECT_EQ(b.ui.boxes()[0].text, "Impossible de créer le fichier...");
    EXPECT_EQ(b.ui.boxes()[0].caption, "Erreur");
    EXPECT_TRUE(b.device.requests.empty());
}

TEST(SaveFirmwareToHex, ReadsBackIntoTheSameImage) {
    Bench b;
    FillDevicePattern(b.device);
    TempDir dir;
    const auto path = dir / "round.hex";
    ASSERT_TRUE(SaveFirmwareToHex(b.link, b.ui, path.string()));
    auto image = std::make_unique<FirmwareImage>();
    ASSERT_EQ(LoadFirmwareHex(b.ui, *image, path.string()), 1);
    for (int a = 0x1300; a < 0x8000; ++a)
        ASSERT_EQ(image->cells[a], b.device.program[a]);
    for (int e = 0; e < 0x100; ++e)
        ASSERT_EQ(image->cells[e], b.device.eeprom[e]);

    // And programming that image puts the same bytes into a blank device.
    Bench other;
    ASSERT_TRUE(ProgramFirmware(other.link, other.ui, *image));
    EXPECT_TRUE(std::equal(other.device.program.begin() + 0x1300, other.device.program.end(),
                           b.device.program.begin() + 0x1300));
    EXPECT_EQ(other.device.eeprom, b.device.eeprom);
}
