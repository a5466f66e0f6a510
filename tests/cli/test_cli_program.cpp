// talmo-cli as a user runs it: the built program against --simulate folders.
#include "cli_run.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

using namespace clitest;

const std::string kBoardVersion = "VELKOR V9.99 TEST";

// The words of a command line, on the virtual board in ./board.
std::vector<std::string> Sim(const std::string& line) { return Args("--simulate board " + line); }

// A whole 16F877A file with the board's version text.
std::string BoardPic() { return PicHexText(PicContents(kBoardVersion)); }

// The file up to the line end past its middle: no end record.
std::string CutOff(const std::string& text) {
    return text.substr(0, text.find("\r\n", text.size() / 2) + 2);
}

std::string StateValue(const Scratch& s, const std::string& key) {
    for (const std::string& line : Lines(ReadFile(s / "board/state.txt")))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return {};
}

std::size_t Exchanges(const Scratch& s) {
    return Lines(ReadFile(s / "board/exchanges.log")).size();
}

// Spoils the checksum of the first data record, keeping it a hex digit.
std::string WithBadChecksum(std::string text) {
    const std::size_t end = text.find("\r\n", text.find(":10"));
    char& c = text[end - 1];
    c = c == '0' ? '1' : '0';
    return text;
}

// ---------------------------------------------------------------- status

TEST(CliStatus, NeverChangesTheDeviceOnAnOldFirmwareNorInItsBootLoader) {
    Scratch s;
    WriteFile(s / "old.hex", Firmware(2, "TALMO V0.21").hexText());
    ASSERT_EQ(s.run(Sim("firmware program old.hex --yes")).status, 0);
    const std::size_t before = Exchanges(s);

    EXPECT_EQ(s.run(Sim("status")).out, "Version: TALMO V0.21\n");
    EXPECT_TRUE(Contains(s.run(Sim("status --json")).out, "\"too_old\": true"));
    // No jump was sent: still in normal mode, no 'Z' request in the log.
    EXPECT_EQ(StateValue(s, "mode"), "normal");
    const std::vector<std::string> lines = Lines(ReadFile(s / "board/exchanges.log"));
    for (std::size_t i = before; i < lines.size(); ++i)
        EXPECT_NE(lines[i].substr(lines[i].find(' ') + 1, 4), "005A") << lines[i];

    // In its boot loader: reported with the versions; `firmware leave` ends it.
    std::string state = ReadFile(s / "board/state.txt");
    WriteFile(s / "board/state.txt",
              state.replace(state.find("mode=normal"), 11, "mode=bootloader"));
    const Outcome boot = s.run(Sim("status"));
    EXPECT_EQ(boot.status, 0) << boot.err;
    EXPECT_EQ(boot.out,
              "Mode : boot loader\nBoot Loader Version: TALMO BOOT V1.02\nVersion: TALMO V0.21\n");
    const Outcome leave = s.run(Sim("firmware leave"));
    EXPECT_EQ(leave.status, 0) << leave.err;
    EXPECT_TRUE(Contains(leave.out, "Version en service : TALMO V0.21\n")) << leave.out;
    EXPECT_EQ(StateValue(s, "mode"), "normal");
}

TEST(CliStatus, OnceOrUntilInterrupted) {
    Scratch s;
    const Outcome once = s.run(Sim("status"));
    EXPECT_EQ(once.status, 0) << once.err;
    const std::vector<std::string> lines = Lines(once.out);
    ASSERT_EQ(lines.size(), 21u) << once.out;
    EXPECT_EQ(lines[0], "Version: TALMO V0.23");
    EXPECT_EQ(lines[20], "Clavier: aucune touche");

    // Polls every 50 ms, prints again only what changed (nothing here), and
    // ends cleanly on Ctrl+C.
    const Outcome watch = s.run(Sim("status --watch"), "", "Clavier: ", 300);
    EXPECT_EQ(watch.status, 0) << watch.err;
    EXPECT_EQ(watch.out, once.out);
    EXPECT_GT(Exchanges(s), 2u * 6); // two start sequences, then polls
}

// ---------------------------------------------------------------- PIC

// Programming asks on standard input, showing the file's version (and the
// running one for the firmware); only a yes goes on. Refused, the firmware's
// running version alone was asked.
TEST(CliPrograms, ConfirmationIsAskedOnStandardInput) {
    const std::string pic = "pic program in.hex", firmware = "firmware program fw.hex";
    const struct {
        std::string command;
        const char* input;
        int status;
        std::string out, version; // version: what identify shows after, or the exchanges
    } cases[] = {
        {pic, "n\n", 8, "Programmation: annulée\n", "VELKOR V2.10 14/03/2011"},
        {pic, "", 8, "Programmation: annulée\n", "VELKOR V2.10 14/03/2011"},
        {pic, "oui\n", 0, "Programmation+Vérification: OK\n", kBoardVersion},
        {firmware, "n\n", 8, "Version du fichier : TALMO V0.42\nVersion en service : TALMO V0.23\n",
         ""},
        {firmware, "o\n", 0, "Programmation: OK\n", ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.command + " " + k.input);
        Scratch s;
        WriteFile(s / "in.hex", BoardPic());
        WriteFile(s / "fw.hex", Firmware(1, "TALMO V0.42").hexText());
        const Outcome r = s.run(Sim(k.command), k.input);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_TRUE(Contains(r.out, k.out)) << r.out;
        EXPECT_TRUE(Contains(r.err, "Programmation : Programmer cette version ?\n")) << r.err;
        EXPECT_TRUE(Contains(r.err, k.command == pic ? kBoardVersion : "TALMO V0.42")) << r.err;
        EXPECT_EQ(StateValue(s, "mode"), "normal");
        const std::size_t exchanged = Exchanges(s);
        const std::string after = s.run(Sim("pic identify")).out;
        EXPECT_TRUE(k.command != pic || Contains(after, "Version: " + k.version + "\n")) << after;
        EXPECT_TRUE(k.command == pic || (exchanged == 1) == (k.status == 8));
    }
}

// A file or a destination that cannot be right is refused before the device
// is touched (the log stays empty), or, where the PIC must be known first,
// after the identification alone (the page's opening 'B' and leave, then 13
// exchanges).
TEST(CliFiles, FileErrorsAreStatus2AndTheDeviceStaysInNormalMode) {
    const std::string fw = Firmware(1, "TALMO V0.42").hexText(), pic = BoardPic();
    const std::string incomplete = "Fichier incomplet, sans enregistrement de fin...",
                      noPic = "Aucune donnée pour le PIC dans le fichier...",
                      create = "Erreur : Impossible de créer le fichier...",
                      read = "Lecture du fichier: Erreur", save = "Sauvegarde: Erreur";
    const struct {
        const char* args;
        std::string file, err, out;
        std::size_t exchanges;
    } cases[] = {
        {"firmware program in.hex", WithBadChecksum(fw), "Checksum invalide...", read, 0},
        {"firmware program in.hex --yes --force", "", "Aucune donnée de firmware", read, 0},
        {"firmware program in.hex --yes", pic, "Données hors de la zone du firmware...", read, 0},
        {"firmware program in.hex --yes", Firmware(1, "OTHER V1").hexText(),
         "Version du firmware introuvable dans le fichier...", read, 0},
        {"pic program in.hex --yes --force", "", noPic, "", 0},
        {"pic program in.hex --yes", CutOff(pic), incomplete, "", 0},
        {"--sim-pic PIC16F873 pic program in.hex --yes", pic,
         "Données au-delà de la mémoire programme du PIC...", read, 15},
        {"firmware save no/such/folder/fw.hex", "", create, save, 0},
        {"firmware save fifo", "", create, save, 0},
        {"pic read no/such/folder/out.hex", "", create, save, 0},
        {"pic read fifo", "", create, "", 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.args);
        Scratch s;
        WriteFile(s / "in.hex", k.file);
        ASSERT_EQ(::mkfifo((s / "fifo").c_str(), 0600), 0); // no reader: refused at once
        const Outcome r = s.run(Sim(k.args));
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(Contains(r.err, k.err)) << r.err;
        EXPECT_TRUE(Contains(r.out, k.out)) << r.out;
        EXPECT_EQ(StateValue(s, "mode"), "normal");
        EXPECT_EQ(Exchanges(s), k.exchanges);
    }
}

// ---------------------------------------------------------------- hex check

// The reader's messages themselves are the readers' tests'; here the
// command's summary, its status and both readers' messages at once.
TEST(CliHexCheck, PrintsTheReadersMessageOrASummary) {
    const std::string pic = BoardPic();
    const struct {
        const char* kind;
        std::string text;
        int status;
        std::string expected; // on stdout when 0, on stderr otherwise
    } cases[] = {
        {"--pic", pic, 0,
         "OK\nMots de programme : 8192 (de 0x0000 à 0x1FFF)\nOctets EEPROM : 256\nMots ID : 4\n"
         "Mot de configuration : 0x3F72\nVersion: " +
             kBoardVersion + "\n"},
        {"--firmware", Firmware(3, "TALMO V0.42").hexText(), 0, "Version: TALMO V0.42\n"},
        {"--firmware", pic, 2,
         "Erreur fichier : Données hors de la zone du firmware...\n"
         "Erreur fichier : Version du firmware introuvable dans le fichier...\n"},
    };
    for (const auto& k : cases) {
        Scratch s;
        WriteFile(s / "f.hex", k.text);
        const Outcome r = s.run({"hex", "check", "f.hex", k.kind});
        EXPECT_EQ(r.status, k.status) << r.out << r.err;
        if (k.status == 0) {
            EXPECT_TRUE(r.out.rfind("OK\n", 0) == 0 && Contains(r.out, k.expected)) << r.out;
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.err, k.expected);
            EXPECT_NE(r.out.rfind("OK", 0), 0u) << r.out;
        }
    }
}

// ---------------------------------------------------------------- signals

// The last 'Y' request of the log: "005901" when it takes the PIC out of
// programming mode.
std::string LastTargetRequest(const Scratch& s) {
    const std::vector<std::string> lines = Lines(ReadFile(s / "board/exchanges.log"));
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->compare(it->find(' ') + 1, 4, "0059") == 0)
            return it->substr(it->find(' ') + 1, 6);
    return {};
}

TEST(CliSignals, TheTargetIsLeftAndARunAgainSucceeds) {
    const std::string pic = "pic program in.hex --yes", firmware = "firmware program fw.hex --yes";
    const char *picMidway = "Programmation PROG: 0x", *fwMidway = "Ecriture de l'adresse: 0x";
    const struct {
        int signal, times;
        std::string args;
        const char* midway;
        int status;
        const char* said; // on standard error
    } cases[] = {
        // A closed terminal or a reader gone: the operation goes to its end.
        {SIGHUP, 1, pic, picMidway, 0, "Interruption demandée"},
        {SIGPIPE, 1, pic, picMidway, 0, ""},
        {SIGHUP, 1, firmware, fwMidway, 0, "Interruption demandée"},
        {SIGPIPE, 1, firmware, fwMidway, 0, ""},
        // Twice: stopped at the next exchange, the PIC still left.
        {SIGTERM, 2, pic, picMidway, 8, "le PIC est sorti du mode programmation"},
        {SIGTERM, 2, firmware, fwMidway, 8, "reste dans son boot loader"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.args + " signal " + std::to_string(k.signal) + " x" +
                     std::to_string(k.times));
        Scratch s;
        WriteFile(s / "in.hex", BoardPic());
        WriteFile(s / "fw.hex", Firmware(7, "TALMO V0.42").hexText());
        if (k.args == firmware) { // written in a blink on the emulator: at a device's pace
            ASSERT_EQ(s.run(Sim("status")).status, 0);
            WriteFile(s / "board/state.txt", ReadFile(s / "board/state.txt") + "pace_us=300\n");
        }
        const Outcome r = s.run(Sim(k.args), "", k.midway, 0, k.signal, k.times);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_TRUE(Contains(r.err, k.said)) << r.err;
        if (k.args == pic) {
            EXPECT_EQ(LastTargetRequest(s), "005901");
        }
        EXPECT_EQ(s.run(Sim(k.args)).status, 0);
        EXPECT_EQ(StateValue(s, "mode"), "normal");
    }
}

// ---------------------------------------------------------------- verification

TEST(CliVerify, TheFirstDifferenceIsNamedWithTheCount) {
    Scratch s;
    const PicContents contents(kBoardVersion);
    WriteFile(s / "in.hex", PicHexText(contents));
    const Outcome program = s.run(Sim("pic program in.hex --yes"));
    ASSERT_EQ(program.status, 0) << program.err;
    EXPECT_TRUE(Contains(program.out, "Lecture du fichier: OK\n"));
    EXPECT_TRUE(Contains(program.out, "Programmation+Vérification: OK\n")) << program.out;
    EXPECT_TRUE(Contains(s.run(Sim("pic verify in.hex")).out, "Vérification : OK\n"));
    // What pic read saves is what the PIC holds.
    const Outcome read = s.run(Sim("pic read out.hex"));
    EXPECT_TRUE(Contains(read.out, "PIC: PIC16F877A Rev04\nVersion: " + kBoardVersion + "\n"))
        << read.out;
    EXPECT_TRUE(Contains(read.out, "Sauvegarde: OK\n"));
    EXPECT_EQ(s.run(Sim("pic verify out.hex")).status, 0);

    // A worn cell: bit 0 of word 0x0123 reads the other way.
    const unsigned wrong = (contents.program[0x123] & 1) ^ 1;
    WriteFile(s / "board/state.txt",
              ReadFile(s / "board/state.txt") + "stuck=0123:0:" + std::to_string(wrong) + "\n");
    const Outcome stuck = s.run(Sim("pic verify in.hex"));
    EXPECT_EQ(stuck.status, 5);
    EXPECT_TRUE(Contains(stuck.err, "différence à 0x0123")) << stuck.err;
    EXPECT_TRUE(Contains(stuck.err, ", 1 mot différent\n")) << stuck.err;

    // Erased, the PIC is blank (but for the worn bit when it reads 0).
    ASSERT_EQ(s.run(Sim("pic erase --yes")).status, 0);
    EXPECT_EQ(s.run(Sim("pic blank-check")).status, wrong ? 0 : 5);

    // The firmware: saved back as it was written (the same application area
    // and EEPROM, in the same layout); one byte of the file changed is found
    // at its address.
    Firmware f(4, "TALMO V0.42");
    WriteFile(s / "fw.hex", f.hexText());
    const Outcome fw = s.run(Sim("firmware program fw.hex --yes"));
    ASSERT_EQ(fw.status, 0) << fw.err;
    EXPECT_TRUE(Contains(fw.out, "Version: TALMO V0.23\n") && // before
                Contains(fw.out, "Version en service : TALMO V0.42\n"))
        << fw.out;
    ASSERT_EQ(s.run(Sim("firmware save back.hex")).status, 0);
    EXPECT_EQ(ReadFile(s / "back.hex"), f.hexText());
    f.program[0x2000] ^= 0x10;
    WriteFile(s / "other.hex", f.hexText());
    const Outcome firmware = s.run(Sim("firmware verify other.hex"));
    EXPECT_EQ(firmware.status, 5);
    EXPECT_TRUE(Contains(firmware.err, "différence à 0x2000")) << firmware.err;
    EXPECT_TRUE(Contains(firmware.err, ", 1 octet différent\n")) << firmware.err;
    EXPECT_EQ(StateValue(s, "mode"), "normal");
}

// ---------------------------------------------------------------- scripts

TEST(CliScripts, LogDeviceChoiceAndJson) {
    Scratch s;
    ASSERT_EQ(s.run(Sim("status")).status, 0);
    const std::string before = ReadFile(s / "board/exchanges.log");
    // --log writes what the emulator saw, line for line.
    const Outcome identify = s.run(Sim("pic identify --json --log mine.log -v"));
    EXPECT_EQ(identify.status, 0) << identify.err;
    EXPECT_EQ(before + ReadFile(s / "mine.log"), ReadFile(s / "board/exchanges.log"));
    EXPECT_EQ(identify.out.rfind("{\"pic\": \"PIC16F877A Rev04\", \"version\": \"VELKOR V2.10", 0),
              0u)
        << identify.out;
    EXPECT_EQ(Lines(identify.out).size(), 1u);

    // -v names the device used; --device picks it, or none.
    const std::string used = "TALMO employé : ";
    const std::size_t at = identify.err.find(used);
    ASSERT_NE(at, std::string::npos) << identify.err;
    const std::string path =
        identify.err.substr(at + used.size(), identify.err.find('\n', at) - at - used.size());
    EXPECT_EQ(s.run(Sim("status --device " + path)).status, 0);
}

// ---------------------------------------------------------------- exit statuses

// Each situation with its exit status, end to end: the board in ./board as a
// first `status` left it, then `state` added to its state.txt (later lines
// win) and, when given, its firmware replaced by `firmware`.
TEST(CliExitStatus, EachSituationHasItsStatus) {
    const std::string old = Firmware(2, "TALMO V0.21").hexText();
    const struct {
        const char* args;
        const char* state;
        std::string firmware;
        const char* input;
        int status;
        const char* said; // on standard output or standard error
    } cases[] = {
        {"--simulate board pic identify", "", "", "", 0, "PIC: PIC16F877A Rev04\n"},
        {"--help", "", "", "", 0, "4  aucun TALMO connecté"},
        {"--simulate board pic identify", "pic=none\n", "", "", 1,
         "Erreur : Erreur lors de la lecture du type de PIC."},
        {"--simulate board pic identify", "mode=bootloader\n", "", "", 1, "mode boot loader"},
        {"--simulate board status", "", old, "", 1, "Version minimum: 0.22\n"},
        {"--simulate board pic program in.hex --yes", "stuck=0000:0:0\n", "", "", 1,
         "\nErreur lors de la programmation du PIC.\n"},
        {"--simulate new --sim-pic PIC16F873 pic program in.hex --yes --force", "", "", "", 0,
         "Programmation+Vérification: OK\n"},
        {"--simulate new --sim-protected pic identify", "", "", "", 0,
         "PIC: PIC16F877A Rev04\nVersion: PIC protégé contre la lecture\n"},
        {"--simulate new --sim-protected pic read out.hex", "", "", "", 1,
         "PIC protégé contre la lecture : rien n'est enregistré."},
        {"--simulate board pic program board/state.txt --yes", "", "", "", 2,
         "Erreur fichier : Aucune donnée pour le PIC dans le fichier..."},
        {"--simulate board pic read no/such/folder/out.hex", "", "", "", 2,
         "Erreur : Impossible de créer le fichier..."},
        {"--simulate board status --bogus", "", "", "", 3, "option inconnue « --bogus »"},
        {"pic identify", "", "", "", 4, "Aucun TALMO connecté."},
        {"--simulate board status --device /dev/other", "", "", "", 4, "Aucun TALMO à /dev/other."},
        {"--simulate board pic blank-check", "", "", "", 5, "PIC non vierge : 0x0000 vaut 0x"},
        {"--simulate board status", "open_error=denied\n", "", "", 6, "accès"},
        {"--simulate board status", "open_error=busy\n", "", "", 7,
         "TALMO utilisé par un autre programme ("},
        {"--simulate board pic erase", "", "", "n\n", 8, "Effacement : annulé\n"},
        {"--simulate board firmware program fw.hex", "", "", "non\n", 8,
         "Programmation: annulée\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.args) + " " + k.state);
        Scratch s;
        ASSERT_EQ(s.run(Sim("status")).status, 0);
        WriteFile(s / "board/state.txt", ReadFile(s / "board/state.txt") + k.state);
        if (!k.firmware.empty())
            WriteFile(s / "board/firmware.hex", k.firmware);
        WriteFile(s / "fw.hex", Firmware(1, "TALMO V0.42").hexText());
        WriteFile(s / "in.hex", BoardPic());
        const Outcome r = s.run(Args(k.args), k.input);
        EXPECT_EQ(r.status, k.status) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out + r.err, k.said)) << r.out << r.err;
    }
}

TEST(CliExitStatus, UnreadableSimulationStateIsAFileErrorAndIsKept) {
    const struct {
        const char* file;
        std::function<std::string(std::string)> spoil;
        const char* message;
    } cases[] = {
        {"state.txt",
         [](std::string t) { return t.replace(t.find("mode=normal"), 11, "mode=sideways"); },
         "state.txt : mode illisible"},
        {"firmware.hex", WithBadChecksum, "firmware.hex : Checksum invalide..."},
        {"pic.hex", [](std::string t) { return t.substr(0, t.size() / 2) + "x\n:0"; },
         "pic.hex : Ligne incompléte dans le fichier..."},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.message);
        Scratch s;
        ASSERT_EQ(s.run(Sim("status")).status, 0);
        const std::string file = s / ("board/" + std::string(k.file)),
                          spoilt = k.spoil(ReadFile(file));
        WriteFile(file, spoilt);
        const std::string log = ReadFile(s / "board/exchanges.log");
        const Outcome r = s.run(Sim("status"));
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(Contains(r.err, k.message)) << r.err;
        EXPECT_EQ(ReadFile(file), spoilt);
        EXPECT_EQ(ReadFile(s / "board/exchanges.log"), log);
    }
}

// ---------------------------------------------------------------- the folder

TEST(CliSimulate, BoardOptionsOnlyMakeANewFolder) {
    Scratch s;
    ASSERT_EQ(s.run(Sim("--sim-pic PIC16F873 pic identify")).status, 0);
    EXPECT_EQ(StateValue(s, "pic"), "PIC16F873");
    EXPECT_EQ(s.run(Sim("--sim-pic 16f873 pic identify")).status, 0);
    const Outcome other = s.run(Sim("--sim-pic PIC16F877A pic identify"));
    EXPECT_EQ(other.status, 3);
    EXPECT_TRUE(Contains(other.err, "PIC16F873")) << other.err;
    EXPECT_EQ(s.run(Sim("--sim-protected pic identify")).status, 3);
    EXPECT_EQ(StateValue(s, "pic"), "PIC16F873");
}

// The virtual board's files are replaced only when whole: a state that the
// disk cannot take (a file size limit) keeps the previous one, whole, and
// leaves no temporary file.
TEST(CliSimulate, AStateThatCannotBeSavedKeepsThePreviousOne) {
    Scratch s;
    ASSERT_EQ(s.run(Sim("status")).status, 0);
    const std::string board = s / "board";
    auto files = [&] {
        std::vector<std::string> all;
        for (const char* name : {"firmware.hex", "pic.hex", "state.txt"})
            all.push_back(ReadFile(board + "/" + name));
        return all;
    };
    const std::vector<std::string> before = files();
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit limit{40000, old.rlim_max}; // below the firmware file's size
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const Outcome r = s.run(Sim("status"));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "firmware.hex : Impossible d'écrire dans le fichier...")) << r.err;
    EXPECT_EQ(files(), before);
    EXPECT_EQ(talmo::test::Names(board),
              (std::vector<std::string>{".lock", "exchanges.log", "firmware.hex", "pic.hex",
                                        "state.txt"}));
}

} // namespace
