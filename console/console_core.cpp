#include "console/console_core.h"

#include "core/picture_ids.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace talmo {

namespace {

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, fmt, args...);
    if (n < 0)
        return {};
    return std::string(buf, static_cast<std::size_t>(std::min<int>(n, sizeof buf - 1)));
}

// Device text: printable ASCII as it is, anything else as '?'.
std::string deviceText(const ConsoleReport& r, std::size_t from, std::size_t maxLen) {
    std::string out;
    for (std::size_t i = from; i < r.size() && i < from + maxLen; ++i) {
        std::uint8_t c = r[i];
        if (c == 0)
            break;
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return out;
}

bool bit(std::uint8_t byte, int n) { return (byte >> n) & 1u; }

} // namespace

// ---------------------------------------------------------------- scales

int Pct(std::uint8_t v) { return v * 100 / 255; }

std::uint8_t PercentToByte(int p) {
    if (p <= 0)
        return 0;
    if (p > 100)
        p = 100;
    return static_cast<std::uint8_t>(std::min(255, p * 255 / 100 + 1));
}

int ParseEditNumber(std::string_view text) {
    text = text.substr(0, std::min<std::size_t>(text.size(), 19));
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    constexpr long long limit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            value = limit;
    }
    if (negative)
        return value >= limit ? std::numeric_limits<int>::min() : static_cast<int>(-value);
    return value >= limit ? std::numeric_limits<int>::max() : static_cast<int>(value);
}

std::string PercentText(std::uint8_t v) { return format("%3d", Pct(v)); }

// ---------------------------------------------------------------- requests

namespace {
void command(ConsoleReport& r, std::uint8_t letter) {
    r[0] = 0;
    r[1] = letter;
}
} // namespace

void BuildVersionRequest(ConsoleReport& r) { command(r, kLetterVersion); }

void BuildFlashRequest(ConsoleReport& r) { command(r, kLetterFlash); }

void BuildTableRequest(ConsoleReport& r, std::uint8_t sub) {
    command(r, kLetterTable);
    r[2] = sub;
}

void BuildStatusRequest(ConsoleReport& r) {
    r.fill(0);
    r[1] = kLetterStatus;
}

void BuildRefreshRequest(ConsoleReport& r) { command(r, kLetterStatus); }

void BuildPwmQuery(ConsoleReport& r) {
    command(r, kLetterPwm);
    r[2] = 2;
}

void SetPwmValue(ConsoleReport& r, std::uint8_t v) { r[3] = v; }

void BuildMotorQuery(ConsoleReport& r) {
    command(r, kLetterMotors);
    r[2] = 2;
}

void BuildMotorSwitch(ConsoleReport& r, std::uint8_t currentState) {
    command(r, kLetterMotors);
    r[2] = currentState == 0 ? 1 : 0;
}

void BuildLcdCommand(ConsoleReport& r, std::uint8_t sub) {
    command(r, kLetterLcd);
    r[2] = sub;
}

bool BuildLcdWrite(ConsoleReport& r, int line, int column, std::string_view chars, bool asText) {
    if (line < 0 || line >= kLcdLines || column < 0 || column >= kLcdColumns || chars.empty() ||
        chars.size() > static_cast<std::size_t>(kLcdColumns - column))
        return false;
    command(r, kLetterLcd);
    r[2] = static_cast<std::uint8_t>(line);
    r[3] = static_cast<std::uint8_t>(column);
    r[4] = static_cast<std::uint8_t>(chars.size());
    std::size_t i = 0;
    for (; i < chars.size(); ++i)
        r[5 + i] = static_cast<std::uint8_t>(chars[i]);
    if (asText)
        r[5 + i] = 0; // at most byte 25: always inside the buffer
    return true;
}

void BuildJumpRequest(ConsoleReport& r) {
    command(r, kLetterJump);
    r[2] = 'U';
    r[3] = 0xAA;
    r[4] = 1;
}

// ---------------------------------------------------------------- answers

std::string VersionText(const ConsoleReport& answer) {
    return deviceText(answer, 2, answer.size());
}

int VersionNumber(const ConsoleReport& answer) {
    // 5328 is 111 times '0': the three digit characters read as one number.
    return 100 * answer[9] + 10 * answer[11] + answer[12] - 5328;
}

bool FirmwareTooOld(const ConsoleReport& answer) { return VersionNumber(answer) < kMinimumVersion; }

std::string TooOldMessage() {
    // Written from integers: the desktop's locale may put a decimal comma in
    // a formatted float, and the box must read 0.22 everywhere.
    return "La version du firmware d'TALMO est trop ancienne.\nVersion minimum: " +
           format("%d.%02d", kMinimumVersion / 100, kMinimumVersion % 100);
}

std::string FlashSizeText(std::uint8_t code) {
    // The capacity code is the base-2 logarithm of the size in bytes.
    if (code >= 20 && code <= 30) // 1 Mo .. 1024 Mo
        return format("%d Mo (%d Mbit)", 1 << (code - 20), 1 << (code - 17));
    if (code >= 10 && code < 20) // 1 Ko .. 512 Ko
        return format("%d Ko (%d Kbit)", 1 << (code - 10), 1 << (code - 7));
    return format("Inconnue (code 0x%02X)", code);
}

FlashTexts DecodeFlash(const ConsoleReport& answer) {
    if (answer[2] == 0xFF)
        return {kNotDetected, kNotDetected, kNotDetected, kNotDetected};
    FlashTexts t;
    t.manufacturer = answer[2] == 0x37 ? std::string("AMIC") : format("0x%02X", answer[2]);
    t.type = format("0x%02X", answer[3]);
    t.size = FlashSizeText(answer[4]);
    t.protection = answer[5] != 0 ? "Oui" : "Non";
    return t;
}

std::string AxisText(std::uint8_t code) {
    struct Axis {
        std::uint8_t code;
        char first, second;
    };
    static constexpr Axis axes[] = {
        {4, 'X', ' '},  {5, 'X', 'G'},  {6, 'X', 'D'},  {8, 'Y', ' '},  {9, 'Y', 'G'},
        {10, 'Y', 'D'}, {12, 'Z', ' '}, {13, 'Z', 'G'}, {14, 'Z', 'D'}, {16, 'A', ' '},
        {17, 'B', ' '}, {18, 'C', ' '}, {32, 'R', ' '}, {33, 'R', 'X'}, {34, 'R', 'Y'},
        {35, 'R', 'Z'}, {48, 'U', ' '}, {49, 'V', ' '}, {50, 'W', ' '},
    };
    for (const Axis& a : axes)
        if (a.code == code)
            return {a.first, a.second};
    return "--";
}

TableTexts DecodeTable(const ConsoleReport& answer) {
    TableTexts t;
    t.name = deviceText(answer, 4, 8);
    for (int i = 0; i < 5; ++i) {
        if (i > 0)
            t.axes.push_back(',');
        t.axes += AxisText(answer[12 + i]);
    }
    t.pwmMax = format("%3d %%", Pct(answer[29]));
    t.accel = format("%d", answer[28]);
    t.frequency = format("%d0kHz", answer[27]);
    t.contacts = bit(answer[31], 0) ? "Actifs" : "Inactifs";
    t.autoOnOff =
        answer[30] == 0 ? std::string("Désactivé") : format("on=0.5s, off=%ds", answer[30]);
    t.signalInverted = bit(answer[31], 2);
    return t;
}

// ---------------------------------------------------------------- status

LiveStatus DecodeStatus(const ConsoleReport& a) {
    const std::uint8_t b7 = a[7], b8 = a[8], b11 = a[11];
    LiveStatus s;
    s.outputEnabled = bit(b7, 4);
    s.motorsOn = bit(b7, 6);
    s.manualInput = bit(b8, 0);
    s.limitSwitchOpen = bit(b8, 1);
    s.probeOpen = bit(b8, 2);
    s.outputSwitchOff = bit(b8, 3);
    s.io1 = bit(b8, 4);
    s.stopLit = bit(b8, 5);
    s.inputLevel = a[9];
    s.inputLevel2 = a[10];
    s.keypadMissing = (b11 & 0x0C) == 0x0C;
    s.keys = {bit(b11, 6), bit(b11, 5), bit(b11, 4), bit(b11, 7), bit(b11, 0), bit(b11, 1)};
    return s;
}

std::uint8_t OutputLevel(const LiveStatus& s) {
    if (!s.outputEnabled)
        return 0;
    return s.manualInput ? s.inputLevel2 : s.inputLevel;
}

bool StartProtection(const LiveStatus& s) { return !s.outputEnabled || s.outputSwitchOff; }

namespace {

DisplayItem textItem(int control, std::string text, bool skipWhenFocused = false) {
    return {control, DisplayItem::Text, std::move(text), 0, skipWhenFocused};
}
DisplayItem pictureItem(int control, int picture) {
    return {control, DisplayItem::Picture, {}, picture, false};
}
DisplayItem positionItem(int control, int position, bool skipWhenFocused = false) {
    return {control, DisplayItem::Position, {}, position, skipWhenFocused};
}
int keyPicture(bool pressed, bool square) {
    if (square)
        return pressed ? kPictureSquareDown : kPictureSquareUp;
    return pressed ? kPictureDiamondDown : kPictureDiamondUp;
}
int contactPicture(bool open) { return open ? kPictureContactOpen : kPictureContactClosed; }

} // namespace

std::vector<DisplayItem> StatusDisplay(const LiveStatus& s) {
    // The output shows 0 (not "  0") while it is not driven.
    const std::uint8_t output = OutputLevel(s);
    return {
        textItem(kCtlIo1Text, s.io1 ? "1" : "0"),
        pictureItem(kCtlStopPicture, s.stopLit ? kPictureStopLit : kPictureStopDim),
        pictureItem(kCtlOutputSwitchPicture,
                    s.outputSwitchOff ? kPictureSwitchOff : kPictureSwitchOn),
        pictureItem(kCtlInputModePicture, s.manualInput ? kPictureSwitchManu : kPictureSwitchAuto),
        textItem(kCtlInputLevelEdit, PercentText(s.inputLevel), true),
        positionItem(kCtlInputLevelSlider, Pct(s.inputLevel), true),
        textItem(kCtlInputLevel2Edit, PercentText(s.inputLevel2)),
        positionItem(kCtlInputLevel2Slider, Pct(s.inputLevel2)),
        textItem(kCtlOutputLevelEdit, s.outputEnabled ? PercentText(output) : "0"),
        positionItem(kCtlOutputLevelSlider, Pct(output)),
        textItem(kCtlStartProtectText, StartProtection(s) ? "ON" : "OFF"),
        {kCtlKeypadMissingText, DisplayItem::Visible, {}, s.keypadMissing ? 1 : 0, false},
        pictureItem(kCtlKeyLeft, keyPicture(s.keys.left, false)),
        pictureItem(kCtlKeyDown, keyPicture(s.keys.down, false)),
        pictureItem(kCtlKeyUp, keyPicture(s.keys.up, false)),
        pictureItem(kCtlKeyRight, keyPicture(s.keys.right, false)),
        pictureItem(kCtlKeyEsc, keyPicture(s.keys.esc, true)),
        pictureItem(kCtlKeyOk, keyPicture(s.keys.ok, true)),
        pictureItem(kCtlLimitSwitchPicture, contactPicture(s.limitSwitchOpen)),
        pictureItem(kCtlProbePicture, contactPicture(s.probeOpen)),
        pictureItem(kCtlMotorButton, s.motorsOn ? kPictureSwitchOn : kPictureSwitchOff),
    };
}

bool StatusCache::update(const ConsoleReport& answer) {
    if (answer == bytes)
        return false;
    bytes = answer;
    return true;
}

} // namespace talmo
