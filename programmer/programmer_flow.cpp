#include "programmer/programmer_flow.h"

#include "core/report.h"
#include "core/ui.h"
#include "hex/hex_records.h"
#include "link/job_outcome.h"
#include "programmer/board_version.h"
#include "programmer/pic_program.h"
#include "programmer/pic_read.h"
#include "programmer/target_commands.h"

namespace talmo {

namespace {

void SetControl(ProgrammerContext& c, int id, const std::string& text) {
    ProgrammerState& s = c.state;
    std::string* field = id == kProgrammerPicName      ? &s.picName
                         : id == kProgrammerPicVersion ? &s.picVersion
                                                       : &s.fileVersion;
    *field = text;
    if (c.controlChanged)
        c.controlChanged(id, text);
}

// After a failed identification, reading or programming the target may be
// left in programming mode: take it out (the answer does not matter).
void LeaveTarget(ProgrammerContext& c) { TargetLeave(c.link, c.state.report); }

void ErrorBox(ProgrammerContext& c, const char* text) {
    c.ui.messageBox(text, kProgrammerErrorCaption, Icon::Error, Buttons::Ok);
}

// How a failure of the PIC (no listed chip, no answer, a difference read back)
// ends the job.
JobOutcome PicFailed() { return Outcome(JobEnd::NoAnswer); }

void Forget(ProgrammerContext& c) {
    c.state.ident = PicIdentification{};
    c.state.imageFromPic = false;
}

void ProtectedNotice(ProgrammerContext& c) {
    SetControl(c, kProgrammerPicVersion, kProgrammerProtectedNotice);
}

// IdentifyPic, its controls, and the page's answer to a failure.
bool Identify(ProgrammerContext& c, const char* errorText) {
    c.state.imageFromPic = false;
    const IdentifyOutcome out = IdentifyPic(c.link, c.ui, c.state.ident);
    if (out.sequenceCompleted) {
        SetControl(c, kProgrammerPicName, out.picText);
        if (!out.result)
            SetControl(c, kProgrammerPicVersion, kProgrammerNoText);
    }
    if (!out.result) {
        LeaveTarget(c);
        ErrorBox(c, errorText);
    }
    return c.state.ident.identified();
}

// ReadPic and the page's answer to a failure; true when the whole PIC was read.
bool Read(ProgrammerContext& c) {
    ProgrammerState& s = c.state;
    if (ReadPic(c.link, c.ui, s.image, s.ident)) {
        s.imageFromPic = true;
        return true;
    }
    s.imageFromPic = false;
    LeaveTarget(c);
    ErrorBox(c, kProgrammerReadError);
    SetControl(c, kProgrammerPicVersion, kProgrammerNoText);
    return false;
}

void ShowPicVersion(ProgrammerContext& c) {
    SetControl(c, kProgrammerPicVersion,
               FindBoardVersion(c.state.image, c.state.ident.programSize));
}

} // namespace

void ProgrammerShown(ProgrammerContext& c) {
    ProgrammerState& s = c.state;
    ResetPicImage(s.image);
    Forget(c);
    SetControl(c, kProgrammerPicName, kProgrammerNoText);
    SetControl(c, kProgrammerPicVersion, kProgrammerNoText);
    SetControl(c, kProgrammerFileVersion, kProgrammerNoText);
    BuildBootRequest(s.report);
    Exchange(c.link, s.report);
    LeaveTarget(c);
}

JobOutcome ProgrammerIdentify(ProgrammerContext& c) {
    if (!Identify(c, kProgrammerTypeError))
        return PicFailed();
    if (PicProtected(c.state.ident.configWord)) {
        ProtectedNotice(c);
        return Outcome(JobEnd::Protected);
    }
    if (!Read(c))
        return PicFailed();
    ShowPicVersion(c);
    return {};
}

namespace {

// What "Sauvegarder" needs before the dialog: the whole program of an
// unprotected PIC in the image.
JobOutcome ReadForSave(ProgrammerContext& c) {
    ProgrammerState& s = c.state;
    if (!s.ident.identified()) {
        if (!Identify(c, kProgrammerReadError))
            return PicFailed();
        // A failed read stops here: a partly read image is not the PIC's program.
        if (!Read(c))
            return PicFailed();
        if (PicProtected(s.ident.configWord)) {
            ProtectedNotice(c);
            return Outcome(JobEnd::Protected);
        }
        ShowPicVersion(c);
    } else if (PicProtected(s.ident.configWord)) {
        // What a protected PIC reads back is not its program.
        ProtectedNotice(c);
        return Outcome(JobEnd::Protected);
    } else if (!s.imageFromPic) {
        // Identified, but the image is the blank reset or a partial read:
        // read the PIC before saving it.
        if (!Read(c))
            return PicFailed();
        ShowPicVersion(c);
    }
    return {};
}

} // namespace

JobOutcome ProgrammerSave(ProgrammerContext& c) {
    ProgrammerState& s = c.state;
    if (const JobOutcome read = ReadForSave(c); !read.done())
        return read;
    const auto path = c.ui.saveFileDialog(HexFileDialog(s.savePath));
    if (!path)
        return Outcome(JobEnd::Cancelled);
    s.savePath = *path;
    const bool saved = SavePicHex(c.ui, s.image, s.savePath, static_cast<int>(s.ident.programSize),
                                  static_cast<int>(s.ident.eepromSize));
    c.ui.setStatusText(MessageField, saved ? "Sauvegarde: OK" : "Sauvegarde: Erreur");
    return saved ? JobOutcome{} : Outcome(JobEnd::FileNotWritten);
}

namespace {

// Reads the chosen file into the image and refuses it when it cannot be
// right: the refusal shown, or nothing.
JobOutcome LoadFileToProgram(ProgrammerContext& c) {
    ProgrammerState& s = c.state;
    HexFileFacts facts;
    if (!LoadPicHex(c.ui, s.image, s.openPath, &facts))
        return Outcome(JobEnd::FileRefused);
    std::vector<const char*> refusals = PicFileRefusals(facts);
    if (refusals.empty() && c.refuseBeyondPic)
        refusals = PicFitRefusals(s.image, s.ident.programSize, s.ident.eepromSize);
    if (refusals.empty())
        return {};
    c.ui.errorBox(refusals.front(), kHexReadCaption);
    return Outcome(JobEnd::FileRefused, refusals.front());
}

} // namespace

JobOutcome ProgrammerProgram(ProgrammerContext& c) {
    ProgrammerState& s = c.state;
    if (!s.ident.identified() && !Identify(c, kProgrammerReadError))
        return PicFailed();

    const auto path = c.ui.openFileDialog(HexFileDialog(s.openPath));
    if (!path)
        return Outcome(JobEnd::Cancelled); // the identification stays
    s.openPath = *path;
    s.imageFromPic = false; // the image now comes from the file
    if (const JobOutcome loaded = LoadFileToProgram(c); !loaded.done()) {
        c.ui.setStatusText(MessageField, "Lecture du fichier: Erreur");
        Forget(c);
        return loaded;
    }
    c.ui.setStatusText(MessageField, "Lecture du fichier: OK");
    // Low-voltage programming stays enabled, whatever the file says.
    s.image.entries[kPicConfigAddress] |= 0x0080;
    const std::string version = FindBoardVersion(s.image, s.ident.programSize);
    SetControl(c, kProgrammerFileVersion, version);

    const std::string question = "Programmer cette version ?\n" + version;
    if (c.ui.messageBox(question, kProgrammerConfirmCaption, Icon::Question, Buttons::YesNo) !=
        Answer::Yes) {
        SetControl(c, kProgrammerFileVersion, kProgrammerNoText);
        c.ui.setStatusText(MessageField, "Programmation: annulée");
        Forget(c);
        return Outcome(JobEnd::Cancelled); // "no": the PIC is untouched
    }
    const bool programmed = ProgramPic(c.link, c.ui, s.image, s.ident);
    if (!programmed) {
        LeaveTarget(c);
        c.ui.messageBox(kProgrammerProgramError, c.programErrorCaption, Icon::Error, Buttons::Ok);
    }
    Forget(c);
    return programmed ? JobOutcome{} : PicFailed();
}

void ProgrammerBack(ProgrammerContext& c) { c.ui.setStatusText(MessageField, ""); }

bool ProgrammerCommand(ProgrammerContext& c, int control) {
    switch (control) {
    case kProgrammerIdentifyButton:
        ProgrammerIdentify(c);
        break;
    case kProgrammerSaveButton:
        ProgrammerSave(c);
        break;
    case kProgrammerProgramButton:
        ProgrammerProgram(c);
        break;
    case kProgrammerBackButton:
        ProgrammerBack(c);
        return true;
    default:
        break;
    }
    return false;
}

} // namespace talmo
