// The programmer page (dialog 168): identifies the VELKOR board's PIC, shows
// its firmware version, saves its program and programs another version, all
// through the TALMO in normal mode. Opened from the console page.
#pragma once

#include "programmer/programmer_flow.h"
#include "ui/page.h"

#include <memory>

class QGridLayout;
class QHBoxLayout;
class QPushButton;

namespace talmo {

class ProgrammerPage : public Page {
    Q_OBJECT
public:
    ProgrammerPage(AppContext& context, QWidget* parent);
    ~ProgrammerPage() override;

    void pageShown() override;

    // Runs a command by its number, as the page's buttons do (1043, 1044,
    // 1045, 1046, 106); other numbers do nothing.
    void command(int id);

    // The page's data, kept for the whole run.
    const ProgrammerState& state() const { return *state_; }

private:
    // A button of the page named by its number, that runs command(id).
    QPushButton* newCommandButton(const char* text, int id);
    QGridLayout* newSteps();
    QHBoxLayout* newBackRow();
    ProgrammerContext flowContext();
    void setControlText(int id, const std::string& text);

    std::unique_ptr<ProgrammerState> state_;
};

} // namespace talmo
