// Serves the virtual TALMOs of a sim::VirtualUsb as hidraw devices under
// umockdev, so that the real Linux link (hidapi, libudev) and the real
// program talk to them as to plugged-in hardware.
//
// Each interface on the bus becomes a USB device, its interface, a HID
// device (HID_ID, HID_NAME, HID_UNIQ, report_descriptor) and a hidraw node
// /dev/hidrawN. The node is a FIFO owned by the bridge: one token byte sits
// in it per report waiting to be read, so poll() on the node and hidapi's
// read time-out behave as on a real node; reads, writes and the report
// descriptor ioctls are served by the bridge. A mode switch of a device
// (removal then arrival on the bus) becomes "remove" uevents, child first,
// and a new node with the other product ID. Node numbers are never reused.
//
// Requirements: the process runs under umockdev's preload (umockdev-wrapper)
// and the bridge is made before any libudev object of the process. Arrivals
// are announced whether or not umockdev_in_mock_environment() was asked
// before the testbed existed (umockdev keeps its first answer and announces
// new devices itself only when it was yes). Requests
// are served on umockdev's worker thread and the testbed follows the bus on
// the bridge's own thread; everything else that touches the bus goes
// through withBus(), plug() or unplug().
//
// The bridge as a program (hidraw_bridge_main.cpp):
//   talmo-hidraw-bridge [--boot] [--none] [--control FIFO] [--log FILE]
//                       [--sim-pic PIC] -- program [args...]
// plugs one virtual TALMO (in its boot loader with --boot, none with --none),
// runs the program as its child under the same testbed and exits with the
// child's status. With --log, every device's exchanges are appended to FILE as
// they happen, one line each in the emulator's log format (sim/exchange_log.h).
// --sim-pic gives every device's board that PIC ("PIC16F873", "16f877a", ...)
// with the board firmware in it. Commands, one per line, come from the control
// FIFO (made if missing) or, without --control, from standard input:
//   plug       plug a new virtual TALMO in normal mode
//   plug-boot  plug a new virtual TALMO in its boot loader
//   unplug     unplug the most recently plugged device still present
//   replug     unplug it and plug the same device in again (a new node)
//   mark TEXT  a line "# TEXT" in the log, after every exchange so far, so
//              that one job's exchanges can be cut out of a longer run
//   quit       end the child (SIGTERM) and exit
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class VirtualUsb;
class Talmo;

class HidrawBridge {
public:
    explicit HidrawBridge(VirtualUsb& usb);
    ~HidrawBridge();
    HidrawBridge(const HidrawBridge&) = delete;
    HidrawBridge& operator=(const HidrawBridge&) = delete;

    // True when the process runs with umockdev's preload library.
    static bool underPreload();

    // False when the testbed could not be made (not under the preload);
    // error() then says why.
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    // Plugs and unplugs on the bus; the testbed follows on the bridge's
    // thread (settle() waits for it).
    int plug(std::unique_ptr<Talmo> device);
    void unplug(int id);
    void replug(int id); // the same device again, on a new node
    // Any other use of the bus, under the bridge's lock.
    void withBus(const std::function<void(VirtualUsb&)>& f);

    // Waits until every bus event so far is reflected in the testbed.
    // False after timeoutMs.
    bool settle(int timeoutMs = 5000);

    // The hidraw node that serves a bus path ("" when none), and the nodes
    // present now, in plug order.
    std::string nodeOf(const std::string& busPath) const;
    std::vector<std::string> nodes() const;
    // Requests served so far.
    long exchanges() const;

    struct Node; // one hidraw node, present or gone (kept for stale handles)

    // Called by umockdev's request handlers on its worker thread: one
    // output report to the device behind the node (false when it is gone),
    // and one input report from it (-1 with *err when none).
    bool handleWrite(Node& node, const std::uint8_t* data, int length);
    long handleRead(Node& node, std::uint8_t* data, int length, int* err);

private:
    void run();
    void addNode(const std::string& busPath, std::uint16_t vendorId, std::uint16_t productId,
                 std::uint16_t inputLength, std::uint16_t outputLength);
    void removeNode(const std::string& busPath);
    // addNode's two halves: the node's FIFO and ioctl handler (false when
    // either failed), then the devices udev sees.
    bool attachNode(Node& node);
    void addDevices(Node& node, int number, const std::string& name);

    VirtualUsb& usb_;
    bool ok_ = false;
    std::string error_;
    struct Testbed;
    std::unique_ptr<Testbed> testbed_;

    mutable std::mutex mutex_;        // the bus and the nodes' state
    std::condition_variable changed_; // the bridge's thread has work, or finished some
    bool pending_ = false;            // bus events not yet followed
    bool busy_ = false;               // the bridge's thread is following them
    bool stop_ = false;
    long exchanges_ = 0;
    int nextNumber_ = 0;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::thread thread_;
};

} // namespace sim
