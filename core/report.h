// One exchange's buffer, shared by every subsystem that talks to the TALMO:
// byte 0 report ID 0, byte 1 command letter, then the command's arguments
// (request) or results (answer).
#pragma once

#include <array>
#include <cstdint>

namespace talmo {

constexpr int kReportSize = 65; // report ID + 64 bytes
using Report = std::array<std::uint8_t, kReportSize>;

constexpr std::uint8_t kLetterBoot = 'B';

// The board version request, sent by the console's start sequence and by the
// programmer before it talks to the board: buffer as it was, byte 1 'B',
// byte 2 = 0.
inline void BuildBootRequest(Report& r) {
    r[0] = 0;
    r[1] = kLetterBoot;
    r[2] = 0;
}

} // namespace talmo
