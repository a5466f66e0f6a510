// Finding the board firmware's version text in a PIC image.
#include "programmer/board_version.h"
#include "programmer/pic_image.h"

#include <gtest/gtest.h>

#include <memory>

using namespace talmo;

namespace {

// Writes `text` as a RETLW table (0x34xx) from `at`; the word after it stays
// as it was (blank 0x3FFF: not a RETLW, so the table ends there).
void PutTable(PicImage& image, std::uint32_t at, const std::string& text, std::uint32_t op = 0x34) {
    for (std::size_t k = 0; k < text.size(); ++k)
        image.entries[at + k] = (op << 8) | static_cast<std::uint8_t>(text[k]);
}

std::unique_ptr<PicImage> Blank() {
    auto image = std::make_unique<PicImage>();
    ResetPicImage(*image);
    return image;
}

} // namespace

TEST(FindBoardVersion, Cases) {
    struct Case {
        const char* what;
        std::uint32_t size;
        std::function<void(PicImage&)> fill;
        const char* expected;
    } cases[] = {
        {"name, version, date, more", 0x2000,
         [](PicImage& i) { PutTable(i, 0x0123, "VELKOR V2.10 14/03/2011 Rev B"); }, "VELKOR V2.10 14/03/2011"},
        {"table ends before the third space", 0x1000,
         [](PicImage& i) { PutTable(i, 0x0800, "VELKOR V1.02"); }, "VELKOR V1.02"},
        {"cut at 30 characters", 0x2000,
         [](PicImage& i) { PutTable(i, 0x10, "VELKOR_ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"); },
         "VELKOR_ABCDEFGHIJKLMNOPQRSTUVW"},
        {"cut at 30 characters with one space", 0x2000,
         [](PicImage& i) { PutTable(i, 0, "VELKOR 123456789012345678901234 x y"); },
         "VELKOR 12345678901234567890123"},
        {"the copy goes on only over RETLW words", 0x2000,
         [](PicImage& i) {
             PutTable(i, 0x40, "VELKOR V3");
             i.entries[0x43] = 0x004B; // 'K' in a word that is not a RETLW
         },
         "VEL"},
        {"not in the image", 0x2000, [](PicImage&) {}, "Non trouvé..."},
        {"name on words that are not consecutive", 0x2000,
         [](PicImage& i) {
             PutTable(i, 0x200, "VELK");
             PutTable(i, 0x205, "OR V1");
         },
         "Non trouvé..."},
        {"only the low bytes are compared", 0x2000,
         [](PicImage& i) {
             PutTable(i, 0x40, "VELKOR V3");
             i.entries[0x40] = 0x0056; // 'V' in a word that is not a RETLW
         },
         "VELKOR V3"},
        {"the first match wins", 0x2000,
         [](PicImage& i) {
             PutTable(i, 0x300, "VELKOR A");
             PutTable(i, 0x100, "VELKOR B");
         },
         "VELKOR B"},
        {"name ten words before the end is not searched", 0x1000,
         [](PicImage& i) { PutTable(i, 0x1000 - 10, "VELKOR V1"); }, "Non trouvé..."},
        {"name eleven words before the end is found", 0x1000,
         [](PicImage& i) { PutTable(i, 0x1000 - 11, "VELKOR V1.0"); }, "VELKOR V1.0"},
        {"copy stops at the end of program memory", 0x1000,
         [](PicImage& i) { PutTable(i, 0x1000 - 11, "VELKOR V1.0XYZ"); }, "VELKOR V1.0"},
        {"a table in the second half of an 8K image is ignored for a 4K chip", 0x1000,
         [](PicImage& i) { PutTable(i, 0x1800, "VELKOR V9"); }, "Non trouvé..."},
        {"a word past the end with a RETLW ends the copy at the end", 0x2000,
         [](PicImage& i) {
             PutTable(i, 0x2000 - 11, "VELKOR V2.0");
             i.entries[0x2000] = 0x3441; // first ID word
         },
         "VELKOR V2.0"},
        {"Latin-1 characters come out in UTF-8", 0x2000,
         [](PicImage& i) { PutTable(i, 0x50, "VELKOR v\xE9rifi\xE9"); }, "VELKOR vérifié"},
        {"a NUL ends the text", 0x2000,
         [](PicImage& i) { PutTable(i, 0x50, std::string("VELKOR V1\0XX", 12)); }, "VELKOR V1"},
        {"no identified PIC", 0,
         [](PicImage& i) { PutTable(i, 0, "VELKOR V1"); }, "Non trouvé..."},
        {"sizes past the image are held to program memory", 0xFFFFFFFF,
         [](PicImage& i) { PutTable(i, 0x1FF0, "VELKOR V7"); }, "VELKOR V7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto image = Blank();
        c.fill(*image);
        EXPECT_EQ(FindBoardVersion(*image, c.size), c.expected);
    }
}
