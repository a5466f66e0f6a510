// Fuzz target: the firmware HEX reader over arbitrary text.
#include "tests/common/scripted_ui.h"
#include "updater/firmware_image.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    talmo::ScriptedUi ui;
    static talmo::FirmwareImage image;
    const int result = talmo::LoadFirmwareHexText(
        ui, image, std::string_view(reinterpret_cast<const char*>(data), size));
    const std::size_t boxes = ui.boxes().size();
    if ((result == 1 && boxes != 0) || (result == 0 && boxes != 1) || (result != 0 && result != 1))
        __builtin_trap();
    return 0;
}
