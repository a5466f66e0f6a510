// Reading and programming the board's PIC16F877A / PIC16F877 (8192 words,
// 256 EEPROM bytes) on the device emulator.
//
// (a) The program's own cost per exchange: real clock, emulator without
//     latency; the bare emulator's cost for the same requests is measured
//     apart and taken off.
// (b) Whole operations with 1 ms per exchange (one USB full-speed frame) on
//     the virtual clock, against the floor that the protocol allows: the
//     exchanges the sequences must make times 1 ms, plus the waits they must
//     make. The floor is counted here from the image, not from the run.
#include "core/clock.h"
#include "core/quiet_ui.h"
#include "core/ui.h"
#include "link/device_link.h"
#include "programmer/pic_identify.h"
#include "programmer/pic_image.h"
#include "programmer/pic_program.h"
#include "programmer/pic_read.h"
#include "sim/wired_talmo.h"

#include <chrono>
#include <cstdio>
#include <memory>

using namespace talmo;

namespace {

// One emulated board on its own bus and clock.
struct Board {
    QuietUi ui;
    sim::WiredTalmo wired;
    DeviceLink& link = wired.link;
    sim::VirtualUsb& bus = wired.bus;
    sim::Talmo* device = wired.device;

    Board(Clock& c, sim::PicChip chip)
        : ui(c), wired(c, &ui, sim::MakeTalmo(sim::Talmo::Mode::Normal, chip, 1)) {
        device->pic()->setStrictTiming(false); // (a) measures the program, not the cycles
        device->log().setEnabled(false);
        if (!wired.open())
            std::fprintf(stderr, "the emulated TALMO did not open\n");
    }
};

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Exchanges and waits (µs) that the sequences must make for this image.
struct Floor {
    std::uint64_t exchanges = 0;
    std::int64_t waitsUs = 0;
};

Floor ReadFloor(const PicIdentification& id) {
    return {2 + 2ull * id.programSize + id.eepromSize + 1 + 16 + 1, 0};
}

Floor WordModeFloor(const PicImage& image, const PicIdentification& id) {
    Floor f;
    f.exchanges = 2 + 12; // leave, enter; both bulk erases
    std::uint64_t cycles = 0;
    for (std::uint32_t a = 0; a < id.programSize; ++a) {
        const bool word = image.entries[a] != 0x3FFF;
        f.exchanges += (word ? 2 : 0) + 1 + 1; // load and program, read back, increment
        cycles += word;
        if (a < id.eepromSize) {
            const bool byte = (image.entries[0x2100 + a] & 0xFF) != 0xFF;
            f.exchanges += (byte ? 2 : 0) + 1;
            cycles += byte;
        }
    }
    f.exchanges +=
        1 + 5 * 3 + 8 + 1; // Load Configuration, 5 words written and read, 8 increments, leave
    f.waitsUs = (16 + 16 + 16) * 1000 + static_cast<std::int64_t>(cycles) * 8000 + 5 * 16000;
    return f;
}

Floor BlockModeFloor(const PicImage& image, const PicIdentification& id) {
    Floor f;
    f.exchanges = 2 + 5; // leave, enter; chip erase and both bulk erases
    for (std::uint32_t b = 0; b < id.programSize; b += 8) {
        bool blank = true;
        for (std::uint32_t a = b; a < b + 8; ++a)
            blank = blank && image.entries[a] == 0x3FFF;
        f.exchanges += blank ? 8 : 8 + 7 + 3;
    }
    f.exchanges += 2; // back to address 0
    for (std::uint32_t a = 0; a < id.eepromSize; ++a)
        f.exchanges += ((image.entries[0x2100 + a] & 0xFF) != 0xFF ? 3 : 0) + 1;
    f.exchanges += 1 + 4 + 3 + 1;                             // ID words
    f.exchanges += 1 + 7 + 1 + 1;                             // configuration word
    f.exchanges += 2 + 2ull * id.programSize + 1 + 4 + 7 + 1; // verification, leave
    f.waitsUs = (20 + 8 + 8 + 16 + 16) * 1000;
    return f;
}

void PrintRun(const char* name, bool ok, std::uint64_t exchanges, std::int64_t virtualUs,
              const Floor& floor, double realS) {
    const std::int64_t floorUs = static_cast<std::int64_t>(floor.exchanges) * 1000 + floor.waitsUs;
    std::printf("  %-22s %s %6llu exchanges (floor %6llu)  %9.3f s virtual  floor %9.3f s  over "
                "floor %+.4f %%  "
                "(%.3f s real)\n",
                name, ok ? "ok    " : "FAILED", static_cast<unsigned long long>(exchanges),
                static_cast<unsigned long long>(floor.exchanges), virtualUs / 1e6, floorUs / 1e6,
                100.0 * static_cast<double>(virtualUs - floorUs) / static_cast<double>(floorUs),
                realS);
}

} // namespace

int main() {
    auto image = std::make_unique<PicImage>();

    // (a) Cost per exchange, real clock, no latency.
    {
        RealClock clock;
        Board board(clock, sim::PicChip::F877A);
        PicIdentification id;
        IdentifyPic(board.link, board.ui, id);
        constexpr int kRounds = 20;
        std::uint64_t exchanges = 0;
        const auto t0 = std::chrono::steady_clock::now();
        bool ok = true;
        for (int i = 0; i < kRounds; ++i) {
            const std::uint64_t before = board.device->exchangeCount();
            ok = ok && ReadPic(board.link, board.ui, *image, id) == 1;
            exchanges += board.device->exchangeCount() - before;
        }
        const double total = Seconds(std::chrono::steady_clock::now() - t0);

        // The bare emulator, for the same kind of requests.
        const std::string path = board.bus.interfaces().front().path;
        sim::Report request{};
        request[1] = 'Y';
        const auto t1 = std::chrono::steady_clock::now();
        for (std::uint64_t i = 0; i < exchanges; ++i) {
            request[2] = (i & 1) ? 3 : 2; // a read, then an increment
            request[3] = (i & 1) ? 0x06 : 0x04;
            board.bus.exchange(path, request);
        }
        const double bare = Seconds(std::chrono::steady_clock::now() - t1);
        const double perExchange = total / static_cast<double>(exchanges) * 1e6;
        const double perBare = bare / static_cast<double>(exchanges) * 1e6;
        std::printf("(a) ReadPic x %d on the emulator without latency, real clock: %s\n", kRounds,
                    ok ? "ok" : "FAILED");
        std::printf("  %llu exchanges in %.3f s: %.3f us per exchange, of which the bare emulator "
                    "%.3f us\n",
                    static_cast<unsigned long long>(exchanges), total, perExchange, perBare);
        std::printf("  program's own cost (link, sequences, texts): %.3f us per exchange = %.3f %% "
                    "of a 1 ms frame "
                    "(target: under 5 us)\n",
                    perExchange - perBare, (perExchange - perBare) / 10.0);
    }

    // (b) Whole operations at 1 ms per exchange, virtual clock.
    std::printf("(b) 8192 words, 256 EEPROM bytes, 1 ms per exchange on the virtual clock\n");
    for (sim::PicChip chip : {sim::PicChip::F877, sim::PicChip::F877A}) {
        VirtualClock clock;
        Board board(clock, chip);
        board.device->pic()->setStrictTiming(true);
        board.bus.setLatencyUs(1000);
        PicIdentification id;
        IdentifyPic(board.link, board.ui, id);
        const char* family = id.aFamily ? "block mode" : "word mode";

        auto run = [&](const char* name, auto&& operation, const Floor& floor) {
            const std::uint64_t e0 = board.device->exchangeCount();
            const std::int64_t v0 = clock.nowUs();
            const auto r0 = std::chrono::steady_clock::now();
            const bool ok = operation();
            PrintRun(name, ok, board.device->exchangeCount() - e0, clock.nowUs() - v0, floor,
                     Seconds(std::chrono::steady_clock::now() - r0));
        };
        std::printf(" %s (%s)\n", board.device->pic()->info().name, family);
        run(
            "ReadPic", [&] { return ReadPic(board.link, board.ui, *image, id) == 1; },
            ReadFloor(id));
        // Program the board's own firmware back, as a user restoring a saved file would.
        const Floor floor = id.aFamily ? BlockModeFloor(*image, id) : WordModeFloor(*image, id);
        run(
            id.aFamily ? "ProgramPic, block mode" : "ProgramPic, word mode",
            [&] { return ProgramPic(board.link, board.ui, *image, id) == 1; }, floor);
        if (board.device->pic()->interruptedCycles() != 0)
            std::printf("  %llu programming cycles cut short!\n",
                        static_cast<unsigned long long>(board.device->pic()->interruptedCycles()));
    }
    return 0;
}
