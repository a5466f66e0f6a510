// The web page's demo: the device emulator inside the page, reached through
// the same device link as the browser's WebHID, on a clock paced like a
// TALMO, and played from the page's panel.
//
// The page's program talks to one backend, SwitchBackend: the browser's
// WebHID, or the demo's virtual bus, never both. Switching tells the link as
// removals of what it could reach and arrivals of what it now can, so the
// page goes through the waiting page as when a TALMO is unplugged.
#pragma once

#include "core/clock.h"
#include "link/hid_backend.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talmo {

class SwitchBackend final : public HidBackend {
public:
    explicit SwitchBackend(HidBackend& initial) : active_(&initial) {}
    // From now on every call goes to `backend`; what the previous one had
    // waiting no longer counts.
    void use(HidBackend& backend);
    bool uses(const HidBackend& backend) const { return active_ == &backend; }

    std::vector<HidInterfaceInfo> enumerate() override { return active_->enumerate(); }
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) override {
        return active_->open(path, error);
    }
    bool startEvents() override { return active_->startEvents(); }
    int eventFd() const override { return -1; }
    std::vector<HidDeviceEvent> takeEvents() override;

private:
    HidBackend* active_;
    std::vector<HidDeviceEvent> switched_; // the switch's removals and arrivals
};

// Time on the demo's virtual TALMO: the browser's, and waits advance it.
// The page is handed back to the browser so that it keeps pace with real
// time (the default: the progress bars and the console's poll as on a TALMO)
// or, fast, only often enough to stay responsive, the waits skipped. `yield(ms)` hands the page back for ms (0: a
// turn of the browser's loop); `now()` is the browser's time in µs.
class PacedClock final : public Clock {
public:
    PacedClock(std::function<std::int64_t()> now, std::function<void(int)> yield)
        : now_(std::move(now)), yield_(std::move(yield)) {}
    std::int64_t nowUs() override;
    void sleepUs(std::int64_t us) override;
    void setFast(bool fast) { fast_ = fast; }
    bool fast() const { return fast_; }
    // Called at every wait: the panel's actions made meanwhile.
    std::function<void()> onWait;

private:
    std::function<std::int64_t()> now_;
    std::function<void(int)> yield_;
    std::int64_t skipped_ = 0; // waits the fast pace did not make
    std::int64_t owed_ = 0;    // waits gathered, not yet made
    std::int64_t last_ = 0;
    std::int64_t lastYield_ = 0;
    bool fast_ = false;
};

// The virtual TALMO of the demo and its panel's actions. Every exchange
// goes to `onLine` in talmo-cli's log format; `onEvents` is told when the
// bus has arrivals or removals for the link, `onChange` when the device
// changed by itself (a fault spent, a restart).
class Demo {
public:
    Demo(Clock& clock, std::function<void(const std::string&)> onLine,
         std::function<void()> onEvents, std::function<void()> onChange);
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    HidBackend& backend();
    // One action of the panel: plug, unplug, normal, bootloader, key BIT 0|1,
    // keypad 0|1, machine FIELD 0|1, pwm-input 0..255, pic NAME|none
    // PROTECTION, fault KIND, clear-faults. False for one it does not know.
    bool act(const std::string& action);
    // The panel's view of the device, as one JSON object.
    std::string stateJson();
    // Sends the exchanges made since the last call to onLine, and says when
    // the bus has events.
    void flush();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace talmo
