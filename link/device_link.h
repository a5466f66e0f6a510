// The device link: finds the TALMO (vendor 0x04D8, product 0x00AA in normal
// mode or 0x00A9 in its boot loader), opens it, follows plug and unplug, and
// exchanges 65-byte reports with a 500 ms answer time-out.
#pragma once

#include "core/report.h"
#include "link/hid_backend.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace talmo {

class Ui;

constexpr std::uint16_t kTalmoVendorId = 0x04D8;
constexpr std::uint16_t kTalmoProductId = 0x00AA;      // normal mode
constexpr std::uint16_t kBootLoaderProductId = 0x00A9; // boot loader
constexpr int kAnswerTimeoutMs = 500;
// A TALMO that is present but refused for lack of permission: shown in the
// connection field instead of the bare "not connected" text.
inline constexpr const char* kTextAccessDenied = "USB: TALMO présent, accès refusé";
// A TALMO that another program holds (one program on the device at a time):
// shown in the connection field while no TALMO could be opened.
inline constexpr const char* kTextBusy = "USB: TALMO utilisé par un autre programme";
// After an arrival, a refused device is tried again this many times, this far
// apart, while udev sets the node's permissions.
constexpr int kPermissionRetries = 5;
constexpr int kPermissionRetryMs = 100;

struct DeviceLink {
    HidBackend* backend = nullptr; // the platform's HID services
    Ui* ui = nullptr;              // connection texts go to its status field 0

    std::unique_ptr<HidHandle> readHandle; // connected while this is open
    std::unique_ptr<HidHandle> writeHandle;
    std::uint16_t productId = 0; // of the device last opened; kept after closing
    std::string devicePath;      // of the device last opened; kept after closing
    std::uint16_t inputReportLength = 0;
    std::uint16_t outputReportLength = 0;
    std::string deniedPath; // a TALMO refused for lack of permission, if any
    // Tried first by every search when not empty; the others follow in
    // enumeration order.
    std::string preferredPath;
    // A TALMO that another program holds, if any (when none could be opened).
    // Nothing tells when that program lets go: the owner tries OpenDevice
    // again from time to time while this is set.
    std::string busyPath;

    bool connected() const { return readHandle != nullptr; }
};

// Starts following arrivals and removals (the backend's events).
bool RegisterForDeviceEvents(DeviceLink& link);
// Closes, then opens the first matching device in enumeration order. True
// when both handles are open.
bool OpenDevice(DeviceLink& link);
// Closes what is open and shows "USB: TALMO non connecté".
void CloseDevice(DeviceLink& link);
// Arrival while closed: full search; removal of the kept path (any letter
// case): close.
void OnDeviceChange(DeviceLink& link, const HidDeviceEvent& event);

// Sends the first output-report-length bytes of the buffer.
void WriteReport(DeviceLink& link, const Report& report);
// Reads one input report into the buffer, waiting at most 500 ms. Returns
// the bytes received, or 0 (buffer untouched) when nothing came in time.
// Report lengths above 65 are clamped at open: never more than the buffer.
int ReadReport(DeviceLink& link, Report& report);
// The echo check: the exchange counts as answered when something was read
// and byte 1 holds the command letter.
bool EchoOk(int count, const Report& report, std::uint8_t letter);
// Write, read and echo check in one: the usual exchange (byte 0 is set to the
// report ID 0, byte 1 must hold the command letter).
bool Exchange(DeviceLink& link, Report& report);

} // namespace talmo
