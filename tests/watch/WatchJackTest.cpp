// tactimo-watch against the private JACK server of the tests, following
// jack_midi_clock driven by jack_transport.

#include "WatchProgramTests.h"

#include "support/ChildProcess.h"
#include "support/ClockRates.h"

#include <jack/jack.h>

#include <memory>

namespace tactimo::test {
namespace {

class JackClockSender {
public:
    static constexpr double bpm = 123.45;

    JackClockSender() {
        EXPECT_TRUE(peek_) << "run through ctest: it starts the server";
        // Stopped at 0 with a timebase master, so that playing sends Start and
        // a song position follows a stop.
        for (const char* line : {"stop", "master", "tempo 120", "locate 0"}) transport_.say(line);
        // Not one that an earlier test's sender may have left behind for a moment.
        const std::vector<std::string> before = ports("^jack_midi_clock");
        sender_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{"jack_midi_clock", "-b", "123.45", "-B", "-d", "0"});
        for (int i = 0; i < 500 && port_.empty(); ++i) {
            for (const std::string& port : ports("^jack_midi_clock"))
                if (std::find(before.begin(), before.end(), port) == before.end()) port_ = port;
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_FALSE(port_.empty()) << "jack_midi_clock did not appear";
        rates_.sample();
    }
    ~JackClockSender() {
        transport_.say("stop");
        if (peek_) jack_client_close(peek_);
    }

    std::string namePrefix() const { return port_.empty() ? "jack_midi_clock" : port_; }
    void awaitListeners(int n) {
        for (int i = 0; i < 1000 && connections() < n; ++i) std::this_thread::sleep_for(10ms);
        EXPECT_GE(connections(), n) << "the programs did not connect to " << port_;
    }
    void play() { transport_.say("play"); }

    // The dummy server paces its cycles by CLOCK_MONOTONIC_RAW while NTP may
    // slew CLOCK_MONOTONIC by hundreds of ppm: the sent tempo scaled by the
    // two clocks' rates over the analyzer's window (192 ticks) up to now.
    double tempo() {
        return bpm * rates_.rawPerMonotonic(ClockRates::seconds(CLOCK_MONOTONIC) - 192 * 60.0 / (24 * bpm));
    }

private:
    std::vector<std::string> ports(const char* pattern) const {
        const char** names = peek_ ? jack_get_ports(peek_, pattern, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput) : nullptr;
        std::vector<std::string> found;
        for (int i = 0; names && names[i]; ++i) found.emplace_back(names[i]);
        jack_free(names);
        return found;
    }
    int connections() const {
        jack_port_t* port = peek_ && !port_.empty() ? jack_port_by_name(peek_, port_.c_str()) : nullptr;
        return port ? jack_port_connected(port) : 0;
    }

    jack_client_t* peek_ = jack_client_open("tactimo-watch-test", JackNoStartServer, nullptr);
    ChildProcess transport_{{"jack_transport"}};
    std::unique_ptr<ChildProcess> sender_;
    std::string port_;
    ClockRates rates_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Jack, WatchWithSender, JackClockSender);

} // namespace
} // namespace tactimo::test
