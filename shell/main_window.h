// The main window: one fixed-size window without a menu bar, a two-field
// status bar (connection state; progress and results) and four pages of
// which exactly one is visible, chosen from the device link's state at
// start-up and after every device event.
#pragma once

#include "link/device_link.h"
#include "shell/page_choice.h"
#include "ui/page.h"

#include <QMainWindow>
#include <QPixmap>

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>

class QLabel;
class QTimer;

namespace talmo {

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

    // Sets field 0 (connection) or 1 (message) of the status bar and
    // repaints it at once.
    void setStatusText(int field, const std::string& text);

    // Runs the device events waiting in the backend, one by one: the link's
    // reaction, then the page choice. Called by the event notifier.
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

    // How the web address is opened (the desktop's browser by default).
    std::function<void(const QString& address)> urlOpener;

    // Pixels of a dialog-unit rectangle with the metrics of `font`.
    static QSize dialogUnitsToPixels(const QFont& font, int widthUnits, int heightUnits);

private:
    void setPageVisible(PageKind kind, bool visible);
    // Keyboard focus into the current page, unless it is there already.
    void focusCurrentPage();
    void loadPictures(std::span<const int> ids);
    // Starts or stops the busy device's retry to match the link's state.
    void followBusyDevice();
    void retryBusyDevice();

    DeviceLink& link_;
    Ui& ui_;
    AppContext context_;
    std::array<Page*, kPageCount> pages_{};
    PageKind current_ = PageKind::Waiting;
    std::array<QLabel*, 2> fields_{};
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
