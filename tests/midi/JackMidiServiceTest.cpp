// The JACK service on its own, against a real JACK server, with a sender of
// the test's that counts exactly what it sent.

#include "JackTestRig.h"
#include "midi/JackMidiService.h"

#include <jack/metadata.h>
#include <jack/uuid.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace tactimo {
namespace {

using namespace std::chrono_literals;

std::uint64_t monotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1'000'000'000u + std::uint64_t(ts.tv_nsec);
}

TEST(JackMidiServiceTime, JackTimesMoveOntoTheMonotonicClock) {
    // JACK's clock here is CLOCK_MONOTONIC_RAW, 184 ms behind CLOCK_MONOTONIC on one machine.
    EXPECT_EQ(JackMidiService::monotonicNs(5'000'000, 184'000'000), 5'184'000'000u);
    EXPECT_EQ(JackMidiService::monotonicNs(5'000'000, -184'000'000), 4'816'000'000u);
    // Before the monotonic clock's start: no usable stamp, "at delivery".
    EXPECT_EQ(JackMidiService::monotonicNs(100, -184'000'000), 0u);
    EXPECT_EQ(JackMidiService::monotonicNs(184'000, -184'000'000), 0u);
    // The offset is taken at the middle of the bracket.
    EXPECT_EQ(JackMidiService::clockOffsetNs(10'000'000'000, 9'000'000, 10'000'002'000), 1'000'001'000);
    EXPECT_EQ(JackMidiService::clockOffsetNs(1'000'000, 2'000, 1'000'000), -1'000'000);
}

class JackService : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("JACK_DEFAULT_SERVER"), nullptr) << "run through ctest: it starts the server";
        service = JackMidiService::tryCreate();
        ASSERT_TRUE(service);
        service->open(
            [this](MidiPacketList list, SourceKey key) {
                const std::uint64_t now = monotonicNow();
                std::lock_guard guard(lock);
                ++lists[key];
                for (const MidiPacket& p : list) {
                    ticks[key] += std::count(p.bytes.begin(), p.bytes.end(), 0xF8);
                    lateness.push_back(double(std::int64_t(now) - std::int64_t(p.timeStamp)) * 1e-9);
                }
            },
            [this] { queue.post()([this] { service->connectAllSources(); ++reconnects; }); });
        service->connectAllSources();
    }
    void TearDown() override {
        if (service) service->close();
    }

    std::optional<SourceKey> keyOf(const std::string& portName) {
        for (SourceKey key : service->sources())
            if (service->displayName(key) == portName) return key;
        return std::nullopt;
    }
    long ticksOf(SourceKey key) {
        std::lock_guard guard(lock);
        return ticks[key];
    }
    int ourPorts() {
        int n = 0;
        if (const char** names = jack_get_ports(sender->client(), "^Tactimo:", nullptr, 0)) {
            while (names[n]) ++n;
            jack_free(names);
        }
        return n;
    }

    test::MainQueue queue;
    std::unique_ptr<JackMidiService> service;
    std::unique_ptr<test::TestSender> sender;
    std::mutex lock;
    std::map<SourceKey, long> ticks;
    std::map<SourceKey, long> lists;
    std::vector<double> lateness; // seconds from stamp to delivery
    int reconnects = 0;
};

TEST_F(JackService, EveryEventArrivesOnceThroughReconnectsWithStampsOnTheMonotonicClock) {
    sender = std::make_unique<test::TestSender>("tactimo-test-sender");
    ASSERT_TRUE(sender->ok());
    const std::string port = sender->addPort("out");
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return keyOf(port).has_value(); }));
    test::pumpFor(queue, 200ms);
    const SourceKey key = *keyOf(port);
    EXPECT_NE(key, service->virtualDestination());

    sender->setSending(true);
    for (int i = 0; i < 5; ++i) {
        test::pumpFor(queue, 100ms);
        service->connectAllSources(); // already connected: EEXIST, never a second path
    }
    sender->setSending(false);
    test::pumpFor(queue, 200ms);
    EXPECT_GT(sender->sent(), 50);
    EXPECT_EQ(service->droppedLists(), 0u);
    // Never more than sent; fewer only by cycles the server itself ran late.
    EXPECT_LE(ticksOf(key), sender->sent());
    EXPECT_GE(ticksOf(key), sender->sent() - sender->xruns());
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(lists[key], ticks[key]) << "one list per source per cycle";
        // On CLOCK_MONOTONIC, not JACK's own clock: delivered within a few
        // cycles of the stamp, at most one cycle before it.
        std::sort(lateness.begin(), lateness.end());
        ASSERT_FALSE(lateness.empty());
        EXPECT_GT(lateness.front(), -0.02);
        EXPECT_LT(lateness[lateness.size() / 2], 0.05);
        EXPECT_LT(lateness.back(), 1.0);
    }
}

TEST_F(JackService, PrettyNameIsTheDisplayName) {
    sender = std::make_unique<test::TestSender>("tactimo-test-sender");
    const std::string port = sender->addPort("named");
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return keyOf(port).has_value(); }));
    const SourceKey key = *keyOf(port);
    jack_port_t* p = jack_port_by_name(sender->client(), port.c_str());
    ASSERT_EQ(jack_set_property(sender->client(), jack_port_uuid(p), JACK_METADATA_PRETTY_NAME, "Clock \xC3\x84", "text/plain"), 0);
    EXPECT_EQ(service->displayName(key), "Clock \xC3\x84");
    jack_remove_property(sender->client(), jack_port_uuid(p), JACK_METADATA_PRETTY_NAME);
    EXPECT_EQ(service->displayName(key), port);
}

TEST_F(JackService, ARenameIsNoSetUpChangeAndShowsWhenTheListIsNextRead) {
    sender = std::make_unique<test::TestSender>("tactimo-test-sender");
    const std::string port = sender->addPort("before");
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return keyOf(port).has_value(); }));
    test::pumpFor(queue, 200ms);
    const SourceKey key = *keyOf(port);
    const int reconnectsBefore = reconnects;
    ASSERT_EQ(jack_port_rename(sender->client(), jack_port_by_name(sender->client(), port.c_str()), "after"), 0);
    test::pumpFor(queue, 300ms);
    EXPECT_EQ(reconnects, reconnectsBefore);
    EXPECT_EQ(keyOf("tactimo-test-sender:after"), key);
}

TEST_F(JackService, PortsOfVanishedSourcesAreFreedAndKeysNeverReused) {
    sender = std::make_unique<test::TestSender>("tactimo-test-churn");
    ASSERT_TRUE(sender->ok());
    test::TestSender steady("tactimo-test-steady");
    const std::string steadyPort = steady.addPort("stays");
    ASSERT_TRUE(test::pumpUntil(queue, [&] { return keyOf(steadyPort).has_value(); }));
    const SourceKey steadyKey = *keyOf(steadyPort);

    std::set<SourceKey> seen;
    int total = 0;
    for (int round = 0; round < 10; ++round) {
        std::vector<std::string> names;
        for (int i = 0; i < 20; ++i) names.push_back(sender->addPort("p" + std::to_string(round) + "-" + std::to_string(i)));
        ASSERT_TRUE(test::pumpUntil(queue, [&] { return service->sources().size() == 21; }));
        test::pumpFor(queue, 20ms);
        for (const std::string& n : names) {
            const auto key = keyOf(n);
            ASSERT_TRUE(key) << n;
            seen.insert(*key);
            ++total;
        }
        EXPECT_EQ(ourPorts(), 1 + 21) << "one port per source, plus the virtual destination";
        sender->removeAllPorts();
        ASSERT_TRUE(test::pumpUntil(queue, [&] { return service->sources().size() == 1; }));
    }
    // JACK hands the same port UUIDs out again; our keys are new every time.
    EXPECT_EQ(int(seen.size()), total);
    EXPECT_EQ(seen.count(steadyKey), 0u);
    EXPECT_EQ(keyOf(steadyPort), steadyKey);
    ASSERT_TRUE(test::pumpUntil(queue, [&] {
        service->connectAllSources();
        return ourPorts() == 2;
    }, 3s));
}

TEST_F(JackService, ClientsThatQuitLeaveNoPortsOfOursBehind) {
    sender = std::make_unique<test::TestSender>("tactimo-test-observer");
    std::set<SourceKey> seen;
    for (int round = 0; round < 5; ++round) {
        std::vector<std::unique_ptr<test::TestSender>> clients;
        std::vector<std::string> names;
        for (int i = 0; i < 8; ++i) {
            clients.push_back(std::make_unique<test::TestSender>(("tactimo-test-c" + std::to_string(i)).c_str()));
            names.push_back(clients.back()->addPort("out"));
        }
        ASSERT_TRUE(test::pumpUntil(queue, [&] { return service->sources().size() == 8; }));
        for (const std::string& n : names) {
            const auto key = keyOf(n);
            ASSERT_TRUE(key) << n;
            EXPECT_TRUE(seen.insert(*key).second) << "key " << *key << " given twice";
        }
        clients.clear(); // the clients quit with their ports still registered
        ASSERT_TRUE(test::pumpUntil(queue, [&] { return service->sources().empty() && ourPorts() == 1; }));
    }
}

} // namespace
} // namespace tactimo
