// The console page (dialog 130): the device's live status in normal mode,
// and the user's commands (PWM level, motors, LCD test, firmware update,
// the programmer page).
#pragma once

#include "console/console_core.h"
#include "link/device_link.h"
#include "ui/page.h"

#include <QTimer>

#include <functional>
#include <map>

class QLineEdit;
class QSlider;
class QCheckBox;

namespace talmo {

class ConsolePage : public Page {
    Q_OBJECT
public:
    // The status poll's period.
    static constexpr int kPollPeriodMs = 50;

    ConsolePage(AppContext& context, QWidget* parent);

    // Start sequence, then the poll (unless the firmware is too old).
    void pageShown() override;
    // Stops the poll; the status cache keeps what it holds.
    void pageHidden() override;

    // The Auto box (1051): the boot-loader page updates the firmware at once
    // when it is ticked.
    bool autoUpdateTicked() const;

    // One tick of the status poll (what the timer runs).
    void pollStatus();
    bool polling() const { return pollTimer_.isActive(); }

    // Number of status answers drawn since the page was made.
    int displayedAnswers() const { return displayedAnswers_; }

private:
    // The group boxes and their controls from the layout tables, then the footer.
    void buildControls();
    // The controls the page keeps at hand, and the user's actions to their handlers.
    void connectControls();
    // Runs one conversation with the device, unless there is no device or
    // another conversation is under way (then false).
    bool talk(const std::function<void(DeviceLink&)>& conversation);
    void showStatus(const ConsoleReport& answer);
    void setPicture(int control, int pictureId);
    void setText(int control, const std::string& text);
    // The page's own write into the PWM edit; sends the value like any change.
    void writeLevelEdit(const std::string& text);

    void onSliderMoved();
    void onLevelEditChanged();
    void onLevelEditFocusLost();
    void onMotorClicked();
    void onLcdTestClicked();
    void onUpdateClicked();
    void onProgrammerClicked();

    bool eventFilter(QObject* watched, QEvent* event) override;

    Report buffer_{};
    StatusCache cache_;
    QTimer pollTimer_;
    bool busy_ = false; // a command or the start sequence is talking to the device
    int displayedAnswers_ = 0;

    std::map<int, QWidget*> controls_;
    QLineEdit* levelEdit_ = nullptr; // 1006
    QSlider* levelSlider_ = nullptr; // 1003
    QCheckBox* autoBox_ = nullptr;   // 1051
};

} // namespace talmo
