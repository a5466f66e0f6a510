// A small HID bus for the window tests: devices identified by path and
// product ID, plug/unplug/mode switch producing arrival and removal events,
// and handles whose reads time out at once (a device that never answers).
#pragma once

#include "link/hid_backend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace talmo::test {

class FakeBus final : public HidBackend {
public:
    explicit FakeBus(bool withDescriptor = false) {
        if (withDescriptor)
            fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    ~FakeBus() override {
        if (fd_ >= 0)
            ::close(fd_);
    }

    void plug(const std::string& path, std::uint16_t productId, std::uint16_t vendorId = 0x04D8) {
        HidInterfaceInfo info;
        info.path = path;
        info.vendorId = vendorId;
        info.productId = productId;
        info.inputReportLength = 65;
        info.outputReportLength = 65;
        present_.push_back(info);
        push({HidDeviceEvent::Arrival, path});
    }
    void unplug(const std::string& path) {
        std::erase_if(present_, [&](const HidInterfaceInfo& i) { return i.path == path; });
        push({HidDeviceEvent::Removal, path});
    }
    // The device re-enumerates under a new path with another product ID.
    void reenumerate(const std::string& oldPath, const std::string& newPath, std::uint16_t productId) {
        unplug(oldPath);
        plug(newPath, productId);
    }
    // Plugged before the program starts: present, but no event.
    void present(const std::string& path, std::uint16_t productId) {
        plug(path, productId);
        events_.clear();
        drain();
    }

    int opens = 0;
    int openHandles = 0;

    std::vector<HidInterfaceInfo> enumerate() override { return present_; }
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) override {
        for (const auto& i : present_)
            if (i.path == path) {
                ++opens;
                if (error)
                    *error = HidOpenError::None;
                return std::make_unique<Handle>(*this);
            }
        if (error)
            *error = HidOpenError::NotFound;
        return nullptr;
    }
    bool startEvents() override {
        started = true;
        return true;
    }
    int eventFd() const override { return fd_; }
    std::vector<HidDeviceEvent> takeEvents() override {
        drain();
        std::vector<HidDeviceEvent> out;
        out.swap(events_);
        return out;
    }
    bool started = false;

private:
    struct Handle final : HidHandle {
        explicit Handle(FakeBus& bus) : bus_(bus) { ++bus_.openHandles; }
        ~Handle() override { --bus_.openHandles; }
        int write(const std::uint8_t*, std::size_t len) override { return static_cast<int>(len); }
        int read(std::uint8_t*, std::size_t, int) override { return 0; }
        FakeBus& bus_;
    };
    void push(HidDeviceEvent e) {
        events_.push_back(std::move(e));
        if (fd_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
        }
    }
    void drain() {
        if (fd_ >= 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(fd_, &count, sizeof count);
        }
    }

    int fd_ = -1;
    std::vector<HidInterfaceInfo> present_;
    std::vector<HidDeviceEvent> events_;
};

} // namespace talmo::test
