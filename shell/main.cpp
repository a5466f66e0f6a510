// TALMO_Tools: the program. It reads no configuration and keeps no state; it
// finds the TALMO through the system's HID devices. Its only arguments are
// --help and --version.
#include "core/clock.h"
#include "link/device_link.h"
#include "shell/command_line.h"
#include "shell/main_window.h"
#include "ui/qt_ui.h"

#include "link/linux_backend.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    const talmo::CommandLineAnswer answer = talmo::ReadCommandLine(
        "talmo-tools",
        "Fenêtre de TALMO_Tools pour l'interface USB TALMO : l'état du TALMO en\n"
        "direct, la mise à jour de son firmware par son boot loader, et la lecture,\n"
        "la sauvegarde et la programmation du PIC16F87x(A) de la carte VELKOR.\n"
        "Sans argument, le programme ouvre sa fenêtre et trouve le TALMO tout seul ;\n"
        "il ne lit aucune configuration.\n",
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
    talmo::LinuxBackend backend;
    talmo::DeviceLink link;
    link.backend = &backend;
    link.ui = &ui;
    talmo::MainWindow window(link, ui, talmo::createStandardPage);
    window.show();
    return app.exec();
}
