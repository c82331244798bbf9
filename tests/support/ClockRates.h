#pragma once

#include <algorithm>
#include <cmath>
#include <ctime>
#include <deque>
#include <utility>

namespace tactimo::test {

// CLOCK_MONOTONIC against CLOCK_MONOTONIC_RAW. JACK's dummy driver paces its
// cycles by CLOCK_MONOTONIC_RAW while NTP may slew CLOCK_MONOTONIC by hundreds
// of ppm: a tempo sent at the server's cycles, read on CLOCK_MONOTONIC, is
// the one sent scaled by the two clocks' rates.
class ClockRates {
public:
    static double seconds(clockid_t clock) {
        timespec ts{};
        clock_gettime(clock, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    }

    // Reads both clocks, the raw one between two monotonic reads.
    void sample() {
        const double before = seconds(CLOCK_MONOTONIC);
        const double raw = seconds(CLOCK_MONOTONIC_RAW);
        samples_.emplace_back((before + seconds(CLOCK_MONOTONIC)) / 2, raw);
    }
    // Raw seconds per monotonic second from the sample nearest `since`
    // (CLOCK_MONOTONIC, s) up to now; 1 without an earlier sample.
    double rawPerMonotonic(double since) {
        sample();
        const auto& [mono0, raw0] = *std::ranges::min_element(
            samples_, {}, [&](const std::pair<double, double>& s) { return std::fabs(s.first - since); });
        const auto& [mono1, raw1] = samples_.back();
        return mono1 > mono0 ? (raw1 - raw0) / (mono1 - mono0) : 1.0;
    }

private:
    std::deque<std::pair<double, double>> samples_; // CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW
};

} // namespace tactimo::test
