// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The service that composes the backends, over fake ones that come and go.

#include "midi/SystemMidiService.h"
#include "midi/FakeMidiService.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace tactimo::test {
namespace {

constexpr auto interval = 20ms;
using Names = std::vector<std::string>;

// A backend whose server starts and stops at the test's word; readsDevices: as the sequencer.
struct FakeBackend {
    SystemMidiService::Backend backend(bool readsDevices = false) {
        return {[this]() -> std::unique_ptr<MidiService> {
                    for (; stall; std::this_thread::sleep_for(1ms)) stalled = true; // as a JACK client's open can
                    std::lock_guard guard(lock_);
                    if (!running_) return nullptr;
                    ++opens;
                    return std::make_unique<FakeMidiService>(bus_);
                },
                {},
                readsDevices};
    }
    // Each start with a bus whose keys begin at 1 again, as a restarted server's do.
    std::shared_ptr<FakeMidiBus> start(const Names& names) {
        auto bus = std::make_shared<FakeMidiBus>();
        for (const std::string& name : names) bus->addSource(name);
        std::lock_guard guard(lock_);
        running_ = true;
        return bus_ = bus;
    }
    // The server goes away under its client, which hears of it.
    void stop() {
        std::unique_lock guard(lock_);
        running_ = false;
        const auto gone = bus_;
        guard.unlock();
        gone->setReachable(false);
        gone->announceSetupChange();
    }
    std::shared_ptr<FakeMidiBus> bus() {
        std::lock_guard guard(lock_);
        return bus_;
    }
    std::atomic<int> opens{0};
    std::atomic<bool> stall{false}, stalled{false};
    std::mutex lock_;
    std::shared_ptr<FakeMidiBus> bus_;
    bool running_ = false;
};

TEST(SystemMidiService, BackendsThatComeAndGoAreListedUnderKeysNeverGivenBefore) {
    FakeBackend jack, seq;
    seq.start({"Drum"});
    MainQueue queue;
    ClockInput input(std::make_unique<SystemMidiService>(std::vector{jack.backend(), seq.backend(true)}, interval),
                     queue.post());
    const auto listed = [&] {
        Names names;
        for (const MIDISource& s : input.sources()) names.push_back(s.name);
        return names;
    };
    std::map<std::string, SourceKey> keyOf{{"Drum", input.sources()[0].ref}};
    std::set<SourceKey> given{keyOf["Drum"], virtualKey};
    // In turn: what happens; the names listed, reachable?, JACK reads bridges?, the names with new keys.
    const auto startDawAndSynth = [&] { jack.start({"DAW", "Synth"}); };
    const std::tuple<std::function<void()>, Names, bool, bool, Names> steps[] = {
        {startDawAndSynth, {"DAW", "Synth", "Drum", "Virtual port"}, true, false, {"DAW", "Synth"}},
        {[&] { jack.stop(); }, {"Drum", "Virtual port"}, true, false, {}},
        {[&] { jack.start({"DAW"}); }, {"DAW", "Drum", "Virtual port"}, true, false, {"DAW"}},
        {[&] { seq.stop(); }, {"DAW", "Virtual port"}, true, true, {}},
        {[&] { seq.start({"Drum"}); }, {"DAW", "Drum", "Virtual port"}, true, false, {"Drum"}},
        {[&] { jack.stop(); }, {"Drum", "Virtual port"}, true, false, {}},
        {[&] { seq.stop(); }, {"Virtual port"}, false, false, {}},
    };
    for (int row = 0; const auto& [action, names, reachable, bridges, renewed] : steps) {
        action();
        // The bridges are handed over just after the list changes.
        EXPECT_TRUE(pumpUntil(queue,
                              [&, &names = names, reachable = reachable, bridges = bridges] {
                                  return listed() == names && input.serviceReachable() == reachable &&
                                         jack.bus()->readsBridges() == bridges;
                              }))
            << "row " << row;
        for (const MIDISource& s : input.sources()) {
            if (s.ref == virtualKey) continue;
            EXPECT_TRUE(std::ranges::count(renewed, s.name) ? given.insert(s.ref).second : s.ref == keyOf[s.name])
                << s.name << " in row " << row;
            keyOf[s.name] = s.ref;
        }
        ++row;
    }
    EXPECT_EQ(jack.opens, 2);
    // Across backends too, names equal by accident take their long form, and all are bounded.
    const auto jackBus = jack.start({}), seqBus = seq.start({});
    const std::string x(1000, 'x');
    const std::tuple<FakeMidiBus*, std::string, std::string> sources[] = {
        {jackBus.get(), "Synth", "a:Synth"}, {seqBus.get(), "Synth", "b:Synth"}, {seqBus.get(), x, x}};
    for (const auto& [bus, name, full] : sources) bus->setFullName(bus->addSource(name), full);
    jackBus->announceSetupChange();
    seqBus->announceSetupChange();
    const Names distinct{"a:Synth", "b:Synth", SourceNames::bounded(x), "Virtual port"};
    EXPECT_TRUE(pumpUntil(queue, [&] { return listed() == distinct; }));
    // Data to any backend's virtual destination arrives under one key.
    for (FakeBackend* b : {&jack, &seq})
        EXPECT_TRUE(pumpUntil(queue, [&] { return b->bus()->send(FakeMidiBus::virtualKey, {0xF8}); }));
    EXPECT_EQ(input.readings().at(virtualKey).analyzer.tickCount, 2);
}

TEST(SystemMidiService, ClientsSwappedUnderLoadHoldNothingUpAndStopAtClose) {
    FakeBackend jack, seq;
    jack.start({"DAW"});
    seq.start({"Drum"});
    std::atomic<long> received = 0, late = 0;
    std::atomic<bool> closed = false;
    SystemMidiService service({jack.backend(), seq.backend()}, interval);
    service.open(
        [&](MidiPacketList, SourceKey key) {
            service.displayName(key); // as ClockInput's receiver does
            ++received;
            late += closed;
        },
        [] {});
    const auto sender = [&](std::stop_token stop, FakeBackend& backend) { // now and then from a new source
        for (int n = 0; !stop.stop_requested(); ++n)
            for (const SourceKey key :
                 {SourceKey(1), n % 16 ? 0 : backend.bus()->addSource("new"), FakeMidiBus::virtualKey})
                backend.bus()->send(key, {0xF8});
    };
    std::jthread jackSender(sender, std::ref(jack)), seqSender(sender, std::ref(seq));
    for (int quarter = 0; quarter < 400; ++quarter, std::this_thread::sleep_for(interval / 4)) { // of an interval
        if (quarter % 10 == 0) jack.stop();
        if (quarter % 10 == 2) jack.start({"DAW"});
        service.connectAllSources();
    }
    jack.stall = true;
    jack.stop();
    jack.start({"DAW"});
    MainQueue idle;
    ASSERT_TRUE(pumpUntil(idle, [&] { return jack.stalled.load(); }));
    const long before = received;
    EXPECT_TRUE(pumpUntil(idle, [&] { return !service.sources().empty() && received > before + 50; }));
    jack.stall = false;
    service.close();
    closed = true;
    const int opens = jack.opens;
    jack.stop();
    jack.start({"DAW"});
    std::this_thread::sleep_for(interval * 3);
    EXPECT_EQ(late, 0) << "deliveries after close() returned";
    EXPECT_GT(opens, 10);
    EXPECT_EQ(jack.opens, opens) << "tried again after close()";
    EXPECT_FALSE(seq.bus()->isOpen());
}

} // namespace
} // namespace tactimo::test
