// The program's main window on a virtual TALMO, for the programs that take
// pictures of the pages: the real link, pages and interface on the emulator's
// bus, on the real clock.
#pragma once

#include "core/clock.h"
#include "link/device_link.h"
#include "shell/main_window.h"
#include "sim/sim_backend.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"
#include "ui/qt_ui.h"

#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace talmo::bench {

// Lets the event loop run (timers, repaints) for that long.
inline void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The folder named by the first argument, else the working folder; created.
inline QString PictureFolder(int argc, char** argv) {
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);
    return folder;
}

struct DemoWindow {
    RealClock clock;
    QtUi ui{clock};
    sim::VirtualUsb bus{clock};
    SimBackend backend{bus};
    sim::Talmo* device = nullptr;
    DeviceLink link;
    std::unique_ptr<MainWindow> window;

    // A device answering after `latencyUs`, set up by `prepare` before it is
    // plugged in, and the main window shown on it.
    explicit DemoWindow(std::int64_t latencyUs = 0,
                        const std::function<void(sim::Talmo&)>& prepare = {}) {
        bus.setLatencyUs(latencyUs);
        auto owned = std::make_unique<sim::Talmo>();
        device = owned.get();
        if (prepare)
            prepare(*device);
        backend.plug(std::move(owned));
        backend.takeEvents(); // plugged before the window looks
        link.backend = &backend;
        link.ui = &ui;
        window = std::make_unique<MainWindow>(link, ui, createStandardPage);
        window->show();
    }

    // The window as drawn, saved as folder/name; prints the path.
    bool shoot(const QString& folder, const QString& name) {
        const QString path = folder + QLatin1Char('/') + name;
        std::printf("%s\n", qPrintable(path));
        return window->grab().save(path);
    }
};

} // namespace talmo::bench
