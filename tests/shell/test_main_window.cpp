// The main window on the device emulator, with pages that record what they
// are told: the page choice at start-up and after every device event, the
// show/hide notifications, the size, the footers, the pictures, the
// accelerator, the focus and the link closed when the window goes.
#include "shell/waiting_page.h"
#include "shell_rig.h"
#include "ui/pictures.h"
#include "ui/qt_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>

using namespace talmo;
using namespace talmo::test;

namespace {

// A page that records the window's notifications.
class RecordingPage : public Page {
public:
    RecordingPage(PageKind kind, AppContext& context, QWidget* parent,
                  std::vector<std::string>& log)
        : Page(context, parent), kind_(kind), log_(log) {
        (new QVBoxLayout(this))->addWidget(createFooter());
    }
    void pageShown() override {
        log_.push_back(std::string("show ") + PageName(kind_));
        if (onShow)
            onShow(kind_);
    }
    // Runs when the page is shown, as a page's modal box would: device
    // events may be dispatched from inside it.
    static inline std::function<void(PageKind)> onShow;
    void pageHidden() override { log_.push_back(std::string("hide ") + PageName(kind_)); }

private:
    PageKind kind_;
    std::vector<std::string>& log_;
};

// Recording pages everywhere.
MainWindow::PageFactory recording(std::vector<std::string>& log) {
    return [&log](PageKind kind, AppContext& c, QWidget* parent) -> Page* {
        return new RecordingPage(kind, c, parent, log);
    };
}

using Log = std::vector<std::string>;

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    // Start-up with what is plugged ("-": no HID services), then steps; after
    // each, the one page shown and the connection text. Devices are numbered
    // in the order they came.
    void deviceEvents() {
        const char* cases[][3] = {
            {"-", "", "waiting"},
            {"", "plug normal, unplug 0", "waiting console waiting"},
            {"normal", "boot 0, normal 0, unplug 0, plug boot", // re-enumerations
             "console bootloader console waiting bootloader"},
            {"boot", "plug normal, unplug 0, plug normal", // a second TALMO is ignored
             "bootloader bootloader waiting console"},
            {"normal", "programmer, plug boot, programmer, unplug 0", // any event hides it
             "console programmer console programmer waiting"}};
        for (const auto& c : cases) {
            const QString atStart = c[0];
            const QStringList script = QString(c[1]).split(", ", Qt::SkipEmptyParts);
            const QStringList pages = QString(c[2]).split(' ');
            const auto mode = [](const QString& w) {
                return w == "boot" ? Mode::BootLoader : Mode::Normal;
            };
            ShellRig rig;
            std::vector<int> ids;
            if (atStart == "-")
                rig.link.backend = nullptr;
            else if (!atStart.isEmpty())
                ids.push_back(rig.plug(mode(atStart), true));
            MainWindow& w = rig.start();
            QCOMPARE(rig.ui.statusTexts(ConnectionField).front(),
                     std::string("USB: Getting status"));
            for (int i = 0; i <= script.size(); ++i) {
                if (i > 0) {
                    const QStringList words = script[i - 1].split(' ');
                    const int id =
                        words.size() > 1 && words[1][0].isDigit() ? ids.at(words[1].toInt()) : -1;
                    if (words[0] == "plug")
                        ids.push_back(rig.plug(mode(words[1])));
                    else if (words[0] == "unplug")
                        rig.backend.unplug(id);
                    else if (words[0] == "programmer")
                        w.showProgrammerPage();
                    else
                        rig.device(id).setMode(mode(words[0]));
                    rig.deliver();
                }
                const QString step = i ? script[i - 1] : QStringLiteral("start");
                QVERIFY2(PageName(rig.current()) == pages[i],
                         qPrintable(step + " -> " + PageName(rig.current())));
                QCOMPARE(rig.visiblePages(), std::vector<PageKind>{rig.current()});
                QCOMPARE(rig.ui.status(ConnectionField), connectionText(rig.current()));
            }
        }
    }

    void notifications() {
        ShellRig rig;
        const int id = rig.plug(Mode::Normal, true);
        Log log;
        MainWindow& w = rig.start(recording(log));
        // Told during start-up, before the window itself is shown.
        QVERIFY(!w.isVisible());
        QCOMPARE(log, Log{"show console"});
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(log, Log{"show console"});

        log.clear();
        rig.ui.setStatusText(MessageField, "Lecture OK");
        w.showProgrammerPage();
        w.returnToConsolePage();
        QCOMPARE(log, (Log{"hide console", "show programmer", "show console", "hide programmer"}));
        QCOMPARE(rig.ui.status(MessageField), std::string());

        // Events that change nothing tell no page anything.
        log.clear();
        rig.plug(Mode::Normal);
        rig.deliver();
        w.choosePage();
        QVERIFY(log.empty());

        // A re-enumeration: removal and arrival, each with its own page choice.
        rig.device(id).setMode(Mode::BootLoader);
        rig.deliver();
        QCOMPARE(log, (Log{"hide console", "show waiting", "show bootloader", "hide waiting"}));

        QVERIFY(rig.link.connected());
        rig.window.reset();
        QVERIFY(!rig.link.connected());
        QCOMPARE(rig.ui.status(ConnectionField), connectionText(PageKind::Waiting));
    }

    // A page that is being shown opens a modal box, and the box's own event loop
    // hands over the device's removal: the newer page choice stands (one page
    // visible, the waiting page) and the events are handled in the order they
    // came, whatever the batch the backend gave them in.
    // (With a second, normal-mode TALMO arriving with the first one or not.)
    void eventsDuringAPageShow() {
        for (bool secondTalmo : {false, true}) {
            ShellRig rig;
            Log log;
            MainWindow& w = rig.start(recording(log));
            const int first = rig.plug(Mode::BootLoader);
            if (secondTalmo)
                rig.plug(Mode::Normal);
            int nested = 0;
            RecordingPage::onShow = [&](PageKind kind) {
                if (kind != PageKind::BootLoader || nested++)
                    return;
                rig.backend.unplug(first);
                rig.deliver();
            };
            rig.deliver();
            RecordingPage::onShow = nullptr;
            QCOMPARE(nested, 1);
            QVERIFY(!rig.link.connected());
            QCOMPARE(rig.current(), PageKind::Waiting);
            QCOMPARE(rig.visiblePages(), std::vector<PageKind>{PageKind::Waiting});
            QCOMPARE(rig.ui.status(ConnectionField), connectionText(PageKind::Waiting));
            QCOMPARE(w.currentPage(), w.page(PageKind::Waiting));
            // The older choice told no page anything after the newer one.
            const auto told = std::find_if(log.rbegin(), log.rend(), [](const std::string& e) {
                return e.ends_with("waiting");
            });
            QCOMPARE(*told, std::string("show waiting"));
        }
    }

    void pagesMadeInOrder() {
        ShellRig rig;
        rig.plug(Mode::Normal, true);
        Log made;
        MainWindow& w = rig.start([&](PageKind kind, AppContext& c, QWidget*) -> Page* {
            made.push_back(PageName(kind));
            // Pages are made before the device is opened, with the whole context.
            if (rig.link.connected() || c.link != &rig.link || c.ui != &rig.ui || !c.shell)
                made.push_back("bad context");
            return nullptr;
        });
        QCOMPARE(made, (Log{"bootloader", "console", "waiting", "programmer"}));
        QVERIFY(qobject_cast<WaitingPage*>(w.page(PageKind::Waiting)));
        QCOMPARE(rig.current(), PageKind::Console);
    }

    // The size, the status bar, the footers' texts and, in window coordinates,
    // their icon and web button at one place on each page shown in turn.
    void sizeAndFooters() {
        ShellRig rig;
        MainWindow& w = rig.start(createStandardPage);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("TALMO_Tools"));
        QVERIFY(!w.windowIcon().isNull());
        const QSize size = w.fixedClientSize();
        QCOMPARE(w.size(), size);
        w.resize(size + QSize(200, 100));
        QCOMPARE(w.size(), size);
        const QSize units = MainWindow::dialogUnitsToPixels(QApplication::font(), 374, 275);
        QVERIFY(w.currentPage()->width() >= units.width() &&
                w.currentPage()->height() >= units.height());
        // The connection field ends at half the width.
        auto* field0 = w.statusBar()->findChild<QLabel*>(QStringLiteral("statusField0"));
        QVERIFY(field0);
        QCOMPARE(field0->width(), size.width() / 2);

        for (int i = 0; i < kPageCount; ++i) {
            auto* label = w.page(static_cast<PageKind>(i))->control<QLabel>(kVersionControl);
            QVERIFY(label);
            QCOMPARE(label->text(), QStringLiteral("0.23"));
        }
        auto* web = w.page(PageKind::Waiting)->control<QPushButton>(kWebSiteButton);
        QVERIFY(web);
        QCOMPARE(web->text(), QString::fromUtf8("Site web TALMO"));
        QTest::mouseClick(web, Qt::LeftButton);
        QCOMPARE(rig.opened, Log{"https://www.talmo.example/"});
        QCOMPARE(w.firmwarePath(), std::string("./talmo.hex"));
        QList<QRect> places;
        for (int i = 0; i < kPageCount; ++i) {
            for (int j = 0; j < kPageCount; ++j)
                w.page(static_cast<PageKind>(j))->setVisible(i == j);
            QApplication::processEvents();
            const Page* p = w.page(static_cast<PageKind>(i));
            for (int id : {kFooterIconControl, kWebSiteButton}) {
                const QWidget* c = p->control(id);
                QVERIFY(c && c->isVisible());
                places.append(QRect(c->mapTo(&w, QPoint(0, 0)), c->size()));
            }
            QCOMPARE(places.mid(2 * i), places.mid(0, 2));
        }
    }

    // The automatic update stops on a missing firmware file: under its box, the
    // boot-loader page alone.
    void onePageUnderTheAutoUpdateBox() {
        ShellRig rig;
        const int id = rig.plug(Mode::Normal, true);
        MainWindow& w = rig.start(createStandardPage);
        w.page(PageKind::Console)->control<QCheckBox>(1051)->setChecked(true);
        w.firmwarePath() = "/nonexistent/talmo.hex";
        std::vector<std::vector<PageKind>> underBoxes;
        rig.ui.onBox = [&] { underBoxes.push_back(rig.visiblePages()); };
        rig.device(id).setMode(Mode::BootLoader);
        rig.deliver();
        QCOMPARE(underBoxes, std::vector<std::vector<PageKind>>{{PageKind::BootLoader}});
    }

    // A TALMO present but refused: the waiting page and the connection field
    // say so and what to do; once it may be opened, the page choice goes on.
    void refusedAccess() {
        ShellRig rig;
        rig.backend.controls.openFault = [](const std::string&, int) {
            return HidOpenError::PermissionDenied;
        };
        const int id = rig.plug(Mode::Normal, true);
        MainWindow& w = rig.start();
        auto* waiting = qobject_cast<WaitingPage*>(w.page(PageKind::Waiting));
        QCOMPARE(rig.current(), PageKind::Waiting);
        QVERIFY(waiting->showsRefusal());
        const QString advice = waiting->findChild<QLabel*>(QStringLiteral("refusalAdvice"))->text();
        QVERIFY2(advice.contains(QString::fromStdString(rig.link.deniedPath)) &&
                     advice.contains(QStringLiteral("70-talmo.rules")),
                 qPrintable(advice));
        QVERIFY(waiting->control(WaitingPage::kProgressBar)->isHidden());
        // The connection field, as QtUi hands it to the window: its tooltip
        // names the refused node and the commands; a later connection clears it.
        auto* field = w.statusBar()->findChild<QLabel*>(QStringLiteral("statusField0"));
        const auto relay = [&] {
            w.setStatusText(ConnectionField, rig.ui.status(ConnectionField));
        };
        relay();
        QCOMPARE(field->text(), QStringLiteral("USB: TALMO présent, accès refusé"));
        const QString tip = field->toolTip();
        QVERIFY(tip.contains(QString::fromStdString(*rig.usb.pathOf(id) + " est refusé")));
        QVERIFY(tip.contains("sudo udevadm control --reload-rules") && tip.contains("plugdev"));

        rig.backend.controls.openFault = nullptr;
        rig.backend.unplug(id);
        rig.deliver();
        QVERIFY(!waiting->showsRefusal());
        QVERIFY(!waiting->control(WaitingPage::kProgressBar)->isHidden());
        rig.usb.replug(id);
        rig.backend.notify();
        rig.deliver();
        QCOMPARE(rig.current(), PageKind::Console);
        relay();
        QCOMPARE(field->text(), QString::fromStdString(connectionText(PageKind::Console)));
        QVERIFY(field->toolTip().isEmpty());
    }

    // An operation on the Qt facade: the window keeps processing events, shows
    // the progress, drops the user's clicks, and handles the device's removal
    // once the operation has returned.
    void operationKeepsAnswering() {
        VirtualClock clock;
        QtUi ui(clock);
        sim::WiredTalmo wired(clock, &ui);
        DeviceLink& link = wired.link;
        Log log;
        MainWindow w(wired.link, ui, recording(log));
        std::vector<std::string> opened;
        w.urlOpener = [&](const QString& a) { opened.push_back(a.toStdString()); };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* bar = w.statusBar()->findChild<QProgressBar*>(QStringLiteral("statusProgress"));

        int answered = 0;
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [&] { ++answered; });
        ticks.start(0);
        QTimer::singleShot(0, [&] {
            wired.backend.unplug(wired.deviceId);
            QTest::mouseClick(w.currentPage()->control(kWebSiteButton), Qt::LeftButton);
        });
        for (int i = 0; i <= 100; ++i) {
            clock.advanceUs(10000);
            ui.progress("Lecture", static_cast<std::uint32_t>(i), 100);
            if (i == 50) {
                QVERIFY(answered >= 10);
                QVERIFY(link.connected());
                QCOMPARE(w.currentPageKind(), PageKind::Console);
                QVERIFY(bar->isVisible() && bar->value() == 50);
            }
        }
        QVERIFY(opened.empty());
        QTRY_COMPARE(w.currentPageKind(), PageKind::Waiting);
        QVERIFY(bar->isHidden());
    }

    void sizeFollowsFontMetrics() {
        QFont small = QApplication::font();
        small.setPixelSize(10);
        QFont large = small;
        large.setPixelSize(20);
        // Four horizontal units make the average character width, eight
        // vertical ones the line height.
        const QFontMetrics m(large);
        const QSize cell = MainWindow::dialogUnitsToPixels(large, 4, 8);
        QCOMPARE(cell.height(), m.height());
        QVERIFY(cell.width() >= m.averageCharWidth() - 2 && cell.width() <= m.maxWidth());

        // The window follows the application's font.
        const QFont saved = QApplication::font();
        QSize sizes[2];
        for (int i = 0; i < 2; ++i) {
            QApplication::setFont(i ? large : small);
            ShellRig rig;
            sizes[i] = rig.start().fixedClientSize();
        }
        QApplication::setFont(saved);
        QVERIFY(sizes[1].width() > sizes[0].width() && sizes[1].height() > sizes[0].height());
    }

    void pictures() {
        ShellRig rig;
        MainWindow& w = rig.start();
        for (int id : kIndicatorPictureIds)
            QVERIFY2(w.picture(id).width() >= 16 && w.picture(id).height() >= 16,
                     qPrintable(QString::number(id)));
        QVERIFY(w.picture(kPictureLcd).width() > 4 * w.picture(kPictureLcd).height());
        QVERIFY(w.picture(999).isNull());
        QVERIFY(w.picture(kPictureSwitchOn).toImage() != w.picture(kPictureSwitchOff).toImage());

        // The switch's face takes the palette's button colour; the sign has none.
        const auto greenPixels = [](const QPixmap& p) {
            const QImage image = p.toImage().convertToFormat(QImage::Format_ARGB32);
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += image.pixel(x, y) == qRgba(0, 255, 0, 255);
            return n;
        };
        const QPalette saved = QGuiApplication::palette();
        QPalette green = saved;
        green.setColor(QPalette::Button, QColor(0, 255, 0));
        QGuiApplication::setPalette(green);
        const int onGreen = greenPixels(loadPicture(kPictureSwitchOn));
        const int stopOnGreen = greenPixels(loadPicture(kPictureStopLit));
        QGuiApplication::setPalette(saved);
        QVERIFY(onGreen > 200);
        QCOMPARE(stopOnGreen, 0);
        QCOMPARE(greenPixels(loadPicture(kPictureSwitchOn)), 0);
    }

    void acceleratorAndFocus() {
        ShellRig rig;
        Log log;
        MainWindow& w = rig.start(recording(log));
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const auto focusIn = [&](PageKind kind) {
            QWidget* f = QApplication::focusWidget();
            return f && w.page(kind)->isAncestorOf(f);
        };
        QTRY_VERIFY(focusIn(PageKind::Waiting));
        // Through the event loop, as the program gets its device events.
        const int id = rig.plug(Mode::Normal);
        QTRY_VERIFY(focusIn(PageKind::Console));
        w.showProgrammerPage();
        QVERIFY(focusIn(PageKind::Programmer));
        w.returnToConsolePage();
        QVERIFY(focusIn(PageKind::Console));

        // Alt+? and Alt+/ are taken by the window and do nothing.
        log.clear();
        rig.ui.clearEvents();
        for (Qt::Key key : {Qt::Key_Question, Qt::Key_Slash}) {
            QTest::keyClick(&w, key, Qt::AltModifier);
            QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
        }
        QCOMPARE(rig.current(), PageKind::Console);
        QVERIFY(log.empty() && rig.ui.events().empty() && rig.opened.empty() && w.isVisible());

        rig.backend.unplug(id);
        QTRY_VERIFY(focusIn(PageKind::Waiting));
    }

    // A TALMO that another program holds: the connection field says so and the
    // waiting page stays; nothing tells when the other program lets go, so the
    // window tries again about once a second, takes the TALMO as soon as it is
    // free and stops trying.
    void busyDevice() {
        ShellRig rig;
        const int id = rig.plug(Mode::Normal, true);
        bool busy = true;
        rig.backend.controls.openFault = [&](const std::string&, int) {
            return busy ? HidOpenError::Busy : HidOpenError::None;
        };
        Log log;
        MainWindow& w = rig.start(recording(log));
        QCOMPARE(rig.current(), PageKind::Waiting);
        QCOMPARE(rig.ui.status(ConnectionField),
                 std::string("USB: TALMO utilisé par un autre programme"));
        QCOMPARE(rig.link.busyPath, rig.usb.interfaces().at(0).path);
        QVERIFY(w.retryingBusyDevice());
        QTest::qWait(MainWindow::kBusyRetryMs + 200); // still held: still waiting
        QCOMPARE(rig.current(), PageKind::Waiting);
        QVERIFY(w.retryingBusyDevice());

        busy = false;
        QTRY_COMPARE_WITH_TIMEOUT(rig.current(), PageKind::Console, 5000);
        QCOMPARE(rig.ui.status(ConnectionField), connectionText(PageKind::Console));
        QVERIFY(!w.retryingBusyDevice());

        // Unplugged while another program held it: no retry, "non connecté".
        CloseDevice(rig.link);
        busy = true;
        OpenDevice(rig.link);
        w.choosePage();
        rig.backend.unplug(id);
        rig.deliver();
        QVERIFY(!w.retryingBusyDevice());
        QCOMPARE(rig.ui.status(ConnectionField), connectionText(PageKind::Waiting));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
