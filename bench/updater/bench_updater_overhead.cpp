// The program's own cost per boot-loader exchange, on the real clock: the
// firmware programming and save run against a boot loader that answers at
// once, so what is measured is the request building, the link's report
// handling, the progress texts and (for the save) the HEX lines written.
#include "core/clock.h"
#include "link/device_link.h"
#include "tests/common/scripted_ui.h"
#include "updater/bootloader_commands.h"
#include "updater/firmware_image.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include <unistd.h>

using namespace talmo;

namespace {

// Answers every request at once from two plain memories, and counts them.
struct InstantBootLoader {
    std::array<std::uint8_t, 0x8000> program{};
    std::array<std::uint8_t, 0x100> eeprom{};
    Report answer{};
    bool pending = false;
    long exchanges = 0;
};

class InstantHandle final : public HidHandle {
public:
    explicit InstantHandle(InstantBootLoader& d) : d_(d) {}
    int write(const std::uint8_t* r, std::size_t len) override {
        ++d_.exchanges;
        const int address = r[3] << 8 | r[4];
        d_.answer[1] = r[1];
        d_.pending = true;
        if (r[1] == 'W') {
            std::uint8_t* to =
                r[2] == 0 ? &d_.eeprom[(address - 31) & 0xE0] : &d_.program[address & 0x7FE0];
            std::memcpy(to, r + 5, 32);
            d_.answer[2] = 1;
        } else if (r[1] == 'R') {
            const std::uint8_t* from =
                r[2] == 0 ? &d_.eeprom[address & 0xE0] : &d_.program[address & 0x7FE0];
            std::memcpy(&d_.answer[5], from, 32);
        }
        return static_cast<int>(len);
    }
    int read(std::uint8_t* buf, std::size_t len, int) override {
        if (!d_.pending)
            return 0;
        d_.pending = false;
        std::memcpy(buf, d_.answer.data(), std::min(len, d_.answer.size()));
        return static_cast<int>(len);
    }

private:
    InstantBootLoader& d_;
};

// A user interface that only keeps the last text: recording every event
// would be the bench's own cost, not the program's.
class QuietUi final : public Ui {
public:
    void setStatusText(int, const std::string& text) override { last = text; }
    Answer messageBox(const std::string& text, const std::string&, Icon, Buttons) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return Answer::Ok;
    }
    std::optional<std::string> openFileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> saveFileDialog(const FileDialogRequest&) override {
        return std::nullopt;
    }
    void waitMs(int ms) override { clock_.sleepMs(ms); }
    Clock& clock() override { return clock_; }
    std::string last;

private:
    RealClock clock_;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main() {
    InstantBootLoader device;
    DeviceLink link;
    link.readHandle = std::make_unique<InstantHandle>(device);
    link.writeHandle = std::make_unique<InstantHandle>(device);
    link.inputReportLength = link.outputReportLength = kReportSize;
    QuietUi ui;

    auto image = std::make_unique<FirmwareImage>();
    ResetFirmwareImage(*image);
    for (int a = 0; a < 0x8000; ++a)
        image->cells[a] = static_cast<std::uint8_t>(a * 31);

    const int runs = 200;
    std::vector<double> programUs, saveUs;
    for (int i = 0; i < runs; ++i) {
        device.exchanges = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = ProgramFirmware(link, ui, *image);
        const auto t1 = std::chrono::steady_clock::now();
        if (!ok || device.exchanges != 880) {
            std::fprintf(stderr, "programming failed: %s\n", ui.last.c_str());
            return 1;
        }
        programUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / 880.0);
    }

    const auto path = std::filesystem::temp_directory_path() /
                      ("talmo-bench-save-" + std::to_string(::getpid()) + ".hex");
    for (int i = 0; i < runs / 4; ++i) {
        device.exchanges = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = SaveFirmwareToHex(link, ui, path.string()).done();
        const auto t1 = std::chrono::steady_clock::now();
        if (!ok || device.exchanges != 880) {
            std::fprintf(stderr, "save failed: %s\n", ui.last.c_str());
            return 1;
        }
        saveUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / 880.0);
    }
    std::filesystem::remove(path);

    std::printf(
        "Program's own cost per exchange, real clock, instant boot loader (median of %d runs)\n",
        runs);
    std::printf("  ProgramFirmware, per 'W':      %7.3f us   (target < 5 us)\n", Median(programUs));
    std::printf("  SaveFirmwareToHex, per 'R':    %7.3f us   (with the file's lines, %d runs)\n",
                Median(saveUs), runs / 4);
    return 0;
}
