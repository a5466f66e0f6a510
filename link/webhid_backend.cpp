#include "link/webhid_backend.h"

#include <emscripten.h>

#include <cstdlib>
#include <sstream>

// The JavaScript half. Module.talmoHid keeps the devices met so far (number ->
// HIDDevice), one queue of input reports per open device, and the arrivals
// and removals not yet taken. Every function answers with plain numbers or a
// string the program frees.

// The JavaScript below is not C++: clang-format keeps off it.
// clang-format off
EM_JS(void, talmo_hid_setup, (), {
    if (Module.talmoHid)
        return;
    const hid = {
        devices : new Map(),
        numbers : new Map(),
        next : 1,
        events : [],
        open : new Map(),
        onEvents : null,
    };
    hid.numberOf = function(device) {
        let n = hid.numbers.get(device);
        if (n === undefined) {
            n = hid.next++;
            hid.numbers.set(device, n);
            hid.devices.set(n, device);
        }
        return n;
    };
    hid.post = function(kind, device) {
        hid.events.push([ kind, "webhid:" + hid.numberOf(device) ]);
        if (hid.onEvents)
            hid.onEvents();
    };
    hid.granted = function(devices) {
        for (const d of devices)
            hid.post(0, d);
    };
    hid.reportLength = function(device, key) {
        let longest = 0;
        for (const c of device.collections || [])
            for (const r of c[key] || []) {
                let bits = 0;
                for (const item of r.items || [])
                    bits += item.reportSize * item.reportCount;
                longest = Math.max(longest, Math.ceil(bits / 8) + 1);
            }
        return longest;
    };
    hid.text = function(s) {
        const size = lengthBytesUTF8(s) + 1;
        const p = _malloc(size);
        stringToUTF8(s, p, size);
        return p;
    };
    Module.talmoHid = hid;
});

EM_JS(int, talmo_hid_start_events, (), {
    const hid = Module.talmoHid;
    if (!navigator.hid)
        return 0;
    if (!hid.listening) {
        hid.listening = true;
        navigator.hid.addEventListener("connect", function(e) { hid.post(0, e.device); });
        navigator.hid.addEventListener("disconnect", function(e) {
            const q = hid.open.get(hid.numberOf(e.device));
            if (q && q.waiter)
                q.waiter(null, true);
            if (q)
                q.gone();
            hid.post(1, e.device);
        });
    }
    return 1;
});

// "path vendor product input output" lines, one per device the page may use.
EM_ASYNC_JS(char*, talmo_hid_enumerate, (), {
    const hid = Module.talmoHid;
    let lines = "";
    if (navigator.hid) {
        const devices = await navigator.hid.getDevices();
        for (const d of devices)
            lines += "webhid:" + hid.numberOf(d) + " " + d.vendorId + " " + d.productId + " " +
                     hid.reportLength(d, "inputReports") + " " +
                     hid.reportLength(d, "outputReports") + "\n";
    }
    return hid.text(lines);
});

// 0 opened, 1 not found, 2 refused, 3 in use, 4 other failure.
EM_ASYNC_JS(int, talmo_hid_open, (int number), {
    const hid = Module.talmoHid;
    const device = hid.devices.get(number);
    if (!device)
        return 1;
    let q = hid.open.get(number);
    if (!q) {
        if (!device.opened) {
            try {
                await device.open();
            } catch (e) {
                if (e && (e.name == "NotAllowedError" || e.name == "SecurityError"))
                    return 2;
                if (e && e.name == "InvalidStateError")
                    return 3;
                return 4;
            }
        }
        q = {reports : [], waiter : null, users : 0};
        q.removed = new Promise(function(resolve) { q.gone = resolve; });
        hid.open.set(number, q);
        device.oninputreport = function(e) {
            const report = new Uint8Array(1 + e.data.byteLength);
            report[0] = e.reportId;
            report.set(new Uint8Array(e.data.buffer, e.data.byteOffset, e.data.byteLength), 1);
            if (q.waiter)
                q.waiter(report, false);
            else
                q.reports.push(report);
        };
    }
    q.users++;
    return 0;
});

EM_JS(void, talmo_hid_close, (int number), {
    const hid = Module.talmoHid;
    const q = hid.open.get(number);
    if (!q || --q.users > 0)
        return;
    hid.open.delete(number);
    if (q.waiter)
        q.waiter(null, true);
    const device = hid.devices.get(number);
    device.oninputreport = null;
    if (device.opened)
        device.close().catch(function() {});
});

EM_ASYNC_JS(int, talmo_hid_write, (int number, const unsigned char* data, int length), {
    const device = Module.talmoHid.devices.get(number);
    if (!device || !device.opened || length < 1)
        return -1;
    const q = Module.talmoHid.open.get(number);
    // One exchange at a time: a report already waiting cannot answer this
    // request. It is a late answer to an earlier one (a read that timed out,
    // or the page before a reload, whose request the device answered after
    // this page opened it); kept, it would be taken as this answer and every
    // answer after it would be one behind.
    if (q)
        q.reports.length = 0;
    const sent = device.sendReport(HEAPU8[data], HEAPU8.slice(data + 1, data + length))
                     .then(function() { return length; }, function() { return -1; });
    return await Promise.race([ sent, q ? q.removed.then(function() { return -1; }) : sent ]);
});

EM_ASYNC_JS(int, talmo_hid_read, (int number, unsigned char* buffer, int length, int timeoutMs), {
    const q = Module.talmoHid.open.get(number);
    if (!q)
        return -1;
    let report = q.reports.shift();
    if (!report) {
        const answer = await new Promise(function(resolve) {
            const timer = setTimeout(function() {
                q.waiter = null;
                resolve({report : null, gone : false});
            }, timeoutMs);
            q.waiter = function(r, gone) {
                clearTimeout(timer);
                q.waiter = null;
                resolve({report : r, gone : gone});
            };
        });
        if (answer.gone)
            return -1;
        report = answer.report;
        if (!report)
            return 0;
    }
    const n = Math.min(length, report.length);
    HEAPU8.set(report.subarray(0, n), buffer);
    return n;
});

// "kind path" lines: 0 arrival, 1 removal.
EM_JS(char*, talmo_hid_take_events, (), {
    const hid = Module.talmoHid;
    let lines = "";
    for (const e of hid.events)
        lines += e[0] + " " + e[1] + "\n";
    hid.events = [];
    return hid.text(lines);
});

// clang-format on

namespace talmo {

namespace {

// The device number of a "webhid:N" path, or 0.
int NumberOf(const std::string& path) {
    constexpr char kPrefix[] = "webhid:";
    if (path.rfind(kPrefix, 0) != 0)
        return 0;
    return std::atoi(path.c_str() + sizeof kPrefix - 1);
}

std::string TakeText(char* text) {
    std::string s = text ? text : "";
    std::free(text);
    return s;
}

class WebHidHandle final : public HidHandle {
public:
    explicit WebHidHandle(int number) : number_(number) {}
    ~WebHidHandle() override { talmo_hid_close(number_); }
    int write(const std::uint8_t* buf, std::size_t len) override {
        return talmo_hid_write(number_, buf, static_cast<int>(len));
    }
    int read(std::uint8_t* buf, std::size_t len, int timeoutMs) override {
        return talmo_hid_read(number_, buf, static_cast<int>(len), timeoutMs);
    }

private:
    int number_;
};

} // namespace

WebHidBackend::WebHidBackend() { talmo_hid_setup(); }

std::vector<HidInterfaceInfo> WebHidBackend::enumerate() {
    std::vector<HidInterfaceInfo> list;
    std::istringstream lines(TakeText(talmo_hid_enumerate()));
    HidInterfaceInfo info;
    while (lines >> info.path >> info.vendorId >> info.productId >> info.inputReportLength >>
           info.outputReportLength)
        list.push_back(info);
    return list;
}

std::unique_ptr<HidHandle> WebHidBackend::open(const std::string& path, HidOpenError* error) {
    static constexpr HidOpenError kErrors[] = {HidOpenError::None, HidOpenError::NotFound,
                                               HidOpenError::PermissionDenied, HidOpenError::Busy,
                                               HidOpenError::Other};
    const int number = NumberOf(path);
    const int status = number > 0 ? talmo_hid_open(number) : 1;
    if (error)
        *error = kErrors[status >= 0 && status <= 4 ? status : 4];
    if (status != 0)
        return nullptr;
    return std::make_unique<WebHidHandle>(number);
}

bool WebHidBackend::startEvents() { return talmo_hid_start_events() != 0; }

std::vector<HidDeviceEvent> WebHidBackend::takeEvents() {
    std::vector<HidDeviceEvent> events;
    std::istringstream lines(TakeText(talmo_hid_take_events()));
    int kind = 0;
    HidDeviceEvent event;
    while (lines >> kind >> event.path) {
        event.kind = kind == 1 ? HidDeviceEvent::Removal : HidDeviceEvent::Arrival;
        events.push_back(event);
    }
    return events;
}

} // namespace talmo
