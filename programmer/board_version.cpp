#include "programmer/board_version.h"

#include "core/latin1.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"

#include <algorithm>

namespace talmo {

namespace {

constexpr char kBoardName[] = "VELKOR";
constexpr std::uint32_t kRetlw = 0x34;

} // namespace

std::string FindBoardVersion(const PicImage& image, std::uint32_t programSize) {
    // Program memory never exceeds 0x2000 words; the word just past the last
    // one (which the copy may look at) is then still inside the image.
    const std::int64_t p = std::min<std::uint32_t>(programSize, kPicMaxProgramWords);
    auto low = [&](std::int64_t i) { return static_cast<std::uint8_t>(image.entries[i] & 0xFF); };
    auto high = [&](std::int64_t i) { return (image.entries[i] >> 8) & 0xFF; };

    std::int64_t i = 0;
    bool found = false;
    for (; i < p - 10; ++i) {
        found = true;
        for (int k = 0; k < 6 && found; ++k)
            found = low(i + k) == static_cast<std::uint8_t>(kBoardName[k]);
        if (found)
            break;
    }

    std::string text;
    if (found) {
        std::size_t copied = 0;
        int spaces = 0;
        while (i < p && copied < kBoardVersionMaxChars) {
            const std::uint8_t c = low(i);
            if (c == 0)
                break; // a NUL ends the text where it stands
            AppendLatin1(text, c);
            ++copied;
            ++i;
            if (low(i) == ' ')
                ++spaces;
            if (high(i) != kRetlw || spaces >= 3)
                break;
        }
    }
    if (text.empty())
        return "Non trouvé...";
    return text;
}

} // namespace talmo
