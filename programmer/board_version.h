// The VELKOR board firmware keeps its version text in program memory as a
// table of RETLW instructions (0x34 in bits 8-15, one character in bits 0-7)
// that begins with the board's name.
#pragma once

#include <cstdint>
#include <string>

namespace talmo {

struct PicImage;

constexpr std::size_t kBoardVersionMaxChars = 30;

// The version text found in the first programSize words of the image: from
// "VELKOR" to the end of the RETLW table, before a third space or after 30
// characters, whichever comes first; "Non trouvé..." when the name is absent.
// Characters are taken as Latin-1 and returned in UTF-8.
std::string FindBoardVersion(const PicImage& image, std::uint32_t programSize);

} // namespace talmo
