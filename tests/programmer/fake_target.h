// A stand-in for the device link's handles that records every request and
// answers through a function: for checking report layouts and the stop at
// a failed echo without the emulator.
#pragma once

#include "link/device_link.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace talmo::test {

struct FakeWire {
    std::vector<Report> requests;
    // The answer to request n (0-based), or nothing for no answer.
    std::function<std::optional<Report>(int n, const Report& request)> answer;
    std::optional<Report> pending;
};

class FakeHandle final : public HidHandle {
public:
    FakeHandle(FakeWire& wire, bool writer) : wire_(wire), writer_(writer) {}
    int write(const std::uint8_t* buf, std::size_t len) override {
        if (!writer_)
            return -1;
        Report r{};
        for (std::size_t i = 0; i < len && i < r.size(); ++i)
            r[i] = buf[i];
        wire_.requests.push_back(r);
        wire_.pending = wire_.answer ? wire_.answer(static_cast<int>(wire_.requests.size()) - 1, r)
                                     : std::optional<Report>{};
        return static_cast<int>(len);
    }
    int read(std::uint8_t* buf, std::size_t len, int) override {
        if (!wire_.pending)
            return 0;
        for (std::size_t i = 0; i < len && i < wire_.pending->size(); ++i)
            buf[i] = (*wire_.pending)[i];
        wire_.pending.reset();
        return static_cast<int>(len);
    }

private:
    FakeWire& wire_;
    bool writer_;
};

inline void Attach(DeviceLink& link, FakeWire& wire) {
    link.readHandle = std::make_unique<FakeHandle>(wire, false);
    link.writeHandle = std::make_unique<FakeHandle>(wire, true);
    link.inputReportLength = kReportSize;
    link.outputReportLength = kReportSize;
}

// An answer that echoes the request, with bytes 2 and 3 set to a word.
inline Report EchoWith(const Report& request, std::uint16_t word) {
    Report a = request;
    a[2] = static_cast<std::uint8_t>(word >> 8);
    a[3] = static_cast<std::uint8_t>(word & 0xFF);
    return a;
}

} // namespace talmo::test
