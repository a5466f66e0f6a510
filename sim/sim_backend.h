// The HID services on the device emulator's virtual bus: the link talks to
// virtual TALMOs exactly as it talks to real ones.
//
// Time: a read that gets no answer waits its whole time-out on the bus's
// clock, so a silent device costs 500 ms of virtual time and no real time.
//
// Events: takeEvents() drains the bus's arrivals and removals. eventFd() is
// an eventfd that is readable whenever the bus has events waiting; it is
// raised after every write (a request may switch the device's mode) and by
// plug()/unplug()/notify() below. Code that plugs devices on the VirtualUsb
// directly calls notify() afterwards, or simply polls takeEvents().
#pragma once

#include "link/hid_backend.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace sim {

class VirtualUsb;
class Talmo;

class SimBackend final : public talmo::HidBackend {
public:
    explicit SimBackend(VirtualUsb& usb);
    ~SimBackend() override;
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    std::vector<talmo::HidInterfaceInfo> enumerate() override;
    std::unique_ptr<talmo::HidHandle> open(const std::string& path,
                                           talmo::HidOpenError* error) override;
    bool startEvents() override;
    int eventFd() const override { return eventFd_; }
    std::vector<talmo::HidDeviceEvent> takeEvents() override;

    // Plug and unplug through the backend, so that eventFd() is raised.
    int plug(std::unique_ptr<Talmo> device);
    void unplug(int id);
    // Raises eventFd() when the bus has events waiting.
    void notify();

    VirtualUsb& usb() { return usb_; }

    // --- The emulator's own controls, apart from the interface above: the
    // faults and odd neighbours a test sets up, and what the last write held.
    struct Controls {
        // Asked before every open (the n-th open of that path since the
        // backend was made, counting from 0); anything but None refuses it
        // with that error.
        std::function<talmo::HidOpenError(const std::string& path, int n)> openFault;
        // Report lengths announced by enumerate() instead of the bus's own.
        std::map<std::string, std::pair<std::uint16_t, std::uint16_t>> lengthOverride;
        // Extra interfaces announced by enumerate() (before the bus's own)
        // that have no device behind them: unrelated HID devices.
        std::vector<talmo::HidInterfaceInfo> extraInterfaces;
    };
    Controls controls;
    // Bytes handed to the last write, whatever their count.
    std::size_t lastWriteLength() const { return lastWriteLength_; }

private:
    friend class SimHandle;
    int write(const std::string& path, const std::uint8_t* buf, std::size_t len);
    int read(const std::string& path, std::uint8_t* buf, std::size_t len, int timeoutMs);
    bool present(const std::string& path);

    VirtualUsb& usb_;
    int eventFd_ = -1;
    std::map<std::string, std::deque<std::array<std::uint8_t, 65>>>
        pending_; // answers not yet read
    std::map<std::string, int> openCount_;
    std::size_t lastWriteLength_ = 0;
    std::vector<std::string> presentPaths_; // the bus's paths, while no event waits
    bool presentValid_ = false;
};

} // namespace sim
