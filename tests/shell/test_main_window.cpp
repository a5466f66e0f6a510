// The main window on a small fake HID bus: start-up in each link state, the
// page choice after plug, unplug and re-enumeration, the show/hide
// notifications, the fixed size, the accelerator, and the link closed when
// the window goes.
#include "fake_bus.h"
#include "link/device_link.h"
#include "resources/pictures.h"
#include "shell/main_window.h"
#include "shell/scripted_ui.h"
#include "shell/waiting_page.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QVBoxLayout>

#include <memory>
#include <string>
#include <vector>

using namespace talmo;
using talmo::test::FakeBus;

namespace {

constexpr std::uint16_t kNormal = 0x00AA;
constexpr std::uint16_t kBoot = 0x00A9;
const std::string kNotConnected = "USB: TALMO non connecté";
const std::string kConnected = "USB: TALMO connecté";
const std::string kBootConnected = "USB: TALMO Boot Loader connecté";

// A page that records the window's notifications.
class RecordingPage : public Page {
public:
    RecordingPage(PageKind kind, AppContext& context, QWidget* parent, std::vector<std::string>& log)
        : Page(context, parent), kind_(kind), log_(log) {
        auto* column = new QVBoxLayout(this);
        column->addStretch(1);
        column->addWidget(createFooter());
    }
    void pageShown() override { log_.push_back(std::string("show ") + pageName(kind_)); }
    void pageHidden() override { log_.push_back(std::string("hide ") + pageName(kind_)); }

private:
    PageKind kind_;
    std::vector<std::string>& log_;
};

// One program run: bus, link, scripted interface and window.
struct Rig {
    explicit Rig(bool recording, bool withDescriptor = false) : bus(withDescriptor), ui() {
        link.backend = &bus;
        link.ui = &ui;
        recordPages = recording;
    }
    MainWindow& start() {
        // The waiting page is the window's own; the others record what
        // they are told (all four do with recordPages).
        MainWindow::PageFactory factory = [this](PageKind kind, AppContext& c, QWidget* parent) -> Page* {
            if (kind == PageKind::Waiting && !recordPages)
                return new WaitingPage(c, parent);
            return new RecordingPage(kind, c, parent, log);
        };
        window = std::make_unique<MainWindow>(link, ui, factory);
        window->urlOpener = [this](const QString& a) { opened.push_back(a.toStdString()); };
        return *window;
    }
    std::vector<PageKind> visiblePages() const {
        std::vector<PageKind> out;
        for (int i = 0; i < kPageCount; ++i)
            if (!window->page(static_cast<PageKind>(i))->isHidden())
                out.push_back(static_cast<PageKind>(i));
        return out;
    }

    FakeBus bus;
    ScriptedUi ui;
    DeviceLink link;
    bool recordPages = false;
    std::vector<std::string> log;
    std::vector<std::string> opened;
    std::unique_ptr<MainWindow> window;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void pageChoiceRule_data();
    void pageChoiceRule();
    void startUp_data();
    void startUp();
    void startUpNotifiesBeforeShow();
    void deviceEvents_data();
    void deviceEvents();
    void programmerPageHiddenByAnyEvent();
    void programmerPageRoundTrip();
    void notificationsOnlyOnRealChange();
    void eventsArriveThroughTheEventLoop();
    void versionInEveryPage();
    void fixedSize();
    void sizeFollowsFontMetrics();
    void acceleratorDoesNothing();
    void keyboardFocusFollowsCurrentPage();
    void pagesMadeInOrder();
    void destructionClosesLink();
    void firmwarePathAndPictures();
    void webSiteButton();
    void picturesTakeDesktopColours();
    void waitingPageAnimatesOnlyWhileVisible();
};

void TestMainWindow::pageChoiceRule_data() {
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("productId");
    QTest::addColumn<int>("current");
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("closed") << false << int(kNormal) << int(PageKind::Waiting)
                            << QStringList{"-boot-loader", "-console", "+waiting", "-programmer"};
    QTest::newRow("normal") << true << int(kNormal) << int(PageKind::Console)
                            << QStringList{"+console", "-boot-loader", "-waiting", "-programmer"};
    QTest::newRow("boot") << true << int(kBoot) << int(PageKind::BootLoader)
                          << QStringList{"+boot-loader", "-console", "-waiting", "-programmer"};
    QTest::newRow("other id") << true << 0x1234 << int(PageKind::BootLoader)
                              << QStringList{"+boot-loader", "-console", "-waiting", "-programmer"};
}

void TestMainWindow::pageChoiceRule() {
    QFETCH(bool, connected);
    QFETCH(int, productId);
    QFETCH(int, current);
    QFETCH(QStringList, steps);
    const PageChoice choice = choosePage(connected, static_cast<std::uint16_t>(productId));
    QCOMPARE(int(choice.current), current);
    QStringList got;
    for (const PageStep& s : choice.steps)
        got << QString::fromLatin1(s.show ? "+" : "-") + QString::fromLatin1(pageName(s.page));
    QCOMPARE(got, steps);
}

void TestMainWindow::startUp_data() {
    QTest::addColumn<int>("productId"); // 0: no device
    QTest::addColumn<QString>("connection");
    QTest::addColumn<int>("current");
    QTest::newRow("no device") << 0 << QString::fromStdString(kNotConnected) << int(PageKind::Waiting);
    QTest::newRow("normal mode") << int(kNormal) << QString::fromStdString(kConnected) << int(PageKind::Console);
    QTest::newRow("boot loader") << int(kBoot) << QString::fromStdString(kBootConnected)
                                 << int(PageKind::BootLoader);
}

void TestMainWindow::startUp() {
    QFETCH(int, productId);
    QFETCH(QString, connection);
    QFETCH(int, current);
    Rig rig(false);
    if (productId)
        rig.bus.present("/dev/hidraw3", static_cast<std::uint16_t>(productId));
    MainWindow& w = rig.start();

    // The connection field starts with the waiting text, then follows the link.
    const auto texts = rig.ui.statusTexts(ConnectionField);
    QVERIFY(!texts.empty());
    QCOMPARE(texts.front(), std::string("USB: Getting status"));
    QCOMPARE(QString::fromStdString(rig.ui.status(ConnectionField)), connection);
    QVERIFY(rig.bus.started);
    QCOMPARE(int(w.currentPageKind()), current);
    QCOMPARE(rig.visiblePages(), std::vector<PageKind>{static_cast<PageKind>(current)});
    QCOMPARE(rig.link.connected(), productId != 0);
}

void TestMainWindow::startUpNotifiesBeforeShow() {
    Rig rig(true);
    rig.bus.present("/dev/hidraw0", kNormal);
    MainWindow& w = rig.start();
    // The console page was told while the window itself was not shown yet.
    QVERIFY(!w.isVisible());
    QCOMPARE(rig.log, std::vector<std::string>{"show console"});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(rig.log, std::vector<std::string>{"show console"});
}

// Device events in sequence; after each, the page and the connection text.
void TestMainWindow::deviceEvents_data() {
    QTest::addColumn<QStringList>("script");   // "plug PATH ID", "unplug PATH", "other PATH"
    QTest::addColumn<QStringList>("expected"); // page after each line
    QTest::newRow("plug, unplug")
        << QStringList{"plug /dev/hidraw1 aa", "unplug /dev/hidraw1"}
        << QStringList{"console", "waiting"};
    QTest::newRow("into the boot loader and back")
        << QStringList{"plug /dev/hidraw1 aa", "unplug /dev/hidraw1", "plug /dev/hidraw2 a9",
                       "unplug /dev/hidraw2", "plug /dev/hidraw3 aa"}
        << QStringList{"console", "waiting", "boot-loader", "waiting", "console"};
    QTest::newRow("second TALMO ignored, first leaves")
        << QStringList{"plug /dev/hidraw1 a9", "plug /dev/hidraw2 aa", "unplug /dev/hidraw1"}
        << QStringList{"boot-loader", "boot-loader", "waiting"};
    QTest::newRow("unrelated devices")
        << QStringList{"other /dev/hidraw7", "plug /dev/hidraw1 aa", "other /dev/hidraw8"}
        << QStringList{"waiting", "console", "console"};
    QTest::newRow("removal letter case")
        << QStringList{"plug /dev/HIDRAW1 aa", "unplug /dev/hidraw1"}
        << QStringList{"console", "waiting"};
}

void TestMainWindow::deviceEvents() {
    QFETCH(QStringList, script);
    QFETCH(QStringList, expected);
    Rig rig(false);
    MainWindow& w = rig.start();
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Waiting));
    for (int i = 0; i < script.size(); ++i) {
        const QStringList words = script[i].split(' ');
        const std::string path = words[1].toStdString();
        if (words[0] == "plug")
            rig.bus.plug(path, static_cast<std::uint16_t>(words[2].toInt(nullptr, 16)));
        else if (words[0] == "unplug")
            rig.bus.unplug(path);
        else
            rig.bus.plug(path, 0x0001, 0x1234);
        w.processDeviceEvents();
        const QString page = QString::fromLatin1(pageName(w.currentPageKind()));
        QVERIFY2(page == expected[i], qPrintable(script[i] + " -> " + page));
        QCOMPARE(rig.visiblePages(), std::vector<PageKind>{w.currentPageKind()});
        const std::string text = rig.ui.status(ConnectionField);
        switch (w.currentPageKind()) {
        case PageKind::Waiting: QCOMPARE(text, kNotConnected); break;
        case PageKind::Console: QCOMPARE(text, kConnected); break;
        default: QCOMPARE(text, kBootConnected); break;
        }
    }
}

void TestMainWindow::programmerPageHiddenByAnyEvent() {
    Rig rig(true);
    rig.bus.present("/dev/hidraw0", kNormal);
    MainWindow& w = rig.start();
    w.showProgrammerPage();
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Programmer));
    QCOMPARE(rig.visiblePages(), std::vector<PageKind>{PageKind::Programmer});
    rig.log.clear();

    // A mouse on another vendor's ID arrives: the console page comes back.
    rig.bus.plug("/dev/hidraw9", 0x0002, 0x046D);
    w.processDeviceEvents();
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Console));
    QCOMPARE(rig.visiblePages(), std::vector<PageKind>{PageKind::Console});
    QCOMPARE(rig.log, (std::vector<std::string>{"show console", "hide programmer"}));

    // With the TALMO gone while the programmer page is up: the waiting page.
    w.showProgrammerPage();
    rig.bus.unplug("/dev/hidraw0");
    w.processDeviceEvents();
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Waiting));
    QCOMPARE(rig.visiblePages(), std::vector<PageKind>{PageKind::Waiting});
}

void TestMainWindow::programmerPageRoundTrip() {
    Rig rig(true);
    rig.bus.present("/dev/hidraw0", kNormal);
    MainWindow& w = rig.start();
    rig.log.clear();
    rig.ui.setStatusText(MessageField, "Lecture OK");
    w.showProgrammerPage();
    QCOMPARE(rig.log, (std::vector<std::string>{"hide console", "show programmer"}));
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Programmer));
    rig.log.clear();
    w.returnToConsolePage();
    QCOMPARE(rig.log, (std::vector<std::string>{"show console", "hide programmer"}));
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Console));
    QCOMPARE(rig.ui.status(MessageField), std::string());
}

void TestMainWindow::notificationsOnlyOnRealChange() {
    Rig rig(true);
    MainWindow& w = rig.start();
    QCOMPARE(rig.log, std::vector<std::string>{"show waiting"});
    rig.log.clear();
    // Events that change nothing tell no page anything.
    for (int i = 0; i < 3; ++i) {
        rig.bus.plug("/dev/hidraw" + std::to_string(10 + i), 0x0001, 0x1234);
        w.processDeviceEvents();
    }
    QVERIFY(rig.log.empty());
    w.choosePage();
    QVERIFY(rig.log.empty());

    // Re-enumeration into the boot loader, both events taken at once.
    rig.bus.plug("/dev/hidraw1", kNormal);
    w.processDeviceEvents();
    rig.bus.reenumerate("/dev/hidraw1", "/dev/hidraw2", kBoot);
    w.processDeviceEvents();
    QCOMPARE(rig.log, (std::vector<std::string>{"show console", "hide waiting", "hide console",
                                                "show waiting", "show boot-loader", "hide waiting"}));
}

void TestMainWindow::eventsArriveThroughTheEventLoop() {
    Rig rig(false, /*withDescriptor=*/true);
    MainWindow& w = rig.start();
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Waiting));
    rig.bus.plug("/dev/hidraw1", kBoot);
    QTRY_COMPARE(int(w.currentPageKind()), int(PageKind::BootLoader));
    rig.bus.unplug("/dev/hidraw1");
    QTRY_COMPARE(int(w.currentPageKind()), int(PageKind::Waiting));
}

void TestMainWindow::versionInEveryPage() {
    Rig rig(true);
    MainWindow& w = rig.start();
    QCOMPARE(w.windowTitle(), QStringLiteral("TALMO_Tools"));
    QVERIFY(!w.windowIcon().isNull());
    for (int i = 0; i < kPageCount; ++i) {
        auto* label = w.page(static_cast<PageKind>(i))->control<QLabel>(kVersionControl);
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("0.23"));
    }
}

void TestMainWindow::fixedSize() {
    Rig rig(false);
    MainWindow& w = rig.start();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize size = w.fixedClientSize();
    QCOMPARE(w.size(), size);
    QCOMPARE(w.minimumSize(), size);
    QCOMPARE(w.maximumSize(), size);
    w.resize(size + QSize(200, 100));
    QCOMPARE(w.size(), size);
    // Every page gets at least 374 x 275 dialog units.
    const QSize units = MainWindow::dialogUnitsToPixels(QApplication::font(), 374, 275);
    QVERIFY(w.currentPage()->width() >= units.width());
    QVERIFY(w.currentPage()->height() >= units.height());
    // The connection field ends at half the width.
    auto* field0 = w.statusBar()->findChild<QLabel*>(QStringLiteral("statusField0"));
    QVERIFY(field0);
    QCOMPARE(field0->width(), size.width() / 2);
}

void TestMainWindow::sizeFollowsFontMetrics() {
    QFont small = QApplication::font();
    small.setPixelSize(10);
    QFont large = small;
    large.setPixelSize(20);
    const QSize a = MainWindow::dialogUnitsToPixels(small, 374, 275);
    const QSize b = MainWindow::dialogUnitsToPixels(large, 374, 275);
    QVERIFY(a.width() > 0 && a.height() > 0);
    QVERIFY(b.width() > a.width());
    QVERIFY(b.height() > a.height());
    // Four horizontal units make the average character width, eight
    // vertical ones the line height.
    const QFontMetrics m(large);
    QCOMPARE(MainWindow::dialogUnitsToPixels(large, 4, 8).height(), m.height());
    const int avg = MainWindow::dialogUnitsToPixels(large, 4, 8).width();
    QVERIFY(avg >= m.averageCharWidth() - 2 && avg <= m.maxWidth());

    // The window follows the application's font.
    const QFont saved = QApplication::font();
    QApplication::setFont(small);
    QSize smallWindow;
    {
        Rig rig(false);
        smallWindow = rig.start().fixedClientSize();
    }
    QApplication::setFont(large);
    QSize largeWindow;
    {
        Rig rig(false);
        largeWindow = rig.start().fixedClientSize();
    }
    QApplication::setFont(saved);
    QVERIFY(largeWindow.width() > smallWindow.width());
    QVERIFY(largeWindow.height() > smallWindow.height());
}

void TestMainWindow::acceleratorDoesNothing() {
    Rig rig(true);
    rig.bus.present("/dev/hidraw0", kNormal);
    MainWindow& w = rig.start();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    rig.log.clear();
    rig.ui.clearEvents();
    auto* web = w.currentPage()->control<QPushButton>(kWebSiteButton);
    QVERIFY(web);
    web->setFocus();
    QTest::keyClick(&w, Qt::Key_Question, Qt::AltModifier);
    QTest::keyClick(&w, Qt::Key_Slash, Qt::AltModifier);
    QTest::keyClick(web, Qt::Key_Question, Qt::AltModifier);
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Console));
    QVERIFY(rig.log.empty());
    QVERIFY(rig.ui.events().empty());
    QVERIFY(rig.opened.empty());
    QVERIFY(w.isVisible());
}

void TestMainWindow::keyboardFocusFollowsCurrentPage() {
    Rig rig(true);
    MainWindow& w = rig.start();
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const auto focusIn = [&](PageKind kind) {
        QWidget* f = QApplication::focusWidget();
        return f && w.page(kind)->isAncestorOf(f);
    };
    QTRY_VERIFY(focusIn(PageKind::Waiting));
    rig.bus.plug("/dev/hidraw1", kNormal);
    w.processDeviceEvents();
    QVERIFY(focusIn(PageKind::Console));
    w.showProgrammerPage();
    QVERIFY(focusIn(PageKind::Programmer));
    w.returnToConsolePage();
    QVERIFY(focusIn(PageKind::Console));
    rig.bus.unplug("/dev/hidraw1");
    w.processDeviceEvents();
    QVERIFY(focusIn(PageKind::Waiting));
}

void TestMainWindow::pagesMadeInOrder() {
    FakeBus bus;
    bus.present("/dev/hidraw0", kNormal);
    ScriptedUi ui;
    DeviceLink link;
    link.backend = &bus;
    link.ui = &ui;
    std::vector<std::string> made;
    MainWindow w(link, ui, [&](PageKind kind, AppContext& c, QWidget*) -> Page* {
        made.push_back(pageName(kind));
        // Pages are made before the device is opened, with the whole context.
        if (link.connected() || c.link != &link || c.ui != &ui || !c.shell)
            made.push_back("bad context");
        return nullptr;
    });
    QCOMPARE(made, (std::vector<std::string>{"boot-loader", "console", "waiting", "programmer"}));
    QVERIFY(qobject_cast<WaitingPage*>(w.page(PageKind::Waiting)));
    for (int i = 0; i < kPageCount; ++i)
        QVERIFY(w.page(static_cast<PageKind>(i)));
    QCOMPARE(int(w.currentPageKind()), int(PageKind::Console));
}

void TestMainWindow::destructionClosesLink() {
    Rig rig(false);
    rig.bus.present("/dev/hidraw0", kNormal);
    rig.start();
    QVERIFY(rig.link.connected());
    QCOMPARE(rig.bus.openHandles, 2);
    rig.window.reset();
    QVERIFY(!rig.link.connected());
    QCOMPARE(rig.bus.openHandles, 0);
    QCOMPARE(rig.ui.status(ConnectionField), kNotConnected);
}

void TestMainWindow::firmwarePathAndPictures() {
    Rig rig(false);
    MainWindow& w = rig.start();
    QCOMPARE(w.firmwarePath(), std::string("./talmo.hex"));
    w.firmwarePath() = "/tmp/autre.hex";
    QCOMPARE(w.firmwarePath(), std::string("/tmp/autre.hex"));
    for (int id : kIndicatorPictureIds) {
        const QPixmap& p = w.picture(id);
        QVERIFY2(!p.isNull(), qPrintable(QString::number(id)));
        QVERIFY(p.width() >= 16 && p.height() >= 16);
    }
    QVERIFY(!w.picture(kPictureLcd).isNull());
    QVERIFY(w.picture(kPictureLcd).width() > 4 * w.picture(kPictureLcd).height());
    QVERIFY(w.picture(999).isNull());
    QVERIFY(w.picture(kPictureSwitchOn).toImage() != w.picture(kPictureSwitchOff).toImage());
}

void TestMainWindow::picturesTakeDesktopColours() {
    const auto countColour = [](const QPixmap& p, QRgb colour) {
        const QImage image = p.toImage().convertToFormat(QImage::Format_ARGB32);
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += (image.pixel(x, y) | 0xFF000000u) == colour && qAlpha(image.pixel(x, y)) == 255;
        return n;
    };
    const QPalette saved = QGuiApplication::palette();
    QPalette green = saved;
    green.setColor(QPalette::Button, QColor(0, 255, 0));
    QGuiApplication::setPalette(green);
    const QPixmap onGreen = loadPicture(kPictureSwitchOn);
    const QPixmap stopOnGreen = loadPicture(kPictureStopLit);
    QGuiApplication::setPalette(saved);
    // The switch's face takes the palette's button colour; the sign has none.
    QVERIFY(countColour(onGreen, qRgb(0, 255, 0)) > 200);
    QCOMPARE(countColour(stopOnGreen, qRgb(0, 255, 0)), 0);
    QCOMPARE(countColour(loadPicture(kPictureSwitchOn), qRgb(0, 255, 0)), 0);
}

void TestMainWindow::webSiteButton() {
    Rig rig(false);
    MainWindow& w = rig.start();
    auto* web = w.page(PageKind::Waiting)->control<QPushButton>(kWebSiteButton);
    QVERIFY(web);
    QCOMPARE(web->text(), QString::fromUtf8("Site web TALMO"));
    QVERIFY(web->isDefault());
    QTest::mouseClick(web, Qt::LeftButton);
    QCOMPARE(rig.opened, std::vector<std::string>{"https://www.talmo.example/"});
}

void TestMainWindow::waitingPageAnimatesOnlyWhileVisible() {
    Rig rig(false);
    MainWindow& w = rig.start();
    auto* waiting = qobject_cast<WaitingPage*>(w.page(PageKind::Waiting));
    QVERIFY(waiting);
    QVERIFY(waiting->animating());
    for (int i = 0; i < 7; ++i)
        waiting->tick();
    QCOMPARE(waiting->barPosition(), 35);

    rig.bus.plug("/dev/hidraw1", kNormal);
    w.processDeviceEvents();
    QVERIFY(!waiting->animating());
    rig.bus.unplug("/dev/hidraw1");
    w.processDeviceEvents();
    QVERIFY(waiting->animating());
    // Resumed where it stopped, not from 0.
    QCOMPARE(waiting->barPosition(), 35);
    waiting->tick();
    QCOMPARE(waiting->barPosition(), 40);
    // And the real timer moves it.
    QTRY_VERIFY(waiting->barPosition() > 40);
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
