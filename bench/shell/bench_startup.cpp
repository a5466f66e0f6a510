// Start-up cost of the program on the device emulator, offscreen: the time
// from process start to the first page painted, and the resident memory
// then. Each run is a fresh process (this program started again with
// --child); the figures are the median, minimum and maximum of the runs.
//
//   bench_startup [runs]
#include "core/clock.h"
#include "shell/main_window.h"
#include "sim/wired_talmo.h"
#include "ui/qt_ui.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Reports through `fd` once the watched page has been painted.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(int fd) : fd_(fd) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !done_) {
            done_ = true;
            // Let the paint finish, then report.
            QTimer::singleShot(0, [this] {
                const long rss = residentKiB();
                [[maybe_unused]] auto n = ::write(fd_, &rss, sizeof rss);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    int fd_;
    bool done_ = false;
};

int child(int fd, int mode) {
    int argc = 1;
    char name[] = "talmo-tools";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    talmo::RealClock clock;
    talmo::QtUi ui(clock);
    sim::WiredTalmo wired(clock, &ui,
                            mode == 0 ? nullptr
                                      : sim::MakeTalmo(mode == 2 ? sim::Talmo::Mode::BootLoader
                                                                   : sim::Talmo::Mode::Normal));
    wired.bus.setLatencyUs(1000);
    talmo::MainWindow window(wired.link, ui, talmo::createStandardPage);
    FirstPaint watch(fd);
    window.currentPage()->installEventFilter(&watch);
    window.show();
    return app.exec();
}

struct Figures {
    std::vector<double> ms;
    std::vector<long> kib;
};

template <class T>
void summary(const char* what, std::vector<T> v, const char* unit) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return;
    std::printf("  %-28s median %8.1f  min %8.1f  max %8.1f %s\n", what,
                static_cast<double>(v[v.size() / 2]), static_cast<double>(v.front()),
                static_cast<double>(v.back()), unit);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return child(std::atoi(argv[2]), std::atoi(argv[3]));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const char* names[] = {"no device (waiting page)", "normal mode (console page)",
                           "boot loader (boot-loader page)"};
    std::printf("start-up to first page painted, %d runs each, QT_QPA_PLATFORM=%s\n", runs,
                std::getenv("QT_QPA_PLATFORM"));
    for (int mode = 0; mode < 3; ++mode) {
        Figures f;
        for (int r = 0; r < runs; ++r) {
            int fds[2];
            if (::pipe(fds) != 0)
                return 1;
            const auto t0 = std::chrono::steady_clock::now();
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(fds[0]);
                const std::string fd = std::to_string(fds[1]), m = std::to_string(mode);
                ::execl("/proc/self/exe", argv[0], "--child", fd.c_str(), m.c_str(),
                        static_cast<char*>(nullptr));
                ::_exit(127);
            }
            ::close(fds[1]);
            long rss = -1;
            const bool got = ::read(fds[0], &rss, sizeof rss) == static_cast<ssize_t>(sizeof rss);
            const auto t1 = std::chrono::steady_clock::now();
            ::close(fds[0]);
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (!got) {
                std::fprintf(stderr, "run %d of '%s' reported nothing\n", r, names[mode]);
                return 1;
            }
            f.ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            f.kib.push_back(rss);
        }
        std::printf("%s\n", names[mode]);
        summary("time to first page (ms)", f.ms, "ms");
        summary("resident memory (KiB)", f.kib, "KiB");
    }
    std::printf("target: first page under 300 ms offscreen\n");
    return 0;
}
