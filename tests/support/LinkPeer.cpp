// A Link peer for the tests and the benchmark, on CLOCK_MONOTONIC like
// Tactimo. It founds a session at the tempo of its argument and, from stdin:
//   BPM PLAYING   sets the session's tempo and play state ("140.25 1")
//   ?             prints "T PHASE": host time (µs) and its phase at it (quantum 4)
// It prints "on" once enabled, and leaves the session at the end of stdin.
#include <ableton/Link.hpp>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    ableton::BasicLink<ableton::platforms::linux::ClockMonotonic> link(argc > 1 ? std::atof(argv[1]) : 120);
    link.enableStartStopSync(true);
    link.enable(true);
    std::printf("on\n");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);) {
        const auto now = link.clock().micros();
        auto state = link.captureAppSessionState();
        if (line == "?") {
            std::printf("%lld %.6f\n", static_cast<long long>(now.count()), state.phaseAtTime(now, 4));
            std::fflush(stdout);
            continue;
        }
        double bpm = 0;
        int playing = 0;
        if (!(std::istringstream(line) >> bpm >> playing)) continue;
        state.setTempo(bpm, now);
        state.setIsPlaying(playing != 0, now);
        link.commitAppSessionState(state);
    }
}
