// The window programs' command line: nothing starts the window, --help and
// --version answer alone, anything else is refused with the usage line.
#include "shell/command_line.h"

#include "core/version.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, OnlyHelpAndVersionAreAccepted) {
    const std::string usage = "Usage : talmo-tools [--help | --version]\n";
    const struct {
        std::vector<std::string> args;
        bool start;
        int status;
        std::string outStart; // what standard output begins with
        std::string err;
    } cases[] = {
        {{}, true, 0, "", ""},
        {{"--version"}, false, 0, std::string("talmo-tools ") + talmo::kProgramVersion + "\n", ""},
        {{"--help"}, false, 0, usage + "\nFenêtre", ""},
        {{"--help", "--version"},
         false,
         3,
         "",
         "talmo-tools : argument refusé « --help »\n" + usage},
        {{"-platform"}, false, 3, "", "talmo-tools : argument refusé « -platform »\n" + usage},
        {{"talmo.hex"}, false, 3, "", "talmo-tools : argument refusé « talmo.hex »\n" + usage},
        {{""}, false, 3, "", "talmo-tools : argument refusé «  »\n" + usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        const auto a = talmo::ReadCommandLine("talmo-tools", "Fenêtre.\n", c.args);
        EXPECT_EQ(a.startWindow, c.start);
        EXPECT_EQ(a.status, c.status);
        EXPECT_EQ(a.out.substr(0, c.outStart.size()), c.outStart);
        EXPECT_EQ(a.out.empty(), c.outStart.empty());
        EXPECT_EQ(a.err, c.err);
    }
}

} // namespace
