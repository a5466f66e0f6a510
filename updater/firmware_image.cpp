#include "updater/firmware_image.h"

#include <cstring>

namespace talmo {

void ResetFirmwareImage(FirmwareImage& image) {
    image.cells.fill(kFirmwareBlank);
    image.eepromFlag = false;
}

namespace {

HexRecordResult Refuse(Ui& ui, const char* message) {
    ui.errorBox(message, kHexReadCaption);
    return kHexRecordFailed;
}

HexRecordResult ReadFirmwareRecord(Ui& ui, FirmwareImage& image, std::string_view line) {
    const int length = HexPairAt(line, 1);
    if (static_cast<long long>(line.size()) != 2LL * length + 11)
        return Refuse(ui, kHexIncompleteLine);
    const int addressHigh = HexPairAt(line, 3);
    const int addressLow = HexPairAt(line, 5);
    const int address = addressHigh * 256 + addressLow;
    // Every record type, the end of file included, must name a device address.
    if (static_cast<std::uint32_t>(address) >= kFirmwareImageSize)
        return Refuse(ui, kHexBadAddress);
    const int type = HexPairAt(line, 7);
    if (type != kHexData && type != kHexEndOfFile && type != kHexExtendedLinear)
        return Refuse(ui, kHexBadRecord);
    if (type == kHexEndOfFile)
        return kHexRecordEnd;
    // A length pair that is not hex passed the length test only on a line of
    // nine characters; such a record has no data to take.
    if (length < 0)
        return Refuse(ui, kHexIncompleteLine);

    const std::size_t checksumAt = 9 + 2 * static_cast<std::size_t>(length);
    if (type == kHexExtendedLinear) {
        // The upper address is the first two data pairs, whatever the length;
        // pairs past the line read as non-hex and leave it to the checksum.
        const int upperHigh = HexPairAt(line, 9);
        const int upperLow = HexPairAt(line, 11);
        image.eepromFlag = (upperHigh * 256 + upperLow) != 0;
        const int sum = length + addressHigh + addressLow + type + upperHigh + upperLow;
        if (!HexChecksumMatches(sum, HexPairAt(line, checksumAt)))
            return Refuse(ui, kHexBadChecksum);
        return kHexRecordNext;
    }

    // Under the EEPROM flag only addresses 0x00-0xFF are EEPROM: a record
    // above them is skipped unread and program memory follows again.
    if (image.eepromFlag && address >= 0x100) {
        image.eepromFlag = false;
        return kHexRecordSkipped;
    }
    // A record that would run past the last cell is refused whole.
    if (static_cast<std::uint32_t>(address) + static_cast<std::uint32_t>(length) >
        kFirmwareImageSize)
        return Refuse(ui, kHexBadAddress);
    int sum = length + addressHigh + addressLow + type;
    for (int i = 0; i < length; ++i) {
        const int value = HexPairAt(line, 9 + 2 * static_cast<std::size_t>(i));
        image.cells[static_cast<std::size_t>(address + i)] = static_cast<std::uint8_t>(value);
        sum += value;
    }
    if (!HexChecksumMatches(sum, HexPairAt(line, checksumAt)))
        return Refuse(ui, kHexBadChecksum);
    return kHexRecordNext;
}

} // namespace

bool LoadFirmwareHexText(Ui& ui, FirmwareImage& image, std::string_view text, HexFileFacts* facts) {
    ResetFirmwareImage(image);
    if (facts)
        *facts = HexFileFacts{};
    return WalkHexRecords(
        text, [&](std::string_view line) { return ReadFirmwareRecord(ui, image, line); }, facts);
}

bool LoadFirmwareHex(Ui& ui, FirmwareImage& image, const std::string& path, HexFileFacts* facts) {
    ResetFirmwareImage(image);
    if (facts)
        *facts = HexFileFacts{};
    HexText text;
    if (!LoadHexText(ui, path, text))
        return false;
    return LoadFirmwareHexText(ui, image, text.text(), facts);
}

std::vector<const char*> FirmwareFileRefusals(const HexFileFacts& facts) {
    std::vector<const char*> refusals;
    if (facts.dataBytes == 0)
        refusals.push_back(kFirmwareNoData);
    if (!facts.endRecord)
        refusals.push_back(kHexNoEndRecord);
    return refusals;
}

std::vector<const char*> FirmwareContentRefusals(const FirmwareImage& image) {
    std::vector<const char*> refusals;
    for (std::uint32_t a = kFirmwareEepromSize; a < kFirmwareAppStart; ++a)
        if (image.cells[a] != kFirmwareBlank) {
            refusals.push_back(kFirmwareOutsideArea);
            break;
        }
    if (std::memcmp(&image.cells[kFirmwareVersionAddress], "TALMO", 5) != 0)
        refusals.push_back(kFirmwareNoVersion);
    return refusals;
}

// The line that opens the EEPROM section of the file.
static constexpr char kEepromSectionLine[] = ":0200000400F00A";

bool FirmwareHexWriter::create(const std::string& path) {
    delivered_ = 0;
    created_ = file_.create(path);
    failed_ = !created_;
    return created_;
}

bool FirmwareHexWriter::fail(const char* message) {
    failed_ = true;
    file_.close();
    ui_.errorBox(message, kHexWriteCaption);
    return false;
}

std::uint32_t FirmwareHexWriter::addressOf(std::uint32_t n) {
    return n < kProgramBytes ? kFirmwareAppStart + n : n - kProgramBytes;
}

std::uint32_t FirmwareHexWriter::nextAddress() const { return addressOf(delivered_); }

bool FirmwareHexWriter::addByte(std::uint8_t byte) {
    if (failed_ || !created_) {
        failed_ = true;
        return false;
    }
    if (delivered_ >= kTotalBytes)
        return fail(kFirmwareTooMuchData);
    line_[delivered_ % line_.size()] = byte;
    ++delivered_;
    if (delivered_ % line_.size() != 0)
        return true;
    // The line just completed starts 16 bytes back.
    const std::uint32_t address = addressOf(delivered_ - static_cast<std::uint32_t>(line_.size()));
    if (!file_.writeRecord(static_cast<std::uint16_t>(address), kHexData, line_.data(),
                           line_.size())) {
        failed_ = true;
        return false;
    }
    if (delivered_ == kProgramBytes && !file_.writeLine(kEepromSectionLine)) {
        failed_ = true;
        return false;
    }
    return true;
}

bool FirmwareHexWriter::addBytes(const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (!addByte(data[i]))
            return false;
    return true;
}

bool FirmwareHexWriter::finish() {
    if (failed_ || !created_) {
        failed_ = true;
        return false;
    }
    if (delivered_ != kTotalBytes)
        return fail(kFirmwareIncompleteData);
    if (!file_.finish()) {
        failed_ = true;
        return false;
    }
    created_ = false; // the file is complete and closed
    return true;
}

} // namespace talmo
