// The pieces of talmo-cli: its command line, the terminal's Ui, the status
// lines and the bounded wait for the device after a mode switch.
#include "cli/cli_commands.h"
#include "cli/cli_options.h"
#include "cli/status_view.h"
#include "cli/terminal_ui.h"

#include "console/console_core.h"
#include "core/clock.h"
#include "core/version.h"
#include "link/device_link.h"
#include "sim/wired_talmo.h"
#include "tests/common/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace talmo;
using namespace talmo::cli;
using talmo::test::Words;

// ---------------------------------------------------------------- arguments

// What the command line sets, the command by its words; the cases name only
// what differs from the defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct Parsed {
    std::string command, file;
    unsigned given = 0;
    int verbosity = 0;
    std::string logFile, devicePath, simulateFolder, simPic;
    bool simProtected = false;
    bool operator==(const Parsed&) const = default;
};

TEST(CliArguments, CommandsOptionsAndFiles) {
    // (Each command's plain form runs end to end in the program's tests.)
    const std::pair<std::vector<std::string>, Parsed> cases[] = {
        {Words("--watch status"), {"status", "", kOptWatch}},
        {Words("firmware program b.hex --force -y --no-verify"),
         {"firmware program", "b.hex", kOptForce | kOptYes | kOptNoVerify}},
        {Words("pic program -y d.hex"), {"pic program", "d.hex", kOptYes}},
        {Words("hex check --pic e.hex"), {"hex check", "e.hex", kOptPic}},
        {Words("hex check e.hex --firmware"), {"hex check", "e.hex", kOptFirmware}},
        {Words("-q --log l.txt status --device=/dev/hidraw3 --json"),
         {"status", "", kOptJson, -1, "l.txt", "/dev/hidraw3"}},
        {Words("--simulate d --sim-pic PIC16F873 --sim-protected pic identify"),
         {"pic identify", "", 0, 0, "", "", "d", "PIC16F873", true}},
        {{"pic", "identify", "--simulate=x y", "--sim-pic=16f876"},
         {"pic identify", "", 0, 0, "", "", "x y", "16f876"}},
        // "--" lets a file name begin with a dash.
        {Words("pic read -- -odd.hex"), {"pic read", "-odd.hex"}},
    };
    for (const auto& [args, expected] : cases) {
        const ParseResult r = ParseArguments(args);
        ASSERT_TRUE(r.ok) << testing::PrintToString(args) << r.error;
        const Options& o = r.options;
        const std::string words = std::string(o.command->group) +
                                  (*o.command->name ? std::string(" ") + o.command->name : "");
        EXPECT_TRUE((Parsed{words, o.file, o.given, o.verbosity, o.logFile, o.devicePath,
                            o.simulateFolder, o.simPic, o.simProtected}) == expected)
            << testing::PrintToString(args);
    }
}

TEST(CliArguments, UsageErrorsSayWhat) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "commande manquante"},
        {"erase", "commande inconnue « erase »"},
        {"pic wipe", "sous-commande inconnue « wipe »"},
        {"firmware", "sous-commande manquante"},
        {"pic verify", "FICHIER manquant"},
        {"pic read a b", "argument en trop « b »"},
        {"pic read a --json", "--json"},
        {"firmware save a --force", "--force"},
        {"status --pic", "--pic"},
        {"status -q -v", "-q et -v"},
        {"status --log", "FICHIER manquant"},
        {"status --device=", "CHEMIN manquant"},
        {"hex check a", "--pic ou --firmware"},
        {"status --sim-protected", "--simulate"},
        {"status --simulate", "DOSSIER manquant"},
        {"status -x", "option inconnue « -x »"},
    };
    for (const auto& [line, part] : cases) {
        const ParseResult r = ParseArguments(Words(line));
        EXPECT_FALSE(r.ok) << line;
        EXPECT_NE(r.error.find(part), std::string::npos) << r.error;
    }
}

TEST(CliArguments, HelpIsThatOfTheCommandNamed) {
    const ParseResult pic = ParseArguments({"pic", "program", "--help", "--bogus-later"});
    EXPECT_FALSE(pic.ok); // an unknown option is still an error
    const ParseResult r = ParseArguments({"pic", "program", "--help"});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.help);
    EXPECT_EQ(
        r.options.helpText.rfind("Usage : talmo-cli pic program FICHIER [--yes] [--force]\n", 0),
        0u);
    EXPECT_EQ(ParseArguments({"nonsense", "-h"}).options.helpText, HelpText(nullptr));
    EXPECT_EQ(ParseArguments({"hex", "-h"}).options.helpText, GroupHelpText("hex"));
    // The version alone, with or without a command; help wins over it.
    using Args = std::vector<std::string>;
    for (const auto& args : {Args{"--version"}, Args{"pic", "identify", "--version"}})
        EXPECT_EQ(ParseArguments(args).options.helpText,
                  std::string("talmo-cli ") + talmo::kProgramVersion + "\n");
    EXPECT_EQ(ParseArguments({"--version", "-h"}).options.helpText, HelpText(nullptr));
    EXPECT_FALSE(ParseArguments({"--version=1"}).ok);
}

// ---------------------------------------------------------------- progress

TEST(CliProgress, BarShowsThePercentAndFitsTheWidth) {
    Progress half{0x1000, 0x2000, "Lecture: "};
    const std::string line = ProgressBarLine(half, "Lecture: 0x1000/0x2000", 80);
    EXPECT_EQ(line, "[############............]  50 % Lecture: 0x1000/0x2000");
    Progress over{9, 4, ""};
    EXPECT_EQ(ProgressBarLine(over, "t", 80).substr(0, 32), "[########################] 100 %");
    // Cut at the width, never inside an accented letter.
    const std::string cut = ProgressBarLine(half, "Vérification: 0x1000/0x2000", 36);
    EXPECT_EQ(cut, "[############............]  50 % Vér"); // 36 characters, 37 bytes
}

// ---------------------------------------------------------------- terminal Ui

// Files standing in for the terminal's streams, and its clock.
struct Streams {
    VirtualClock clock;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::FILE* in = std::tmpfile();
    ~Streams() {
        for (std::FILE* f : {out, err, in})
            std::fclose(f);
    }
    TerminalStreams streams(bool errTerminal = false) const {
        return {out, err, in, false, errTerminal, false};
    }
    void input(const std::string& text) {
        std::fputs(text.c_str(), in);
        std::rewind(in);
    }
    static std::string read(std::FILE* f) {
        std::fflush(f);
        std::rewind(f);
        std::string text;
        for (int c; (c = std::fgetc(f)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }
};

TEST(CliTerminalUi, QuestionsReadTheirAnswer) {
    struct Case {
        const char* input;
        bool assumeYes;
        Answer expected;
    };
    const Case cases[] = {
        {"o\n", false, Answer::Yes}, {"OUI\n", false, Answer::Yes}, {" y \n", false, Answer::Yes},
        {"yes", false, Answer::Yes}, {"n\n", false, Answer::No},    {"\n", false, Answer::No},
        {"ok\n", false, Answer::No}, {"", false, Answer::No},       {"n\n", true, Answer::Yes},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.input);
        Streams io;
        io.input(k.input);
        TerminalUi ui(io.clock, io.streams());
        ui.setAssumeYes(k.assumeYes);
        EXPECT_EQ(ui.messageBox("Programmer cette version ?\nV1", "Programmation", Icon::Question,
                                Buttons::YesNo),
                  k.expected);
        const std::string err = Streams::read(io.err);
        EXPECT_EQ(err.rfind("Programmation : Programmer cette version ?\n                V1\n", 0),
                  0u)
            << err;
        EXPECT_EQ(Streams::read(io.out), "");
    }
}

TEST(CliTerminalUi, ProgressIsThinnedOffATerminalAndResultsGoToStandardOutput) {
    Streams io;
    TerminalUi ui(io.clock, io.streams(false));
    char text[64];
    for (unsigned a = 0; a < 0x2000; ++a) {
        ui.progress("Lecture", a, 0x2008);
        std::snprintf(text, sizeof text, "Lecture de l'adresse: 0x%04X/0x2000", a);
        if (a % 20 == 0)
            ui.setStatusText(MessageField, text);
    }
    ui.progress("Lecture zone ID", 0x2000, 0x2008);
    ui.setStatusText(MessageField, "Lecture zone ID: 0x2000/0x2007");
    // A text that is not the phase's (an error) is a result, even midway.
    ui.setStatusText(MessageField, "TALMO communication: Erreur");
    ui.progress("Lecture zone ID", 0x2008, 0x2008);
    ui.setStatusText(MessageField, "Lecture: OK");
    const std::string err = Streams::read(io.err);
    std::size_t lines = 0;
    for (char c : err)
        lines += c == '\n';
    EXPECT_EQ(lines, 11u) << err; // each tenth of the way, then the ID zone
    EXPECT_NE(err.find("Lecture de l'adresse: 0x0000/0x2000\n"), std::string::npos);
    EXPECT_NE(err.find("Lecture zone ID: 0x2000/0x2007\n"), std::string::npos);
    EXPECT_EQ(Streams::read(io.out), "TALMO communication: Erreur\nLecture: OK\n");
}

TEST(CliTerminalUi, BarOnATerminalIsRedrawnOnOneLine) {
    Streams io;
    {
        TerminalUi ui(io.clock, io.streams(true));
        // The bar's fill follows the reports, once per percent, whatever the text says.
        ui.progress("Vérification", 0, 0x2008);
        ui.setStatusText(MessageField, "Vérification: 0x0000/0x1000");
        ui.progress("Vérification", 1, 0x2008);
        ui.progress("Vérification", 0x1004, 0x2008);
        ui.progress("Vérification", 0x2008, 0x2008);
        ui.setStatusText(MessageField, "Programmation+Vérification: OK");
        ui.setStatusText(ConnectionField,
                         "USB: TALMO non connecté"); // the initial state: not shown
    }
    const std::string err = Streams::read(io.err);
    EXPECT_EQ(err, "\r[........................]   0 % Vérification: 0x0000/0x1000\033[K"
                   "\r[############............]  50 % Vérification: 0x0000/0x1000\033[K"
                   "\r[########################] 100 % Vérification: 0x0000/0x1000\033[K\n");
    EXPECT_EQ(Streams::read(io.out), "Programmation+Vérification: OK\n");
}

// ---------------------------------------------------------------- status lines

// A status answer with bytes 7 to 11.
ConsoleReport StatusAnswer(std::initializer_list<std::uint8_t> bytes) {
    ConsoleReport r{};
    r[1] = 'I';
    std::copy(bytes.begin(), bytes.end(), r.begin() + 7);
    return r;
}

TEST(CliStatusView, EachGroupOfThePageIsOneLine) {
    struct Case {
        ConsoleReport answer;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        // Output driven at the manual level (byte 10), switch at OFF, motors on,
        // both contact chains open, STOP lit, IO1, ESC and up pressed.
        {StatusAnswer({0x50, 0x3F, 128, 255, 0x41}),
         {"Entrée PWM: MANU, niveau 50 %, entrée 100 %",
          "Sortie PWM: 100 %, interrupteur OFF, protection démarrage ON", "IO1: 1",
          "STOP PROG: allumé", "Moteurs: ON", "FDCs: ouverts", "Palpeurs: ouverts",
          "Clavier: touches haut, ESC"}},
        // Output driven at the USB level (byte 9), protection off; keypad absent.
        {StatusAnswer({0x10, 0x00, 128, 255, 0x0C}),
         {"Entrée PWM: AUTO, niveau 50 %, entrée 100 %",
          "Sortie PWM: 50 %, interrupteur ON, protection démarrage OFF", "IO1: 0",
          "STOP PROG: éteint", "Moteurs: OFF", "FDCs: fermés", "Palpeurs: fermés",
          "Clavier: non détecté"}},
    };
    for (const Case& k : cases) {
        StatusView view;
        view.apply(DecodeStatus(k.answer));
        EXPECT_EQ(view.lines(), k.lines);
    }
}

// ---------------------------------------------------------------- mode switch

TEST(CliWaitForMode, FollowsTheReenumerationAndGivesUpOnTime) {
    Streams io;
    TerminalUi ui(io.clock, io.streams());
    sim::WiredTalmo wired(io.clock, &ui);
    DeviceLink& link = wired.link;
    sim::SimBackend& backend = wired.backend;
    ASSERT_TRUE(RegisterForDeviceEvents(link));
    ASSERT_TRUE(wired.open());
    ASSERT_EQ(link.productId, kTalmoProductId);

    // Already there: at once.
    EXPECT_TRUE(WaitForMode(link, ui, kTalmoProductId, 1000));
    EXPECT_EQ(io.clock.nowMs(), 0);

    Report jump{};
    BuildJumpRequest(jump);
    WriteReport(link, jump);
    EXPECT_TRUE(WaitForMode(link, ui, kBootLoaderProductId, 1000));
    EXPECT_EQ(link.productId, kBootLoaderProductId);

    // Pulled out: no device comes back, and the wait ends after its time.
    backend.unplug(wired.deviceId);
    const std::int64_t start = io.clock.nowMs();
    EXPECT_FALSE(WaitForMode(link, ui, kTalmoProductId, 2000));
    EXPECT_GE(io.clock.nowMs() - start, 2000);
    EXPECT_LT(io.clock.nowMs() - start, 2200);
    EXPECT_FALSE(link.connected());

    // Plugged in again in its boot loader while the normal mode is awaited:
    // told to leave it, it comes back in normal mode.
    auto again = std::make_unique<sim::Talmo>();
    again->setMode(sim::Talmo::Mode::BootLoader);
    backend.plug(std::move(again));
    EXPECT_TRUE(WaitForMode(link, ui, kTalmoProductId, 2000, true));
}

TEST(CliJson, StringsAreEscapedAndObjectsKeepTheirOrder) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01é"), "\"a\\\"b\\\\c\\u000a\\u0001é\"");
    EXPECT_EQ(JsonObject({{"z", "1"}, {"a", "null"}}), "{\"z\": 1, \"a\": null}");
}

TEST(CliDeviceNotice, NamesTheDeviceUsedWhenThereAreSeveral) {
    VirtualClock clock;
    sim::VirtualUsb bus(clock);
    sim::SimBackend backend(bus);
    backend.plug(std::make_unique<sim::Talmo>());
    DeviceLink link;
    link.backend = &backend;
    ASSERT_TRUE(OpenDevice(link));
    EXPECT_EQ(DeviceNotice(backend, link, 0), "");
    EXPECT_EQ(DeviceNotice(backend, link, 1), "TALMO employé : " + link.devicePath);
    backend.plug(std::make_unique<sim::Talmo>());
    EXPECT_EQ(DeviceNotice(backend, link, -1)
                  .rfind("2 TALMO branchés : emploi de " + link.devicePath + " (« --device", 0),
              0u);
}

// ---------------------------------------------------------------- status

TEST(CliStatus, ALostAnswerIsACommunicationErrorNotADeviceFact) {
    // Requests of the start sequence: 'B', 'V', 'F', 'T' 0, 'T' 3.
    const struct {
        std::uint64_t silent;
        const char* notShown;
    } cases[] = {{3, "Flash"}, {5, "Table"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.notShown);
        Streams io;
        TerminalUi ui(io.clock, io.streams());
        sim::WiredTalmo wired(io.clock, &ui);
        wired.device->faults().silentAt = k.silent;
        ASSERT_TRUE(wired.open());
        DeviceLink& link = wired.link;
        CliContext context{link, ui};
        EXPECT_EQ(ExitStatusOf(RunStatus(context, Options{})), kExitDevice);
        EXPECT_EQ(Streams::read(io.out).find(k.notShown), std::string::npos);
        EXPECT_NE(Streams::read(io.err).find("TALMO communication: Erreur"), std::string::npos);
    }
}

} // namespace
