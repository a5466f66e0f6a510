#include "sim/pic.h"

#include <cctype>

namespace sim {

namespace {

// The emulator's own table of the chips and, below, its own command codes:
// it models the chips from their programming specifications, independently
// of programmer/'s tables (pic_identify.cpp, target_commands.h), so that a
// mistake in those is not shared by the model it is tested against.
const PicChipInfo kChips[] = {
    {PicChip::F873, "PIC16F873", 0x4B, 4096, 128, false},
    {PicChip::F874, "PIC16F874", 0x49, 4096, 128, false},
    {PicChip::F876, "PIC16F876", 0x4F, 8192, 256, false},
    {PicChip::F877, "PIC16F877", 0x4D, 8192, 256, false},
    {PicChip::F873A, "PIC16F873A", 0x72, 4096, 128, true},
    {PicChip::F874A, "PIC16F874A", 0x73, 4096, 128, true},
    {PicChip::F876A, "PIC16F876A", 0x70, 8192, 256, true},
    {PicChip::F877A, "PIC16F877A", 0x71, 8192, 256, true},
};

// Serial command codes.
enum : std::uint8_t {
    kLoadConfiguration = 0x00,
    kBulkSetup1 = 0x01,
    kLoadProgram = 0x02,
    kLoadData = 0x03,
    kReadProgram = 0x04,
    kReadData = 0x05,
    kIncrement = 0x06,
    kBulkSetup2 = 0x07,
    kBeginEraseProgram = 0x08,
    kBulkEraseProgram = 0x09,
    kBulkEraseData = 0x0B,
    kEndProgramming = 0x17,
    kBeginProgramOnly = 0x18,
    kChipErase = 0x1F,
};

} // namespace

const PicChipInfo& ChipInfo(PicChip chip) {
    for (const auto& c : kChips)
        if (c.chip == chip)
            return c;
    return kChips[0];
}

const std::vector<PicChip>& AllPicChips() {
    static const std::vector<PicChip> chips = [] {
        std::vector<PicChip> all;
        for (const auto& c : kChips)
            all.push_back(c.chip);
        return all;
    }();
    return chips;
}

std::optional<PicChip> PicChipByName(const std::string& name) {
    std::string wanted;
    for (char c : name)
        wanted += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (wanted.rfind("PIC", 0) != 0)
        wanted = "PIC" + wanted;
    for (const auto& c : kChips)
        if (wanted == c.name)
            return c.chip;
    return std::nullopt;
}

Pic::Pic(PicChip chip, unsigned revision) : info_(&ChipInfo(chip)), revision_(revision & 0x1F) {
    eraseAll();
    clearLatch();
}

std::uint16_t Pic::deviceId() const {
    return static_cast<std::uint16_t>(info_->deviceCode << 5 | revision_);
}

bool Pic::implemented(std::uint32_t address) const {
    if (address < info_->programWords)
        return true;
    if (address >= kConfigBase && address <= kConfigWord)
        return true;
    return address >= kEepromBase && address < kEepromBase + info_->eepromBytes;
}

std::uint16_t Pic::cell(std::uint32_t address) const {
    if (address == kDeviceIdAddress)
        return deviceId();
    return implemented(address) ? cells_[address] : kBlank;
}

void Pic::setCell(std::uint32_t address, std::uint16_t value) {
    if (!implemented(address) || address == kDeviceIdAddress)
        return;
    cells_[address] = address >= kEepromBase ? (value & 0xFF) : (value & 0x3FFF);
}

void Pic::eraseAll() {
    cells_.fill(kBlank);
    for (std::uint32_t a = 0; a < 0x100; ++a)
        cells_[kEepromBase + a] = 0xFF;
}

void Pic::stickBit(std::uint32_t address, unsigned bit, bool value) {
    if (address >= kCells || bit > 15)
        return;
    const auto m = static_cast<std::uint16_t>(1u << bit);
    stuckMask_[address] |= m;
    if (value)
        stuckValue_[address] |= m;
    else
        stuckValue_[address] &= static_cast<std::uint16_t>(~m);
    anyStuck_ = true;
}

void Pic::clearStuckBits() {
    stuckMask_.fill(0);
    stuckValue_.fill(0);
    anyStuck_ = false;
}

bool Pic::programProtected(std::uint32_t a) const {
    const std::uint16_t cfg = cells_[kConfigWord];
    if (info_->aFamily)
        return (cfg & 0x2000) == 0;
    // Both CP1:CP0 pairs are meant to be programmed alike; a 0 in either protects.
    const unsigned cp = ((cfg >> 12) & 3u) & ((cfg >> 4) & 3u);
    const std::uint32_t size = info_->programWords;
    switch (cp) {
    case 3:
        return false;
    case 2:
        return a >= size - 256;
    case 1:
        return a >= size / 2;
    default:
        return true;
    }
}

bool Pic::eepromProtected() const { return (cells_[kConfigWord] & 0x0100) == 0; }

std::uint16_t Pic::readBack(std::uint32_t address) const {
    std::uint16_t v = cell(address);
    if (address < kConfigBase) {
        if (address < info_->programWords && programProtected(address))
            v = 0;
    } else if (address >= kEepromBase) {
        if (eepromProtected())
            v = 0;
    } else if (address == kConfigWord) {
        v |= info_->aFamily ? 0x1030 : 0x0400;
    }
    if (anyStuck_ && address < kCells)
        v = static_cast<std::uint16_t>((v & ~stuckMask_[address]) | stuckValue_[address]);
    return v;
}

// --- Cycles and their undo record.

void Pic::startCycle(std::int64_t nowUs, std::int64_t minUs, bool needsEnd) {
    cycleActive_ = true;
    cycleStartUs_ = nowUs;
    cycleMinUs_ = minUs;
    cycleNeedsEnd_ = needsEnd;
}

void Pic::endCycle(std::int64_t nowUs, bool endProgramming) {
    if (!cycleActive_)
        return;
    cycleActive_ = false;
    const bool cutShort = strict_ && nowUs - cycleStartUs_ < cycleMinUs_;
    const bool cutOff = cycleNeedsEnd_ && !endProgramming;
    cycleNeedsEnd_ = false;
    if (cutShort || cutOff) {
        ++interrupted_;
        if (undoAll_) {
            cells_ = saved_;
        } else {
            for (auto it = undo_.rbegin(); it != undo_.rend(); ++it)
                cells_[it->first] = it->second;
        }
    }
    undo_.clear();
    undoAll_ = false;
}

void Pic::save(std::uint32_t address) {
    if ((strict_ || cycleNeedsEnd_) && !undoAll_)
        undo_.emplace_back(address, cells_[address]);
}

void Pic::saveAll() {
    if (!strict_)
        return;
    saved_ = cells_;
    undoAll_ = true;
    undo_.clear();
}

void Pic::writeCell(std::uint32_t address, std::uint16_t value, bool programOnly) {
    if (!implemented(address) || address == kDeviceIdAddress)
        return;
    if (address < kConfigBase && programProtected(address))
        return;
    if (address >= kEepromBase && eepromProtected())
        return;
    const std::uint16_t mask = address >= kEepromBase ? 0xFF : 0x3FFF;
    save(address);
    const auto v = static_cast<std::uint16_t>(value & mask);
    cells_[address] = programOnly ? static_cast<std::uint16_t>(cells_[address] & v) : v;
}

void Pic::bulkErase(bool program, bool data, bool config) {
    saveAll();
    if (program)
        for (std::uint32_t a = 0; a < info_->programWords; ++a)
            cells_[a] = kBlank;
    if (data)
        for (std::uint32_t a = 0; a < info_->eepromBytes; ++a)
            cells_[kEepromBase + a] = 0xFF;
    if (config)
        for (std::uint32_t a = kConfigBase; a <= kConfigWord; ++a)
            if (a != kDeviceIdAddress)
                cells_[a] = kBlank;
}

void Pic::clearLatch() { rowLatch_.fill(kBlank); }

std::uint32_t Pic::programIndex() const {
    if (counter_ >= kConfigBase)
        return counter_;
    return counter_ & (info_->programWords - 1);
}

std::uint32_t Pic::eepromIndex() const {
    return kEepromBase + (counter_ & (info_->eepromBytes - 1));
}

// 0x08 (erase) or 0x18 (program only), without a bulk-erase set-up before it.
void Pic::beginCycle(bool erase, std::int64_t nowUs) {
    const bool a = info_->aFamily;
    std::int64_t minUs = a ? (erase ? times_.eraseProgramAUs : times_.programOnlyAUs)
                           : (erase ? times_.eraseProgramUs : times_.programOnlyUs);
    startCycle(nowUs, minUs, a && !erase);
    if (lastLoad_ == LastLoad::Data) {
        writeCell(eepromIndex(), dataLatch_, !erase);
        return;
    }
    if (lastLoad_ != LastLoad::Program)
        return;
    const std::uint32_t at = programIndex();
    if (!a) {
        if (at <= kConfigWord)
            writeCell(at, programLatch_, !erase);
        return;
    }
    if (at < kConfigBase) {
        const std::uint32_t row = at & ~7u;
        for (std::uint32_t k = 0; k < 8; ++k)
            writeCell(row + k, rowLatch_[k], !erase);
    } else if (at <= kConfigBase + 3) {
        for (std::uint32_t k = 0; k < 4; ++k)
            writeCell(kConfigBase + k, rowLatch_[k], !erase);
    } else if (at == kConfigWord) {
        writeCell(kConfigWord, rowLatch_[7], !erase);
    }
    clearLatch();
}

void Pic::enterProgramming(std::int64_t nowUs) {
    endCycle(nowUs);
    programming_ = true;
    counter_ = 0;
    lastLoad_ = LastLoad::None;
    arm_ = Arm::None;
    clearLatch();
}

void Pic::leaveProgramming(std::int64_t nowUs) {
    endCycle(nowUs);
    programming_ = false;
    arm_ = Arm::None;
}

void Pic::serialLoad(std::uint8_t code, PicTransfer transfer, std::uint16_t data) {
    if (code == kLoadConfiguration)
        counter_ = static_cast<std::uint16_t>(kConfigBase);
    if (transfer != PicTransfer::Load)
        return;
    if (code == kLoadData) {
        dataLatch_ = static_cast<std::uint8_t>(data & 0xFF);
        lastLoad_ = LastLoad::Data;
        return;
    }
    programLatch_ = data & 0x3FFF;
    if (info_->aFamily)
        rowLatch_[code == kLoadConfiguration ? 0 : counter_ & 7] = programLatch_;
    lastLoad_ = LastLoad::Program;
}

void Pic::incrementCounter() {
    if (counter_ >= kConfigBase)
        counter_ =
            static_cast<std::uint16_t>(kConfigBase + ((counter_ - kConfigBase + 1) & 0x1FFF));
    else
        counter_ = static_cast<std::uint16_t>((counter_ + 1) & 0x1FFF);
}

// The bulk-erase setup commands of the word-mode parts (01 then 07) and the
// A parts (09, 0B) arm the Begin Erase/Program that follows at once.
void Pic::armErase(std::uint8_t code, Arm previous) {
    const bool a = info_->aFamily;
    if (code == kBulkSetup1 && !a)
        arm_ = Arm::Setup1;
    else if (code == kBulkSetup2 && !a && previous == Arm::Setup1)
        arm_ = Arm::Setup2;
    else if (code == kBulkEraseProgram && a)
        arm_ = Arm::BulkProgram;
    else if (code == kBulkEraseData && a)
        arm_ = Arm::BulkData;
}

void Pic::beginEraseProgram(Arm arm, std::int64_t nowUs) {
    const bool a = info_->aFamily;
    if (!a && arm == Arm::Setup2) {
        startCycle(nowUs, times_.eraseProgramUs);
        if (counter_ == kConfigWord && lastLoad_ == LastLoad::Program) {
            bulkErase(true, true, true);
        } else if (counter_ < kConfigBase && lastLoad_ == LastLoad::Program) {
            if (!programProtected(0) && !programProtected(info_->programWords - 1))
                bulkErase(true, false, false);
        } else if (counter_ < kConfigBase && lastLoad_ == LastLoad::Data) {
            if (!eepromProtected())
                bulkErase(false, true, false);
        }
    } else if (a && (arm == Arm::BulkProgram || arm == Arm::BulkData)) {
        startCycle(nowUs, times_.bulkEraseUs);
        if (arm == Arm::BulkProgram && !programProtected(0))
            bulkErase(true, false, false);
        if (arm == Arm::BulkData && !eepromProtected())
            bulkErase(false, true, false);
    } else {
        beginCycle(true, nowUs);
    }
}

std::uint16_t Pic::serial(std::uint8_t code, PicTransfer transfer, std::uint16_t data,
                          std::int64_t nowUs) {
    code &= 0x3F;
    endCycle(nowUs, code == kEndProgramming);
    if (!programming_)
        return kBlank;
    const Arm arm = arm_;
    arm_ = Arm::None;
    const bool reading = transfer == PicTransfer::Read;
    switch (code) {
    case kLoadConfiguration:
    case kLoadProgram:
    case kLoadData:
        serialLoad(code, transfer, data);
        break;
    case kReadProgram:
        return reading && counter_ <= kConfigWord ? readBack(programIndex()) : kBlank;
    case kReadData:
        return reading ? readBack(eepromIndex()) & 0xFF : kBlank;
    case kIncrement:
        incrementCounter();
        break;
    case kBulkSetup1:
    case kBulkSetup2:
    case kBulkEraseProgram:
    case kBulkEraseData:
        armErase(code, arm);
        break;
    case kBeginEraseProgram:
        beginEraseProgram(arm, nowUs);
        break;
    case kBeginProgramOnly:
        beginCycle(false, nowUs);
        break;
    case kChipErase:
        if (info_->aFamily) {
            startCycle(nowUs, times_.chipEraseUs);
            bulkErase(true, true, true);
            clearLatch();
        }
        break;
    default:
        break; // End Programming completes the cycle (above); any other code is ignored
    }
    return kBlank;
}

} // namespace sim
