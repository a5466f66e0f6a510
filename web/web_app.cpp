#include "web/web_app.h"

#include "core/page_controls.h"
#include "core/picture_ids.h"
#include "core/ui.h"
#include "core/version.h"
#include "updater/firmware_image.h"

#include <cstdlib>
#include <vector>

namespace talmo {

namespace {

// The firmware file that the automatic update programs: beside the page.
constexpr char kDefaultFirmwarePath[] = "talmo.hex";

} // namespace

// The console's flow draws on the page's console.
class WebApp::ConsoleDrawing final : public ConsoleView {
public:
    explicit ConsoleDrawing(WebView& view) : view_(view) {}
    void setText(int control, const std::string& text) override {
        view_.setText(PageKind::Console, control, text);
    }
    void setPicture(int control, int picture) override {
        view_.setPicture(PageKind::Console, control, picture);
    }
    void setPosition(int control, int position) override {
        view_.setPosition(PageKind::Console, control, position);
    }
    void setVisible(int control, bool visible) override {
        view_.setVisible(PageKind::Console, control, visible);
    }
    void setChecked(int control, bool checked) override {
        view_.setChecked(PageKind::Console, control, checked);
    }
    bool hasFocus(int control) override { return view_.hasFocus(PageKind::Console, control); }

private:
    WebView& view_;
};

WebApp::WebApp(HidBackend& backend, Ui& ui, WebView& view)
    : ui_(ui), view_(view), consoleView_(std::make_unique<ConsoleDrawing>(view)),
      firmware_(std::make_unique<FirmwareImage>()), firmwarePath_(kDefaultFirmwarePath) {
    link_.backend = &backend;
    link_.ui = &ui;
    ResetFirmwareImage(*firmware_);
    fields_.changed = [this] {
        view_.setText(PageKind::BootLoader, kBootLoaderVersionText, fields_.bootLoaderVersion);
        view_.setText(PageKind::BootLoader, kBootLoaderDeviceVersion, fields_.deviceVersion);
        view_.setText(PageKind::BootLoader, kBootLoaderFileVersion, fields_.fileVersion);
    };
}

WebApp::~WebApp() { CloseDevice(link_); }

void WebApp::start() {
    for (PageKind page :
         {PageKind::BootLoader, PageKind::Console, PageKind::Waiting, PageKind::Programmer})
        view_.setText(page, kVersionControl, kProgramVersion);
    ui_.setStatusText(ConnectionField, "USB: Getting status");
    RegisterForDeviceEvents(link_);
    OpenDevice(link_);
    choosePage();
}

void WebApp::devicesChanged() {
    for (const HidDeviceEvent& event : link_.backend->takeEvents()) {
        OnDeviceChange(link_, event);
        choosePage();
    }
}

void WebApp::choosePage() {
    const PageKind chosen = talmo::ChoosePage(link_.connected(), link_.productId).current;
    // The programmer page stays while the TALMO it works through stays.
    if (shown_ &&
        (chosen == current_ || (chosen == PageKind::Console && current_ == PageKind::Programmer)))
        return;
    switchTo(chosen);
}

void WebApp::switchTo(PageKind page) {
    shown_ = true;
    ConsoleHidden(console_);
    current_ = page;
    view_.showPage(page);
    switch (page) {
    case PageKind::Console: {
        ConsoleContext c = consoleContext();
        ConsoleShown(c);
        break;
    }
    case PageKind::BootLoader:
        bootLoaderShown();
        break;
    case PageKind::Programmer: {
        view_.setPicture(PageKind::Programmer, kProgrammerBackButton, kProgrammerBackPicture);
        ProgrammerContext c = programmerContext();
        ProgrammerShown(c);
        break;
    }
    case PageKind::Waiting:
        break;
    }
}

void WebApp::tick() {
    if (current_ != PageKind::Console)
        return;
    ConsoleContext c = consoleContext();
    ConsoleTick(c);
}

void WebApp::command(PageKind page, int control, ControlEvent event, const std::string& value) {
    if (page != current_)
        return;
    if (control == kWebSiteButton && event == ControlEvent::Click) {
        view_.openAddress(kWebSiteAddress);
        return;
    }
    switch (page) {
    case PageKind::Console:
        consoleCommand(control, event, value);
        break;
    case PageKind::Programmer:
        if (event == ControlEvent::Click)
            programmerCommand(control);
        break;
    case PageKind::BootLoader:
        if (event == ControlEvent::Click)
            bootLoaderCommand(control);
        break;
    case PageKind::Waiting:
        break;
    }
}

// ------------------------------------------------------------------ console

ConsoleContext WebApp::consoleContext() {
    return ConsoleContext{link_, ui_, console_, *consoleView_};
}

void WebApp::consoleCommand(int control, ControlEvent event, const std::string& value) {
    ConsoleContext c = consoleContext();
    if (control == kCtlInputLevelSlider && event == ControlEvent::Input)
        ConsoleSliderMoved(c, std::atoi(value.c_str()));
    else if (control == kCtlInputLevelEdit && event == ControlEvent::Input)
        ConsoleEditChanged(c, value);
    else if (control == kCtlInputLevelEdit && event == ControlEvent::Blur)
        ConsoleEditLeft(c);
    else if (event != ControlEvent::Click)
        return;
    else if (control == kCtlMotorButton)
        ConsoleMotorsClicked(c);
    else if (control == kCtlLcdTestButton)
        ConsoleLcdTestClicked(c);
    else if (control == kCtlUpdateButton)
        ConsoleUpdateClicked(c);
    else if (control == kCtlProgrammerButton)
        switchTo(PageKind::Programmer);
}

// ------------------------------------------------------------------ programmer

ProgrammerContext WebApp::programmerContext() {
    return ProgrammerContext{link_, ui_, programmer_, [this](int control, const std::string& text) {
                                 view_.setText(PageKind::Programmer, control, text);
                             }};
}

void WebApp::programmerCommand(int control) {
    ProgrammerContext c = programmerContext();
    if (ProgrammerCommand(c, control))
        switchTo(PageKind::Console);
}

// ------------------------------------------------------------------ boot loader

BootLoaderContext WebApp::bootLoaderContext() {
    return BootLoaderContext{
        link_, ui_, *firmware_, firmwarePath_, firmwareSavePath_, fields_, bootLoaderReport_};
}

void WebApp::bootLoaderShown() {
    BootLoaderContext c = bootLoaderContext();
    BootLoaderShown(c, false);
    // The console's Auto box, ticked before "Mise à jour", asks for the
    // automatic update.
    if (view_.checked(PageKind::Console, kCtlAutoBox))
        BootLoaderAutoUpdate(c);
}

void WebApp::bootLoaderCommand(int control) {
    BootLoaderContext c = bootLoaderContext();
    switch (control) {
    case kBootLoaderSaveButton:
        BootLoaderSave(c);
        break;
    case kBootLoaderProgramButton:
        BootLoaderProgram(c);
        break;
    case kBootLoaderLeaveButton:
        BootLoaderLeave(c);
        break;
    default:
        break;
    }
}

} // namespace talmo
