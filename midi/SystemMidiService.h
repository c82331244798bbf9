// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SourceLedger.h"
#include "SourceNames.h"
#include "core/MidiService.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tactimo {

// The MIDI services of this machine as one: JACK while a server answers and
// the ALSA sequencer while it can be opened, both at once when both are
// there. Neither server is ever started.
std::unique_ptr<MidiService> makeSystemMidiService();

// Several backends that come and go, as one service. Each backend is open
// while its service is there: an absent one is tried again every interval, a
// client that lost its service is closed and the backend tried again. Every
// such change is a set-up change for the owner. Each client (one appearance
// of a backend) has keys of its own; ours are given on first sight of a
// client's key (SourceLedger), so they stay unique for the whole run, also
// when a backend comes back with the keys it used before. Data sent to any
// client's virtual destination arrives under virtualKey.
//
// Names are reported raw by the backends and made fit to show here, once
// (SourceNames).
//
// Threads: backends are tried, opened and closed on a worker thread of ours
// (the first try is in open()), never in a backend's callback. Each client's
// own threads deliver and notify; a delivery may ask displayName for its key
// while its client is being closed.
// Locks, each held only briefly and never while calling out, except useLock_:
// - liveLock_ guards live_; keysLock_ guards keys_; workerLock_ the worker's wake-up.
// - A call into a client (sources, displayName, connectAllSources) counts
//   itself in the client's use count. Closing first takes the client out of
//   live_, then marks it closing (no new calls enter), waits for the calls in
//   progress, and only then closes it, holding none of our locks. A call in
//   progress never waits for the worker, and the client's close() joins its
//   delivery thread, which may be in our receive callback (inside the owner's
//   lock) asking displayName: for a closing client that is answered from the
//   last name remembered, without entering it. So the order is: the owner's
//   lock, then ours; close() joins the worker before it closes the clients.
class SystemMidiService final : public MidiService {
public:
    static constexpr std::chrono::milliseconds defaultInterval{2000};

    // One kind of MIDI service that may come and go.
    struct Backend {
        // A client when the service is there now, else none. Worker thread.
        std::function<std::unique_ptr<MidiService>()> tryOpen;
        // Whether an open client lost its service; empty: when it is no
        // longer reachable (MidiService::reachable).
        std::function<bool(const MidiService&)> lost;
        // Reads the machine's devices directly (the sequencer): while it is
        // open, the others leave their bridges of those devices unread.
        bool readsDevices = false;
    };

    // Backends in the order their sources are listed.
    explicit SystemMidiService(std::vector<Backend> backends, std::chrono::milliseconds interval = defaultInterval);
    ~SystemMidiService() override;

    void open(Receive receive, SetupChanged setupChanged) override;
    // Waits for an open in progress (a JACK client's can take long), then closes every client.
    void close() override;
    SourceKey virtualDestination() const override { return virtualKey; }
    std::vector<SourceKey> sources() const override;
    // Names as each client gives them, bounded; a name that two sources would
    // share by accident is given in its long form (SourceNames::distinct),
    // across all clients, as the last listing found them.
    std::optional<std::string> displayName(SourceKey source) const override;
    std::optional<std::string> fullName(SourceKey source) const override;
    void connectAllSources() override;
    bool reachable() const override;

private:
    struct Client;
    class Use;

    using ClientId = std::uint64_t;
    // Our keys, each for a client's key in that client.
    using Origin = std::pair<ClientId, SourceKey>;

    bool attach(std::size_t backend);
    // Whether the clients read bridged devices: not while one that reads the
    // devices directly is open.
    bool readBridges() const;
    void updateBridges();
    bool lost(std::size_t backend, const Client& client) const;
    void detach(std::size_t backend, const std::shared_ptr<Client>& client);
    std::vector<std::shared_ptr<Client>> liveClients() const;
    std::shared_ptr<Client> liveClient(ClientId id) const;
    // Our key for a client's key (keysLock_ held); none for a client that is not there.
    std::optional<SourceKey> outerKey(ClientId client, SourceKey inner) const;
    // A source's names as its client reports them, made fit to show.
    SourceNames::Forms namesOf(Client& client, SourceKey inner) const;
    void wake();
    void run();

    const std::vector<Backend> backends_;
    const std::chrono::milliseconds interval_;
    // Set once in open(), before any client runs; read by the clients' threads.
    Receive receive_;
    SetupChanged setupChanged_;
    bool opened_ = false;
    bool closed_ = false;

    mutable std::mutex liveLock_;
    std::vector<std::shared_ptr<Client>> live_; // one slot per backend

    mutable std::mutex keysLock_;
    mutable SourceLedger<Origin> keys_;
    ClientId nextClient_ = 1;
    std::unordered_map<ClientId, SourceKey> innerVirtual_; // each client's key of its virtual destination
    // The last listing (keysLock_): each source's names, and the name shown,
    // distinct where needed.
    mutable std::vector<SourceNames::Forms> listedForms_;
    mutable std::unordered_map<SourceKey, std::string> listedNames_;

    std::mutex workerLock_;
    std::condition_variable workerWake_;
    bool wakeWanted_ = false;
    bool stopWorker_ = false;
    std::thread worker_;
};

} // namespace tactimo
