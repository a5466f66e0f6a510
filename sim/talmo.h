// A virtual TALMO: its normal-mode firmware, its boot loader, the machine it
// serves and the VELKOR board's PIC behind it.
//
// Usage:
//   talmo::VirtualClock clock;
//   sim::VirtualUsb bus(clock);
//   auto dev = std::make_unique<sim::Talmo>();          // normal mode, PIC16F876A with board firmware
//   dev->machine().motorsOn = true;                     // machine state shown by 'I'
//   dev->setFirmwareVersion("TALMO V0.21");             // what normal-mode 'V' answers
//   sim::Talmo* t = dev.get();
//   int id = bus.plug(std::move(dev));                  // arrival of "/dev/vhidrawN"
//   ... the program talks to bus.interfaces()[0].path ...
//   EXPECT_EQ(t->log().count('Y'), 13u);
//   EXPECT_EQ(t->lcdLine(0), "TALMO               ");
//   t->setPic(sim::Pic(sim::PicChip::F877, 3));          // another chip (blank); sim::LoadBoardFirmware(*t->pic())
//   t->removePic();                                     // a board without PIC: every read gives 0x3FFF
//   t->faults().silentFrom = t->nextExchange() + 2;     // stops answering two requests from now
//   t->pic()->setStrictTiming(true);                    // cycles cut short leave cells unchanged
//                                                       // (set it again after setPic())
//   t->pic()->setConfigWord(0x0F42);                    // a code-protected PIC
//   t->pic()->stickBit(0x0123, 2, false);               // a worn cell
//   t->faults().refuseProgramBlockAt = 0x1340;          // the boot loader refuses that block
//
// Every answer starts as a copy of its request (the firmware answers in the
// buffer it received); the command then writes its result bytes. Requests
// that this firmware does not know get no answer.
//
// Normal mode (product 0x00AA):
//   'B'  answered, nothing else (byte 2 = 0).
//   'V'  bytes 2.. = the NUL-terminated text stored at 0x130C of the
//        application area (up to 63 bytes), so a firmware update shows here.
//   'F'  bytes 2-5 = flash manufacturer, type, size code, protection.
//   'T'  byte 2 = 3: bytes 4-11 table name, 12-16 axis codes, 27 frequency
//        (tens of kHz), 28 acceleration, 29 PWM maximum, 30 off-time (s),
//        31 flags; other bytes 17-26 are 0. Any other byte 2: answered, nothing else.
//   'I'  bytes 7-11 = status (see statusBytes()).
//   'P'  PWM level set by USB (the first PWM row, 'I' byte 9):
//          byte 2 = 2  query: answer byte 2 = 1, byte 3 = the current level;
//          byte 2 = 1  set the level to byte 3; answer byte 2 = 1, byte 3 = the level.
//        So the second request, the first answer with byte 3 = v, means "set v".
//        Other byte 2 values: answered, nothing changes.
//   'M'  byte 2 = 2 query: answer byte 2 = 1 if the motors are on, else 0;
//        byte 2 = 1 motors on, byte 2 = 0 motors off (answer byte 2 = new state).
//   'L'  the 2 x 20 LCD. Byte 2 = 2: the USB takes the display over from the
//        machine; 5: clear it to spaces; 0 or 1: write byte 4 characters from
//        byte 5 on line byte 2 from column byte 3 (cut at column 20; a NUL ends
//        the text early); 3: give the display back (its text stays as left).
//        Other byte 2 values: answered, nothing changes.
//   'Z'  bytes 2-4 = 'U', 0xAA, 1: no answer; restarts in the boot loader
//        (re-enumeration). Other bytes: answered with byte 2 = 0, nothing else.
//   'Y'  byte 2 = 0 enter / 1 leave programming mode, 2 send command byte 3
//        and read a word (answer bytes 2-3, high first), 3 send command byte 3,
//        4 send command byte 3 and load bytes 4-5. Other byte 2: answered only.
//
// Boot-loader mode (product 0x00A9):
//   'V'  bytes 2.. = boot-loader version text, NUL-terminated.
//   'R'  byte 2 = 1 program memory, 0 EEPROM; bytes 3-4 = address; bytes 5-36
//        = 32 bytes from there. Addresses in the boot-loader area (below
//        0x1300) or past the end get no answer.
//   'W'  program memory is flash in 64-byte rows: byte 2 = 1 with a
//        row-aligned address erases the row and writes its first half; byte 2
//        = 2 with the address of the second half of the row just erased
//        (no other 'W' in between) writes that half. EEPROM: byte 2 = 0 with
//        bytes 3-4 = the address of the block's LAST byte (0x1F, 0x3F, ...).
//        Answer byte 2 = 1 written, 0 refused (bad flag, address or order,
//        boot-loader area, or a refusal fault).
//   'Z'  bytes 2-4 = 'U', 0xAA, 0: no answer; starts the application (re-enumeration).
//        Other bytes: answered with byte 2 = 0.
//
// Restarting (either direction) turns the motors off and the USB PWM level to
// 0 and ends the USB's hold on the LCD; memories, LCD text and the machine's
// inputs are kept.
#pragma once

#include "sim/exchange_log.h"
#include "sim/pic.h"
#include "sim/virtual_usb.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Live machine state, as 'I' reports it.
struct Machine {
    bool outputEnabled = true;     // byte 7 bit 4: PWM output driven
    bool motorsOn = false;         // byte 7 bit 6 (also switched by 'M')
    bool manual = false;           // byte 8 bit 0: AUTO/MANU switch at MANU
    bool limitSwitchesOpen = true; // byte 8 bit 1: limit-switch chain open
    bool probesOpen = true;        // byte 8 bit 2: probe chain open
    bool outputOff = false;        // byte 8 bit 3: output ON/OFF switch at OFF
    bool io1 = false;              // byte 8 bit 4
    bool stopProg = false;         // byte 8 bit 5: STOP PROG lit
    std::uint8_t pwmLevel = 0;     // byte 9: level set over USB ('P')
    std::uint8_t pwmInput = 0;     // byte 10: measured PWM input
    std::uint8_t keys = 0;         // byte 11: Key* bits of the keys held down
    bool keypadAbsent = false;     // byte 11 bits 2 and 3
};

enum Key : std::uint8_t {
    KeyEsc = 0x01,
    KeyOk = 0x02,
    KeyLeft = 0x10,
    KeyDown = 0x20,
    KeyUp = 0x40,
    KeyRight = 0x80,
};

struct FlashChip {
    std::uint8_t manufacturer = 0x37; // AMIC; 0xFF: no chip
    std::uint8_t type = 0x30;
    std::uint8_t sizeCode = 21;
    std::uint8_t protectedFlag = 0;
};

struct ConfigTable {
    std::string name = "FRAISE3A"; // eight characters at most
    std::array<std::uint8_t, 5> axes{4, 8, 12, 0, 0};
    std::uint8_t frequency = 25; // tens of kHz
    std::uint8_t acceleration = 10;
    std::uint8_t pwmMax = 255;
    std::uint8_t offTimeS = 0;
    std::uint8_t flags = 0x01; // bit 0 contacts active, bit 2 on/off inverted
};

// Faults on request. Exchange numbers count the requests this device has
// received, from 1 (see nextExchange()); 0 means "never".
struct Faults {
    std::uint64_t silentAt = 0;    // that one request gets no answer
    std::uint64_t silentFrom = 0;  // no answer from that request on
    std::uint64_t wrongEchoAt = 0; // that answer carries wrongEchoLetter in byte 1
    std::uint8_t wrongEchoLetter = '?';
    std::uint64_t wrongAddressAt = 0; // that answer carries byte 4 (address, low byte) plus one
    std::uint64_t unplugAt = 0; // the device is pulled out as that request arrives (no answer)
    std::optional<std::uint16_t>
        refuseProgramBlockAt; // boot-loader 'W' of the block holding it is refused
    std::optional<std::uint8_t> refuseEepromBlockAt;
};

class Talmo {
public:
    enum class Mode {
        Normal,
        BootLoader
    };
    static constexpr std::uint16_t kVendorId = 0x04D8;
    static constexpr std::uint16_t kNormalProductId = 0x00AA;
    static constexpr std::uint16_t kBootLoaderProductId = 0x00A9;
    static constexpr std::uint32_t kFlashSize = 0x8000;
    static constexpr std::uint32_t kApplicationStart = 0x1300;
    static constexpr std::uint32_t kVersionAddress = 0x130C;
    static constexpr std::uint32_t kEepromSize = 0x100;

    // Normal mode, firmware "TALMO V0.23", a PIC16F876A (revision 7) loaded
    // with the board firmware.
    Talmo();

    // --- USB side.
    Mode mode() const { return mode_; }
    std::uint16_t productId() const {
        return mode_ == Mode::Normal ? kNormalProductId : kBootLoaderProductId;
    }
    // Switches mode as a restart would; a plugged device re-enumerates.
    void setMode(Mode m);
    // One request; the answer, or nothing. Called by VirtualUsb.
    std::optional<Report> exchange(const Report& request, std::int64_t nowUs);
    // True once after the unplug fault fired; VirtualUsb then unplugs the device.
    bool takeUnplugRequest();
    std::uint64_t exchangeCount() const { return exchanges_; }
    std::uint64_t nextExchange() const { return exchanges_ + 1; }

    // --- Firmware (boot-loader view of program memory and EEPROM).
    std::uint8_t flashByte(std::uint32_t address) const;
    void setFlashBytes(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    std::uint8_t eepromByte(std::uint32_t address) const;
    void setEepromByte(std::uint32_t address, std::uint8_t value);
    // Text at 0x130C (what normal-mode 'V' answers); set writes it NUL-terminated.
    std::string firmwareVersion() const;
    void setFirmwareVersion(const std::string& text);
    const std::string& bootLoaderVersion() const { return bootVersion_; }
    void setBootLoaderVersion(const std::string& text) { bootVersion_ = text; }

    // --- Normal-mode state.
    Machine& machine() { return machine_; }
    const Machine& machine() const { return machine_; }
    // 'I' bytes 7 to 11 for the current machine state.
    std::array<std::uint8_t, 5> statusBytes() const;
    FlashChip& flash() { return flash_; }
    ConfigTable& table() { return table_; }
    // The LCD: two lines of 20 characters.
    std::string lcdLine(int line) const;
    bool lcdHeldByUsb() const { return lcdHeld_; }

    // --- The board's PIC (none: every 'Y' read gives 0x3FFF).
    Pic* pic() { return pic_ ? &*pic_ : nullptr; }
    void setPic(const Pic& pic) { pic_ = pic; }
    void removePic() { pic_.reset(); }

    Faults& faults() { return faults_; }
    ExchangeLog& log() { return log_; }

private:
    std::optional<Report> answerNormal(const Report& req, std::int64_t nowUs);
    std::optional<Report> answerBootLoader(const Report& req, std::int64_t nowUs);
    // Parts of the answers: 'T' byte 2 = 3, 'L', 'Y' and the boot loader's 'W'.
    void putTable(Report& a) const;
    void lcdRequest(const Report& req);
    void targetRequest(Report& a, const Report& req, std::int64_t nowUs);
    bool writeBlock(const Report& req, std::uint32_t address);
    void restart(Mode m, std::int64_t nowUs);

    Mode mode_ = Mode::Normal;
    std::vector<std::uint8_t> flash_mem_;
    std::array<std::uint8_t, kEepromSize> eeprom_{};
    std::string bootVersion_ = "TALMO BOOT V1.02";
    Machine machine_;
    FlashChip flash_;
    ConfigTable table_;
    std::array<std::array<char, 20>, 2> lcd_{};
    bool lcdHeld_ = false;
    std::optional<Pic> pic_;
    int erasedRow_ = -1; // row erased by the last 'W' with flag 1, waiting for its second half
    Faults faults_;
    ExchangeLog log_;
    std::uint64_t exchanges_ = 0;
    bool unplugRequested_ = false;
};

} // namespace sim
