// Counting and matching in the exchange log, and its text file.
#include "sim_test_util.h"

#include "sim/exchange_log.h"
#include "tests/common/files.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using sim::ExchangeLog;
using sim::Match;
using simtest::request;

namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ' ');)
        out.push_back(field);
    return out;
}

} // namespace

TEST(ExchangeLog, TextLinesHoldTimeRequestAndAnswer) {
    sim::Report req = request('Y', {2, 0x04});
    req[64] = 0xAB;
    sim::Report ans = req;
    ans[2] = 0x3F;
    ans[3] = 0xFF;
    const std::string reqHex = "00590204" + std::string(120, '0') + "AB";
    const std::string ansHex = "00593FFF" + std::string(120, '0') + "AB";
    struct Case {
        std::int64_t us;
        bool answered;
        std::vector<std::string> fields;
    };
    const Case cases[] = {{0, true, {"0.000", reqHex, ansHex}},
                          {1500, false, {"1.500", reqHex, "-"}},
                          {123456789, true, {"123456.789", reqHex, ansHex}}};
    for (const auto& c : cases)
        EXPECT_EQ(split(ExchangeLog::formatLine(
                      {c.us, req, c.answered ? std::optional(ans) : std::nullopt})),
                  c.fields);
}

TEST(ExchangeLog, FileGetsOneLinePerExchange) {
    const talmo::test::TempDir dir;
    const std::string path = dir.file("log.txt");
    {
        talmo::VirtualClock clock;
        sim::VirtualUsb bus(clock);
        const int id = bus.plug(std::make_unique<sim::Talmo>());
        auto& log = bus.device(id)->log();
        std::string error;
        ASSERT_TRUE(log.streamToFile(path, &error)) << error;
        bus.setLatencyUs(2000);
        const auto p = *bus.pathOf(id);
        bus.exchange(p, request('V'));
        bus.exchange(p, request('Q')); // no answer
        log.stopStreaming();
        ASSERT_TRUE(log.appendToFile(path, &error)) << error; // the same two again
    }
    const std::vector<std::string> lines = talmo::test::Lines(talmo::test::ReadFile(path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], lines[2]);
    EXPECT_EQ(lines[1], lines[3]);
    EXPECT_EQ(split(lines[1])[0] + " " + split(lines[1])[2], "2.000 -");
    EXPECT_EQ(split(lines[0])[2].size(), 130u);

    ExchangeLog log;
    std::string error;
    EXPECT_FALSE(log.appendToFile("/nonexistent-dir/x/log.txt", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(log.streamToFile("/nonexistent-dir/x/log.txt", &error));
}
