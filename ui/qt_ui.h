// The program's user interface facade on Qt: modal boxes owned by no window,
// the toolkit's file dialogs, and the status bar's two fields.
#pragma once

#include "core/clock.h"
#include "core/ui.h"

#include <functional>

class QCoreApplication;
class QWidget;

namespace talmo {

// The toolkit's own texts (dialog buttons, file dialogs) in French, like the
// rest of the program. Returns false when Qt's French catalogue is missing;
// the message boxes still name their buttons in French.
bool installFrenchTranslation(QCoreApplication& app);

class QtUi : public Ui {
public:
    explicit QtUi(Clock& clock) : clock_(clock) {}

    // Where field texts go (the main window's status bar). The sink must
    // repaint the field at once: long operations block the event loop.
    void setStatusSink(std::function<void(int, const std::string&)> sink) {
        sink_ = std::move(sink);
    }
    // Parent of the file dialogs (boxes have none).
    void setDialogParent(QWidget* parent) { dialogParent_ = parent; }

    void setStatusText(int field, const std::string& text) override;
    Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                      Buttons buttons) override;
    std::optional<std::string> openFileDialog(const FileDialogRequest& request) override;
    std::optional<std::string> saveFileDialog(const FileDialogRequest& request) override;
    void waitMs(int ms) override;
    Clock& clock() override { return clock_; }

private:
    Clock& clock_;
    std::function<void(int, const std::string&)> sink_;
    QWidget* dialogParent_ = nullptr;
};

} // namespace talmo
