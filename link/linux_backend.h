// The HID services on Linux: hidapi's hidraw library for enumeration, open,
// write and read with a time-out; libudev's monitor on the "hidraw"
// subsystem for arrivals and removals (eventFd() is the monitor's socket, to
// be watched from the user-interface thread's event loop).
//
// A device node is one program's at a time: open() takes an exclusive
// advisory lock (flock) on the node, shared by every handle this backend
// holds on it and released with the last of them; while another program
// holds it, open() fails with Busy.
//
// Report lengths come from the device's HID report descriptor in sysfs, plus
// one byte for the report ID. Byte 0 of every buffer is the report ID in both
// directions: for a device without numbered reports it is 0, even though
// hidraw hands such input reports over without it.
#pragma once

#include "link/hid_backend.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct udev;
struct udev_monitor;

namespace talmo {

struct ReportLengths {
    std::uint16_t input = 0;  // longest input report, report ID byte included
    std::uint16_t output = 0; // longest output report, report ID byte included
    bool numbered = false;    // the descriptor declares report IDs
    bool valid = false;       // the descriptor could be walked to its end
};

// Walks a HID report descriptor and finds its longest input and output
// reports. A report that the descriptor does not declare has length 0.
ReportLengths ParseReportDescriptor(const std::uint8_t* data, std::size_t size);

class LinuxBackend final : public HidBackend {
public:
    LinuxBackend();
    ~LinuxBackend() override;
    LinuxBackend(const LinuxBackend&) = delete;
    LinuxBackend& operator=(const LinuxBackend&) = delete;

    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) override;
    bool startEvents() override;
    int eventFd() const override;
    std::vector<HidDeviceEvent> takeEvents() override;

private:
    ReportLengths lengthsOf(const std::string& devnode);
    struct NodeLock;
    // The lock on a node, taken when no handle of ours holds it yet; null,
    // with *error set, when the node is another program's or will not open.
    std::shared_ptr<NodeLock> lockNode(const std::string& path, HidOpenError* error);

    std::map<std::string, std::weak_ptr<NodeLock>> locks_;

    bool hidReady_ = false;
    struct udev* udev_ = nullptr;
    struct udev_monitor* monitor_ = nullptr;
};

} // namespace talmo
