// Helpers shared by the HEX tests: a temporary folder, whole-file I/O and an
// independent record builder (so test inputs do not come from the writer
// under test).
#pragma once

#include "shell/scripted_ui.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <ftw.h>
#include <unistd.h>

namespace hextest {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/talmo-hex-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempDir() {
        if (!path_.empty())
            ::nftw(path_.c_str(), Remove, 8, FTW_DEPTH | FTW_PHYS);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    static int Remove(const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines of a written file; each must end with CR LF (checked by the caller
// through the byte count), the CR LF is removed here.
inline std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// ':' LL AAAA TT data CC with a correct checksum (plus `checksumDelta`).
inline std::string Record(unsigned address, unsigned type, const std::vector<unsigned>& data,
                          int checksumDelta = 0) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    char buf[16];
    std::string line = ":";
    std::snprintf(buf, sizeof buf, "%02X%04X%02X", static_cast<unsigned>(data.size()), address,
                  type);
    line += buf;
    for (unsigned b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b & 0xFF);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF) + checksumDelta) & 0xFF);
    line += buf;
    return line;
}

// The texts of the message boxes shown, in order.
inline std::vector<std::string> BoxTexts(const talmo::ScriptedUi& ui) {
    std::vector<std::string> texts;
    for (const auto& e : ui.boxes())
        texts.push_back(e.text);
    return texts;
}

} // namespace hextest
