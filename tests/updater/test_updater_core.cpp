// The boot loader's requests, the firmware save and programming, and what the
// boot-loader page does without its widgets, on the device emulator.
#include "updater/bootloader_commands.h"
#include "updater/bootloader_flow.h"
#include "updater/firmware_image.h"
#include "updater_rig.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace talmo;
using namespace talmo::test;

namespace {

const std::string kCommError = "TALMO communication: Erreur";
const std::string kProgrammingBox = "Erreur: Erreur lors de la programmation du PIC.";
const Firmware kHeld(1, "TALMO V1.00"); // what the device holds at first
const std::string kReadError = "Lecture du fichier: Erreur",
                  kNoFile = "Erreur fichier: Impossible de lire le fichier...",
                  kNoData = "Erreur fichier: Aucune donnée de firmware dans le fichier...";

// The progress texts for `from`, `from` + `step`, ... below `to`, after `texts`.
std::vector<std::string> Progress(const char* format, int from, int to, int step,
                                  std::vector<std::string> texts = {}) {
    char buf[64];
    for (int a = from; a < to; a += step) {
        std::snprintf(buf, sizeof buf, format, a);
        texts.push_back(buf);
    }
    return texts;
}

// The page's borrowed state around a rig whose firmware path is talmo.hex in
// the rig's folder.
struct Flow : UpdaterRig {
    std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>();
    std::string firmwarePath = path("talmo.hex");
    std::string savePath;
    BootLoaderFields fields;
    Report report{};
    BootLoaderContext c{link, ui, *image, firmwarePath, savePath, fields, report};
    Flow() { load(kHeld); }
};

} // namespace

TEST(ProgramFirmware, WritesTheImageAndStopsAtTheFirstFault) {
    const struct {
        Fault fault;
        int at;
        std::string text;
        int sent;
    } cases[] = {
        {Fault::None, 0, "Ecriture de l'adresse: 0xE0/0x100", 880},
        {Fault::Refuse, 0x1340, "Erreur programmation: 0x135F", 3},
        {Fault::Refuse, 0x7FE5, "Erreur programmation: 0x7FFF", 872},
        {Fault::RefuseEeprom, 0x47, "Erreur programmation EEPROM: 0x5F", 875},
        {Fault::RefuseEeprom, 0xE0, "Erreur programmation EEPROM: 0xFF", 880},
        {Fault::SilentFrom, 400, kCommError, 401},
        {Fault::SilentFrom, 875, kCommError, 876},
        {Fault::WrongEcho, 10, kCommError, 11},
        {Fault::WrongAddress, 10, kCommError, 11}, // an answer to another block
        {Fault::WrongAddress, 875, kCommError, 876},
        {Fault::Short, 2, kCommError, 1}, // no status byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.sent));
        UpdaterRig r;
        const Firmware file(5, "TALMO V0.30");
        auto image = std::make_unique<FirmwareImage>();
        ASSERT_EQ(LoadFirmwareHex(r.ui, *image, r.write("new.hex", file.hexText())), 1);
        r.arm(c.fault, c.at);
        EXPECT_EQ(ProgramFirmware(r.link, r.ui, *image), c.fault == Fault::None);
        EXPECT_EQ(r.ui.status(MessageField), c.text);
        EXPECT_TRUE(c.fault != Fault::None || r.ui.progressFault().empty()) << r.ui.progressFault();
        EXPECT_EQ(r.held() == file, c.fault == Fault::None);
        EXPECT_EQ(r.device->mode(), sim::Talmo::Mode::BootLoader);
        EXPECT_TRUE(r.ui.boxes().empty());
        // Blocks in order, flags 1, 2, 1, 2, ..., EEPROM blocks by their last
        // byte; nothing more after a fault.
        const auto& log = r.device->log();
        const auto flags = log.requestBytes(sim::Match('W'), 2);
        const auto high = log.requestBytes(sim::Match('W'), 3);
        const auto low = log.requestBytes(sim::Match('W'), 4);
        ASSERT_EQ(flags.size(), static_cast<std::size_t>(c.sent));
        for (int i = 0; i < c.sent; ++i) {
            ASSERT_EQ(flags[i], i < 872 ? 1 + i % 2 : 0) << i;
            ASSERT_EQ(high[i] << 8 | low[i], i < 872 ? 0x1300 + 32 * i : 0x1F + 32 * (i - 872))
                << i;
        }
        // An unanswered exchange costs one time-out, no more.
        EXPECT_LE(r.clock.nowUs() - log.entries().back().timeUs, 500'000);
        if (c.fault == Fault::None) {
            EXPECT_EQ(
                r.ui.statusTexts(MessageField),
                Progress("Ecriture de l'adresse: 0x%02X/0x100", 0, 0x100, 0x20,
                         Progress("Ecriture de l'adresse: 0x%04X/0x8000", 0x1800, 0x8000, 0x800)));
        }
    }
}

TEST(BootLoaderVersions, TextsFromTheDevice) {
    const struct {
        bool loader;
        std::string stored;
        Fault fault;
        int at;
        std::string expected;
    } cases[] = {
        {false, "TALMO V2.10", Fault::None, 0, "TALMO V2.10"},
        // Past its 12 bytes, to the zero byte; to 0x131F at most.
        {false, "TALMO V2.10 beta", Fault::None, 0, "TALMO V2.10 beta"},
        {false, "TALMO V0.23 (c) TALMO 2011", Fault::None, 0, "TALMO V0.23 (c) TALM"},
        {false, "talmo V2.10", Fault::None, 0, "Inconnue"},
        {false, "TALMO V2.10", Fault::Silent, 0, "Inconnue"},
        {false, "TALMO V2.10", Fault::WrongEcho, 0, "Inconnue"},
        {false, "TALMO V2.10", Fault::WrongAddress, 0, "Inconnue"},
        {true, "TALMO BOOT V1.02", Fault::Silent, 0, "none"},
        {true, "V\xE9", Fault::None, 0, "V\xC3\xA9"}, // Latin-1
        // To the answer's end.
        {true, "TALMO BOOT V1.02 and more", Fault::Short, 20, "TALMO BOOT V1.02 a"},
    };
    for (const auto& c : cases) {
        UpdaterRig r;
        r.load(Firmware(2, c.stored));
        r.device->setBootLoaderVersion(c.stored);
        r.arm(c.fault, c.at);
        Report report;
        report.fill('x'); // a stale "TALMO" must not pass for an answer
        std::memcpy(&report[17], "TALMO stale", 11);
        EXPECT_EQ(c.loader ? QueryBootLoaderVersion(r.link, report).value_or("none")
                           : QueryDeviceFirmwareVersion(r.link, report),
                  c.expected)
            << c.stored;
    }
}

TEST(BootLoaderShown, ReadsTheVersionsAndUpdatesOnlyWhenAllWentWell) {
    constexpr int Ok = 0, NoFile = 1, Empty = 2, CutOff = 3, BadFile = 4, Silent = 5, Refused = 6;
    const struct {
        int kind;
        std::vector<std::string> boxes;
        std::string status;
    } cases[] = {
        {Ok, {}, "Programmation: OK"},
        {NoFile, {kNoFile}, kReadError},
        // An empty talmo.hex would wipe the working firmware; a file without
        // its end record was cut off.
        {Empty, {kNoData}, kReadError},
        {CutOff, {"Erreur fichier: Fichier incomplet, sans enregistrement de fin..."}, kReadError},
        {BadFile, {"Erreur fichier: Checksum invalide..."}, kReadError},
        {Silent, {kProgrammingBox}, kCommError},
        {Refused, {kProgrammingBox}, "Erreur programmation: 0x135F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        Flow p;
        const Firmware file(6, "TALMO V2.00");
        const std::string whole = file.hexText();
        if (c.kind != NoFile)
            p.write("talmo.hex",
                    c.kind == BadFile  ? ":10130000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEE\r\n"
                    : c.kind == Empty  ? ""
                    : c.kind == CutOff ? whole.substr(0, whole.find("\r\n", whole.size() / 2) + 2)
                                       : whole);
        p.fields = {"TALMO BOOT V0.99", "TALMO V0.1", "TALMO V0.9", nullptr};
        p.arm(c.kind == Refused ? Fault::Refuse : Fault::None, 0x1340);
        p.arm(c.kind == Silent ? Fault::SilentFrom : Fault::None);
        BootLoaderShown(p.c, true);
        EXPECT_EQ(p.ui.boxTexts(true), c.boxes);
        EXPECT_EQ(p.ui.statusTexts(MessageField).at(0), "");
        EXPECT_EQ(p.ui.status(MessageField), c.status);
        EXPECT_EQ(p.fields.bootLoaderVersion,
                  c.kind == Silent ? "TALMO BOOT V0.99" : "TALMO BOOT V1.02");
        const std::string read = c.kind == Silent ? "Inconnue" : "TALMO V1.00";
        EXPECT_EQ(p.fields.deviceVersion, c.kind == Ok ? "TALMO V2.00" : read);
        EXPECT_EQ(p.fields.fileVersion, c.kind == Ok || c.kind > BadFile ? "TALMO V2.00" : "-");
        // 'Z' only after a whole programming; otherwise the boot loader stays.
        EXPECT_EQ(p.device->mode(),
                  c.kind == Ok ? sim::Talmo::Mode::Normal : sim::Talmo::Mode::BootLoader);
        EXPECT_EQ(p.held() == file, c.kind == Ok);
        EXPECT_EQ(p.device->log().count('W') == 0, c.kind != Ok && c.kind <= BadFile);
    }
}

TEST(BootLoaderProgram, AsksWithTheFilesVersionThenPrograms) {
    constexpr int Good = 0, Missing = 1, NoData = 2, Refused = 3, NoChoice = 4;
    const std::string ask = "Programmation: Programmer cette version ?\n",
                      cancelled = "Programmation: annulée", ok = "Programmation: OK";
    const struct {
        std::string version;
        int kind;
        Answer answer;
        std::vector<std::string> boxes;
        std::string status;
        std::string shown;
    } cases[] = {
        {"TALMO V3.00", Good, Answer::Yes, {ask + "TALMO V3.00"}, ok, "TALMO V3.00"},
        {"TALMO V1.234XYZ", Good, Answer::Yes, {ask + "TALMO V1.234"}, ok, "TALMO V1.234"},
        {"OTHER V1", Good, Answer::Yes, {ask + "Inconnue"}, ok, "Inconnue"},
        {"TALM", Good, Answer::Yes, {ask + "Inconnue"}, ok, "Inconnue"},
        {"TALMO V3.00", Good, Answer::No, {ask + "TALMO V3.00"}, cancelled, "-"},
        {"TALMO V3.00", Good, Answer::Cancel, {ask + "TALMO V3.00"}, cancelled, "-"},
        {"TALMO V3.00", Missing, Answer::Yes, {kNoFile}, kReadError, "-"},
        {"TALMO V3.00", NoData, Answer::Yes, {kNoData}, kReadError, "-"},
        {"TALMO V3.00",
         Refused,
         Answer::Yes,
         {ask + "TALMO V3.00", kProgrammingBox},
         "Erreur programmation EEPROM: 0x5F",
         "TALMO V3.00"},
        {"TALMO V3.00", NoChoice, Answer::Yes, {}, "Sauvegarde: OK", "-"}, // the dialog cancelled
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version + " " + c.status);
        Flow p;
        const Firmware file(7, c.version);
        const std::string chosen = c.kind == Missing    ? p.path("missing.hex")
                                   : c.kind == NoChoice ? p.firmwarePath
                                   : c.kind == NoData
                                       ? p.write("v3.hex", ":020000040000FA\r\n:00000001FF\r\n")
                                       : p.write("v3.hex", file.hexText());
        p.ui.queueOpenPath(c.kind == NoChoice ? std::nullopt : std::optional(chosen));
        p.ui.setStatusText(MessageField, "Sauvegarde: OK");
        p.ui.queueAnswer(c.answer);
        p.arm(c.kind == Refused ? Fault::RefuseEeprom : Fault::None, 0x47);
        BootLoaderProgram(p.c);
        EXPECT_EQ(p.firmwarePath, chosen)
            << "the chosen file is the one the automatic update reads";
        EXPECT_EQ(p.ui.boxTexts(true), c.boxes);
        EXPECT_EQ(p.ui.status(MessageField), c.status);
        EXPECT_EQ(p.fields.fileVersion, c.shown);
        const bool programmed = c.status == ok;
        EXPECT_EQ(p.fields.deviceVersion, programmed ? c.shown : "-");
        EXPECT_EQ(p.held() == file, programmed);
        EXPECT_EQ(p.device->log().count('W') == 0, c.answer != Answer::Yes || c.kind == Missing ||
                                                       c.kind == NoData || c.kind == NoChoice);
        EXPECT_EQ(p.device->mode(), sim::Talmo::Mode::BootLoader)
            << "no 'Z' after a programming by hand";
        for (const UiEvent& box : p.ui.boxes())
            EXPECT_EQ(box.caption == "Programmation",
                      box.icon == Icon::Question && box.buttons == Buttons::YesNo);
        const FileDialogRequest* open = p.ui.lastDialogRequest();
        ASSERT_TRUE(open && open->filters.size() == 2);
        EXPECT_EQ(open->initialPath, p.path("talmo.hex"));
        EXPECT_EQ(open->defaultExtension + open->filters[0].label + open->filters[0].patterns +
                      open->filters[1].label,
                  "hexFichiers HEX (*.hex)*.hexTous les fichiers (*)");
    }
}

TEST(BootLoaderSave, WritesOnlyWhatTheDeviceDelivered) {
    const struct {
        Fault fault;
        int at;
        std::optional<std::string> name;
        int blocks;
        std::string status;
    } cases[] = {
        {Fault::None, 0, "out.hex", 880, "Sauvegarde: OK"},
        {Fault::Silent, 0, "out.hex", 0, "Sauvegarde: Erreur"},
        {Fault::Silent, 100, "out.hex", 100, "Sauvegarde: Erreur"},
        {Fault::Silent, 871, "out.hex", 871, "Sauvegarde: Erreur"},
        {Fault::Silent, 872, "out.hex", 872, "Sauvegarde: Erreur"},
        {Fault::Silent, 879, "out.hex", 879, "Sauvegarde: Erreur"},
        {Fault::WrongEcho, 300, "out.hex", 300, "Sauvegarde: Erreur"},
        {Fault::WrongAddress, 300, "out.hex", 300, "Sauvegarde: Erreur"},
        {Fault::Short, 36, "out.hex", 0, "Sauvegarde: Erreur"}, // one byte short of the block's end
        {Fault::None, 0, "missing/out.hex", -1, "Sauvegarde: Erreur"}, // cannot be created
        {Fault::None, 0, std::nullopt, -1, ""},                        // dialog cancelled
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.blocks);
        Flow p;
        const std::string old = ":00000001FF\r\nthe previous backup\r\n";
        p.write("out.hex", old);
        p.savePath = p.path("before.hex");
        p.arm(c.fault, c.at);
        p.ui.queueSavePath(c.name ? std::optional(p.path(*c.name)) : std::nullopt);
        BootLoaderSave(p.c);
        EXPECT_EQ(p.ui.status(MessageField), c.status);
        EXPECT_EQ(p.savePath, p.path(c.name.value_or("before.hex"))) << "the last file chosen";
        EXPECT_TRUE(p.ui.lastDialogRequest()->confirmOverwrite);
        EXPECT_EQ(p.ui.lastDialogRequest()->initialPath, p.path("before.hex"));
        EXPECT_EQ(p.ui.boxTexts(true).size(), c.name && c.blocks < 0 ? 1u : 0u);
        EXPECT_EQ(p.device->log().size(),
                  static_cast<std::size_t>(c.blocks < 0 ? 0 : c.blocks + (c.blocks < 880)));
        const auto texts = p.ui.statusTexts(MessageField);
        if (c.blocks == 880) {
            auto progress =
                Progress("Lecture de l'adresse: 0x%02X/0x100", 0, 0x100, 0x100,
                         Progress("Lecture de l'adresse: 0x%04X/0x8000", 0x1300, 0x8000, 0x100));
            progress.push_back(c.status);
            EXPECT_EQ(texts, progress);
            EXPECT_EQ(p.ui.progressFault(), "");
            EXPECT_EQ(ReadFile(p.path("out.hex")), kHeld.hexText());
        } else {
            if (c.blocks >= 0) {
                EXPECT_EQ(texts.at(texts.size() - 2), kCommError);
            }
            // A failed save, at its first, a middle or its last block, leaves
            // the previous backup byte for byte.
            EXPECT_EQ(ReadFile(p.path("out.hex")), old);
        }
        EXPECT_EQ(Names(p.dir.path), std::vector<std::string>{"out.hex"})
            << "no temporary file left";
    }
}
