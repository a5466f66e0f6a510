#include "updater/bootloader_commands.h"

#include "core/latin1.h"
#include "core/ui.h"
#include "updater/firmware_image.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace talmo {

namespace {

constexpr std::uint8_t kVersion = 'V';
constexpr std::uint8_t kRead = 'R';
constexpr std::uint8_t kWrite = 'W';
constexpr std::uint8_t kLeave = 'Z';
constexpr int kDataOffset = 5; // first data byte of 'R' answers and 'W' requests

const char* const kCommError = "TALMO communication: Erreur";
const char* const kUnknownVersion = "Inconnue";

// Progress and error texts are at most 39 characters (a 40-byte buffer).
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format40(const char* format, ...) {
    char buffer[40];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

bool BeginsWithTalmo(const std::uint8_t* bytes) { return std::memcmp(bytes, "TALMO", 5) == 0; }

// The echo check of 'R' and 'W': the letter and the address (bytes 3 and 4)
// of the request, so that an answer meant for another request never passes.
bool BlockEchoOk(int count, const Report& report, std::uint8_t letter, int address) {
    return EchoOk(count, report, letter) && count > 4 && report[3] == ((address >> 8) & 0xFF) &&
           report[4] == (address & 0xFF);
}

} // namespace

void BuildBootVersionRequest(Report& report) {
    report[0] = 0;
    report[1] = kVersion;
}

void BuildBootReadRequest(Report& report, BootMemory memory, std::uint16_t address) {
    report[0] = 0;
    report[1] = kRead;
    report[2] = static_cast<std::uint8_t>(memory);
    report[3] = static_cast<std::uint8_t>(address >> 8);
    report[4] = static_cast<std::uint8_t>(address & 0xFF);
}

void BuildBootWriteRequest(Report& report, std::uint8_t blockFlag, std::uint16_t address) {
    report[0] = 0;
    report[1] = kWrite;
    report[2] = blockFlag;
    report[3] = static_cast<std::uint8_t>(address >> 8);
    report[4] = static_cast<std::uint8_t>(address & 0xFF);
}

void BuildBootLeaveRequest(Report& report) {
    report[0] = 0;
    report[1] = kLeave;
    report[2] = 'U';
    report[3] = 0xAA;
    report[4] = 0x00;
}

std::string AnswerText(const Report& report, int from, int count) {
    std::string text;
    const int end = count < kReportSize ? count : kReportSize;
    for (int i = from; i < end && report[i] != 0; ++i)
        AppendLatin1(text, report[i]);
    return text;
}

std::optional<std::string> QueryBootLoaderVersion(DeviceLink& link, Report& report) {
    BuildBootVersionRequest(report);
    WriteReport(link, report);
    const int count = ReadReport(link, report);
    if (!EchoOk(count, report, kVersion))
        return std::nullopt;
    return AnswerText(report, 2, count);
}

std::string QueryDeviceFirmwareVersion(DeviceLink& link, Report& report) {
    BuildBootReadRequest(report, BootMemory::Program, kApplicationStart);
    WriteReport(link, report);
    const int count = ReadReport(link, report);
    // An answer too short to hold the five letters is no answer.
    if (!BlockEchoOk(count, report, kRead, kApplicationStart) || count < kVersionAnswerOffset + 5 ||
        !BeginsWithTalmo(&report[kVersionAnswerOffset]))
        return kUnknownVersion;
    // The answer's memory bytes end at byte 36 (address 0x131F); what follows
    // is not the device's memory, so a text without its zero byte stops there.
    const int end = kDataOffset + kBootBlockSize;
    return AnswerText(report, kVersionAnswerOffset, count < end ? count : end);
}

void LeaveBootLoader(DeviceLink& link, Report& report) {
    BuildBootLeaveRequest(report);
    WriteReport(link, report);
}

std::string ImageVersionText(const FirmwareImage& image) {
    const std::uint8_t* text = &image.cells[kFirmwareVersionAddress];
    if (!BeginsWithTalmo(text))
        return kUnknownVersion;
    std::string out;
    for (std::uint32_t i = 0; i < kFirmwareVersionLength && text[i] != 0; ++i)
        AppendLatin1(out, text[i]);
    return out;
}

namespace {

// One 'R' exchange for the block at `address`; false when no 'R' answer came.
bool ReadBlock(DeviceLink& link, Report& report, BootMemory memory, int address) {
    BuildBootReadRequest(report, memory, static_cast<std::uint16_t>(address));
    WriteReport(link, report);
    const int count = ReadReport(link, report);
    return BlockEchoOk(count, report, kRead, address) && count >= kDataOffset + kBootBlockSize;
}

// Progress of both operations: one step per block, the application area's
// then the EEPROM's.
constexpr std::uint32_t kApplicationBlocks = (kApplicationEnd - kApplicationStart) / kBootBlockSize;
constexpr std::uint32_t kBlockSteps = kApplicationBlocks + kEepromSize / kBootBlockSize;

std::uint32_t BlockStep(BootMemory memory, int block) {
    return memory == BootMemory::Program
               ? static_cast<std::uint32_t>(block - kApplicationStart) / kBootBlockSize
               : kApplicationBlocks + static_cast<std::uint32_t>(block) / kBootBlockSize;
}

// Streams one memory range into the writer, block by block, as the answers
// come: the writer only ever receives bytes that an answer delivered.
template <typename Sink>
bool ReadRange(DeviceLink& link, Ui& ui, Report& report, BootMemory memory, int start, int end,
               Sink&& sink) {
    for (int block = start; block < end; block += kBootBlockSize) {
        ui.progress("Lecture de l'adresse", BlockStep(memory, block), kBlockSteps);
        if ((block & 0xFF) == 0) {
            if (memory == BootMemory::Program)
                ui.setStatusText(MessageField,
                                 Format40("Lecture de l'adresse: 0x%04X/0x8000", block));
            else
                ui.setStatusText(MessageField,
                                 Format40("Lecture de l'adresse: 0x%02X/0x100", block));
        }
        if (!ReadBlock(link, report, memory, block)) {
            ui.setStatusText(MessageField, kCommError);
            return false;
        }
        if (!sink(block, &report[kDataOffset]))
            return false;
    }
    return true;
}

} // namespace

JobOutcome SaveFirmwareToHex(DeviceLink& link, Ui& ui, const std::string& path) {
    Report report{};
    FirmwareHexWriter writer(ui);
    if (!writer.create(path))
        return Outcome(JobEnd::FileNotWritten, kHexCannotCreate);
    bool written = true;
    auto toFile = [&](int, const std::uint8_t* bytes) {
        written = writer.addBytes(bytes, kBootBlockSize);
        return written;
    };
    // The writer puts the EEPROM section's address line between the two. A
    // save that stops leaves no file: the destination keeps what it held.
    if (!ReadRange(link, ui, report, BootMemory::Program, kApplicationStart, kApplicationEnd,
                   toFile) ||
        !ReadRange(link, ui, report, BootMemory::Eeprom, 0, kEepromSize, toFile))
        return Outcome(written ? JobEnd::NoAnswer : JobEnd::FileNotWritten);
    ui.progress("Lecture de l'adresse", kBlockSteps, kBlockSteps);
    return writer.finish() ? JobOutcome{} : Outcome(JobEnd::FileNotWritten);
}

bool ReadFirmware(DeviceLink& link, Ui& ui, FirmwareImage& image) {
    Report report{};
    ResetFirmwareImage(image);
    auto toImage = [&](int block, const std::uint8_t* bytes) {
        std::memcpy(&image.cells[block], bytes, kBootBlockSize);
        return true;
    };
    return ReadRange(link, ui, report, BootMemory::Program, kApplicationStart, kApplicationEnd,
                     toImage) &&
           ReadRange(link, ui, report, BootMemory::Eeprom, 0, kEepromSize, toImage);
}

FirmwareComparison CompareFirmwareImages(const FirmwareImage& expected,
                                         const FirmwareImage& device) {
    FirmwareComparison c;
    auto check = [&](std::uint32_t a) {
        if (expected.cells[a] == device.cells[a])
            return;
        if (c.differences++ == 0) {
            c.address = a;
            c.expected = expected.cells[a];
            c.got = device.cells[a];
        }
    };
    for (std::uint32_t a = kFirmwareAppStart; a < kFirmwareImageSize; ++a)
        check(a);
    for (std::uint32_t a = 0; a < kFirmwareEepromSize; ++a)
        check(a);
    return c;
}

namespace {

// Sends the 'W' request in `report` for the block ending at `last`. False,
// with the reason in the message field, when no answer to this 'W' came or
// the device refused the block.
bool SendBlock(DeviceLink& link, Ui& ui, Report& report, bool eeprom, int last) {
    const int address = report[3] << 8 | report[4];
    WriteReport(link, report);
    const int count = ReadReport(link, report);
    if (!BlockEchoOk(count, report, kWrite, address)) {
        ui.setStatusText(MessageField, kCommError);
        return false;
    }
    if (report[2] != 1) {
        ui.setStatusText(MessageField, Format40(eeprom ? "Erreur programmation EEPROM: 0x%02X"
                                                       : "Erreur programmation: 0x%04X",
                                                last));
        return false;
    }
    return true;
}

} // namespace

bool ProgramFirmware(DeviceLink& link, Ui& ui, const FirmwareImage& image) {
    Report report{};
    std::uint8_t flag = 1;
    for (int block = kApplicationStart; block < kApplicationEnd; block += kBootBlockSize) {
        ui.progress("Ecriture de l'adresse", BlockStep(BootMemory::Program, block), kBlockSteps);
        if (block % 0x800 == 0)
            ui.setStatusText(MessageField, Format40("Ecriture de l'adresse: 0x%02X/0x8000", block));
        BuildBootWriteRequest(report, flag, static_cast<std::uint16_t>(block));
        std::memcpy(&report[kDataOffset], &image.cells[block], kBootBlockSize);
        if (!SendBlock(link, ui, report, false, block + kBootBlockSize - 1))
            return false;
        flag = flag == 1 ? 2 : 1;
    }
    for (int block = 0; block < kEepromSize; block += kBootBlockSize) {
        ui.progress("Ecriture de l'adresse", BlockStep(BootMemory::Eeprom, block), kBlockSteps);
        ui.setStatusText(MessageField, Format40("Ecriture de l'adresse: 0x%02X/0x100", block));
        const int last = block + kBootBlockSize - 1;
        std::memcpy(&report[kDataOffset], &image.cells[block], kBootBlockSize);
        BuildBootWriteRequest(report, 0, static_cast<std::uint16_t>(last));
        if (!SendBlock(link, ui, report, true, last))
            return false;
    }
    ui.progress("Ecriture de l'adresse", kBlockSteps, kBlockSteps);
    return true;
}

} // namespace talmo
