#include "updater/bootloader_flow.h"

#include "core/ui.h"
#include "updater/bootloader_commands.h"
#include "updater/firmware_image.h"

namespace talmo {

namespace {

void Changed(BootLoaderContext& c) {
    if (c.fields.changed)
        c.fields.changed();
}

void ShowProgrammingError(BootLoaderContext& c) {
    c.ui.errorBox("Erreur lors de la programmation du PIC.", c.programErrorCaption);
}

// Reads the firmware path into the image and shows its version text in the
// file's field. False (after the reader's box, or the box of a refusal: a
// file without data would wipe the working firmware, one without its end
// record was cut off) when the file was refused.
bool ReadFirmwareFile(BootLoaderContext& c, std::string& versionText) {
    HexFileFacts facts;
    bool accepted = LoadFirmwareHex(c.ui, c.image, c.firmwarePath, &facts);
    if (accepted) {
        const std::vector<const char*> refusals = FirmwareFileRefusals(facts);
        if (!refusals.empty()) {
            c.ui.errorBox(refusals.front(), kHexReadCaption);
            accepted = false;
        }
    }
    if (!accepted) {
        c.ui.setStatusText(MessageField, "Lecture du fichier: Erreur");
        return false;
    }
    c.ui.setStatusText(MessageField, "Lecture du fichier: OK");
    versionText = ImageVersionText(c.image);
    c.fields.fileVersion = versionText;
    Changed(c);
    return true;
}

} // namespace

JobOutcome BootLoaderShown(BootLoaderContext& c, bool autoUpdate) {
    c.ui.setStatusText(MessageField, "");
    // A new string moved in rather than the text copied in place: GCC 12 at
    // -O3 takes the in-place copy for an overlapping one (-Wrestrict).
    c.fields.fileVersion = std::string(kNoVersion);
    if (auto version = QueryBootLoaderVersion(c.link, c.report))
        c.fields.bootLoaderVersion = *version;
    c.fields.deviceVersion = QueryDeviceFirmwareVersion(c.link, c.report);
    Changed(c);
    ResetFirmwareImage(c.image);
    return autoUpdate ? BootLoaderAutoUpdate(c) : JobOutcome{};
}

JobOutcome BootLoaderSave(BootLoaderContext& c) {
    std::optional<std::string> path = c.ui.saveFileDialog(HexFileDialog(c.savePath));
    if (!path)
        return Outcome(JobEnd::Cancelled);
    c.savePath = *path;
    const JobOutcome saved = SaveFirmwareToHex(c.link, c.ui, c.savePath);
    c.ui.setStatusText(MessageField, saved.done() ? "Sauvegarde: OK" : "Sauvegarde: Erreur");
    return saved;
}

JobOutcome BootLoaderProgram(BootLoaderContext& c) {
    std::optional<std::string> path = c.ui.openFileDialog(HexFileDialog(c.firmwarePath));
    if (!path)
        return Outcome(JobEnd::Cancelled);
    c.firmwarePath = *path;
    std::string versionText;
    if (!ReadFirmwareFile(c, versionText))
        return Outcome(JobEnd::FileRefused);

    const std::string question = "Programmer cette version ?\n" + versionText;
    if (c.ui.messageBox(question, "Programmation", Icon::Question, Buttons::YesNo) != Answer::Yes) {
        c.fields.fileVersion = std::string(kNoVersion);
        Changed(c);
        c.ui.setStatusText(MessageField, "Programmation: annulée");
        return Outcome(JobEnd::Cancelled);
    }
    if (!ProgramFirmware(c.link, c.ui, c.image)) {
        ShowProgrammingError(c); // the message field keeps the operation's error
        return Outcome(JobEnd::NoAnswer);
    }
    c.fields.deviceVersion = versionText;
    Changed(c);
    c.ui.setStatusText(MessageField, "Programmation: OK");
    return {};
}

JobOutcome BootLoaderAutoUpdate(BootLoaderContext& c,
                                const std::function<JobOutcome()>& beforeLeave) {
    std::string versionText;
    if (!ReadFirmwareFile(c, versionText))
        return Outcome(JobEnd::FileRefused);
    if (!ProgramFirmware(c.link, c.ui, c.image)) {
        ShowProgrammingError(c);
        return Outcome(JobEnd::NoAnswer);
    }
    c.fields.deviceVersion = versionText;
    Changed(c);
    c.ui.setStatusText(MessageField, "Programmation: OK");
    if (beforeLeave)
        if (const JobOutcome checked = beforeLeave(); !checked.done())
            return checked;
    LeaveBootLoader(c.link, c.report);
    return {};
}

void BootLoaderLeave(BootLoaderContext& c) {
    c.ui.setStatusText(MessageField, "");
    LeaveBootLoader(c.link, c.report);
}

} // namespace talmo
