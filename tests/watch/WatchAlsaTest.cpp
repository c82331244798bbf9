// tactimo-watch against a kernel's ALSA sequencer (scripts/vm-ctest.sh runs
// these in a virtual machine that has one), following a sequencer client of
// the test's own that sleeps to absolute deadlines.

#include "WatchProgramTests.h"

#include "support/AlsaTestSender.h"

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
        const auto listeners = [&] { return int(alsatest::readersOf(sender_.seq(), sender_.address()).size()); };
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
    alsatest::TestSender sender_{"Tactimo Watch Sender"};
    bool playing_ = false;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Alsa, WatchWithSender, AlsaClockSender);

} // namespace
} // namespace tactimo::test
