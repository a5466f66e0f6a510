// Pictures of the programmer page in the program on the emulator: after
// "Identifier" on the board's PIC16F876A, and after "Identifier" on a
// protected PIC16F877. Each picture is the main window as drawn
// (QWidget::grab).
//
//   programmer_screenshots <folder>
#include "link/device_link.h"
#include "link/sim_backend.h"
#include "programmer/programmer_flow.h"
#include "programmer/programmer_page.h"
#include "shell/clock.h"
#include "shell/main_window.h"
#include "shell/qt_ui.h"
#include "sim/board_firmware.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace talmo;

namespace {
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    RealClock clock;
    QtUi ui(clock);
    sim::VirtualUsb bus(clock);
    SimBackend backend(bus);
    auto owned = std::make_unique<sim::Talmo>();
    sim::Talmo* device = owned.get();
    backend.plug(std::move(owned));
    bus.takeEvents();
    backend.takeEvents();

    DeviceLink link;
    link.backend = &backend;
    link.ui = &ui;
    MainWindow window(link, ui, createStandardPage);
    window.show();
    runFor(300);

    bool ok = true;
    auto shoot = [&](const QString& name) {
        runFor(300);
        const QString path = folder + QLatin1Char('/') + name;
        ok = window.grab().save(path) && ok;
        std::printf("%s\n", qPrintable(path));
    };

    window.showProgrammerPage();
    auto* page = dynamic_cast<ProgrammerPage*>(window.page(PageKind::Programmer));
    if (!page) {
        std::fprintf(stderr, "no programmer page\n");
        return 1;
    }
    page->command(kProgrammerIdentifyButton);
    shoot(QStringLiteral("programmer-identified.png"));

    sim::Pic pic(sim::PicChip::F877, 6);
    sim::loadBoardFirmware(pic);
    pic.setConfigWord(0x0F72); // all program memory protected
    device->setPic(pic);
    window.returnToConsolePage();
    runFor(200);
    window.showProgrammerPage();
    page->command(kProgrammerIdentifyButton);
    shoot(QStringLiteral("programmer-protected.png"));
    return ok ? 0 : 1;
}
