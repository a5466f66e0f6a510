// The main window: one fixed-size window without a menu bar, a two-field
// status bar (connection state; progress and results) and four pages of
// which exactly one is visible, chosen from the device link's state at
// start-up and after every device event.
#pragma once

#include "link/device_link.h"
#include "link/page_choice.h"
#include "ui/page.h"

#include <QMainWindow>
#include <QPixmap>
#include <QTimer>

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>

class QLabel;
class QProgressBar;
class QTimer;

namespace talmo {

class QtUi;

class MainWindow final : public QMainWindow, public Shell {
    Q_OBJECT
public:
    // The link's backend and user interface must be set; the window registers
    // for device events, creates its pages hidden, opens the device and shows
    // the page that fits, all before it is shown itself. A QtUi's status
    // texts are sent to the window's status bar.
    // makePage creates the pages (createStandardPage for the program's own).
    using PageFactory = std::function<Page*(PageKind, AppContext&, QWidget* parent)>;
    MainWindow(DeviceLink& link, Ui& ui, const PageFactory& makePage = {},
               QWidget* parent = nullptr);
    // Closes the device link.
    ~MainWindow() override;

    // Sets field 0 (connection) or 1 (message) of the status bar; it is
    // drawn the next time events are processed (within an operation too).
    void setStatusText(int field, const std::string& text);

    // Shows the progress bar of the status bar at done of total.
    void showProgress(std::uint32_t done, std::uint32_t total);
    bool progressShown() const;

    // Runs the device events waiting in the backend, one by one: the link's
    // reaction, then the page choice. Called by the event notifier. While
    // the event loop runs from inside an operation, the events only join the
    // queue; they are handled, in order, once the operation has returned.
    void processDeviceEvents();
    // Applies the page choice for the link's present state.
    void choosePage();
    // While the TALMO is another program's, the link is tried again about
    // once a second (nothing tells when that program lets go).
    static constexpr int kBusyRetryMs = 1000;
    bool retryingBusyDevice() const;

    PageKind currentPageKind() const { return current_; }
    Page* currentPage() const { return page(current_); }
    Page* page(PageKind kind) const { return pages_[static_cast<int>(kind)]; }
    // The outer size that dialog units 374 x 275 give with the font's metrics.
    QSize fixedClientSize() const { return fixedSize_; }

    // Shell services of the pages.
    void showProgrammerPage() override;
    void returnToConsolePage() override;
    const QPixmap& picture(int id) const override;
    bool autoUpdateTicked() const override;
    std::string& firmwarePath() override { return firmwarePath_; }
    void openWebSite() override;
    bool insideOperation() const override;

    // How the web address is opened (the desktop's browser by default).
    std::function<void(const QString& address)> urlOpener;

    // Pixels of a dialog-unit rectangle with the metrics of `font`.
    static QSize dialogUnitsToPixels(const QFont& font, int widthUnits, int heightUnits);

private:
    // The steps of construction, in order.
    void createStatusBar();
    void followDeviceEvents();
    void createPages(const PageFactory& makePage);
    void fixSize();
    void takeAccelerator();

    // Tells a page that it is shown or hidden, when that changes.
    void tellPage(PageKind kind, bool shown);
    // What waits for the end of an operation: the progress bar goes, the
    // device events come.
    void afterOperation();
    // Keyboard focus into the current page, unless it is there already.
    void focusCurrentPage();
    void loadPictures(std::span<const int> ids);
    // Starts or stops the busy device's retry to match the link's state.
    void followBusyDevice();
    void retryBusyDevice();

    DeviceLink& link_;
    Ui& ui_;
    QtUi* qtUi_ = nullptr; // ui_, when it is the Qt facade
    AppContext context_;
    std::array<Page*, kPageCount> pages_{};
    PageKind current_ = PageKind::Waiting;
    std::array<bool, kPageCount> told_{}; // the pages last told "shown"
    std::array<QLabel*, 2> fields_{};
    QProgressBar* progressBar_ = nullptr;
    QTimer afterOperation_; // fires once the event loop runs outside an operation
    QSize fixedSize_;
    std::map<int, QPixmap> pictures_;
    std::string firmwarePath_;
    QTimer* busyRetry_ = nullptr;
    std::deque<HidDeviceEvent> pendingEvents_; // taken from the backend, not yet handled
    unsigned switchSerial_ = 0;                // counts page switches (page choice, page requests)
};

// The program's own pages (standard_pages.cpp).
Page* createStandardPage(PageKind kind, AppContext& context, QWidget* parent);

// The default firmware file: talmo.hex in the working folder, written with
// the platform's path separator.
std::string defaultFirmwarePath();

} // namespace talmo
