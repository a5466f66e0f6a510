// The user-interface facade on a terminal.
//
//   - progress: how far an operation has come is taken from its progress
//     reports alone; a message field text that comes while a report is
//     unfinished and names more than its phase ("Lecture de l'adresse:
//     0x0014/0x2000" in phase "Lecture") labels the progress bar on standard
//     error when it is a terminal, else becomes a plain line there, one per
//     tenth of the way and one whenever the phase changes;
//   - other message field texts (results): standard output, as lines;
//   - connection field texts: standard error, when they change;
//   - message boxes: standard error, "caption : text"; a question box reads
//     its answer from standard input (o/oui/y/yes means Yes; anything else,
//     or the end of input, No) unless every question is to be answered Yes;
//   - file dialogs: answer the path given on the command line;
//   - waits: on the clock given.
#pragma once

#include "core/ui.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace talmo::cli {

// A progress report: `done` of `total` steps, in the phase named.
struct Progress {
    unsigned long done = 0;
    unsigned long total = 0;
    std::string phase;
};

// One line of the terminal bar: "[#####.....]  45 % text", at most `width`
// columns (UTF-8 characters counted once).
std::string ProgressBarLine(const Progress& p, const std::string& text, int width);

struct TerminalStreams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::FILE* in = stdin;
    bool outIsTerminal = false; // redraw blocks in place on `out`
    bool errIsTerminal = false; // draw the bar on `err`
    bool inIsTerminal = false;  // prompt for answers
    std::FILE* data = stdout;   // printData: what a script reads (--json)
};

class TerminalUi final : public Ui {
public:
    TerminalUi(Clock& clock, TerminalStreams streams);
    ~TerminalUi() override;

    void setStatusText(int field, const std::string& text) override;
    Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                      Buttons buttons) override;
    std::optional<std::string> openFileDialog(const FileDialogRequest& request) override;
    std::optional<std::string> saveFileDialog(const FileDialogRequest& request) override;
    void waitMs(int ms) override;
    void progress(const char* phase, std::uint32_t done, std::uint32_t total) override;
    Clock& clock() override { return clock_; }

    // The path that the next file dialog answers (the command line's FICHIER).
    void setDialogPath(std::string path) { dialogPath_ = std::move(path); }
    // Questions are answered Yes without asking (--yes).
    void setAssumeYes(bool yes) { assumeYes_ = yes; }
    // -1 (-q): no progress and no connection texts; 1 (-v): every progress
    // text on a line of its own.
    void setVerbosity(int v) { verbosity_ = v; }
    int verbosity() const { return verbosity_; }

    // Ends a progress bar left on the terminal.
    void endProgress();
    // A line of the command's own on standard output / standard error.
    void printLine(const std::string& text);
    void printError(const std::string& text);
    // A line of data for scripts, on its own stream.
    void printData(const std::string& text);
    // A block of lines that replaces the previous block: redrawn in place on
    // a terminal, else printed again after an empty line.
    void printBlock(const std::vector<std::string>& lines);

private:
    // The text labels the unfinished operation's progress (see above).
    bool labelsProgress(const std::string& text) const;
    void showProgress();
    void drawBar();

    Clock& clock_;
    TerminalStreams s_;
    std::optional<std::string> dialogPath_;
    bool assumeYes_ = false;
    int verbosity_ = 0;
    std::string connection_;

    int blockLines_ = 0;    // lines of the last block printed
    bool barShown_ = false; // a bar line is on the terminal, unfinished
    Progress report_;       // the operation's last progress report (total 0: none yet)
    std::string barText_;   // the last progress text
    int drawnPercent_ = -1; // of the bar line on the terminal
    std::string lastPhase_;
    long lastTenth_ = -1;
};

} // namespace talmo::cli
