// Time source for every wait and timeout of the program.
//
// The real clock sleeps; the virtual clock only advances a counter, so that a
// programming sequence with thousands of 8 ms waits runs in tests at once while
// still being checked for its timing (the emulator reads the same clock).
#pragma once

#include <cstdint>

namespace talmo {

class Clock {
public:
    virtual ~Clock() = default;
    // Microseconds since an arbitrary origin; never decreases.
    virtual std::int64_t nowUs() = 0;
    // Blocks (or, on a virtual clock, advances time) for at least `us` microseconds.
    virtual void sleepUs(std::int64_t us) = 0;

    void sleepMs(int ms) { sleepUs(static_cast<std::int64_t>(ms) * 1000); }
    std::int64_t nowMs() { return nowUs() / 1000; }
};

// Monotonic wall clock; sleeping really sleeps.
class RealClock final : public Clock {
public:
    std::int64_t nowUs() override;
    void sleepUs(std::int64_t us) override;
};

// Time that moves only when someone sleeps on it or advances it.
class VirtualClock final : public Clock {
public:
    std::int64_t nowUs() override { return now_; }
    void sleepUs(std::int64_t us) override {
        if (us > 0)
            now_ += us;
    }
    void advanceUs(std::int64_t us) { sleepUs(us); }

private:
    std::int64_t now_ = 0;
};

} // namespace talmo
