// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cmath>
#include <optional>

namespace tactimo {

// The second-order delay-locked loop that other MIDI clock followers run,
// kept here only to compare against. Times in seconds; one call per clock.
class ReferenceLoop {
public:
    enum class Bandwidth {
        perTempo, // omega = 2 pi T0 / 6, from the first interval
        fixed,    // omega = 2 pi (60 / 500) / 24 whatever the tempo
    };

    explicit ReferenceLoop(Bandwidth bandwidth) : bandwidth_(bandwidth) {}

    // Forget everything; the next two clocks start the loop again (on Start or Continue).
    void restart() {
        clocks_ = 0;
        bpm_.reset();
    }

    void clock(double t) {
        ++clocks_;
        if (clocks_ == 1) {
            t1_ = t;
            return;
        }
        if (clocks_ == 2) {
            const double t0 = t - t1_;
            const double omega =
                bandwidth_ == Bandwidth::perTempo ? 2.0 * M_PI * t0 / 6.0 : 2.0 * M_PI * (60.0 / 500.0) / 24.0;
            b_ = std::sqrt(2.0) * omega;
            c_ = omega * omega;
            e2_ = t0;
            t1_ = t + t0;
            if (t0 > 0) bpm_ = 60.0 / (24.0 * t0);
            return;
        }
        const double e = t - t1_;
        const double t0 = t1_;
        t1_ += b_ * e + e2_;
        e2_ += c_ * e;
        const double period = t1_ - t0;
        if (period > 0)
            bpm_ = 60.0 / (24.0 * period);
        else
            bpm_.reset();
    }

    std::optional<double> bpm() const { return bpm_; }

private:
    Bandwidth bandwidth_;
    long clocks_ = 0;
    double t1_ = 0, e2_ = 0, b_ = 0, c_ = 0;
    std::optional<double> bpm_;
};

} // namespace tactimo
