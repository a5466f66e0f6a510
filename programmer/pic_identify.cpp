#include "programmer/pic_identify.h"

#include "core/ui.h"
#include "programmer/target_commands.h"

#include <cstdio>

namespace talmo {

namespace {

constexpr PicModel kModels[] = {
    {0x4B, "PIC16F873", 0x1000, 0x80, 0},   {0x49, "PIC16F874", 0x1000, 0x80, 0},
    {0x4F, "PIC16F876", 0x2000, 0x100, 0},  {0x4D, "PIC16F877", 0x2000, 0x100, 0},
    {0x72, "PIC16F873A", 0x1000, 0x80, 1},  {0x73, "PIC16F874A", 0x1000, 0x80, 1},
    {0x70, "PIC16F876A", 0x2000, 0x100, 1}, {0x71, "PIC16F877A", 0x2000, 0x100, 1},
};

} // namespace

const PicModel* FindPicModel(std::uint16_t deviceId) {
    const std::uint16_t code = deviceId >> 5;
    for (const PicModel& m : kModels)
        if (m.deviceCode == code)
            return &m;
    return nullptr;
}

std::string PicDisplayName(std::uint16_t deviceId) {
    const PicModel* m = FindPicModel(deviceId);
    if (!m)
        return "Inconnu";
    char text[32];
    std::snprintf(text, sizeof text, "%s Rev%02d", m->name, deviceId & 0x1F);
    return text;
}

IdentifyOutcome IdentifyPic(DeviceLink& link, Ui& ui, PicIdentification& ident) {
    ident = PicIdentification{};
    IdentifyOutcome out;
    Report report{};

    if (!TargetLeave(link, report) || !TargetEnter(link, report))
        return out;
    if (!TargetLoad(link, report, pic_cmd::LoadConfiguration, 0x0000))
        return out;
    for (int i = 0; i < 6; ++i)
        if (!TargetCommand(link, report, pic_cmd::IncrementAddress))
            return out;
    std::uint16_t id = 0;
    if (!TargetRead(link, report, pic_cmd::ReadProgramData, &id))
        return out;
    out.deviceId = id;
    char text[32];
    std::snprintf(text, sizeof text, "PIC: 0x%04X", id);
    ui.setStatusText(MessageField, text);

    if (!TargetCommand(link, report, pic_cmd::IncrementAddress))
        return out;
    std::uint16_t config = 0;
    if (!TargetRead(link, report, pic_cmd::ReadProgramData, &config))
        return out;
    ident.configWord = config;
    if (!TargetLeave(link, report))
        return out;

    out.sequenceCompleted = true;
    out.picText = PicDisplayName(id);
    if (const PicModel* m = FindPicModel(id)) {
        ident.programSize = m->programSize;
        ident.eepromSize = m->eepromSize;
        ident.aFamily = m->aFamily;
        out.result = true;
    }
    return out;
}

} // namespace talmo
