#include "web/web_demo.h"

#include "sim/demo_controls.h"
#include "sim/exchange_log.h"
#include "sim/sim_backend.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace talmo {

// ------------------------------------------------------------------ switch

void SwitchBackend::use(HidBackend& backend) {
    if (&backend == active_)
        return;
    switched_.clear();
    for (const HidInterfaceInfo& i : active_->enumerate())
        switched_.push_back({HidDeviceEvent::Removal, i.path});
    active_ = &backend;
    active_->takeEvents(); // already in the list below
    for (const HidInterfaceInfo& i : active_->enumerate())
        switched_.push_back({HidDeviceEvent::Arrival, i.path});
}

std::vector<HidDeviceEvent> SwitchBackend::takeEvents() {
    std::vector<HidDeviceEvent> events = std::move(switched_);
    switched_.clear();
    for (HidDeviceEvent& e : active_->takeEvents())
        events.push_back(std::move(e));
    return events;
}

// ------------------------------------------------------------------ clock

namespace {
// Fast, the page is handed back at least this often to stay responsive.
constexpr std::int64_t kFastTurnUs = 20000;
// In real time, waits shorter than this are gathered before the page is
// handed back (the browser cannot wait 1 ms at a time).
constexpr std::int64_t kAheadUs = 8000;
} // namespace

std::int64_t PacedClock::nowUs() {
    // The browser's time, plus what the fast pace skipped and the waits not
    // yet made; never backwards.
    last_ = std::max(last_, now_() + skipped_ + owed_);
    return last_;
}

void PacedClock::sleepUs(std::int64_t us) {
    if (onWait)
        onWait();
    us = std::max<std::int64_t>(us, 0);
    if (fast_) {
        skipped_ += owed_ + us;
        owed_ = 0;
        if (const std::int64_t real = now_(); real - lastYield_ >= kFastTurnUs) {
            yield_(0);
            lastYield_ = now_();
        }
    } else if ((owed_ += us) >= kAheadUs) {
        const int ms = static_cast<int>(owed_ / 1000);
        owed_ -= static_cast<std::int64_t>(ms) * 1000;
        yield_(ms);
    }
}

// ------------------------------------------------------------------ demo

namespace {

// The virtual bus's backend, telling the page after each exchange.
class DemoBackend final : public HidBackend {
public:
    DemoBackend(sim::SimBackend& sim, std::function<void()> after)
        : sim_(sim), after_(std::move(after)) {}
    std::vector<HidInterfaceInfo> enumerate() override { return sim_.enumerate(); }
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) override;
    bool startEvents() override { return sim_.startEvents(); }
    int eventFd() const override { return -1; }
    std::vector<HidDeviceEvent> takeEvents() override { return sim_.takeEvents(); }

private:
    class Handle final : public HidHandle {
    public:
        Handle(std::unique_ptr<HidHandle> inner, DemoBackend& owner)
            : inner_(std::move(inner)), owner_(owner) {}
        int write(const std::uint8_t* buf, std::size_t len) override {
            const int n = inner_->write(buf, len);
            owner_.after_();
            return n;
        }
        int read(std::uint8_t* buf, std::size_t len, int timeoutMs) override {
            const int n = inner_->read(buf, len, timeoutMs);
            owner_.after_();
            return n;
        }

    private:
        std::unique_ptr<HidHandle> inner_;
        DemoBackend& owner_;
    };
    sim::SimBackend& sim_;
    std::function<void()> after_;
};

std::unique_ptr<HidHandle> DemoBackend::open(const std::string& path, HidOpenError* error) {
    std::unique_ptr<HidHandle> inner = sim_.open(path, error);
    if (!inner)
        return nullptr;
    return std::make_unique<Handle>(std::move(inner), *this);
}

// The machine's input the panel names.
bool sim::Machine::*MachineField(const std::string& name) {
    for (const sim::MachineInput& input : sim::MachineInputs())
        if (name == input.name)
            return input.field;
    return nullptr;
}

const std::map<std::string, sim::DemoFault>& FaultNames() {
    static const std::map<std::string, sim::DemoFault> names = {
        {"no-answer", sim::DemoFault::NoAnswer},
        {"silent", sim::DemoFault::Silent},
        {"wrong-echo", sim::DemoFault::WrongEcho},
        {"unplug", sim::DemoFault::Unplug},
        {"refuse-firmware", sim::DemoFault::RefuseFirmware},
    };
    return names;
}

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

struct Demo::Impl {
    Impl(Clock& clock, std::function<void(const std::string&)> line, std::function<void()> events,
         std::function<void()> change)
        : bus(clock), onLine(std::move(line)), onEvents(std::move(events)),
          onChange(std::move(change)) {}
    sim::VirtualUsb bus;
    sim::SimBackend sim{bus};
    std::function<void(const std::string&)> onLine;
    std::function<void()> onEvents;
    std::function<void()> onChange;
    DemoBackend backend{sim, [this] { flush(); }};
    sim::Talmo* device = nullptr;
    int id = -1;
    // The faults armed, by name, with the request they were armed for.
    std::vector<std::pair<std::string, std::uint64_t>> faults;

    void flush() {
        sim::ExchangeLog& log = device->log();
        for (const sim::Exchange& e : log.entries())
            onLine(sim::ExchangeLog::formatLine(e));
        log.clear();
        // A fault armed for one request is spent once that request came.
        const std::uint64_t next = device->nextExchange();
        const bool spent = std::erase_if(faults, [next](const auto& f) {
            return f.first != "silent" && f.first != "refuse-firmware" && next > f.second;
        });
        if (bus.hasEvents()) {
            onChange();
            onEvents();
        } else if (spent) {
            onChange();
        }
    }
};

Demo::Demo(Clock& clock, std::function<void(const std::string&)> onLine,
           std::function<void()> onEvents, std::function<void()> onChange)
    : impl_(std::make_unique<Impl>(clock, std::move(onLine), std::move(onEvents),
                                   std::move(onChange))) {
    auto device = std::make_unique<sim::Talmo>();
    sim::PlaceBoardPic(*device, sim::kDemoPicChip, sim::DemoProtection::None,
                       sim::kDemoPicRevision);
    impl_->device = device.get();
    impl_->id = impl_->bus.plug(std::move(device));
    impl_->bus.setLatencyUs(1000); // one USB full-speed frame per exchange
}

Demo::~Demo() = default;

HidBackend& Demo::backend() { return impl_->backend; }

void Demo::flush() { impl_->flush(); }

bool Demo::act(const std::string& action) {
    Impl& d = *impl_;
    std::istringstream in(action);
    std::string verb, name;
    int value = 0;
    in >> verb;
    sim::Machine& m = d.device->machine();
    if (verb == "plug" || verb == "unplug") {
        if (verb == "plug" && !d.bus.plugged(d.id))
            d.bus.replug(d.id);
        else if (verb == "unplug" && d.bus.plugged(d.id))
            d.bus.unplug(d.id);
    } else if (verb == "normal" || verb == "bootloader") {
        d.device->setMode(verb == "normal" ? sim::Talmo::Mode::Normal
                                           : sim::Talmo::Mode::BootLoader);
    } else if (verb == "key" && in >> value >> name) {
        const auto bit = static_cast<std::uint8_t>(value);
        m.keys = static_cast<std::uint8_t>(name == "1" ? m.keys | bit : m.keys & ~bit);
    } else if (verb == "machine" && in >> name >> value && MachineField(name)) {
        m.*MachineField(name) = value != 0;
    } else if (verb == "pwm-input" && in >> value && value >= 0 && value <= 255) {
        m.pwmInput = static_cast<std::uint8_t>(value);
    } else if (verb == "pic" && in >> name >> value && value >= 0 && value <= 3) {
        const std::optional<sim::PicChip> chip = sim::PicChipByName(name);
        if (!chip && name != "none")
            return false;
        sim::PlaceBoardPic(*d.device, chip, static_cast<sim::DemoProtection>(value),
                           sim::kDemoPicRevision);
    } else if (verb == "fault" && in >> name && FaultNames().count(name)) {
        // For the request after `later` more (scripts sweeping a job), else the next.
        std::uint64_t later = 0;
        in >> later;
        d.faults.emplace_back(name, d.device->nextExchange() + later);
        sim::ArmFault(*d.device, FaultNames().at(name), later);
    } else if (verb == "clear-faults") {
        d.device->faults() = sim::Faults{};
        d.faults.clear();
    } else {
        return false;
    }
    d.flush();
    return true;
}

std::string Demo::stateJson() {
    const Impl& d = *impl_;
    const sim::Talmo& t = *d.device;
    std::string faults;
    for (const auto& [name, at] : d.faults)
        faults += (faults.empty() ? "" : ",") + JsonText(name);
    const std::optional<std::string> path = d.bus.pathOf(d.id);
    const sim::Machine& m = t.machine();
    std::ostringstream out;
    out << "{\"plugged\":" << (path ? "true" : "false")
        << ",\"path\":" << JsonText(path.value_or(""))
        << ",\"mode\":" << JsonText(t.mode() == sim::Talmo::Mode::Normal ? "normal" : "bootloader")
        << ",\"pic\":" << JsonText(d.device->pic() ? d.device->pic()->info().name : "none")
        << ",\"keys\":" << int{m.keys} << ",\"pwmInput\":" << int{m.pwmInput} << ",\"faults\":["
        << faults << "],\"chips\":[";
    const char* separator = "";
    for (const sim::PicChip chip : sim::AllPicChips()) {
        out << separator << JsonText(sim::ChipInfo(chip).name);
        separator = ",";
    }
    out << "],\"machine\":{";
    const char* comma = "";
    for (const sim::MachineInput& input : sim::MachineInputs()) {
        out << comma << JsonText(input.name) << ":" << (m.*input.field ? "true" : "false");
        comma = ",";
    }
    out << "}}";
    return out.str();
}

} // namespace talmo
