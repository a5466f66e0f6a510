// What the four pages share with the main window.
//
// A page is a child widget of the main window. The window tells it when it
// really becomes visible or hidden (pageShown / pageHidden): that is what
// starts and stops its timers and runs its show sequence, also during
// start-up before the window itself is shown.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <functional>
#include <string>

namespace talmo {

class Ui;
struct DeviceLink;

// Services of the main window that pages use.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void showProgrammerPage() = 0; // console page's "Màj VELKOR"
    virtual void returnToConsolePage() = 0; // programmer page's "Retour TALMO"
    // One of the indicator pictures by its resource number (140..169);
    // a null pixmap before they are loaded.
    virtual const QPixmap& picture(int id) const = 0;
    // The console page's Auto box, read by the boot-loader page.
    virtual bool autoUpdateTicked() const = 0;
    // The firmware path: initially "./talmo.hex" (the working folder's talmo.hex).
    virtual std::string& firmwarePath() = 0;
    // Opens the maker's web site in the default browser.
    virtual void openWebSite() = 0;
};

// Everything a page borrows for the whole run.
struct AppContext {
    DeviceLink* link = nullptr;
    Ui* ui = nullptr;
    Shell* shell = nullptr;
};

class Page : public QWidget {
    Q_OBJECT
public:
    Page(AppContext& context, QWidget* parent) : QWidget(parent), context_(context) {}

    virtual void pageShown() {}
    virtual void pageHidden() {}

protected:
    AppContext& context_;
};

} // namespace talmo
