// How long the program's window goes without processing events during the
// long operations, on the real clock at 1 ms per exchange (one USB
// full-speed frame): ReadPic and ProgramPic in both modes on a PIC16F877 and
// a PIC16F877A (8192 words), SaveFirmwareToHex and ProgramFirmware. The
// window (the program's own pages, shown) runs the operations through its
// Qt facade, as the pages do; a 1 ms timer notes every pass of the event
// loop. For each operation: the longest gap between two passes, and the
// total time against the protocol's floor (the exchanges made times 1 ms,
// plus the waits asked). Target: under 100 ms, and within 1 % of the floor.
// The same operation again with the facade letting no events through (the
// window blocked, as it was before) gives the reference: what the machine's
// sleeps and the window's drawing cost on their own.
#include "core/clock.h"
#include "link/device_link.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "programmer/pic_program.h"
#include "programmer/pic_read.h"
#include "shell/main_window.h"
#include "sim/wired_talmo.h"
#include "ui/qt_ui.h"
#include "updater/bootloader_commands.h"
#include "updater/firmware_image.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

using namespace talmo;

namespace {

constexpr std::int64_t kLatencyUs = 1000;

// The Qt facade, counting the waits it is asked for.
class CountingUi final : public QtUi {
public:
    using QtUi::QtUi;
    void waitMs(int ms) override {
        waitedMs += ms;
        QtUi::waitMs(ms);
    }
    long waitedMs = 0;
};

struct Bench {
    RealClock clock;
    CountingUi ui{clock};
    sim::WiredTalmo wired;
    DeviceLink& link = wired.link;
    sim::Talmo* device = wired.device;
    std::unique_ptr<MainWindow> window;

    Bench(sim::PicChip chip, bool bootLoader)
        : wired(clock, &ui,
                sim::MakeTalmo(bootLoader ? sim::Talmo::Mode::BootLoader : sim::Talmo::Mode::Normal,
                          chip, 2)) {
        wired.bus.setLatencyUs(kLatencyUs);
        window = std::make_unique<MainWindow>(link, ui, createStandardPage);
        window->show();
        settle(500);
    }
    static void settle(int ms) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    // Runs one operation through the window's facade, then again through a
    // facade without events, and prints the figures.
    bool measure(const char* name, const std::function<bool(Ui&)>& operation) {
        QElapsedTimer sinceTick;
        qint64 longest = 0;
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceTick.nsecsElapsed());
            sinceTick.restart();
        });
        ticks.start(1);
        const std::size_t exchangesBefore = device->log().size();
        ui.waitedMs = 0;
        auto start = std::chrono::steady_clock::now();
        sinceTick.start();
        bool ok = operation(ui);
        longest = std::max(longest, sinceTick.nsecsElapsed());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ticks.stop();
        const std::size_t exchanges = device->log().size() - exchangesBefore;
        const long waitedMs = ui.waitedMs;
        const double floor = static_cast<double>(exchanges) * kLatencyUs / 1e6 + waitedMs / 1e3;

        ui.setAnswering(false);
        start = std::chrono::steady_clock::now();
        ok = operation(ui) && ok;
        ui.setAnswering(true);
        const double reference =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-26s %s  exchanges %6zu  waits %6.2f s  floor %7.2f s  total %7.2f s "
                    "(+%.2f %%)  without events %7.2f s (+%.2f %%)  longest stall %5.1f ms\n",
                    name, ok ? "ok  " : "FAIL", exchanges, waitedMs / 1e3, floor, seconds,
                    (seconds / floor - 1) * 100, reference, (reference / floor - 1) * 100,
                    static_cast<double>(longest) / 1e6);
        std::fflush(stdout);
        settle(200);
        return ok;
    }
};

bool picJobs(sim::PicChip chip, const char* mode) {
    Bench b(chip, false);
    PicIdentification ident;
    auto image = std::make_unique<PicImage>();
    if (IdentifyPic(b.link, b.ui, ident).result != 1) {
        std::printf("no PIC identified\n");
        return false;
    }
    char name[64];
    std::snprintf(name, sizeof name, "ReadPic (%s)", sim::ChipInfo(chip).name);
    bool ok = b.measure(name, [&](Ui& ui) { return ReadPic(b.link, ui, *image, ident) == 1; });
    std::snprintf(name, sizeof name, "ProgramPic (%s mode)", mode);
    ok = b.measure(name, [&](Ui& ui) { return ProgramPic(b.link, ui, *image, ident) == 1; }) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    bool ok = picJobs(sim::PicChip::F877, "word");
    ok = picJobs(sim::PicChip::F877A, "block") && ok;

    Bench b(sim::PicChip::F877A, true);
    const std::string path =
        QDir::temp().filePath(QStringLiteral("bench_event_stall.hex")).toStdString();
    ok = b.measure("SaveFirmwareToHex", [&](Ui& ui) {
        return SaveFirmwareToHex(b.link, ui, path).done();
    }) && ok;
    auto firmware = std::make_unique<FirmwareImage>();
    ok = LoadFirmwareHex(b.ui, *firmware, path) == 1 && ok;
    ok = b.measure("ProgramFirmware", [&](Ui& ui) {
        return ProgramFirmware(b.link, ui, *firmware);
    }) && ok;
    QDir().remove(QString::fromStdString(path));
    return ok ? 0 : 1;
}
