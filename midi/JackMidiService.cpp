// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "JackMidiService.h"

#include "core/HostClock.h"

#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/uuid.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <utility>

namespace tactimo {

namespace {

constexpr std::size_t ringBytes = std::size_t{1} << 19;

// Set when libjack could not open its metadata database (exhausted by crashed
// clients, say): asking it again afterwards crashes inside libjack.
std::atomic<bool> metadataUnusable{false};

// libjack's metadata functions share one unguarded state per process; the
// main thread (listing names) and the delivery thread (naming a new record)
// would otherwise call them at once.
std::mutex metadataLock;

// libjack otherwise prints to stderr, among others when no server answers.
void quiet(const char* message) {
    if (message && (std::strstr(message, "metadata DB") || std::strstr(message, "DB environment")))
        metadataUnusable.store(true);
}

} // namespace

std::unique_ptr<JackMidiService> JackMidiService::tryCreate(const char* clientName) {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(clientName, JackNoStartServer, &status);
    if (!client) return nullptr;
    return std::unique_ptr<JackMidiService>(new JackMidiService(client));
}

JackMidiService::JackMidiService(jack_client_t* client) : client_(client), pool_(client, serverGone_) {
    sem_init(&wake_, 0, 0);
}

JackMidiService::~JackMidiService() {
    close();
    sem_destroy(&wake_);
}

void JackMidiService::open(Receive receive, SetupChanged setupChanged) {
    if (!client_ || closed_ || active_) return;
    receive_ = std::move(receive);
    setupChanged_ = std::move(setupChanged);
    ring_ = std::make_unique<PacketListRing>(ringBytes);
    if (!ring_->valid()) return;
    ring_->lock();

    jack_set_process_callback(client_, processCallback, this);
    jack_set_port_registration_callback(client_, portRegistered, this);
    jack_set_client_registration_callback(client_, clientRegistered, this);
    jack_on_info_shutdown(client_, shutdown, this);
    virtualPort_ = jack_port_register(client_, "Tactimo", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    virtualSlot_.store(virtualPort_, std::memory_order_release);
    mirrors_ = std::make_unique<JackMirrors>(client_, virtualPort_);

    delivery_ = std::thread([this] { deliverLoop(); });
    active_ = jack_activate(client_) == 0;
    if (active_) connector_ = std::thread([this] { connectLoop(); });
}

void JackMidiService::close() {
    if (closed_) return;
    closed_ = true;
    if (connector_.joinable()) {
        {
            std::lock_guard guard(connectLock_);
            stopConnecting_ = true;
        }
        connectWake_.notify_one();
        connector_.join();
    }
    pool_.forgetParked(); // they go with the client
    gate_.shut();
    if (client_ && active_ && !serverGone_.load()) jack_deactivate(client_);
    if (delivery_.joinable()) {
        stopDelivery_.store(true);
        sem_post(&wake_);
        delivery_.join();
    }
    // Returns an error when the server died first, but still frees the client.
    if (client_) jack_client_close(client_);
    client_ = nullptr;
    active_ = false;
}

int JackMidiService::processCallback(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackMidiService*>(arg);
    if (const JackCallbackGate::Pass pass(self->gate_); pass) self->process(frames);
    return 0;
}

// Real-time thread: no locks, no allocation.
void JackMidiService::process(std::uint32_t frames) {
    // JACK's clock is CLOCK_MONOTONIC_RAW in microseconds: map it afresh each
    // cycle, since NTP slews CLOCK_MONOTONIC against it.
    hostClock::Bracket bracket;
    bracket.hostBefore = hostClock::now();
    bracket.foreign = jack_get_time() * 1000;
    bracket.hostAfter = hostClock::now();
    const std::int64_t offset = hostClock::offset(std::span(&bracket, 1)).value_or(0);
    const jack_nframes_t cycleStart = jack_last_frame_time(client_);

    bool wrote = false;
    if (jack_port_t* port = virtualSlot_.load(std::memory_order_acquire))
        wrote |= copyPort(port, virtualKey, frames, cycleStart, offset);
    for (const JackPortPool::Slot& slot : pool_.slots()) {
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (port) wrote |= copyPort(port, slot.key.load(std::memory_order_relaxed), frames, cycleStart, offset);
    }
    pool_.cycleDone();
    if (wrote) sem_post(&wake_);
}

bool JackMidiService::copyPort(jack_port_t* port, SourceKey key, std::uint32_t frames, std::uint32_t cycleStart,
                               std::int64_t offsetNs) {
    void* buffer = jack_port_get_buffer(port, frames);
    if (!buffer) return false;
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    if (count == 0) return false;

    ring_->begin(key);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0) continue;
        const std::uint64_t stamp =
            hostClock::toHost(jack_frames_to_time(client_, cycleStart + event.time) * 1000, offsetNs);
        if (!ring_->add(stamp, event.buffer, event.size)) {
            // Full: what fits of the list still goes.
            dropped_.fetch_add(1, std::memory_order_relaxed);
            break;
        }
    }
    return ring_->commit();
}

void JackMidiService::deliverLoop() {
    for (;;) {
        while (sem_wait(&wake_) != 0 && errno == EINTR) {}
        if (stopDelivery_.load()) return;
        while (const auto list = ring_->read()) {
            // Delivery outlives neither the client nor a live server.
            if (!serverGone_.load() && mirrors_->mirrored(list->key))
                mirrored_.fetch_add(1, std::memory_order_relaxed);
            else if (receive_)
                receive_(list->packets, list->key);
            if (stopDelivery_.load()) return;
        }
    }
}

void JackMidiService::notifySetupChanged() {
    // One notification until the main thread has reconnected: a client that
    // comes with ten ports causes one reconnection, not eleven.
    if (setupPending_.exchange(true)) return;
    if (setupChanged_) setupChanged_();
}

// Notification thread: only local lookups, never a request to the server.
void JackMidiService::portRegistered(jack_port_id_t id, int registered, void* arg) {
    auto* self = static_cast<JackMidiService*>(arg);
    if (const JackCallbackGate::Pass pass(self->gate_); pass) self->onPortRegistered(id, registered);
}

void JackMidiService::onPortRegistered(jack_port_id_t id, int registered) {
    jack_port_t* port = jack_port_by_id(client_, id);
    if (port && registered && jack_port_is_mine(client_, port)) return;
    if (port && !registered) {
        const std::uint64_t uuid = jack_port_uuid(port);
        if (pool_.released(uuid)) return;
        std::lock_guard guard(retiredLock_);
        if (retired_.size() < maxRetiring)
            retired_.push_back(uuid);
        else
            retiredLost_ = true;
    }
    notifySetupChanged();
}

void JackMidiService::clientRegistered(const char*, int, void* arg) {
    auto* self = static_cast<JackMidiService*>(arg);
    if (const JackCallbackGate::Pass pass(self->gate_); pass) self->notifySetupChanged();
}

void JackMidiService::shutdown(jack_status_t, const char*, void* arg) {
    auto* self = static_cast<JackMidiService*>(arg);
    if (const JackCallbackGate::Pass pass(self->gate_); !pass) return;
    self->gate_.serverGone();
    self->serverGone_.store(true);
    // Let the owner re-read the (now empty) source list.
    self->notifySetupChanged();
}

JackMidiService::Listing JackMidiService::list() const {
    if (!alive()) return {};
    std::lock_guard guard(namesLock_);
    std::vector<std::uint64_t> retired;
    bool lost = false;
    {
        std::lock_guard retiredGuard(retiredLock_);
        retired.swap(retired_);
        lost = std::exchange(retiredLost_, false);
    }
    Listing listing{JackPortScan::take(client_), {}};
    std::vector<JackSourceTable::Port> outputs;
    for (const JackPortScan::Port& port : listing.ports)
        if (port.output) outputs.push_back({port.uuid, port.name, port.bridge});
    if (lost) table_.retireAll();
    for (const std::uint64_t uuid : retired) table_.retire(uuid);
    listing.sources = table_.list(outputs, readBridges_.load());
    return listing;
}

std::vector<SourceKey> JackMidiService::sources() const {
    std::vector<SourceKey> keys;
    for (const JackSourceTable::Source& source : list().sources.sources) keys.push_back(source.key);
    return keys;
}

std::optional<std::string> JackMidiService::displayName(SourceKey source) const {
    return nameOf(source, false);
}

std::optional<std::string> JackMidiService::fullName(SourceKey source) const {
    return nameOf(source, true);
}

// Shown: the pretty name that the port's program gave it, else a bridged
// device's own name, else the port's JACK name. Long: "client:port" of a
// bridged device, else the JACK name.
std::optional<std::string> JackMidiService::nameOf(SourceKey source, bool full) const {
    std::optional<std::uint64_t> uuid;
    std::optional<std::string> portName;
    std::optional<JackBridge> bridge;
    {
        std::lock_guard guard(namesLock_);
        uuid = table_.uuidOf(source);
        portName = table_.lastName(source);
        bridge = table_.bridgeOf(source);
    }
    if (!portName) return std::nullopt;
    // A departed port's UUID may already name another port: its metadata is not ours.
    if (!full && uuid && !serverGone_.load() && !metadataUnusable.load()) {
        char* value = nullptr;
        char* type = nullptr;
        std::unique_lock guard(metadataLock);
        if (jack_get_property(*uuid, JACK_METADATA_PRETTY_NAME, &value, &type) == 0) {
            guard.unlock();
            std::string pretty = value ? value : "";
            jack_free(value);
            jack_free(type);
            if (!pretty.empty()) return pretty;
        }
    }
    if (bridge) {
        const std::string& name = full ? bridge->fullName : bridge->name;
        if (!name.empty()) return name;
    }
    return portName;
}

void JackMidiService::readBridgedSources(bool read) {
    if (readBridges_.exchange(read) != read && alive()) notifySetupChanged();
}

JackMidiService::Stats JackMidiService::stats() const {
    std::lock_guard guard(namesLock_);
    return {table_.ledger().present(), table_.ledger().size(), dropped_.load(), ring_ ? ring_->rejected() : 0,
            mirrored_.load()};
}

void JackMidiService::connectAllSources() {
    if (!alive()) return;
    // Notifications from now on post again: the owner's next listing must see them.
    setupPending_.store(false);
    {
        std::lock_guard guard(connectLock_);
        connectWanted_ = true;
    }
    connectWake_.notify_one();
}

void JackMidiService::connectLoop() {
    std::optional<std::chrono::steady_clock::time_point> nextFree;
    std::unique_lock guard(connectLock_);
    for (;;) {
        const auto wake = [this] { return connectWanted_ || stopConnecting_; };
        if (nextFree)
            connectWake_.wait_until(guard, *nextFree, wake);
        else
            connectWake_.wait(guard, wake);
        if (stopConnecting_) return;
        const bool wanted = std::exchange(connectWanted_, false);
        guard.unlock();
        if (wanted) connectNow();
        nextFree = pool_.freeParked();
        guard.lock();
    }
}

void JackMidiService::connectNow() {
    if (!alive()) return;
    const Listing listing = list();
    const std::vector<JackSourceTable::Source>& sources = listing.sources.sources;
    pool_.serve(sources, [this](const JackSourceTable::Source& source) {
        return nameOf(source.key, false).value_or(source.name);
    });
    // Bridges left out: their devices are read from the sequencer.
    std::set<std::string> direct(listing.sources.hidden.begin(), listing.sources.hidden.end());
    for (const JackSourceTable::Source& source : sources)
        if (pool_.reads(source.key, source.name)) direct.insert(source.name);
    mirrors_->update(sources, listing.ports, std::move(direct));
}

} // namespace tactimo
