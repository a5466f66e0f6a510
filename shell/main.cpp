// TALMO_Tools: the program. It takes no arguments, reads no configuration
// and keeps no state; it finds the TALMO through the system's HID devices.
#include "core/clock.h"
#include "link/device_link.h"
#include "shell/main_window.h"
#include "ui/qt_ui.h"

#include "link/linux_backend.h"

#include <QApplication>

int main(int argc, char** argv) {
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
