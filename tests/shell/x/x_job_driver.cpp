// The program's window on the device emulator under a real X server and
// window manager, at one millisecond per exchange on the real clock, driven
// as a user would drive it: a TALMO first refused (the waiting page says so),
// then allowed; "Màj VELKOR", "Identifier" (identification and a whole PIC
// read), "Sauvegarder" into a file chosen in the file dialog, "Programmer"
// that file (file dialog, then "Oui" in the confirmation box) into the
// board's PIC16F873 in word mode. Prints the window's id on its first line
// (for the pinging client), and saves pictures into FOLDER: the refused
// waiting page, the open file dialog, the whole screen and the window in the
// middle of programming. Exit status 0 when every step ended as it should.
//   x_job_driver FOLDER
#include "core/clock.h"
#include "link/device_link.h"
#include "programmer/programmer_flow.h"
#include "shell/main_window.h"
#include "shell/waiting_page.h"
#include "sim/wired_talmo.h"
#include "ui/qt_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace talmo;

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    std::fprintf(stderr, "%s: %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: x_job_driver FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    installFrenchTranslation(app);

    RealClock clock;
    QtUi ui(clock);
    sim::WiredTalmo wired(clock, &ui, sim::MakeTalmo(sim::Talmo::Mode::Normal, sim::PicChip::F873, 4));
    wired.bus.setLatencyUs(1000);
    sim::SimBackend& backend = wired.backend;
    const int id = wired.deviceId;
    backend.controls.openFault = [](const std::string&, int) {
        return HidOpenError::PermissionDenied;
    };

    MainWindow window(wired.link, ui, createStandardPage);
    window.move(40, 40);
    window.show();
    std::printf("0x%llx\n", static_cast<unsigned long long>(window.winId()));
    std::fflush(stdout);
    runFor(1500);

    auto* waiting = qobject_cast<WaitingPage*>(window.page(PageKind::Waiting));
    check(window.currentPageKind() == PageKind::Waiting && waiting->showsRefusal(),
          "refused TALMO: the waiting page says so");
    window.grab().save(folder + QStringLiteral("/waiting-refused.png"));
    backend.controls.openFault = nullptr;
    backend.unplug(id);
    wired.bus.replug(id);
    backend.notify();
    runFor(1000);
    check(window.currentPageKind() == PageKind::Console, "allowed again: the console page");

    // Boxes and dialogs answered as a user would, from their own event loop;
    // in the middle of programming, the whole screen and the window.
    const QString hexPath = folder + QStringLiteral("/pic.hex");
    QFile::remove(hexPath);
    auto* bar = window.statusBar()->findChild<QProgressBar*>(QStringLiteral("statusProgress"));
    bool dialogShot = false, midShot = false, programming = false;
    QStringList boxes;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (programming && !midShot && bar->isVisible() && bar->value() * 2 >= bar->maximum()) {
            midShot = true;
            QGuiApplication::primaryScreen()->grabWindow(0).save(folder + "/x-programming.png");
            window.grab().save(folder + QStringLiteral("/programmer-programming.png"));
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            if (!dialogShot && dialog->acceptMode() == QFileDialog::AcceptOpen) {
                dialogShot = true;
                runFor(500);
                dialog->grab().save(folder + QStringLiteral("/file-dialog.png"));
            }
            // The file's name typed in, then accepted.
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(hexPath);
            QMetaObject::invokeMethod(dialog, "accept");
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->text();
            for (QAbstractButton* b : box->buttons())
                if (b->text() == QStringLiteral("Oui"))
                    b->click();
            if (box->isVisible())
                box->accept();
        }
    });
    user.start(100);

    auto* message = window.statusBar()->findChild<QLabel*>(QStringLiteral("statusField1"));
    window.showProgrammerPage();
    runFor(500);
    auto* page = window.currentPage();
    const auto press = [&](int control) {
        QMetaObject::invokeMethod(page->control(control), "click");
    };
    press(kProgrammerIdentifyButton);
    check(message->text() == QStringLiteral("Lecture: OK"), "Identifier: the PIC is read");
    press(kProgrammerSaveButton);
    check(message->text() == QStringLiteral("Sauvegarde: OK"), "Sauvegarder: the file is written");
    programming = true;
    press(kProgrammerProgramButton);
    check(message->text() == QString::fromUtf8("Programmation+Vérification: OK"),
          "Programmer: the PIC is programmed and verified");
    check(boxes.size() == 1 && boxes.front().startsWith(QStringLiteral("Programmer cette version")),
          "one box: the confirmation");
    check(dialogShot && midShot, "pictures taken");
    runFor(500);
    return failures ? 1 : 0;
}
