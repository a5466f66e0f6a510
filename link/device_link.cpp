#include "link/device_link.h"

#include "core/ui.h"

#include <algorithm>
#include <cctype>

namespace talmo {

namespace {

const char* const kTextConnected = "USB: TALMO connecté";
const char* const kTextBootLoader = "USB: TALMO Boot Loader connecté";
const char* const kTextNotConnected = "USB: TALMO non connecté";

void ShowConnection(DeviceLink& link, const std::string& text) {
    if (link.ui)
        link.ui->setStatusText(ConnectionField, text);
}

bool IsTalmo(const HidInterfaceInfo& info) {
    return info.vendorId == kTalmoVendorId &&
           (info.productId == kTalmoProductId || info.productId == kBootLoaderProductId);
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (std::tolower(ca) != std::tolower(cb))
            return false;
    }
    return true;
}

// Every exchange goes through the caller's 65-byte buffer. A device that
// declares longer reports is still opened, but never moves more than the
// buffer holds: its lengths are clamped to 65. The TALMO uses 65 in both
// directions; refusing such a device would leave the user with a device
// that is plugged in, answers, and yet reads "non connecté" with no reason.
std::uint16_t ClampLength(std::uint16_t declared) {
    return std::min<std::uint16_t>(declared, kReportSize);
}

struct SearchResult {
    bool opened = false;
    bool denied = false; // a TALMO is present but may not be opened
    std::string deniedPath;
    std::string busyPath; // a TALMO that another program holds
};

SearchResult SearchOnce(DeviceLink& link) {
    SearchResult result;
    std::vector<HidInterfaceInfo> present = link.backend->enumerate();
    if (!link.preferredPath.empty())
        std::stable_partition(present.begin(), present.end(), [&](const HidInterfaceInfo& info) {
            return info.path == link.preferredPath;
        });
    for (const HidInterfaceInfo& info : present) {
        if (!IsTalmo(info))
            continue; // other vendors and other products are skipped

        // Both handles or none: no page may work against a device it cannot
        // write to, so a half-open one counts as not connected (its read
        // handle is dropped) and the search goes on with the next interface.
        HidOpenError error = HidOpenError::None;
        std::unique_ptr<HidHandle> readHandle = link.backend->open(info.path, &error);
        std::unique_ptr<HidHandle> writeHandle;
        if (readHandle)
            writeHandle = link.backend->open(info.path, &error);
        if (!writeHandle) {
            if (error == HidOpenError::PermissionDenied && !result.denied) {
                result.denied = true;
                result.deniedPath = info.path;
            }
            if (error == HidOpenError::Busy && result.busyPath.empty())
                result.busyPath = info.path;
            continue;
        }

        link.productId = info.productId;
        link.devicePath = info.path;
        link.inputReportLength = ClampLength(info.inputReportLength);
        link.outputReportLength = ClampLength(info.outputReportLength);
        link.readHandle = std::move(readHandle);
        link.writeHandle = std::move(writeHandle);
        result.opened = true;
        return result;
    }
    return result;
}

bool Search(DeviceLink& link, int permissionRetries) {
    CloseDevice(link);
    link.deniedPath.clear();
    link.busyPath.clear();
    if (!link.backend)
        return false;

    SearchResult result = SearchOnce(link);
    // A device node that udev has not yet given to the user is refused for a
    // short while after its arrival; try again briefly before giving up.
    for (int attempt = 0; !result.opened && result.denied && attempt < permissionRetries;
         ++attempt) {
        if (link.ui)
            link.ui->waitMs(kPermissionRetryMs);
        result = SearchOnce(link);
    }

    if (result.opened) {
        ShowConnection(link, link.productId == kTalmoProductId ? kTextConnected : kTextBootLoader);
        return true;
    }
    if (result.denied) {
        link.deniedPath = result.deniedPath;
        ShowConnection(link, kTextAccessDenied);
    } else if (!result.busyPath.empty()) {
        link.busyPath = result.busyPath;
        ShowConnection(link, kTextBusy);
    }
    return false;
}

} // namespace

bool RegisterForDeviceEvents(DeviceLink& link) {
    return link.backend && link.backend->startEvents();
}

bool OpenDevice(DeviceLink& link) { return Search(link, 0); }

void CloseDevice(DeviceLink& link) {
    link.readHandle.reset();
    link.writeHandle.reset();
    ShowConnection(link, kTextNotConnected);
}

void OnDeviceChange(DeviceLink& link, const HidDeviceEvent& event) {
    switch (event.kind) {
    case HidDeviceEvent::Arrival:
        // Whatever arrived: a full search while closed, nothing while open
        // (a second device is ignored).
        if (!link.connected())
            Search(link, kPermissionRetries);
        break;
    case HidDeviceEvent::Removal: {
        // A refused or busy device that left must not leave its text behind,
        // nor be tried again (it may be the device last opened, too).
        const bool refusedLeft =
            !link.connected() &&
            ((!link.deniedPath.empty() && SameText(event.path, link.deniedPath)) ||
             (!link.busyPath.empty() && SameText(event.path, link.busyPath)));
        if (refusedLeft) {
            link.deniedPath.clear();
            link.busyPath.clear();
        }
        if (SameText(event.path, link.devicePath) && !link.devicePath.empty())
            CloseDevice(link);
        else if (refusedLeft)
            ShowConnection(link, kTextNotConnected);
        break;
    }
    }
}

void WriteReport(DeviceLink& link, const Report& report) {
    if (!link.writeHandle)
        return;
    // A failed write is not reported: the following read times out or
    // fails, and the echo check decides.
    const std::size_t length = std::min<std::size_t>(link.outputReportLength, report.size());
    if (length == 0)
        return;
    (void)link.writeHandle->write(report.data(), length);
}

int ReadReport(DeviceLink& link, Report& report) {
    if (!link.readHandle)
        return 0;
    const std::size_t length = std::min<std::size_t>(link.inputReportLength, report.size());
    if (length == 0)
        return 0;
    const int count = link.readHandle->read(report.data(), length, kAnswerTimeoutMs);
    return count > 0 ? std::min(count, static_cast<int>(length)) : 0;
}

bool EchoOk(int count, const Report& report, std::uint8_t letter) {
    return count > 0 && report[1] == letter;
}

bool Exchange(DeviceLink& link, Report& report) {
    report[0] = 0;
    const std::uint8_t letter = report[1];
    WriteReport(link, report);
    const int count = ReadReport(link, report);
    return EchoOk(count, report, letter);
}

} // namespace talmo
