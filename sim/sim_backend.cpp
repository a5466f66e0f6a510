#include "sim/sim_backend.h"

#include "core/clock.h"
#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
#ifndef __EMSCRIPTEN__
#include <sys/eventfd.h>
#endif

namespace sim {

using namespace talmo;

// One open of a path on the virtual bus. The backend must outlive it.
class SimHandle final : public HidHandle {
public:
    SimHandle(SimBackend& backend, std::string path) : backend_(backend), path_(std::move(path)) {}
    int write(const std::uint8_t* buf, std::size_t len) override {
        return backend_.write(path_, buf, len);
    }
    int read(std::uint8_t* buf, std::size_t len, int timeoutMs) override {
        return backend_.read(path_, buf, len, timeoutMs);
    }

private:
    SimBackend& backend_;
    std::string path_;
};

SimBackend::SimBackend(VirtualUsb& usb) : usb_(usb) {
#ifndef __EMSCRIPTEN__ // the web page's demo polls takeEvents() instead
    eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
}

SimBackend::~SimBackend() {
    if (eventFd_ >= 0)
        ::close(eventFd_);
}

std::vector<HidInterfaceInfo> SimBackend::enumerate() {
    // Unrelated devices were there first.
    std::vector<HidInterfaceInfo> list = controls.extraInterfaces;
    for (const VirtualUsb::Interface& itf : usb_.interfaces()) {
        HidInterfaceInfo info;
        info.path = itf.path;
        info.vendorId = itf.vendorId;
        info.productId = itf.productId;
        info.inputReportLength = itf.inputReportLength;
        info.outputReportLength = itf.outputReportLength;
        if (auto it = controls.lengthOverride.find(itf.path); it != controls.lengthOverride.end()) {
            info.inputReportLength = it->second.first;
            info.outputReportLength = it->second.second;
        }
        list.push_back(std::move(info));
    }
    return list;
}

bool SimBackend::present(const std::string& path) {
    // Every change of the bus's interfaces is also an event: while none is
    // waiting, the list taken when the last ones were drained still holds.
    if (usb_.hasEvents() || !presentValid_) {
        presentPaths_.clear();
        for (const VirtualUsb::Interface& itf : usb_.interfaces())
            presentPaths_.push_back(itf.path);
        presentValid_ = !usb_.hasEvents();
    }
    if (std::find(presentPaths_.begin(), presentPaths_.end(), path) != presentPaths_.end())
        return true;
    return std::any_of(controls.extraInterfaces.begin(), controls.extraInterfaces.end(),
                       [&](const HidInterfaceInfo& i) { return i.path == path; });
}

std::unique_ptr<HidHandle> SimBackend::open(const std::string& path, HidOpenError* error) {
    const int n = openCount_[path]++;
    HidOpenError result = HidOpenError::None;
    if (!present(path))
        result = HidOpenError::NotFound;
    else if (controls.openFault)
        result = controls.openFault(path, n);
    if (error)
        *error = result;
    if (result != HidOpenError::None)
        return nullptr;
    return std::make_unique<SimHandle>(*this, path);
}

bool SimBackend::startEvents() {
    notify();
    return true;
}

void SimBackend::notify() {
    if (eventFd_ >= 0 && usb_.hasEvents()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(eventFd_, &one, sizeof one);
    }
}

std::vector<HidDeviceEvent> SimBackend::takeEvents() {
    if (eventFd_ >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(eventFd_, &count, sizeof count);
    }
    std::vector<HidDeviceEvent> events;
    presentValid_ = false;
    for (const VirtualUsb::Event& e : usb_.takeEvents()) {
        HidDeviceEvent event;
        event.kind = e.arrival ? HidDeviceEvent::Arrival : HidDeviceEvent::Removal;
        event.path = e.path;
        if (!e.arrival)
            pending_.erase(e.path); // answers of a device that left are lost
        events.push_back(std::move(event));
    }
    return events;
}

int SimBackend::plug(std::unique_ptr<Talmo> device) {
    const int id = usb_.plug(std::move(device));
    notify();
    return id;
}

void SimBackend::unplug(int id) {
    usb_.unplug(id);
    notify();
}

int SimBackend::write(const std::string& path, const std::uint8_t* buf, std::size_t len) {
    lastWriteLength_ = len;
    if (!present(path))
        return -1;
    Report request{};
    std::memcpy(request.data(), buf, std::min(len, request.size()));
    std::optional<Report> answer = usb_.exchange(path, request);
    if (!present(path))
        pending_.erase(path); // the request made the device leave
    else if (answer)
        pending_[path].push_back(*answer);
    notify();
    return static_cast<int>(len);
}

int SimBackend::read(const std::string& path, std::uint8_t* buf, std::size_t len, int timeoutMs) {
    if (!present(path)) {
        pending_.erase(path);
        return -1;
    }
    auto it = pending_.find(path);
    if (it == pending_.end() || it->second.empty()) {
        // Nothing will come: the whole time-out passes on the bus's clock.
        usb_.clock().sleepUs(static_cast<std::int64_t>(timeoutMs) * 1000);
        return 0;
    }
    const Report answer = it->second.front();
    it->second.pop_front();
    const std::size_t n = std::min(len, answer.size());
    std::memcpy(buf, answer.data(), n);
    return static_cast<int>(n);
}

} // namespace sim
