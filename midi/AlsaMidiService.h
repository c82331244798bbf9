// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AlsaQueueClock.h"
#include "AlsaRouteGraph.h"
#include "AlsaSourceTable.h"
#include "core/MidiService.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <alsa/asoundlib.h>

namespace tactimo {

class AlsaEventDecoder;

// MIDI through the ALSA sequencer: client "Tactimo" with a hidden port "Input"
// subscribed to every source and to the System announce port, and a public
// port "Tactimo" as the virtual destination. A thread of ours receives,
// decodes and delivers; set-up changes come from the announcements, and from
// overruns of our input pool, in which announcements may have been lost.
// The parts that need no kernel are static functions, AlsaSourceTable and
// AlsaQueueClock.
class AlsaMidiService : public MidiService {
public:
    // Events our client can hold before the kernel drops them (its default
    // is 200; 2000 is the most it allows).
    static constexpr int inputPool = 2000;

    // Opens the sequencer; none when it cannot be had (no kernel support).
    static std::unique_ptr<AlsaMidiService> tryCreate();
    ~AlsaMidiService() override;

    void open(Receive receive, SetupChanged setupChanged) override;
    void close() override;
    SourceKey virtualDestination() const override { return virtualKey; }
    std::vector<SourceKey> sources() const override;
    std::optional<std::string> displayName(SourceKey source) const override;
    std::optional<std::string> fullName(SourceKey source) const override;
    void connectAllSources() override;

    // Figures for tests and measurements.
    struct Stats {
        std::size_t tableSize = 0; // SourceLedger::size
        std::uint64_t keysGiven = 0;
        std::uint64_t overruns = 0; // times the kernel dropped our events
    };
    Stats stats() const;

    // An event's time on CLOCK_MONOTONIC in ns, or 0 ("at delivery") when it
    // carries no real-time stamp or the queue's time is not mapped yet.
    static std::uint64_t eventTimeNs(const snd_seq_event_t& event, const AlsaQueueClock& clock);

    // What one event from the sequencer means: a set-up change, a packet
    // for the intake under a key, or nothing (among others a copy of events
    // that reach us directly too, AlsaRouteGraph). The packet's bytes live in
    // the decoder until its next use. The caller guards the table and the graph.
    struct Routed {
        bool setupChanged = false;
        std::optional<SourceKey> key; // with packet
        MidiPacket packet;
    };
    static Routed route(const snd_seq_event_t& event, int virtualPort, AlsaEventDecoder& decoder,
                        AlsaSourceTable& table, AlsaRouteGraph& routes, const AlsaQueueClock& clock);

private:
    explicit AlsaMidiService(snd_seq_t* seq);

    struct ListedPort {
        AlsaSourceTable::Port port;
        bool source = false;
    };
    // Every port of every client, as the sequencer has them now.
    std::vector<ListedPort> listPorts() const;
    // The present sources with their keys, in the sequencer's order; none
    // for a source the table cannot key yet (AlsaSourceTable::keyForListed).
    std::vector<std::pair<std::optional<SourceKey>, AlsaSourceTable::Address>> keyedSources() const;
    std::optional<std::string> nameOf(SourceKey source, bool full) const;
    // The ports subscribed to write to a port, as the sequencer has them now.
    std::set<AlsaSourceTable::Address> writersTo(AlsaSourceTable::Address port) const;
    // Whether a port passes on what is written to it (AlsaRouteGraph::isThru).
    bool isThru(AlsaSourceTable::Address port) const;
    // The graph anew from the sequencer: our ports' writers, thru ports' writers.
    void seedRoutes();
    void receiveLoop();
    void resync();
    void calibrate(AlsaQueueClock& clock) const;
    void notifySetupChanged();

    snd_seq_t* seq_ = nullptr;
    int ownClient_ = -1;
    int inputPort_ = -1;
    int virtualPort_ = -1;
    int queue_ = -1;
    int stopFd_ = -1;
    bool closed_ = false;
    Receive receive_;
    SetupChanged setupChanged_;
    std::atomic<bool> setupPending_{false};
    std::atomic<std::uint64_t> overruns_{0};
    std::thread receiver_;

    std::set<AlsaSourceTable::Address> refused_; // sources that refused a subscription, told once; main thread
    mutable std::mutex tableLock_;               // guards table_ and routes_
    mutable AlsaSourceTable table_;
    AlsaRouteGraph routes_;
};

} // namespace tactimo
