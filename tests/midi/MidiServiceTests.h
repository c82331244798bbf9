#pragma once

// What every backend promises, under ClockInput with the test as its main
// thread, written once over a backend fixture (support/JackTestSender.h,
// support/AlsaTestSender.h): the backend, and senders of the test's own.

#include "core/ClockInput.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tactimo::test {

using Transport = ClockAnalyzer::Transport;
using Bytes = std::vector<std::uint8_t>;

template <typename Backend>
class MidiServiceTest : public ::testing::Test {
protected:
    using Sender = typename Backend::Sender;

    void SetUp() override {
        if (const auto why = Backend::unavailable()) GTEST_SKIP() << *why;
        auto service = Backend::service();
        ASSERT_TRUE(service) << "run through ctest: it starts the server";
        input = std::make_unique<ClockInput>(std::move(service), queue.post());
    }
    std::optional<MIDISource> source(const std::string& name) {
        for (const MIDISource& s : input->sources())
            if (s.name == name) return s;
        return std::nullopt;
    }
    std::optional<ClockReading> reading(SourceKey key) {
        const Readings all = input->readings();
        return all.contains(key) ? std::optional(all.at(key)) : std::nullopt;
    }
    std::int64_t ticks(SourceKey key) { return reading(key) ? reading(key)->analyzer.tickCount : 0; }
    // Listed under its name, with a key not given before, once the backend
    // reads it (its port has that many listeners).
    SourceKey listed(const Sender& sender, int listeners = 1, const std::vector<SourceKey>& given = {}) {
        std::optional<MIDISource> s;
        EXPECT_TRUE(pumpUntil(queue, [&] {
            return (s = source(sender.source())) && sender.listeners() == listeners &&
                   !std::ranges::count(given, s->ref);
        })) << sender.source();
        return s ? s->ref : 0;
    }
    // Clocks until one is read under a key: a JACK connection carries data
    // from a later cycle of the server's on. The ticks read by then.
    std::int64_t heard(Sender& sender, SourceKey key, MainQueue& main) {
        for (int i = 0; i < 100 && !ticks(key); ++i) {
            sender.send({0xF8});
            pumpFor(main, 100ms);
        }
        pumpFor(main, 200ms);
        return ticks(key);
    }

    MainQueue queue;
    std::unique_ptr<ClockInput> input;
};
TYPED_TEST_SUITE_P(MidiServiceTest);

// Listed by name, read, kept when it quits; restarted (JACK and the kernel
// hand its port out again), it gets a key never given before, and the old
// key hears nothing.
TYPED_TEST_P(MidiServiceTest, ASenderIsListedByNameReadAndKeptWhenItQuits) {
    auto sender = std::make_unique<typename TestFixture::Sender>("tactimo-test-sender");
    std::vector<SourceKey> keys{this->listed(*sender)};
    std::vector<std::int64_t> heard{this->heard(*sender, keys[0], this->queue)};
    // In turn: bytes sent, then the transport and the song position in clocks.
    const std::tuple<Bytes, Transport, std::int64_t> steps[] = {
        {{0xFA}, Transport::playing, 0},
        {Bytes(23, 0xF8), Transport::playing, 22},
        {{0xFC}, Transport::stopped, 22},
        {{0xF2, 0x34, 0x24}, Transport::stopped, 6 * 0x1234},
        {{0xFB, 0xF8, 0xF8, 0xF8}, Transport::playing, 6 * 0x1234 + 2},
    };
    for (int row = 0; const auto& [bytes, transport, position] : steps) {
        sender->send(bytes);
        EXPECT_TRUE(pumpUntil(this->queue,
                              [&, &t = transport, &p = position] {
                                  return this->reading(keys[0])->analyzer.transport == t &&
                                         this->reading(keys[0])->analyzer.position == p;
                              }))
            << "row " << row++;
    }
    heard[0] += 26;
    EXPECT_EQ(this->ticks(keys[0]), heard[0]);
    EXPECT_EQ(std::ranges::count(this->input->sources(), keys[0], &MIDISource::ref), 1);
    for (int restart = 0; restart < 2; ++restart) {
        sender.reset();
        EXPECT_TRUE(pumpUntil(this->queue, [&] {
            return !this->source("tactimo-test-sender:out") && !this->reading(keys.back())->receiving;
        }));
        EXPECT_EQ(this->reading(keys.back())->name, "tactimo-test-sender:out");
        sender = std::make_unique<typename TestFixture::Sender>("tactimo-test-sender");
        keys.push_back(this->listed(*sender, 1, keys));
        heard.push_back(this->heard(*sender, keys.back(), this->queue));
        EXPECT_EQ(this->ticks(keys[keys.size() - 2]), heard[heard.size() - 2]) << "the old key heard the new sender";
    }
}

// Clock read to 0.01 BPM of the tempo it was sent at on CLOCK_MONOTONIC (the
// fit of the send times of those very ticks: a busy server's cycles run
// late), each tick stamped when it was sent but for a lag the same for all,
// and read once, though the sender reaches our public port too.
TYPED_TEST_P(MidiServiceTest, ClockIsReadToAHundredthOfABpmOnce) {
    typename TestFixture::Sender sender("tactimo-test-clock");
    ASSERT_TRUE(sender.connectPublic());
    const SourceKey key = this->listed(sender, 2);
    sender.clock(123.45);
    double got = 0, sent = 0, spread = 0;
    std::int64_t read = 0, sentThen = 0;
    EXPECT_TRUE(pumpUntil(
        this->queue,
        [&] {
            const auto r = this->reading(key);
            if (!r || r->analyzer.ticks.size() < ClockAnalyzer::windowCapacity) return false;
            std::tie(read, sentThen) = std::pair(r->analyzer.tickCount, sender.sent());
            if (!TypeParam::timed) return true;
            // The sender's ticks in the window, but for those sent before the connection carried them.
            const std::int64_t first =
                std::max<std::int64_t>(sentThen - read, 0) + read - std::ssize(r->analyzer.ticks);
            std::vector<double> at, lag;
            for (std::size_t i = 0; i < r->analyzer.ticks.size(); ++i) {
                at.push_back(sender.sentAt(first + std::int64_t(i)));
                lag.push_back(r->analyzer.ticks[i] - at.back());
            }
            std::ranges::sort(lag);
            spread = lag[lag.size() * 3 / 4] - lag[lag.size() / 4];
            got = 60.0 / (24.0 * r->analyzer.interval.value_or(1));
            sent = 60.0 / (24.0 * ClockAnalyzer::fit(at)->slope);
            return std::fabs(got - sent) < 0.01 && std::fabs(sent - 123.45) < 0.5 && spread < 2e-3;
        },
        90s))
        << got << " BPM, sent at " << sent << ", stamps " << spread * 1e3 << " ms apart from the send times";
    sender.stopClock();
    pumpFor(this->queue, 300ms);
    // Every tick since once, but those on their way then, or lost in a late cycle.
    EXPECT_LE(this->ticks(key) - read, sender.sent() - sentThen + 2);
    EXPECT_GE(this->ticks(key) - read, sender.sent() - sentThen - sender.xruns());
    EXPECT_FALSE(this->reading(this->input->virtualDestination())) << "the copy at our public port was read";
}

// What reaches our public port from a sender that we do not read directly
// (yet) is read there, under the virtual port; once we read it, the copy is not.
TYPED_TEST_P(MidiServiceTest, ThePublicPortReadsWhatReachesUsThereAlone) {
    typename TestFixture::Sender before("tactimo-test-before");
    this->listed(before); // the backend's first look at the set-up is done: the next waits for us
    typename TestFixture::Sender sender("tactimo-test-public");
    ASSERT_TRUE(sender.connectPublic());
    const SourceKey virtualPort = this->input->virtualDestination();
    MainQueue unpumped;
    const std::int64_t atPublic = this->heard(sender, virtualPort, unpumped) + 24;
    sender.send(Bytes(24, 0xF8));
    EXPECT_TRUE(pumpUntil(unpumped, [&] { return this->ticks(virtualPort) == atPublic; }));
    EXPECT_EQ(this->reading(virtualPort)->name, "Virtual port");

    const SourceKey key = this->listed(sender, 2);
    const std::int64_t direct = this->heard(sender, key, this->queue) + 12;
    sender.send(Bytes(12, 0xF8));
    EXPECT_TRUE(pumpUntil(this->queue, [&] { return this->ticks(key) == direct; }));
    pumpFor(this->queue, 200ms);
    EXPECT_EQ(this->ticks(virtualPort), atPublic);
}

REGISTER_TYPED_TEST_SUITE_P(MidiServiceTest, ASenderIsListedByNameReadAndKeptWhenItQuits,
                            ClockIsReadToAHundredthOfABpmOnce, ThePublicPortReadsWhatReachesUsThereAlone);

} // namespace tactimo::test
