// talmo-cli as a user runs it: the built program against --simulate folders.
#include "cli_run.h"

#include "programmer/pic_image.h"
#include "tests/common/scripted_ui.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <regex>

namespace {

using namespace clitest;

const std::string kBoardVersion = "VELKOR V9.99 TEST";
const std::string kFactoryVersion = "VELKOR V2.10 14/03/2011";

std::vector<std::string> Sim(std::initializer_list<std::string> args) {
    std::vector<std::string> all{"--simulate", "board"};
    all.insert(all.end(), args);
    return all;
}

std::string StateValue(const Scratch& s, const std::string& key) {
    std::istringstream in(ReadFile(s / "board/state.txt"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return {};
}

// Spoils the checksum of the first data record, keeping it a hex digit.
std::string WithBadChecksum(std::string text) {
    const std::size_t end = text.find("\r\n", text.find(":10"));
    char& c = text[end - 1];
    c = c == '0' ? '1' : '0';
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// ---------------------------------------------------------------- firmware

TEST(CliFirmware, ProgramThenSaveGivesBackTheApplicationAndEeprom) {
    Scratch s;
    const Firmware f(5, "TALMO V0.42");
    WriteFile(s / "new.hex", f.hexText());

    const Outcome program = s.run(Sim({"firmware", "program", "new.hex"}));
    ASSERT_EQ(program.status, 0) << program.err;
    EXPECT_TRUE(Contains(program.out, "Version: TALMO V0.23\n")) << program.out; // before
    EXPECT_TRUE(Contains(program.out, "Programmation: OK\n"));
    EXPECT_TRUE(Contains(program.out, "Version en service: TALMO V0.42\n")) << program.out;
    EXPECT_EQ(StateValue(s, "mode"), "normal");

    const Outcome save = s.run(Sim({"firmware", "save", "back.hex"}));
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_TRUE(Contains(save.out, "Sauvegarde: OK\n"));
    EXPECT_TRUE(Contains(save.out, "Version en service: TALMO V0.42\n"));
    // The same application area and EEPROM, in the same layout.
    EXPECT_EQ(ReadFile(s / "back.hex"), f.hexText());
}

TEST(CliFirmware, TooOldAFirmwareSendsTheDeviceToItsBootLoaderAndIsReplacedFromThere) {
    Scratch s;
    WriteFile(s / "old.hex", Firmware(2, "TALMO V0.21").hexText());
    ASSERT_EQ(s.run(Sim({"firmware", "program", "old.hex"})).status, 0);

    const Outcome r = s.run(Sim({"status"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err,
                         "Version TALMO : La version du firmware d'TALMO est trop ancienne.\n"
                         "                Version minimum: 0.22\n"))
        << r.err;
    EXPECT_EQ(StateValue(s, "mode"), "bootloader");
    // Left in its boot loader: the normal-mode commands refuse, the firmware
    // is programmed from there.
    const Outcome refused = s.run(Sim({"pic", "identify"}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(Contains(refused.err, "mode boot loader")) << refused.err;
    WriteFile(s / "new.hex", Firmware(2, "TALMO V0.42").hexText());
    const Outcome program = s.run(Sim({"firmware", "program", "new.hex"}));
    EXPECT_EQ(program.status, 0) << program.err;
    EXPECT_TRUE(Contains(program.out, "Version en service: TALMO V0.42\n")) << program.out;
    const Outcome again = s.run(Sim({"status"}));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out.rfind("Version: TALMO V0.42\n", 0), 0u) << again.out;
}

// ---------------------------------------------------------------- status

TEST(CliStatus, OnceOrUntilInterrupted) {
    Scratch s;
    const Outcome once = s.run(Sim({"status"}));
    EXPECT_EQ(once.status, 0) << once.err;
    const std::vector<std::string> lines = Lines(once.out);
    ASSERT_EQ(lines.size(), 21u) << once.out;
    EXPECT_EQ(lines[0], "Version: TALMO V0.23");
    EXPECT_EQ(lines[1], "Flash fabricant: AMIC");
    EXPECT_EQ(lines[5], "Table: FRAISE3A");
    EXPECT_EQ(lines[7], "Axes: X ,Y ,Z ,--,--");
    EXPECT_EQ(lines[13], "Entrée PWM: AUTO, niveau 0 %, entrée 0 %");
    EXPECT_EQ(lines[20], "Clavier: aucune touche");

    // Polls every 50 ms, prints again only what changed (nothing here), and
    // ends cleanly on Ctrl+C.
    const Outcome watch = s.run(Sim({"status", "--watch"}), "", "Clavier: ", 300);
    EXPECT_EQ(watch.status, 0) << watch.err;
    EXPECT_EQ(watch.out, once.out);
    const std::size_t polls = Lines(ReadFile(s / "board/exchanges.log")).size() - 2 * 6;
    EXPECT_GE(polls, 1u);
}

// ---------------------------------------------------------------- PIC

TEST(CliPic, ProgramThenReadGivesBackTheFile) {
    const struct {
        const char* name;
        std::uint32_t words, eeprom;
    } chip = {"PIC16F877A", 0x2000, 0x100};
    Scratch s;
    const PicContents c = MakePicContents(chip.words, chip.eeprom, kBoardVersion, 0x3F72);
    WriteFile(s / "in.hex", PicHexText(c));

    const Outcome program = s.run(Sim({"pic", "program", "in.hex", "--yes"}));
    ASSERT_EQ(program.status, 0) << program.out << program.err;
    EXPECT_TRUE(Contains(program.out, "Lecture du fichier: OK\n"));
    EXPECT_TRUE(Contains(program.out, "Programmation+Vérification: OK\n")) << program.out;
    EXPECT_TRUE(Contains(program.err, "Programmer cette version ?"));

    const Outcome read = s.run(Sim({"pic", "read", "out.hex"}));
    ASSERT_EQ(read.status, 0) << read.out << read.err;
    EXPECT_TRUE(Contains(read.out, "PIC: " + std::string(chip.name) + " Rev04\n")) << read.out;
    EXPECT_TRUE(Contains(read.out, "Version: " + kBoardVersion + "\n")) << read.out;
    EXPECT_TRUE(Contains(read.out, "Sauvegarde: OK\n"));
    EXPECT_EQ(Lines(ReadFile(s / "out.hex")).size(), chip.words / 8 + chip.eeprom / 8 + 4);

    talmo::ScriptedUi ui;
    auto image = std::make_unique<talmo::PicImage>();
    ASSERT_EQ(talmo::LoadPicHex(ui, *image, s / "out.hex"), 1);
    for (std::uint32_t a = 0; a < chip.words; ++a)
        ASSERT_EQ(image->entries[a], c.program[a]) << "program word " << a;
    for (std::uint32_t e = 0; e < chip.eeprom; ++e)
        ASSERT_EQ(image->entries[0x2100 + e], c.eeprom[e]) << "EEPROM byte " << e;
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(image->entries[0x2000 + k], c.ids[k]);
    // Bit 7 of the configuration word is set before programming.
    EXPECT_EQ(image->entries[0x2007], 0x3FF2u);
}

TEST(CliPic, ConfirmationIsAskedOnStandardInput) {
    struct Case {
        const char* input;
        int status;
        const char* text;
        const char* versionAfter;
    };
    const Case cases[] = {
        {"", 1, "Programmation: annulée", "VELKOR V2.10 14/03/2011"},
        {"oui\n", 0, "Programmation+Vérification: OK", "VELKOR V9.99 TEST"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.input);
        Scratch s;
        WriteFile(s / "in.hex", PicHexText(MakePicContents(0x2000, 0x100, kBoardVersion, 0x3F72)));
        const Outcome r = s.run(Sim({"pic", "program", "in.hex"}), k.input);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_TRUE(Contains(r.out, std::string(k.text) + "\n")) << r.out;
        EXPECT_TRUE(Contains(r.err, "Programmation : Programmer cette version ?\n")) << r.err;
        EXPECT_TRUE(Contains(r.err, kBoardVersion)) << r.err;

        const Outcome id = s.run(Sim({"pic", "identify"}));
        EXPECT_EQ(id.status, 0);
        EXPECT_TRUE(Contains(id.out, "Version: " + std::string(k.versionAfter) + "\n")) << id.out;
    }
}

TEST(CliPic, ProtectedPicIsRefusedForReadingUntilReprogrammed) {
    Scratch s;
    const Outcome read =
        s.run({"--simulate", "board", "--sim-protected", "pic", "read", "out.hex"});
    EXPECT_EQ(read.status, 1);
    EXPECT_TRUE(Contains(read.out, "Version: PIC protégé contre la lecture\n")) << read.out;
    EXPECT_FALSE(fs::exists(s / "out.hex"));

    const Outcome identify = s.run(Sim({"pic", "identify"}));
    EXPECT_EQ(identify.status, 0);
    EXPECT_TRUE(Contains(identify.out, "PIC: PIC16F877A Rev04\n")) << identify.out;
    EXPECT_TRUE(Contains(identify.out, "Version: PIC protégé contre la lecture\n"));
}

TEST(CliFiles, FileErrorsAreStatus2AndTheDeviceStaysInNormalMode) {
    struct Case {
        std::vector<std::string> args;
        std::string file; // written as in.hex
        const char* err;
        const char* out;
        bool exchanges;
    };
    const Case cases[] = {
        {{"firmware", "program", "in.hex"},
         WithBadChecksum(Firmware(1, "TALMO V0.42").hexText()),
         "Erreur fichier : Checksum invalide...",
         "Lecture du fichier: Erreur",
         false},
        {{"pic", "program", "in.hex", "--yes"},
         Line(0, 0, {0x00, 0x40}), // word 0x4000
         "Erreur fichier : Valeur supérieur à 0x3FFF...",
         "",
         false},
        {{"firmware", "save", "no/such/folder/fw.hex"},
         "",
         "Erreur : Impossible de créer le fichier...",
         "Version en service: TALMO V0.23",
         true},
        {{"pic", "read", "no/such/folder/out.hex"},
         "",
         "Erreur : Impossible de créer le fichier...",
         "",
         true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.args));
        Scratch s;
        WriteFile(s / "in.hex", k.file);
        std::vector<std::string> args{"--simulate", "board"};
        args.insert(args.end(), k.args.begin(), k.args.end());
        const Outcome r = s.run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(Contains(r.err, k.err)) << r.err;
        EXPECT_TRUE(Contains(r.out, k.out)) << r.out;
        EXPECT_EQ(StateValue(s, "mode"), "normal");
        EXPECT_EQ(ReadFile(s / "board/exchanges.log").empty(), !k.exchanges);
    }
}

// ---------------------------------------------------------------- hex check

TEST(CliHexCheck, PrintsTheReadersMessageOrASummary) {
    const std::string goodPic = PicHexText(MakePicContents(0x1000, 0x80, kBoardVersion, 0x3F72));
    const std::string goodFirmware = Firmware(3, "TALMO V0.42").hexText();
    const std::string badChecksum = WithBadChecksum(goodPic);

    struct Case {
        const char* what;
        const char* kind;
        std::optional<std::string> text; // none: no file
        int status;
        std::string expected; // on stdout when 0, on stderr otherwise
    };
    const Case cases[] = {
        {"good PIC file", "--pic", goodPic, 0,
         "OK\nMots de programme: 4096 (de 0x0000 à 0x0FFF)\n"
         "Octets EEPROM: 128\nMots ID: 4\n"
         "Mot de configuration: 0x3F72\nVersion: " +
             kBoardVersion + "\n"},
        {"firmware", "--firmware", goodFirmware, 0, "Version: TALMO V0.42\n"},
        {"empty file", "--pic", "", 0, "OK\nMots de programme: 0\n"},
        {"checksum", "--pic", badChecksum, 2, "Erreur fichier : Checksum invalide...\n"},
        {"firmware read as PIC", "--pic", goodFirmware, 2,
         "Erreur fichier : Valeur supérieur à 0x3FFF...\n"},
        {"missing file", "--firmware", std::nullopt, 2,
         "Erreur fichier : Impossible de lire le fichier...\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Scratch s;
        if (k.text)
            WriteFile(s / "f.hex", *k.text);
        const Outcome r = s.run({"hex", "check", "f.hex", k.kind});
        EXPECT_EQ(r.status, k.status) << r.out << r.err;
        if (k.status == 0) {
            EXPECT_TRUE(Contains(r.out, k.expected)) << r.out;
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.err, k.expected);
            EXPECT_EQ(r.out, "");
        }
    }
}

// ---------------------------------------------------------------- exit statuses

TEST(CliExitStatus, UsageErrorsAreStatus3) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"status", "--bogus"},
        {"--simulate", "d", "--sim-pic", "PIC18F452", "status"},
    };
    for (const auto& args : cases) {
        Scratch s;
        const Outcome r = s.run(args);
        EXPECT_EQ(r.status, 3) << testing::PrintToString(args) << r.err;
        EXPECT_TRUE(Contains(r.err, "talmo-cli : ")) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliExitStatus, NoDeviceIsStatus4) {
    // This machine has no TALMO plugged in (the tests never need one).
    Scratch s;
    const Outcome r = s.run({"pic", "identify"});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_TRUE(Contains(r.err, "Aucun TALMO connecté.")) << r.err;
}

TEST(CliExitStatus, UnreadableSimulationStateIsAFileErrorAndIsKept) {
    struct Case {
        const char* file;
        std::function<std::string(std::string)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"state.txt",
         [](std::string t) { return t.replace(t.find("mode=normal"), 11, "mode=sideways"); },
         "state.txt : mode illisible"},
        {"firmware.hex", [](std::string t) { return WithBadChecksum(t); },
         "firmware.hex : Checksum invalide..."},
        {"pic.hex", [](std::string t) { return t.substr(0, t.size() / 2) + "x\n:0"; },
         "pic.hex : Ligne incompléte dans le fichier..."},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.message);
        Scratch s;
        ASSERT_EQ(s.run(Sim({"status"})).status, 0);
        const std::string spoilt = k.spoil(ReadFile(s / ("board/" + std::string(k.file))));
        WriteFile(s / ("board/" + std::string(k.file)), spoilt);
        const std::string log = ReadFile(s / "board/exchanges.log");

        const Outcome r = s.run(Sim({"status"}));
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(Contains(r.err, k.message)) << r.err;
        EXPECT_EQ(ReadFile(s / ("board/" + std::string(k.file))), spoilt);
        EXPECT_EQ(ReadFile(s / "board/exchanges.log"), log);
    }
}

// ---------------------------------------------------------------- the folder

TEST(CliSimulate, BoardOptionsOnlyMakeANewFolder) {
    Scratch s;
    ASSERT_EQ(s.run({"--simulate", "board", "--sim-pic", "PIC16F873", "pic", "identify"}).status,
              0);
    EXPECT_EQ(StateValue(s, "pic"), "PIC16F873");
    EXPECT_EQ(s.run({"--simulate", "board", "--sim-pic", "16f873", "pic", "identify"}).status, 0);
    const Outcome other =
        s.run({"--simulate", "board", "--sim-pic", "PIC16F877A", "pic", "identify"});
    EXPECT_EQ(other.status, 3);
    EXPECT_TRUE(Contains(other.err, "PIC16F873")) << other.err;
    EXPECT_EQ(s.run({"--simulate", "board", "--sim-protected", "pic", "identify"}).status, 3);
    EXPECT_EQ(StateValue(s, "pic"), "PIC16F873");
}

TEST(CliSimulate, EveryExchangeIsAppendedToTheLog) {
    Scratch s;
    ASSERT_EQ(s.run({"--simulate", "board", "--sim-protected", "pic", "identify"}).status, 0);
    const std::vector<std::string> first = Lines(ReadFile(s / "board/exchanges.log"));
    // 'B' and leaving programming mode when the page opens, then the 13
    // reports of the identification; a protected PIC is not read.
    ASSERT_EQ(first.size(), 15u);
    const std::regex line("[0-9]+\\.[0-9]{3} [0-9A-F]{130} ([0-9A-F]{130}|-)");
    for (const std::string& l : first)
        EXPECT_TRUE(std::regex_match(l, line)) << l;
    EXPECT_EQ(first[0].substr(first[0].find(' ') + 1, 4), "0042"); // 'B'

    WriteFile(s / "in.hex", PicHexText(MakePicContents(0x2000, 0x100, kBoardVersion, 0x3F72)));
    ASSERT_EQ(s.run(Sim({"pic", "program", "in.hex", "--yes"})).status, 0);
    const std::vector<std::string> all = Lines(ReadFile(s / "board/exchanges.log"));
    ASSERT_GT(all.size(), first.size() + 0x2000);
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(all[i], first[i]);
    // The virtual clock goes on from one command to the next.
    double previous = 0;
    for (const std::string& l : all) {
        const double t = std::stod(l.substr(0, l.find(' ')));
        ASSERT_GE(t, previous) << l;
        previous = t;
    }
    EXPECT_GT(previous, 0.0);
}

} // namespace
