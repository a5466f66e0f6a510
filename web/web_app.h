// The web page's shell: the window's four pages (waiting, console, programmer,
// boot loader), their show sequences, the console's poll and every button,
// over the device link and the same flows as the window. Plain C++: the
// page's drawing is behind WebView (the browser's document in the web build,
// a recording view in tests) and every operation reports through the Ui
// facade. The caller runs one of these at a time, never two at once: in the
// browser, a job queue does.
#pragma once

#include "console/console_flow.h"
#include "link/device_link.h"
#include "link/page_choice.h"
#include "programmer/programmer_flow.h"
#include "updater/bootloader_flow.h"

#include <memory>
#include <string>

namespace talmo {

struct FirmwareImage;

// What the user did to a control.
enum class ControlEvent {
    Click,  // a button
    Input,  // a slider moved (value "0".."100") or an edit's text changed (value the text)
    Blur,   // an edit lost the focus
    Toggle, // a check box (value "1" or "0")
};

// The page as the shell sees it. Controls are the window's numeric control
// identifiers, which repeat between pages: every call names its page.
class WebView {
public:
    virtual ~WebView() = default;
    virtual void showPage(PageKind page) = 0;
    virtual void setText(PageKind page, int control, const std::string& text) = 0;
    virtual void setPicture(PageKind page, int control, int picture) = 0;
    virtual void setPosition(PageKind page, int control, int value) = 0; // 0..100
    virtual void setVisible(PageKind page, int control, bool visible) = 0;
    virtual void setChecked(PageKind page, int control, bool checked) = 0;
    virtual bool checked(PageKind page, int control) = 0;
    // An edit that has the focus, or a slider being dragged.
    virtual bool hasFocus(PageKind page, int control) = 0;
    virtual void openAddress(const std::string& address) = 0;
};

class WebApp {
public:
    WebApp(HidBackend& backend, Ui& ui, WebView& view);
    ~WebApp();
    WebApp(const WebApp&) = delete;
    WebApp& operator=(const WebApp&) = delete;

    // Start-up: the program version on every page, the device opened when
    // one is there, the page that matches.
    void start();
    // Arrivals and removals waiting in the backend, handled in order, each
    // followed by the page choice.
    void devicesChanged();
    // What the page's timer runs: the console's status poll when one is due
    // (every 50 ms); nothing on other pages.
    void tick();
    // A user's action on a control of a page; ignored unless that page is
    // the one shown.
    void command(PageKind page, int control, ControlEvent event, const std::string& value);

    PageKind currentPage() const { return current_; }
    DeviceLink& link() { return link_; }

private:
    void choosePage();
    void switchTo(PageKind page);
    ConsoleContext consoleContext();
    void consoleCommand(int control, ControlEvent event, const std::string& value);
    void programmerCommand(int control);
    void bootLoaderShown();
    void bootLoaderCommand(int control);
    ProgrammerContext programmerContext();
    BootLoaderContext bootLoaderContext();

    Ui& ui_;
    WebView& view_;
    DeviceLink link_;
    PageKind current_ = PageKind::Waiting;
    bool shown_ = false; // a page has been chosen once

    // Console page.
    class ConsoleDrawing;
    std::unique_ptr<ConsoleDrawing> consoleView_;
    ConsoleState console_;

    // Programmer page.
    ProgrammerState programmer_;

    // Boot-loader page.
    std::unique_ptr<FirmwareImage> firmware_;
    BootLoaderFields fields_;
    Report bootLoaderReport_{};
    std::string firmwarePath_;
    std::string firmwareSavePath_;
};

} // namespace talmo
