#include "programmer/pic_read.h"

#include "core/ui.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "programmer/target_commands.h"

#include <algorithm>
#include <cstdio>

namespace talmo {

bool ReadPic(DeviceLink& link, Ui& ui, PicImage& image, const PicIdentification& ident) {
    ResetPicImage(image);
    // Sizes beyond the image's areas cannot come from identification; clamp
    // so that no entry outside them is ever written.
    const std::uint32_t p = std::min<std::uint32_t>(ident.programSize, kPicMaxProgramWords);
    const std::uint32_t e = std::min<std::uint32_t>(ident.eepromSize, kPicMaxEepromBytes);
    Report report{};
    // Progress: one step per program address, then the eight words of the ID zone.
    const std::uint32_t steps = p + 8;

    if (!TargetLeave(link, report) || !TargetEnter(link, report))
        return false;
    char text[64];
    for (std::uint32_t a = 0; a < p; ++a) {
        ui.progress("Lecture", a, steps);
        if (a % 20 == 0) {
            std::snprintf(text, sizeof text, "Lecture de l'adresse: 0x%04X/0x%04X", a, p);
            ui.setStatusText(MessageField, text);
        }
        std::uint16_t word = 0;
        if (!TargetRead(link, report, pic_cmd::ReadProgramData, &word))
            return false;
        image.entries[a] = word;
        if (a < e) {
            if (!TargetRead(link, report, pic_cmd::ReadDataMemory, nullptr))
                return false;
            image.entries[kPicEepromAddress + a] = report[3];
        }
        if (!TargetCommand(link, report, pic_cmd::IncrementAddress))
            return false;
    }
    if (!TargetLoad(link, report, pic_cmd::LoadConfiguration, 0x0000))
        return false;
    ui.progress("Lecture zone ID", p, steps);
    ui.setStatusText(MessageField, "Lecture zone ID: 0x2000/0x2007");
    for (std::uint32_t k = 0; k < 8; ++k) {
        ui.progress("Lecture zone ID", p + k, steps);
        std::uint16_t word = 0;
        if (!TargetRead(link, report, pic_cmd::ReadProgramData, &word))
            return false;
        image.entries[kPicIdAddress + k] = word;
        if (!TargetCommand(link, report, pic_cmd::IncrementAddress))
            return false;
    }
    // The image keeps neither the two reserved words nor the device ID.
    for (std::uint32_t k = 4; k <= 6; ++k)
        image.entries[kPicIdAddress + k] = kPicBlankWord;
    if (!TargetLeave(link, report))
        return false;
    ui.progress("Lecture zone ID", steps, steps);
    ui.setStatusText(MessageField, "Lecture: OK");
    return true;
}

} // namespace talmo
