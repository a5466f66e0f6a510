// Fuzz target: the PIC HEX reader over arbitrary text.
#include "programmer/pic_image.h"
#include "tests/common/scripted_ui.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talmo::ScriptedUi ui;
    static talmo::PicImage image;
    const int result = talmo::LoadPicHexText(
        ui, image, std::string_view(reinterpret_cast<const char*>(data), size));
    // One message exactly when the file is refused, none when accepted.
    const std::size_t boxes = ui.boxes().size();
    if ((result == 1 && boxes != 0) || (result == 0 && boxes != 1) || (result != 0 && result != 1))
        __builtin_trap();
    // An accepted file never leaves a word above 14 bits in the image.
    if (result == 1)
        for (std::uint32_t v : image.entries)
            if (v > talmo::kPicBlankWord)
                __builtin_trap();
    return 0;
}
