// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Tempo accuracy on simulated clocks: the real intake (ClockInput through the
// fake MIDI service, with the host clock driven by the simulation) and the
// real status derivation, refreshed at 30 Hz of simulated time, side by side
// with two delay-locked loops of the kind other followers use, fed the very
// same time stamps. Deterministic: fixed seeds, no real time anywhere.
//
//   tactimo_accuracy [--minutes N]   steady runs last N simulated minutes (60)

#include "bench/accuracy/ReferenceLoop.h"
#include "core/ClockInput.h"
#include "core/ClockStatus.h"
#include "support/ManualIntake.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace tactimo;

namespace {

constexpr double kRefresh = 1.0 / 30.0; // seconds between refreshes
constexpr double kWarmup = 30.0;        // seconds before steady statistics start
constexpr double kHorizon = 30.0;       // seconds observed after a change
constexpr double kBase = 1000.0;        // host clock at simulation start, seconds
constexpr double kSettleBand = 0.1;     // BPM
constexpr std::size_t kWindow = ClockAnalyzer::windowCapacity;

// Gaussian numbers by Box-Muller on a fixed engine, so that the figures do
// not depend on the standard library's distribution code.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : engine_(seed) {}
    double uniform() { return (static_cast<double>(engine_() >> 11) + 0.5) * 0x1.0p-53; } // (0, 1)
    double gaussian() {
        if (spare_) {
            const double v = *spare_;
            spare_.reset();
            return v;
        }
        const double r = std::sqrt(-2.0 * std::log(uniform()));
        const double a = 2.0 * M_PI * uniform();
        spare_ = r * std::sin(a);
        return r * std::cos(a);
    }

private:
    std::mt19937_64 engine_;
    std::optional<double> spare_;
};

enum class Jitter { white, period, quantised };
enum class Scenario { steady, step, start, pause };

struct Case {
    double bpm;
    Jitter jitter;
    double amount; // white: RMS seconds; period: percent; quantised: grid seconds
    Scenario scenario;
    double factor = 1.0; // tempo after a step
    std::string label;
};

struct Event {
    double ideal; // seconds since the simulation start, before observation noise
    double stamp; // seconds since the simulation start, as the driver stamps it
    std::uint8_t byte;
    double tempo; // true tempo in force from this event on, BPM
};

struct Result {
    double bound = NAN;     // BPM, for a full window
    double raw = NAN;       // RMS of 60 / (24 interval), all steady refreshes
    double rawFull = NAN;   // the same over refreshes with a full window
    double fullShare = NAN; // share of steady refreshes with a full window
    double exact = NAN, shown = NAN, dll = NAN, fixedDll = NAN;
    double flicker = NAN;                                    // bpm changes per minute
    double cuts = NAN;                                       // window cuts per hour
    double settle = NAN, settleDll = NAN, settleFixed = NAN; // seconds; inf = never
};

double tickInterval(double bpm) {
    return 60.0 / (24.0 * bpm);
}

// Cramér-Rao bound of the slope for n ticks with white timing noise sigma, as BPM.
double boundBPM(double bpm, double sigma, std::size_t n) {
    const double nd = static_cast<double>(n);
    const double sdInterval = sigma * std::sqrt(12.0 / (nd * (nd * nd - 1.0)));
    return bpm * sdInterval / tickInterval(bpm);
}

// The noise bound that fits each kind of jitter: white noise and quantisation
// (uniform error of one grid step, sigma = q / sqrt 12) use the line-fit
// bound; period jitter makes a random walk, where no estimator beats the mean
// of the n - 1 independent intervals.
double caseBound(const Case& c) {
    switch (c.jitter) {
    case Jitter::white: return boundBPM(c.bpm, c.amount, kWindow);
    case Jitter::quantised: return boundBPM(c.bpm, c.amount / std::sqrt(12.0), kWindow);
    case Jitter::period: {
        const double sdInterval = tickInterval(c.bpm) * c.amount / 100.0 / std::sqrt(3.0);
        return c.bpm * sdInterval / tickInterval(c.bpm) / std::sqrt(static_cast<double>(kWindow - 1));
    }
    }
    return NAN;
}

double observe(const Case& c, double ideal, Noise& noise, double phase) {
    switch (c.jitter) {
    case Jitter::white: return ideal + c.amount * noise.gaussian();
    case Jitter::quantised: return std::floor((ideal + phase) / c.amount) * c.amount;
    case Jitter::period: return ideal;
    }
    return ideal;
}

// Appends ticks at a tempo from time `from` for `seconds`; returns the time of the next tick.
double appendTicks(std::vector<Event>& out, const Case& c, double bpm, double from, double seconds, Noise& noise,
                   double phase) {
    const double interval = tickInterval(bpm);
    double t = from;
    const double end = from + seconds;
    while (t < end) {
        out.push_back({t, observe(c, t, noise, phase), 0xF8, bpm});
        double step = interval;
        if (c.jitter == Jitter::period) step *= 1.0 + c.amount / 100.0 * (2.0 * noise.uniform() - 1.0);
        t += step;
    }
    return t;
}

struct Script {
    std::vector<Event> events;
    double end = 0;            // seconds
    double change = NAN;       // the moment the settle time counts from
    double changedTempo = NAN; // true tempo after the change
};

Script makeScript(const Case& c, double steadySeconds, std::uint64_t seed) {
    Noise noise(seed);
    const double phase = noise.uniform() * (c.jitter == Jitter::quantised ? c.amount : 0.0);
    Script s;
    double t = 0.5;
    switch (c.scenario) {
    case Scenario::steady: t = appendTicks(s.events, c, c.bpm, t, steadySeconds, noise, phase); break;
    case Scenario::step:
        t = appendTicks(s.events, c, c.bpm, t, 60.0, noise, phase);
        // The first longer or shorter interval ends on the first tick at the new tempo.
        s.change = s.events.back().ideal;
        s.changedTempo = c.bpm * c.factor;
        t = s.change + tickInterval(s.changedTempo);
        t = appendTicks(s.events, c, s.changedTempo, t, kHorizon, noise, phase);
        break;
    case Scenario::start:
        t = 5.0; // silence first: the window is open and empty
        s.change = t;
        s.changedTempo = c.bpm;
        t = appendTicks(s.events, c, c.bpm, t, kHorizon, noise, phase);
        break;
    case Scenario::pause: {
        s.events.push_back({t, t, 0xFA, c.bpm});
        t = appendTicks(s.events, c, c.bpm, t, 60.0, noise, phase);
        const double last = s.events.back().ideal;
        s.events.push_back({last + 0.001, last + 0.001, 0xFC, c.bpm});
        t = last + 3.0;
        s.events.push_back({t - 0.001, t - 0.001, 0xFA, c.bpm});
        s.change = t;
        s.changedTempo = c.bpm;
        t = appendTicks(s.events, c, c.bpm, t, kHorizon, noise, phase);
        break;
    }
    }
    s.end = t + 1.0;
    return s;
}

struct Stats {
    double sum2 = 0;
    long n = 0;
    void add(double e) {
        sum2 += e * e;
        ++n;
    }
    double rms() const { return n ? std::sqrt(sum2 / static_cast<double>(n)) : NAN; }
};

// Tracks the last moment an estimate was outside the band around the new tempo.
struct Settle {
    double lastOut = NAN;
    void see(double now, std::optional<double> bpm, double truth) {
        if (!bpm || !(std::fabs(*bpm - truth) <= kSettleBand)) lastOut = now;
    }
    double after(double change, double end) const {
        if (std::isnan(lastOut)) return 0.0;
        if (lastOut > end - 2.0) return INFINITY; // still out near the end of the run
        return std::max(0.0, lastOut + kRefresh - change);
    }
};

Result run(const Case& c, double steadySeconds, std::uint64_t seed) {
    const Script script = makeScript(c, steadySeconds, seed);

    test::ManualIntake intake({"Simulated clock"}, test::ns(kBase));
    const SourceKey key = intake.keys.front();

    ReferenceLoop dll(ReferenceLoop::Bandwidth::perTempo);
    ReferenceLoop fixedDll(ReferenceLoop::Bandwidth::fixed);

    ClockStatus status;
    std::optional<SourceKey> active;
    Stats raw, rawFull, exact, shown, sDll, sFixed;
    long refreshes = 0, full = 0, changes = 0, cuts = 0;
    double statSeconds = 0;
    Settle settle, settleDll, settleFixed;
    std::size_t prevSize = 0;
    std::int64_t prevCount = 0;
    double truth = c.bpm;

    auto toNanos = [](double simSeconds) { return test::ns(kBase + simSeconds); };

    auto refresh = [&](double now) {
        intake.now = toNanos(now);
        const Readings snapshot = intake.input->readings();
        const ClockStatus next = deriveStatus(snapshot, "", active, status);
        const bool changedBPM = next.bpm != status.bpm;
        status = next;

        std::optional<double> rawBPM;
        std::size_t size = 0;
        std::int64_t count = 0;
        if (active) {
            if (const auto it = snapshot.find(*active); it != snapshot.end()) {
                const ClockAnalyzer& a = it->second.analyzer;
                if (a.interval) rawBPM = 60.0 / (24.0 * *a.interval);
                size = a.ticks.size();
                count = a.tickCount;
            }
        }
        // A window that grew less than the ticks that came was cut (no gaps on a steady clock).
        const bool cut =
            count > prevCount && size < std::min(kWindow, prevSize + static_cast<std::size_t>(count - prevCount));
        prevSize = size;
        prevCount = count;

        if (c.scenario == Scenario::steady && now >= kWarmup) {
            ++refreshes;
            statSeconds += kRefresh;
            if (changedBPM) ++changes;
            if (cut) ++cuts;
            if (rawBPM) raw.add(*rawBPM - truth);
            if (rawBPM && size == kWindow) {
                rawFull.add(*rawBPM - truth);
                ++full;
            }
            if (status.exactBPM) exact.add(*status.exactBPM - truth);
            if (status.bpm) shown.add(*status.bpm - truth);
            if (dll.bpm()) sDll.add(*dll.bpm() - truth);
            if (fixedDll.bpm()) sFixed.add(*fixedDll.bpm() - truth);
        }
        if (!std::isnan(script.change) && now >= script.change) {
            settle.see(now, status.bpm, script.changedTempo);
            settleDll.see(now, dll.bpm(), script.changedTempo);
            settleFixed.see(now, fixedDll.bpm(), script.changedTempo);
        }
    };

    double nextRefresh = 0;
    double arrival = 0;
    for (const Event& e : script.events) {
        arrival = std::max(arrival, e.stamp);
        while (nextRefresh <= arrival) {
            refresh(nextRefresh);
            nextRefresh += kRefresh;
        }
        intake.now = toNanos(arrival);
        const std::vector<std::uint8_t> bytes{e.byte};
        intake.bus->send(key, bytes, toNanos(e.stamp));
        const double seconds = static_cast<double>(toNanos(e.stamp)) * ClockInput::secondsPerHostTick;
        if (e.byte == 0xF8) {
            dll.clock(seconds);
            fixedDll.clock(seconds);
            truth = e.tempo;
        } else if (e.byte == 0xFA || e.byte == 0xFB) {
            dll.restart();
            fixedDll.restart();
        }
    }
    while (nextRefresh <= script.end) {
        refresh(nextRefresh);
        nextRefresh += kRefresh;
    }

    Result r;
    r.bound = caseBound(c);
    if (c.scenario == Scenario::steady) {
        r.raw = raw.rms();
        r.rawFull = rawFull.rms();
        r.fullShare = refreshes ? static_cast<double>(full) / static_cast<double>(refreshes) : NAN;
        r.exact = exact.rms();
        r.shown = shown.rms();
        r.dll = sDll.rms();
        r.fixedDll = sFixed.rms();
        r.flicker = static_cast<double>(changes) / (statSeconds / 60.0);
        r.cuts = static_cast<double>(cuts) / (statSeconds / 3600.0);
    } else {
        r.settle = settle.after(script.change, script.end);
        r.settleDll = settleDll.after(script.change, script.end);
        r.settleFixed = settleFixed.after(script.change, script.end);
    }
    return r;
}

std::string jitterLabel(Jitter j, double amount) {
    char buf[48];
    switch (j) {
    case Jitter::white: std::snprintf(buf, sizeof buf, "white %.1f ms", amount * 1e3); break;
    case Jitter::period: std::snprintf(buf, sizeof buf, "period ±%.0f %%", amount); break;
    case Jitter::quantised:
        if (amount == 1e-3)
            std::snprintf(buf, sizeof buf, "grid 1 ms");
        else
            std::snprintf(buf, sizeof buf, "grid 1/48000 s");
        break;
    }
    return buf;
}

std::string num(double v, const char* fmt) {
    if (std::isnan(v)) return "–";
    if (std::isinf(v)) return "never";
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string ratio(double a, double b) {
    // Below a micro-BPM both sides are rounding noise of the time stamps.
    if (std::isnan(a) || std::isnan(b) || b < 1e-6) return "–";
    return num(a / b, "%.2f");
}

} // namespace

int main(int argc, char** argv) {
    double minutes = 60;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc)
            minutes = std::atof(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--minutes N]\n", argv[0]);
            return 2;
        }
    }
    if (!(minutes >= 1)) minutes = 1;
    const double steadySeconds = minutes * 60.0;

    const double tempos[] = {60.0, 120.0, 123.4, 240.0};
    std::vector<Case> cases;
    for (const double bpm : tempos) {
        for (const double ms : {0.0, 0.1, 0.3, 1.0, 3.0})
            cases.push_back({bpm, Jitter::white, ms * 1e-3, Scenario::steady, 1.0, "steady"});
        for (const double j : {1.0, 5.0}) cases.push_back({bpm, Jitter::period, j, Scenario::steady, 1.0, "steady"});
        cases.push_back({bpm, Jitter::quantised, 1e-3, Scenario::steady, 1.0, "steady"});
        cases.push_back({bpm, Jitter::quantised, 1.0 / 48000.0, Scenario::steady, 1.0, "steady"});
    }
    auto changes = [&](double bpm, double sigma) {
        cases.push_back({bpm, Jitter::white, sigma, Scenario::step, 1.05, "step +5 %"});
        cases.push_back({bpm, Jitter::white, sigma, Scenario::step, 1.005, "step +0.5 %"});
        cases.push_back({bpm, Jitter::white, sigma, Scenario::step, 0.5, "halving"});
        cases.push_back({bpm, Jitter::white, sigma, Scenario::start, 1.0, "start after silence"});
        cases.push_back({bpm, Jitter::white, sigma, Scenario::pause, 1.0, "pause 3 s, restart"});
    };
    for (const double bpm : tempos) changes(bpm, 0.1e-3);
    changes(120.0, 0.0);
    changes(120.0, 1e-3);
    changes(240.0, 1e-3);

    std::printf(
        "Tempo accuracy on simulated clocks (steady runs: %.0f simulated minutes each, statistics after %.0f s;\n"
        "refresh every 1/30 s of simulated time; errors in BPM RMS against the true tempo).\n"
        "bound: Cramér-Rao bound of a %zu-tick window (period jitter: the mean of the intervals; grids: white\n"
        "noise of one step / sqrt 12, which the fit beats, since a grid's error is not random).\n"
        "raw: 60/(24 interval) of the analyzer; full: the same on refreshes with a full window (share of them);\n"
        "exact, shown: exactBPM and bpm of the status; DLL: bandwidth omega = 2 pi T0/6; fixed: omega = 2 pi "
        "(60/500)/24.\n"
        "x: loop error / raw error.  settle: seconds after the change until bpm (or the loop) stays within 0.1 "
        "BPM.\n\n",
        minutes, kWarmup, kWindow);
    std::printf("%-20s %6s %-15s %8s %8s %8s %5s %6s %8s %8s %8s %5s %8s %5s %7s %7s %7s %7s %7s\n", "case", "BPM",
                "jitter", "bound", "raw", "full", "/bnd", "share", "exact", "shown", "DLL", "x", "fixed", "x",
                "flick/m", "cuts/h", "settle", "s DLL", "s fix");

    struct Goal {
        bool bound = true, loops = true, step = true, quiet = true;
    } goal;
    double worstBound = 0, worstLoopFactor = INFINITY, worstStep = 0;
    double worstOtherFactor = INFINITY;
    std::string worstBoundCase, worstLoopCase, worstStepCase, worstOtherCase;

    std::uint64_t seed = 0x7AC71A0;
    for (const Case& c : cases) {
        const Result r = run(c, steadySeconds, ++seed);
        std::printf("%-20s %6.1f %-15s %8s %8s %8s %5s %6s %8s %8s %8s %5s %8s %5s %7s %7s %7s %7s %7s\n",
                    c.label.c_str(), c.bpm, jitterLabel(c.jitter, c.amount).c_str(), num(r.bound, "%.5f").c_str(),
                    num(r.raw, "%.5f").c_str(), num(r.rawFull, "%.5f").c_str(), ratio(r.rawFull, r.bound).c_str(),
                    num(r.fullShare * 100, "%.1f%%").c_str(), num(r.exact, "%.5f").c_str(),
                    num(r.shown, "%.5f").c_str(), num(r.dll, "%.5f").c_str(), ratio(r.dll, r.raw).c_str(),
                    num(r.fixedDll, "%.5f").c_str(), ratio(r.fixedDll, r.raw).c_str(), num(r.flicker, "%.2f").c_str(),
                    num(r.cuts, "%.1f").c_str(), num(r.settle, "%.2f").c_str(), num(r.settleDll, "%.2f").c_str(),
                    num(r.settleFixed, "%.2f").c_str());
        std::fflush(stdout);

        const std::string name = c.label + " " + num(c.bpm, "%.1f") + " BPM " + jitterLabel(c.jitter, c.amount);
        if (c.scenario == Scenario::steady && c.jitter == Jitter::white && c.amount > 0) {
            const double q = r.rawFull / r.bound;
            if (q > worstBound) {
                worstBound = q;
                worstBoundCase = name;
            }
            if (!(q <= 1.1)) goal.bound = false;
        }
        if (c.scenario == Scenario::steady && c.amount > 0) {
            const double f = std::min(r.dll, r.fixedDll) / r.raw;
            if (c.jitter == Jitter::white) {
                if (f < worstLoopFactor) {
                    worstLoopFactor = f;
                    worstLoopCase = name;
                }
                if (!(f >= 20)) goal.loops = false;
            } else if (f < worstOtherFactor) {
                worstOtherFactor = f;
                worstOtherCase = name;
            }
        }
        if (c.scenario == Scenario::step && c.factor == 1.05) {
            if (!(r.settle <= worstStep)) {
                worstStep = r.settle;
                worstStepCase = name;
            }
            if (!(r.settle < 1.0)) goal.step = false;
        }
        if (c.scenario == Scenario::steady && c.bpm == 120.0 && c.jitter == Jitter::white && c.amount == 1e-3)
            goal.quiet = r.flicker == 0 && r.cuts == 0;
    }

    std::printf("\nGoals:\n");
    std::printf("  raw error with a full window within 1.1 x the bound (white jitter): %s (worst %.3f x, %s)\n",
                goal.bound ? "met" : "NOT met", worstBound, worstBoundCase.c_str());
    std::printf("  at least 20 x lower error than both loops (steady, white jitter):  %s (worst %.1f x, %s)\n",
                goal.loops ? "met" : "NOT met", worstLoopFactor, worstLoopCase.c_str());
    std::printf("    (period jitter and grids, for information: worst %.1f x, %s)\n", worstOtherFactor,
                worstOtherCase.c_str());
    std::printf("  within 0.1 BPM in under 1 s after a 5 %% step:                       %s (worst %s s, %s)\n",
                goal.step ? "met" : "NOT met", num(worstStep, "%.2f").c_str(), worstStepCase.c_str());
    std::printf("  120 BPM, 1 ms white jitter: no flicker and no false cut:            %s\n",
                goal.quiet ? "met" : "NOT met");
    return 0;
}
