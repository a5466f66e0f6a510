#include "sim/talmo.h"

#include "sim/board_firmware.h"

#include <cstdint>

namespace sim {

namespace {

constexpr std::size_t kDataOffset = 5;
constexpr std::uint32_t kBlockSize = 32;
constexpr std::uint32_t kRowSize = 64;

bool IsJump(const Report& r, std::uint8_t target) {
    return r[2] == 'U' && r[3] == 0xAA && r[4] == target;
}

// A version text from byte 2 on, NUL-terminated, cut to fit the report.
void PutText(Report& a, const std::string& text) {
    std::size_t i = 2;
    for (char c : text) {
        if (i >= a.size() - 1)
            break;
        a[i++] = static_cast<std::uint8_t>(c);
    }
    a[i] = 0;
}

} // namespace

Talmo::Talmo() : flash_mem_(kFlashSize, 0xFF) {
    // Boot loader and application: code-like bytes, unused flash left erased.
    std::uint32_t s = 0x7A1B0C2Du;
    for (std::uint32_t a = 0; a < 0x6000; ++a) {
        s = s * 1103515245u + 12345u;
        flash_mem_[a] = static_cast<std::uint8_t>(s >> 16);
    }
    setFirmwareVersion("TALMO V0.23");
    eeprom_.fill(0xFF);
    for (std::uint32_t e = 0; e < 0x40; ++e)
        eeprom_[e] = static_cast<std::uint8_t>(e * 7 + 1);
    for (auto& line : lcd_)
        line.fill(' ');
    pic_.emplace(PicChip::F876A, 7);
    LoadBoardFirmware(*pic_);
}

void Talmo::setMode(Mode m) { restart(m, INT64_MAX); }

void Talmo::restart(Mode m, std::int64_t nowUs) {
    mode_ = m;
    machine_.motorsOn = false;
    machine_.pwmLevel = 0;
    lcdHeld_ = false;
    erasedRow_ = -1;
    if (pic_)
        pic_->leaveProgramming(nowUs);
}

bool Talmo::takeUnplugRequest() {
    const bool r = unplugRequested_;
    unplugRequested_ = false;
    return r;
}

std::uint8_t Talmo::flashByte(std::uint32_t address) const {
    return address < kFlashSize ? flash_mem_[address] : 0xFF;
}

void Talmo::setFlashBytes(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size() && address + i < kFlashSize; ++i)
        flash_mem_[address + i] = bytes[i];
}

std::uint8_t Talmo::eepromByte(std::uint32_t address) const {
    return address < kEepromSize ? eeprom_[address] : 0xFF;
}

void Talmo::setEepromByte(std::uint32_t address, std::uint8_t value) {
    if (address < kEepromSize)
        eeprom_[address] = value;
}

std::string Talmo::firmwareVersion() const {
    std::string s;
    for (std::uint32_t a = kVersionAddress; a < kFlashSize && flash_mem_[a] != 0 && s.size() < 63;
         ++a)
        s += static_cast<char>(flash_mem_[a]);
    return s;
}

void Talmo::setFirmwareVersion(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    setFlashBytes(kVersionAddress, bytes);
}

std::array<std::uint8_t, 5> Talmo::statusBytes() const {
    const Machine& m = machine_;
    std::array<std::uint8_t, 5> b{};
    b[0] = static_cast<std::uint8_t>((m.outputEnabled ? 0x10 : 0) | (m.motorsOn ? 0x40 : 0));
    b[1] = static_cast<std::uint8_t>((m.manual ? 0x01 : 0) | (m.limitSwitchesOpen ? 0x02 : 0) |
                                     (m.probesOpen ? 0x04 : 0) | (m.outputOff ? 0x08 : 0) |
                                     (m.io1 ? 0x10 : 0) | (m.stopProg ? 0x20 : 0));
    b[2] = m.pwmLevel;
    b[3] = m.pwmInput;
    b[4] = static_cast<std::uint8_t>((m.keys & 0xF3) | (m.keypadAbsent ? 0x0C : 0));
    return b;
}

std::string Talmo::lcdLine(int line) const {
    if (line < 0 || line > 1)
        return {};
    return std::string(lcd_[static_cast<std::size_t>(line)].data(), 20);
}

std::optional<Report> Talmo::exchange(const Report& request, std::int64_t nowUs) {
    const std::uint64_t n = ++exchanges_;
    std::optional<Report> answer;
    if (faults_.unplugAt != 0 && n == faults_.unplugAt) {
        unplugRequested_ = true;
    } else {
        answer =
            mode_ == Mode::Normal ? answerNormal(request, nowUs) : answerBootLoader(request, nowUs);
        const bool silent =
            n == faults_.silentAt || (faults_.silentFrom != 0 && n >= faults_.silentFrom);
        if (silent)
            answer.reset();
        if (answer && n == faults_.wrongEchoAt)
            (*answer)[1] = faults_.wrongEchoLetter;
        if (answer && n == faults_.wrongAddressAt)
            ++(*answer)[4];
    }
    log_.record(nowUs, request, answer);
    return answer;
}

void Talmo::putTable(Report& a) const {
    for (std::size_t i = 4; i <= 31; ++i)
        a[i] = 0;
    for (std::size_t i = 0; i < 8 && i < table_.name.size(); ++i)
        a[4 + i] = static_cast<std::uint8_t>(table_.name[i]);
    for (std::size_t i = 0; i < 5; ++i)
        a[12 + i] = table_.axes[i];
    a[27] = table_.frequency;
    a[28] = table_.acceleration;
    a[29] = table_.pwmMax;
    a[30] = table_.offTimeS;
    a[31] = table_.flags;
}

void Talmo::lcdRequest(const Report& req) {
    if (req[2] == 2) {
        lcdHeld_ = true;
    } else if (req[2] == 3) {
        lcdHeld_ = false;
    } else if (req[2] == 5) {
        for (auto& line : lcd_)
            line.fill(' ');
    } else if (req[2] <= 1) {
        auto& line = lcd_[req[2]];
        const std::size_t count = req[4];
        for (std::size_t k = 0; k < count && kDataOffset + k < req.size(); ++k) {
            const std::size_t col = req[3] + k;
            const std::uint8_t c = req[kDataOffset + k];
            if (col >= line.size() || c == 0)
                break;
            line[col] = static_cast<char>(c);
        }
    }
}

// The target commands by their own numbers (0 enter, 1 leave, 2 read, 3
// command, 4 load), kept here apart from programmer/target_commands.h on
// purpose: the emulator is an independent model of the board.
void Talmo::targetRequest(Report& a, const Report& req, std::int64_t nowUs) {
    const std::uint8_t sub = req[2];
    const std::uint8_t code = req[3];
    if (!pic_) {
        if (sub == 2) {
            a[2] = 0x3F;
            a[3] = 0xFF;
        }
        return;
    }
    switch (sub) {
    case 0:
        pic_->enterProgramming(nowUs);
        break;
    case 1:
        pic_->leaveProgramming(nowUs);
        break;
    case 2: {
        const std::uint16_t w = pic_->serial(code, PicTransfer::Read, 0, nowUs);
        a[2] = static_cast<std::uint8_t>(w >> 8);
        a[3] = static_cast<std::uint8_t>(w & 0xFF);
        break;
    }
    case 3:
        pic_->serial(code, PicTransfer::None, 0, nowUs);
        break;
    case 4:
        pic_->serial(code, PicTransfer::Load, static_cast<std::uint16_t>(req[4] << 8 | req[5]),
                     nowUs);
        break;
    default:
        break;
    }
}

std::optional<Report> Talmo::answerNormal(const Report& req, std::int64_t nowUs) {
    Report a = req;
    a[0] = 0;
    switch (req[1]) {
    case 'B':
        a[2] = 0;
        return a;
    case 'V':
        PutText(a, firmwareVersion());
        return a;
    case 'F':
        a[2] = flash_.manufacturer;
        a[3] = flash_.type;
        a[4] = flash_.sizeCode;
        a[5] = flash_.protectedFlag;
        return a;
    case 'T':
        if (req[2] == 3)
            putTable(a);
        return a;
    case 'I': {
        const auto s = statusBytes();
        for (std::size_t i = 0; i < 5; ++i)
            a[7 + i] = s[i];
        return a;
    }
    case 'P':
        if (req[2] == 1)
            machine_.pwmLevel = req[3];
        if (req[2] == 1 || req[2] == 2) {
            a[2] = 1;
            a[3] = machine_.pwmLevel;
        }
        return a;
    case 'M':
        if (req[2] == 0 || req[2] == 1)
            machine_.motorsOn = req[2] == 1;
        if (req[2] <= 2)
            a[2] = machine_.motorsOn ? 1 : 0;
        return a;
    case 'L':
        lcdRequest(req);
        return a;
    case 'Z':
        if (IsJump(req, 1)) {
            restart(Mode::BootLoader, nowUs);
            return std::nullopt;
        }
        a[2] = 0;
        return a;
    case 'Y':
        targetRequest(a, req, nowUs);
        return a;
    default:
        return std::nullopt;
    }
}

// 'W': a program block (flag 1 erases its row first, flag 2 the row's
// second half) or an EEPROM block addressed by its last byte (flag 0).
bool Talmo::writeBlock(const Report& req, std::uint32_t address) {
    const std::uint8_t flag = req[2];
    bool ok = false;
    if (flag == 1 || flag == 2) {
        const bool inArea = address >= kApplicationStart && address + kBlockSize <= kFlashSize;
        const bool refused = faults_.refuseProgramBlockAt &&
                             *faults_.refuseProgramBlockAt >= address &&
                             *faults_.refuseProgramBlockAt < address + kBlockSize;
        if (inArea && !refused) {
            if (flag == 1 && address % kRowSize == 0) {
                for (std::uint32_t k = 0; k < kRowSize; ++k)
                    flash_mem_[address + k] = 0xFF;
                for (std::uint32_t k = 0; k < kBlockSize; ++k)
                    flash_mem_[address + k] &= req[kDataOffset + k];
                erasedRow_ = static_cast<int>(address);
                ok = true;
            } else if (flag == 2 && address % kRowSize == kBlockSize &&
                       erasedRow_ == static_cast<int>(address - kBlockSize)) {
                for (std::uint32_t k = 0; k < kBlockSize; ++k)
                    flash_mem_[address + k] &= req[kDataOffset + k];
                ok = true;
            }
        }
        if (!(ok && flag == 1))
            erasedRow_ = -1;
    } else if (flag == 0) {
        erasedRow_ = -1;
        const bool refused = faults_.refuseEepromBlockAt &&
                             *faults_.refuseEepromBlockAt <= address &&
                             *faults_.refuseEepromBlockAt + kBlockSize > address;
        if (address < kEepromSize && address % kBlockSize == kBlockSize - 1 && !refused) {
            const std::uint32_t first = address + 1 - kBlockSize;
            for (std::uint32_t k = 0; k < kBlockSize; ++k)
                eeprom_[first + k] = req[kDataOffset + k];
            ok = true;
        }
    } else {
        erasedRow_ = -1;
    }
    return ok;
}

std::optional<Report> Talmo::answerBootLoader(const Report& req, std::int64_t nowUs) {
    Report a = req;
    a[0] = 0;
    const std::uint32_t address = static_cast<std::uint32_t>(req[3] << 8 | req[4]);
    switch (req[1]) {
    case 'V':
        PutText(a, bootVersion_);
        return a;
    case 'R':
        if (req[2] == 1) {
            if (address < kApplicationStart || address + kBlockSize > kFlashSize)
                return std::nullopt;
            for (std::uint32_t k = 0; k < kBlockSize; ++k)
                a[kDataOffset + k] = flash_mem_[address + k];
        } else if (req[2] == 0) {
            if (address + kBlockSize > kEepromSize)
                return std::nullopt;
            for (std::uint32_t k = 0; k < kBlockSize; ++k)
                a[kDataOffset + k] = eeprom_[address + k];
        } else {
            return std::nullopt;
        }
        return a;
    case 'W':
        a[2] = writeBlock(req, address) ? 1 : 0;
        return a;
    case 'Z':
        if (IsJump(req, 0)) {
            restart(Mode::Normal, nowUs);
            return std::nullopt;
        }
        a[2] = 0;
        return a;
    default:
        return std::nullopt;
    }
}

} // namespace sim
