// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockAnalyzer.h"
#include "ClockEvent.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tactimo {

// The current run of one source's clock, tick by tick, and the moments its
// tempo window was cut or its transport moved. A run starts with a tick that
// arrives after the clock had stopped; the ticks of earlier runs are let go.
// Rings of fixed capacity, allocated once with the source's record, so that
// the receive path only writes into them. Every entry carries a sequence
// number, given by the owner and growing across all sources, so a reader
// copies only what is new to it.
class ClockHistory {
public:
    // One minute at 300 BPM.
    static constexpr std::size_t tickCapacity = 7200;
    static constexpr std::size_t markCapacity = 256;
    // Jitter readings count towards the worst only once this many ticks have
    // followed them without a confirmed tempo change or a restart: until a
    // change is confirmed and cut, the fit bends across it, which is a change
    // of tempo, not jitter. The slowest rule needs its newer part and the
    // confirming ticks.
    static constexpr std::size_t worstDelayTicks =
        static_cast<std::size_t>(ClockAnalyzer::changeRules.back().recent + ClockAnalyzer::changeConfirmTicks);

    struct Tick {
        std::uint64_t sequence = 0;
        double time = 0;                 // seconds, host clock
        std::optional<double> bpm;       // of the fit this tick closed
        std::optional<double> deviation; // seconds this tick lies from that fit's line; while there is jitter
        friend bool operator==(const Tick&, const Tick&) = default;
    };

    struct Mark {
        enum class Kind : std::uint8_t { tempoChange, gapRestart, start, continue_, stop, songPosition };
        std::uint64_t sequence = 0;
        double time = 0; // seconds, host clock
        Kind kind = Kind::start;
        friend bool operator==(const Mark&, const Mark&) = default;
    };

    // What a reader has not seen yet.
    struct Slice {
        bool held = false;       // the source has a record with a history
        std::vector<Tick> ticks; // oldest first
        std::vector<Mark> marks; // oldest first
        // The sequence to ask with next time: all up to it has been seen.
        std::uint64_t latest = 0;
        // Entries before this sequence belong to earlier runs of the clock.
        std::uint64_t runStart = 0;
        // Seconds; the largest jitter of the run, of the readings that are
        // past worstDelayTicks.
        std::optional<double> worstJitter;
    };

    ClockHistory();

    // What the analyzer was like before the event.
    struct Before {
        std::size_t window = 0; // ticks in its window
        bool stopped = true;    // its clock was not receiving at the event's time (or never ticked)
    };

    // Notes what `event` at `time` did to `analyzer`, to which it was just
    // applied. Takes sequence numbers from `sequence`, incrementing it.
    // Never allocates.
    void note(const ClockEvent& event, double time, Before before, const ClockAnalyzer& analyzer,
              std::uint64_t& sequence);

    // Puts the entries newer than `since` into out, replacing its content
    // (its capacity is reused).
    void copySince(std::uint64_t since, Slice& out) const;

    std::size_t markCount() const { return marks_.size(); }

    // Seconds the newest tick of the window lies from the least-squares line
    // through the window; none for fewer than 2 ticks or a slope that is none.
    static std::optional<double> newestDeviation(std::span<const double> window, double slope);

private:
    // A ring that keeps the newest entries; its storage is left uninitialised
    // until written, so pages of a quiet source are never touched.
    template <typename T>
    class Ring {
    public:
        explicit Ring(std::size_t capacity)
            : items_(std::make_unique_for_overwrite<T[]>(capacity)),
              capacity_(capacity) {}
        std::size_t size() const { return count_; }
        std::size_t capacity() const { return capacity_; }
        void clear() { first_ = count_ = 0; }
        void dropFront() {
            first_ = (first_ + 1) % capacity_;
            --count_;
        }
        const T& operator[](std::size_t i) const { return items_[(first_ + i) % capacity_]; }
        void push(const T& item) {
            if (count_ < capacity_) {
                items_[(first_ + count_++) % capacity_] = item;
            } else {
                items_[first_] = item;
                first_ = (first_ + 1) % capacity_;
            }
        }

    private:
        std::unique_ptr<T[]> items_;
        std::size_t capacity_;
        std::size_t first_ = 0;
        std::size_t count_ = 0;
    };

    // A tick as stored: floats keep a minute of ticks small, and NaN stands
    // for an absent value only in here.
    struct StoredTick {
        std::uint64_t sequence;
        double time;
        float bpm;
        float deviation;
    };

    void startRun();

    Ring<StoredTick> ticks_;
    Ring<Mark> marks_;
    Ring<double> pendingJitter_; // the newest readings, not yet past worstDelayTicks
    std::optional<double> worstJitter_;
    std::uint64_t runStart_ = 0;
};

} // namespace tactimo
