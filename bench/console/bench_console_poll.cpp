// The console's cost while nothing changes: the program on the emulator (one
// virtual TALMO answering in 1 ms, on the real clock), its console page
// polling every 50 ms, and the machine's state left alone. Prints the
// program's own CPU time over the measured span and the number of repaints
// of the console page after its first display; then, as a check that the
// repaint counter sees paints at all, the repaints caused by one key press.
//
//   bench_console_poll [seconds]      (20 by default)
#include "bench/common/demo_window.h"
#include "console/console_page.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace talmo;

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Counts paint events of one widget and everything inside it.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* root) : root_(root) {}
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* w = qobject_cast<QWidget*>(watched);
            if (w && (w == root_ || root_->isAncestorOf(w)))
                ++count;
        }
        return false;
    }

private:
    QWidget* root_;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QApplication app(argc, argv);

    bench::DemoWindow demo(1000, [](sim::Talmo& t) { t.log().setEnabled(false); });
    sim::Talmo* device = demo.device;
    auto* page = qobject_cast<ConsolePage*>(demo.window->page(PageKind::Console));
    if (!page || demo.window->currentPageKind() != PageKind::Console) {
        std::fprintf(stderr, "bench_console_poll: the console page is not shown\n");
        return 1;
    }
    PaintCounter paints(page);
    app.installEventFilter(&paints);

    // First display: the start sequence has run; let the first answers and
    // the window's first paint through.
    bench::RunFor(500);
    const int displayedBefore = page->displayedAnswers();
    const std::uint64_t exchangesBefore = device->exchangeCount();
    paints.count = 0;

    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    bench::RunFor(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    const int repaints = paints.count;
    const std::uint64_t exchanges = device->exchangeCount() - exchangesBefore;
    const int displayed = page->displayedAnswers() - displayedBefore;

    std::printf("console poll, unchanging machine, emulator at 1 ms per exchange\n");
    std::printf("  span                     %.2f s\n", elapsed);
    std::printf("  exchanges                %llu (%.1f per second)\n",
                static_cast<unsigned long long>(exchanges),
                static_cast<double>(exchanges) / elapsed);
    std::printf("  program CPU time         %.1f ms (%.2f %% of one core; target under 2 %%)\n",
                cpu * 1000.0, 100.0 * cpu / elapsed);
    std::printf("  answers drawn            %d\n", displayed);
    std::printf("  repaints after the first display: %d (target: none)\n", repaints);

    // The counter's own check: one key press must be drawn.
    paints.count = 0;
    device->machine().keys = sim::KeyUp;
    bench::RunFor(300);
    std::printf("  repaints for one key press (counter check): %d\n", paints.count);
    return 0;
}
