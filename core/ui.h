// The one user-interface facade through which every operation reports:
// the two status-bar fields, modal message boxes, file dialogs and waits.
//
// Operations never talk to widgets directly. The program uses the Qt
// implementation (qt_ui.h); tests use ScriptedUi (scripted_ui.h), which
// returns prepared answers and records every text shown, in order.
// All texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talmo {

class Clock;

enum class Icon {
    None,
    Error,
    Warning,
    Information,
    Question
};
enum class Buttons {
    Ok,
    OkCancel,
    YesNo,
    YesNoCancel
};
enum class Answer {
    Ok,
    Cancel,
    Yes,
    No
};

// Status-bar fields: 0 is the connection field (written by the device link
// only), 1 the message field (progress and results of the pages).
enum StatusField : int {
    ConnectionField = 0,
    MessageField = 1
};

struct FileFilter {
    std::string label;    // "Fichiers HEX (*.hex)"
    std::string patterns; // "*.hex" (several separated by spaces)
};

struct FileDialogRequest {
    std::string title;               // empty: the toolkit's default title
    std::vector<FileFilter> filters; // in the order shown; the first is selected
    std::string defaultExtension;    // "hex": appended when the user typed none
    std::string initialPath;         // folder or file to start from
    bool confirmOverwrite = true;    // save dialog: ask before replacing a file
};

class Ui {
public:
    virtual ~Ui() = default;

    virtual void setStatusText(int field, const std::string& text) = 0;
    virtual Answer messageBox(const std::string& text, const std::string& caption, Icon icon,
                              Buttons buttons) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> openFileDialog(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> saveFileDialog(const FileDialogRequest& request) = 0;
    // Waits `ms` milliseconds on the clock. The pages take no input meanwhile;
    // a window may still answer the window system.
    virtual void waitMs(int ms) = 0;
    // How far a long operation (reading or programming the PIC, saving or
    // programming the firmware) has come: `done` of `total` steps of the
    // whole operation, in the phase named (French words, the same for the
    // whole of a phase). Sent often, at least once per exchange group, and
    // last with done == total on success; the status texts stay the
    // operation's words for the user. Nothing by default.
    virtual void progress(const char* phase, std::uint32_t done, std::uint32_t total) {
        (void)phase;
        (void)done;
        (void)total;
    }
    virtual Clock& clock() = 0;

    // Shorthand for the frequent error box with an OK button.
    void errorBox(const std::string& text, const std::string& caption) {
        messageBox(text, caption, Icon::Error, Buttons::Ok);
    }
};

} // namespace talmo
