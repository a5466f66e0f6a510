// Pictures of the console page in the program on the emulator, with the
// virtual machine in two states:
//   1. motors on, keys Up and OK held, automatic output at 75 %, contacts closed;
//   2. a limit-switch contact open, the output switched OFF, manual mode,
//      STOP PROG lit, keypad missing.
// Each picture is the main window as drawn (QWidget::grab).
//
//   console_screenshots <folder>
#include "link/device_link.h"
#include "link/sim_backend.h"
#include "shell/clock.h"
#include "shell/main_window.h"
#include "shell/qt_ui.h"
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
    bus.setLatencyUs(1000);
    SimBackend backend(bus);
    auto owned = std::make_unique<sim::Talmo>();
    sim::Talmo* device = owned.get();
    device->table().axes = {4, 8, 12, 17, 0};
    device->table().offTimeS = 3;
    backend.plug(std::move(owned));
    bus.takeEvents();
    backend.takeEvents();

    DeviceLink link;
    link.backend = &backend;
    link.ui = &ui;
    MainWindow window(link, ui, createStandardPage);
    window.show();

    sim::Machine& m = device->machine();
    m.motorsOn = true;
    m.keys = sim::KeyUp | sim::KeyOk;
    m.limitSwitchesOpen = false;
    m.probesOpen = false;
    m.pwmLevel = 192;
    m.pwmInput = 64;
    runFor(600);
    const QString first = folder + QStringLiteral("/console-motors-on-keys.png");
    bool ok = window.grab().save(first);

    m = sim::Machine{};
    m.pwmLevel = 192;
    m.limitSwitchesOpen = true;
    m.probesOpen = false;
    m.outputOff = true;
    m.manual = true;
    m.pwmInput = 230;
    m.stopProg = true;
    m.keypadAbsent = true;
    m.io1 = true;
    runFor(600);
    const QString second = folder + QStringLiteral("/console-contact-open-output-off.png");
    ok = window.grab().save(second) && ok;
    std::printf("%s\n%s\n", qPrintable(first), qPrintable(second));
    return ok ? 0 : 1;
}
