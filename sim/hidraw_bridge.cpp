// GLib and umockdev come before anything that might pull in Qt.
#include <glib.h>
#include <umockdev.h>

#include "sim/hidraw_bridge.h"

#include "sim/talmo.h"
#include "sim/virtual_usb.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::uint8_t kTokenByte = 'R';

// A vendor-defined report descriptor with one unnumbered input report and
// one unnumbered output report of the given lengths (report ID byte included).
std::vector<std::uint8_t> MakeDescriptor(std::uint16_t inputLength, std::uint16_t outputLength) {
    std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF, // usage page (vendor defined)
                                   0x09, 0x01,       // usage 1
                                   0xA1, 0x01,       // collection (application)
                                   0x15, 0x00,       // logical minimum 0
                                   0x26, 0xFF, 0x00, // logical maximum 255
                                   0x75, 0x08};      // report size 8 bits
    auto field = [&d](std::uint16_t length, std::uint8_t mainItem) {
        if (length < 2)
            return;
        const std::uint16_t count = static_cast<std::uint16_t>(length - 1);
        if (count <= 0xFF) {
            d.insert(d.end(), {0x95, static_cast<std::uint8_t>(count)});
        } else {
            d.insert(d.end(), {0x96, static_cast<std::uint8_t>(count & 0xFF),
                               static_cast<std::uint8_t>(count >> 8)});
        }
        d.insert(d.end(), {0x09, 0x01, mainItem, 0x02});
    };
    field(inputLength, 0x81);
    field(outputLength, 0x91);
    d.push_back(0xC0); // end collection
    return d;
}

std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v & 0xFFFFu);
    return buf;
}

} // namespace

struct HidrawBridge::Testbed {
    UMockdevTestbed* bed = nullptr;
    std::string root;
    // Whether umockdev sends the "add" uevent of a new device by itself. It
    // does so only when umockdev_in_mock_environment() says yes, and that
    // answer is taken once per process and kept: asked before the testbed
    // existed, it stays "no" for good. The bridge then sends the uevent.
    bool addsItself = false;
};

struct HidrawBridge::Node {
    HidrawBridge* bridge = nullptr;
    std::string busPath;
    std::string devnode;  // "/dev/hidrawN" as the client sees it
    std::string fifoPath; // the FIFO inside the testbed's root
    int fifoFd = -1;
    std::uint16_t vendorId = 0, productId = 0;
    std::uint16_t inputLength = 65;
    std::vector<std::uint8_t> descriptor;
    std::vector<std::string> syspaths; // usb device, interface, hid, hidraw
    std::deque<std::vector<std::uint8_t>> answers;
    bool gone = false;
    UMockdevIoctlBase* handler = nullptr;
};

namespace {

// All three run on umockdev's worker thread and must never block there.

gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<HidrawBridge::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const int length = arg ? arg->data_len : 0;
    long result = length;
    int err = 0;
    if (!node->bridge->handleWrite(*node, arg ? arg->data : nullptr, length)) {
        result = -1;
        err = ENODEV;
    }
    umockdev_ioctl_client_complete(client, result, err);
    return TRUE;
}

gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<HidrawBridge::Node*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    int err = 0;
    const long n =
        node->bridge->handleRead(*node, arg ? arg->data : nullptr, arg ? arg->data_len : 0, &err);
    umockdev_ioctl_client_complete(client, n, n < 0 ? err : 0);
    return TRUE;
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<HidrawBridge::Node*>(data);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), nullptr);
        if (d) {
            const int size = static_cast<int>(node->descriptor.size());
            std::memcpy(d->data, &size, sizeof size);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
    } else if (request == HIDIOCGRDESC) {
        UMockdevIoctlData* d =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), nullptr);
        if (d) {
            hidraw_report_descriptor desc{};
            desc.size = static_cast<std::uint32_t>(node->descriptor.size());
            std::memcpy(desc.value, node->descriptor.data(), node->descriptor.size());
            std::memcpy(d->data, &desc, sizeof desc);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
    } else if (request == HIDIOCGRAWINFO) {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_devinfo), nullptr);
        if (d) {
            hidraw_devinfo info{};
            info.bustype = 3; // USB
            info.vendor = static_cast<std::int16_t>(node->vendorId);
            info.product = static_cast<std::int16_t>(node->productId);
            std::memcpy(d->data, &info, sizeof info);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
}

} // namespace

bool HidrawBridge::handleWrite(Node& node, const std::uint8_t* data, int length) {
    std::unique_lock lock(mutex_);
    if (node.gone)
        return false;
    ++exchanges_;
    Report request{};
    if (data && length > 0)
        std::memcpy(request.data(), data,
                    std::min<std::size_t>(static_cast<std::size_t>(length), request.size()));
    const std::optional<Report> answer = usb_.exchange(node.busPath, request);
    if (answer) {
        // hidraw hands unnumbered input reports over without their ID byte.
        const std::size_t payload =
            node.inputLength > 1 ? std::min<std::size_t>(node.inputLength - 1, 64) : 0;
        node.answers.emplace_back(answer->begin() + 1,
                                  answer->begin() + 1 + static_cast<std::ptrdiff_t>(payload));
        const std::uint8_t token = kTokenByte;
        [[maybe_unused]] ssize_t n = ::write(node.fifoFd, &token, 1);
    }
    if (usb_.hasEvents()) {
        pending_ = true;
        changed_.notify_all();
    }
    return true;
}

long HidrawBridge::handleRead(Node& node, std::uint8_t* data, int length, int* err) {
    std::unique_lock lock(mutex_);
    if (node.gone) {
        *err = ENODEV;
        return -1;
    }
    if (node.answers.empty()) {
        *err = EAGAIN;
        return -1;
    }
    const std::vector<std::uint8_t> answer = std::move(node.answers.front());
    node.answers.pop_front();
    std::uint8_t token;
    [[maybe_unused]] ssize_t t = ::read(node.fifoFd, &token, 1);
    const std::size_t n =
        std::min<std::size_t>(answer.size(), length > 0 ? static_cast<std::size_t>(length) : 0);
    if (data && n)
        std::memcpy(data, answer.data(), n);
    return static_cast<long>(n);
}

bool HidrawBridge::underPreload() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

HidrawBridge::HidrawBridge(VirtualUsb& usb) : usb_(usb), testbed_(std::make_unique<Testbed>()) {
    if (!underPreload()) {
        error_ = "not running under umockdev's preload (start it with umockdev-wrapper)";
        return;
    }
    testbed_->bed = umockdev_testbed_new();
    if (!testbed_->bed) {
        error_ = "cannot create the umockdev testbed";
        return;
    }
    testbed_->addsItself = umockdev_in_mock_environment();
    gchar* root = umockdev_testbed_get_root_dir(testbed_->bed);
    testbed_->root = root;
    g_free(root);
    ::mkdir((testbed_->root + "/dev").c_str(), 0755);
    ok_ = true;
    {
        std::lock_guard lock(mutex_);
        pending_ = usb_.hasEvents() || !usb_.interfaces().empty();
    }
    thread_ = std::thread([this] { run(); });
}

HidrawBridge::~HidrawBridge() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    if (testbed_->bed) {
        for (auto& node : nodes_)
            if (node->handler)
                umockdev_testbed_detach_ioctl(testbed_->bed, node->devnode.c_str(), nullptr);
        g_object_unref(testbed_->bed);
    }
    for (auto& node : nodes_) {
        if (node->handler)
            g_object_unref(node->handler);
        if (node->fifoFd >= 0)
            ::close(node->fifoFd);
    }
}

int HidrawBridge::plug(std::unique_ptr<Talmo> device) {
    int id;
    {
        std::lock_guard lock(mutex_);
        id = usb_.plug(std::move(device));
        pending_ = true;
    }
    changed_.notify_all();
    return id;
}

void HidrawBridge::unplug(int id) {
    {
        std::lock_guard lock(mutex_);
        usb_.unplug(id);
        pending_ = true;
    }
    changed_.notify_all();
}

void HidrawBridge::replug(int id) {
    {
        std::lock_guard lock(mutex_);
        if (usb_.plugged(id))
            usb_.unplug(id);
        usb_.replug(id);
        pending_ = true;
    }
    changed_.notify_all();
}

void HidrawBridge::withBus(const std::function<void(VirtualUsb&)>& f) {
    {
        std::lock_guard lock(mutex_);
        f(usb_);
        if (usb_.hasEvents())
            pending_ = true;
    }
    changed_.notify_all();
}

bool HidrawBridge::settle(int timeoutMs) {
    if (!ok_)
        return false;
    std::unique_lock lock(mutex_);
    if (usb_.hasEvents())
        pending_ = true;
    changed_.notify_all();
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return !pending_ && !busy_ && !usb_.hasEvents(); });
}

std::string HidrawBridge::nodeOf(const std::string& busPath) const {
    std::lock_guard lock(mutex_);
    for (const auto& node : nodes_)
        if (!node->gone && node->busPath == busPath)
            return node->devnode;
    return {};
}

std::vector<std::string> HidrawBridge::nodes() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> list;
    for (const auto& node : nodes_)
        if (!node->gone)
            list.push_back(node->devnode);
    return list;
}

long HidrawBridge::exchanges() const {
    std::lock_guard lock(mutex_);
    return exchanges_;
}

void HidrawBridge::run() {
    std::unique_lock lock(mutex_);
    bool first = true;
    for (;;) {
        changed_.wait(lock, [this] { return stop_ || pending_; });
        if (stop_)
            return;
        pending_ = false;
        busy_ = true;
        // The events, and what each arrival looks like, under the lock; the
        // testbed work outside it, since umockdev's worker thread may be
        // waiting for the lock in a request handler.
        struct Step {
            bool arrival;
            VirtualUsb::Interface itf;
        };
        std::vector<Step> steps;
        const std::vector<VirtualUsb::Interface> present = usb_.interfaces();
        if (first) {
            // Devices plugged before the bridge existed.
            for (const auto& itf : present)
                steps.push_back({true, itf});
            first = false;
        }
        for (const VirtualUsb::Event& e : usb_.takeEvents()) {
            Step step{e.arrival, {}};
            step.itf.path = e.path;
            if (e.arrival) {
                auto it =
                    std::find_if(present.begin(), present.end(),
                                 [&](const VirtualUsb::Interface& i) { return i.path == e.path; });
                if (it == present.end())
                    continue; // already gone again: its removal follows
                step.itf = *it;
            }
            steps.push_back(step);
        }
        lock.unlock();
        for (const Step& step : steps) {
            if (step.arrival) {
                if (nodeOf(step.itf.path).empty())
                    addNode(step.itf.path, step.itf.vendorId, step.itf.productId,
                            step.itf.inputReportLength, step.itf.outputReportLength);
            } else {
                removeNode(step.itf.path);
            }
        }
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void HidrawBridge::addNode(const std::string& busPath, std::uint16_t vendorId,
                           std::uint16_t productId, std::uint16_t inputLength,
                           std::uint16_t outputLength) {
    auto node = std::make_unique<Node>();
    node->bridge = this;
    node->busPath = busPath;
    node->vendorId = vendorId;
    node->productId = productId;
    node->inputLength = inputLength;
    node->descriptor = MakeDescriptor(inputLength, outputLength);

    int number;
    {
        std::lock_guard lock(mutex_);
        number = nextNumber_++;
    }
    const std::string name = "hidraw" + std::to_string(number);
    node->devnode = "/dev/" + name;
    node->fifoPath = testbed_->root + node->devnode;

    // The node first, then its handler, then the devices: the "add" uevent
    // of the hidraw device comes last, when everything behind it works.
    if (!attachNode(*node))
        return;
    addDevices(*node, number, name);
    std::lock_guard lock(mutex_);
    nodes_.push_back(std::move(node));
}

bool HidrawBridge::attachNode(Node& node) {
    ::unlink(node.fifoPath.c_str());
    if (::mkfifo(node.fifoPath.c_str(), 0666) != 0)
        return false;
    node.fifoFd = ::open(node.fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (node.fifoFd < 0)
        return false;
    node.handler = umockdev_ioctl_base_new();
    g_signal_connect(node.handler, "handle-write", G_CALLBACK(OnWrite), &node);
    g_signal_connect(node.handler, "handle-read", G_CALLBACK(OnRead), &node);
    g_signal_connect(node.handler, "handle-ioctl", G_CALLBACK(OnIoctl), &node);
    if (umockdev_testbed_attach_ioctl(testbed_->bed, node.devnode.c_str(), node.handler, nullptr))
        return true;
    g_object_unref(node.handler);
    node.handler = nullptr;
    ::close(node.fifoFd);
    node.fifoFd = -1;
    return false;
}

// The USB device, its interface, the HID device and the hidraw node, each
// announced as it comes (unless the testbed announces them itself).
void HidrawBridge::addDevices(Node& node, int number, const std::string& name) {
    UMockdevTestbed* bed = testbed_->bed;
    const std::uint16_t vendorId = node.vendorId, productId = node.productId;
    const std::string bus = std::to_string(number + 1);
    const std::string vid = Hex4(vendorId), pid = Hex4(productId);
    std::string lowerVid = vid, lowerPid = pid;
    std::transform(lowerVid.begin(), lowerVid.end(), lowerVid.begin(), ::tolower);
    std::transform(lowerPid.begin(), lowerPid.end(), lowerPid.begin(), ::tolower);
    const std::string product =
        productId == Talmo::kBootLoaderProductId ? "TALMO Boot Loader" : "TALMO";
    const std::string hidId = "0003:0000" + vid + ":0000" + pid;
    const std::string uniq = "SIM" + std::to_string(number);

    const bool sendAdd = !testbed_->addsItself;
    auto announce = [bed, sendAdd](gchar* syspath) {
        if (syspath && sendAdd)
            umockdev_testbed_uevent(bed, syspath, "add");
        return syspath;
    };
    gchar* usbDev = announce(umockdev_testbed_add_device(
        bed, "usb", ("usb" + bus + "/" + bus + "-1").c_str(), nullptr, "idVendor", lowerVid.c_str(),
        "idProduct", lowerPid.c_str(), "manufacturer", "TALMO", "product", product.c_str(),
        "serial", uniq.c_str(), nullptr, "DEVTYPE", "usb_device", "PRODUCT",
        (lowerVid + "/" + lowerPid + "/100").c_str(), nullptr));
    gchar* usbItf = announce(umockdev_testbed_add_device(
        bed, "usb", (bus + "-1:1.0").c_str(), usbDev, "bInterfaceNumber", "00", "bInterfaceClass",
        "03", nullptr, "DEVTYPE", "usb_interface", "INTERFACE", "3/0/0", nullptr));
    gchar* hid = umockdev_testbed_add_device(
        bed, "hid", ("0003:" + vid + ":" + pid + "." + Hex4(number + 1)).c_str(), usbItf, nullptr,
        "HID_ID", hidId.c_str(), "HID_NAME", product.c_str(), "HID_UNIQ", uniq.c_str(), nullptr);
    if (hid)
        umockdev_testbed_set_attribute_binary(bed, hid, "report_descriptor", node.descriptor.data(),
                                              static_cast<gint>(node.descriptor.size()));
    announce(hid);
    gchar* raw = umockdev_testbed_add_device(bed, "hidraw", name.c_str(), hid, "dev",
                                             ("247:" + std::to_string(number)).c_str(), nullptr,
                                             "DEVNAME", node.devnode.c_str(), nullptr);
    if (raw)
        umockdev_testbed_set_attribute_link(bed, raw, "device", "..");
    announce(raw);
    for (gchar* p : {usbDev, usbItf, hid, raw}) {
        node.syspaths.push_back(p ? p : "");
        g_free(p);
    }
}

void HidrawBridge::removeNode(const std::string& busPath) {
    Node* node = nullptr;
    {
        std::lock_guard lock(mutex_);
        for (auto& n : nodes_)
            if (!n->gone && n->busPath == busPath)
                node = n.get();
        if (!node)
            return;
        // From now on every request on the node fails; a client waiting in
        // poll() is woken so that its read fails at once, as on a real
        // node when the device goes.
        node->gone = true;
        node->answers.clear();
        const std::uint8_t token = kTokenByte;
        [[maybe_unused]] ssize_t n = ::write(node->fifoFd, &token, 1);
    }
    UMockdevTestbed* bed = testbed_->bed;
    ::unlink(node->fifoPath.c_str());
    for (auto it = node->syspaths.rbegin(); it != node->syspaths.rend(); ++it) {
        if (it->empty())
            continue;
        umockdev_testbed_uevent(bed, it->c_str(), "remove");
        umockdev_testbed_remove_device(bed, it->c_str());
    }
}

} // namespace sim
