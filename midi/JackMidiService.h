// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "JackCallbackGate.h"
#include "JackMirrors.h"
#include "JackPortPool.h"
#include "JackSourceTable.h"
#include "PacketListRing.h"
#include "core/MidiService.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <jack/jack.h>
#include <semaphore.h>

namespace tactimo {

// MIDI through a running JACK server: a port of ours per source
// (JackPortPool), plus the public input port "Tactimo" as the virtual
// destination.
//
// Sources are named as their programs and devices name them (a port's pretty
// name, a bridged device's own name: JackBridge), and ports that merely
// bridge the sequencer's devices can be left to the sequencer backend
// (readBridgedSources). A sender whose data reaches us by two paths is read
// once (JackMirrors).
//
// Threads: the process callback (real time) only copies events into a ring
// buffer; our delivery thread drains it and calls Receive, one packet list per
// source per cycle. JACK's notification thread only calls SetupChanged.
// Ports are registered, connected and unregistered on a connector thread of
// ours: each is a round trip that the server answers only after telling every
// other client, which with many clients takes long enough to freeze a window.
class JackMidiService : public MidiService {
public:
    // Connects to a running server without ever starting one; none when no
    // server answers.
    static std::unique_ptr<JackMidiService> tryCreate(const char* clientName = "Tactimo");
    ~JackMidiService() override;

    void open(Receive receive, SetupChanged setupChanged) override;
    void close() override;
    SourceKey virtualDestination() const override { return virtualKey; }
    std::vector<SourceKey> sources() const override;
    std::optional<std::string> displayName(SourceKey source) const override;
    std::optional<std::string> fullName(SourceKey source) const override;
    void connectAllSources() override;
    void readBridgedSources(bool read) override;
    // False once the server shut down under us; the service then lists and delivers nothing.
    bool reachable() const override { return !serverGone_.load(); }

    // Figures for tests and measurements.
    struct Stats {
        std::size_t present = 0;    // keys of present ports
        std::size_t entries = 0;    // and the names of the few that went (SourceLedger::size)
        std::uint64_t dropped = 0;  // packet lists dropped, whole or in part, because the ring was full
        std::uint64_t rejected = 0; // times the delivery thread found bytes in the ring that were no record
        std::uint64_t mirrored = 0; // packet lists dropped as copies of what reaches us directly
    };
    Stats stats() const;

private:
    explicit JackMidiService(jack_client_t* client);

    static int processCallback(jack_nframes_t frames, void* self);
    static void portRegistered(jack_port_id_t port, int registered, void* self);
    static void clientRegistered(const char* name, int registered, void* self);
    static void shutdown(jack_status_t code, const char* reason, void* self);

    void onPortRegistered(jack_port_id_t id, int registered);
    void process(std::uint32_t frames);
    bool copyPort(jack_port_t* port, SourceKey key, std::uint32_t frames, std::uint32_t cycleStart,
                  std::int64_t offsetNs);
    void notifySetupChanged();
    void deliverLoop();
    void connectLoop();
    void connectNow();
    // The MIDI ports now, and the sources among them under their keys.
    struct Listing {
        std::vector<JackPortScan::Port> ports;
        JackSourceTable::Listing sources;
    };
    Listing list() const;
    std::optional<std::string> nameOf(SourceKey source, bool full) const;
    bool alive() const { return client_ && active_ && !serverGone_.load(); }

    jack_client_t* client_ = nullptr;
    jack_port_t* virtualPort_ = nullptr;
    bool active_ = false;
    bool closed_ = false;
    std::atomic<bool> serverGone_{false};
    JackCallbackGate gate_;

    Receive receive_;
    SetupChanged setupChanged_;
    std::atomic<bool> setupPending_{false};

    // Shared with the process callback.
    JackPortPool pool_;
    std::atomic<jack_port_t*> virtualSlot_{nullptr};
    std::unique_ptr<PacketListRing> ring_; // written by the process thread, read by the delivery thread
    std::atomic<std::uint64_t> dropped_{0};
    sem_t wake_;
    std::atomic<bool> stopDelivery_{false};
    std::thread delivery_;

    std::unique_ptr<JackMirrors> mirrors_; // from open()
    std::atomic<std::uint64_t> mirrored_{0};

    std::mutex connectLock_;
    std::condition_variable connectWake_;
    bool connectWanted_ = false;
    bool stopConnecting_ = false;
    std::thread connector_;

    // The main thread and the connector both list; one at a time, so that
    // retired UUIDs and the listing they apply to stay together.
    mutable std::mutex namesLock_;
    mutable JackSourceTable table_;
    std::atomic<bool> readBridges_{true};

    // UUIDs reported unregistered since the last listing, from the
    // notification thread. Past the limit they count as lost, and the next
    // listing gives every port a new key rather than risk reusing one.
    static constexpr std::size_t maxRetiring = 4096;
    mutable std::mutex retiredLock_;
    mutable std::vector<std::uint64_t> retired_;
    mutable bool retiredLost_ = false;
};

} // namespace tactimo
