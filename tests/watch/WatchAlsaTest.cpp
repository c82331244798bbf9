// tactimo-watch against a kernel's ALSA sequencer (scripts/vm-ctest.sh runs
// these in a virtual machine that has one), following a sequencer client of
// the test's own that sleeps to absolute deadlines.

#include "WatchProgramTests.h"

#include "tests/midi/AlsaTestRig.h"

namespace tactimo::test {
namespace {

class AlsaClockSender {
public:
    static constexpr double bpm = 123.45;

    std::optional<std::string> unavailable() const {
        if (access("/dev/snd/seq", R_OK | W_OK) != 0)
            return "no ALSA sequencer here; scripts/vm-ctest.sh runs these in a virtual machine";
        if (!sender_.ok()) return "no sequencer client for the sender";
        return std::nullopt;
    }

    std::string namePrefix() const { return "Tactimo Watch Sender"; }
    void awaitListeners(int n) {
        const auto listeners = [&] { return int(readersOf(sender_.seq(), sender_.address()).size()); };
        for (int i = 0; i < 1000 && listeners() < n; ++i) std::this_thread::sleep_for(10ms);
        EXPECT_GE(listeners(), n) << "the programs did not subscribe to the sender";
    }
    void play() {
        if (playing_) return;
        playing_ = true;
        sender_.send(SND_SEQ_EVENT_START);
        sender_.startClock(bpm);
    }
    // The sender sleeps to deadlines on CLOCK_MONOTONIC itself.
    double tempo() const { return bpm; }

private:
    // The ports a port writes to, as the sequencer lists its subscribers.
    static std::vector<alsatest::Address> readersOf(snd_seq_t* seq, alsatest::Address port) {
        std::vector<alsatest::Address> readers;
        if (!seq) return readers;
        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca(&query);
        const snd_seq_addr_t root{std::uint8_t(port.client), std::uint8_t(port.port)};
        snd_seq_query_subscribe_set_root(query, &root);
        snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
        snd_seq_query_subscribe_set_index(query, 0);
        while (snd_seq_query_port_subscribers(seq, query) >= 0) {
            const snd_seq_addr_t* a = snd_seq_query_subscribe_get_addr(query);
            readers.push_back({a->client, a->port});
            snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
        }
        return readers;
    }

    alsatest::TestSender sender_{"Tactimo Watch Sender"};
    bool playing_ = false;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Alsa, WatchWithSender, AlsaClockSender);

} // namespace
} // namespace tactimo::test
