// The command line of talmo-cli: what the user asked for, read from the
// arguments, and the French help of each command.
#pragma once

#include <string>
#include <vector>

namespace talmo::cli {

// Exit statuses, as documented in the help and the README.
enum ExitStatus : int {
    kExitOk = 0,
    kExitDevice = 1,       // the TALMO or the board did not answer, refused, or failed
    kExitFile = 2,         // a file could not be read or written
    kExitUsage = 3,        // the command line is wrong
    kExitNoDevice = 4,     // no TALMO connected (or none at --device)
    kExitDifference = 5,   // a verification found a difference
    kExitAccessDenied = 6, // a TALMO is there but may not be opened
    kExitBusy = 7,         // a TALMO is there but another program holds it
    kExitCancelled = 8,    // declined at the question, or stopped by a signal
};

enum class Command {
    None,
    Status,
    FirmwareSave,
    FirmwareProgram,
    FirmwareVerify,
    FirmwareLeave,
    PicIdentify,
    PicRead,
    PicProgram,
    PicVerify,
    PicBlankCheck,
    PicErase,
    HexCheck,
};

enum class HexKind {
    None,
    Pic,
    Firmware
};

struct Options {
    Command command = Command::None;
    std::string file;       // FICHIER of the commands that take one
    bool watch = false;     // status --watch
    bool assumeYes = false; // pic program, pic erase, firmware program --yes
    bool force = false;     // pic program, firmware program --force
    bool noVerify = false;  // firmware program --no-verify
    bool json = false;      // status --json, pic identify --json
    HexKind hexKind = HexKind::None;

    int verbosity = 0;      // -q: -1, -v: 1
    std::string logFile;    // --log FICHIER; empty: none
    std::string devicePath; // --device CHEMIN; empty: the first TALMO found

    std::string simulateFolder; // --simulate DOSSIER; empty: the real device
    std::string simPic;         // --sim-pic NOM, as given; empty when absent
    bool simProtected = false;  // --sim-protected

    // Help (or the version) asked for: `helpText` holds it, nothing else is
    // done.
    bool help = false;
    std::string helpText;
};

struct ParseResult {
    bool ok = false;
    Options options;
    std::string error; // the usage error, in French, when !ok
};

// Reads the arguments (without the program name). Options may come before
// or after the command words; "--" ends the options.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The help of a command (Command::None: the general help).
std::string HelpText(Command command);
// The help of a command group ("firmware", "pic", "hex").
std::string GroupHelpText(const std::string& group);

} // namespace talmo::cli
