// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "SystemMidiService.h"

#include "AlsaMidiService.h"
#include "JackMidiService.h"
#include "SourceNames.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace tactimo {

std::unique_ptr<MidiService> makeSystemMidiService() {
    // Besides JackNoStartServer: some libjack builds read only this.
    setenv("JACK_NO_START_SERVER", "1", 1);
    std::vector<SystemMidiService::Backend> backends;
    backends.push_back({[]() -> std::unique_ptr<MidiService> { return JackMidiService::tryCreate(); }, {}});
    backends.push_back({[]() -> std::unique_ptr<MidiService> {
                            // A look at the device first: alsa-lib would read its whole
                            // configuration on every try while there is no sequencer.
                            if (access("/dev/snd/seq", R_OK | W_OK) != 0) return nullptr;
                            return AlsaMidiService::tryCreate();
                        },
                        {},
                        true});
    return std::make_unique<SystemMidiService>(std::move(backends));
}

// One open client of a backend, from its appearance until it is closed.
struct SystemMidiService::Client {
    std::unique_ptr<MidiService> service; // reset by the worker once closed
    ClientId id = 0;

    std::mutex useLock;
    std::condition_variable idle;
    int users = 0;        // calls into service in progress
    bool closing = false; // no call enters once set
};

// A call into a client, counted so that closing waits for it; fails once the client is closing.
class SystemMidiService::Use {
public:
    explicit Use(Client& client) : client_(client) {
        std::lock_guard guard(client_.useLock);
        entered_ = !client_.closing;
        if (entered_) ++client_.users;
    }
    ~Use() {
        if (!entered_) return;
        std::lock_guard guard(client_.useLock);
        if (--client_.users == 0) client_.idle.notify_all();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    explicit operator bool() const { return entered_; }

private:
    Client& client_;
    bool entered_ = false;
};

SystemMidiService::SystemMidiService(std::vector<Backend> backends, std::chrono::milliseconds interval)
    : backends_(std::move(backends)),
      interval_(interval),
      live_(backends_.size()) {}

SystemMidiService::~SystemMidiService() {
    close();
}

void SystemMidiService::open(Receive receive, SetupChanged setupChanged) {
    if (opened_ || closed_) return;
    opened_ = true;
    receive_ = std::move(receive);
    setupChanged_ = std::move(setupChanged);
    // At once, so that what is there is listed from the start.
    for (std::size_t i = 0; i < backends_.size(); ++i) attach(i);
    worker_ = std::thread([this] { run(); });
}

void SystemMidiService::close() {
    if (closed_) return;
    closed_ = true;
    {
        std::lock_guard guard(workerLock_);
        stopWorker_ = true;
    }
    workerWake_.notify_all();
    // The worker may be opening or closing a client: after this, only we do.
    if (worker_.joinable()) worker_.join();
    for (std::size_t i = 0; i < backends_.size(); ++i) {
        std::shared_ptr<Client> client;
        {
            std::lock_guard guard(liveLock_);
            client = live_[i];
        }
        if (client) detach(i, client);
    }
}

bool SystemMidiService::attach(std::size_t backend) {
    std::unique_ptr<MidiService> service = backends_[backend].tryOpen ? backends_[backend].tryOpen() : nullptr;
    if (!service) return false;
    auto client = std::make_shared<Client>();
    {
        std::lock_guard guard(keysLock_);
        client->id = nextClient_++;
        innerVirtual_[client->id] = service->virtualDestination();
    }
    // Before it lists anything, so that it never lists what it must leave.
    if (!backends_[backend].readsDevices) service->readBridgedSources(readBridges());
    client->service = std::move(service);
    const ClientId id = client->id;
    client->service->open(
        [this, id](MidiPacketList list, SourceKey inner) {
            std::optional<SourceKey> key;
            {
                std::lock_guard guard(keysLock_);
                key = outerKey(id, inner);
            }
            if (key && receive_) receive_(list, *key);
        },
        [this] {
            // A lost server is noticed here first; the worker closes the client.
            wake();
            if (setupChanged_) setupChanged_();
        });
    {
        std::lock_guard guard(liveLock_);
        live_[backend] = std::move(client);
    }
    if (backends_[backend].readsDevices) updateBridges();
    return true;
}

bool SystemMidiService::readBridges() const {
    std::lock_guard guard(liveLock_);
    for (std::size_t i = 0; i < live_.size(); ++i)
        if (live_[i] && backends_[i].readsDevices) return false;
    return true;
}

void SystemMidiService::updateBridges() {
    const bool read = readBridges();
    for (std::size_t i = 0; i < backends_.size(); ++i) {
        if (backends_[i].readsDevices) continue;
        std::shared_ptr<Client> client;
        {
            std::lock_guard guard(liveLock_);
            client = live_[i];
        }
        if (client)
            if (const Use use(*client); use) client->service->readBridgedSources(read);
    }
}

bool SystemMidiService::lost(std::size_t backend, const Client& client) const {
    const MidiService& service = *client.service;
    return backends_[backend].lost ? backends_[backend].lost(service) : !service.reachable();
}

void SystemMidiService::detach(std::size_t backend, const std::shared_ptr<Client>& client) {
    {
        std::lock_guard guard(liveLock_);
        if (live_[backend] == client) live_[backend].reset();
    }
    {
        std::unique_lock guard(client->useLock);
        client->closing = true;
        client->idle.wait(guard, [&] { return client->users == 0; });
    }
    // Joins the client's threads; a delivery still running is answered from keys_.
    client->service->close();
    {
        std::lock_guard guard(keysLock_);
        keys_.departIf([&](const Origin& origin, const auto&) { return origin.first == client->id; });
        innerVirtual_.erase(client->id);
    }
    client->service.reset();
}

std::vector<std::shared_ptr<SystemMidiService::Client>> SystemMidiService::liveClients() const {
    std::lock_guard guard(liveLock_);
    std::vector<std::shared_ptr<Client>> clients;
    for (const auto& client : live_)
        if (client) clients.push_back(client);
    return clients;
}

std::shared_ptr<SystemMidiService::Client> SystemMidiService::liveClient(ClientId id) const {
    std::lock_guard guard(liveLock_);
    for (const auto& client : live_)
        if (client && client->id == id) return client;
    return nullptr;
}

std::optional<SourceKey> SystemMidiService::outerKey(ClientId client, SourceKey inner) const {
    const auto found = innerVirtual_.find(client);
    if (found == innerVirtual_.end()) return std::nullopt;
    if (inner == found->second) return virtualKey;
    return keys_.key({client, inner});
}

SourceNames::Forms SystemMidiService::namesOf(Client& client, SourceKey inner) const {
    return SourceNames::plain(client.service->displayName(inner), client.service->fullName(inner));
}

std::vector<SourceKey> SystemMidiService::sources() const {
    std::vector<SourceKey> result;
    std::vector<SourceNames::Forms> forms;
    for (const auto& client : liveClients()) {
        const Use use(*client);
        if (!use) continue;
        for (const SourceKey inner : client->service->sources()) {
            std::optional<SourceKey> outer;
            {
                std::lock_guard guard(keysLock_);
                outer = outerKey(client->id, inner);
            }
            if (!outer || *outer == virtualKey) continue;
            result.push_back(*outer);
            forms.push_back(namesOf(*client, inner));
        }
    }
    const std::vector<std::string> names = SourceNames::distinct(forms);
    std::lock_guard guard(keysLock_);
    listedForms_ = std::move(forms);
    listedNames_.clear();
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (names[i].empty()) continue; // nameless: the owner's fall-back applies
        listedNames_.emplace(result[i], names[i]);
        keys_.rename(result[i], names[i]);
    }
    return result;
}

std::optional<std::string> SystemMidiService::displayName(SourceKey source) const {
    std::optional<Origin> origin;
    {
        std::lock_guard guard(keysLock_);
        if (const auto listed = listedNames_.find(source); listed != listedNames_.end()) return listed->second;
        origin = keys_.idOf(source);
        if (!origin) return keys_.lastName(source);
    }
    if (const auto client = liveClient(origin->first)) {
        if (const Use use(*client); use) {
            const SourceNames::Forms forms = namesOf(*client, origin->second);
            if (forms.shown.empty()) return std::nullopt;
            std::lock_guard guard(keysLock_);
            // Not listed yet: named as it would be beside the listed ones.
            std::vector<SourceNames::Forms> all = listedForms_;
            all.push_back(forms);
            std::string name = SourceNames::distinct(all).back();
            keys_.rename(source, name);
            return name;
        }
    }
    // Its client is closing or gone.
    std::lock_guard guard(keysLock_);
    return keys_.lastName(source);
}

std::optional<std::string> SystemMidiService::fullName(SourceKey source) const {
    std::optional<Origin> origin;
    {
        std::lock_guard guard(keysLock_);
        origin = keys_.idOf(source);
    }
    if (origin)
        if (const auto client = liveClient(origin->first))
            if (const Use use(*client); use)
                if (std::string full = SourceNames::plain({}, client->service->fullName(origin->second)).full;
                    !full.empty())
                    return full;
    return displayName(source);
}

void SystemMidiService::connectAllSources() {
    for (const auto& client : liveClients()) {
        const Use use(*client);
        if (use) client->service->connectAllSources();
    }
}

bool SystemMidiService::reachable() const {
    // A client leaves live_ before it is closed, so its service is there while listed.
    std::lock_guard guard(liveLock_);
    for (std::size_t i = 0; i < live_.size(); ++i)
        if (live_[i] && !lost(i, *live_[i])) return true;
    return false;
}

void SystemMidiService::wake() {
    {
        std::lock_guard guard(workerLock_);
        wakeWanted_ = true;
    }
    workerWake_.notify_all();
}

void SystemMidiService::run() {
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> nextTry(backends_.size(), Clock::now() + interval_);
    std::unique_lock guard(workerLock_);
    for (;;) {
        // Lost servers are also looked for every interval: a backend may tell
        // of its loss only together with an earlier change.
        Clock::time_point until = Clock::now() + interval_;
        {
            std::lock_guard live(liveLock_);
            for (std::size_t i = 0; i < backends_.size(); ++i)
                if (!live_[i]) until = std::min(until, nextTry[i]);
        }
        workerWake_.wait_until(guard, until, [this] { return wakeWanted_ || stopWorker_; });
        if (stopWorker_) return;
        wakeWanted_ = false;
        guard.unlock();

        bool changed = false;
        for (std::size_t i = 0; i < backends_.size(); ++i) {
            std::shared_ptr<Client> client;
            {
                std::lock_guard live(liveLock_);
                client = live_[i];
            }
            const auto now = Clock::now();
            if (client && lost(i, *client)) {
                detach(i, client);
                client.reset();
                changed = true;
                if (backends_[i].readsDevices) updateBridges();
                nextTry[i] = now + interval_; // a server going away is not back at once
            }
            if (!client && now >= nextTry[i]) {
                changed |= attach(i);
                nextTry[i] = Clock::now() + interval_;
            }
        }
        if (changed && setupChanged_) setupChanged_();
        guard.lock();
    }
}

} // namespace tactimo
