// What the four pages share with the main window.
//
// A page is a child widget of the main window. The window tells it when it
// really becomes visible or hidden (pageShown / pageHidden): that is what
// starts and stops its timers and runs its show sequence, also during
// start-up before the window itself is shown.
#pragma once

#include "core/page_controls.h"
#include "core/version.h"

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace talmo {

class Ui;
struct DeviceLink;

// Object name of a page's control by its numeric identifier ("control1050"),
// so that the window and tests find controls by number.
QString controlName(int id);

// A text label for a page, named by its identifier when it has one (0: none).
QLabel* newControlLabel(QWidget* parent, const char* text, int id = 0);

// A push button for a page, named by its identifier; never the default
// button (Enter in a field does not press it).
QPushButton* newControlButton(QWidget* parent, const char* text, int id);

// Services of the main window that pages use.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void showProgrammerPage() = 0;  // console page's "Màj VELKOR"
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
    // True while the event loop runs from inside a long operation: a page's
    // timer must then not talk to the device.
    virtual bool insideOperation() const { return false; }
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

    // Writes the program version into control 1050 (does nothing on a page
    // without a footer).
    void setProgramVersion(const std::string& version);

    // The page's control with that numeric identifier, or null.
    template <class T = QWidget>
    T* control(int id) const {
        return findChild<T*>(controlName(id));
    }

protected:
    // The footer shared by all pages: icon 107, "TALMO_Tools, Version", the
    // version (control 1050, "1.0" until the main window writes the program's
    // version) and the web-site button 106, which asks the shell to open the
    // maker's site. The footer keeps one place, the same on every page, at
    // the page's bottom whatever the page's layout; the returned widget is
    // the room the page leaves for it at the end of its layout.
    QWidget* createFooter();

    void resizeEvent(QResizeEvent* event) override;

    AppContext& context_;

private:
    void placeFooter();

    QWidget* footer_ = nullptr;
};

} // namespace talmo
