#include "link/linux_backend.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct DescriptorCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint16_t input;
    std::uint16_t output;
    bool numbered;
    bool valid;
};

// Vendor page, 8-bit fields; the counts vary per case.
const std::vector<std::uint8_t> kHead = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                         0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08};

std::vector<std::uint8_t> with(std::vector<std::uint8_t> body) {
    std::vector<std::uint8_t> d = kHead;
    d.insert(d.end(), body.begin(), body.end());
    d.push_back(0xC0);
    return d;
}

TEST(ReportDescriptor, LengthsIncludeTheReportIdByte) {
    const DescriptorCase cases[] = {
        {"64 in, 64 out",
         with({0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02}), 65, 65,
         false, true},
        {"input only", with({0x95, 0x40, 0x81, 0x02}), 65, 0, false, true},
        {"128 bytes, two-byte count",
         with({0x96, 0x80, 0x00, 0x81, 0x02, 0x96, 0x80, 0x00, 0x91, 0x02}), 129, 129, false, true},
        {"bits round up to bytes", with({0x75, 0x01, 0x95, 0x0C, 0x81, 0x02}), 3, 0, false, true},
        {"fields of one report add up",
         with({0x95, 0x20, 0x81, 0x02, 0x95, 0x20, 0x81, 0x02, 0x95, 0x08, 0x91, 0x02}), 65, 9,
         false, true},
        {"numbered reports: the longest counts",
         with({0x85, 0x01, 0x95, 0x10, 0x81, 0x02, 0x85, 0x02, 0x95, 0x30, 0x81, 0x02, 0x95, 0x04,
               0x91, 0x02}),
         49, 5, true, true},
        {"push and pop restore the field size",
         with({0xA4, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02, 0xB4, 0x95, 0x02, 0x81, 0x02}), 7, 0,
         false, true},
        {"feature reports are not counted", with({0x95, 0x40, 0xB1, 0x02}), 0, 0, false, true},
        {"long item skipped", with({0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x95, 0x40, 0x81, 0x02}), 65, 0,
         false, true},
        {"truncated item", {0x06, 0x00}, 0, 0, false, false},
        {"truncated long item", {0xFE, 0x05, 0x10, 0x01}, 0, 0, false, false},
        {"pop without push", {0xB4}, 0, 0, false, false},
        {"empty", {}, 0, 0, false, true},
    };
    for (const DescriptorCase& c : cases) {
        SCOPED_TRACE(c.name);
        const talmo::ReportLengths l = talmo::ParseReportDescriptor(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(l.valid, c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(l.input, c.input);
        EXPECT_EQ(l.output, c.output);
        EXPECT_EQ(l.numbered, c.numbered);
    }
}

} // namespace
