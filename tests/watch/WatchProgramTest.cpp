// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/ClockAnalyzer.h"
#include "support/AlsaTestSender.h"
#include "support/ChildProcess.h"
#include "support/JackTestSender.h"

#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

namespace tactimo::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// Its exit status (128 + the signal that ended it), waited for a while.
std::optional<int> exitStatus(ChildProcess& program) {
    for (int i = 0, raw = 0; i < 500; ++i) {
        if (::waitpid(program.pid, &raw, WNOHANG) == program.pid) {
            program.pid = -1;
            return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        }
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

template <typename Backend>
class WatchProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = Backend::unavailable()) GTEST_SKIP() << *why;
        ASSERT_TRUE(sender.ok());
    }
    typename Backend::Sender sender{"Tactimo Watch Sender"};
};
TYPED_TEST_SUITE_P(WatchProgram);

// Against a sender of our own: listed once, the virtual port last; its tempo followed to 0.01 BPM; however the
// program is ended, it ends at once with status 0.
TYPED_TEST_P(WatchProgram, ListsFollowsAndEnds) {
    auto& sender = this->sender;
    ChildProcess list({WATCH_PROGRAM, "--list", "--json"}, true);
    std::vector<std::string> names;
    for (std::string line; !(line = list.readLine(5s)).empty();) names.push_back(Json::parse(line).at("name"));
    EXPECT_EQ(exitStatus(list), 0);
    EXPECT_EQ(std::ranges::count(names, sender.source()), 1);
    EXPECT_EQ(names.empty() ? "" : names.back(), "Virtual port");
    ChildProcess watch({WATCH_PROGRAM, "--json"}, true);
    for (int i = 0; i < 1000 && sender.listeners() < 1; ++i) std::this_thread::sleep_for(10ms);
    sender.send({0xFA}), sender.clock(123.45);
    const auto sentTempo = [&] { // the fit of the last 192 ticks' send times, on CLOCK_MONOTONIC
        std::vector<double> times;
        for (std::int64_t tick = std::max<std::int64_t>(sender.sent() - 192, 0); tick < sender.sent(); ++tick)
            times.push_back(sender.sentAt(tick));
        const auto fit = ClockAnalyzer::fit(times);
        return fit ? 60.0 / (24.0 * fit->slope) : 0.0;
    };
    double got = 0;
    for (std::string line; std::fabs(got - sentTempo()) >= 0.01 && !(line = watch.readLine(5s)).empty();)
        if (const Json j = Json::parse(line); j.at("state") == "playing" && j.at("settled").get<bool>())
            got = j.at("exactBPM").get<double>();
    EXPECT_NEAR(got, sentTempo(), 0.01);
    ::close(std::exchange(watch.out, -1)); // the reader goes, as `| head -3` does
    EXPECT_EQ(exitStatus(watch), 0);

    for (const int signal : {SIGINT, SIGTERM}) {
        ChildProcess ticks({WATCH_PROGRAM, "--ticks"}, true);
        EXPECT_NE(ticks.readLine(5s), "") << signal;
        EXPECT_EQ((::kill(ticks.pid, signal), exitStatus(ticks)), 0) << signal;
    }
}

REGISTER_TYPED_TEST_SUITE_P(WatchProgram, ListsFollowsAndEnds);
INSTANTIATE_TYPED_TEST_SUITE_P(Jack, WatchProgram, JackBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Alsa, WatchProgram, AlsaBackend);

} // namespace
} // namespace tactimo::test
