// The follower against a ClockInput on the fake bus, in simulated time: the
// test moves the host clock, sends stamped bytes and refreshes at a period.

#include "watch/ClockFollower.h"

#include "core/ClockInput.h"
#include "midi/FakeMidiService.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tactimo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Mode = ClockFollower::Mode;

std::uint64_t ns(double seconds) {
    return static_cast<std::uint64_t>(std::llround(seconds * 1e9));
}
double secondsOf(double seconds) {
    return static_cast<double>(ns(seconds)) * 1e-9; // as the intake converts
}

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

// A line as a word: the state, "silent" when not receiving, the position.
std::string described(const StatusLine& line) {
    std::string text(line.status.state == ClockStatus::State::noClock ? "noClock" : "");
    switch (line.status.state) {
    case ClockStatus::State::waiting: text = "waiting"; break;
    case ClockStatus::State::running: text = "running"; break;
    case ClockStatus::State::playing: text = "playing"; break;
    case ClockStatus::State::stopped: text = "stopped"; break;
    case ClockStatus::State::noClock: break;
    }
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

// Each step's lines: transitions print once, a jump of the song position
// prints where it landed and nothing between.
TEST(ClockFollowerBeats, ChangesOfStateAndPosition) {
    Rig rig;
    const SourceKey key = rig.add("Drum");
    double t = 1000.0;
    const auto ticks = [&](int n) { t = rig.ticks(key, t + 0.02, n).back(); };
    const auto wait = [&](double seconds) { rig.until(t += seconds); };
    const auto send = [&](Bytes bytes) { rig.send(key, std::move(bytes), t += 0.001); };
    using Names = std::vector<std::string>;
    const std::pair<std::function<void()>, Names> steps[] = {
        {[&] { wait(0.1); }, {"waiting silent"}},
        {[&] { ticks(30); }, {"running", "running"}}, // a line per 24 ticks without a song position
        {[&] {
             send({0xFC});
             ticks(12);
         },
         {"stopped"}},
        {[&] { wait(0.5); }, {"stopped silent"}},
        {[&] {
             send({0xF2, 16, 0});
             wait(0.1);
         },
         {"stopped silent 2.1.1"}},
        {[&] {
             send({0xFB, 0xF8}); // Continue with its first tick
             ticks(24);
             wait(0.01);
         },
         {"playing 2.1.1", "playing 2.2.1"}},
        {[&] {
             send({0xF2, 64, 0});
             ticks(30);
             wait(0.01);
         },
         {"playing 5.1.1", "playing 5.2.1"}},
        {[&] { wait(0.5); }, {"noClock silent 5.2.1"}},
        {[&] { wait(5.0); }, {}},
    };
    for (const auto& [step, expected] : steps) {
        step();
        Names got;
        for (const StatusLine& line : only<StatusLine>(std::exchange(rig.lines, {}))) got.push_back(described(line));
        EXPECT_EQ(got, expected) << &step - &steps[0].first;
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

// More ticks between two looks than the window holds: the rest is counted as
// missed, and the first tick read has no known interval.
TEST(ClockFollowerTicks, SaysHowManyTicksWereMissed) {
    Rig rig("", {}, Mode::ticks, [] { return 5.0; });
    const SourceKey key = rig.add("Drum");
    const std::vector<double> sent = rig.ticks(key, 1000.01, 300); // 250 before the look at 1005
    rig.until(1010.0);
    const std::vector<MissedTicks> missed = only<MissedTicks>(rig.lines);
    ASSERT_EQ(missed.size(), 1u);
    EXPECT_EQ(missed[0].count, 250 - 192);
    EXPECT_TRUE(std::holds_alternative<MissedTicks>(rig.lines.at(1))) << "after the source, before its ticks";
    const std::vector<TickLine> ticks = only<TickLine>(rig.lines);
    EXPECT_EQ(timesOf(ticks), stamped({sent.begin() + 58, sent.end()}));
    EXPECT_FALSE(ticks.at(0).interval);
    EXPECT_TRUE(ticks.at(192).interval) << "the first tick of the next look follows one already read";
}

// When following moves to another source, its ticks go on from the last
// look: none from before it, none lost after it.
TEST(ClockFollowerTicks, AnotherSourceGoesOnFromTheLastLook) {
    Rig rig("", {}, Mode::ticks);
    const SourceKey a = rig.add("A"), b = rig.add("B");
    std::vector<double> fromA, fromB;
    for (int i = 0; i < 200; ++i) {
        const double t = 1000.1 + i * 0.02;
        if (i < 100) {
            fromA.push_back(t);
            rig.send(a, {0xF8}, t);
        }
        if (i >= 10) { // A sends first and is followed
            fromB.push_back(t + 0.005);
            rig.send(b, {0xF8}, t + 0.005);
        }
    }
    rig.until(1005.0);
    std::vector<std::string> sources;
    std::vector<TickLine> ofA, ofB;
    for (const WatchLine& line : rig.lines) {
        if (const auto* s = std::get_if<FollowedSource>(&line)) sources.push_back(s->name);
        if (const auto* tick = std::get_if<TickLine>(&line)) (sources.size() == 1 ? ofA : ofB).push_back(*tick);
    }
    EXPECT_EQ(sources, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(timesOf(ofA), stamped(fromA));
    ASSERT_FALSE(ofB.empty());
    const auto first =
        std::find_if(fromB.begin(), fromB.end(), [&](double at) { return secondsOf(at) == ofB[0].time; });
    ASSERT_NE(first, fromB.end());
    EXPECT_EQ(timesOf(ofB), stamped({first, fromB.end()}));
    // A turns silent 0.25 s after its last tick; the look before read B up to then.
    EXPECT_NEAR(ofB[0].time, secondsOf(fromA.back()) + 0.25, 0.03);
    EXPECT_EQ(ofB[0].interval, ofB[0].time - secondsOf(*(first - 1))) << "from B's tick before, read earlier";
}

} // namespace
} // namespace tactimo
