// The programmer page's buttons, without widgets, against the emulated board.
#include "emulator.h"
#include "programmer/board_version.h"
#include "programmer/pic_identify.h"
#include "programmer/programmer_flow.h"
#include "programmer/target_commands.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace talmo;
using namespace talmo::test;
using sim::PicChip;

namespace {

struct Page {
    Emulator e;
    std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
    std::vector<std::pair<int, std::string>> controls; // every control write, in order
    ProgrammerContext c{e.link, e.ui, *state, [this](int id, const std::string& t) { controls.emplace_back(id, t); }};

    explicit Page(PicChip chip, unsigned revision = 3) : e(chip, revision) {
        ProgrammerShown(c);
        e.ui.clearEvents();
        controls.clear();
    }
    std::size_t mark() { return e.mark(); }
    std::vector<UiEvent> boxes() { return e.ui.boxes(); }
    std::size_t dialogs() {
        std::size_t n = 0;
        for (const auto& ev : e.ui.events())
            n += ev.kind == UiEvent::OpenDialog || ev.kind == UiEvent::SaveDialog;
        return n;
    }
    // Requests after the last message box: what the page sent after it.
    std::size_t leavesSince(std::size_t from) { return e.dev->log().countTarget(kTargetLeave, 0, from); }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A HEX file written from an image through the program's own writer.
std::string WriteHex(const TempDir& dir, const std::string& name, const PicImage& image, int p, int ee) {
    ScriptedUi ui;
    const std::string path = dir.file(name);
    EXPECT_EQ(SavePicHex(ui, image, path, p, ee), 1);
    return path;
}

void ExpectErrorBox(const UiEvent& box, const char* text) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, "Erreur");
    EXPECT_EQ(box.icon, Icon::Error);
    EXPECT_EQ(box.buttons, Buttons::Ok);
}

} // namespace

TEST(ProgrammerFlow, ShowSequenceResetsEverythingAndSendsBThenLeave) {
    Page p(PicChip::F877A, 4);
    ProgrammerIdentify(p.c);
    ASSERT_TRUE(p.state->ident.identified());
    p.e.ui.setStatusText(MessageField, "Lecture: OK");
    p.e.ui.clearEvents();
    const auto from = p.mark();
    ProgrammerShown(p.c);
    const auto& log = p.e.dev->log().entries();
    ASSERT_EQ(log.size() - from, 2u);
    EXPECT_EQ(log[from].request[1], 'B');
    EXPECT_EQ(log[from].request[2], 0);
    EXPECT_EQ(log[from + 1].request[1], 'Y');
    EXPECT_EQ(log[from + 1].request[2], kTargetLeave);
    EXPECT_FALSE(p.state->ident.identified());
    EXPECT_EQ(p.state->ident.configWord, 0u);
    for (auto v : p.state->image.entries)
        ASSERT_EQ(v, 0x3FFFu);
    EXPECT_EQ(p.state->picName, "-");
    EXPECT_EQ(p.state->picVersion, "-");
    EXPECT_EQ(p.state->fileVersion, "-");
    EXPECT_TRUE(p.e.ui.statusTexts(MessageField).empty()) << "the message field is not touched";
}

TEST(ProgrammerFlow, IdentifyReadsAndShowsTheBoardVersion) {
    Page p(PicChip::F877A, 4);
    ProgrammerIdentify(p.c);
    EXPECT_EQ(p.state->picName, "PIC16F877A Rev04");
    EXPECT_EQ(p.state->picVersion, "VELKOR V2.10 14/03/2011");
    EXPECT_EQ(p.state->boardVersion, "VELKOR V2.10 14/03/2011");
    EXPECT_TRUE(p.boxes().empty());
    EXPECT_EQ(p.e.ui.status(MessageField), "Lecture: OK");
    EXPECT_EQ(p.state->image.entries[0x10], p.e.pic()->readBack(0x10));
}

TEST(ProgrammerFlow, IdentifyOnAProtectedPicShowsTheNoticeAndDoesNotRead) {
    for (auto [chip, config] : {std::pair{PicChip::F876, 0x3F62}, std::pair{PicChip::F873A, 0x1F72},
                                std::pair{PicChip::F874, 0x3E72}}) {
        Page p(chip);
        p.e.pic()->setConfigWord(static_cast<std::uint16_t>(config));
        const auto from = p.mark();
        ProgrammerIdentify(p.c);
        EXPECT_EQ(p.state->picVersion, "PIC protégé contre la lecture");
        EXPECT_TRUE(p.boxes().empty());
        EXPECT_EQ(p.e.dev->log().size() - from, 13u) << "identification only";
        EXPECT_TRUE(p.state->ident.identified());
    }
}

TEST(ProgrammerFlow, IdentifyFailures) {
    struct Case {
        const char* what;
        std::function<void(Page&)> arrange;
        const char* picName;    // control 1047 afterwards
        const char* picVersion; // control 1048 afterwards
        const char* box;
    } cases[] = {
        {"no PIC on the board", [](Page& p) { p.e.dev->removePic(); }, "Unknown", "-",
         "Erreur lors de la lecture du type de PIC."},
        {"silent device", [](Page& p) { p.e.dev->faults().silentAt = p.e.next(); }, "old", "old",
         "Erreur lors de la lecture du type de PIC."},
        {"wrong echo at the configuration read",
         [](Page& p) { p.e.dev->faults().wrongEchoAt = p.e.next() + 11; }, "old", "old",
         "Erreur lors de la lecture du type de PIC."},
        {"reading fails", [](Page& p) { p.e.dev->faults().wrongEchoAt = p.e.next() + 13 + 500; },
         "PIC16F876A Rev03", "-", "Erreur lors de la lecture du PIC."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Page p(PicChip::F876A);
        p.state->picName = "old";
        p.state->picVersion = "old";
        c.arrange(p);
        ProgrammerIdentify(p.c);
        EXPECT_EQ(p.state->picName, c.picName);
        EXPECT_EQ(p.state->picVersion, c.picVersion);
        const auto boxes = p.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        ExpectErrorBox(boxes[0], c.box);
        // The last request is the page's own leave.
        const auto& last = p.e.dev->log().entries().back();
        EXPECT_EQ(last.request[1], 'Y');
        EXPECT_EQ(last.request[2], kTargetLeave);
        EXPECT_FALSE(p.state->imageFromPic);
    }
}

TEST(ProgrammerFlow, SaveAfterIdentifyWritesWhatWasRead) {
    TempDir dir;
    Page p(PicChip::F876, 2);
    ProgrammerIdentify(p.c);
    const auto from = p.mark();
    p.e.ui.queueSavePath(dir.file("board.hex"));
    ProgrammerSave(p.c);
    EXPECT_EQ(p.e.dev->log().size(), from) << "no second reading";
    EXPECT_EQ(p.e.ui.status(MessageField), "Sauvegarde: OK");
    EXPECT_EQ(p.state->savePath, dir.file("board.hex"));
    const auto* req = p.e.ui.lastDialogRequest();
    ASSERT_NE(req, nullptr);
    ASSERT_EQ(req->filters.size(), 2u);
    EXPECT_EQ(req->filters[0].label, "Hex Files (*.hex)");
    EXPECT_EQ(req->filters[0].patterns, "*.hex");
    EXPECT_EQ(req->filters[1].label, "All Files (*.*)");
    EXPECT_EQ(req->defaultExtension, "hex");
    EXPECT_TRUE(req->confirmOverwrite);

    // The file is the chip: loading it gives what the chip holds.
    auto loaded = BlankImage();
    ScriptedUi ui;
    ASSERT_EQ(LoadPicHex(ui, *loaded, dir.file("board.hex")), 1);
    for (std::uint32_t a = 0; a < 0x2000; ++a)
        ASSERT_EQ(loaded->entries[a], p.e.pic()->readBack(a));
    for (std::uint32_t a = 0; a < 0x100; ++a)
        ASSERT_EQ(loaded->entries[kPicEepromAddress + a], p.e.pic()->eepromByte(a));
    EXPECT_EQ(loaded->entries[0x2007], p.e.pic()->readBack(0x2007));
    EXPECT_EQ(ReadFile(dir.file("board.hex")).size(), 47596u);

    // The save path is offered again next time.
    p.e.ui.queueSavePath(std::nullopt);
    ProgrammerSave(p.c);
    EXPECT_EQ(p.e.ui.lastDialogRequest()->initialPath, dir.file("board.hex"));
}

TEST(ProgrammerFlow, SaveWithoutIdentificationIdentifiesAndReadsFirst) {
    TempDir dir;
    Page p(PicChip::F874A, 9);
    p.e.ui.queueSavePath(dir.file("a.hex"));
    const auto from = p.mark();
    ProgrammerSave(p.c);
    EXPECT_EQ(p.e.countY(from), 13u + 2 + 2 * 4096 + 128 + 1 + 16 + 1);
    EXPECT_EQ(p.state->picName, "PIC16F874A Rev09");
    EXPECT_EQ(p.state->picVersion, "VELKOR V2.10 14/03/2011");
    EXPECT_EQ(p.e.ui.status(MessageField), "Sauvegarde: OK");
    EXPECT_EQ(ReadFile(dir.file("a.hex")).size(), 23836u);
}

TEST(ProgrammerFlow, NothingIsSavedThatIsNotTheProgramOfTheChip) {
    struct Case {
        const char* what;
        std::function<void(Page&)> arrange;
        const char* picVersion;
        std::vector<const char*> boxes;
    } cases[] = {
        {"protected, not yet identified: read, then the notice",
         [](Page& p) { p.e.pic()->setConfigWord(0x3F42); }, "PIC protégé contre la lecture", {}},
        {"protected, identified by Identifier: the notice",
         [](Page& p) {
             p.e.pic()->setConfigWord(0x0F72);
             ProgrammerIdentify(p.c);
         },
         "PIC protégé contre la lecture", {}},
        {"protected, saved twice",
         [](Page& p) {
             p.e.pic()->setConfigWord(0x0F72);
             ProgrammerSave(p.c);
         },
         "PIC protégé contre la lecture", {}},
        {"reading fails while saving",
         [](Page& p) { p.e.dev->faults().wrongEchoAt = p.e.next() + 13 + 700; }, "-",
         {"Erreur lors de la lecture du PIC."}},
        {"identification fails while saving", [](Page& p) { p.e.dev->faults().silentAt = p.e.next() + 4; },
         "-", {"Erreur lors de la lecture du PIC."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Page p(PicChip::F877);
        c.arrange(p);
        p.e.ui.clearEvents();
        p.e.ui.queueSavePath(dir.file("x.hex"));
        ProgrammerSave(p.c);
        EXPECT_EQ(p.dialogs(), 0u) << "no save dialog";
        EXPECT_FALSE(Exists(dir.file("x.hex")));
        EXPECT_EQ(p.state->picVersion, c.picVersion);
        const auto boxes = p.boxes();
        ASSERT_EQ(boxes.size(), c.boxes.size());
        for (std::size_t i = 0; i < boxes.size(); ++i)
            ExpectErrorBox(boxes[i], c.boxes[i]);
        for (const auto& t : p.e.ui.statusTexts(MessageField))
            EXPECT_NE(t, "Sauvegarde: OK");
    }
}

TEST(ProgrammerFlow, AfterAFailedReadTheNextSaveReadsAgain) {
    TempDir dir;
    Page p(PicChip::F877A);
    p.e.dev->faults().wrongEchoAt = p.e.next() + 13 + 100;
    ProgrammerIdentify(p.c);
    ASSERT_EQ(p.boxes().size(), 1u);
    p.e.dev->faults() = sim::Faults{};
    p.e.ui.queueSavePath(dir.file("b.hex"));
    const auto from = p.mark();
    ProgrammerSave(p.c);
    EXPECT_GT(p.e.countY(from), 16000u) << "read again";
    EXPECT_EQ(p.e.ui.status(MessageField), "Sauvegarde: OK");
    auto loaded = BlankImage();
    ScriptedUi ui;
    ASSERT_EQ(LoadPicHex(ui, *loaded, dir.file("b.hex")), 1);
    for (std::uint32_t a = 0; a < 0x2000; ++a)
        ASSERT_EQ(loaded->entries[a], p.e.pic()->readBack(a));
}

TEST(ProgrammerFlow, SaveCancelledOrUnwritable) {
    Page p(PicChip::F873);
    ProgrammerIdentify(p.c);
    p.e.ui.clearEvents();
    ProgrammerSave(p.c); // the dialog answers "cancelled"
    EXPECT_TRUE(p.e.ui.statusTexts(MessageField).empty());
    p.e.ui.queueSavePath(std::string("/nonexistent-folder/x.hex"));
    ProgrammerSave(p.c);
    EXPECT_EQ(p.e.ui.status(MessageField), "Sauvegarde: Erreur");
    EXPECT_EQ(p.boxes().size(), 1u) << "the writer's own message";
}

TEST(ProgrammerFlow, ProgramsEachChipFromAFile) {
    const std::pair<PicChip, std::uint16_t> chips[] = {
        {PicChip::F873, 0x3F32},  {PicChip::F874, 0x3F72},  {PicChip::F876, 0x3F32},  {PicChip::F877, 0x3F72},
        {PicChip::F873A, 0x3F72}, {PicChip::F874A, 0x3B72}, {PicChip::F876A, 0x3F32}, {PicChip::F877A, 0x3F72}};
    for (auto [chip, config] : chips) {
        Page p(chip);
        SCOPED_TRACE(p.e.info().name);
        TempDir dir;
        const std::uint32_t words = p.e.info().programWords, bytes = p.e.info().eepromBytes;
        // Save the board, then program another firmware from a file.
        ProgrammerIdentify(p.c);
        p.e.ui.queueSavePath(dir.file("old.hex"));
        ProgrammerSave(p.c);
        ASSERT_EQ(p.e.ui.status(MessageField), "Sauvegarde: OK");
        auto file = BlankImage();
        FillOtherFirmware(*file, words, bytes, config); // bit 7 clear in the file
        const std::string path = WriteHex(dir, "new.hex", *file, static_cast<int>(words), static_cast<int>(bytes));
        p.e.ui.clearEvents();
        p.e.ui.queueOpenPath(path);
        p.e.ui.queueAnswer(Answer::Yes);
        ProgrammerProgram(p.c);
        ASSERT_EQ(p.e.ui.status(MessageField), "Programmation+Vérification: OK");
        EXPECT_TRUE(p.boxes().size() == 1u && p.boxes()[0].caption == "Programmation");
        EXPECT_FALSE(p.state->ident.identified()) << "forgotten after every programming";
        EXPECT_EQ(p.state->fileVersion, "VELKOR V3.00 01/02/2024");
        EXPECT_EQ(p.e.pic()->cell(kPicConfigAddress), config | 0x80) << "bit 7 set";
        EXPECT_EQ(p.e.pic()->interruptedCycles(), 0u);

        // Read back through the page: the board holds the file.
        p.e.ui.queueSavePath(dir.file("back.hex"));
        ProgrammerSave(p.c);
        ASSERT_EQ(p.e.ui.status(MessageField), "Sauvegarde: OK");
        file->entries[kPicConfigAddress] |= 0x80;
        if (p.e.info().aFamily)
            file->entries[kPicConfigAddress] |= 0x1030; // unimplemented bits read as 1
        const std::string expected = ReadFile(WriteHex(dir, "expected.hex", *file, static_cast<int>(words),
                                                       static_cast<int>(bytes)));
        EXPECT_EQ(ReadFile(dir.file("back.hex")), expected);
        EXPECT_EQ(p.state->picVersion, "VELKOR V3.00 01/02/2024");
    }
}

TEST(ProgrammerFlow, ConfirmationAndItsRefusal) {
    TempDir dir;
    Page p(PicChip::F876A);
    auto file = BlankImage();
    FillOtherFirmware(*file, 0x2000, 0x100, 0x3F72, "NOT A BOARD");
    const std::string path = WriteHex(dir, "f.hex", *file, 0x2000, 0x100);
    p.e.ui.queueOpenPath(path);
    p.e.ui.queueAnswer(Answer::No);
    const auto from = p.mark();
    ProgrammerProgram(p.c);
    const auto boxes = p.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Programmer cette version ?\nNon trouvé...");
    EXPECT_EQ(boxes[0].caption, "Programmation");
    EXPECT_EQ(boxes[0].icon, Icon::Question);
    EXPECT_EQ(boxes[0].buttons, Buttons::YesNo);
    // 1049 showed the file's text before the question, then went back.
    ASSERT_GE(p.controls.size(), 2u);
    EXPECT_EQ(p.controls[p.controls.size() - 2], (std::pair<int, std::string>{kProgrammerFileVersion, "Non trouvé..."}));
    EXPECT_EQ(p.state->fileVersion, "-");
    EXPECT_EQ(p.e.ui.status(MessageField), "Programmation: annulée");
    EXPECT_FALSE(p.state->ident.identified());
    EXPECT_EQ(p.e.dev->log().size() - from, 13u) << "nothing sent after the identification";
    EXPECT_EQ(p.e.ui.statusTexts(MessageField)[1], "Lecture du fichier: OK");
}

TEST(ProgrammerFlow, CancellingTheOpenDialogKeepsTheIdentification) {
    Page p(PicChip::F874);
    ProgrammerProgram(p.c); // identifies, then the dialog is cancelled
    EXPECT_TRUE(p.state->ident.identified());
    const auto from = p.mark();
    ProgrammerProgram(p.c);
    EXPECT_EQ(p.e.dev->log().size(), from) << "the dialog opens at once";
    EXPECT_EQ(p.dialogs(), 2u);
}

TEST(ProgrammerFlow, ABadFileForgetsTheIdentification) {
    TempDir dir;
    Page p(PicChip::F874);
    {
        std::ofstream out(dir.file("bad.hex"));
        out << ":02000000FF7F80\r\n:00000001FF\r\n"; // a word above 0x3FFF
    }
    p.e.ui.queueOpenPath(dir.file("bad.hex"));
    ProgrammerProgram(p.c);
    EXPECT_EQ(p.e.ui.status(MessageField), "Lecture du fichier: Erreur");
    EXPECT_FALSE(p.state->ident.identified());
    EXPECT_EQ(p.boxes().size(), 1u);
    EXPECT_EQ(p.boxes()[0].caption, "Erreur fichier");
    EXPECT_EQ(p.state->openPath, dir.file("bad.hex"));
}

TEST(ProgrammerFlow, AProgrammingFailureLeavesOnceBoxesAndForgets) {
    struct Case {
        const char* what;
        PicChip chip;
        std::function<void(Page&, std::uint64_t)> fault; // given the request number of ProgramPic's first step
        std::string text;
    } cases[] = {
        {"word mode, erase", PicChip::F877, [](Page& p, std::uint64_t s) { p.e.dev->faults().wrongEchoAt = s + 5; },
         "TALMO communication: Erreur"},
        {"word mode, a word", PicChip::F877, [](Page& p, std::uint64_t s) { p.e.dev->faults().silentAt = s + 200; },
         "TALMO communication: Erreur"},
        {"block mode, EEPROM", PicChip::F877A,
         [](Page& p, std::uint64_t s) { p.e.dev->faults().wrongEchoAt = s + 7 + 8192 * 2 + 2 + 30; },
         "TALMO communication: Erreur"},
        {"word mode, stuck bit", PicChip::F876,
         [](Page& p, std::uint64_t) { p.e.pic()->stickBit(0x0100, 2, true); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Page p(c.chip);
        auto file = BlankImage();
        FillOtherFirmware(*file, 0x2000, 0x100, 0x3F72);
        file->entries[0x0100] = 0x1230; // bit 2 clear
        const std::string path = WriteHex(dir, "f.hex", *file, 0x2000, 0x100);
        ProgrammerIdentify(p.c);
        p.e.ui.queueOpenPath(path);
        p.e.ui.queueAnswer(Answer::Yes);
        c.fault(p, p.e.next());
        p.e.ui.clearEvents();
        ProgrammerProgram(p.c);
        const std::string text = c.text.empty() ? "Erreur PROG 0x0100:1230!=1234" : c.text;
        EXPECT_EQ(p.e.ui.status(MessageField), text);
        const auto boxes = p.boxes();
        ASSERT_EQ(boxes.size(), 2u);
        ExpectErrorBox(boxes[1], "Erreur lors de la programmation du PIC.");
        // After the failed step: exactly one request, the page's leave.
        const auto& log = p.e.dev->log().entries();
        EXPECT_EQ(log.back().request[2], kTargetLeave);
        EXPECT_NE(log[log.size() - 2].request[2], kTargetLeave);
        EXPECT_FALSE(p.state->ident.identified());
    }
}

TEST(ProgrammerFlow, BackEmptiesTheMessageFieldAndSendsNothing) {
    Page p(PicChip::F873A);
    p.e.ui.setStatusText(MessageField, "Lecture: OK");
    const auto from = p.mark();
    ProgrammerBack(p.c);
    EXPECT_EQ(p.e.ui.status(MessageField), "");
    EXPECT_EQ(p.e.dev->log().size(), from);
}
