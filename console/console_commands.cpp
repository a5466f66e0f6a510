#include "console/console_commands.h"

#include "core/ui.h"

namespace talmo {

namespace {

// Write and read without the echo check: the count of bytes received.
int writeRead(DeviceLink& link, Report& buffer) {
    WriteReport(link, buffer);
    return ReadReport(link, buffer);
}

constexpr int kLcdStepMs = 50;

bool lcdWrite(DeviceLink& link, Report& buffer, int line, int column, std::string_view chars,
              bool asText) {
    if (!BuildLcdWrite(buffer, line, column, chars, asText))
        return false;
    return Exchange(link, buffer);
}

} // namespace

MachineStatus RunStartSequence(DeviceLink& link, Report& buffer, StatusCache& cache, Ui& ui,
                               const std::function<void(const std::string&)>& showVersion,
                               bool jumpWhenTooOld) {
    MachineStatus result;
    cache.invalidate();

    BuildBootRequest(buffer);
    writeRead(link, buffer);

    BuildVersionRequest(buffer);
    if (Exchange(link, buffer)) {
        result.version = VersionText(buffer);
        if (showVersion)
            showVersion(*result.version);
        // Judged only on a real answer: a lost report must not send a
        // healthy device into its boot loader.
        if (FirmwareTooOld(buffer)) {
            result.tooOld = true;
            if (!jumpWhenTooOld)
                return result;
            ui.messageBox(TooOldMessage(), kTooOldCaption, Icon::Error, Buttons::Ok);
            JumpToBootLoader(link, buffer);
            return result;
        }
    }

    BuildFlashRequest(buffer);
    if (Exchange(link, buffer))
        result.flash = DecodeFlash(buffer);

    BuildTableRequest(buffer, 0);
    writeRead(link, buffer);

    // The device may not echo the letter of this one; any answer counts,
    // but without one the fields keep what they showed.
    BuildTableRequest(buffer, 3);
    if (writeRead(link, buffer) > 0)
        result.table = DecodeTable(buffer);
    return result;
}

std::vector<std::pair<int, std::string>> StartTexts(const MachineStatus& start) {
    std::vector<std::pair<int, std::string>> texts;
    if (const auto& f = start.flash)
        texts = {{kCtlFlashMakerText, f->manufacturer},
                 {kCtlFlashTypeText, f->type},
                 {kCtlFlashSizeText, f->size},
                 {kCtlFlashProtectText, f->protection}};
    if (const auto& t = start.table)
        texts.insert(texts.end(), {{kCtlTableText, t->name},
                                   {kCtlAxesText, t->axes},
                                   {kCtlPwmMaxText, t->pwmMax},
                                   {kCtlAccelText, t->accel},
                                   {kCtlFrequencyText, t->frequency},
                                   {kCtlContactsText, t->contacts},
                                   {kCtlAutoOnOffText, t->autoOnOff}});
    return texts;
}

PollOutcome PollStatus(DeviceLink& link, Report& buffer, StatusCache& cache) {
    BuildStatusRequest(buffer);
    WriteReport(link, buffer);
    buffer[1] = 0;
    int count = ReadReport(link, buffer);
    if (count <= 0 || buffer[1] != kLetterStatus)
        return PollOutcome::NoAnswer;
    return cache.update(buffer) ? PollOutcome::Changed : PollOutcome::Unchanged;
}

bool SendPwm(DeviceLink& link, Report& buffer, std::uint8_t v) {
    BuildPwmQuery(buffer);
    if (!Exchange(link, buffer))
        return false;
    SetPwmValue(buffer, v);
    writeRead(link, buffer);
    return true;
}

std::optional<std::uint8_t> RefreshPwmLevel(DeviceLink& link, Report& buffer) {
    BuildRefreshRequest(buffer);
    if (!Exchange(link, buffer))
        return std::nullopt;
    return buffer[9];
}

bool ToggleMotors(DeviceLink& link, Report& buffer) {
    BuildMotorQuery(buffer);
    if (!Exchange(link, buffer))
        return false;
    BuildMotorSwitch(buffer, buffer[2]);
    writeRead(link, buffer);
    return true;
}

bool RunLcdTest(DeviceLink& link, Report& buffer, Ui& ui) {
    BuildLcdCommand(buffer, 2);
    if (!Exchange(link, buffer))
        return false;
    BuildLcdCommand(buffer, 5);
    if (!Exchange(link, buffer))
        return false;

    // Every cell lit, column by column, then every cell blank.
    for (const char fill : {'\xFF', ' '}) {
        const std::string_view cell(&fill, 1);
        for (int k = 0; k < kLcdColumns; ++k) {
            if (!lcdWrite(link, buffer, 0, k, cell, false) ||
                !lcdWrite(link, buffer, 1, k, cell, false))
                break;
            ui.waitMs(kLcdStepMs);
        }
    }

    if (!lcdWrite(link, buffer, 0, 0, "TALMO", true))
        return false;
    if (!lcdWrite(link, buffer, 1, 0, "MODE USB", true))
        return false;
    BuildLcdCommand(buffer, 3);
    writeRead(link, buffer);
    return true;
}

void JumpToBootLoader(DeviceLink& link, Report& buffer) {
    BuildJumpRequest(buffer);
    WriteReport(link, buffer);
}

} // namespace talmo
