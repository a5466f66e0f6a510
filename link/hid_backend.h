// What the device link needs from the platform's HID services, and nothing more:
// the list of present HID interfaces, opening one twice (a read handle whose
// reads time out, a blocking write handle), and arrival/removal events carrying
// the interface path. One file per platform implements it (Linux: hidapi's
// hidraw library and libudev), plus one on the device emulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talmo {

struct HidInterfaceInfo {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // Report lengths with the report ID byte included (65 for the TALMO).
    std::uint16_t inputReportLength = 0;
    std::uint16_t outputReportLength = 0;
};

struct HidDeviceEvent {
    enum Kind {
        Arrival,
        Removal
    } kind = Arrival;
    std::string path; // the interface path that arrived or left
};

enum class HidOpenError {
    None,
    NotFound,
    PermissionDenied,
    Busy, // another program holds the device
    Other
};

class HidHandle {
public:
    virtual ~HidHandle() = default;
    // Sends one output report (buf[0] is the report ID). Returns the bytes
    // taken, or -1.
    virtual int write(const std::uint8_t* buf, std::size_t len) = 0;
    // Waits at most timeoutMs for one input report and stores it with the
    // report ID in buf[0] (0 for unnumbered reports). Returns the bytes stored
    // (report ID included), 0 on time-out, -1 on failure. Never stores more
    // than len bytes; on 0 or -1 the buffer is left as it was.
    virtual int read(std::uint8_t* buf, std::size_t len, int timeoutMs) = 0;
};

class HidBackend {
public:
    virtual ~HidBackend() = default;

    // Present HID interfaces, in the system's enumeration order.
    virtual std::vector<HidInterfaceInfo> enumerate() = 0;
    // Opens a path; on failure returns null and says why in *error. A device
    // is one program's at a time: while another program has it open, the
    // open fails with Busy (the handles of one backend share the device).
    virtual std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) = 0;

    // Starts watching arrivals and removals. Events are collected by the
    // backend and handed over by takeEvents(); eventFd() becomes readable
    // when some are waiting (-1 when the backend has no descriptor, then the
    // owner polls takeEvents()).
    virtual bool startEvents() = 0;
    virtual int eventFd() const = 0;
    virtual std::vector<HidDeviceEvent> takeEvents() = 0;
};

} // namespace talmo
