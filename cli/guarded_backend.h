// The HID services as talmo-cli uses them: the platform's backend (real or
// virtual) with two additions on every opened device.
//
//   - a log: each exchange (a report written, then the answer read, or none)
//     is appended to a file as one line in the emulator's exchange-log
//     format, "<ms, 3 decimals> <65 request bytes> <65 answer bytes or ->";
//   - a stop: once the flag given is set, every write and read fails at once,
//     so that the running operation ends at its next exchange; release()
//     lets the last few reports through (the PIC's leave command).
#pragma once

#include "link/hid_backend.h"

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace talmo {
class Clock;
}

namespace talmo::cli {

class GuardedBackend final : public HidBackend {
public:
    GuardedBackend(HidBackend& inner, Clock& clock, const volatile std::sig_atomic_t* stop);
    ~GuardedBackend() override;

    // Appends from now on to `path`. False, with errno's meaning in *error,
    // when it cannot be opened.
    bool logTo(const std::string& path, std::string* error);
    // Reports go through again, the stop flag notwithstanding.
    void release() { released_ = true; }

    std::vector<HidInterfaceInfo> enumerate() override { return inner_.enumerate(); }
    std::unique_ptr<HidHandle> open(const std::string& path, HidOpenError* error) override;
    bool startEvents() override { return inner_.startEvents(); }
    int eventFd() const override { return inner_.eventFd(); }
    std::vector<HidDeviceEvent> takeEvents() override { return inner_.takeEvents(); }

    // Called by the handles.
    bool stopped() const { return stop_ && *stop_ && !released_; }
    void wrote(const std::uint8_t* buf, std::size_t len);
    void read(const std::uint8_t* buf, int count);

private:
    using Bytes = std::array<std::uint8_t, 65>;
    void flush(const std::optional<Bytes>& answer);

    HidBackend& inner_;
    Clock& clock_;
    const volatile std::sig_atomic_t* stop_;
    bool released_ = false;
    std::FILE* log_ = nullptr;
    std::optional<Bytes> request_; // written, its answer not yet read
    std::int64_t requestUs_ = 0;
};

} // namespace talmo::cli
