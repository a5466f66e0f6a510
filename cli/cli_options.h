// The command line of talmo-cli, read through one table of its commands
// (command_table.cpp): each command's words, its file, its own options, its
// help and the function that runs it. Parsing, --help, the manual page (made
// from --help) and the bash completion (--completion) all come from it.
#pragma once

#include "link/job_outcome.h"

#include <span>
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

// The exit status of a job's outcome.
ExitStatus ExitStatusOf(const JobOutcome& outcome);

// The options that only some commands take (CommandSpec::options).
enum CommandOption : unsigned {
    kOptWatch = 1u << 0,    // --watch
    kOptYes = 1u << 1,      // -y, --yes
    kOptForce = 1u << 2,    // --force
    kOptNoVerify = 1u << 3, // --no-verify
    kOptJson = 1u << 4,     // --json
    kOptPic = 1u << 5,      // --pic     (with --firmware: one of them is required)
    kOptFirmware = 1u << 6, // --firmware
};

// What a command's FICHIER is.
enum class FileArgument {
    None,
    HexIn, // a HEX file that is read
    Out,   // a file that is written
};

// What a command works on.
enum class Target {
    Files,    // files only: no device is opened
    Device,   // the TALMO
    BoardPic, // the board's PIC through the TALMO: taken out of programming mode when stopped
};

struct CliContext;
struct Options;
using CommandRun = JobOutcome (*)(CliContext& c, const Options& options);

struct CommandSpec {
    const char* group; // first word: "status", "firmware", "pic", "hex"
    const char* name;  // second word; empty for a command of one word
    FileArgument file;
    unsigned options; // CommandOption bits
    Target target;
    const char* usage;        // "pic program FICHIER [--yes] [--force]"
    const char* summary;      // in the general help (may hold line breaks)
    const char* groupSummary; // in the help of its group
    const char* help;         // the command's help, after its usage line
    CommandRun run;
};

// Every command, in the order of the general help.
std::span<const CommandSpec> Commands();

struct CommandGroup {
    const char* name;
    int column; // where the summaries start in the group's help
};
std::span<const CommandGroup> CommandGroups();

struct Options {
    const CommandSpec* command = nullptr;
    std::string file;       // FICHIER of the commands that take one
    unsigned given = 0;     // CommandOption bits given on the command line
    int verbosity = 0;      // -q: -1, -v: 1
    std::string logFile;    // --log FICHIER; empty: none
    std::string devicePath; // --device CHEMIN; empty: the first TALMO found

    std::string simulateFolder; // --simulate DOSSIER; empty: the real device
    std::string simPic;         // --sim-pic NOM, as given; empty when absent
    bool simProtected = false;  // --sim-protected

    // Help, the version or the completion asked for: `helpText` holds it,
    // nothing else is done.
    bool help = false;
    std::string helpText;

    bool has(unsigned option) const { return (given & option) != 0; }
};

struct ParseResult {
    bool ok = false;
    Options options;
    std::string error; // the usage error, in French, when !ok
};

// Reads the arguments (without the program name). Options may come before
// or after the command words; "--" ends the options.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The help of a command (null: the general help).
std::string HelpText(const CommandSpec* command);
// The help of a command group ("firmware", "pic", "hex").
std::string GroupHelpText(const std::string& group);
// The bash completion script of talmo-cli (`talmo-cli --completion`).
std::string CompletionScript();

} // namespace talmo::cli
