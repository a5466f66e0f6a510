// What the boot-loader page does, without its widgets: the show sequence,
// "Sauvegarder", "Programmer", the automatic update and "Retour TALMO".
// The page mirrors the three version fields of BootLoaderFields into its
// labels whenever they change.
#pragma once

#include "link/device_link.h"
#include "link/job_outcome.h"

#include <functional>
#include <string>

namespace talmo {

class Ui;
struct FirmwareImage;

// Numeric identifiers of the boot-loader page's controls (dialog 102); the
// buttons' numbers are also their commands.
enum BootLoaderControl : int {
    kBootLoaderVersionText = 1011,   // boot loader's version text
    kBootLoaderSaveButton = 1052,    // "Sauvegarder"
    kBootLoaderDeviceVersion = 1051, // version of the firmware in the device
    kBootLoaderProgramButton = 1053, // "Programmer"
    kBootLoaderFileVersion = 1049,   // version of the chosen file
    kBootLoaderLeaveButton = 1044,   // "Retour TALMO"
};

constexpr const char* kNoVersion = "-";
constexpr const char* kInitialBootLoaderVersion = "TALMO Vx.yz";

struct BootLoaderFields {
    std::string bootLoaderVersion = kInitialBootLoaderVersion; // shown after "Boot Loader Version:"
    std::string deviceVersion = kNoVersion;                    // firmware now in the device
    std::string fileVersion = kNoVersion; // firmware file about to be programmed
    // Called whenever the fields above changed, before the work goes on
    // (a question, a long operation), so that a page can show them at once.
    std::function<void()> changed;
};

// Everything the page's work borrows; all of it lives for the whole run.
struct BootLoaderContext {
    DeviceLink& link;
    Ui& ui;
    FirmwareImage& image;
    std::string& firmwarePath; // read by "Programmer" and the automatic update
    std::string& savePath;     // written by "Sauvegarder"; empty at start
    BootLoaderFields& fields;
    Report& report; // the page's exchange buffer
    // Caption of the box that tells a failed programming; talmo-cli, whose
    // boxes read "caption : text", gives none, as the text names the error.
    const char* programErrorCaption = "Erreur";
};

// The page became visible: empties the message field, reads both versions,
// resets the image, and runs the automatic update when `autoUpdate` is set
// (its outcome; Done without it).
JobOutcome BootLoaderShown(BootLoaderContext& c, bool autoUpdate);
// The jobs below return how they ended (link/job_outcome.h): Done, Cancelled
// (a dialog closed, "no" at the question), FileRefused, FileNotWritten,
// NoAnswer (the device failed to answer or refused a block).
//
// "Sauvegarder": save dialog, then the device's firmware into that file.
JobOutcome BootLoaderSave(BootLoaderContext& c);
// "Programmer": open dialog, read the file, confirm, program.
JobOutcome BootLoaderProgram(BootLoaderContext& c);
// The automatic update: read the firmware path, program it without asking
// and, when all went well, send the device back to its application: Done
// when 'Z' was sent. `beforeLeave`, when given, runs once the firmware is
// written; an outcome other than Done from it keeps the device in its boot
// loader and is the update's.
JobOutcome BootLoaderAutoUpdate(BootLoaderContext& c,
                                const std::function<JobOutcome()>& beforeLeave = {});
// "Retour TALMO": empties the message field and sends 'Z'.
void BootLoaderLeave(BootLoaderContext& c);

} // namespace talmo
