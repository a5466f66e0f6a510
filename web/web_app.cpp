#include "web/web_app.h"

#include "console/console_commands.h"
#include "core/picture_ids.h"
#include "core/ui.h"
#include "core/version.h"
#include "updater/firmware_image.h"

#include <cstdlib>
#include <vector>

namespace talmo {

namespace {

constexpr int kProgramVersionControl = 1050; // in every page's footer
constexpr int kWebSiteButton = 106;          // "Site web TALMO", in every footer
constexpr int kAutoBox = kCtlAutoBox;

// The firmware file that the automatic update programs: beside the page.
constexpr char kDefaultFirmwarePath[] = "talmo.hex";

} // namespace

WebApp::WebApp(HidBackend& backend, Ui& ui, WebView& view)
    : ui_(ui), view_(view), firmware_(std::make_unique<FirmwareImage>()),
      firmwarePath_(kDefaultFirmwarePath) {
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
        view_.setText(page, kProgramVersionControl, kProgramVersion);
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
    polling_ = false;
    current_ = page;
    view_.showPage(page);
    switch (page) {
    case PageKind::Console:
        consoleShown();
        break;
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
    if (current_ != PageKind::Console || !polling_)
        return;
    if (PollStatus(link_, consoleBuffer_, cache_) == PollOutcome::Changed)
        showStatus(cache_.bytes);
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

void WebApp::consoleShown() {
    const StartResult r =
        RunStartSequence(link_, consoleBuffer_, cache_, ui_, [this](const std::string& v) {
            view_.setText(PageKind::Console, kCtlVersionText, v);
        });
    if (r.tooOld)
        return; // the device is on its way to the boot loader: no poll
    for (const auto& [control, text] : StartTexts(r))
        view_.setText(PageKind::Console, control, text);
    if (r.table)
        view_.setChecked(PageKind::Console, kCtlSignalInvertedBox, r.table->signalInverted);
    polling_ = true;
}

void WebApp::showStatus(const ConsoleReport& answer) {
    // Decoded first: writing the PWM edit talks to the device, which
    // overwrites the report buffer.
    const std::vector<DisplayItem> items = DecodeStatus(answer);
    for (const DisplayItem& d : items) {
        if (d.skipWhenFocused && view_.hasFocus(PageKind::Console, d.control))
            continue;
        switch (d.kind) {
        case DisplayItem::Text:
            if (d.control == kCtlInputLevelEdit)
                writeLevelEdit(d.text);
            else
                view_.setText(PageKind::Console, d.control, d.text);
            break;
        case DisplayItem::Picture:
            view_.setPicture(PageKind::Console, d.control, d.value);
            break;
        case DisplayItem::Position:
            view_.setPosition(PageKind::Console, d.control, d.value);
            break;
        case DisplayItem::Visible:
            view_.setVisible(PageKind::Console, d.control, d.value != 0);
            break;
        }
    }
}

// Every change of the edit's text goes to the device, the page's own writes
// included: the shown value settles the device's.
void WebApp::writeLevelEdit(const std::string& text) {
    view_.setText(PageKind::Console, kCtlInputLevelEdit, text);
    SendPwm(link_, consoleBuffer_, PercentToByte(ParseEditNumber(text)));
}

void WebApp::consoleCommand(int control, ControlEvent event, const std::string& value) {
    switch (control) {
    case kCtlInputLevelSlider:
        if (event == ControlEvent::Input)
            SendPwm(link_, consoleBuffer_, PercentToByte(std::atoi(value.c_str())));
        break;
    case kCtlInputLevelEdit:
        if (event == ControlEvent::Input) {
            SendPwm(link_, consoleBuffer_, PercentToByte(ParseEditNumber(value)));
        } else if (event == ControlEvent::Blur) {
            if (const auto level = RefreshPwmLevel(link_, consoleBuffer_))
                writeLevelEdit(PercentText(*level));
        }
        break;
    case kCtlMotorButton:
        if (event == ControlEvent::Click)
            ToggleMotors(link_, consoleBuffer_);
        break;
    case kCtlLcdTestButton:
        if (event == ControlEvent::Click)
            RunLcdTest(link_, consoleBuffer_, ui_);
        break;
    case kCtlUpdateButton:
        if (event == ControlEvent::Click)
            JumpToBootLoader(link_, consoleBuffer_);
        break;
    case kCtlProgrammerButton:
        if (event == ControlEvent::Click)
            switchTo(PageKind::Programmer);
        break;
    default:
        break;
    }
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
    if (view_.checked(PageKind::Console, kAutoBox))
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
