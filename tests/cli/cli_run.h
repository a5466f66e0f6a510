// Runs the built talmo-cli as a user would, in a scratch folder, and keeps
// what it printed and its exit status. Also writes the HEX files the tests
// feed it, with a record formatter of the tests' own.
#pragma once

#include "tests/common/files.h"
#include "tests/common/hex_files.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace clitest {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

using talmo::test::Lines;
using talmo::test::ReadFile;
using talmo::test::WriteFile;
inline std::vector<std::string> Args(const std::string& line) { return talmo::test::Words(line); }

// A fresh folder for one test, removed at the end.
class Scratch {
public:
    const fs::path& dir() const { return dir_; }
    std::string operator/(const std::string& name) const { return (dir_ / name).string(); }

    // Runs talmo-cli with `args` in this folder; `input` is its standard
    // input. With `interruptAfter`, it gets `signal` (SIGINT: Ctrl+C) `times`
    // times once its output holds that text (or after 20 s), and
    // `interruptDelayMs` more.
    Outcome run(const std::vector<std::string>& args, const std::string& input = "",
                const std::string& interruptAfter = "", int interruptDelayMs = 0,
                int signal = SIGINT, int times = 1) const {
        const fs::path in = dir_ / ".stdin", out = dir_ / ".stdout", err = dir_ / ".stderr";
        WriteFile(in, input);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
        std::vector<std::string> all{TALMO_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        Outcome r;
        if (posix_spawn(&pid, TALMO_CLI_PATH, &actions, nullptr, argv.data(), environ) == 0) {
            if (!interruptAfter.empty()) {
                for (int waited = 0; waited < 20000; waited += 10) {
                    if ((ReadFile(out) + ReadFile(err)).find(interruptAfter) != std::string::npos)
                        break;
                    usleep(10000);
                }
                usleep(static_cast<useconds_t>(interruptDelayMs) * 1000);
                // Signals of one kind do not queue: each waits for the
                // notice of the one before.
                for (int k = 0; k < times; ++k) {
                    const std::size_t said = ReadFile(err).size();
                    kill(pid, signal);
                    for (int waited = 0; waited < 1000 && ReadFile(err).size() == said; ++waited)
                        usleep(1000);
                }
            }
            int status = 0;
            waitpid(pid, &status, 0);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        r.out = ReadFile(out);
        r.err = ReadFile(err);
        return r;
    }

private:
    talmo::test::TempDir temp_;
    fs::path dir_ = temp_.path;
};

// ---------------------------------------------------------------- HEX files

using talmo::test::Firmware;

// A record line with its CR LF.
inline std::string Line(unsigned address, unsigned type, const std::vector<unsigned>& data) {
    return talmo::test::Record(address, type, data) + "\r\n";
}

// A 16F877A's memories as a file holds them: program words from address 0
// in a pattern with a RETLW table of `version` at 0x0100, EEPROM bytes and ID
// words in patterns of their own, configuration word 0x3F72.
struct PicContents {
    std::vector<std::uint16_t> program;
    std::vector<std::uint8_t> eeprom;
    std::uint16_t ids[4] = {0x0101, 0x0202, 0x0303, 0x0404};
    std::uint16_t config = 0x3F72;

    explicit PicContents(const std::string& version) {
        for (std::uint32_t a = 0; a < 0x2000; ++a)
            program.push_back(static_cast<std::uint16_t>((a * 0x1357u + 0x21u) & 0x1FFF));
        for (std::size_t i = 0; i < version.size(); ++i)
            program[0x100 + i] =
                static_cast<std::uint16_t>(0x3400 | static_cast<std::uint8_t>(version[i]));
        program[0x100 + version.size()] = 0x0008; // RETURN: the table ends
        for (std::uint32_t e = 0; e < 0x100; ++e)
            eeprom.push_back(static_cast<std::uint8_t>(e ^ 0xA5));
    }
};

inline std::string PicHexText(const PicContents& c) {
    std::string text = Line(0, 0x04, {0, 0});
    auto words = [&](std::uint32_t byteAddress, const std::vector<std::uint16_t>& w) {
        for (std::size_t i = 0; i < w.size(); i += 8) {
            std::vector<unsigned> data;
            for (std::size_t k = i; k < i + 8 && k < w.size(); ++k) {
                data.push_back(static_cast<std::uint8_t>(w[k]));
                data.push_back(static_cast<std::uint8_t>(w[k] >> 8));
            }
            text += Line(byteAddress + 2 * static_cast<unsigned>(i), 0, data);
        }
    };
    words(0, c.program);
    std::vector<std::uint16_t> eeprom(c.eeprom.begin(), c.eeprom.end());
    words(0x4200, eeprom);
    words(0x4000, {c.ids[0], c.ids[1], c.ids[2], c.ids[3]});
    words(0x400E, {c.config});
    return text + ":00000001FF\r\n";
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace clitest
