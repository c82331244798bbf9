// Backends that come and go, made of fake buses: keys, set-up changes and
// threads of the service that composes them, without any server.

#include "midi/SystemMidiService.h"
#include "core/ClockStatus.h"
#include "midi/FakeMidiService.h"
#include "midi/SourceNames.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <set>

namespace tactimo::test {
namespace {

constexpr auto interval = 20ms;

// A backend whose service starts and stops at the test's word. Each start
// gets a bus of its own whose keys begin at 1 again, as a restarted server's do.
class FakeBackend {
public:
    // readsDevices: as the sequencer, which the others leave their bridges to.
    SystemMidiService::Backend backend(bool readsDevices = false) {
        return {[this]() -> std::unique_ptr<MidiService> {
                    // As a JACK client's open can: long, holding up only the worker.
                    for (; stall; std::this_thread::sleep_for(1ms)) stalled = true;
                    std::lock_guard guard(lock_);
                    if (!bus_ || !running_) return nullptr;
                    ++opens;
                    return std::make_unique<FakeMidiService>(bus_);
                },
                [](const MidiService& service) { return !service.reachable(); }, readsDevices};
    }
    std::shared_ptr<FakeMidiBus> start(const std::vector<std::string>& names) {
        auto bus = std::make_shared<FakeMidiBus>();
        for (const std::string& name : names) bus->addSource(name);
        std::lock_guard guard(lock_);
        running_ = true;
        return bus_ = bus;
    }
    // The server goes away under its client, which hears of it.
    void stop() {
        std::shared_ptr<FakeMidiBus> bus;
        {
            std::lock_guard guard(lock_);
            running_ = false;
            bus = bus_;
        }
        if (!bus) return;
        bus->setReachable(false);
        bus->announceSetupChange();
    }
    std::shared_ptr<FakeMidiBus> bus() {
        std::lock_guard guard(lock_);
        return bus_;
    }

    std::atomic<int> opens{0};
    std::atomic<bool> stall{false}, stalled{false};

private:
    std::mutex lock_;
    std::shared_ptr<FakeMidiBus> bus_;
    bool running_ = false;
};

// ClockInput over two fake backends, as the window has it, on a test clock.
class SystemMidiServiceFake : public ::testing::Test {
protected:
    SystemMidiServiceFake() { seq.start({"Drum Machine"}); }

    void makeInput() {
        std::vector<SystemMidiService::Backend> backends{jack.backend(), seq.backend(true)};
        input = std::make_unique<ClockInput>(std::make_unique<SystemMidiService>(std::move(backends), interval),
                                             queue.post(), [this] { return now.load(); });
        input->onSourcesChanged = [this] { ++changes; };
    }
    std::vector<std::string> names() {
        std::vector<std::string> result;
        for (const MIDISource& s : input->sources()) result.push_back(s.name);
        return result;
    }
    std::optional<SourceKey> key(const std::string& name) {
        for (const MIDISource& s : input->sources())
            if (s.name == name) return s.ref;
        return std::nullopt;
    }
    // One tick from a bus's source or virtual destination, once it is connected.
    bool tick(FakeMidiBus& bus, SourceKey key) {
        return pumpUntil(
            queue, [&] { return bus.send(key, {0xF8}, now.load()); }, 2s);
    }

    FakeBackend jack, seq;
    MainQueue queue;
    std::atomic<std::uint64_t> now{1'000'000'000'000};
    std::unique_ptr<ClockInput> input;
    int changes = 0;
};

TEST_F(SystemMidiServiceFake, BackendsThatComeAndGoAreListedUnderKeysNeverGivenBefore) {
    makeInput();
    EXPECT_EQ(names(), (std::vector<std::string>{"Drum Machine", "Virtual port"}));
    EXPECT_TRUE(input->serviceReachable());
    const SourceKey drum = *key("Drum Machine");

    // In turn: what happens, the names listed, whether a service is
    // reachable, and which names get new keys. The restarted server's bus
    // gives "DAW" the same inner key as before.
    using Names = std::vector<std::string>;
    using Step = std::tuple<std::function<void()>, Names, bool, Names>;
    const Step steps[] = {
        {[&] {
             jack.start({"DAW", "Synth"});
         },
         {"DAW", "Synth", "Drum Machine", "Virtual port"},
         true,
         {"DAW", "Synth"}},
        {[&] { jack.stop(); }, {"Drum Machine", "Virtual port"}, true, {}},
        {[&] { jack.start({"DAW"}); }, {"DAW", "Drum Machine", "Virtual port"}, true, {"DAW"}},
        {[&] { seq.stop(); }, {"DAW", "Virtual port"}, true, {}},
        {[&] { jack.stop(); }, {"Virtual port"}, false, {}},
        {[&] { seq.start({"Drum Machine"}); }, {"Drum Machine", "Virtual port"}, true, {"Drum Machine"}},
    };
    std::map<std::string, SourceKey> keyOf{{"Drum Machine", drum}};
    std::set<SourceKey> given{drum, input->virtualDestination()};
    for (int row = 0; const auto& [action, listed, reachable, renewed] : steps) {
        const int changesBefore = changes;
        action();
        // A structured binding cannot be captured by clang 14.
        const auto& wanted = listed;
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return names() == wanted; }, 2s))
            << "row " << row;
        EXPECT_EQ(input->serviceReachable(), reachable) << "row " << row;
        EXPECT_GT(changes, changesBefore) << "row " << row;
        for (const MIDISource& s : input->sources()) {
            if (s.ref == input->virtualDestination()) continue;
            if (std::ranges::count(renewed, s.name))
                EXPECT_TRUE(given.insert(s.ref).second) << s.name << " reuses a key in row " << row;
            else
                EXPECT_EQ(s.ref, keyOf[s.name]) << s.name << " in row " << row;
            keyOf[s.name] = s.ref;
        }
        ++row;
    }
    EXPECT_EQ(jack.opens, 2);
}

TEST_F(SystemMidiServiceFake, ARestartKeepsTheOldRecordAndTheSelectionFollowsTheNewKey) {
    makeInput();
    auto bus = jack.start({"DAW"});
    ASSERT_TRUE(pumpUntil(
        queue, [&] { return key("DAW").has_value(); }, 2s));
    const SourceKey before = *key("DAW");
    ASSERT_TRUE(tick(*bus, 1));
    // Both virtual destinations arrive as one.
    ASSERT_TRUE(tick(*bus, FakeMidiBus::virtualKey));
    ASSERT_TRUE(tick(*seq.bus(), FakeMidiBus::virtualKey));
    EXPECT_EQ(input->readings().at(input->virtualDestination()).analyzer.tickCount, 2);

    std::optional<SourceKey> followed;
    ClockStatus status;
    const auto follow = [&] { status = deriveStatus(input->readings(), "DAW", followed, status); };
    follow();
    EXPECT_EQ(followed, before);

    jack.stop();
    ASSERT_TRUE(pumpUntil(
        queue, [&] { return !key("DAW"); }, 2s));
    now += 2'000'000'000; // the old record's clock is past
    bus = jack.start({"DAW"});
    ASSERT_TRUE(pumpUntil(
        queue, [&] { return key("DAW").has_value(); }, 2s));
    const SourceKey after = *key("DAW");
    EXPECT_NE(after, before);
    ASSERT_TRUE(tick(*bus, 1));

    const Readings readings = input->readings();
    ASSERT_TRUE(readings.contains(before));
    EXPECT_EQ(readings.at(before).name, "DAW");
    EXPECT_FALSE(readings.at(before).receiving);
    EXPECT_EQ(readings.at(after).name, "DAW");
    EXPECT_TRUE(readings.at(after).receiving);
    follow();
    EXPECT_EQ(followed, after);
}

TEST_F(SystemMidiServiceFake, BridgesAreLeftToTheSequencerWhileItIsThere) {
    makeInput();
    // In turn: what happens, the names then listed, and whether JACK reads its bridges.
    using Step = std::tuple<std::function<void()>, std::vector<std::string>, bool>;
    const Step steps[] = {
        {[&] { jack.start({"DAW"}); }, {"DAW", "Drum Machine", "Virtual port"}, false},
        {[&] { seq.stop(); }, {"DAW", "Virtual port"}, true},
        {[&] { seq.start({"Drum Machine"}); }, {"DAW", "Drum Machine", "Virtual port"}, false},
        {[&] {
             jack.stop();
             jack.start({"DAW"});
         },
         {"DAW", "Drum Machine", "Virtual port"},
         false},
    };
    for (int row = 0; const auto& [action, listed, bridges] : steps) {
        action();
        EXPECT_TRUE(pumpUntil(
            queue, [&, &listed = listed] { return names() == listed && jack.opens == (row < 3 ? 1 : 2); }, 2s))
            << "row " << row;
        EXPECT_EQ(jack.bus()->readsBridges(), bridges) << "row " << row;
        ++row;
    }
}

TEST(SystemMidiServiceNames, NamesEqualByAccidentTakeTheirLongFormAcrossBackends) {
    FakeBackend jack, seq;
    const auto jackBus = jack.start({}), seqBus = seq.start({});
    // {bus, name, long form, name listed}
    const std::tuple<FakeMidiBus*, std::string, std::string, std::string> sources[] = {
        {jackBus.get(), "Drum", "Drum:Drum", "Drum"},   // two units of one model, one in each
        {jackBus.get(), "Synth", "a:Synth", "a:Synth"}, // two programs that shorten alike
        {seqBus.get(), "Drum", "Drum:Drum", "Drum"},
        {seqBus.get(), "Synth", "b:Synth", "b:Synth"},
        {seqBus.get(), std::string(1000, 'x'), std::string(1000, 'x'), SourceNames::bounded(std::string(1000, 'x'))},
    };
    for (const auto& [bus, name, full, listed] : sources) bus->setFullName(bus->addSource(name), full);
    SystemMidiService service({jack.backend(), seq.backend(true)}, interval);
    std::mutex lock;
    std::vector<SourceKey> delivered;
    service.open(
        [&](MidiPacketList, SourceKey key) {
            std::lock_guard guard(lock);
            delivered.push_back(key);
        },
        [] {});
    service.connectAllSources();
    std::vector<std::string> listed;
    for (const SourceKey key : service.sources()) listed.push_back(*service.displayName(key));
    std::vector<std::string> expected;
    for (const auto& source : sources) expected.push_back(std::get<3>(source));
    EXPECT_EQ(listed, expected);

    // A source not listed yet names its first data: the long form where a
    // listed source goes by its name.
    const SourceKey late = seqBus->addSource("Drum");
    seqBus->setFullName(late, "Drum Pad:Drum");
    service.connectAllSources();
    ASSERT_TRUE(seqBus->send(late, {0xF8}));
    std::lock_guard guard(lock);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(service.displayName(delivered[0]), "Drum Pad:Drum");
}

TEST_F(SystemMidiServiceFake, ClosingClosesEveryClientAndStopsTrying) {
    jack.start({"DAW"});
    makeInput();
    const auto jackBus = jack.bus(), seqBus = seq.bus();
    EXPECT_TRUE(jackBus->isOpen());
    EXPECT_TRUE(seqBus->isOpen());
    input.reset();
    EXPECT_FALSE(jackBus->isOpen());
    EXPECT_FALSE(seqBus->isOpen());
    const int opens = jack.opens;
    jack.stop();
    jack.start({"DAW"});
    std::this_thread::sleep_for(interval * 5);
    EXPECT_EQ(jack.opens, opens);
}

// A service over the two backends with a receiver shaped like ClockInput's:
// under a lock of its own, it asks for the name of every key it gets.
struct RawService {
    explicit RawService(std::vector<SystemMidiService::Backend> backends) : service(std::move(backends), interval) {
        service.open(
            [this](MidiPacketList, SourceKey key) {
                std::lock_guard guard(lock);
                if (closed) ++late;
                service.displayName(key);
                ++received;
            },
            [this] { changes.fetch_add(1); });
        service.connectAllSources();
    }
    SystemMidiService service;
    std::mutex lock;
    std::atomic<long> received{0}, changes{0};
    std::atomic<bool> closed{false};
    long late = 0; // under lock
};

TEST(SystemMidiServiceThreads, DeliveryAndListingGoOnWhileAnotherBackendTakesLongToOpen) {
    FakeBackend jack, seq;
    const auto seqBus = seq.start({"Drum Machine"});
    RawService raw({jack.backend(), seq.backend()});
    jack.stall = true;
    jack.start({"DAW"});
    const auto stalled = [&] { return jack.stalled.load(); };
    MainQueue idle;
    ASSERT_TRUE(pumpUntil(idle, stalled, 5s));

    // While the worker is stuck opening, the other backend delivers and lists.
    const long before = raw.received;
    for (int i = 0; i < 50; ++i) seqBus->send(1, {0xF8});
    EXPECT_EQ(raw.received, before + 50);
    const auto sources = raw.service.sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(raw.service.displayName(sources[0]), "Drum Machine");
    EXPECT_TRUE(raw.service.reachable());
    jack.stall = false;
    EXPECT_TRUE(pumpUntil(
        idle, [&] { return raw.service.sources().size() == 2; }, 5s));
}

// Ends the test program when a test hangs (a deadlock), rather than leaving it to the test runner's timeout.
struct Watchdog {
    explicit Watchdog(std::chrono::seconds limit)
        : thread([this, limit] {
              std::unique_lock guard(lock);
              if (!wake.wait_for(guard, limit, [this] { return done; })) {
                  std::fprintf(stderr, "hung for %d s: a deadlock\n", int(limit.count()));
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard guard(lock);
            done = true;
        }
        wake.notify_one();
        thread.join();
    }
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    std::thread thread;
};

TEST(SystemMidiServiceThreads, SwapsUnderLoadNeitherLockNorLeaveCallbacksAfterClose) {
    const Watchdog watchdog(60s);
    FakeBackend jack, seq;
    jack.start({"DAW"});
    seq.start({"Drum Machine"});
    auto raw = std::make_unique<RawService>(std::vector{jack.backend(), seq.backend()});
    std::atomic<bool> stop{false};
    // Senders that never pause, also while their client is being closed;
    // now and then from a source new to the service.
    const auto sender = [&](FakeBackend& backend) {
        for (int n = 0; !stop; ++n) {
            const auto bus = backend.bus();
            const SourceKey newest = n % 16 == 0 ? bus->addSource("new") : 0;
            for (const SourceKey key : {SourceKey(1), newest, FakeMidiBus::virtualKey}) bus->send(key, {0xF8});
        }
    };
    std::thread jackSender(sender, std::ref(jack)), seqSender(sender, std::ref(seq));
    // The main thread: swaps, and connects what the senders added.
    const auto connectFor = [&](int quarters) { // of an interval
        for (int i = 0; i < quarters; ++i) {
            raw->service.connectAllSources();
            std::this_thread::sleep_for(interval / 4);
        }
    };
    for (int round = 0; round < 40; ++round) {
        jack.stop();
        connectFor(2);
        jack.start({"DAW"});
        connectFor(8);
    }
    raw->service.close();
    raw->closed = true;
    std::this_thread::sleep_for(interval * 3);
    stop = true;
    jackSender.join();
    seqSender.join();
    EXPECT_EQ(raw->late, 0) << "deliveries after close() returned";
    EXPECT_GT(raw->received, 100);
    EXPECT_GT(jack.opens, 10);
}

} // namespace
} // namespace tactimo::test
