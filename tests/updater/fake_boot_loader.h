// A scripted boot loader behind a HidHandle, for tests that need exact
// control over each answer (refusals, silence, wrong echoes, short answers).
// Its memories follow the boot loader's rules: 'R' returns the 32 bytes at
// the request's address, program 'W' stores at the request's address, EEPROM
// 'W' at the block's last address minus 31.
#pragma once

#include "link/device_link.h"
#include "shell/clock.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talmo::test {

struct FakeBootLoader {
    std::array<std::uint8_t, 0x8000> program{};
    std::array<std::uint8_t, 0x100> eeprom{};
    std::string version = "TALMO BL V1.07";
    std::vector<Report> requests; // every report written, in order
    Clock* clock = nullptr;       // a silent read costs its time-out here

    // Called for each request before the normal answer is made: may replace
    // the answer (return a report), silence it (return an empty optional with
    // *silence set) or leave it (return nothing). `n` counts requests from 0.
    std::function<std::optional<Report>(const Report& request, int n, bool* silence)> fault;
    int answerLength = kReportSize; // bytes returned by each read

    std::optional<Report> pending;

    FakeBootLoader() {
        program.fill(0xFF);
        eeprom.fill(0xFF);
    }

    void receive(const Report& request) {
        requests.push_back(request);
        const int n = static_cast<int>(requests.size()) - 1;
        if (fault) {
            bool silence = false;
            std::optional<Report> replaced = fault(request, n, &silence);
            if (silence) { pending.reset(); return; }
            if (replaced) { pending = replaced; return; }
        }
        pending = answer(request);
    }

    std::optional<Report> answer(const Report& request) {
        Report a = request; // the boot loader answers in the buffer it received
        a[0] = 0;
        const int address = request[3] << 8 | request[4];
        switch (request[1]) {
        case 'V':
            std::memcpy(&a[2], version.c_str(), std::min<std::size_t>(version.size() + 1, 63));
            return a;
        case 'R':
            a[2] = request[2];
            a[3] = request[3];
            a[4] = request[4];
            for (int i = 0; i < 32; ++i)
                a[5 + i] = request[2] == 1 ? program[(address + i) & 0x7FFF] : eeprom[(address + i) & 0xFF];
            return a;
        case 'W':
            if (request[2] == 0) {
                for (int i = 0; i < 32; ++i)
                    eeprom[(address - 31 + i) & 0xFF] = request[5 + i];
            } else {
                for (int i = 0; i < 32; ++i)
                    program[(address + i) & 0x7FFF] = request[5 + i];
            }
            a[2] = 1;
            return a;
        default: // 'Z' and unknown requests get no answer
            return std::nullopt;
        }
    }

    // Requests with that command letter, in order.
    std::vector<Report> sent(char letter) const {
        std::vector<Report> out;
        for (const auto& r : requests)
            if (r[1] == static_cast<std::uint8_t>(letter))
                out.push_back(r);
        return out;
    }
};

class FakeHandle final : public HidHandle {
public:
    explicit FakeHandle(FakeBootLoader& device) : device_(device) {}
    int write(const std::uint8_t* buf, std::size_t len) override {
        Report r{};
        std::memcpy(r.data(), buf, std::min(len, r.size()));
        device_.receive(r);
        return static_cast<int>(len);
    }
    int read(std::uint8_t* buf, std::size_t len, int timeoutMs) override {
        if (!device_.pending) {
            if (device_.clock)
                device_.clock->sleepMs(timeoutMs);
            return 0;
        }
        const std::size_t n = std::min<std::size_t>(len, static_cast<std::size_t>(device_.answerLength));
        std::memcpy(buf, device_.pending->data(), n);
        device_.pending.reset();
        return static_cast<int>(n);
    }

private:
    FakeBootLoader& device_;
};

// A link whose two handles lead to the fake, as if it were open.
inline void ConnectFake(DeviceLink& link, FakeBootLoader& device) {
    link.readHandle = std::make_unique<FakeHandle>(device);
    link.writeHandle = std::make_unique<FakeHandle>(device);
    link.productId = kBootLoaderProductId;
    link.inputReportLength = kReportSize;
    link.outputReportLength = kReportSize;
}

} // namespace talmo::test
