// The virtual USB bus of the device emulator: virtual TALMOs plugged in and
// out, each seen as one HID interface path whose product ID follows the
// device's mode. A mode switch is a removal of the current path followed by
// the arrival of a new path with the other product ID, as on real hardware.
//
// Plain C++, no Qt. Time (answer latency, the PIC's programming cycles) runs
// on the clock given at construction.
//
// Usage:
//   talmo::VirtualClock clock;
//   sim::VirtualUsb bus(clock);
//   int id = bus.plug(std::make_unique<sim::Talmo>());   // event: arrival "/dev/vhidraw0"
//   auto path = bus.interfaces()[0].path;                // product 0x00AA
//   sim::Report req{}; req[1] = 'V';
//   auto answer = bus.exchange(path, req);               // "TALMO V0.23" from byte 2
//   req[1] = 'Z'; req[2] = 'U'; req[3] = 0xAA; req[4] = 1;
//   bus.exchange(path, req);                             // no answer; events: removal
//                                                        // "/dev/vhidraw0", arrival "/dev/vhidraw1" (0x00A9)
//   bus.unplug(id); bus.replug(id);                      // removal, then arrival on a new path
// Every arrival gets a new path: "/dev/vhidraw<n>", n counting arrivals on
// this bus from 0. setLatencyUs() adds a delay to each exchange on the clock
// (1000 models one USB full-speed frame). The device's own behaviour, faults
// and exchange log are in sim/talmo.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talmo {
class Clock;
}

namespace sim {

using Report = std::array<std::uint8_t, 65>;

class Talmo; // one virtual device: normal mode, boot loader, the board's PIC (talmo.h)

class VirtualUsb {
public:
    explicit VirtualUsb(talmo::Clock& clock);
    ~VirtualUsb();

    struct Interface {
        std::string path;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::uint16_t inputReportLength = 65;
        std::uint16_t outputReportLength = 65;
    };
    struct Event {
        bool arrival = true;
        std::string path;
    };

    // Plugs a device in (arrival event); returns its id on this bus.
    int plug(std::unique_ptr<Talmo> device);
    // Unplugs it (removal event). The device is kept and may be plugged again.
    void unplug(int id);
    bool plugged(int id) const;
    Talmo* device(int id);

    // Present interfaces, in enumeration order (plug order).
    std::vector<Interface> interfaces() const;

    // One request to the device at `path`. Returns its answer, or nothing
    // (path gone, device silent, or a request that the device does not
    // answer). A mode switch that the request causes produces its events.
    std::optional<Report> exchange(const std::string& path, const Report& request);

    // Arrival and removal events not yet taken, oldest first.
    std::vector<Event> takeEvents();
    bool hasEvents() const;

    talmo::Clock& clock();

    // Plugs an unplugged device in again (arrival on a new path).
    void replug(int id);
    // The device's current path, or nothing when it is unplugged.
    std::optional<std::string> pathOf(int id) const;
    // Time each exchange takes on the clock (0 by default).
    void setLatencyUs(std::int64_t us);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace sim
