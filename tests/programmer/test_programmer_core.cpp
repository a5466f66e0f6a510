// The chip table, the protection test and the board version search.
#include "programmer/board_version.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"

#include <gtest/gtest.h>

#include <memory>

using namespace talmo;

TEST(PicTables, UnlistedDeviceIdsAndProtection) {
    for (std::uint16_t id : {0x3FFF, 0x0000, 0x0980, 0x0E80, 0x2E24}) {
        EXPECT_EQ(FindPicModel(id), nullptr) << id;
        EXPECT_EQ(PicDisplayName(id), "Inconnu");
    }
    const std::pair<std::uint32_t, bool> words[] = {
        {0x3FFF, false}, {0x3130, false}, {0x3B7A, false}, {0xFFFF, false},
        {0x0000, true},  {0x1FFF, true},  {0x2FFF, true},  {0x3EFF, true},
        {0x3FDF, true},  {0x3FEF, true},  {0x0130, true},
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
        {"up to the third space", 0x2000, 0x123, "VELKOR V2.10 14/03/2011 Rev B",
         "VELKOR V2.10 14/03/2011"},
        {"up to the table's end", 0x1000, 0x800, "VELKOR V1.02", "VELKOR V1.02"},
        {"30 characters at most", 0x2000, 0x10, "VELKOR_ABCDEFGHIJKLMNOPQRSTUVWXYZ01",
         "VELKOR_ABCDEFGHIJKLMNOPQRSTUVW"},
        {"only over RETLW words", 0x2000, 0x40, "VELKOR V3", "VEL", 0, {}, 0x43, 0x004B},
        {"the name on low bytes alone",
         0x2000,
         0x40,
         "VELKOR V3",
         "VELKOR V3",
         0,
         {},
         0x40,
         0x0056},
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
