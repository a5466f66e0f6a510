// The waiting page: shown while no TALMO is connected. It says so and keeps
// a progress bar moving back and forth, 5 % every 50 ms, while it is visible.
// When a TALMO is present but its node may not be opened, it says that
// instead, with what to do about it, and the bar goes.
#pragma once

#include "ui/page.h"

#include <string>

class QLabel;
class QProgressBar;
class QTimer;

namespace talmo {

// One animation step of the bar: the step turns to +5 near the bottom
// (position <= 8) and to -5 when the next step would pass 100.
struct BarMotion {
    int position = 0;
    int step = 5;
};
BarMotion nextBarMotion(BarMotion motion);

class WaitingPage : public Page {
    Q_OBJECT
public:
    enum Control : int {
        kProgressBar = kWaitingProgressBar,
        kWebButton = kWebSiteButton,              // 106, the default button
        kProgramVersionControl = kVersionControl, // 1050
    };
    static constexpr int kAnimationPeriodMs = 50;

    WaitingPage(AppContext& context, QWidget* parent);

    void pageShown() override;  // starts the animation
    void pageHidden() override; // stops it; the bar keeps position and step

    // The refused node (/dev/hidrawN), or "" when no TALMO is refused.
    void showRefusedNode(const std::string& node);
    bool showsRefusal() const;

    // One animation step (what each timer tick does).
    void tick();

    bool animating() const;
    int barPosition() const;
    int barStep() const { return step_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* message_ = nullptr;
    QLabel* advice_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QTimer* timer_ = nullptr;
    int step_ = 5;
};

} // namespace talmo
