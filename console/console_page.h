// The console page (dialog 130): the device's live status in normal mode,
// and the user's commands (PWM level, motors, LCD test, firmware update,
// the programmer page).
#pragma once

#include "console/console_flow.h"
#include "link/device_link.h"
#include "ui/page.h"

#include <QTimer>

#include <map>
#include <memory>

class QLineEdit;
class QSlider;
class QCheckBox;

namespace talmo {

class ConsolePage : public Page {
    Q_OBJECT
public:
    ConsolePage(AppContext& context, QWidget* parent);
    ~ConsolePage() override;

    // Start sequence, then the poll (unless the firmware is too old).
    void pageShown() override;
    // Stops the poll; the status cache keeps what it holds.
    void pageHidden() override;

    // The Auto box: the boot-loader page updates the firmware at once when
    // it is ticked.
    bool autoUpdateTicked() const;

    // What the poll's timer runs: a poll when one is due, then the timer set
    // for the next one.
    void pollStatus();
    bool polling() const { return state_.polling; }

    // Number of status answers drawn since the page was made.
    int displayedAnswers() const { return state_.displayedAnswers; }

private:
    class View;

    // The group boxes and their controls from the layout tables, then the footer.
    void buildControls();
    // The controls the page keeps at hand, and the user's actions to their handlers.
    void connectControls();
    // Runs a step of the console's flow, unless there is no device.
    template <class Step>
    void run(Step step);
    void armPoll();
    void setPicture(int control, int pictureId);
    void setText(int control, const std::string& text);

    bool eventFilter(QObject* watched, QEvent* event) override;

    ConsoleState state_;
    std::unique_ptr<View> view_;
    QTimer pollTimer_;

    std::map<int, QWidget*> controls_;
    QLineEdit* levelEdit_ = nullptr;
    QSlider* levelSlider_ = nullptr;
    QCheckBox* autoBox_ = nullptr;
};

} // namespace talmo
