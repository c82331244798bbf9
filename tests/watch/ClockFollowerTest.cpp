// The follower against a ClockInput on the fake bus, in simulated time: the
// test moves the host clock, sends stamped bytes and refreshes at a period.

#include "watch/ClockFollower.h"

#include "core/ClockInput.h"
#include "core/StatusText.h"
#include "midi/FakeMidiService.h"
#include "support/ManualIntake.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tactimo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Mode = ClockFollower::Mode;

using test::ns;
using test::secondsOf;

struct Rig {
    explicit Rig(
        std::string_view selection = "", TimeSignature signature = {}, Mode mode = Mode::beats,
        std::function<double()> gap = [] { return 0.01; })
        : follower(selection, signature, mode),
          gap(std::move(gap)) {}

    SourceKey add(std::string name) {
        const SourceKey key = bus->addSource(std::move(name));
        bus->announceSetupChange();
        for (auto& work : std::exchange(posted, {})) work();
        return key;
    }
    // Refreshes whenever one is due up to `at`, then sends bytes stamped `at`.
    void send(SourceKey key, Bytes bytes, double at) {
        until(at);
        bus->send(key, std::move(bytes), ns(at));
    }
    std::vector<double> ticks(SourceKey key, double from, int count, double spacing = 0.02) {
        std::vector<double> sent;
        for (int i = 0; i < count; ++i) sent.push_back(from + i * spacing);
        for (const double at : sent) send(key, {0xF8}, at);
        return sent;
    }
    void until(double at) {
        for (; nextRefresh <= at; nextRefresh += gap()) {
            now = nextRefresh;
            for (WatchLine& line : follower.refresh(input.readings(), now)) lines.push_back(std::move(line));
        }
        now = at;
    }
    std::shared_ptr<FakeMidiBus> bus = std::make_shared<FakeMidiBus>();
    std::vector<std::function<void()>> posted;
    double now = 1000.0;
    ClockInput input{std::make_unique<FakeMidiService>(bus), [this](auto work) { posted.push_back(std::move(work)); },
                     [this] { return ns(now); }};
    ClockFollower follower;
    std::function<double()> gap;
    double nextRefresh = 1000.0;
    std::vector<WatchLine> lines;
};

template <typename T>
std::vector<T> only(const std::vector<WatchLine>& lines) {
    std::vector<T> found;
    for (const WatchLine& line : lines)
        if (const T* l = std::get_if<T>(&line)) found.push_back(*l);
    return found;
}

// A line in short: its state, "silent" when not receiving, its position.
std::string described(const StatusLine& line) {
    std::string text(StatusText::stateWord(line.status.state));
    if (!line.status.receiving) text += " silent";
    if (const auto& p = line.position)
        text += " " + std::to_string(p->bar) + "." + std::to_string(p->beat) + "." + std::to_string(p->sixteenth);
    return text;
}

// Refreshes far apart see several beats at once; each still gets its line,
// at the stamp of the tick that began it.
TEST(ClockFollowerBeats, OneLinePerBeatAtTheTickThatBeganIt) {
    for (const TimeSignature signature : {TimeSignature{4, 4}, {6, 8}, {3, 2}, {7, 16}}) {
        for (const double period : {0.001, 0.03, 0.25}) {
            Rig rig("", signature, Mode::beats, [period] { return period; });
            const SourceKey key = rig.add("Drum");
            rig.send(key, {0xFA}, 1000.2);
            const std::vector<double> sent = rig.ticks(key, 1000.24, 192);
            rig.until(1004.0);
            std::vector<StatusLine> playing;
            for (const StatusLine& line : only<StatusLine>(std::exchange(rig.lines, {})))
                if (line.status.state == ClockStatus::State::playing) playing.push_back(line);

            const std::size_t unit = static_cast<std::size_t>(96 / signature.denominator);
            ASSERT_EQ(playing.size(), sent.size() / unit) << signature.numerator << "/" << signature.denominator;
            for (std::size_t beat = 0; beat < playing.size(); ++beat) {
                EXPECT_EQ(playing[beat].time, secondsOf(sent[beat * unit])) << beat << " every " << period;
                EXPECT_EQ(playing[beat].position, signature.position(std::int64_t(beat * unit))) << beat;
            }
        }
    }
}

// Each step sends some bytes, then some ticks 20 ms apart, then waits; its
// lines: transitions print once, a jump of the song position prints where it
// landed and nothing between.
TEST(ClockFollowerBeats, ChangesOfStateAndPosition) {
    struct Step {
        Bytes bytes;
        int ticks;
        double wait;
        std::vector<std::string> lines;
    };
    const Step steps[] = {
        {{}, 0, 0.1, {"Waiting for clock silent"}},
        {{}, 30, 0.01, {"Clock running", "Clock running"}}, // a line per 24 ticks, no song position
        {{0xFC}, 12, 0.01, {"Stopped"}},
        {{}, 0, 0.5, {"Stopped silent"}},
        {{0xF2, 16, 0}, 0, 0.1, {"Stopped silent 2.1.1"}},
        {{0xFB, 0xF8}, 24, 0.01, {"Playing 2.1.1", "Playing 2.2.1"}}, // Continue with its first tick
        {{0xF2, 64, 0}, 30, 0.01, {"Playing 5.1.1", "Playing 5.2.1"}},
        {{}, 0, 0.5, {"No clock silent 5.2.1"}},
        {{}, 0, 5.0, {}},
    };
    Rig rig;
    const SourceKey key = rig.add("Drum");
    double t = 1000.0;
    for (const Step& step : steps) {
        if (!step.bytes.empty()) rig.send(key, step.bytes, t += 0.001);
        if (step.ticks) t = rig.ticks(key, t + 0.02, step.ticks).back();
        rig.until(t += step.wait);
        std::vector<std::string> lines;
        for (const StatusLine& line : only<StatusLine>(std::exchange(rig.lines, {}))) lines.push_back(described(line));
        EXPECT_EQ(lines, step.lines) << &step - steps;
    }
}

// The input is chosen by its canonical name, as the store does; an input
// that is not there leaves only the first waiting line.
TEST(ClockFollowerBeats, FollowsTheChosenInputOnly) {
    const std::tuple<std::string, std::string, bool> rows[] = {
        {"", "Drum", true},
        {"Drum", "Drum", true},
        {"Caf\x65\xCC\x81", "Caf\xC3\xA9", true}, // decomposed, as typed on some systems
        {"Nobody", "Drum", false},
    };
    for (const auto& [selection, name, follows] : rows) {
        Rig rig(selection);
        const SourceKey key = rig.add(name);
        rig.send(key, {0xFA}, 1000.1);
        rig.ticks(key, 1000.12, 96);
        const std::vector<StatusLine> lines = only<StatusLine>(std::exchange(rig.lines, {}));
        EXPECT_EQ(lines.size(), follows ? 6u : 1u) << selection; // waiting, the Start, 4 beats
        EXPECT_EQ(lines.back().status.sourceName.has_value(), follows) << selection;
    }
}

std::vector<double> timesOf(const std::vector<TickLine>& ticks) {
    std::vector<double> times;
    for (const TickLine& t : ticks) times.push_back(t.time);
    return times;
}
std::vector<double> stamped(const std::vector<double>& sent) {
    std::vector<double> times;
    for (const double at : sent) times.push_back(secondsOf(at));
    return times;
}

// Looks at random moments up to 2 s apart, some with nothing new, on an
// uneven clock with a pause, so that the analyzer trims or empties its window
// now and then: every tick is printed once, in order, or counted as missed,
// and has its interval unless the tick before it was missed.
TEST(ClockFollowerTicks, EveryTickOnceOrCountedAsMissed) {
    std::mt19937 random(7);
    Rig rig("", {}, Mode::ticks, [&] { return std::uniform_real_distribution(0.0, 2.0)(random); });
    const SourceKey key = rig.add("Drum");
    std::vector<double> sent;
    double t = 1000.1;
    for (int i = 0; i < 2000; ++i) {
        t += i % 500 == 0 ? 1.0 : std::uniform_real_distribution(0.015, 0.025)(random);
        sent.push_back(t);
        rig.send(key, {0xF8}, t);
    }
    rig.until(t + 3.0);
    const std::vector<double> times = stamped(sent);
    std::size_t next = 0;  // the first tick not yet accounted for
    std::int64_t owed = 0; // ticks said to be missed, not yet skipped
    for (const WatchLine& line : rig.lines) {
        if (const auto* missed = std::get_if<MissedTicks>(&line)) owed += missed->count;
        const auto* tick = std::get_if<TickLine>(&line);
        if (!tick) continue;
        const bool afterMissed = owed > 0;
        next += static_cast<std::size_t>(std::exchange(owed, 0));
        ASSERT_LT(next, times.size());
        EXPECT_EQ(tick->time, times[next]) << next;
        const auto interval = next > 0 && !afterMissed ? std::optional(times[next] - times[next - 1]) : std::nullopt;
        EXPECT_EQ(tick->interval, interval) << next;
        ++next;
    }
    EXPECT_EQ(next + static_cast<std::size_t>(owed), times.size());
}

// When following moves to another source, its ticks go on from the last
// look: none from before it, none lost after it.
TEST(ClockFollowerTicks, AnotherSourceGoesOnFromTheLastLook) {
    Rig rig("", {}, Mode::ticks);
    const SourceKey a = rig.add("A"), b = rig.add("B");
    std::vector<double> fromB;
    for (int i = 0; i < 200; ++i) {
        if (i < 100) rig.send(a, {0xF8}, 1000.1 + i * 0.02); // A sends first and is followed; then only B
        if (i < 10) continue;
        fromB.push_back(1000.105 + i * 0.02);
        rig.send(b, {0xF8}, fromB.back());
    }
    rig.until(1005.0);
    const auto switched = std::find_if(rig.lines.begin(), rig.lines.end(), [](const WatchLine& line) {
        return std::holds_alternative<FollowedSource>(line) && std::get<FollowedSource>(line).name == "B";
    });
    ASSERT_NE(switched, rig.lines.end());
    EXPECT_EQ(only<TickLine>({rig.lines.begin(), switched}).size(), 100u) << "all of A's";
    const std::vector<TickLine> ofB = only<TickLine>({switched, rig.lines.end()});
    ASSERT_FALSE(ofB.empty());
    const auto first = fromB.begin() + std::lround((ofB[0].time - secondsOf(fromB.front())) / 0.02);
    // A turns silent 0.25 s after its last tick (1002.08); the look before read B up to then.
    EXPECT_NEAR(ofB[0].time, 1002.33, 0.03);
    EXPECT_EQ(timesOf(ofB), stamped({first, fromB.end()}));
    EXPECT_EQ(ofB[0].interval, ofB[0].time - secondsOf(*(first - 1))) << "from B's tick before, read earlier";
}

} // namespace
} // namespace tactimo
