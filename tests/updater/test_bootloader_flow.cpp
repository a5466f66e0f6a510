// What the boot-loader page does, without its widgets: the show sequence,
// the save, the programming with its confirmation, the automatic update and
// the return to the application.
#include "updater/bootloader_flow.h"

#include "fake_boot_loader.h"
#include "hex_text.h"
#include "shell/scripted_ui.h"
#include "updater/firmware_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace talmo;
using namespace talmo::test;

namespace {

struct Page {
    VirtualClock clock;
    ScriptedUi ui{&clock};
    FakeBootLoader device;
    DeviceLink link;
    std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>();
    std::string firmwarePath = "./talmo.hex";
    std::string savePath;
    BootLoaderFields fields;
    Report report{};
    TempDir dir;
    BootLoaderContext context{link, ui, *image, firmwarePath, savePath, fields, report};

    Page() {
        device.clock = &clock;
        ConnectFake(link, device);
        ResetFirmwareImage(*image);
        std::memcpy(&device.program[0x130C], "TALMO V1.00\0", 12);
    }

    // A firmware file with that version text at 0x130C and a pattern elsewhere.
    std::string firmwareFile(const std::string& name, const std::string& version) {
        std::array<std::uint8_t, 0x8000> program;
        std::array<std::uint8_t, 0x100> eeprom;
        for (int a = 0; a < 0x8000; ++a)
            program[a] = static_cast<std::uint8_t>(a * 3 + 1);
        for (int e = 0; e < 0x100; ++e)
            eeprom[e] = static_cast<std::uint8_t>(e ^ 0x5A);
        std::fill(program.begin() + 0x130C, program.begin() + 0x1318, 0);
        std::memcpy(&program[0x130C], version.data(), std::min<std::size_t>(version.size(), 12));
        const auto path = dir / name;
        WriteWholeFile(path, FirmwareFileText(program.data(), eeprom.data()));
        programFromFile = program;
        eepromFromFile = eeprom;
        return path.string();
    }
    std::array<std::uint8_t, 0x8000> programFromFile{};
    std::array<std::uint8_t, 0x100> eepromFromFile{};

    bool deviceHoldsFile() const {
        return std::equal(device.program.begin() + 0x1300, device.program.end(), programFromFile.begin() + 0x1300) &&
               device.eeprom == eepromFromFile;
    }
};

const auto kSilent = [](const Report&, int, bool* silence) {
    *silence = true;
    return std::optional<Report>();
};

} // namespace

TEST(BootLoaderShown, ReadsBothVersionsAndResetsTheImage) {
    Page p;
    p.ui.setStatusText(MessageField, "Programmation: OK");
    p.fields.fileVersion = "TALMO V0.9";
    p.image->cells[0x2000] = 0x12;
    BootLoaderShown(p.context, false);
    EXPECT_EQ(p.ui.status(MessageField), "");
    EXPECT_EQ(p.fields.bootLoaderVersion, "TALMO BL V1.07");
    EXPECT_EQ(p.fields.deviceVersion, "TALMO V1.00");
    EXPECT_EQ(p.fields.fileVersion, "-");
    EXPECT_EQ(p.image->cells[0x2000], 0xFF);
    ASSERT_EQ(p.device.requests.size(), 2u);
    EXPECT_EQ(p.device.requests[0][1], 'V');
    EXPECT_EQ(p.device.requests[1][1], 'R');
}

TEST(BootLoaderShown, SilentBootLoaderKeepsTheOldVersionAndShowsUnknown) {
    Page p;
    p.fields.bootLoaderVersion = "TALMO BL V0.99";
    p.device.fault = kSilent;
    BootLoaderShown(p.context, false);
    EXPECT_EQ(p.fields.bootLoaderVersion, "TALMO BL V0.99");
    EXPECT_EQ(p.fields.deviceVersion, "Inconnue");
    EXPECT_TRUE(p.ui.boxes().empty());
}

TEST(BootLoaderAutoUpdate, Failures) {
    enum Kind { NoFile, BadFile, DeviceSilent, BlockRefused };
    struct Case {
        const char* name;
        Kind kind;
        std::vector<std::string> boxes;
        std::string status;
    };
    const Case cases[] = {
        {"no file", NoFile, {"Impossible de lire le fichier..."}, "Lecture du fichier: Erreur"},
        {"bad checksum", BadFile, {"Checksum invalide..."}, "Lecture du fichier: Erreur"},
        {"device silent", DeviceSilent, {"Erreur lors de la programmation du PIC."}, "TALMO communication: Erreur"},
        {"block refused", BlockRefused, {"Erreur lors de la programmation du PIC."}, "Erreur programmation: 0x135F"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page p;
        p.firmwarePath = (p.dir / "talmo.hex").string();
        if (c.kind != NoFile)
            p.firmwareFile("talmo.hex", "TALMO V2.00");
        if (c.kind == BadFile)
            WriteWholeFile(p.firmwarePath, ":020000040000FA\r\n:10130000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEE\r\n");
        if (c.kind == DeviceSilent)
            p.device.fault = kSilent;
        if (c.kind == BlockRefused)
            p.device.fault = [&p](const Report& r, int n, bool*) -> std::optional<Report> {
                if (n != 2)
                    return std::nullopt;
                Report a = *p.device.answer(r);
                a[2] = 0;
                return a;
            };
        EXPECT_FALSE(BootLoaderAutoUpdate(p.context));
        std::vector<std::string> boxes;
        for (const auto& b : p.ui.boxes()) {
            boxes.push_back(b.text);
            EXPECT_EQ(b.caption, c.kind == NoFile || c.kind == BadFile ? "Erreur fichier" : "Erreur");
        }
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(p.ui.status(MessageField), c.status);
        EXPECT_TRUE(p.device.sent('Z').empty()) << "the device stays in its boot loader";
        EXPECT_EQ(p.fields.deviceVersion, "-");
        if (c.kind == NoFile || c.kind == BadFile) {
            EXPECT_TRUE(p.device.requests.empty());
        }
    }
}

TEST(BootLoaderProgram, ConfirmedFileIsProgrammedAndTheDeviceStays) {
    Page p;
    const std::string file = p.firmwareFile("v3.hex", "TALMO V3.00");
    p.ui.queueOpenPath(file);
    p.ui.queueAnswer(Answer::Yes);
    BootLoaderProgram(p.context);
    EXPECT_EQ(p.firmwarePath, file);
    ASSERT_EQ(p.ui.boxes().size(), 1u);
    const UiEvent question = p.ui.boxes()[0];
    EXPECT_EQ(question.text, "Programmer cette version ?\nTALMO V3.00");
    EXPECT_EQ(question.caption, "Programmation");
    EXPECT_EQ(question.icon, Icon::Question);
    EXPECT_EQ(question.buttons, Buttons::YesNo);
    EXPECT_TRUE(p.deviceHoldsFile());
    EXPECT_EQ(p.fields.deviceVersion, "TALMO V3.00");
    EXPECT_EQ(p.fields.fileVersion, "TALMO V3.00");
    EXPECT_EQ(p.ui.status(MessageField), "Programmation: OK");
    EXPECT_TRUE(p.device.sent('Z').empty());

    const FileDialogRequest* dialog = p.ui.lastDialogRequest();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->initialPath, "./talmo.hex");
    EXPECT_EQ(dialog->defaultExtension, "hex");
    ASSERT_EQ(dialog->filters.size(), 2u);
    EXPECT_EQ(dialog->filters[0].label, "Hex Files (*.hex)");
    EXPECT_EQ(dialog->filters[0].patterns, "*.hex");
    EXPECT_EQ(dialog->filters[1].label, "All Files (*.*)");
}

TEST(BootLoaderProgram, UnknownVersionIsOfferedAndCanStillBeProgrammed) {
    Page p;
    p.ui.queueOpenPath(p.firmwareFile("other.hex", "OTHER V1"));
    BootLoaderProgram(p.context); // the box answers Yes
    ASSERT_EQ(p.ui.boxes().size(), 1u);
    EXPECT_EQ(p.ui.boxes()[0].text, "Programmer cette version ?\nInconnue");
    EXPECT_TRUE(p.deviceHoldsFile());
    EXPECT_EQ(p.fields.deviceVersion, "Inconnue");
}

TEST(BootLoaderProgram, AnswersOtherThanYesCancel) {
    for (Answer answer : {Answer::No, Answer::Cancel}) {
        Page p;
        p.fields.deviceVersion = "TALMO V1.00";
        p.ui.queueOpenPath(p.firmwareFile("v3.hex", "TALMO V3.00"));
        p.ui.queueAnswer(answer);
        BootLoaderProgram(p.context);
        EXPECT_EQ(p.fields.fileVersion, "-");
        EXPECT_EQ(p.fields.deviceVersion, "TALMO V1.00");
        EXPECT_EQ(p.ui.status(MessageField), "Programmation: annulée");
        EXPECT_TRUE(p.device.requests.empty());
    }
}

TEST(BootLoaderProgram, ProgrammingErrorShowsTheBoxAndKeepsTheText) {
    Page p;
    p.ui.queueOpenPath(p.firmwareFile("v3.hex", "TALMO V3.00"));
    p.device.fault = [&p](const Report& r, int n, bool*) -> std::optional<Report> {
        if (n != 874)
            return std::nullopt;
        Report a = *p.device.answer(r);
        a[2] = 0;
        return a;
    };
    BootLoaderProgram(p.context);
    const auto boxes = p.ui.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Erreur lors de la programmation du PIC.");
    EXPECT_EQ(boxes[1].caption, "Erreur");
    EXPECT_EQ(boxes[1].icon, Icon::Error);
    EXPECT_EQ(p.ui.status(MessageField), "Erreur programmation EEPROM: 0x5F");
    EXPECT_EQ(p.fields.deviceVersion, "-");
    EXPECT_TRUE(p.device.sent('Z').empty());
}

TEST(BootLoaderProgram, UnreadableFileStopsAfterTheReadersBox) {
    Page p;
    const std::string missing = (p.dir / "missing.hex").string();
    p.ui.queueOpenPath(missing);
    BootLoaderProgram(p.context);
    EXPECT_EQ(p.firmwarePath, missing);
    ASSERT_EQ(p.ui.boxes().size(), 1u);
    EXPECT_EQ(p.ui.boxes()[0].text, "Impossible de lire le fichier...");
    EXPECT_EQ(p.ui.status(MessageField), "Lecture du fichier: Erreur");
    EXPECT_TRUE(p.device.requests.empty());
}

TEST(BootLoaderProgram, ChosenFileIsTheOneALaterAutomaticUpdateReads) {
    Page p;
    const std::string chosen = p.firmwareFile("chosen.hex", "TALMO V4.00");
    p.ui.queueOpenPath(chosen);
    p.ui.queueAnswer(Answer::No);
    BootLoaderProgram(p.context);
    ASSERT_EQ(p.firmwarePath, chosen);
    EXPECT_TRUE(BootLoaderAutoUpdate(p.context));
    EXPECT_EQ(p.fields.deviceVersion, "TALMO V4.00");
    EXPECT_TRUE(p.deviceHoldsFile());
}

TEST(BootLoaderDialogs, CancellingChangesNothing) {
    Page p;
    p.savePath = "/keep/save.hex";
    p.fields.deviceVersion = "TALMO V1.00";
    p.fields.fileVersion = "TALMO V9";
    p.ui.setStatusText(MessageField, "Programmation: OK");
    p.image->cells[0x1400] = 0x42;
    const BootLoaderFields before = p.fields;
    const std::size_t eventsBefore = p.ui.events().size();

    BootLoaderSave(p.context);    // no path queued: cancelled
    BootLoaderProgram(p.context); // likewise

    EXPECT_EQ(p.ui.status(MessageField), "Programmation: OK");
    EXPECT_EQ(p.ui.events().size(), eventsBefore + 2); // the two dialogs only
    EXPECT_EQ(p.savePath, "/keep/save.hex");
    EXPECT_EQ(p.firmwarePath, "./talmo.hex");
    EXPECT_EQ(p.fields.deviceVersion, before.deviceVersion);
    EXPECT_EQ(p.fields.fileVersion, before.fileVersion);
    EXPECT_EQ(p.image->cells[0x1400], 0x42);
    EXPECT_TRUE(p.device.requests.empty());
}

TEST(BootLoaderSave, ResultTexts) {
    struct Case {
        const char* name;
        bool silent;
        bool badFolder;
        std::string status;
        std::size_t boxes;
    };
    const Case cases[] = {
        {"saved", false, false, "Sauvegarde: OK", 0},
        {"device silent", true, false, "Sauvegarde: Erreur", 0},
        {"file cannot be created", false, true, "Sauvegarde: Erreur", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Page p;
        if (c.silent)
            p.device.fault = kSilent;
        const std::string path = (c.badFolder ? p.dir / "missing" / "out.hex" : p.dir / "out.hex").string();
        p.ui.queueSavePath(path);
        BootLoaderSave(p.context);
        EXPECT_EQ(p.ui.status(MessageField), c.status);
        EXPECT_EQ(p.ui.boxes().size(), c.boxes);
        EXPECT_EQ(p.savePath, path) << "the save path keeps the last file chosen";
        const FileDialogRequest* dialog = p.ui.lastDialogRequest();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->confirmOverwrite);
        EXPECT_EQ(dialog->initialPath, "");
    }
}

TEST(BootLoaderLeave, EmptiesTheMessageFieldAndSendsZ) {
    Page p;
    p.ui.setStatusText(MessageField, "Sauvegarde: OK");
    BootLoaderLeave(p.context);
    EXPECT_EQ(p.ui.status(MessageField), "");
    ASSERT_EQ(p.device.requests.size(), 1u);
    const Report& r = p.device.requests[0];
    EXPECT_EQ((std::vector<int>{r[1], r[2], r[3], r[4]}), (std::vector<int>{'Z', 'U', 0xAA, 0}));
}
