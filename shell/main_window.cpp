#include "shell/main_window.h"

#include "console/console_core.h"
#include "link/access_advice.h"
#include "shell/waiting_page.h"
#include "ui/pictures.h"
#include "ui/qt_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <filesystem>

namespace talmo {

namespace {

constexpr int kPageWidthUnits = 374;
constexpr int kPageHeightUnits = 275;
constexpr int kPageMargin = 2;
constexpr int kEventPollMs = 100; // backends without a descriptor
constexpr int kProgressBarWidth = 100;
constexpr int kStatusBarControl = 110; // the window's status bar

} // namespace

std::string defaultFirmwarePath() {
    std::string path(1, '.');
    path += static_cast<char>(std::filesystem::path::preferred_separator);
    path += "talmo.hex";
    return path;
}

QSize MainWindow::dialogUnitsToPixels(const QFont& font, int widthUnits, int heightUnits) {
    // A dialog unit is a quarter of the font's average character width
    // horizontally and an eighth of its height vertically.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int baseX = std::max(1, (letters / 26 + 1) / 2);
    const int baseY = std::max(1, metrics.height());
    return {widthUnits * baseX / 4, heightUnits * baseY / 8};
}

MainWindow::MainWindow(DeviceLink& link, Ui& ui, const PageFactory& makePage, QWidget* parent)
    : QMainWindow(parent), link_(link), ui_(ui), qtUi_(dynamic_cast<QtUi*>(&ui)) {
    context_.link = &link_;
    context_.ui = &ui_;
    context_.shell = this;
    urlOpener = [](const QString& address) { QDesktopServices::openUrl(QUrl(address)); };
    afterOperation_.setSingleShot(true);
    afterOperation_.setInterval(0);
    connect(&afterOperation_, &QTimer::timeout, this, &MainWindow::afterOperation);

    setWindowTitle(QStringLiteral("TALMO_Tools"));
    setWindowIcon(programIcon());
    createStatusBar();
    followDeviceEvents();
    // The pictures that belong to the pages' layouts.
    static constexpr int kLayoutPictures[] = {kIconProgram, kPictureLcd};
    loadPictures(kLayoutPictures);
    createPages(makePage);
    fixSize();
    for (Page* p : pages_)
        p->setProgramVersion(kProgramVersion);
    takeAccelerator();
    // Also without HID services: the connection field then says "non connecté".
    OpenDevice(link_);
    choosePage();
    followBusyDevice();
    loadPictures(kIndicatorPictureIds);
    firmwarePath_ = defaultFirmwarePath();
}

// The connection field, the message field and, during long operations, a
// progress bar; a QtUi's texts and progress reports come here.
void MainWindow::createStatusBar() {
    auto* bar = statusBar();
    bar->setObjectName(controlName(kStatusBarControl));
    bar->setSizeGripEnabled(false);
    for (int field = 0; field < 2; ++field) {
        fields_[field] = new QLabel(bar);
        fields_[field]->setObjectName(QStringLiteral("statusField%1").arg(field));
        bar->addWidget(fields_[field], field == 0 ? 0 : 1);
    }
    // The bar stands at the right end of the connection field, whose text is
    // short: the message field keeps its place and its whole width.
    progressBar_ = new QProgressBar(fields_[0]);
    progressBar_->setObjectName(QStringLiteral("statusProgress"));
    progressBar_->setFormat(QStringLiteral("%p %"));
    progressBar_->hide();
    if (qtUi_) {
        qtUi_->setStatusSink(
            [this](int field, const std::string& text) { setStatusText(field, text); });
        qtUi_->setProgressSink([this](const char*, std::uint32_t done, std::uint32_t total) {
            showProgress(done, total);
        });
        qtUi_->setDialogParent(this);
    }
    ui_.setStatusText(ConnectionField, "USB: Getting status");
}

void MainWindow::followDeviceEvents() {
    busyRetry_ = new QTimer(this);
    busyRetry_->setInterval(kBusyRetryMs);
    connect(busyRetry_, &QTimer::timeout, this, &MainWindow::retryBusyDevice);
    if (!link_.backend)
        return;
    RegisterForDeviceEvents(link_);
    const int fd = link_.backend->eventFd();
    if (fd >= 0) {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &MainWindow::processDeviceEvents);
    } else {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, &MainWindow::processDeviceEvents);
        poll->start(kEventPollMs);
    }
}

// The four pages, hidden, in this order, on top of each other.
void MainWindow::createPages(const PageFactory& makePage) {
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("pageArea"));
    auto* grid = new QGridLayout(area);
    grid->setContentsMargins(kPageMargin, kPageMargin, 0, 0);
    for (PageKind kind :
         {PageKind::BootLoader, PageKind::Console, PageKind::Waiting, PageKind::Programmer}) {
        Page* p = makePage ? makePage(kind, context_, area) : nullptr;
        if (!p) // a page the factory does not make: an empty one (the waiting page is ours)
            p = kind == PageKind::Waiting ? new WaitingPage(context_, area)
                                          : new Page(context_, area);
        pages_[static_cast<int>(kind)] = p;
    }
    for (Page* p : pages_) {
        p->hide();
        grid->addWidget(p, 0, 0);
    }
    setCentralWidget(area);
}

// Fixed size: the pages get 374 x 275 dialog units of the dialog font.
void MainWindow::fixSize() {
    const QSize pageSize =
        dialogUnitsToPixels(QApplication::font(), kPageWidthUnits, kPageHeightUnits);
    for (Page* p : pages_)
        p->setMinimumSize(pageSize);
    const int barHeight = statusBar()->sizeHint().height();
    fixedSize_ = QSize(pageSize.width() + kPageMargin, pageSize.height() + kPageMargin + barHeight);
    setFixedSize(fixedSize_);
    fields_[0]->setFixedWidth(fixedSize_.width() / 2);
    const int h = fields_[0]->sizeHint().height();
    progressBar_->setGeometry(fields_[0]->width() - kProgressBarWidth - kPageMargin, 0,
                              kProgressBarWidth, h);
}

// The accelerator of the window: Alt+'?' and Alt+'/' are taken and do nothing.
void MainWindow::takeAccelerator() {
    for (const QKeySequence& keys :
         {QKeySequence(Qt::ALT | Qt::Key_Question), QKeySequence(Qt::ALT | Qt::Key_Slash)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [] {});
    }
}

MainWindow::~MainWindow() {
    CloseDevice(link_);
    if (qtUi_) {
        qtUi_->setStatusSink(nullptr);
        qtUi_->setProgressSink(nullptr);
        qtUi_->setDialogParent(nullptr);
    }
}

void MainWindow::loadPictures(std::span<const int> ids) {
    for (int id : ids)
        pictures_[id] = loadPicture(id, devicePixelRatioF());
}

void MainWindow::setStatusText(int field, const std::string& text) {
    if (field < 0 || field > 1)
        return;
    fields_[field]->setText(QString::fromStdString(text));
    // A refused TALMO: the connection field's tooltip says what to do.
    if (field == ConnectionField)
        fields_[field]->setToolTip(
            !link_.connected() && !link_.deniedPath.empty()
                ? QString::fromStdString(AccessDeniedAdvice(link_.deniedPath))
                : QString());
}

void MainWindow::showProgress(std::uint32_t done, std::uint32_t total) {
    const int max = static_cast<int>(std::min<std::uint32_t>(total, INT_MAX));
    progressBar_->setRange(0, std::max(max, 1));
    progressBar_->setValue(static_cast<int>(std::min(done, total)));
    progressBar_->show();
    afterOperation_.start();
}

bool MainWindow::progressShown() const { return !progressBar_->isHidden(); }

bool MainWindow::insideOperation() const { return qtUi_ && qtUi_->insideOperation(); }

void MainWindow::afterOperation() {
    if (insideOperation()) {
        afterOperation_.start();
        return;
    }
    progressBar_->hide();
    processDeviceEvents();
}

void MainWindow::processDeviceEvents() {
    if (!link_.backend)
        return;
    for (HidDeviceEvent& event : link_.backend->takeEvents())
        pendingEvents_.push_back(std::move(event));
    if (insideOperation()) {
        if (!pendingEvents_.empty())
            afterOperation_.start();
        return;
    }
    // A page being shown may open a modal box whose own event loop brings us
    // back here: the newer events join the same queue, so that every event is
    // handled once and in the order it came.
    while (!pendingEvents_.empty()) {
        const HidDeviceEvent event = std::move(pendingEvents_.front());
        pendingEvents_.pop_front();
        OnDeviceChange(link_, event);
        choosePage();
    }
    followBusyDevice();
}

bool MainWindow::retryingBusyDevice() const { return busyRetry_->isActive(); }

void MainWindow::followBusyDevice() {
    const bool busy = !link_.connected() && !link_.busyPath.empty();
    if (busy && !busyRetry_->isActive())
        busyRetry_->start();
    else if (!busy)
        busyRetry_->stop();
}

void MainWindow::retryBusyDevice() {
    if (insideOperation())
        return; // the next try, once the operation has returned
    if (!link_.connected() && !link_.busyPath.empty()) {
        OpenDevice(link_);
        choosePage();
    }
    followBusyDevice();
}

void MainWindow::choosePage() {
    const PageChoice choice = talmo::ChoosePage(link_.connected(), link_.productId);
    if (auto* waiting = qobject_cast<WaitingPage*>(page(PageKind::Waiting)))
        waiting->showRefusedNode(link_.connected() ? std::string() : link_.deniedPath);
    const unsigned serial = ++switchSerial_;
    current_ = choice.current;
    // Every page takes its place before any is told: a page being told may
    // show a box, and under it the one page chosen is on the screen.
    for (const PageStep& step : choice.steps)
        page(step.page)->setVisible(step.show);
    for (const PageStep& step : choice.steps) {
        tellPage(step.page, step.show);
        // A newer switch made while a page was told (from a modal box's
        // event loop) stands; the rest of this one is out of date.
        if (switchSerial_ != serial)
            return;
    }
    focusCurrentPage();
}

void MainWindow::focusCurrentPage() {
    Page* p = currentPage();
    if (!isVisible() || p->isHidden())
        return;
    QWidget* focus = QApplication::focusWidget();
    if (focus && p->isAncestorOf(focus))
        return;
    // The control that had the focus last time, else the first one that takes it.
    QWidget* target = p->focusWidget();
    if (!target || !target->isVisibleTo(p) || !target->isEnabled()) {
        target = nullptr;
        for (QWidget* w = p->nextInFocusChain(); w && w != p; w = w->nextInFocusChain())
            if (p->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(p) &&
                w->isEnabled()) {
                target = w;
                break;
            }
    }
    if (target)
        target->setFocus(Qt::OtherFocusReason);
}

void MainWindow::tellPage(PageKind kind, bool shown) {
    bool& told = told_[static_cast<int>(kind)];
    if (told == shown)
        return;
    told = shown;
    if (shown)
        page(kind)->pageShown();
    else
        page(kind)->pageHidden();
}

void MainWindow::showProgrammerPage() {
    const unsigned serial = ++switchSerial_;
    page(PageKind::Console)->hide();
    page(PageKind::Programmer)->show();
    tellPage(PageKind::Console, false);
    if (switchSerial_ != serial)
        return;
    tellPage(PageKind::Programmer, true);
    if (switchSerial_ != serial)
        return;
    current_ = PageKind::Programmer;
    focusCurrentPage();
}

void MainWindow::returnToConsolePage() {
    const unsigned serial = ++switchSerial_;
    ui_.setStatusText(MessageField, "");
    page(PageKind::Console)->show();
    page(PageKind::Programmer)->hide();
    tellPage(PageKind::Console, true);
    // The console page's start sequence may show a modal box during which a
    // device event chooses another page: that choice stands.
    if (switchSerial_ != serial)
        return;
    current_ = PageKind::Console;
    tellPage(PageKind::Programmer, false);
    if (switchSerial_ != serial)
        return;
    focusCurrentPage();
}

const QPixmap& MainWindow::picture(int id) const {
    static const QPixmap none;
    const auto it = pictures_.find(id);
    return it == pictures_.end() ? none : it->second;
}

bool MainWindow::autoUpdateTicked() const {
    const auto* box = page(PageKind::Console)->control<QCheckBox>(kCtlAutoBox);
    return box && box->isChecked();
}

void MainWindow::openWebSite() {
    if (urlOpener)
        urlOpener(QString::fromUtf8(kWebSiteAddress));
}

} // namespace talmo
