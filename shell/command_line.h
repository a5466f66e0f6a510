// The window programs' command line: none starts the window; --help and
// --version print their text and end; anything else is refused.
#pragma once

#include <string>
#include <vector>

namespace talmo {

struct CommandLineAnswer {
    bool startWindow = false; // no argument: the program runs
    int status = 0;           // otherwise: the exit status (0, or 3 for a refusal)
    std::string out;          // what goes to standard output
    std::string err;          // what goes to standard error
};

// `program` is the program's name ("talmo-tools"), `about` the paragraph of
// its help that says what it does. `args` excludes the program's own name.
CommandLineAnswer ReadCommandLine(const std::string& program, const std::string& about,
                                  const std::vector<std::string>& args);

} // namespace talmo
