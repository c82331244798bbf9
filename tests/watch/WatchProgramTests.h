#pragma once

// tactimo-watch run as a program against a real MIDI service and a real
// sender. The suite needs only "some sender"; a backend's test file supplies
// one and instantiates the suite with it:
//
//   struct Sender {
//       static constexpr double bpm;        // the tempo it sends
//       std::string namePrefix() const;     // how its source's name starts
//       void awaitListeners(int n);         // until n programs listen to it
//       void play();
//       double tempo();                     // bpm as CLOCK_MONOTONIC measures it now
//       std::optional<std::string> unavailable() const; // optional: why it cannot run here
//   };

#include "support/ChildProcess.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tactimo::test {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// The program with its standard output on a pipe we read and its errors in a file.
class WatchProcess {
public:
    explicit WatchProcess(std::vector<std::string> args) {
        args.insert(args.begin(), WATCH_PROGRAM);
        int fds[2] = {-1, -1};
        char errors[] = "/tmp/tactimo-watch-errors-XXXXXX";
        errorFd_ = ::mkstemp(errors);
        ::unlink(errors);
        if (::pipe2(fds, O_CLOEXEC) != 0 || errorFd_ < 0) return;
        pid_ = spawn(std::move(args), {.in = -1, .out = fds[1], .err = errorFd_});
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~WatchProcess() {
        closeOutput();
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(errorFd_);
    }

    // The next line of its output, or none when none came in time or it ended.
    std::optional<std::string> line(std::chrono::milliseconds limit = 5s) {
        for (const auto deadline = std::chrono::steady_clock::now() + limit;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{out_, POLLIN, 0};
            if (out_ < 0 || left.count() <= 0 || ::poll(&fd, 1, int(left.count())) <= 0) return std::nullopt;
            char chunk[4096];
            const auto n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, std::size_t(n));
        }
    }
    std::optional<Json> json(std::chrono::milliseconds limit = 5s) {
        const auto text = line(limit);
        return text ? std::optional(Json::parse(*text)) : std::nullopt;
    }
    void closeOutput() {
        if (out_ >= 0) ::close(out_);
        out_ = -1;
    }
    void signal(int number) { ::kill(pid_, number); }
    // Its exit status (128 + the signal that ended it), or none while it runs.
    std::optional<int> exitStatus(std::chrono::milliseconds limit = 5s) {
        for (const auto deadline = std::chrono::steady_clock::now() + limit; !status_;) {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_)
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            else if (std::chrono::steady_clock::now() >= deadline)
                break;
            else
                std::this_thread::sleep_for(10ms);
        }
        return status_;
    }
    std::string errors() const {
        std::string text(size_t(::lseek(errorFd_, 0, SEEK_END)), '\0');
        text.resize(std::size_t(std::max<ssize_t>(::pread(errorFd_, text.data(), text.size(), 0), 0)));
        return text;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, errorFd_ = -1;
    std::string buffer_;
    std::optional<int> status_;
};

// Beats from the song's start, in a 4/4 or other signature of n beats.
inline int beatIndex(const Json& position, int beatsPerBar) {
    return (position.at("bar").get<int>() - 1) * beatsPerBar + position.at("beat").get<int>() - 1;
}
// Seconds since midnight of "…THH:MM:SS.mmm…" or "HH:MM:SS.mmm".
inline double secondsOfDay(const std::string& time) {
    const auto at = time.find('T') == std::string::npos ? 0 : time.find('T') + 1;
    return std::stoi(time.substr(at, 2)) * 3600 + std::stoi(time.substr(at + 3, 2)) * 60 +
           std::stod(time.substr(at + 6, 6));
}

template <typename Sender>
class WatchWithSender : public ::testing::Test {
protected:
    // A sender may say why it cannot run here (no such MIDI service).
    void SetUp() override {
        if constexpr (requires { sender.unavailable(); })
            if (const std::optional<std::string> why = sender.unavailable()) GTEST_SKIP() << *why;
    }
    Sender sender;
};
TYPED_TEST_SUITE_P(WatchWithSender);

inline double median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// Lines until one satisfies the condition; false when the time is up or the output ends.
template <typename Condition>
bool awaitLine(WatchProcess& watch, Condition condition, std::chrono::seconds limit) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < deadline;) {
        const auto line = watch.line(limit);
        if (!line) return false;
        if (condition(*line)) return true;
    }
    return false;
}

// The tempo to 0.01 BPM; a line per beat, one beat on from the line before,
// a beat's time apart.
// A busy machine can stall the server and bend its stamps for a while: the
// tempo is awaited in a clean window, the spacing taken as a median. On a
// machine so busy that the server cannot keep its cycle, the clock really
// is slower than sent, and no clean window comes.
TYPED_TEST_P(WatchWithSender, JsonBeats) {
    WatchProcess json({"--json"});
    this->sender.awaitListeners(1);
    this->sender.play();

    std::optional<Json> previous;
    std::vector<double> spacings, tempos;
    int steps = 0;
    double got = 0, sent = 0;
    const bool clean = awaitLine(
        json,
        [&](const std::string& line) {
            const Json j = Json::parse(line);
            const bool beat = j.at("state") == "playing";
            if (beat && previous) {
                EXPECT_EQ(beatIndex(j.at("position"), 4), beatIndex(previous->at("position"), 4) + 1) << j;
                EXPECT_EQ(j.at("position").at("sixteenth"), 1) << j;
                spacings.push_back(secondsOfDay(j.at("time")) - secondsOfDay(previous->at("time")));
                ++steps;
            }
            previous = beat ? std::optional(j) : std::nullopt;
            if (!beat || !j.at("settled").get<bool>()) return false;
            got = j.at("exactBPM").get<double>();
            sent = this->sender.tempo();
            tempos.push_back(got);
            return steps >= 12 && std::fabs(got - sent) < 0.01;
        },
        40s);
    EXPECT_TRUE(clean) << "exact tempo " << got << ", sent " << sent << ", after " << steps << " beats";
    // Against the tempo measured, not the one meant: a starved server runs slow.
    EXPECT_NEAR(median(spacings), 60.0 / median(tempos), 0.005);
}

// The same in columns, counted in 3/4.
TYPED_TEST_P(WatchWithSender, TextBeats) {
    WatchProcess text({"--signature", "3/4"});
    this->sender.awaitListeners(1);
    this->sender.play();
    const std::regex columns(
        R"(\d\d:\d\d:\d\d\.\d{3}  Playing {12}( *\d+\.\d) BPM +(\d+\.\d\d) BPM +±\d+\.\d\d ms +(\d+)\.(\d)\.1  )" +
        this->sender.namePrefix() + ".*");
    int lastBeat = -1;
    std::string lastLine, lastBeatLine;
    const bool cleanText = awaitLine(
        text,
        [&](const std::string& line) {
            lastLine = line;
            std::smatch m;
            if (!std::regex_match(line, m, columns)) {
                lastBeat = -1; // another line breaks the run of beats
                return false;
            }
            lastBeatLine = line;
            const int index = (std::stoi(m[3]) - 1) * 3 + std::stoi(m[4]) - 1;
            if (lastBeat >= 0) {
                EXPECT_EQ(index, lastBeat + 1) << line;
            }
            lastBeat = index;
            // Within 0.01 BPM, read from a column rounded to the hundredth.
            return std::fabs(std::stod(m[2]) - this->sender.tempo()) <= 0.015;
        },
        40s);
    EXPECT_TRUE(cleanText) << "no line within 0.01 BPM of " << this->sender.tempo() << "; last beat line: \""
                           << lastBeatLine << "\"; last line: \"" << lastLine << '"';
}

TYPED_TEST_P(WatchWithSender, ListsTheSender) {
    for (const bool asJson : {false, true}) {
        WatchProcess list(asJson ? std::vector<std::string>{"--list", "--json"} : std::vector<std::string>{"--list"});
        std::vector<std::string> names;
        while (const auto line = list.line())
            names.push_back(asJson ? Json::parse(*line).at("name").get<std::string>() : *line);
        EXPECT_EQ(list.exitStatus(), 0);
        EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                [&](const std::string& n) { return n.starts_with(this->sender.namePrefix()); }),
                  1);
        EXPECT_EQ(names.back(), "Virtual port");
    }
}

// Nothing per beat for an input that is not there; a reader that goes ends
// it even while it prints nothing.
TYPED_TEST_P(WatchWithSender, AbsentInputWaitsSilently) {
    WatchProcess watch({"--input", "No such input", "--json"});
    this->sender.awaitListeners(1);
    this->sender.play();
    EXPECT_EQ(watch.json()->at("state"), "waiting");
    EXPECT_EQ(watch.line(2s), std::nullopt);
    watch.closeOutput();
    EXPECT_EQ(watch.exitStatus(), 0);
}

// However it is ended, it ends at once, with status 0 and without a word.
TYPED_TEST_P(WatchWithSender, EndsCleanly) {
    this->sender.play();
    for (const int how : {0, SIGINT, SIGTERM}) { // 0: the reader goes, as `| head -3` does
        WatchProcess watch(how ? std::vector<std::string>{} : std::vector<std::string>{"--ticks", "--json"});
        for (int i = 0; i < 3; ++i) {
            const auto line = watch.line();
            ASSERT_TRUE(line) << how;
            if (!how) { // the source, then its ticks
                EXPECT_TRUE(Json::parse(*line).contains(i ? "time" : "source")) << *line;
            }
        }
        if (how)
            watch.signal(how);
        else
            watch.closeOutput();
        EXPECT_EQ(watch.exitStatus(), 0) << how;
        EXPECT_EQ(watch.errors(), "") << how;
    }
}

TYPED_TEST_P(WatchWithSender, RefusesBadArguments) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--signature", "4/3"}, {"--signature", "100/4"}, {"--input"}, {"stray"}}) {
        WatchProcess watch(args);
        EXPECT_EQ(watch.exitStatus(), 2) << args[0];
        EXPECT_EQ(watch.line(), std::nullopt) << args[0];
        const std::string errors = watch.errors();
        EXPECT_TRUE(errors.starts_with("tactimo-watch: ")) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
    WatchProcess help({"--help"});
    EXPECT_TRUE(help.line()->starts_with("Usage: tactimo-watch"));
    EXPECT_EQ(help.exitStatus(), 0);
}

REGISTER_TYPED_TEST_SUITE_P(WatchWithSender, JsonBeats, TextBeats, ListsTheSender, AbsentInputWaitsSilently,
                            EndsCleanly, RefusesBadArguments);

} // namespace tactimo::test
