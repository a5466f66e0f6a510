#include "sim/exchange_log.h"

#include <cerrno>
#include <cstring>

namespace sim {

Match& Match::byte(int index, std::uint8_t value) {
    if (index >= 0 && index < static_cast<int>(std::tuple_size<Report>::value)) {
        for (auto& b : bytes_)
            if (b.index == index) {
                b.value = value;
                return *this;
            }
        bytes_.push_back({index, value});
    }
    return *this;
}

Match& Match::answered(bool yes) {
    answered_ = yes;
    return *this;
}

bool Match::operator()(const Exchange& e) const {
    if (answered_ && *answered_ != e.answer.has_value())
        return false;
    for (const auto& b : bytes_)
        if (e.request[static_cast<std::size_t>(b.index)] != b.value)
            return false;
    return true;
}

ExchangeLog::~ExchangeLog() { stopStreaming(); }

void ExchangeLog::record(std::int64_t timeUs, const Report& request,
                         const std::optional<Report>& answer) {
    if (enabled_)
        entries_.push_back({timeUs, request, answer});
    if (file_) {
        const std::string line = formatLine({timeUs, request, answer}) + "\n";
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
    }
}

std::size_t ExchangeLog::count(const Match& m, std::size_t from) const {
    std::size_t n = 0;
    for (std::size_t i = from; i < entries_.size(); ++i)
        if (m(entries_[i]))
            ++n;
    return n;
}

std::vector<std::size_t> ExchangeLog::indices(const Match& m, std::size_t from) const {
    std::vector<std::size_t> out;
    for (std::size_t i = from; i < entries_.size(); ++i)
        if (m(entries_[i]))
            out.push_back(i);
    return out;
}

std::vector<std::uint8_t> ExchangeLog::requestBytes(const Match& m, int index,
                                                    std::size_t from) const {
    std::vector<std::uint8_t> out;
    if (index < 0 || index >= static_cast<int>(std::tuple_size<Report>::value))
        return out;
    for (std::size_t i = from; i < entries_.size(); ++i)
        if (m(entries_[i]))
            out.push_back(entries_[i].request[static_cast<std::size_t>(index)]);
    return out;
}

std::vector<TargetStep> ExchangeLog::targetSteps(std::size_t from) const {
    std::vector<TargetStep> out;
    for (std::size_t i = from; i < entries_.size(); ++i) {
        const auto& r = entries_[i].request;
        if (r[1] != 'Y')
            continue;
        out.push_back({r[2], r[3], static_cast<std::uint16_t>(r[4] << 8 | r[5]),
                       entries_[i].answer.has_value()});
    }
    return out;
}

std::size_t ExchangeLog::countTarget(std::uint8_t sub, std::uint8_t code, std::size_t from) const {
    return count(Match('Y').byte(2, sub).byte(3, code), from);
}

namespace {

void AppendHex(std::string& s, const Report& r) {
    static const char digits[] = "0123456789ABCDEF";
    for (auto b : r) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
}

} // namespace

std::string ExchangeLog::formatLine(const Exchange& e) {
    std::string s;
    s.reserve(16 + 2 * 130 + 2);
    const std::int64_t t = e.timeUs < 0 ? 0 : e.timeUs;
    s += std::to_string(t / 1000);
    s += '.';
    const auto frac = std::to_string(1000 + t % 1000);
    s += frac.substr(1);
    s += ' ';
    AppendHex(s, e.request);
    s += ' ';
    if (e.answer)
        AppendHex(s, *e.answer);
    else
        s += '-';
    return s;
}

bool ExchangeLog::appendToFile(const std::string& path, std::string* error) const {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (const auto& e : entries_) {
        const std::string line = formatLine(e) + "\n";
        if (std::fwrite(line.data(), 1, line.size(), f) != line.size()) {
            ok = false;
            break;
        }
    }
    if (std::fclose(f) != 0)
        ok = false;
    if (!ok && error)
        *error = "cannot write " + path;
    return ok;
}

bool ExchangeLog::streamToFile(const std::string& path, std::string* error) {
    stopStreaming();
    file_ = std::fopen(path.c_str(), "ab");
    if (!file_) {
        if (error)
            *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ExchangeLog::stopStreaming() {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

} // namespace sim
