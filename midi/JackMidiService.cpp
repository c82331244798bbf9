#include "JackMidiService.h"

#include "core/HostClock.h"

#include "JackPortName.h"
#include "SourceNames.h"

#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/uuid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
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

// After the last thing connected to write to a port went, lists still on
// their way may carry its data; they are judged as before for this long.
constexpr auto mirrorGrace = std::chrono::milliseconds(250);

// A port's aliases. The buffers start empty: PipeWire's libjack counts the
// aliases it has but writes each in its own slot, leaving the other as it was.
std::vector<std::string> aliasesOf(const jack_port_t* port) {
    const auto size = static_cast<std::size_t>(jack_port_name_size());
    std::vector<char> first(size, '\0'), second(size, '\0');
    char* const slots[2] = {first.data(), second.data()};
    jack_port_get_aliases(port, slots);
    std::vector<std::string> aliases;
    for (char* slot : slots) {
        slot[size - 1] = '\0';
        if (*slot) aliases.emplace_back(slot);
    }
    return aliases;
}

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

JackMidiService::JackMidiService(jack_client_t* client) : client_(client) {
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
    parked_.clear(); // they go with the client
    shutGate();
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
    if (!self->enterCallback()) return 0;
    self->process(frames);
    self->leaveCallback();
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
    for (Slot& slot : slots_) {
        jack_port_t* port = slot.port.load(std::memory_order_acquire);
        if (port) wrote |= copyPort(port, slot.key.load(std::memory_order_relaxed), frames, cycleStart, offset);
    }
    cycles_.fetch_add(1, std::memory_order_release);
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
            if (mirrored(list->key))
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
    if (!self->enterCallback()) return;
    self->onPortRegistered(id, registered);
    self->leaveCallback();
}

void JackMidiService::onPortRegistered(jack_port_id_t id, int registered) {
    jack_port_t* port = jack_port_by_id(client_, id);
    if (port && registered && jack_port_is_mine(client_, port)) return;
    if (port && !registered) {
        releasedAt_.store(cycles_.load(std::memory_order_acquire));
        const std::uint64_t uuid = jack_port_uuid(port);
        std::lock_guard guard(retiredLock_);
        // Our own ports read as foreign once released; they were marked when unregistered.
        const auto own = std::find(ownRetiring_.begin(), ownRetiring_.end(), uuid);
        if (own != ownRetiring_.end()) {
            ownRetiring_.erase(own);
            return;
        }
        if (retired_.size() < maxRetiring)
            retired_.push_back(uuid);
        else
            retiredLost_ = true;
    }
    notifySetupChanged();
}

void JackMidiService::clientRegistered(const char*, int, void* arg) {
    auto* self = static_cast<JackMidiService*>(arg);
    if (!self->enterCallback()) return;
    self->notifySetupChanged();
    self->leaveCallback();
}

void JackMidiService::shutdown(jack_status_t, const char*, void* arg) {
    auto* self = static_cast<JackMidiService*>(arg);
    if (!self->enterCallback()) return;
    self->serverGone_.store(true);
    // Let the owner re-read the (now empty) source list.
    self->notifySetupChanged();
    self->leaveCallback();
}

void JackMidiService::shutGate() {
    gateShut_.store(true);
    // A callback may block on its owner for a while, never for ever; past
    // that bound a hang would be worse than the risk.
    for (int i = 0; i < 5000 && callbacksInside_.load() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::vector<JackMidiService::Listed> JackMidiService::scan(std::vector<std::string>* hidden) const {
    if (!alive()) return {};
    std::lock_guard guard(namesLock_);
    std::vector<std::uint64_t> retired;
    bool lost = false;
    {
        std::lock_guard retiredGuard(retiredLock_);
        retired.swap(retired_);
        lost = std::exchange(retiredLost_, false);
    }
    const bool readBridges = readBridges_.load();
    std::vector<JackSourceTable::Port> ports;
    std::map<std::uint64_t, JackBridge> bridges; // by UUID
    if (const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput)) {
        for (const char** name = names; *name; ++name) {
            jack_port_t* port = jack_port_by_name(client_, *name);
            if (!port || jack_port_is_mine(client_, port)) continue;
            auto bridge = JackBridge::recognise(*name, aliasesOf(port));
            if (bridge && !bridge->exclusive && !readBridges) {
                if (hidden) hidden->emplace_back(*name);
                continue;
            }
            const std::uint64_t uuid = jack_port_uuid(port);
            ports.push_back({uuid, *name});
            if (bridge) bridges.emplace(uuid, std::move(*bridge));
        }
        jack_free(names);
    }
    if (lost) table_.retireAll();
    for (const std::uint64_t uuid : retired) table_.retire(uuid);
    std::vector<Listed> listed = table_.list(ports);
    bridges_.clear();
    for (const Listed& source : listed)
        if (const auto bridge = bridges.find(source.uuid); bridge != bridges.end())
            bridges_.emplace(source.key, bridge->second);
    return listed;
}

std::vector<SourceKey> JackMidiService::sources() const {
    std::vector<SourceKey> keys;
    for (const Listed& source : scan()) keys.push_back(source.key);
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
        if (const auto it = bridges_.find(source); it != bridges_.end()) bridge = it->second;
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
            if (!pretty.empty()) return SourceNames::bounded(pretty);
        }
    }
    if (bridge) {
        const std::string& name = full ? bridge->fullName : bridge->name;
        if (!name.empty()) return SourceNames::bounded(name);
    }
    return SourceNames::bounded(*portName);
}

void JackMidiService::readBridgedSources(bool read) {
    if (readBridges_.exchange(read) != read && alive()) notifySetupChanged();
}

bool JackMidiService::mirrored(SourceKey key) {
    std::string feed; // the port whose writers decide, if not ours
    {
        std::lock_guard guard(mirrorLock_);
        if (key != virtualKey) {
            const auto thru = thruInputs_.find(key);
            if (thru == thruInputs_.end()) return false;
            feed = thru->second;
        }
    }
    // Delivery outlives neither the client nor a live server.
    if (serverGone_.load()) return false;
    const jack_port_t* port = key == virtualKey ? virtualPort_ : jack_port_by_name(client_, feed.c_str());
    if (!port) return false;
    std::vector<std::string> writers;
    if (const char** peers = jack_port_get_all_connections(client_, port)) {
        for (const char** peer = peers; *peer; ++peer) writers.emplace_back(*peer);
        jack_free(peers);
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(mirrorLock_);
    Judged& last = judged_[key];
    if (writers.empty()) return last.mirror && now - last.at < mirrorGrace;
    last.mirror = std::ranges::all_of(writers, [&](const std::string& writer) { return direct_.contains(writer); });
    last.at = now;
    return last.mirror;
}

void JackMidiService::updateMirrors(const std::vector<Listed>& listed, const std::vector<std::string>& hidden) {
    // Inputs that feed a bridged thru port, by device.
    std::map<std::string, std::string> thruFeeds;
    std::map<SourceKey, std::string> thruDevices;
    {
        std::lock_guard guard(namesLock_);
        for (const Listed& source : listed)
            if (const auto bridge = bridges_.find(source.key); bridge != bridges_.end() && bridge->second.thru)
                thruDevices.emplace(source.key, bridge->second.device);
    }
    if (!thruDevices.empty()) {
        if (const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
            for (const char** name = names; *name; ++name) {
                jack_port_t* port = jack_port_by_name(client_, *name);
                if (!port || jack_port_is_mine(client_, port)) continue;
                const auto bridge = JackBridge::recognise(*name, aliasesOf(port));
                if (bridge && !bridge->capture && bridge->thru) thruFeeds.emplace(bridge->device, *name);
            }
            jack_free(names);
        }
    }
    std::set<std::string> direct(hidden.begin(), hidden.end()); // their devices are read from the sequencer
    for (const Listed& source : listed)
        for (const Slot& slot : slots_) {
            jack_port_t* ours = slot.port.load(std::memory_order_relaxed);
            if (ours && slot.key.load(std::memory_order_relaxed) == source.key &&
                jack_port_connected_to(ours, source.name.c_str()))
                direct.insert(source.name);
        }
    std::map<SourceKey, std::string> thruInputs;
    for (const auto& [key, device] : thruDevices)
        if (const auto feed = thruFeeds.find(device); feed != thruFeeds.end()) thruInputs.emplace(key, feed->second);

    std::lock_guard guard(mirrorLock_);
    direct_ = std::move(direct);
    thruInputs_ = std::move(thruInputs);
    std::erase_if(judged_,
                  [&](const auto& entry) { return entry.first != virtualKey && !thruInputs_.contains(entry.first); });
}

JackMidiService::TableSizes JackMidiService::tableSizes() const {
    std::lock_guard guard(namesLock_);
    const auto sizes = table_.sizes();
    std::lock_guard retiredGuard(retiredLock_);
    return {sizes.present, sizes.present + sizes.departed, retired_.size()};
}

std::optional<std::string> JackMidiService::portNameFor(SourceKey source) const {
    if (!alive()) return std::nullopt;
    if (source == virtualKey)
        return virtualPort_ ? std::optional<std::string>(jack_port_name(virtualPort_)) : std::nullopt;
    for (const Slot& slot : slots_) {
        jack_port_t* port = slot.port.load();
        if (port && slot.key.load() == source) return std::string(jack_port_name(port));
    }
    return std::nullopt;
}

void JackMidiService::waitForCycles(int cycles) const {
    waitUntilCycle(cycles_.load(std::memory_order_acquire) + std::uint64_t(cycles));
}

void JackMidiService::waitUntilCycle(std::uint64_t cycle) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (cycles_.load(std::memory_order_acquire) < cycle && !serverGone_.load() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
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
    std::unique_lock guard(connectLock_);
    for (;;) {
        const auto wake = [this] { return connectWanted_ || stopConnecting_; };
        if (parked_.empty())
            connectWake_.wait(guard, wake);
        else
            connectWake_.wait_until(guard, parked_.front().since + parkedFor, wake);
        if (stopConnecting_) return;
        const bool wanted = std::exchange(connectWanted_, false);
        guard.unlock();
        if (wanted) connectNow();
        freeParked();
        guard.lock();
    }
}

void JackMidiService::freeParked() {
    const auto now = std::chrono::steady_clock::now();
    while (!parked_.empty() && now - parked_.front().since >= parkedFor) {
        jack_port_t* port = parked_.front().port;
        parked_.erase(parked_.begin());
        if (!alive()) continue; // gone with the client
        unregisterOwn(port);
    }
}

void JackMidiService::unregisterOwn(jack_port_t* port) {
    {
        std::lock_guard guard(retiredLock_);
        ownRetiring_.push_back(jack_port_uuid(port));
    }
    jack_port_unregister(client_, port);
    releasedAt_.store(cycles_.load(std::memory_order_acquire));
}

void JackMidiService::connectNow() {
    if (!alive()) return;
    std::vector<std::string> hidden;
    const std::vector<Listed> listed = scan(&hidden);
    std::set<SourceKey> present;
    for (const Listed& source : listed) present.insert(source.key);

    // Ports of sources that are gone: take them away from the process
    // callback, let it finish the cycles that may still use them, then park
    // them for the next source.
    std::vector<jack_port_t*> stale;
    for (Slot& slot : slots_) {
        jack_port_t* port = slot.port.load(std::memory_order_relaxed);
        if (port && !present.count(slot.key.load(std::memory_order_relaxed))) {
            slot.port.store(nullptr, std::memory_order_release);
            stale.push_back(port);
        }
    }
    if (!stale.empty()) {
        waitForCycles(2);
        for (jack_port_t* port : stale) parked_.push_back({port, std::chrono::steady_clock::now()});
    }

    // Short names of our ports, which JACK gives only once.
    std::set<std::string, std::less<>> taken{"Tactimo"};
    for (const Slot& slot : slots_)
        if (const jack_port_t* port = slot.port.load(std::memory_order_relaxed))
            taken.insert(jack_port_short_name(port));
    for (const Parked& parked : parked_) taken.insert(jack_port_short_name(parked.port));
    const auto isTaken = [&](std::string_view name) { return taken.contains(name); };
    // A full name "Tactimo:<short>" and its terminator within jack_port_name_size().
    const int room = jack_port_name_size() - 2 - int(std::strlen(jack_get_client_name(client_))) - 1;
    const std::size_t limit = std::size_t(std::max(room, 16));

    for (const Listed& source : listed) {
        // Named after the source, so that a patchbay shows what each one carries.
        const std::string base = JackPortName::forSource(nameOf(source.key, false).value_or(source.name), limit);
        Slot* slot = nullptr;
        for (Slot& s : slots_)
            if (s.port.load(std::memory_order_relaxed) && s.key.load(std::memory_order_relaxed) == source.key)
                slot = &s;
        if (!slot) {
            for (Slot& s : slots_)
                if (!s.port.load(std::memory_order_relaxed)) {
                    slot = &s;
                    break;
                }
            if (!slot) continue; // more sources than we keep ports for
            const std::string name = JackPortName::unique(base, limit, isTaken);
            jack_port_t* port = nullptr;
            if (!parked_.empty()) {
                port = parked_.back().port;
                parked_.pop_back();
                taken.erase(jack_port_short_name(port));
                // Whatever still feeds it belongs to another key.
                if (jack_port_connected(port) > 0) jack_port_disconnect(client_, port);
                // A libjack that cannot rename would leave it named after another source.
                if (jack_port_rename(client_, port, name.c_str()) != 0) {
                    unregisterOwn(port);
                    port = nullptr;
                }
            }
            if (!port) {
                // libjack's process thread follows the connections of the
                // graph it runs, but a freed port index is handed out again at
                // once: an input port registered at the index of a source port
                // freed in the same cycle sends jack_port_get_buffer of the
                // port that source fed into endless recursion. Parked ports
                // spare most registrations; for the rest, wait until the graph
                // without the last port freed that we know of runs.
                waitUntilCycle(releasedAt_.load() + 2);
                port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            }
            if (!port) continue;
            taken.insert(name);
            slot->named = base;
            slot->key.store(source.key, std::memory_order_relaxed);
            slot->port.store(port, std::memory_order_release);
        } else if (slot->named != base) {
            // The source was renamed (a pretty name set or taken away): its port follows.
            jack_port_t* ours = slot->port.load(std::memory_order_relaxed);
            const std::string old = jack_port_short_name(ours);
            taken.erase(old);
            const std::string name = JackPortName::unique(base, limit, isTaken);
            taken.insert(jack_port_rename(client_, ours, name.c_str()) == 0 ? name : old);
            slot->named = base; // tried once, not at every listing
        }
        jack_port_t* ours = slot->port.load(std::memory_order_relaxed);
        const char* ourName = jack_port_name(ours);
        // The listing may be a while old, and JACK connects by name: a port
        // that has taken the listed one's name under another UUID is left
        // for the next listing, which gives it a key of its own.
        jack_port_t* theirs = jack_port_by_name(client_, source.name.c_str());
        if (!theirs || jack_port_uuid(theirs) != source.uuid) continue;
        // Asking is local; connecting is a round trip to the server. When a
        // connection exists already, jack_connect gives EEXIST and doubles nothing.
        if (!jack_port_connected_to(ours, source.name.c_str())) jack_connect(client_, source.name.c_str(), ourName);
        // A port of ours carries one source only; anything else on it would be
        // filed under this source's key.
        if (const char** peers = jack_port_get_all_connections(client_, ours)) {
            for (const char** peer = peers; *peer; ++peer)
                if (source.name != *peer) jack_disconnect(client_, *peer, ourName);
            jack_free(peers);
        }
    }
    updateMirrors(listed, hidden);
}

} // namespace tactimo
