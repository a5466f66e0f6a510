// What the link's tests and the bridge's child program share: the connection
// texts, requests, and the loop that hands a backend's events to the link.
#pragma once

#include "link/device_link.h"

#include <chrono>
#include <poll.h>
#include <string>

namespace linktest {

inline const std::string kConnected = "USB: TALMO connecté";
inline const std::string kBootLoader = "USB: TALMO Boot Loader connecté";
inline const std::string kNotConnected = "USB: TALMO non connecté";

inline talmo::Report request(char letter) {
    talmo::Report r{};
    r[1] = static_cast<std::uint8_t>(letter);
    return r;
}

// The restart request: into the boot loader, or back into the application.
inline talmo::Report jump(bool intoBootLoader) {
    talmo::Report r = request('Z');
    r[2] = 'U';
    r[3] = 0xAA;
    r[4] = intoBootLoader ? 1 : 0;
    return r;
}

// The NUL-terminated text of an answer from byte `from` on.
inline std::string textAt(const talmo::Report& r, int from) {
    std::string s;
    for (int i = from; i < talmo::kReportSize && r[i]; ++i)
        s += static_cast<char>(r[i]);
    return s;
}

// Waits on the backend's event descriptor, as the main window does, and hands
// each event to the link until done() holds. False after timeoutMs of real
// time.
template <class Done>
bool follow(talmo::DeviceLink& link, Done done, int timeoutMs = 3000) {
    const auto t0 = std::chrono::steady_clock::now();
    while (!done()) {
        if (std::chrono::steady_clock::now() - t0 > std::chrono::milliseconds(timeoutMs))
            return false;
        pollfd pfd{link.backend->eventFd(), POLLIN, 0};
        if (::poll(&pfd, 1, 50) > 0)
            for (const talmo::HidDeviceEvent& e : link.backend->takeEvents())
                talmo::OnDeviceChange(link, e);
    }
    return true;
}

} // namespace linktest
