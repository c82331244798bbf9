// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockAnalyzer.h"
#include "ClockHistory.h"
#include "ClockParser.h"
#include "ClockReading.h"
#include "HostClock.h"
#include "MidiService.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tactimo {

// The system's one connection to the MIDI service, and the clock state of
// every source that has sent clock, under one lock.
class ClockInput {
public:
    // Runs a piece of work later on the main thread.
    using Post = std::function<void(std::function<void()>)>;
    // The host clock: nanoseconds of CLOCK_MONOTONIC.
    using HostClock = std::function<std::uint64_t()>;

    static constexpr double secondsPerHostTick = hostClock::secondsPerTick;
    // Records of departed sources kept at most, besides those still receiving.
    static constexpr std::size_t maxDepartedRecords = 64;

    // Opens the service and connects every source. Never fails visibly.
    ClockInput(std::unique_ptr<MidiService> service, Post post, HostClock clock = hostClock::now);
    // Closes the service first, so that no delivery outlives the state.
    ~ClockInput();

    ClockInput(const ClockInput&) = delete;
    ClockInput& operator=(const ClockInput&) = delete;

    // Called on the main thread after the sources were reconnected on a set-up change.
    std::function<void()> onSourcesChanged;

    // The service's sources in its order, then the "Virtual port" entry. Main thread.
    std::vector<MIDISource> sources() const;

    // One reading per source that has sent clock. Main thread.
    Readings readings() const;

    // The entries of the source's history newer than `since` (0 for all it
    // holds), into out. Copies under the lock only those, so that a reader
    // polling a few times a second costs little however long the history is.
    // A source without a record, or whose history went with its departure,
    // gives out.held false and nothing else. Main thread.
    void history(SourceKey key, std::uint64_t since, ClockHistory::Slice& out) const;

    // Whether the clock of an analyzer counts as arriving at `now` (seconds):
    // its last tick is younger than 8 intervals, held between 0.25 s and 1 s.
    static bool isReceiving(const ClockAnalyzer& analyzer, double now);

    SourceKey virtualDestination() const { return service_->virtualDestination(); }
    // Whether any MIDI service is reachable now. Main thread.
    bool serviceReachable() const { return service_->reachable(); }

private:
    struct SourceState {
        std::string name; // fixed when the record is created
        ClockParser parser;
        ClockAnalyzer analyzer;
        // Allocated with the record; released when its source departs.
        std::unique_ptr<ClockHistory> history;
    };

    void handle(MidiPacketList list, SourceKey key);
    void setupChanged();
    void forgetDeparted();

    std::unique_ptr<MidiService> service_;
    Post post_;
    HostClock clock_;
    // Posted work holds this weakly and does nothing once the input is gone.
    std::shared_ptr<ClockInput*> self_;

    std::unordered_map<SourceKey, SourceState> states_;
    std::uint64_t sequence_ = 0; // of the newest history entry of any source
    mutable std::mutex lock_;    // guards states_ and sequence_
};

} // namespace tactimo
