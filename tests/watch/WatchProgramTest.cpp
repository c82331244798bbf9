// tactimo-watch run as a program, with a sender of the test's own, on the
// backend fixture: JACK (a private server) and the ALSA sequencer (in the VM).

#include "core/ClockAnalyzer.h"
#include "support/AlsaTestSender.h"
#include "support/ChildProcess.h"
#include "support/JackTestSender.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/wait.h>

namespace tactimo::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using Args = std::vector<std::string>;

Json parsed(const std::string& line) {
    return Json::parse(line.empty() ? "{}" : line);
}

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
    void play() {
        for (int i = 0; i < 1000 && sender.listeners() < 1; ++i) std::this_thread::sleep_for(10ms);
        sender.send({0xFA});
        sender.clock(123.45);
    }
    // The tempo it sends at on CLOCK_MONOTONIC: the fit of its last 192 ticks' send times.
    double sentTempo() {
        std::vector<double> times;
        for (std::int64_t tick = std::max<std::int64_t>(sender.sent() - 192, 0); tick < sender.sent(); ++tick)
            times.push_back(sender.sentAt(tick));
        const auto fit = ClockAnalyzer::fit(times);
        return fit ? 60.0 / (24.0 * fit->slope) : 0.0;
    }
    typename Backend::Sender sender{"Tactimo Watch Sender"};
};
TYPED_TEST_SUITE_P(WatchProgram);

// Listed once by name, the virtual port last; a line per beat, one beat on
// from the line before, at the tempo sent to 0.01 BPM; however it is ended,
// it ends at once with status 0.
TYPED_TEST_P(WatchProgram, ListsFollowsAndEnds) {
    for (const bool json : {false, true}) {
        ChildProcess list(json ? Args{WATCH_PROGRAM, "--list", "--json"} : Args{WATCH_PROGRAM, "--list"}, true);
        Args names;
        for (std::string line; !(line = list.readLine(5s)).empty();)
            names.push_back(json ? parsed(line).at("name").get<std::string>() : line);
        EXPECT_EQ(exitStatus(list), 0);
        EXPECT_EQ(std::ranges::count(names, this->sender.source()), 1);
        EXPECT_EQ(names.empty() ? "" : names.back(), "Virtual port");
    }

    ChildProcess watch({WATCH_PROGRAM, "--json"}, true);
    this->play();
    const auto beat = [](const Json& j) {
        return (j.at("position").at("bar").get<int>() - 1) * 4 + j.at("position").at("beat").get<int>();
    };
    std::optional<Json> previous;
    int beats = 0;
    double got = 0;
    for (std::string line; beats < 200 && !(line = watch.readLine(5s)).empty();) {
        const Json j = Json::parse(line);
        const bool playing = j.at("state") == "playing";
        if (playing && previous) {
            EXPECT_EQ(beat(j), beat(*previous) + 1) << j;
            EXPECT_EQ(j.at("position").at("sixteenth"), 1) << j;
            ++beats;
        }
        previous = playing ? std::optional(j) : std::nullopt;
        if (playing && j.at("settled").get<bool>()) got = j.at("exactBPM").get<double>();
        if (beats >= 12 && std::fabs(got - this->sentTempo()) < 0.01) break;
    }
    EXPECT_NEAR(got, this->sentTempo(), 0.01) << "after " << beats << " beats";
    ::close(std::exchange(watch.out, -1)); // the reader goes, as `| head -3` does
    EXPECT_EQ(exitStatus(watch), 0);
    for (const int signal : {SIGINT, SIGTERM}) {
        ChildProcess ticks({WATCH_PROGRAM, "--ticks", "--json"}, true);
        for (const char* field : {"source", "time"}) EXPECT_TRUE(parsed(ticks.readLine(5s)).contains(field)) << signal;
        ::kill(ticks.pid, signal);
        EXPECT_EQ(exitStatus(ticks), 0) << signal;
    }
}

REGISTER_TYPED_TEST_SUITE_P(WatchProgram, ListsFollowsAndEnds);
INSTANTIATE_TYPED_TEST_SUITE_P(Jack, WatchProgram, JackBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Alsa, WatchProgram, AlsaBackend);

} // namespace
} // namespace tactimo::test
