// The program's main window on a virtual TALMO, for the programs that take
// pictures of the pages: the real link, pages and interface on the emulator's
// bus, on the real clock.
#pragma once

#include "core/clock.h"
#include "shell/main_window.h"
#include "sim/wired_talmo.h"
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
    sim::WiredTalmo wired;
    sim::Talmo* device = wired.device;
    std::unique_ptr<MainWindow> window;

    // A device answering after `latencyUs`, set up by `prepare` before it is
    // plugged in, and the main window shown on it.
    explicit DemoWindow(std::int64_t latencyUs = 0,
                        const std::function<void(sim::Talmo&)>& prepare = {})
        : wired(clock, &ui, Prepared(prepare)) {
        wired.bus.setLatencyUs(latencyUs);
        window = std::make_unique<MainWindow>(wired.link, ui, createStandardPage);
        window->show();
    }
    static std::unique_ptr<sim::Talmo> Prepared(const std::function<void(sim::Talmo&)>& prepare) {
        auto device = sim::MakeTalmo();
        if (prepare)
            prepare(*device);
        return device;
    }

    // The window as drawn, saved as folder/name; prints the path.
    bool shoot(const QString& folder, const QString& name) {
        const QString path = folder + QLatin1Char('/') + name;
        std::printf("%s\n", qPrintable(path));
        return window->grab().save(path);
    }
};

} // namespace talmo::bench
