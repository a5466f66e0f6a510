// The program's user interface facade on Qt: modal boxes owned by no window,
// the toolkit's file dialogs, the status bar's two fields and its progress
// bar.
//
// Long operations run on the user-interface thread. So that the window keeps
// answering the window system meanwhile (pings, repaints, other windows moved
// over it), the facade lets the event loop run from inside them: at every
// wait and at progress reports, at most every kAnswerPeriodMs of the clock.
// Meanwhile the main window (the dialog parent) and everything in it take no
// input: clicks, keys and close requests meant for it are dropped, so that
// no second operation starts and nothing changes under the one running.
// Other windows (the demo's control window) keep their input.
#pragma once

#include "core/clock.h"
#include "core/ui.h"

#include <cstdint>
#include <functional>

class QCoreApplication;
class QObject;
class QWidget;

namespace talmo {

// The toolkit's own texts (dialog buttons, file dialogs) in French, like the
// rest of the program. Returns false when Qt's French catalogue is missing;
// the message boxes still name their buttons in French. Also makes French
// the program's default locale (dates, sizes and numbers in the dialogs).
bool installFrenchTranslation(QCoreApplication& app);

class QtUi : public Ui {
public:
    // The event loop runs from inside an operation at most this often.
    static constexpr int kAnswerPeriodMs = 25;

    explicit QtUi(Clock& clock);
    ~QtUi() override;

    // Where field texts go (the main window's status bar); they are drawn
    // the next time the event loop runs, within operations too.
    void setStatusSink(std::function<void(int, const std::string&)> sink) {
        sink_ = std::move(sink);
    }
    // Parent of the file dialogs (boxes have none), and the window that
    // takes no input while an operation runs.
    void setDialogParent(QWidget* parent) { dialogParent_ = parent; }
    // Where progress reports go (the status bar's progress bar).
    void setProgressSink(std::function<void(const char*, std::uint32_t, std::uint32_t)> sink) {
        progressSink_ = std::move(sink);
    }
    // True while the event loop runs from inside an operation: whatever it
    // calls then must not start work of its own (device events wait, page
    // timers do nothing).
    bool insideOperation() const { return nesting_ > 0; }
    // Off: operations keep the event loop waiting until they end (what a
    // measurement compares against). On by default.
    void setAnswering(bool on) { answering_ = on; }

    void setStatusText(int field, const std::string& text) override;
    Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                      Buttons buttons) override;
    std::optional<std::string> openFileDialog(const FileDialogRequest& request) override;
    std::optional<std::string> saveFileDialog(const FileDialogRequest& request) override;
    void waitMs(int ms) override;
    void progress(const char* phase, std::uint32_t done, std::uint32_t total) override;
    Clock& clock() override { return clock_; }

    // Lets the event loop run now if the last time is kAnswerPeriodMs ago,
    // without input for the dialog parent's window.
    void keepAnswering();

private:
    Clock& clock_;
    std::function<void(int, const std::string&)> sink_;
    std::function<void(const char*, std::uint32_t, std::uint32_t)> progressSink_;
    QWidget* dialogParent_ = nullptr;
    QObject* inputGate_ = nullptr; // drops the window's input while it is installed
    std::int64_t lastAnswerUs_ = 0;
    int nesting_ = 0;
    bool answering_ = true;
};

} // namespace talmo
