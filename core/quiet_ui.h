// A user interface that shows nothing: for readers and writers run where no
// one is looking (the command line's emulator state files, fuzzing). It keeps
// the first message box's text so the caller can report it its own way,
// answers every box with its first button and every dialog with "cancelled",
// and waits on the given clock.
#pragma once

#include "core/clock.h"
#include "core/ui.h"

#include <string>

namespace talmo {

class QuietUi final : public Ui {
public:
    explicit QuietUi(Clock& clock) : clock_(clock) {}

    void setStatusText(int, const std::string&) override {}
    Answer messageBox(const std::string& text, const std::string&, Icon, Buttons buttons) override {
        if (!shownBox_) {
            shownBox_ = true;
            firstBox_ = text;
        }
        return buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel ? Answer::Yes
                                                                            : Answer::Ok;
    }
    std::optional<std::string> openFileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> saveFileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    void waitMs(int ms) override { clock_.sleepMs(ms); }
    Clock& clock() override { return clock_; }

    bool shownBox() const { return shownBox_; }
    const std::string& firstBox() const { return firstBox_; }

private:
    Clock& clock_;
    std::string firstBox_;
    bool shownBox_ = false;
};

} // namespace talmo
