// How a job ended: the programmer's, the updater's and talmo-cli's jobs each
// return one. The pages show their texts as they always have; talmo-cli maps
// the outcome to its exit status (cli/cli_commands.h). Nothing decides on a
// shown text.
#pragma once

#include <cstdint>

namespace talmo {

enum class JobEnd {
    Done,           // everything asked was done
    Cancelled,      // "no" at the question, a dialog closed, or a forced stop
    FileRefused,    // a file could not be read, or its content was refused
    FileNotWritten, // the destination could not take the file
    NoAnswer,       // the device did not answer, or failed a step
    WrongMode,      // the device is in its boot loader where normal mode is needed
    TooOld,         // the device's firmware is too old for the job
    Protected,      // the PIC is protected against reading
    Difference,     // a verification found a difference
    NoDevice,       // no TALMO, or it left and did not come back
    AccessDenied,   // a TALMO is present but may not be opened
    Busy,           // a TALMO is present but another program holds it
};

struct JobOutcome {
    JobEnd end = JobEnd::Done;
    // FileRefused, FileNotWritten: the message its box showed (may be null).
    const char* reason = nullptr;
    // Difference: the first differing address and how many cells differ.
    std::uint32_t address = 0;
    std::uint32_t count = 0;

    bool done() const { return end == JobEnd::Done; }
};

inline JobOutcome Outcome(JobEnd end, const char* reason = nullptr) { return {end, reason, 0, 0}; }

} // namespace talmo
