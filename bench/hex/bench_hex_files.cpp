// Prints how long loading and saving the largest PIC file (0x2000 program
// words, 0x100 EEPROM bytes) and a full firmware file take, in microseconds
// per file, averaged over many runs.
#include "programmer/pic_image.h"
#include "tests/common/scripted_ui.h"
#include "updater/firmware_image.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

using namespace talmo;

namespace {

template <class Body>
double MicrosecondsPerRun(int runs, Body body) {
    body(); // warm the caches and the file system
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        if (!body()) {
            std::fprintf(stderr, "bench: an operation failed\n");
            std::exit(1);
        }
    const std::chrono::duration<double, std::micro> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / runs;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    char pattern[] = "/tmp/talmo-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string picPath = dir + "/pic.hex";
    const std::string fwPath = dir + "/firmware.hex";
    ScriptedUi ui;

    PicImage pic;
    ResetPicImage(pic);
    for (std::uint32_t i = 0; i < 0x2000; ++i)
        pic.entries[i] = (i * 2654435761u >> 7) & 0x3FFF;
    for (std::uint32_t i = 0; i < 0x100; ++i)
        pic.entries[0x2100 + i] = i ^ 0xA5;
    pic.entries[0x2007] = 0x3F72;

    // Saving into a new file, and replacing an existing one: on ext4 the
    // replacement costs more, as the file system flushes a file that was
    // truncated and rewritten when it is closed.
    const double picSave = MicrosecondsPerRun(runs, [&] {
        ::unlink(picPath.c_str());
        return SavePicHex(ui, pic, picPath, 0x2000, 0x100);
    });
    const double picReplace =
        MicrosecondsPerRun(runs, [&] { return SavePicHex(ui, pic, picPath, 0x2000, 0x100); });
    PicImage loaded;
    const double picLoad =
        MicrosecondsPerRun(runs, [&] { return LoadPicHex(ui, loaded, picPath); });

    std::uint8_t device[FirmwareHexWriter::kTotalBytes];
    for (std::uint32_t i = 0; i < FirmwareHexWriter::kTotalBytes; ++i)
        device[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
    auto saveFirmware = [&](std::size_t chunk, bool replace) {
        if (!replace)
            ::unlink(fwPath.c_str());
        FirmwareHexWriter writer(ui);
        if (!writer.create(fwPath))
            return false;
        for (std::size_t i = 0; i < sizeof device; i += chunk)
            if (!writer.addBytes(device + i, chunk))
                return false;
        return writer.finish();
    };
    const double fwSaveBytes = MicrosecondsPerRun(runs, [&] { return saveFirmware(1, false); });
    const double fwSaveBlocks = MicrosecondsPerRun(runs, [&] { return saveFirmware(32, false); });
    const double fwReplace = MicrosecondsPerRun(runs, [&] { return saveFirmware(32, true); });
    FirmwareImage firmware;
    const double fwLoad =
        MicrosecondsPerRun(runs, [&] { return LoadFirmwareHex(ui, firmware, fwPath); });

    std::printf("HEX files, %d runs each, microseconds per file (target: under 1000)\n", runs);
    std::printf("  PIC 0x2000 words + 0x100 EEPROM (1060 lines, 47596 bytes)\n");
    std::printf("    SavePicHex, new file                %9.1f us\n", picSave);
    std::printf("    SavePicHex, replacing the file      %9.1f us\n", picReplace);
    std::printf("    LoadPicHex                          %9.1f us\n", picLoad);
    std::printf("  firmware 0x1300-0x7FFF + EEPROM (1763 lines)\n");
    std::printf("    FirmwareHexWriter, byte by byte     %9.1f us\n", fwSaveBytes);
    std::printf("    FirmwareHexWriter, 32-byte blocks   %9.1f us\n", fwSaveBlocks);
    std::printf("    the same, replacing the file        %9.1f us\n", fwReplace);
    std::printf("    LoadFirmwareHex                     %9.1f us\n", fwLoad);

    ::unlink(picPath.c_str());
    ::unlink(fwPath.c_str());
    ::rmdir(dir.c_str());
    return ui.boxes().empty() ? 0 : 1;
}
