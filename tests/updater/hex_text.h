// Test-side HEX text: firmware files built independently of the program's
// writer, and the lines of a file read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace talmo::test {

// ":10AAAA00" + 16 bytes + checksum, without the line end.
inline std::string DataLine16(int address, const std::uint8_t* data) {
    char buf[16];
    std::snprintf(buf, sizeof buf, ":10%04X00", address);
    std::string line = buf;
    int sum = 0x10 + (address >> 8) + (address & 0xFF);
    for (int i = 0; i < 16; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", data[i]);
        line += buf;
        sum += data[i];
    }
    std::snprintf(buf, sizeof buf, "%02X", (-sum) & 0xFF);
    return line + buf;
}

// A whole firmware file: application area and EEPROM, CR LF line ends.
inline std::string FirmwareFileText(const std::uint8_t* program /* 0x8000 */, const std::uint8_t* eeprom /* 0x100 */) {
    std::string text = ":020000040000FA\r\n";
    for (int a = 0x1300; a < 0x8000; a += 16)
        text += DataLine16(a, program + a) + "\r\n";
    text += ":0200000400F00A\r\n";
    for (int e = 0; e < 0x100; e += 16)
        text += DataLine16(e, eeprom + e) + "\r\n";
    return text + ":00000001FF\r\n";
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Lines split at CR LF (the last one without its line end, if any).
inline std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("talmo-updater-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace talmo::test
