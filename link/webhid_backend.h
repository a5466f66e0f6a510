// The browser's HID services (WebHID, navigator.hid) behind the backend
// interface, for the WebAssembly build. Only devices the user (or the
// browser's policy) allowed this page are seen. A device has no system path
// here: each one the page meets gets "webhid:N", kept for as long as the page
// lives. Reads and writes wait on the browser's promises through emscripten's
// Asyncify, so the caller's code stays synchronous; the page stays alive
// meanwhile, since the browser runs its events while the program waits.
//
// Arrivals and removals come from navigator.hid's connect and disconnect
// events, plus the devices the user grants later through the page's connect
// button (granted(), from JavaScript: Module.talmoHid.granted(devices)).
// eventFd() is -1: the page's script calls the program when events wait.
#pragma once

#include "link/hid_backend.h"

namespace talmo {

class WebHidBackend final : public HidBackend {
public:
    WebHidBackend();
    std::vector<HidInterfaceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) override;
    bool startEvents() override;
    int eventFd() const override { return -1; }
    std::vector<HidDeviceEvent> takeEvents() override;
};

} // namespace talmo
