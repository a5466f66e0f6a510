// The console's device-free logic: building each console request in the
// page's report buffer, and turning the device's answers into what the
// console page shows (texts, pictures, positions). Plain functions over plain
// structs; no widgets, no exceptions.
#pragma once

#include "core/report.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talmo {

using ConsoleReport = Report;

// Numeric identifiers of the console page's controls (dialog 130). The page's
// layout table places each one; the status decoding names its targets by them.
enum ConsoleControl : int {
    kCtlInputLevel2Slider = 1002, // second PWM input level, display only
    kCtlInputLevelSlider = 1003,  // PWM level set by the user
    kCtlOutputLevelSlider = 1004, // PWM output, display only
    kCtlInputLevel2Edit = 1005,
    kCtlInputLevelEdit = 1006,
    kCtlInputModePicture = 1007,    // AUTO/MANU switch
    kCtlOutputSwitchPicture = 1008, // ON/OFF switch of the output
    kCtlOutputLevelEdit = 1009,
    kCtlStartProtectText = 1010,
    kCtlVersionText = 1011,
    kCtlStopPicture = 1012, // STOP PROG sign
    kCtlPwmMaxText = 1013,
    kCtlMotorButton = 1014,
    kCtlIo1Text = 1017,
    kCtlKeyUp = 1019,
    kCtlKeyEsc = 1020,
    kCtlLcdTestButton = 1021,
    kCtlKeyRight = 1022,
    kCtlKeyLeft = 1023,
    kCtlKeyDown = 1024,
    kCtlFlashMakerText = 1025,
    kCtlKeyOk = 1026,
    kCtlUpdateButton = 1027,
    kCtlFlashTypeText = 1028,
    kCtlFlashSizeText = 1029,
    kCtlFlashFilesText = 1030,
    kCtlFlashDetailsButton = 1031,
    kCtlFlashProtectText = 1032,
    kCtlAxesText = 1033,
    kCtlTableText = 1034,
    kCtlLimitSwitchPicture = 1035,
    kCtlProbePicture = 1036,
    kCtlAccelText = 1037,
    kCtlFrequencyText = 1038,
    kCtlContactsText = 1039,
    kCtlMovesButton = 1040,
    kCtlProgrammerButton = 1041,
    kCtlAutoOnOffText = 1042,
    kCtlAutoBox = 1051,
    kCtlSignalInvertedBox = 1052,
    kCtlKeypadMissingText = 1054,
};

// ---------------------------------------------------------------- scales

// Device byte to percent, truncated: 0 -> 0, 128 -> 50, 255 -> 100.
int Pct(std::uint8_t v);
// Percent to device byte: 0 or less -> 0, 1..100 -> p * 255 / 100 + 1
// clipped to 255; above 100 counts as 100. A value shown with Pct and sent
// back settles after one pass.
std::uint8_t PercentToByte(int p);
// The edit's text to an integer the way atoi reads it (leading blanks, an
// optional sign, digits up to the first non-digit, 0 when there are none),
// reading at most the first 19 characters and saturating instead of
// overflowing.
int ParseEditNumber(std::string_view text);
// "%3d" of Pct(v), as the PWM edits show it.
std::string PercentText(std::uint8_t v);

// ---------------------------------------------------------------- requests
// Each sets only the bytes its command uses; the rest of the buffer stays as
// the previous exchange left it, unless said otherwise.

constexpr std::uint8_t kLetterVersion = 'V';
constexpr std::uint8_t kLetterFlash = 'F';
constexpr std::uint8_t kLetterTable = 'T';
constexpr std::uint8_t kLetterStatus = 'I';
constexpr std::uint8_t kLetterPwm = 'P';
constexpr std::uint8_t kLetterMotors = 'M';
constexpr std::uint8_t kLetterLcd = 'L';
constexpr std::uint8_t kLetterJump = 'Z';

void BuildVersionRequest(ConsoleReport& r);                 // 'V'
void BuildFlashRequest(ConsoleReport& r);                   // 'F'
void BuildTableRequest(ConsoleReport& r, std::uint8_t sub); // 'T', byte 2 = 0 or 3
// The status poll: whole buffer cleared, then 'I'.
void BuildStatusRequest(ConsoleReport& r);
// The edit's focus-loss refresh: 'I' without clearing the buffer.
void BuildRefreshRequest(ConsoleReport& r);
void BuildPwmQuery(ConsoleReport& r); // 'P', byte 2 = 2
// The second 'P': the first answer with byte 3 = v.
void SetPwmValue(ConsoleReport& r, std::uint8_t v);
void BuildMotorQuery(ConsoleReport& r); // 'M', byte 2 = 2
// The second 'M', from the first answer's motor state (its byte 2):
// 1 when the motors were off, 0 when they were on.
void BuildMotorSwitch(ConsoleReport& r, std::uint8_t currentState);
void BuildLcdCommand(ConsoleReport& r, std::uint8_t sub); // 'L', byte 2 = 2, 5 or 3
// 'L' write of the characters at line/column (byte 4 their count, byte 5
// onwards the characters, then a NUL when written as text). Returns false
// (buffer untouched) for an empty text or one that leaves the 2 x 20 display.
bool BuildLcdWrite(ConsoleReport& r, int line, int column, std::string_view chars, bool asText);
// 'Z' 'U' 0xAA 1: restart in the boot loader.
void BuildJumpRequest(ConsoleReport& r);

// ---------------------------------------------------------------- answers

// The 'V' answer's text from byte 2, ending at a NUL or at the end of the
// buffer; bytes outside printable ASCII are shown as '?'.
std::string VersionText(const ConsoleReport& answer);
// The version read from the digits x, y, z of "TALMO Vx.yz" (bytes 9, 11,
// 12) as the number xyz: 22 for 0.22.
int VersionNumber(const ConsoleReport& answer);
constexpr int kMinimumVersion = 22;
bool FirmwareTooOld(const ConsoleReport& answer);
// The box shown for too old a firmware.
std::string TooOldMessage();
inline constexpr const char* kTooOldCaption = "Version TALMO";

// The four flash texts (manufacturer, type, size, protection).
struct FlashTexts {
    std::string manufacturer;
    std::string type;
    std::string size;
    std::string protection;
};
inline constexpr const char* kNotDetected = "Non détecté";
FlashTexts DecodeFlash(const ConsoleReport& answer);
// The size text of a JEDEC capacity code (the chip holds 2^code bytes).
std::string FlashSizeText(std::uint8_t code);

// The configuration table's texts, from the second 'T' answer.
struct TableTexts {
    std::string name;            // kCtlTableText
    std::string axes;            // kCtlAxesText
    std::string pwmMax;          // kCtlPwmMaxText
    std::string accel;           // kCtlAccelText
    std::string frequency;       // kCtlFrequencyText
    std::string contacts;        // kCtlContactsText
    std::string autoOnOff;       // kCtlAutoOnOffText
    bool signalInverted = false; // kCtlSignalInvertedBox
};
TableTexts DecodeTable(const ConsoleReport& answer);
// The two characters of one axis code ("--" for an unknown code).
std::string AxisText(std::uint8_t code);

// ---------------------------------------------------------------- status

// The machine's state as one 'I' answer gives it.
struct LiveStatus {
    bool outputEnabled = false;   // byte 7 bit 4: the PWM output is driven
    bool motorsOn = false;        // byte 7 bit 6
    bool manualInput = false;     // byte 8 bit 0: the AUTO/MANU switch at MANU
    bool limitSwitchOpen = false; // byte 8 bit 1: the limit switches' chain
    bool probeOpen = false;       // byte 8 bit 2: the probes' chain
    bool outputSwitchOff = false; // byte 8 bit 3: the output's ON/OFF switch at OFF
    bool io1 = false;             // byte 8 bit 4
    bool stopLit = false;         // byte 8 bit 5: the STOP PROG sign
    std::uint8_t inputLevel = 0;  // byte 9: the PWM level set over USB
    std::uint8_t inputLevel2 = 0; // byte 10: the second PWM input
    bool keypadMissing = false;   // byte 11: bits 2 and 3 both set
    struct Keys {
        bool up = false, down = false, left = false, right = false; // bits 6, 5, 4, 7
        bool esc = false, ok = false;                               // bits 0, 1
    } keys;
};
LiveStatus DecodeStatus(const ConsoleReport& answer);

// The output's level: 0 while it is not driven, else the level of the
// measured input (at MANU) or the level set over USB.
std::uint8_t OutputLevel(const LiveStatus& s);
// The start protection holds the output: not driven, or its switch at OFF.
bool StartProtection(const LiveStatus& s);

// Everything the console knows of the machine: what the start sequence read
// (a field left empty was not answered) and the last status answer.
struct MachineStatus {
    std::optional<std::string> version; // the 'V' answer's text
    bool tooOld = false;                // the start sequence stopped there
    std::optional<FlashTexts> flash;
    std::optional<TableTexts> table;
    std::optional<LiveStatus> live;
};

// One change to one control, as the page applies them in order.
struct DisplayItem {
    enum Kind {
        Text,
        Picture,
        Position,
        Visible
    };
    int control = 0;
    Kind kind = Text;
    std::string text;             // Text
    int value = 0;                // Picture: picture number; Position: 0..100; Visible: 0 or 1
    bool skipWhenFocused = false; // not written while the control has the focus
};

// What the page shows of a status answer, in display order.
std::vector<DisplayItem> StatusDisplay(const LiveStatus& s);

// The status cache: the last 'I' answer displayed.
struct StatusCache {
    ConsoleReport bytes{};
    // Every answer has 0 in byte 0, so after this the next one is shown in full.
    void invalidate() { bytes[0] = 0xFF; }
    // True (and the cache updated) when the answer differs from the last one shown.
    bool update(const ConsoleReport& answer);
};

// The LCD test's display: two lines of twenty characters.
constexpr int kLcdLines = 2;
constexpr int kLcdColumns = 20;

} // namespace talmo
