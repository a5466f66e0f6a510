// Every exchange a virtual TALMO took part in: request, answer (or none) and
// the time on the clock when the request arrived. Tests state facts with it:
//
//   auto mark = dev.log().size();
//   ... run an operation ...
//   EXPECT_EQ(dev.log().count(sim::Match('Y'), mark), 13u);
//   auto flags = dev.log().requestBytes(sim::Match('W').answered(), 2, mark);
//
// The log can also go to a text file, one line per exchange:
//   <time in ms, 3 decimals> <65 request bytes, 130 hex digits> <65 answer bytes, 130 hex digits, or ->
// separated by single spaces, for example
//   12.000 0059020400...00 0059023FFF...00
#pragma once

#include "sim/virtual_usb.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct Exchange {
    std::int64_t timeUs = 0;
    Report request{};
    std::optional<Report> answer;
};

// A filter on exchanges: request byte 1 (the letter), any other request
// bytes, and whether an answer came.
class Match {
public:
    Match() = default;
    explicit Match(char letter) { byte(1, static_cast<std::uint8_t>(letter)); }
    Match& byte(int index, std::uint8_t value);
    Match& answered(bool yes = true);
    bool operator()(const Exchange& e) const;

private:
    struct Byte {
        int index;
        std::uint8_t value;
    };
    std::vector<Byte> bytes_;
    std::optional<bool> answered_;
};

// One 'Y' request decoded: sub-command, serial command code, data word.
struct TargetStep {
    std::uint8_t sub = 0;
    std::uint8_t code = 0;
    std::uint16_t word = 0;
    bool answered = false;
};

class ExchangeLog {
public:
    ExchangeLog() = default;
    ~ExchangeLog();
    ExchangeLog(const ExchangeLog&) = delete;
    ExchangeLog& operator=(const ExchangeLog&) = delete;

    void record(std::int64_t timeUs, const Report& request, const std::optional<Report>& answer);

    // Recording in memory can be turned off (benchmarks); the file, if any, still gets every line.
    void setEnabled(bool on) { enabled_ = on; }

    const std::vector<Exchange>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    void clear() { entries_.clear(); }

    // Counting and matching over the entries from index `from` on.
    std::size_t count(const Match& m, std::size_t from = 0) const;
    std::size_t count(char letter, std::size_t from = 0) const {
        return count(Match(letter), from);
    }
    std::vector<std::size_t> indices(const Match& m, std::size_t from = 0) const;
    // Request byte `index` of every matching exchange, in order.
    std::vector<std::uint8_t> requestBytes(const Match& m, int index, std::size_t from = 0) const;
    // The 'Y' requests, decoded.
    std::vector<TargetStep> targetSteps(std::size_t from = 0) const;
    // How many 'Y' requests carried this sub-command and serial command code.
    std::size_t countTarget(std::uint8_t sub, std::uint8_t code, std::size_t from = 0) const;

    // Text form of one exchange (no line end).
    static std::string formatLine(const Exchange& e);
    // Appends every entry to the file. On failure says why in *error.
    bool appendToFile(const std::string& path, std::string* error = nullptr) const;
    // From now on, appends each new exchange to the file as it happens.
    bool streamToFile(const std::string& path, std::string* error = nullptr);
    void stopStreaming();

private:
    std::vector<Exchange> entries_;
    bool enabled_ = true;
    std::FILE* file_ = nullptr;
};

} // namespace sim
