// Texts that come from the devices' memories are Latin-1 bytes; the
// program's texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace talmo {

// Appends one Latin-1 character to a UTF-8 text.
inline void AppendLatin1(std::string& text, std::uint8_t c) {
    if (c < 0x80) {
        text.push_back(static_cast<char>(c));
    } else {
        text.push_back(static_cast<char>(0xC0 | (c >> 6)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace talmo
