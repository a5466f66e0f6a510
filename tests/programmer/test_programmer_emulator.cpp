// Identification, reading, programming and the programmer page's buttons
// (without widgets) against the emulated board, in strict timing mode.
#include "emulator.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_program.h"
#include "programmer/pic_read.h"
#include "programmer/programmer_flow.h"
#include "programmer/target_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

using namespace talmo;
using namespace talmo::test;
using sim::PicChip;

namespace {

constexpr std::uint8_t L = kTargetLeave, N = kTargetEnter, R = kTargetRead, C = kTargetCommand,
                       D = kTargetLoad;
constexpr char kComError[] = "TALMO communication: Erreur";

// The page's data and buttons on an emulated board, shown once.
struct Page {
    Emulator e;
    std::unique_ptr<ProgrammerState> state = std::make_unique<ProgrammerState>();
    std::vector<std::pair<int, std::string>> controls; // every control change, in order
    ProgrammerContext c{e.link, e.ui, *state,
                        [this](int id, const std::string& t) { controls.emplace_back(id, t); }};

    std::size_t start = 0; // the log's size once shown

    explicit Page(PicChip chip, unsigned revision = 3) : e(chip, revision) {
        ProgrammerShown(c);
        e.ui.clearEvents();
        start = mark();
    }
    std::size_t mark() { return e.mark(); }
    std::uint8_t lastSub(std::size_t back = 1) {
        return e.dev->log().entries().end()[-static_cast<long>(back)].request[2];
    }
    std::size_t dialogs() {
        return std::count_if(e.ui.events().begin(), e.ui.events().end(), [](const UiEvent& ev) {
            return ev.kind == UiEvent::OpenDialog || ev.kind == UiEvent::SaveDialog;
        });
    }
};

// The file the program's own writer makes of that image.
std::string WriteHex(const TempDir& dir, const std::string& name, const PicImage& image,
                     std::uint32_t p, std::uint32_t e) {
    ScriptedUi ui;
    EXPECT_EQ(SavePicHex(ui, image, dir.file(name), static_cast<int>(p), static_cast<int>(e)), 1);
    return dir.file(name);
}

// The file that saving a reading of the chip must give.
std::string ChipHex(Emulator& e, const TempDir& dir) {
    auto image = BlankImage();
    const auto& info = e.info();
    for (std::uint32_t a = 0; a < info.programWords; ++a)
        image->entries[a] = e.pic()->readBack(a);
    for (std::uint32_t a = 0; a < info.eepromBytes; ++a)
        image->entries[kPicEepromAddress + a] = e.pic()->eepromByte(a);
    for (std::uint32_t k : {0, 1, 2, 3, 7})
        image->entries[kPicIdAddress + k] = e.pic()->readBack(kPicIdAddress + k);
    return ReadFile(WriteHex(dir, "chip.hex", *image, info.programWords, info.eepromBytes));
}

// What the chip's cells hold (protected or not) against the image.
void ExpectChipHolds(Emulator& e, const PicImage& image) {
    const auto& info = e.info();
    for (std::uint32_t a = 0; a < info.programWords; ++a)
        ASSERT_EQ(e.pic()->cell(a), image.entries[a]) << "program word " << a;
    for (std::uint32_t a = 0; a < info.eepromBytes; ++a)
        ASSERT_EQ(e.pic()->eepromByte(a), image.entries[kPicEepromAddress + a] & 0xFF)
            << "EEPROM byte " << a;
    for (std::uint32_t k : {0, 1, 2, 3, 7})
        ASSERT_EQ(e.pic()->cell(kPicIdAddress + k), image.entries[kPicIdAddress + k])
            << "ID word " << k;
}

// A message box as "caption: text (icon, buttons)".
std::string Box(const UiEvent& b) {
    const char* icon = b.icon == Icon::Error      ? "error"
                       : b.icon == Icon::Question ? "question"
                                                  : "?";
    const char* buttons = b.buttons == Buttons::Ok      ? "ok"
                          : b.buttons == Buttons::YesNo ? "yes/no"
                                                        : "?";
    return b.caption + ": " + b.text + " (" + icon + ", " + buttons + ")";
}
std::string ErrorBox(const std::string& text) { return "Erreur: " + text + " (error, ok)"; }

} // namespace

TEST(PicSequences, StepsInOrder) {
    // Steps as text, "+n" where the program waited n ms before the next one.
    const char* idPhaseWord =
        "R04 C06 D00=0000 D02=1230 C08 +16 R04 C06 D02=1231 C08 +16 R04 C06 D02=1232 C08 +16 "
        "R04 C06 D02=1233 C08 +16 R04 C06 C06 C06 C06 D02=3FFF C08 +16 R04 C06 L";
    const char* idPhaseBlock =
        "L N C06 D03=005A C18 C17 C06 C06 | C06 D00=0000 D02=1230 C06 D02=1231 C06 D02=1232 C06 "
        "D02=1233 C08 +16 D00=0000 C06 C06 C06 C06 C06 C06 C06 D02=3FFF C08 +16 L N R04 C06 | "
        "R04 C06 D00=0000 R04 C06 R04 C06 R04 C06 R04 C06 C06 C06 C06 L";
    const struct {
        const char* what;
        PicChip chip;
        std::uint16_t config; // on the chip beforehand
        std::uint16_t word;   // at 0x13 in the image programmed (0: identification only)
        const char* steps;    // the first steps of the run
        const char*
            later; // further runs of steps, in order, separated by " | "; the last one ends the run
        std::size_t loads, programs; // Load Program Data and Begin Programming Only in the run
    } cases[] = {
        {"identification", PicChip::F877A, 0x3FFF, 0,
         "L N D00=0000 C06 C06 C06 C06 C06 C06 R04 C06 R04 L", "", 0, 0},
        {"word mode: program memory, then data memory", PicChip::F876, 0x3F72, 0x3FFF,
         "L N D02=3FFF C01 C07 C08 +16 C01 C07 D03=3FFF C01 C07 C08 +16 C01 C07 +16 R04 R05 C06 "
         "R04 D03=005A C18 +8 R05 C06",
         idPhaseWord, 6, 1},
        {"word mode, protected: through the configuration word", PicChip::F873, 0x0F42, 0x3FFF,
         "L N D00=3FFF C06 C06 C06 C06 C06 C06 C06 C01 C07 C08 +16 C01 C07 L N +16 R04 R05 C06",
         idPhaseWord, 5, 1},
        {"block mode, protected: chip erase, then both bulk erases", PicChip::F874A, 0x1E72, 0x3FFF,
         "L N C1F +20 C09 C08 +8 C0B C08 +8 C06", idPhaseBlock, 5, 1},
        {"block mode: a row with one word is loaded whole", PicChip::F877A, 0x3FFF, 0x2ABC,
         "L N C1F +20 C09 C08 +8 C0B C08 +8 C06 C06 C06 C06 C06 C06 C06 C06 C06 C06 C06 C06 C06 "
         "C06 C06 C06 "
         "D02=3FFF C06 D02=3FFF C06 D02=3FFF C06 D02=2ABC C06 D02=3FFF C06 D02=3FFF C06 D02=3FFF "
         "C06 D02=3FFF C18 C17 C06 C06",
         idPhaseBlock, 8 + 5, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Emulator e(c.chip);
        e.pic()->setConfigWord(c.config);
        auto from = e.mark();
        PicIdentification ident;
        ASSERT_EQ(IdentifyPic(e.link, e.ui, ident).result, 1);
        auto image = BlankImage();
        image->entries[0x13] = c.word;
        image->entries[kPicEepromAddress + 1] = 0x5A;
        for (std::uint32_t k = 0; k < 4; ++k)
            image->entries[kPicIdAddress + k] = 0x1230 + k;
        if (c.word) {
            e.ui.clearEvents();
            from = e.mark();
            ASSERT_EQ(ProgramPic(e.link, e.ui, *image, ident), 1) << e.ui.status(MessageField);
            // Everything, protection included, was erased.
            EXPECT_FALSE(e.pic()->programProtected(0) || e.pic()->eepromProtected());
            ExpectChipHolds(e, *image);
        }
        std::string steps;
        const auto& log = e.dev->log().entries();
        for (std::size_t i = from; i < log.size(); ++i) {
            const Report& q = log[i].request;
            if (i > from && log[i].timeUs - log[i - 1].timeUs >= 1000)
                steps += Format(
                    "+%u ", static_cast<std::uint32_t>((log[i].timeUs - log[i - 1].timeUs) / 1000));
            steps += q[2] == L   ? "L "
                     : q[2] == N ? "N "
                                 : Format(q[2] == D   ? "D%02X=%04X "
                                          : q[2] == R ? "R%02X "
                                                      : "C%02X ",
                                          q[3], q[4] * 256u + q[5]);
        }
        EXPECT_EQ(steps.substr(0, std::strlen(c.steps) + 1), std::string(c.steps) + " ");
        EXPECT_TRUE(c.word || steps.size() == std::strlen(c.steps) + 1)
            << "an identification is 13 steps";
        std::size_t at = std::strlen(c.steps);
        for (std::string_view rest = c.later; !rest.empty();) {
            const std::size_t bar = rest.find(" | ");
            // Appended rather than " " + ...: GCC 12 at -O3 takes the
            // insertion for an overlapping copy (-Wrestrict).
            const std::string run = std::string(" ").append(rest.substr(0, bar)).append(" ");
            rest = bar == std::string_view::npos ? std::string_view{} : rest.substr(bar + 3);
            // The last run ends the steps.
            at = rest.empty()
                     ? (steps.ends_with(run) ? steps.size() - run.size() : std::string::npos)
                     : steps.find(run, at);
            ASSERT_NE(at, std::string::npos) << run;
            at += run.size() - 1;
        }
        EXPECT_EQ(e.dev->log().countTarget(D, pic_cmd::LoadProgramData, from), c.loads);
        EXPECT_EQ(e.dev->log().countTarget(C, pic_cmd::BeginProgrammingOnly, from), c.programs);
    }
}

TEST(ProgrammerFlow, EachChipIsReadSavedAndProgrammedFromAFile) {
    const struct {
        PicChip chip;
        unsigned revision;
        const char* name;
        std::uint16_t before, file; // configuration words on the chip and in the file
    } cases[] = {
        {PicChip::F873, 0, "PIC16F873 Rev00", 0x3FFF, 0x3F32},
        {PicChip::F874, 31, "PIC16F874 Rev31", 0x0F72, 0x0EF2},
        {PicChip::F876, 7, "PIC16F876 Rev07", 0x3F72, 0x3F72},
        {PicChip::F877, 1, "PIC16F877 Rev01", 0x0F72, 0x3FF2},
        {PicChip::F873A, 2, "PIC16F873A Rev02", 0x1E72, 0x1EF2},
        {PicChip::F874A, 12, "PIC16F874A Rev12", 0x3FFF, 0x3B72},
        {PicChip::F876A, 7, "PIC16F876A Rev07", 0x1F72, 0x3FF2},
        {PicChip::F877A, 4, "PIC16F877A Rev04", 0x3FFF, 0x3F72},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Page p(c.chip, c.revision);
        p.e.pic()->setConfigWord(c.before);
        const std::uint32_t words = p.e.info().programWords, bytes = p.e.info().eepromBytes;
        const std::uint32_t lastRead = words == 0x2000 ? 0x1FF4 : 0x0FF0;

        // Identifier: 13 reports, then the whole chip unless it is protected.
        auto from = p.mark();
        ProgrammerIdentify(p.c);
        const PicIdentification ident = p.state->ident;
        EXPECT_EQ(p.state->picName, c.name);
        EXPECT_EQ(ident.programSize, words);
        EXPECT_EQ(ident.eepromSize, bytes);
        EXPECT_EQ(ident.aFamily, p.e.info().aFamily ? 1u : 0u);
        auto texts = p.e.ui.statusTexts(MessageField);
        if (PicProtected(c.before)) {
            EXPECT_EQ(p.mark() - from, 13u);
            EXPECT_EQ(p.state->picVersion, "PIC protégé contre la lecture");
        } else {
            // Leave, enter, a read and an increment per word, an EEPROM read
            // at each of the first E addresses, Load Configuration, eight
            // reads and increments, leave.
            EXPECT_EQ(p.mark() - from, 13 + 2 + 2 * words + bytes + 1 + 16 + 1);
            EXPECT_EQ(p.state->picVersion, "VELKOR V2.10 14/03/2011");
            // From 0 to the total, a few steps at a time (what keeps a
            // window answering); so does the programming below.
            EXPECT_EQ(p.e.ui.progressFault(), "");
            ASSERT_EQ(texts.size(), 1 + (words + 19) / 20 + 2);
            EXPECT_EQ(texts[0], Format("PIC: 0x%04X", p.e.pic()->deviceId()));
            EXPECT_EQ(texts[1], Format("Lecture de l'adresse: 0x%04X/0x%04X", 0, words));
            EXPECT_EQ(texts.end()[-3],
                      Format("Lecture de l'adresse: 0x%04X/0x%04X", lastRead, words));
            EXPECT_EQ(texts.end()[-2], "Lecture zone ID: 0x2000/0x2007");
            EXPECT_EQ(texts.end()[-1], "Lecture: OK");
        }

        // Sauvegarder saves that reading; nothing of a protected chip.
        if (!PicProtected(c.before))
            p.e.ui.queueSavePath(dir.file("old.hex"));
        from = p.mark();
        ProgrammerSave(p.c);
        EXPECT_EQ(p.mark(), from) << "no second reading";
        EXPECT_EQ(p.dialogs(), PicProtected(c.before) ? 0u : 1u);
        EXPECT_TRUE(ReadFile(dir.file("old.hex")) ==
                    (PicProtected(c.before) ? "" : ChipHex(p.e, dir)));
        auto loaded = BlankImage();
        EXPECT_EQ(LoadPicHex(p.e.ui, *loaded, dir.file("old.hex")) == 1 &&
                      loaded->entries == p.state->image.entries,
                  !PicProtected(c.before))
            << "the image holds the reading and nothing else";

        // Programmer another firmware from a file, bit 7 of its configuration
        // word set.
        auto file = BlankImage();
        FillOtherFirmware(*file, words, bytes, c.file);
        p.e.ui.queueOpenPath(WriteHex(dir, "new.hex", *file, words, bytes));
        p.e.ui.queueAnswer(Answer::Yes);
        p.e.ui.clearEvents();
        file->entries[kPicConfigAddress] |= 0x80;
        ProgrammerProgram(p.c);
        ASSERT_EQ(p.e.ui.status(MessageField), "Programmation+Vérification: OK");
        EXPECT_EQ(p.e.ui.progressFault(), "");
        EXPECT_EQ(p.e.ui.boxes().size(), 1u);
        EXPECT_EQ(p.state->fileVersion, "VELKOR V3.00 01/02/2024");
        EXPECT_FALSE(p.state->ident.identified()) << "forgotten after every programming";
        // Runs of consecutive texts: where each phase ends and the next begins.
        std::string all;
        for (const auto& t : p.e.ui.statusTexts(MessageField))
            all += t + "\n";
        const std::string pv = "Programmation+Vérification: ",
                          v = ident.aFamily ? "Vérification: " : pv;
        std::vector<std::string> runs = {
            "Lecture du fichier: OK\nEffacement du PIC\n" +
                (ident.aFamily ? "Programmation PROG: " : pv) + "0x0000/",
            v + Format("0x%04X/0x%04X\n", lastRead, words) + v + "0x2000/0x2007\n" + pv + "OK\n"};
        if (ident.aFamily) {
            runs.push_back(
                Format("Programmation PROG: 0x%04X/0x%04X\nProgrammation EEPROM: 0x00/0x%02X\n",
                       words == 0x2000 ? 0x1FE0 : 0x0FF0, words, bytes));
            runs.push_back(
                Format("Programmation ID: 0x2000/0x2003\nVérification: 0x0000/0x%04X\n", words));
        }
        for (const auto& run : runs)
            EXPECT_NE(all.find(run), std::string::npos) << run;
        EXPECT_EQ(p.e.pic()->interruptedCycles(), 0u);
        EXPECT_EQ(p.e.pic()->cell(kPicConfigAddress), file->entries[kPicConfigAddress]);
        EXPECT_EQ(p.e.pic()->programProtected(0), PicProtected(c.file));
        ExpectChipHolds(p.e, *file);

        // Sauvegarder again identifies and reads the new contents.
        p.e.ui.queueSavePath(dir.file("back.hex"));
        ProgrammerSave(p.c);
        EXPECT_EQ(p.state->picVersion, PicProtected(c.file) ? "PIC protégé contre la lecture"
                                                            : "VELKOR V3.00 01/02/2024");
        EXPECT_TRUE(ReadFile(dir.file("back.hex")) ==
                    (PicProtected(c.file) ? "" : ChipHex(p.e, dir)));
    }
}

TEST(ProgrammerFlow, AFailedIdentificationOrReadingLeavesOnceAndSavesNothing) {
    constexpr std::uint32_t kNoPic = 0xFFFFFFFF;
    const std::uint32_t word5 = 13 + 2 + 3 * 5, idZone = 13 + 2 + 3 * 256 + 2 * (8192 - 256);
    const char* type = kProgrammerTypeError;
    const char* read = kProgrammerReadError;
    const struct {
        const char* what;
        bool save;        // Sauvegarder, else Identifier
        std::uint32_t at; // the failing request, counted from the first
        bool silent;      // no answer, else a wrong echo
        const char *picName, *picVersion, *box;
        bool identified;
        const char* message; // null: not looked at
    } cases[] = {
        {"no PIC on the board", false, kNoPic, false, "Inconnu", "-", type, false, "PIC: 0x3FFF"},
        {"first leave", false, 0, true, "old", "old", type, false, ""},
        {"increment after the ID word", false, 10, false, "old", "old", type, false, "PIC: 0x0E23"},
        {"last leave of the identification", false, 12, false, "old", "old", type, false,
         "PIC: 0x0E23"},
        {"reading: first leave", false, 13, false, "PIC16F877A Rev03", "-", read, true,
         "PIC: 0x0E23"},
        {"reading: a word", false, word5, true, "PIC16F877A Rev03", "-", read, true, nullptr},
        {"reading: an increment", false, word5 + 2, true, "PIC16F877A Rev03", "-", read, true,
         nullptr},
        {"reading: Load Configuration", false, idZone, false, "PIC16F877A Rev03", "-", read, true,
         nullptr},
        {"reading: last leave", false, idZone + 17, false, "PIC16F877A Rev03", "-", read, true,
         nullptr},
        {"saving: identification", true, 4, true, "old", "old", read, false, nullptr},
        {"saving: reading", true, 13 + 700, false, "PIC16F877A Rev03", "-", read, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Page p(PicChip::F877A);
        p.state->picName = p.state->picVersion = "old";
        if (!c.save)
            p.state->ident = PicIdentification{0x1000, 0x80, 0, 0x3FFF}; // from an earlier board
        if (c.at == kNoPic)
            p.e.dev->removePic();
        else
            (c.silent ? p.e.dev->faults().silentAt : p.e.dev->faults().wrongEchoAt) =
                p.e.next() + c.at;
        p.e.ui.queueSavePath(dir.file("x.hex"));
        const auto from = p.mark();
        c.save ? ProgrammerSave(p.c) : ProgrammerIdentify(p.c);
        EXPECT_EQ(p.mark() - from, (c.at == kNoPic ? 13 : c.at + 1) + 1)
            << "one leave after the failed step";
        EXPECT_EQ(p.lastSub(), L);
        EXPECT_EQ(p.state->picName, c.picName);
        EXPECT_EQ(p.state->picVersion, c.picVersion);
        EXPECT_EQ(p.state->ident.identified(), c.identified);
        if (c.message) {
            EXPECT_EQ(p.e.ui.status(MessageField), c.message);
        }
        const auto boxes = p.e.ui.boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(Box(boxes[0]), ErrorBox(c.box));
        EXPECT_EQ(p.dialogs(), 0u);

        // The next Sauvegarder reads the whole chip again before saving.
        if (c.at == kNoPic)
            continue;
        p.e.dev->faults() = sim::Faults{};
        ProgrammerSave(p.c);
        EXPECT_EQ(p.e.ui.status(MessageField), "Sauvegarde: OK");
        EXPECT_TRUE(ReadFile(dir.file("x.hex")) == ChipHex(p.e, dir));
    }
}

TEST(ProgrammerFlow, DialogsAndTheQuestion) {
    TempDir dir;
    Page p(PicChip::F874);
    ProgrammerIdentify(p.c);
    p.e.ui.clearEvents();

    // Sauvegarder: a cancelled dialog changes nothing, an unwritable file
    // says so, and the last path is offered again.
    ProgrammerSave(p.c);
    const FileDialogRequest* req = p.e.ui.lastDialogRequest();
    ASSERT_TRUE(req && req->filters.size() == 2u && req->confirmOverwrite);
    EXPECT_EQ(req->filters[0].label + " " + req->filters[0].patterns + " " + req->filters[1].label +
                  " " + req->defaultExtension,
              "Fichiers HEX (*.hex) *.hex Tous les fichiers (*) hex");
    EXPECT_TRUE(p.e.ui.statusTexts(MessageField).empty());
    p.e.ui.queueSavePath(std::string("/nonexistent-folder/x.hex"));
    ProgrammerSave(p.c);
    EXPECT_EQ(p.e.ui.status(MessageField), "Sauvegarde: Erreur");
    EXPECT_EQ(p.e.ui.boxes().size(), 1u) << "the writer's own message";
    ProgrammerSave(p.c);
    EXPECT_EQ(p.e.ui.lastDialogRequest()->initialPath, "/nonexistent-folder/x.hex");

    // Programmer: a cancelled dialog keeps the identification...
    ProgrammerProgram(p.c);
    EXPECT_TRUE(p.state->ident.identified());
    // ...a file that does not load forgets it...
    // A word above 0x3FFF.
    p.e.ui.queueOpenPath(WriteFile(dir.file("bad.hex"), ":02000000FF7F80\r\n:00000001FF\r\n"));
    auto from = p.mark();
    ProgrammerProgram(p.c);
    EXPECT_EQ(p.mark(), from) << "still identified: the dialog opened at once";
    EXPECT_EQ(p.e.ui.status(MessageField), "Lecture du fichier: Erreur");
    EXPECT_EQ(p.e.ui.boxes().back().caption, "Erreur fichier");
    EXPECT_FALSE(p.state->ident.identified());
    // ...so does a file that cannot be right, refused before the question:
    // no data (a blank PIC), no end record (cut off) and, where the cli asks
    // for it, data that this 4K-word PIC with 128 EEPROM bytes has no room
    // for (blank words and erased EEPROM bytes beyond it lose nothing).
    auto big = BlankImage();
    FillOtherFirmware(*big, 0x2000, 0x80, 0x3F72);
    auto wideEeprom = BlankImage();
    FillOtherFirmware(*wideEeprom, 0x1000, 0x100, 0x3F72);
    auto blankBeyond = BlankImage();
    FillOtherFirmware(*blankBeyond, 0x1000, 0x80, 0x3F72);
    const std::string whole = ReadFile(WriteHex(dir, "big.hex", *big, 0x2000, 0x80));
    const struct {
        std::string name, text;
        bool cli;
        std::string box; // empty: accepted (the question is refused)
    } files[] = {
        {"empty", "", false, "Aucune donnée pour le PIC dans le fichier..."},
        {"end record only", ":00000001FF\r\n", false,
         "Aucune donnée pour le PIC dans le fichier..."},
        {"cut off", whole.substr(0, whole.find("\r\n", whole.size() / 2) + 2), false,
         "Fichier incomplet, sans enregistrement de fin..."},
        {"8K words, in the window", whole, false, ""},
        {"8K words", whole, true, "Données au-delà de la mémoire programme du PIC..."},
        {"256 EEPROM bytes", ReadFile(WriteHex(dir, "e.hex", *wideEeprom, 0x1000, 0x100)), true,
         "Données au-delà de l'EEPROM du PIC..."},
        {"blank beyond", ReadFile(WriteHex(dir, "b.hex", *blankBeyond, 0x2000, 0x100)), true, ""},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        p.e.ui.queueOpenPath(WriteFile(dir.file("r.hex"), f.text));
        p.e.ui.queueAnswer(Answer::No);
        p.e.ui.clearEvents();
        p.c.refuseBeyondPic = f.cli;
        from = p.mark();
        ProgrammerProgram(p.c);
        EXPECT_EQ(p.mark() - from, 13u) << "identification only";
        ASSERT_EQ(p.e.ui.boxes().size(), 1u);
        EXPECT_EQ(p.e.ui.boxes()[0].caption, f.box.empty() ? "Programmation" : "Erreur fichier");
        if (!f.box.empty()) {
            EXPECT_EQ(p.e.ui.boxes()[0].text, f.box);
        }
        EXPECT_EQ(p.e.ui.status(MessageField),
                  f.box.empty() ? "Programmation: annulée" : "Lecture du fichier: Erreur");
        EXPECT_FALSE(p.state->ident.identified());
    }
    p.c.refuseBeyondPic = false;
    // ...and so does refusing the question, asked with the file's version.
    auto file = BlankImage();
    FillOtherFirmware(*file, 0x1000, 0x80, 0x3F72, "NOT A BOARD");
    p.e.ui.queueOpenPath(WriteHex(dir, "f.hex", *file, 0x1000, 0x80));
    p.e.ui.queueAnswer(Answer::No);
    p.e.ui.clearEvents();
    p.controls.clear();
    from = p.mark();
    ProgrammerProgram(p.c);
    EXPECT_EQ(p.mark() - from, 13u) << "identification only";
    const auto boxes = p.e.ui.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Box(boxes[0]),
              "Programmation: Programmer cette version ?\nNon trouvé... (question, yes/no)");
    const std::vector<std::pair<int, std::string>> shown = {
        {kProgrammerPicName, "PIC16F874 Rev03"},
        {kProgrammerFileVersion, "Non trouvé..."},
        {kProgrammerFileVersion, "-"}};
    EXPECT_EQ(p.controls, shown);
    EXPECT_EQ(p.e.ui.statusTexts(MessageField).end()[-2], "Lecture du fichier: OK");
    EXPECT_EQ(p.e.ui.status(MessageField), "Programmation: annulée");
    EXPECT_FALSE(p.state->ident.identified());
}

TEST(ProgrammerFlow, AProgrammingFailureStopsLeavesOnceAndForgets) {
    using Match = std::function<bool(const sim::TargetStep&)>;
    auto is = [](std::uint8_t sub, std::uint8_t code) -> Match {
        return [=](const sim::TargetStep& s) { return s.sub == sub && s.code == code; };
    };
    auto loads = [](std::uint16_t w) -> Match {
        return [=](const sim::TargetStep& s) {
            return s.sub == D && s.code == pic_cmd::LoadProgramData && s.word == w;
        };
    };
    const struct {
        const char* what;
        PicChip chip;
        Match match; // a communication fault at the nth request that matches...
        std::size_t nth;
        std::uint32_t cell; // ...or that bit stuck at 0 in that cell
        unsigned bit;
        const char* text; // null: the run succeeds
    } cases[] = {
        {"word: erase", PicChip::F876, is(C, 0x08), 1, 0, 0, kComError},
        {"word: program", PicChip::F876, is(C, 0x18), 10, 0, 0, kComError},
        {"word: EEPROM", PicChip::F876, is(D, 0x03), 4, 0, 0, kComError},
        {"word: verify", PicChip::F876, is(R, 0x04), 300, 0, 0, kComError},
        {"word: ID", PicChip::F876, loads(0x0223), 0, 0, 0, kComError},
        {"word: configuration", PicChip::F876, loads(0x3FF2), 0, 0, 0, kComError},
        {"block: erase", PicChip::F877A, is(C, 0x1F), 0, 0, 0, kComError},
        {"block: program", PicChip::F877A, is(C, 0x17), 20, 0, 0, kComError},
        {"block: EEPROM", PicChip::F877A, is(D, 0x03), 9, 0, 0, kComError},
        {"block: ID", PicChip::F877A, loads(0x0323), 0, 0, 0, kComError},
        {"block: configuration", PicChip::F877A, loads(0x3FF2), 0, 0, 0, kComError},
        {"block: verify", PicChip::F877A, is(R, 0x04), 5000, 0, 0, kComError},
        {"block: ID verify", PicChip::F877A, is(R, 0x04), 8192 + 2, 0, 0, kComError},
        {"word: program word", PicChip::F873, nullptr, 0, 0x0456, 3,
         "Erreur PROG 0x0456:0008!=0000"},
        {"block: program word", PicChip::F876A, nullptr, 0, 0x1FFF, 13,
         "Erreur PROG 0x1FFF:3FFF!=1FFF"},
        {"word: EEPROM byte", PicChip::F877, nullptr, 0, kPicEepromAddress + 0x42, 0,
         "Erreur EEPROM 0x0042:5B!=5A"},
        {"word: ID word", PicChip::F874, nullptr, 0, 0x2002, 1, "Erreur ID 0x2002:0323!=0321"},
        {"block: ID word", PicChip::F874A, nullptr, 0, 0x2001, 1, "Erreur ID 0x2001:0223!=0221"},
        {"word: configuration word", PicChip::F876, nullptr, 0, 0x2007, 6,
         "Erreur ID 0x2007:3FF2!=3FB2"},
        {"block: the EEPROM is not verified", PicChip::F877A, nullptr, 0, kPicEepromAddress + 0x42,
         0, nullptr},
        {"block: the configuration word is not verified", PicChip::F877A, nullptr, 0, 0x2007, 6,
         nullptr},
    };
    TempDir dir;
    auto file = BlankImage();
    FillOtherFirmware(*file, 0x2000, 0x100, 0x3FF2);
    file->entries[0x0456] = 0x0008;
    file->entries[0x1FFF] = 0x3FFF;
    file->entries[kPicEepromAddress + 0x42] = 0x5B;
    const std::string path = WriteHex(dir, "f.hex", *file, 0x2000, 0x100);
    // Programmer on a fresh page: 13 identification requests, then the run.
    auto run = [&](PicChip chip, const std::function<void(Page&)>& arrange) {
        auto p = std::make_unique<Page>(chip);
        p->e.ui.queueOpenPath(path);
        p->e.ui.queueAnswer(Answer::Yes);
        arrange(*p);
        ProgrammerProgram(p->c);
        return p;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::function<void(Page&)>> faults;
        std::size_t offset = 0; // of the faulty request in the run, found on a clean run
        if (c.match) {
            auto clean = run(c.chip, [](Page&) {});
            const auto steps = clean->e.dev->log().targetSteps(clean->start + 13);
            for (std::size_t seen = 0;
                 offset < steps.size() && !(c.match(steps[offset]) && seen++ == c.nth);)
                ++offset;
            ASSERT_LT(offset, steps.size());
            for (bool silent : {false, true})
                faults.push_back([=](Page& q) {
                    (silent ? q.e.dev->faults().silentAt : q.e.dev->faults().wrongEchoAt) =
                        q.e.next() + 13 + offset;
                });
        } else {
            faults.push_back([&](Page& q) { q.e.pic()->stickBit(c.cell, c.bit, false); });
        }
        for (const auto& fault : faults) {
            auto p = run(c.chip, fault);
            const auto boxes = p->e.ui.boxes();
            if (!c.text) {
                EXPECT_EQ(p->e.ui.status(MessageField), "Programmation+Vérification: OK");
                EXPECT_EQ(boxes.size(), 1u);
                continue;
            }
            EXPECT_EQ(p->e.ui.status(MessageField), c.text);
            if (c.match) {
                EXPECT_EQ(p->mark() - p->start, 13 + offset + 2)
                    << "nothing but one leave after the failed step";
            } else {
                EXPECT_EQ(p->lastSub(2), R) << "nothing but one leave after the compare";
            }
            EXPECT_EQ(p->lastSub(), L);
            ASSERT_EQ(boxes.size(), 2u);
            EXPECT_EQ(Box(boxes[1]), ErrorBox(kProgrammerProgramError));
            EXPECT_FALSE(p->state->ident.identified());
        }
    }
}
