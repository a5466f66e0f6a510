// The 'Y' steps and the use of their answers on a recording stand-in for the
// device; the chip table, the protection test and the board version search.
#include "programmer/board_version.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "programmer/pic_program.h"
#include "programmer/pic_read.h"
#include "programmer/target_commands.h"
#include "shell/scripted_ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

using namespace talmo;

namespace {

using Answerer = std::function<std::optional<Report>(const Report& request)>;

// A link whose requests are recorded and answered by `answer` (nothing: no
// answer).
struct FakeLink {
    struct End final : HidHandle {
        FakeLink& f;
        explicit End(FakeLink& link) : f(link) {}
        int write(const std::uint8_t* buf, std::size_t len) override {
            f.requests.emplace_back();
            std::copy_n(buf, std::min<std::size_t>(len, kReportSize), f.requests.back().begin());
            f.pending = f.answer(f.requests.back());
            return static_cast<int>(len);
        }
        int read(std::uint8_t* buf, std::size_t len, int) override {
            if (!f.pending)
                return 0;
            std::copy_n(f.pending->begin(), std::min<std::size_t>(len, kReportSize), buf);
            f.pending.reset();
            return static_cast<int>(len);
        }
    };
    std::vector<Report> requests;
    Answerer answer;
    std::optional<Report> pending;
    DeviceLink link;
    explicit FakeLink(Answerer a) : answer(std::move(a)) {
        link.readHandle = std::make_unique<End>(*this);
        link.writeHandle = std::make_unique<End>(*this);
        link.inputReportLength = link.outputReportLength = kReportSize;
    }
};

Report WithWord(Report r, std::uint8_t high, std::uint8_t low) {
    r[2] = high;
    r[3] = low;
    return r;
}

} // namespace

TEST(TargetSteps, SetOnlyTheirOwnBytesAndNeedTheEcho) {
    using Step = std::function<bool(DeviceLink&, Report&)>;
    const std::pair<Step, std::vector<int>> cases[] = {
        {[](DeviceLink& l, Report& r) { return TargetEnter(l, r); }, {0, 'Y', 0}},
        {[](DeviceLink& l, Report& r) { return TargetLeave(l, r); }, {0, 'Y', 1}},
        {[](DeviceLink& l, Report& r) { return TargetCommand(l, r, 0x06); }, {0, 'Y', 3, 0x06}},
        {[](DeviceLink& l, Report& r) { return TargetLoad(l, r, 0x03, 0x3AE7); }, {0, 'Y', 4, 0x03, 0x3A, 0xE7}},
        {[](DeviceLink& l, Report& r) { return TargetRead(l, r, 0x04, nullptr); }, {0, 'Y', 2, 0x04}},
    };
    for (const auto& [step, bytes] : cases) {
        SCOPED_TRACE(bytes[2]);
        FakeLink echo([](const Report& r) { return std::optional<Report>(r); });
        Report report;
        report.fill(0xA5); // what the previous answer left
        ASSERT_TRUE(step(echo.link, report));
        ASSERT_EQ(echo.requests.size(), 1u);
        for (std::size_t i = 0; i < kReportSize; ++i)
            EXPECT_EQ(echo.requests[0][i], i < bytes.size() ? bytes[i] : 0xA5) << "byte " << i;
        // No answer, or another letter than 'Y', fails the step.
        for (int letter : {0, int{'y'}}) {
            FakeLink bad([letter](const Report& r) -> std::optional<Report> {
                Report a = r;
                a[1] = static_cast<std::uint8_t>(letter);
                return letter ? std::optional<Report>(a) : std::nullopt;
            });
            EXPECT_FALSE(step(bad.link, report));
        }
    }
}

// A program word is all sixteen bits of bytes 2 and 3; an EEPROM byte is
// byte 3 alone.
TEST(TargetSteps, AnswersAreUsedAsTheyCome) {
    FakeLink chip([](const Report& r) -> std::optional<Report> {
        if (r[2] != kTargetRead)
            return r;
        return r[3] == pic_cmd::ReadDataMemory ? WithWord(r, 0x3F, 0xA7) : WithWord(r, 0x40, 0x00);
    });
    ScriptedUi ui;
    auto image = std::make_unique<PicImage>();
    const PicIdentification ident{16, 8, 0, 0x3FFF};
    ASSERT_EQ(ReadPic(chip.link, ui, *image, ident), 1);
    for (std::uint32_t a = 0; a < 16; ++a)
        EXPECT_EQ(image->entries[a], 0x4000u);
    for (std::uint32_t a = 0; a < 8; ++a)
        EXPECT_EQ(image->entries[kPicEepromAddress + a], 0xA7u);
    EXPECT_EQ(image->entries[kPicEepromAddress + 8], 0x3FFFu);

    // 0x4000 differs from every 14-bit word: the first compare fails.
    ResetPicImage(*image);
    EXPECT_EQ(ProgramPic(chip.link, ui, *image, ident), 0);
    EXPECT_EQ(ui.status(MessageField), "Erreur PROG 0x0000:3FFF!=4000");
}

TEST(PicTables, UnlistedDeviceIdsAndProtection) {
    for (std::uint16_t id : {0x3FFF, 0x0000, 0x0980, 0x0E80, 0x2E24}) {
        EXPECT_EQ(FindPicModel(id), nullptr) << id;
        EXPECT_EQ(PicDisplayName(id), "Unknown");
    }
    const std::pair<std::uint32_t, bool> words[] = {
        {0x3FFF, false}, {0x3130, false}, {0x3B7A, false}, {0xFFFF, false}, {0x0000, true}, {0x1FFF, true},
        {0x2FFF, true},  {0x3EFF, true},  {0x3FDF, true},  {0x3FEF, true},  {0x0130, true},
    };
    for (auto [word, isProtected] : words)
        EXPECT_EQ(PicProtected(word), isProtected) << std::hex << word;
}

TEST(FindBoardVersion, Cases) {
    const struct {
        const char* what;
        std::uint32_t size; // program words searched
        std::uint32_t at;   // a RETLW table of that text there
        std::string text;
        const char* expected;
        std::uint32_t at2 = 0; // and maybe a second one
        std::string text2 = {};
        std::uint32_t poke = 0, pokeValue = 0; // then one word changed
    } cases[] = {
        {"up to the third space", 0x2000, 0x123, "VELKOR V2.10 14/03/2011 Rev B", "VELKOR V2.10 14/03/2011"},
        {"up to the table's end", 0x1000, 0x800, "VELKOR V1.02", "VELKOR V1.02"},
        {"30 characters at most", 0x2000, 0x10, "VELKOR_ABCDEFGHIJKLMNOPQRSTUVWXYZ01", "VELKOR_ABCDEFGHIJKLMNOPQRSTUVW"},
        {"only over RETLW words", 0x2000, 0x40, "VELKOR V3", "VEL", 0, {}, 0x43, 0x004B},
        {"the name on low bytes alone", 0x2000, 0x40, "VELKOR V3", "VELKOR V3", 0, {}, 0x40, 0x0056},
        {"absent", 0x2000, 0, "", "Non trouvé..."},
        {"name split", 0x2000, 0x200, "VELK", "Non trouvé...", 0x205, "OR V1"},
        {"the first wins", 0x2000, 0x300, "VELKOR A", "VELKOR B", 0x100, "VELKOR B"},
        {"ten words before the end", 0x1000, 0x1000 - 10, "VELKOR V1", "Non trouvé..."},
        {"eleven words before the end", 0x1000, 0x1000 - 11, "VELKOR V1.0", "VELKOR V1.0"},
        {"the copy stops at the end", 0x1000, 0x1000 - 11, "VELKOR V1.0XYZ", "VELKOR V1.0"},
        {"Latin-1 to UTF-8", 0x2000, 0x50, "VELKOR v\xE9rifi\xE9", "VELKOR vérifié"},
        {"NUL ends the text", 0x2000, 0x50, std::string("VELKOR V1\0XX", 12), "VELKOR V1"},
        {"no PIC identified", 0, 0, "VELKOR V1", "Non trouvé..."},
        {"a size past the image", 0xFFFFFFFF, 0x1FF0, "VELKOR V7", "VELKOR V7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto image = std::make_unique<PicImage>();
        ResetPicImage(*image);
        for (auto [at, text] : {std::pair{c.at, c.text}, std::pair{c.at2, c.text2}})
            for (std::size_t k = 0; k < text.size(); ++k)
                image->entries[at + k] = 0x3400u | static_cast<std::uint8_t>(text[k]);
        if (c.poke)
            image->entries[c.poke] = c.pokeValue;
        EXPECT_EQ(FindBoardVersion(*image, c.size), c.expected);
    }
}
