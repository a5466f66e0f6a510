#include "hex/hex_records.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talmo {

namespace {

// Value of each character as a hex digit, -1 for every other character: a
// table keeps the reading of random data free of unpredictable branches.
struct HexDigitTable {
    signed char value[256];
    constexpr HexDigitTable() : value() {
        for (int c = 0; c < 256; ++c)
            value[c] = -1;
        for (int d = 0; d < 10; ++d)
            value['0' + d] = static_cast<signed char>(d);
        for (int d = 0; d < 6; ++d) {
            value['A' + d] = static_cast<signed char>(10 + d);
            value['a' + d] = static_cast<signed char>(10 + d);
        }
    }
};
constexpr HexDigitTable kHexDigits;

int HexDigitValue(char c) { return kHexDigits.value[static_cast<unsigned char>(c)]; }

constexpr char kUpperDigits[] = "0123456789ABCDEF";

char* PutHexByte(char* out, unsigned value) {
    out[0] = kUpperDigits[(value >> 4) & 0xF];
    out[1] = kUpperDigits[value & 0xF];
    return out + 2;
}

// Closes a descriptor when the front end returns, on every path.
struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

int ParseHexByte(char first, char second) {
    const int high = HexDigitValue(first);
    const int low = HexDigitValue(second);
    if (high < 0 || low < 0)
        return -1;
    return high * 16 + low;
}

int HexPairAt(std::string_view line, std::size_t index) {
    if (index >= line.size() || line.size() - index < 2)
        return -1;
    return ParseHexByte(line[index], line[index + 1]);
}

bool HexChecksumMatches(int sum, int checksum) {
    if (checksum < 0)
        return false;
    // The sum may hold -1 pairs; two's complement keeps "mod 256" exact.
    const unsigned expected = (256u - (static_cast<unsigned>(sum) & 0xFFu)) & 0xFFu;
    return static_cast<unsigned>(checksum) == expected;
}

std::string_view HexText::text() const {
    if (!block)
        return {};
    return std::string_view(block.get(), std::strlen(block.get()));
}

bool LoadHexText(Ui& ui, const std::string& path, HexText& out) {
    out.block.reset();

    // Non-blocking open so that a FIFO without a writer cannot hang the
    // interface; it is refused just below like any other non-regular file.
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) {
        ui.errorBox(kHexCannotRead, kHexReadCaption);
        return false;
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        ui.errorBox(kHexNoSize, kHexReadCaption);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        ui.errorBox(kHexCannotRead, kHexReadCaption);
        return false;
    }
    if (info.st_size < 0 ||
        static_cast<unsigned long long>(info.st_size) >= static_cast<std::size_t>(-1) / 2) {
        ui.errorBox(kHexNoSize, kHexReadCaption);
        return false;
    }
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    std::unique_ptr<char[]> block(new (std::nothrow) char[size + 1]());
    if (!block) {
        ui.errorBox(kHexNoMemory, kHexReadCaption);
        return false;
    }
    // One read brings the whole file; a read interrupted by a signal, or a
    // file that shrank meanwhile, is a read failure rather than a silently
    // truncated text.
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(file.fd, block.get() + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ui.errorBox(kHexReadFailed, kHexReadCaption);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    block[size] = '\0';
    out.block = std::move(block);
    return true;
}

bool NextHexLine(std::string_view& rest, std::string_view& line) {
    while (!rest.empty() && rest.front() == '\n')
        rest.remove_prefix(1);
    if (rest.empty())
        return false;
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
        line = rest;
        rest = {};
    } else {
        line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return true;
}

FileDialogRequest HexFileDialog(const std::string& initialPath) {
    FileDialogRequest request;
    // "*" rather than "*.*": on this platform a file needs no dot in its name.
    request.filters = {{"Fichiers HEX (*.hex)", "*.hex"}, {"Tous les fichiers (*)", "*"}};
    request.defaultExtension = "hex";
    request.initialPath = initialPath;
    request.confirmOverwrite = true;
    return request;
}

std::size_t FormatHexRecord(char* out, std::uint16_t address, std::uint8_t type,
                            const std::uint8_t* data, std::size_t count) {
    if (count > 255)
        return 0;
    char* p = out;
    *p++ = ':';
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFFu) + type;
    p = PutHexByte(p, static_cast<unsigned>(count));
    p = PutHexByte(p, address >> 8);
    p = PutHexByte(p, address & 0xFFu);
    p = PutHexByte(p, type);
    for (std::size_t i = 0; i < count; ++i) {
        sum += data[i];
        p = PutHexByte(p, data[i]);
    }
    p = PutHexByte(p, (256u - (sum & 0xFFu)) & 0xFFu);
    *p++ = '\r';
    *p++ = '\n';
    return static_cast<std::size_t>(p - out);
}

namespace {

// Opens a path that is not a regular file (a FIFO, a device) for writing
// without waiting: a FIFO without a reader fails at once (ENXIO). Writes then
// block as usual. -1 when it cannot be opened.
int OpenSpecialOutput(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

// True when `path` names something other than a regular file (or nothing).
bool IsSpecialOutput(const std::string& path, bool* directory) {
    struct stat info {};
    *directory = false;
    if (::stat(path.c_str(), &info) != 0)
        return false;
    *directory = S_ISDIR(info.st_mode);
    return !S_ISREG(info.st_mode);
}

// The regular file that a path leads to: a symbolic link is followed, so that
// the link stays and its target is replaced.
std::string RegularDestination(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* target = ::realpath(path.c_str(), nullptr)) {
            std::string resolved = target;
            std::free(target);
            return resolved;
        }
    }
    return path;
}

// Creates a new, empty temporary file beside `destination`, with the
// permissions of the file it will replace (or the usual ones for a new
// file). -1 when the folder takes no new file.
int CreateTemporary(const std::string& destination, std::string* temporary) {
    const std::size_t slash = destination.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : destination.substr(0, slash + 1);
    const std::string name =
        slash == std::string::npos ? destination : destination.substr(slash + 1);
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                     std::to_string(serial++) + ".tmp";
        const int fd =
            ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat old {};
            if (::stat(destination.c_str(), &old) == 0)
                (void)::fchmod(fd, old.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    temporary->clear();
    return -1;
}

long SystemWrite(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }

} // namespace

const HexFileCalls& SystemHexFileCalls() {
    static const HexFileCalls calls{SystemWrite, ::fsync, ::close, ::rename};
    return calls;
}

HexFileWriter::~HexFileWriter() { close(); }

void HexFileWriter::close() {
    if (fd_ >= 0) {
        calls_.close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool HexFileWriter::create(const std::string& path) {
    close();
    failed_ = false;
    failedStep_ = HexWriteStep::None;
    bool directory = false;
    if (IsSpecialOutput(path, &directory)) {
        destination_ = path;
        fd_ = directory ? -1 : OpenSpecialOutput(path);
    } else {
        destination_ = RegularDestination(path);
        fd_ = CreateTemporary(destination_, &temporary_);
    }
    if (fd_ < 0) {
        failed_ = true;
        failedStep_ = HexWriteStep::Create;
        ui_.errorBox(kHexCannotCreate, kHexWriteCaption);
        return false;
    }
    return writeLine(kHexFirstLine);
}

bool HexFileWriter::fail(HexWriteStep step) {
    failed_ = true;
    failedStep_ = step;
    close();
    ui_.errorBox(kHexCannotWrite, kHexWriteCaption);
    return false;
}

bool HexFileWriter::writeRaw(const char* data, std::size_t size) {
    if (failed_ || fd_ < 0) {
        failed_ = true;
        return false;
    }
    long n;
    do {
        n = calls_.write(fd_, data, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || static_cast<std::size_t>(n) != size)
        return fail(HexWriteStep::Write);
    return true;
}

bool HexFileWriter::writeLine(std::string_view text) {
    char buffer[kHexMaxRecordLine];
    // Longer than any record: nothing of ours writes such a line.
    if (text.size() + 2 > sizeof buffer)
        return fail(HexWriteStep::Write);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\r';
    buffer[text.size() + 1] = '\n';
    return writeRaw(buffer, text.size() + 2);
}

bool HexFileWriter::writeRecord(std::uint16_t address, std::uint8_t type, const std::uint8_t* data,
                                std::size_t count) {
    char buffer[kHexMaxRecordLine];
    const std::size_t length = FormatHexRecord(buffer, address, type, data, count);
    if (length == 0)
        return fail(HexWriteStep::Write);
    return writeRaw(buffer, length);
}

bool HexFileWriter::finish() {
    if (!writeLine(kHexEndLine))
        return false;
    // Data that never reached the disk (a full file system on close) must
    // not replace a good file.
    if (!temporary_.empty() && calls_.fsync(fd_) != 0)
        return fail(HexWriteStep::Flush);
    const int rc = calls_.close(fd_);
    fd_ = -1;
    if (rc != 0)
        return fail(HexWriteStep::Close);
    if (!temporary_.empty()) {
        if (calls_.rename(temporary_.c_str(), destination_.c_str()) != 0)
            return fail(HexWriteStep::Rename);
        temporary_.clear();
    }
    return true;
}

HexOutputCheck::~HexOutputCheck() {
    if (held_ >= 0)
        ::close(held_);
}

bool HexOutputCheck::check(Ui& ui, const std::string& path) {
    if (held_ >= 0) {
        ::close(held_);
        held_ = -1;
    }
    bool directory = false;
    bool ok = false;
    if (IsSpecialOutput(path, &directory)) {
        held_ = directory ? -1 : OpenSpecialOutput(path);
        ok = held_ >= 0;
    } else {
        std::string temporary;
        const int fd = CreateTemporary(RegularDestination(path), &temporary);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            ok = true;
        }
    }
    if (!ok)
        ui.errorBox(kHexCannotCreate, kHexWriteCaption);
    return ok;
}

} // namespace talmo
