// TALMO_Tools: the program. It takes no arguments and keeps no state.
#include "shell/clock.h"
#include "shell/qt_ui.h"

#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    talmo::RealClock clock;
    talmo::QtUi ui(clock);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("TALMO_Tools"));
    window.statusBar()->showMessage(QStringLiteral("USB: Getting status"));
    window.show();
    return app.exec();
}
