// TALMO_Tools: the program. It takes no arguments, reads no configuration
// and keeps no state; it finds the TALMO through the system's HID devices.
#include "link/device_link.h"
#include "shell/clock.h"
#include "shell/main_window.h"
#include "shell/qt_ui.h"

#ifdef TALMO_HAVE_LINUX_BACKEND
#include "link/linux_backend.h"
#endif

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    talmo::installFrenchTranslation(app);
    talmo::RealClock clock;
    talmo::QtUi ui(clock);
#ifdef TALMO_HAVE_LINUX_BACKEND
    talmo::LinuxBackend backend;
    talmo::DeviceLink link;
    link.backend = &backend;
#else
    talmo::DeviceLink link;
#endif
    link.ui = &ui;
    talmo::MainWindow window(link, ui, talmo::createStandardPage);
    window.show();
    return app.exec();
}
