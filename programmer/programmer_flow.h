// What the programmer page does, without widgets: its show sequence and its
// "Identifier", "Sauvegarder", "Programmer" and "Retour TALMO" buttons,
// strung together from identification, reading, the PIC image's HEX files
// and programming. The page is a thin Qt shell around these functions.
#pragma once

#include "core/page_controls.h"
#include "core/picture_ids.h"
#include "link/device_link.h"
#include "link/job_outcome.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"

#include <functional>
#include <string>

namespace talmo {

class Ui;

// Numeric identifiers of the programmer page's controls (dialog 168); the
// buttons' numbers are also their commands.
enum ProgrammerControl : int {
    kProgrammerIdentifyButton = 1043, // "Identifier"
    kProgrammerBackButton = 1044,     // "Retour TALMO", shows picture 169
    kProgrammerSaveButton = 1045,     // "Sauvegarder"
    kProgrammerProgramButton = 1046,  // "Programmer"
    kProgrammerPicName = 1047,        // the PIC's name, after "PIC:"
    kProgrammerPicVersion = 1048,     // the PIC's board version, after "Version:"
    kProgrammerFileVersion = 1049,    // the chosen file's board version, after "Version:"
    // The page footer's: the maker's web site, the program version.
    kProgrammerWebButton = kWebSiteButton,
    kProgrammerProgramVersion = kVersionControl,
};
inline constexpr int kProgrammerBackPicture = kPictureBack;

// Texts of the page.
inline constexpr char kProgrammerNoText[] = "-";
inline constexpr char kProgrammerProtectedNotice[] = "PIC protégé contre la lecture";
inline constexpr char kProgrammerErrorCaption[] = "Erreur";
inline constexpr char kProgrammerTypeError[] = "Erreur lors de la lecture du type de PIC.";
inline constexpr char kProgrammerReadError[] = "Erreur lors de la lecture du PIC.";
inline constexpr char kProgrammerProgramError[] = "Erreur lors de la programmation du PIC.";
inline constexpr char kProgrammerConfirmCaption[] = "Programmation";

// The page's data for the whole run.
struct ProgrammerState {
    PicImage image;          // the one PIC image
    PicIdentification ident; // a PIC counts as identified while programSize != 0
    // The image holds what was read from the identified PIC (not a file, not
    // a partial read, not the blank reset).
    bool imageFromPic = false;
    std::string openPath, savePath; // last files chosen; kept across visits
    // Texts of controls 1047, 1048 and 1049.
    std::string picName = kProgrammerNoText;
    std::string picVersion = kProgrammerNoText;
    std::string fileVersion = kProgrammerNoText;
    Report report{}; // the page's own exchanges ('B', TargetLeave)
};

struct ProgrammerContext {
    DeviceLink& link;
    Ui& ui;
    ProgrammerState& state;
    // Told whenever one of the controls 1047 to 1049 changes, so the page can
    // show it at once (before a message box, for instance).
    std::function<void(int control, const std::string& text)> controlChanged;
    // "Programmer" also refuses a file with data that the identified PIC has
    // no room for (PicFitRefusals): for talmo-cli, which shows no
    // confirmation box of what is about to be written.
    bool refuseBeyondPic = false;
    // Caption of the box that tells a failed programming; talmo-cli, whose
    // boxes read "caption : text", gives none, as the text names the error.
    const char* programErrorCaption = kProgrammerErrorCaption;
};

// Show sequence, after the page has put its picture on the back button:
// blank image, identification forgotten, controls 1047-1049 to "-", 'B' with
// byte 2 = 0 and TargetLeave (answers not examined). The message field is
// not touched.
void ProgrammerShown(ProgrammerContext& c);
// Each button's job returns how it ended (link/job_outcome.h): Done,
// Cancelled (a dialog closed, "no" at the question), Protected, NoAnswer (no
// listed PIC, no answer, a difference read back), FileRefused, FileNotWritten.
//
// "Identifier": identify; unless protected, read and show the board version.
JobOutcome ProgrammerIdentify(ProgrammerContext& c);
// "Sauvegarder": the PIC's program to a HEX file. Nothing is saved unless the
// image holds a complete read of an unprotected PIC.
JobOutcome ProgrammerSave(ProgrammerContext& c);
// "Programmer": load a HEX file, refuse it when it cannot be right (no data,
// no end-of-file record: PicFileRefusals, in a box captioned "Erreur
// fichier"), set bit 7 of its configuration word, ask, and program; the
// identification is forgotten at the end of every attempt that got past the
// open dialog.
JobOutcome ProgrammerProgram(ProgrammerContext& c);
// "Retour TALMO": empties the message field (the page then returns to the
// console page). No report is sent.
void ProgrammerBack(ProgrammerContext& c);

// One of the four buttons above by its number (other numbers do nothing).
// True for "Retour TALMO": the page then returns to the console page.
bool ProgrammerCommand(ProgrammerContext& c, int control);

} // namespace talmo
