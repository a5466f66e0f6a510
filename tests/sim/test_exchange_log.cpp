// Counting and matching in the exchange log, and its text file.
#include "sim_test_util.h"

#include "sim/exchange_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using sim::ExchangeLog;
using sim::Match;
using simtest::request;

namespace {

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ' ')) out.push_back(field);
    return out;
}

std::string tempPath(const char* name)
{
    return std::string(::testing::TempDir()) + name + std::to_string(::getpid());
}

} // namespace

TEST(ExchangeLog, CountsAndMatchesRequests)
{
    ExchangeLog log;
    const std::uint8_t flags[] = {1, 2, 1, 2, 0, 0};
    for (std::uint8_t f : flags) log.record(0, request('W', {f, 0x13, 0x00}), request('W', {1}));
    log.record(0, request('Y', {4, 0x02, 0x12, 0x34}), request('Y'));
    log.record(0, request('Y', {3, 0x18}), std::nullopt);
    log.record(0, request('Y', {3, 0x18}), request('Y'));

    EXPECT_EQ(log.count('W'), 6u);
    EXPECT_EQ(log.count(Match('W').byte(2, 0)), 2u);
    EXPECT_EQ(log.count(Match('W'), 4), 2u);
    EXPECT_EQ(log.requestBytes(Match('W'), 2), (std::vector<std::uint8_t>(std::begin(flags), std::end(flags))));
    EXPECT_EQ(log.count(Match('Y').answered(false)), 1u);
    EXPECT_EQ(log.count(Match().answered()), 8u);
    EXPECT_EQ(log.countTarget(3, 0x18), 2u);
    EXPECT_EQ(log.indices(Match('Y')), (std::vector<std::size_t>{6, 7, 8}));
    const auto steps = log.targetSteps();
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].sub, 4);
    EXPECT_EQ(steps[0].code, 0x02);
    EXPECT_EQ(steps[0].word, 0x1234);
    EXPECT_FALSE(steps[1].answered);
    EXPECT_EQ(log.requestBytes(Match('W'), 65).size(), 0u); // out of the report: nothing

    log.setEnabled(false);
    log.record(0, request('B'), std::nullopt);
    EXPECT_EQ(log.size(), 9u);
}

TEST(ExchangeLog, TextLinesHoldTimeRequestAndAnswer)
{
    struct Case { std::int64_t us; bool answered; const char* time; };
    const Case cases[] = {{0, true, "0.000"}, {1500, false, "1.500"}, {123456789, true, "123456.789"}};
    for (const auto& c : cases) {
        sim::Report req = request('Y', {2, 0x04});
        req[64] = 0xAB;
        sim::Report ans = req;
        ans[2] = 0x3F;
        ans[3] = 0xFF;
        const auto line = ExchangeLog::formatLine({c.us, req, c.answered ? std::optional(ans) : std::nullopt});
        const auto f = split(line);
        ASSERT_EQ(f.size(), 3u) << line;
        EXPECT_EQ(f[0], c.time);
        ASSERT_EQ(f[1].size(), 130u);
        EXPECT_EQ(f[1].substr(0, 8), "00590204");
        EXPECT_EQ(f[1].substr(128), "AB");
        if (c.answered) {
            ASSERT_EQ(f[2].size(), 130u);
            EXPECT_EQ(f[2].substr(0, 8), "00593FFF");
        } else {
            EXPECT_EQ(f[2], "-");
        }
    }
}

TEST(ExchangeLog, FileGetsOneLinePerExchange)
{
    const auto path = tempPath("sim_log_");
    std::remove(path.c_str());
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
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], lines[2]);
    EXPECT_EQ(lines[1], lines[3]);
    EXPECT_EQ(split(lines[1])[0], "2.000");
    EXPECT_EQ(split(lines[1])[2], "-");
    EXPECT_NE(split(lines[0])[2], "-");

    ExchangeLog log;
    std::string error;
    EXPECT_FALSE(log.appendToFile("/nonexistent-dir/x/log.txt", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(log.streamToFile("/nonexistent-dir/x/log.txt", &error));
}
