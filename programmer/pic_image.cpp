#include "programmer/pic_image.h"

#include "hex/hex_records.h"

namespace talmo {

void ResetPicImage(PicImage& image) { image.entries.fill(kPicBlankWord); }

namespace {

// Reads one record line: next, failed (after a message) or end of file.
HexRecordResult ReadPicRecord(Ui& ui, PicImage& image, std::string_view line) {
    const int length = HexPairAt(line, 1);
    if (static_cast<long long>(line.size()) != 2LL * length + 11) {
        ui.errorBox(kHexIncompleteLine, kHexReadCaption);
        return kHexRecordFailed;
    }
    // A record carries whole words.
    if (length % 2 != 0) {
        ui.errorBox(kHexOddLength, kHexReadCaption);
        return kHexRecordFailed;
    }
    const int addressHigh = HexPairAt(line, 3);
    const int addressLow = HexPairAt(line, 5);
    const int address = addressHigh * 256 + addressLow;
    // A non-hex pair makes the address negative or odd; both are refused.
    if (static_cast<std::uint32_t>(address) >= kPicHexAddressBound || (address & 1) != 0) {
        ui.errorBox(kHexBadAddress, kHexReadCaption);
        return kHexRecordFailed;
    }
    const int type = HexPairAt(line, 7);
    if (type < kHexData || type > kHexStartLinear) {
        ui.errorBox(kHexBadRecord, kHexReadCaption);
        return kHexRecordFailed;
    }
    if (type == kHexEndOfFile)
        return kHexRecordEnd;
    // Address records: the file's 16-bit addresses are used as they stand.
    if (type != kHexData)
        return kHexRecordNext;

    int sum = length + addressHigh + addressLow;
    const std::uint32_t firstEntry = static_cast<std::uint32_t>(address) / 2;
    for (int k = 0; k < length / 2; ++k) {
        const int low = HexPairAt(line, 9 + 4 * static_cast<std::size_t>(k));
        const int high = HexPairAt(line, 11 + 4 * static_cast<std::size_t>(k));
        const int word = high * 256 + low;
        const std::uint32_t entry = firstEntry + static_cast<std::uint32_t>(k);
        // Words that run past the image are checked and summed, not kept.
        if (entry < kPicImageSize)
            image.entries[entry] = static_cast<std::uint32_t>(word);
        if (static_cast<std::uint32_t>(word) > kPicBlankWord) {
            ui.errorBox(kHexValueTooLarge, kHexReadCaption);
            return kHexRecordFailed;
        }
        sum += low + high;
    }
    const int checksum = HexPairAt(line, 9 + 2 * static_cast<std::size_t>(length));
    if (!HexChecksumMatches(sum, checksum)) {
        ui.errorBox(kHexBadChecksum, kHexReadCaption);
        return kHexRecordFailed;
    }
    return kHexRecordNext;
}

// Writes `count` (at most 8) image entries from `first` as one data record
// at byte address 2 x first: each entry low byte first; an EEPROM entry keeps
// only its low byte, followed by 0x00.
bool WriteWords(HexFileWriter& file, const PicImage& image, std::uint32_t first, int count,
                bool eeprom = false) {
    std::uint8_t data[16];
    for (int k = 0; k < count; ++k) {
        const std::uint32_t word = image.entries[first + static_cast<std::uint32_t>(k)];
        data[2 * k] = static_cast<std::uint8_t>(word & 0xFF);
        data[2 * k + 1] = eeprom ? 0 : static_cast<std::uint8_t>((word >> 8) & 0xFF);
    }
    return file.writeRecord(static_cast<std::uint16_t>(2 * first), kHexData, data,
                            2 * static_cast<std::size_t>(count));
}

} // namespace

bool LoadPicHexText(Ui& ui, PicImage& image, std::string_view text, HexFileFacts* facts) {
    ResetPicImage(image);
    if (facts)
        *facts = HexFileFacts{};
    return WalkHexRecords(
        text, [&](std::string_view line) { return ReadPicRecord(ui, image, line); }, facts);
}

bool LoadPicHex(Ui& ui, PicImage& image, const std::string& path, HexFileFacts* facts) {
    // The image is blank even when the file cannot be opened.
    ResetPicImage(image);
    if (facts)
        *facts = HexFileFacts{};
    HexText text;
    if (!LoadHexText(ui, path, text))
        return false;
    return LoadPicHexText(ui, image, text.text(), facts);
}

std::vector<const char*> PicFileRefusals(const HexFileFacts& facts) {
    std::vector<const char*> refusals;
    if (facts.dataBytes == 0)
        refusals.push_back(kPicNoData);
    if (!facts.endRecord)
        refusals.push_back(kHexNoEndRecord);
    return refusals;
}

std::vector<const char*> PicFitRefusals(const PicImage& image, std::uint32_t programSize,
                                        std::uint32_t eepromSize) {
    std::vector<const char*> refusals;
    for (std::uint32_t a = programSize; a < kPicIdAddress; ++a)
        if (image.entries[a] != kPicBlankWord) {
            refusals.push_back(kPicBeyondProgram);
            break;
        }
    for (std::uint32_t a = kPicEepromAddress + eepromSize; a < kPicImageSize; ++a)
        if (image.entries[a] != kPicBlankWord && (image.entries[a] & 0xFF) != 0xFF) {
            refusals.push_back(kPicBeyondEeprom);
            break;
        }
    return refusals;
}

bool SavePicHex(Ui& ui, const PicImage& image, const std::string& path, int programSize,
                int eepromSize) {
    if (programSize < 0 || programSize > 0x2000 || programSize % 8 != 0 || eepromSize < 0 ||
        eepromSize > 0x100 || eepromSize % 8 != 0) {
        ui.errorBox(kPicBadSizes, kHexWriteCaption);
        return false;
    }
    HexFileWriter file(ui);
    if (!file.create(path))
        return false;

    // Program memory, eight words per line, blank words included.
    for (int base = 0; base < programSize; base += 8)
        if (!WriteWords(file, image, static_cast<std::uint32_t>(base), 8))
            return false;
    // Data EEPROM: each byte followed by 0x00.
    for (int base = 0; base < eepromSize; base += 8)
        if (!WriteWords(file, image, kPicEepromAddress + static_cast<std::uint32_t>(base), 8, true))
            return false;
    // The configuration word, then the four ID locations.
    if (!WriteWords(file, image, kPicConfigAddress, 1) ||
        !WriteWords(file, image, kPicIdAddress, 4))
        return false;
    return file.finish();
}

} // namespace talmo
