// TALMO_Tools on the device emulator: the same program, its link on a
// virtual USB bus with one virtual TALMO plugged in at start, and a small
// window to play the device. Time is real: the emulator's answer latency
// and the PIC's programming cycles run on the program's own clock.
#include "core/clock.h"
#include "shell/command_line.h"
#include "shell/demo_control.h"
#include "shell/main_window.h"
#include "sim/wired_talmo.h"
#include "ui/qt_ui.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    const talmo::CommandLineAnswer answer = talmo::ReadCommandLine(
        "talmo-tools-demo",
        "TALMO_Tools sur un TALMO virtuel, sans matériel : la même fenêtre, avec\n"
        "une seconde fenêtre « TALMO virtuel » pour le brancher et le débrancher,\n"
        "le passer en boot loader, appuyer sur ses touches, ouvrir ses contacts,\n"
        "régler son entrée PWM, choisir le PIC de la carte VELKOR et injecter des\n"
        "pannes.\n",
        std::vector<std::string>(argv + 1, argv + argc));
    if (!answer.startWindow) {
        std::fputs(answer.out.c_str(), stdout);
        std::fputs(answer.err.c_str(), stderr);
        return answer.status;
    }
    QApplication app(argc, argv);
    talmo::installFrenchTranslation(app);
    talmo::RealClock clock;
    talmo::QtUi ui(clock);

    sim::WiredTalmo wired(clock, &ui); // plugged before the program starts
    wired.bus.setLatencyUs(1000);        // one USB full-speed frame per exchange
    talmo::MainWindow window(wired.link, ui, talmo::createStandardPage);
    talmo::DemoControl control(wired.backend, wired.deviceId);
    // Closing the program's window ends the demo; the control window alone does not.
    control.setAttribute(Qt::WA_QuitOnClose, false);
    control.adjustSize();
    talmo::placeSideBySide(window, control);
    window.show();
    control.show();
    // Once the window manager has framed both, their places again with the frames.
    auto* framed = new QTimer(&window);
    framed->setInterval(100);
    int tries = 0;
    QObject::connect(framed, &QTimer::timeout, [&, framed, tries]() mutable {
        const bool haveFrames = window.frameGeometry() != window.geometry() &&
                                control.frameGeometry() != control.geometry();
        if (haveFrames || ++tries == 20) {
            framed->stop();
            talmo::placeSideBySide(window, control);
        }
    });
    framed->start();
    return app.exec();
}
