#include "cli/guarded_backend.h"

#include "core/clock.h"
#include "sim/exchange_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace talmo::cli {

namespace {

class GuardedHandle final : public HidHandle {
public:
    GuardedHandle(std::unique_ptr<HidHandle> inner, GuardedBackend& owner)
        : inner_(std::move(inner)), owner_(owner) {}

    int write(const std::uint8_t* buf, std::size_t len) override {
        if (owner_.stopped())
            return -1;
        owner_.wrote(buf, len);
        return inner_->write(buf, len);
    }
    int read(std::uint8_t* buf, std::size_t len, int timeoutMs) override {
        if (owner_.stopped())
            return -1;
        const int count = inner_->read(buf, len, timeoutMs);
        owner_.read(buf, count);
        return count;
    }

private:
    std::unique_ptr<HidHandle> inner_;
    GuardedBackend& owner_;
};

} // namespace

GuardedBackend::GuardedBackend(HidBackend& inner, Clock& clock,
                               const volatile std::sig_atomic_t* stop)
    : inner_(inner), clock_(clock), stop_(stop) {}

GuardedBackend::~GuardedBackend() {
    if (request_)
        flush(std::nullopt);
    if (log_)
        std::fclose(log_);
}

bool GuardedBackend::logTo(const std::string& path, std::string* error) {
    log_ = std::fopen(path.c_str(), "ab");
    if (!log_)
        *error = std::strerror(errno);
    return log_ != nullptr;
}

std::unique_ptr<HidHandle> GuardedBackend::open(const std::string& path, HidOpenError* error) {
    std::unique_ptr<HidHandle> handle = inner_.open(path, error);
    if (!handle)
        return nullptr;
    return std::make_unique<GuardedHandle>(std::move(handle), *this);
}

void GuardedBackend::wrote(const std::uint8_t* buf, std::size_t len) {
    if (!log_)
        return;
    if (request_) // a report sent without reading an answer
        flush(std::nullopt);
    Bytes bytes{};
    std::copy_n(buf, std::min(len, bytes.size()), bytes.begin());
    request_ = bytes;
    requestUs_ = clock_.nowUs();
}

void GuardedBackend::read(const std::uint8_t* buf, int count) {
    if (!log_ || !request_)
        return;
    if (count <= 0) {
        flush(std::nullopt);
        return;
    }
    Bytes bytes{};
    std::copy_n(buf, std::min<std::size_t>(static_cast<std::size_t>(count), bytes.size()),
                bytes.begin());
    flush(bytes);
}

void GuardedBackend::flush(const std::optional<Bytes>& answer) {
    const std::string line = sim::ExchangeLog::formatLine({requestUs_, *request_, answer}) + "\n";
    std::fputs(line.c_str(), log_);
    std::fflush(log_);
    request_.reset();
}

} // namespace talmo::cli
