#include "sim/virtual_usb.h"

#include "core/clock.h"
#include "sim/talmo.h"

namespace sim {

struct VirtualUsb::Impl {
    struct Slot {
        std::unique_ptr<Talmo> device;
        bool plugged = false;
        std::string path;
        std::uint16_t productId = 0;
    };

    explicit Impl(talmo::Clock& c) : clock(c) {}

    void arrive(Slot& s) {
        s.plugged = true;
        s.path = "/dev/vhidraw" + std::to_string(nextPath++);
        s.productId = s.device->productId();
        events.push_back({true, s.path});
    }
    void leave(Slot& s) {
        s.plugged = false;
        events.push_back({false, s.path});
        s.path.clear();
    }
    // A device whose mode changed since it enumerated comes back as the other product.
    void sync() {
        for (auto& s : slots)
            if (s.plugged && s.device->productId() != s.productId) {
                leave(s);
                arrive(s);
            }
    }
    Slot* find(int id) {
        return id >= 0 && static_cast<std::size_t>(id) < slots.size()
                   ? &slots[static_cast<std::size_t>(id)]
                   : nullptr;
    }

    talmo::Clock& clock;
    std::vector<Slot> slots;
    std::vector<Event> events;
    unsigned nextPath = 0;
    std::int64_t latencyUs = 0;
};

VirtualUsb::VirtualUsb(talmo::Clock& clock) : impl_(std::make_unique<Impl>(clock)) {}

VirtualUsb::~VirtualUsb() = default;

int VirtualUsb::plug(std::unique_ptr<Talmo> device) {
    if (!device)
        return -1;
    impl_->sync();
    impl_->slots.push_back({std::move(device), false, {}, 0});
    impl_->arrive(impl_->slots.back());
    return static_cast<int>(impl_->slots.size() - 1);
}

void VirtualUsb::unplug(int id) {
    impl_->sync();
    if (auto* s = impl_->find(id); s && s->plugged)
        impl_->leave(*s);
}

void VirtualUsb::replug(int id) {
    impl_->sync();
    if (auto* s = impl_->find(id); s && !s->plugged)
        impl_->arrive(*s);
}

bool VirtualUsb::plugged(int id) const {
    const auto* s = impl_->find(id);
    return s && s->plugged;
}

Talmo* VirtualUsb::device(int id) {
    auto* s = impl_->find(id);
    return s ? s->device.get() : nullptr;
}

std::optional<std::string> VirtualUsb::pathOf(int id) const {
    impl_->sync();
    const auto* s = impl_->find(id);
    if (!s || !s->plugged)
        return std::nullopt;
    return s->path;
}

std::vector<VirtualUsb::Interface> VirtualUsb::interfaces() const {
    impl_->sync();
    std::vector<Interface> out;
    for (const auto& s : impl_->slots)
        if (s.plugged)
            out.push_back({s.path, Talmo::kVendorId, s.productId, 65, 65});
    return out;
}

std::optional<Report> VirtualUsb::exchange(const std::string& path, const Report& request) {
    impl_->sync();
    for (auto& s : impl_->slots) {
        if (!s.plugged || s.path != path)
            continue;
        auto answer = s.device->exchange(request, impl_->clock.nowUs());
        if (impl_->latencyUs > 0)
            impl_->clock.sleepUs(impl_->latencyUs);
        if (s.device->takeUnplugRequest()) {
            impl_->leave(s);
            return std::nullopt;
        }
        impl_->sync();
        return answer;
    }
    return std::nullopt;
}

std::vector<VirtualUsb::Event> VirtualUsb::takeEvents() {
    impl_->sync();
    std::vector<Event> out;
    out.swap(impl_->events);
    return out;
}

bool VirtualUsb::hasEvents() const {
    impl_->sync();
    return !impl_->events.empty();
}

talmo::Clock& VirtualUsb::clock() { return impl_->clock; }

void VirtualUsb::setLatencyUs(std::int64_t us) { impl_->latencyUs = us < 0 ? 0 : us; }

} // namespace sim
