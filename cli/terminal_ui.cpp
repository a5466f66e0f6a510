#include "cli/terminal_ui.h"

#include "core/clock.h"

#include <algorithm>
#include <cctype>
#include <sys/ioctl.h>

namespace talmo::cli {

namespace {

// Characters shown, counting a UTF-8 sequence once.
std::size_t Columns(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

// The first `columns` characters of a UTF-8 text.
std::string FirstColumns(const std::string& s, std::size_t columns) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == columns)
                return s.substr(0, i);
            ++n;
        }
    }
    return s;
}

int TerminalWidth(std::FILE* f) {
    winsize ws{};
    if (ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col >= 20)
        return ws.ws_col;
    return 80;
}

std::string CaptionLine(const std::string& caption, const std::string& text) {
    // Multi-line texts continue under the first line, indented.
    std::string out = caption.empty() ? std::string() : caption + " : ";
    const std::string indent(caption.empty() ? 0 : Columns(caption) + 3, ' ');
    for (char c : text) {
        out += c;
        if (c == '\n')
            out += indent;
    }
    return out;
}

bool IsYes(std::string answer) {
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
        answer.pop_back();
    std::size_t start = 0;
    while (start < answer.size() && std::isspace(static_cast<unsigned char>(answer[start])))
        ++start;
    answer = answer.substr(start);
    for (char& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "o" || answer == "oui" || answer == "y" || answer == "yes";
}

} // namespace

std::string ProgressBarLine(const Progress& p, const std::string& text, int width) {
    constexpr int kBar = 24;
    const unsigned long done = p.done > p.total ? p.total : p.done;
    const int percent = static_cast<int>(done * 100 / p.total);
    const int filled = static_cast<int>(done * kBar / p.total);
    std::string line = "[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBar - filled), '.');
    char pct[16];
    std::snprintf(pct, sizeof pct, "] %3d %% ", percent);
    line += pct;
    line += text;
    if (width > 0 && Columns(line) > static_cast<std::size_t>(width))
        line = FirstColumns(line, static_cast<std::size_t>(width));
    return line;
}

// The link starts every search by closing; that first "not connected" says
// nothing on a terminal.
TerminalUi::TerminalUi(Clock& clock, TerminalStreams streams)
    : clock_(clock), s_(streams), connection_("USB: TALMO non connecté") {}

TerminalUi::~TerminalUi() { endProgress(); }

void TerminalUi::endProgress() {
    if (barShown_) {
        std::fputs("\n", s_.err);
        std::fflush(s_.err);
        barShown_ = false;
    }
    report_ = Progress{};
    barText_.clear();
    drawnPercent_ = -1;
    lastPhase_.clear();
    lastTenth_ = -1;
}

void TerminalUi::printLine(const std::string& text) {
    endProgress();
    std::fprintf(s_.out, "%s\n", text.c_str());
    std::fflush(s_.out);
}

void TerminalUi::printData(const std::string& text) {
    endProgress();
    std::fflush(s_.out);
    std::fprintf(s_.data, "%s\n", text.c_str());
    std::fflush(s_.data);
}

void TerminalUi::printError(const std::string& text) {
    endProgress();
    std::fflush(s_.out);
    std::fprintf(s_.err, "%s\n", text.c_str());
    std::fflush(s_.err);
}

void TerminalUi::printBlock(const std::vector<std::string>& lines) {
    endProgress();
    if (blockLines_ > 0) {
        if (s_.outIsTerminal)
            std::fprintf(s_.out, "\033[%dA\033[J", blockLines_);
        else
            std::fputs("\n", s_.out);
    }
    for (const std::string& line : lines)
        std::fprintf(s_.out, "%s\n", line.c_str());
    std::fflush(s_.out);
    blockLines_ = static_cast<int>(lines.size());
}

void TerminalUi::drawBar() {
    const Progress shown = report_.total ? report_ : Progress{0, 1, ""};
    const std::string line = ProgressBarLine(shown, barText_, TerminalWidth(s_.err) - 1);
    std::fprintf(s_.err, "\r%s\033[K", line.c_str());
    std::fflush(s_.err);
    barShown_ = true;
    drawnPercent_ = static_cast<int>(std::min(shown.done, shown.total) * 100 / shown.total);
}

void TerminalUi::showProgress() {
    if (s_.errIsTerminal) {
        drawBar();
        return;
    }
    const unsigned long done = std::min(report_.done, report_.total);
    const long tenth = report_.total ? static_cast<long>(done * 10 / report_.total) : 0;
    if (report_.phase != lastPhase_ || tenth != lastTenth_) {
        lastPhase_ = report_.phase;
        lastTenth_ = tenth;
        std::fprintf(s_.err, "%s\n", barText_.c_str());
        std::fflush(s_.err);
    }
}

void TerminalUi::progress(const char* phase, std::uint32_t done, std::uint32_t total) {
    if (total == 0)
        return;
    report_ = Progress{done, total, phase};
    // The bar follows the reports between two texts, once per percent.
    if (s_.errIsTerminal && barShown_ &&
        static_cast<int>(std::min(report_.done, report_.total) * 100 / total) != drawnPercent_)
        drawBar();
}

bool TerminalUi::labelsProgress(const std::string& text) const {
    const std::string& phase = report_.phase;
    return report_.total != 0 && report_.done < report_.total && !phase.empty() &&
           text.size() > phase.size() && text.compare(0, phase.size(), phase) == 0;
}

void TerminalUi::setStatusText(int field, const std::string& text) {
    if (field == ConnectionField) {
        if (text != connection_) {
            connection_ = text;
            if (verbosity_ >= 0)
                printError(text);
        }
        return;
    }
    if (text.empty())
        return;
    if (labelsProgress(text)) {
        barText_ = text;
        if (verbosity_ > 0)
            printError(text);
        else if (verbosity_ == 0)
            showProgress();
        return;
    }
    printLine(text);
}

Answer TerminalUi::messageBox(const std::string& text, const std::string& caption, Icon /*icon*/,
                              Buttons buttons) {
    const bool question = buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel ||
                          buttons == Buttons::OkCancel;
    printError(CaptionLine(caption, text));
    if (!question)
        return Answer::Ok;

    const Answer yes = buttons == Buttons::OkCancel ? Answer::Ok : Answer::Yes;
    const Answer no = buttons == Buttons::OkCancel ? Answer::Cancel : Answer::No;
    if (assumeYes_) {
        std::fprintf(s_.err, "→ oui (--yes)\n");
        std::fflush(s_.err);
        return yes;
    }
    std::fprintf(s_.err, "Répondre o (oui) ou n (non) [o/N] : ");
    std::fflush(s_.err);
    char line[256];
    if (!std::fgets(line, sizeof line, s_.in)) {
        std::fprintf(s_.err, "\n(pas de réponse : non)\n");
        std::fflush(s_.err);
        return no;
    }
    if (!s_.inIsTerminal) {
        // The answer came from a pipe: show it, so that logs read well.
        std::string shown = line;
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
            shown.pop_back();
        std::fprintf(s_.err, "%s\n", shown.c_str());
        std::fflush(s_.err);
    }
    return IsYes(line) ? yes : no;
}

std::optional<std::string> TerminalUi::openFileDialog(const FileDialogRequest&) {
    return dialogPath_;
}

std::optional<std::string> TerminalUi::saveFileDialog(const FileDialogRequest&) {
    return dialogPath_;
}

void TerminalUi::waitMs(int ms) { clock_.sleepMs(ms); }

} // namespace talmo::cli
