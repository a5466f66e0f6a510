#include "programmer/target_commands.h"

namespace talmo {

namespace {

void Frame(Report& report, std::uint8_t sub) {
    report[0] = 0;
    report[1] = kTargetLetter;
    report[2] = sub;
}

// Write, read into the same buffer, and judge the answer by its 'Y' echo.
bool Step(DeviceLink& link, Report& report) {
    WriteReport(link, report);
    const int count = ReadReport(link, report);
    return EchoOk(count, report, kTargetLetter);
}

} // namespace

bool TargetEnter(DeviceLink& link, Report& report) {
    Frame(report, kTargetEnter);
    return Step(link, report);
}

bool TargetLeave(DeviceLink& link, Report& report) {
    Frame(report, kTargetLeave);
    return Step(link, report);
}

bool TargetCommand(DeviceLink& link, Report& report, std::uint8_t code) {
    Frame(report, kTargetCommand);
    report[3] = code;
    return Step(link, report);
}

bool TargetLoad(DeviceLink& link, Report& report, std::uint8_t code, std::uint16_t word) {
    Frame(report, kTargetLoad);
    report[3] = code;
    report[4] = static_cast<std::uint8_t>(word >> 8);
    report[5] = static_cast<std::uint8_t>(word & 0xFF);
    return Step(link, report);
}

bool TargetRead(DeviceLink& link, Report& report, std::uint8_t code, std::uint16_t* word) {
    Frame(report, kTargetRead);
    report[3] = code;
    if (!Step(link, report))
        return false;
    if (word)
        *word = static_cast<std::uint16_t>(report[2] * 256 + report[3]);
    return true;
}

} // namespace talmo
