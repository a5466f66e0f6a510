// A user interface for tests: answers come from prepared queues, every text
// shown is recorded in order, and waits run on a virtual clock.
#pragma once

#include "core/clock.h"
#include "core/ui.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace talmo {

struct UiEvent {
    enum Kind {
        Status,
        Box,
        OpenDialog,
        SaveDialog,
        Wait
    };
    Kind kind;
    int field = 0;          // Status: the field
    std::string text{};     // Status: the text; Box: the text; dialogs: the title
    std::string caption{};  // Box only
    Icon icon = Icon::None; // Box only
    Buttons buttons = Buttons::Ok;
    int ms = 0; // Wait only
};

// One progress report of an operation.
struct ProgressReport {
    std::string phase;
    std::uint32_t done = 0, total = 0;
};

class ScriptedUi : public Ui {
public:
    explicit ScriptedUi(Clock* clock = nullptr) : clock_(clock ? clock : &ownClock_) {}

    // Prepared answers, used in order. With none left a box answers its
    // first button (Ok or Yes) and a dialog answers "cancelled".
    void queueAnswer(Answer answer) { answers_.push_back(answer); }
    void queueOpenPath(std::optional<std::string> path) { openPaths_.push_back(std::move(path)); }
    void queueSavePath(std::optional<std::string> path) { savePaths_.push_back(std::move(path)); }

    void setStatusText(int field, const std::string& text) override;
    Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                      Buttons buttons) override;
    std::optional<std::string> openFileDialog(const FileDialogRequest& request) override;
    std::optional<std::string> saveFileDialog(const FileDialogRequest& request) override;
    void waitMs(int ms) override;
    void progress(const char* phase, std::uint32_t done, std::uint32_t total) override {
        progress_.push_back({phase, done, total});
    }
    Clock& clock() override { return *clock_; }

    // What was shown.
    const std::vector<UiEvent>& events() const { return events_; }
    std::vector<UiEvent> boxes() const; // message boxes only, in order
    std::vector<std::string> boxTexts(bool withCaption = false) const; // "caption: text"
    std::vector<std::string> statusTexts(int field) const; // every text set in that field
    std::string status(int field) const;                   // the field's current text
    const FileDialogRequest* lastDialogRequest() const {
        return hasDialog_ ? &lastDialog_ : nullptr;
    }
    void clearEvents() {
        events_.clear();
        progress_.clear();
    }
    const std::vector<ProgressReport>& progressReports() const { return progress_; }
    // "" when the progress reports ran from 0 to their one total, never
    // back, never more than a row of 8 steps at once; else what went wrong.
    std::string progressFault() const;

    // Called as each message box opens, before it answers: lets a test look
    // at the screen, or deliver a device event, while the box is up.
    std::function<void()> onBox;

private:
    std::optional<std::string> fileDialog(UiEvent::Kind kind, const FileDialogRequest& request,
                                          std::deque<std::optional<std::string>>& paths);

    VirtualClock ownClock_;
    Clock* clock_;
    std::deque<Answer> answers_;
    std::deque<std::optional<std::string>> openPaths_, savePaths_;
    std::vector<UiEvent> events_;
    std::vector<ProgressReport> progress_;
    std::string fields_[2];
    FileDialogRequest lastDialog_;
    bool hasDialog_ = false;
};

} // namespace talmo
