#pragma once

#include "ClockEvent.h"
#include "FixedList.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace tactimo {

// The clock state of one source: transport, song position, and tempo and
// jitter estimated from the times of the latest ticks. A plain value; every
// time it uses is given by the caller, in seconds of the host's monotonic clock.
struct ClockAnalyzer {
    enum class Transport : std::uint8_t { unknown, playing, stopped };

    struct Fit {
        double slope; // seconds per tick
        double rms;   // seconds
    };

    struct ChangeRule {
        int recent;       // newest ticks that form the newer part
        double threshold; // relative slope difference that counts as a change
        int keep;         // ticks kept when a change is confirmed
    };

    static constexpr std::size_t windowCapacity = 192; // 8 quarter notes
    static constexpr std::size_t recentCapacity = 7;
    static constexpr std::array<ChangeRule, 2> changeRules{{{12, 0.04, 7}, {48, 0.004, 24}}};

    std::optional<double> interval; // seconds per clock tick
    std::optional<double> jitter;   // seconds; only with interval and 12+ ticks
    Transport transport = Transport::unknown;
    std::optional<std::int64_t> position; // MIDI clocks since song start
    std::optional<double> lastTick;
    std::int64_t tickCount = 0;              // never reset
    FixedList<double, windowCapacity> ticks; // oldest first; last entry == lastTick
    std::optional<std::int64_t> nextPosition;
    std::int64_t changeTicks = 0;                // consecutive ticks that saw a tempo change
    FixedList<double, recentCapacity> recentBPM; // oldest first

    void apply(const ClockEvent& event, double at);
    void tick(double at);
    void updateTempo();

    // Least-squares line through times against their index; none for fewer than 2.
    static std::optional<Fit> fit(std::span<const double> times);

    friend bool operator==(const ClockAnalyzer&, const ClockAnalyzer&) = default;

private:
    const ChangeRule* matchingChangeRule() const;
};

} // namespace tactimo
