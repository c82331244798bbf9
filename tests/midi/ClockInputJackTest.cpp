// ClockInput on the system's MIDI service, against a real JACK server with
// real senders (jack_midi_clock, driven by jack_transport).

#include "JackTestRig.h"
#include "midi/JackMidiService.h"
#include "midi/SystemMidiService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <optional>
#include <set>

namespace tactimo {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::MainQueue;
using test::pumpFor;
using test::pumpUntil;

double bpmOf(const ClockAnalyzer& a) { return a.interval ? 60.0 / (24.0 * *a.interval) : 0.0; }

double secondsOf(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// CLOCK_MONOTONIC and CLOCK_MONOTONIC_RAW read together, every 20 ms.
class ClockPairs {
public:
    struct Pair {
        double mono;
        double raw;
    };
    ClockPairs() : thread_([this] {
        while (!stop_.load()) {
            {
                std::lock_guard guard(lock_);
                pairs_.push_back(now());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }) {}
    ~ClockPairs() {
        stop_.store(true);
        thread_.join();
    }
    static Pair now() {
        const double a = secondsOf(CLOCK_MONOTONIC);
        const double raw = secondsOf(CLOCK_MONOTONIC_RAW);
        const double b = secondsOf(CLOCK_MONOTONIC);
        return {(a + b) / 2, raw};
    }
    // The pair read nearest to a CLOCK_MONOTONIC time.
    Pair at(double mono) {
        std::lock_guard guard(lock_);
        Pair best = pairs_.front();
        for (const Pair& p : pairs_)
            if (std::fabs(p.mono - mono) < std::fabs(best.mono - mono)) best = p;
        return best;
    }

private:
    std::mutex lock_;
    std::vector<Pair> pairs_{now()};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class ClockInputJack : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("JACK_DEFAULT_SERVER"), nullptr) << "run through ctest: it starts the server";
        open();
    }
    void TearDown() override { input.reset(); }

    void open() {
        auto service = makeSystemMidiService();
        ASSERT_NE(dynamic_cast<JackMidiService*>(service.get()), nullptr) << "a running JACK server is chosen";
        input = std::make_unique<ClockInput>(std::move(service), queue.post());
        main = std::this_thread::get_id();
        input->onSourcesChanged = [this] {
            ++changes;
            if (std::this_thread::get_id() != main) ++offMain;
        };
    }

    std::optional<MIDISource> source(SourceKey key) {
        for (const MIDISource& s : input->sources())
            if (s.ref == key) return s;
        return std::nullopt;
    }

    // Waits for a clock sender that is not in the list yet.
    std::optional<MIDISource> newSender(const std::vector<MIDISource>& before) {
        std::optional<MIDISource> found;
        pumpUntil(queue, [&] {
            for (const MIDISource& s : input->sources())
                if (s.name.ends_with(":mclk_out") && std::find(before.begin(), before.end(), s) == before.end()) {
                    found = s;
                    return true;
                }
            return false;
        });
        // Let the notifications of its arrival settle: its port is connected then.
        pumpFor(queue, 300ms);
        return found;
    }

    std::optional<ClockReading> reading(SourceKey key) {
        const Readings all = input->readings();
        const auto it = all.find(key);
        if (it == all.end()) return std::nullopt;
        return it->second;
    }

    template <typename Condition>
    bool waitFor(SourceKey key, Condition condition, std::chrono::milliseconds limit = 10s) {
        return pumpUntil(queue, [&] {
            const auto r = reading(key);
            return r && condition(*r);
        }, limit);
    }

    // Ticks counted against ticks expected from the stamps' own time span:
    // a doubled delivery would count twice as many.
    void expectNoTickTwice(SourceKey key, double bpm, std::chrono::milliseconds span, std::function<void()> during = {}) {
        const auto first = reading(key);
        ASSERT_TRUE(first && first->analyzer.lastTick);
        if (during) during();
        pumpFor(queue, span);
        const auto last = reading(key);
        ASSERT_TRUE(last && last->analyzer.lastTick);
        const double expected = (*last->analyzer.lastTick - *first->analyzer.lastTick) / (60.0 / (24.0 * bpm));
        // A busy test server may stretch a few cycles; doubling is twice the count.
        EXPECT_NEAR(double(last->analyzer.tickCount - first->analyzer.tickCount), expected, std::max(1.0, expected * 0.05));
        EXPECT_GT(expected, 10.0);
    }

    // The tempo is right to 0.01 BPM on CLOCK_MONOTONIC. The dummy server
    // paces its cycles by CLOCK_MONOTONIC_RAW, and NTP may be slewing
    // CLOCK_MONOTONIC against it by hundreds of ppm, so the tempo expected on
    // CLOCK_MONOTONIC is the sent one scaled by the two clocks' rates over
    // the analyzer's window. The server also runs without real-time priority
    // on a shared machine: a late cycle can bend a window for a while, so
    // wait for a clean one.
    void expectTempo(SourceKey key, double bpm) {
        double expected = bpm;
        const bool settled = waitFor(key, [&](const ClockReading& r) {
            if (r.analyzer.ticks.size() < 48) return false;
            const auto start = clocks.at(r.analyzer.ticks[0]);
            const auto end = clocks.now();
            expected = bpm * (end.raw - start.raw) / (end.mono - start.mono);
            return std::fabs(bpmOf(r.analyzer) - expected) < 0.01;
        }, 20s);
        EXPECT_TRUE(settled) << "tempo " << bpmOf(reading(key)->analyzer) << " BPM, expected " << expected
                             << " (sent at " << bpm << ")";
    }

    ClockPairs clocks;
    MainQueue queue;
    std::unique_ptr<ClockInput> input;
    std::thread::id main;
    int changes = 0;
    int offMain = 0;
};

// Transport of the whole server: stopped at 0, with a timebase master at
// 120 BPM so that positions are sent.
struct Transport {
    ChildProcess process{{"jack_transport"}};
    Transport() {
        process.say("stop");
        process.say("master");
        process.say("tempo 120");
        process.say("locate 0");
        std::this_thread::sleep_for(200ms);
    }
    ~Transport() {
        process.say("stop");
        process.say("locate 0");
        std::this_thread::sleep_for(200ms);
    }
    void say(const std::string& line) { process.say(line); }
};

TEST_F(ClockInputJack, SenderIsListedByNameAndItsTempoTransportAndPositionAreRead) {
    Transport transport;
    const auto before = input->sources();
    ASSERT_EQ(before.back().name, "Virtual port");
    ChildProcess sender({"jack_midi_clock", "-b", "123.4", "-B", "-d", "0"});
    const auto src = newSender(before);
    ASSERT_TRUE(src);
    EXPECT_TRUE(src->name.starts_with("jack_midi_clock")) << src->name;
    EXPECT_EQ(input->sources().back().name, "Virtual port");

    transport.say("play");
    // 8 quarter notes fill the analyzer's window.
    ASSERT_TRUE(waitFor(src->ref, [](const ClockReading& r) { return r.analyzer.tickCount >= 200; }, 15s));
    auto r = *reading(src->ref);
    EXPECT_EQ(r.name, src->name);
    EXPECT_TRUE(r.receiving);
    EXPECT_EQ(r.analyzer.transport, ClockAnalyzer::Transport::playing);
    expectTempo(src->ref, 123.4);
    expectNoTickTwice(src->ref, 123.4, 1000ms);

    // Stop, then a Song Position Pointer of its own: locate 2 s = bar 2 at 120 BPM.
    transport.say("stop");
    ASSERT_TRUE(waitFor(src->ref, [](const ClockReading& r) { return r.analyzer.transport == ClockAnalyzer::Transport::stopped; }));
    transport.say("locate 96000");
    ASSERT_TRUE(waitFor(src->ref, [](const ClockReading& r) { return r.analyzer.position == 16 * 6; }, 5s))
        << "position " << reading(src->ref)->analyzer.position.value_or(-1);

    // Playing from there: Song Position Pointer, then Continue: the position runs on from bar 2.
    const std::int64_t ticksBefore = reading(src->ref)->analyzer.tickCount;
    transport.say("play");
    ASSERT_TRUE(waitFor(src->ref, [&](const ClockReading& r) {
        return r.analyzer.transport == ClockAnalyzer::Transport::playing && r.analyzer.tickCount > ticksBefore + 24;
    }));
    r = *reading(src->ref);
    EXPECT_GE(r.analyzer.position.value_or(0), 16 * 6 + 24);
    EXPECT_EQ(changes, queue.ran()) << "one onSourcesChanged per notification";
    EXPECT_EQ(offMain, 0);
}

TEST_F(ClockInputJack, SenderConnectedToTheVirtualDestinationIsReadUnderItsKey) {
    Transport transport;
    const auto before = input->sources();
    ChildProcess sender({"jack_midi_clock", "-b", "100", "-B"});
    const auto src = newSender(before);
    ASSERT_TRUE(src);
    ASSERT_EQ(test::run({"jack_connect", src->name, "Tactimo:Tactimo"}), 0);
    transport.say("play");

    const SourceKey virtualKey = input->virtualDestination();
    ASSERT_TRUE(waitFor(virtualKey, [](const ClockReading& r) { return r.analyzer.tickCount >= 100; }));
    const auto r = *reading(virtualKey);
    EXPECT_EQ(r.name, "Virtual port");
    EXPECT_TRUE(r.receiving);
    expectTempo(virtualKey, 100.0);
    // The same sender is also a source of its own, read separately.
    ASSERT_TRUE(reading(src->ref));
    EXPECT_EQ(reading(src->ref)->name, src->name);
    expectNoTickTwice(virtualKey, 100.0, 500ms);
}

TEST_F(ClockInputJack, SendersComingAndGoingWhileRunning) {
    Transport transport;
    transport.say("play");
    const auto before = input->sources();
    const int changesBefore = changes;
    auto first = std::make_unique<ChildProcess>(std::vector<std::string>{"jack_midi_clock", "-b", "140", "-B"});
    const auto one = newSender(before);
    ASSERT_TRUE(one);
    EXPECT_GT(changes, changesBefore);
    ASSERT_TRUE(waitFor(one->ref, [](const ClockReading& r) { return r.receiving && r.analyzer.tickCount > 48; }));

    // A second sender arrives: every source is reconnected, and the first is
    // still delivered once.
    std::unique_ptr<ChildProcess> second;
    std::optional<MIDISource> two;
    expectNoTickTwice(one->ref, 140.0, 1500ms, [&] {
        const auto now = input->sources();
        second = std::make_unique<ChildProcess>(std::vector<std::string>{"jack_midi_clock", "-b", "90", "-B"});
        two = newSender(now);
    });
    ASSERT_TRUE(two);
    EXPECT_NE(two->ref, one->ref);
    ASSERT_TRUE(waitFor(two->ref, [](const ClockReading& r) { return r.receiving; }));

    // The first quits: gone from the list, its record stays and stops receiving.
    first.reset();
    ASSERT_TRUE(pumpUntil(queue, [&] { return !source(one->ref); }));
    ASSERT_TRUE(waitFor(one->ref, [](const ClockReading& r) { return !r.receiving; }, 3s));
    EXPECT_EQ(reading(one->ref)->name, one->name);
    EXPECT_TRUE(reading(two->ref)->receiving);
    expectTempo(two->ref, 90.0);

    EXPECT_EQ(changes, queue.ran()) << "one onSourcesChanged per notification";
    EXPECT_EQ(offMain, 0) << "onSourcesChanged ran off the main thread";
}

// Kills the server: ctest runs it on its own, after the others.
TEST(ClockInputJackServer, SurvivesTheServerGoingAway) {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    ASSERT_NE(name, nullptr) << "run through ctest: it starts the server";

    MainQueue queue;
    auto service = makeSystemMidiService();
    ASSERT_NE(dynamic_cast<JackMidiService*>(service.get()), nullptr);
    auto input = std::make_unique<ClockInput>(std::move(service), queue.post());
    int changes = 0;
    input->onSourcesChanged = [&] { ++changes; };
    {
        ChildProcess sender({"jack_midi_clock", "-b", "120", "-B"});
        ChildProcess transport({"jack_transport"});
        ASSERT_TRUE(pumpUntil(queue, [&] { return input->sources().size() == 2; }));
        pumpFor(queue, 300ms);
        transport.say("play");
        std::optional<SourceKey> key;
        ASSERT_TRUE(pumpUntil(queue, [&] {
            for (const auto& [k, r] : input->readings())
                if (r.receiving) key = k;
            return key.has_value();
        }));

        ASSERT_EQ(test::run({JACK_SERVER_SCRIPT, "stop", name}), 0);
        // The list empties to the virtual entry; the record stays, not receiving.
        EXPECT_TRUE(pumpUntil(queue, [&] { return input->sources().size() == 1; }, 5s));
        EXPECT_GT(changes, 0);
        EXPECT_TRUE(pumpUntil(queue, [&] {
            const Readings all = input->readings();
            return all.count(*key) && !all.at(*key).receiving;
        }, 3s));
    }
    // Closing after the server died neither crashes nor hangs.
    auto closing = std::async(std::launch::async, [&] { input.reset(); });
    EXPECT_EQ(closing.wait_for(10s), std::future_status::ready);
}

} // namespace
} // namespace tactimo
