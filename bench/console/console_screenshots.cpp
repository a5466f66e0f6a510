// Pictures of the console page in the program on the emulator, with the
// virtual machine in two states:
//   1. motors on, keys Up and OK held, automatic output at 75 %, contacts closed;
//   2. a limit-switch contact open, the output switched OFF, manual mode,
//      STOP PROG lit, keypad missing.
// Each picture is the main window as drawn (QWidget::grab).
//
//   console_screenshots <folder>
#include "bench/common/demo_window.h"

#include <QApplication>

using namespace talmo;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = bench::PictureFolder(argc, argv);
    bench::DemoWindow demo(1000, [](sim::Talmo& device) {
        device.table().axes = {4, 8, 12, 17, 0};
        device.table().offTimeS = 3;
    });

    sim::Machine& m = demo.device->machine();
    m.motorsOn = true;
    m.keys = sim::KeyUp | sim::KeyOk;
    m.limitSwitchesOpen = false;
    m.probesOpen = false;
    m.pwmLevel = 192;
    m.pwmInput = 64;
    bench::RunFor(600);
    bool ok = demo.shoot(folder, QStringLiteral("console-motors-on-keys.png"));

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
    bench::RunFor(600);
    ok = demo.shoot(folder, QStringLiteral("console-contact-open-output-off.png")) && ok;
    return ok ? 0 : 1;
}
