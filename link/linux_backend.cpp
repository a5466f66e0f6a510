#include "link/linux_backend.h"

#include "link/device_link.h"

#include <hidapi/hidapi.h>
#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace talmo {

namespace {

// The walk through a report descriptor's items: the global items that size
// the reports (a stack of them, for push and pop) and the bits each report
// ID's inputs and outputs take.
struct DescriptorWalk {
    struct Globals {
        std::uint32_t reportSize = 0;
        std::uint32_t reportCount = 0;
        std::uint32_t reportId = 0;
    };
    Globals g;
    std::vector<Globals> stack;
    std::map<std::uint32_t, std::uint64_t> inputBits, outputBits;

    // One short item; false when it cannot be (a pop without a push).
    bool item(int type, int tag, std::uint32_t value) {
        if (type == 0) { // main
            const std::uint64_t bits = static_cast<std::uint64_t>(g.reportSize) * g.reportCount;
            if (tag == 0x8)
                inputBits[g.reportId] += bits;
            else if (tag == 0x9)
                outputBits[g.reportId] += bits;
        } else if (type == 1) { // global
            if (tag == 0x7)
                g.reportSize = value;
            else if (tag == 0x8)
                g.reportId = value;
            else if (tag == 0x9)
                g.reportCount = value;
            else if (tag == 0xA)
                stack.push_back(g);
            else if (tag == 0xB) {
                if (stack.empty())
                    return false;
                g = stack.back();
                stack.pop_back();
            }
        }
        return true;
    }
};

// The longest report in bytes, with its report ID byte; 0 without any.
std::uint16_t Longest(const std::map<std::uint32_t, std::uint64_t>& bits) {
    std::uint64_t most = 0;
    for (const auto& [id, n] : bits)
        most = std::max(most, n);
    if (most == 0)
        return 0;
    const std::uint64_t bytes = (most + 7) / 8 + 1; // plus the report ID byte
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(bytes, 0xFFFF));
}

} // namespace

ReportLengths ParseReportDescriptor(const std::uint8_t* data, std::size_t size) {
    ReportLengths lengths;
    DescriptorWalk walk;
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t prefix = data[pos];
        if (prefix == 0xFE) { // long item: size byte, tag byte, data
            if (pos + 1 >= size)
                return lengths;
            pos += 3 + data[pos + 1];
            continue;
        }
        static constexpr std::size_t kSizes[4] = {0, 1, 2, 4};
        const std::size_t itemSize = kSizes[prefix & 3];
        if (pos + 1 + itemSize > size)
            return lengths; // truncated item
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < itemSize; ++i)
            value |= static_cast<std::uint32_t>(data[pos + 1 + i]) << (8 * i);
        const int type = (prefix >> 2) & 3, tag = prefix >> 4;
        lengths.numbered = lengths.numbered || (type == 1 && tag == 0x8); // a report ID
        if (!walk.item(type, tag, value))
            return lengths;
        pos += 1 + itemSize;
    }
    if (pos != size)
        return lengths;
    lengths.input = Longest(walk.inputBits);
    lengths.output = Longest(walk.outputBits);
    lengths.valid = true;
    return lengths;
}

namespace {

class LinuxHandle final : public HidHandle {
public:
    LinuxHandle(hid_device* dev, bool numbered, std::shared_ptr<void> lock)
        : dev_(dev), numbered_(numbered), lock_(std::move(lock)) {}
    ~LinuxHandle() override { hid_close(dev_); }
    LinuxHandle(const LinuxHandle&) = delete;
    LinuxHandle& operator=(const LinuxHandle&) = delete;

    int write(const std::uint8_t* buf, std::size_t len) override {
        if (len == 0)
            return -1;
        return hid_write(dev_, buf, len);
    }

    int read(std::uint8_t* buf, std::size_t len, int timeoutMs) override {
        if (len == 0)
            return -1;
        // Read into a copy so that a time-out or a failure leaves the
        // caller's buffer exactly as it was.
        std::uint8_t copy[256];
        std::vector<std::uint8_t> big;
        std::uint8_t* tmp = copy;
        if (len > sizeof copy) {
            big.resize(len);
            tmp = big.data();
        }
        int n;
        if (numbered_) {
            n = hid_read_timeout(dev_, tmp, len, timeoutMs);
        } else {
            // Unnumbered input reports come without their ID: it is 0.
            tmp[0] = 0;
            n = len > 1 ? hid_read_timeout(dev_, tmp + 1, len - 1, timeoutMs) : 0;
            if (n > 0)
                ++n;
        }
        if (n <= 0)
            return n < 0 ? -1 : 0;
        const std::size_t count = std::min(static_cast<std::size_t>(n), len);
        std::memcpy(buf, tmp, count);
        return static_cast<int>(count);
    }

private:
    hid_device* dev_;
    bool numbered_;
    std::shared_ptr<void> lock_; // the node's lock, held while the handle lives
};

HidOpenError ClassifyOpenError(int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return HidOpenError::PermissionDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return HidOpenError::NotFound;
    default:
        return HidOpenError::Other;
    }
}

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// A descriptor of its own on the node carries the lock (the library keeps
// its descriptor to itself); closing it releases the lock.
struct LinuxBackend::NodeLock {
    int fd = -1;
    ~NodeLock() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::shared_ptr<LinuxBackend::NodeLock> LinuxBackend::lockNode(const std::string& path,
                                                               HidOpenError* error) {
    if (auto held = locks_[path].lock())
        return held;
    auto lock = std::make_shared<NodeLock>();
    lock->fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (lock->fd < 0) {
        *error = ClassifyOpenError(errno);
        return nullptr;
    }
    int rc;
    do {
        rc = ::flock(lock->fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        *error = errno == EWOULDBLOCK ? HidOpenError::Busy : HidOpenError::Other;
        return nullptr;
    }
    locks_[path] = lock;
    return lock;
}

LinuxBackend::LinuxBackend() { hidReady_ = hid_init() == 0; }

LinuxBackend::~LinuxBackend() {
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
    if (hidReady_)
        hid_exit();
}

ReportLengths LinuxBackend::lengthsOf(const std::string& devnode) {
    ReportLengths lengths;
    if (!udev_)
        udev_ = udev_new();
    if (!udev_)
        return lengths;
    udev_device* raw =
        udev_device_new_from_subsystem_sysname(udev_, "hidraw", LastComponent(devnode).c_str());
    if (!raw)
        return lengths;
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(raw, "hid", nullptr);
    if (hid) {
        const std::string file = std::string(udev_device_get_syspath(hid)) + "/report_descriptor";
        if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
            std::uint8_t data[4096]; // the kernel's own limit for a report descriptor
            const std::size_t n = std::fread(data, 1, sizeof data, f);
            std::fclose(f);
            if (n > 0)
                lengths = ParseReportDescriptor(data, n);
        }
    }
    udev_device_unref(raw);
    return lengths;
}

std::vector<HidInterfaceInfo> LinuxBackend::enumerate() {
    std::vector<HidInterfaceInfo> list;
    if (!hidReady_)
        return list;
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* d = all; d; d = d->next) {
        if (!d->path)
            continue;
        const std::string path = d->path;
        // One entry per interface, even when the library lists a device once
        // per top-level collection.
        if (std::any_of(list.begin(), list.end(),
                        [&](const HidInterfaceInfo& i) { return i.path == path; }))
            continue;
        HidInterfaceInfo info;
        info.path = path;
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        // Only our own devices need their lengths; reading every unrelated
        // descriptor would cost time for nothing.
        if (info.vendorId == kTalmoVendorId) {
            const ReportLengths lengths = lengthsOf(path);
            // An unreadable descriptor leaves the lengths the device is known
            // to use.
            info.inputReportLength = lengths.valid ? lengths.input : kReportSize;
            info.outputReportLength = lengths.valid ? lengths.output : kReportSize;
        }
        list.push_back(std::move(info));
    }
    hid_free_enumeration(all);
    return list;
}

std::unique_ptr<HidHandle> LinuxBackend::open(const std::string& path, HidOpenError* error) {
    HidOpenError result = HidOpenError::None;
    hid_device* dev = nullptr;
    std::shared_ptr<NodeLock> lock;
    if (!hidReady_) {
        result = HidOpenError::Other;
    } else if (!(lock = lockNode(path, &result))) {
        // Another program's, or a node that does not open at all.
    } else {
        errno = 0;
        dev = hid_open_path(path.c_str());
        if (!dev) {
            // The library does not say why; ask the node itself.
            const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
            if (fd >= 0) {
                ::close(fd);
                result = HidOpenError::Other;
            } else {
                result = ClassifyOpenError(errno);
            }
        }
    }
    if (error)
        *error = result;
    if (!dev)
        return nullptr;
    const ReportLengths lengths = lengthsOf(path);
    return std::make_unique<LinuxHandle>(dev, lengths.valid && lengths.numbered, std::move(lock));
}

bool LinuxBackend::startEvents() {
    if (monitor_)
        return true;
    if (!udev_)
        udev_ = udev_new();
    if (!udev_)
        return false;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_)
        return false;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
        return false;
    }
    // Never block the user-interface thread on an empty socket.
    const int fd = udev_monitor_get_fd(monitor_);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    return true;
}

int LinuxBackend::eventFd() const { return monitor_ ? udev_monitor_get_fd(monitor_) : -1; }

std::vector<HidDeviceEvent> LinuxBackend::takeEvents() {
    std::vector<HidDeviceEvent> events;
    if (!monitor_)
        return events;
    while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(dev);
        const char* node = udev_device_get_devnode(dev);
        if (action && node) {
            if (std::strcmp(action, "add") == 0)
                events.push_back({HidDeviceEvent::Arrival, node});
            else if (std::strcmp(action, "remove") == 0)
                events.push_back({HidDeviceEvent::Removal, node});
        }
        udev_device_unref(dev);
    }
    return events;
}

} // namespace talmo
