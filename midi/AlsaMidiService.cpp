// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "AlsaMidiService.h"

#include "core/HostClock.h"

#include "AlsaEventDecoder.h"
#include "SequencerPortName.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

namespace tactimo {

namespace {

// Reads of the queue's time: a burst at the start, over distinct timer
// periods, then a few a second; AlsaQueueClock keeps the mapping smooth.
constexpr auto calibrationPeriod = std::chrono::milliseconds(250);
constexpr int startReadings = 16;
constexpr auto startReadingGap = std::chrono::microseconds(1100);

void quiet(const char*, int, const char*, int, const char*, ...) {}

// What a failed sequencer call costs the user; the service carries on
// without what failed.
void warn(const char* consequence, int error) {
    std::fprintf(stderr, "%s: ALSA sequencer: %s (%s)\n", program_invocation_short_name, consequence,
                 snd_strerror(error));
}

} // namespace

std::uint64_t AlsaMidiService::eventTimeNs(const snd_seq_event_t& event, const AlsaQueueClock& clock) {
    if (!snd_seq_ev_is_real(&event)) return 0;
    const std::uint64_t queueNs =
        std::uint64_t(event.time.time.tv_sec) * 1'000'000'000 + std::uint64_t(event.time.time.tv_nsec);
    return clock.toHost(queueNs);
}

std::unique_ptr<AlsaMidiService> AlsaMidiService::tryCreate() {
    // alsa-lib otherwise prints to stderr when there is no sequencer.
    snd_lib_error_set_handler(quiet);
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0 || !seq) return nullptr;
    return std::unique_ptr<AlsaMidiService>(new AlsaMidiService(seq));
}

AlsaMidiService::AlsaMidiService(snd_seq_t* seq) : seq_(seq) {
    if (const int error = snd_seq_set_client_name(seq_, "Tactimo"); error < 0)
        warn("not named: patchbays show our ports under a number", error);
    ownClient_ = snd_seq_client_id(seq_);
    if (ownClient_ < 0) warn("our own client number is unknown: data routed to us twice may be read twice", ownClient_);
}

AlsaMidiService::~AlsaMidiService() {
    close();
}

void AlsaMidiService::open(Receive receive, SetupChanged setupChanged) {
    if (!seq_ || closed_ || receiver_.joinable()) return;
    receive_ = std::move(receive);
    setupChanged_ = std::move(setupChanged);

    if (const int error = snd_seq_set_client_pool_input(seq_, inputPool); error < 0)
        warn("the input pool stayed small: a burst of events overruns it sooner, and each overrun lists the "
             "sources anew",
             error);
    // The kernel stamps every delivered event with the queue's real time.
    queue_ = snd_seq_alloc_named_queue(seq_, "Tactimo");
    if (queue_ < 0) {
        warn("no queue: events are timed when read, not when they arrived", queue_);
    } else if (int error = snd_seq_start_queue(seq_, queue_, nullptr);
               error < 0 || (error = snd_seq_drain_output(seq_)) < 0) {
        // A queue that does not run would stamp every event with the same time.
        warn("the queue did not start: events are timed when read, not when they arrived", error);
        snd_seq_free_queue(seq_, queue_);
        queue_ = -1;
    }
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    const auto makePort = [&](const char* name, unsigned capability) {
        std::memset(info, 0, snd_seq_port_info_sizeof()); // nothing left from the previous port
        snd_seq_port_info_set_name(info, name);
        snd_seq_port_info_set_capability(info, capability);
        snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (queue_ >= 0) {
            snd_seq_port_info_set_timestamping(info, 1);
            snd_seq_port_info_set_timestamp_real(info, 1);
            snd_seq_port_info_set_timestamp_queue(info, queue_);
        }
        const int error = snd_seq_create_port(seq_, info);
        return error < 0 ? error : snd_seq_port_info_get_port(info);
    };
    // Hidden from patchbays; we subscribe it ourselves.
    inputPort_ = makePort("Input", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT);
    if (inputPort_ < 0) warn("no input port: no source of the sequencer is heard", inputPort_);
    virtualPort_ = makePort("Tactimo", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    if (virtualPort_ < 0) warn("no public port \"Tactimo\": nothing can be sent to us directly", virtualPort_);
    if (inputPort_ >= 0)
        if (const int error =
                snd_seq_connect_from(seq_, inputPort_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
            error < 0)
            warn("not told of clients and ports that come and go: new sources are found only when the set-up is "
                 "read anew",
                 error);
    {
        std::lock_guard guard(tableLock_);
        routes_.setOwnPorts({ownClient_, inputPort_}, {ownClient_, virtualPort_});
    }

    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0)
        warn("no receiving thread: nothing is heard", -errno);
    else
        receiver_ = std::thread([this] { receiveLoop(); });
}

void AlsaMidiService::close() {
    if (closed_) return;
    closed_ = true;
    if (receiver_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(stopFd_, &one, sizeof one);
        receiver_.join();
    }
    if (stopFd_ >= 0) ::close(stopFd_);
    stopFd_ = -1;
    if (seq_) snd_seq_close(seq_); // frees the client even where it reports an error
    seq_ = nullptr;
}

std::vector<AlsaMidiService::ListedPort> AlsaMidiService::listPorts() const {
    std::vector<ListedPort> result;
    if (!seq_) return result;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        const char* clientName = snd_seq_client_info_get_name(client);
        const AlsaSourceTable::Occupant occupant{snd_seq_client_info_get_pid(client),
                                                 snd_seq_client_info_get_card(client), clientName ? clientName : ""};
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq_, port) >= 0) {
            const char* portName = snd_seq_port_info_get_name(port);
            result.push_back({{{id, snd_seq_port_info_get_port(port)},
                               SequencerPortName::shown(occupant.client, portName ? portName : ""),
                               occupant},
                              AlsaSourceTable::isSource(id, ownClient_, snd_seq_port_info_get_capability(port))});
        }
    }
    return result;
}

std::vector<std::pair<std::optional<SourceKey>, AlsaSourceTable::Address>> AlsaMidiService::keyedSources() const {
    std::vector<std::pair<std::optional<SourceKey>, AlsaSourceTable::Address>> result;
    // A listing taken while announcements were applied may show a port that
    // has left since, whose address the kernel may give to the next client:
    // such a listing only names ports that already have keys.
    for (int attempt = 0;; ++attempt) {
        const std::uint64_t generation = [&] {
            std::lock_guard guard(tableLock_);
            return table_.generation();
        }();
        const std::vector<ListedPort> ports = listPorts();
        std::lock_guard guard(tableLock_);
        const bool current = table_.generation() == generation;
        if (!current && attempt < 3) continue;
        for (const ListedPort& p : ports)
            if (p.source) result.emplace_back(table_.keyForListed(p.port, current), p.port.address);
        return result;
    }
}

std::vector<SourceKey> AlsaMidiService::sources() const {
    // Only what we are subscribed to: a device that a JACK raw MIDI driver
    // holds for itself refuses the subscription, and is listed there instead.
    const std::set<AlsaSourceTable::Address> subscribed =
        inputPort_ >= 0 ? writersTo({ownClient_, inputPort_}) : std::set<AlsaSourceTable::Address>{};
    std::vector<SourceKey> keys;
    for (const auto& [key, address] : keyedSources())
        if (key && (inputPort_ < 0 || subscribed.contains(address))) keys.push_back(*key);
    return keys;
}

std::optional<std::string> AlsaMidiService::displayName(SourceKey source) const {
    return nameOf(source, false);
}

std::optional<std::string> AlsaMidiService::fullName(SourceKey source) const {
    return nameOf(source, true);
}

std::optional<std::string> AlsaMidiService::nameOf(SourceKey source, bool full) const {
    std::optional<AlsaSourceTable::Address> address;
    std::optional<AlsaSourceTable::Occupant> occupant;
    {
        std::lock_guard guard(tableLock_);
        address = table_.addressOf(source);
        occupant = table_.occupantOf(source);
        if (!address) return table_.lastName(source);
    }
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    if (seq_ && snd_seq_get_any_client_info(seq_, address->client, client) == 0 &&
        snd_seq_get_any_port_info(seq_, address->client, address->port, port) == 0) {
        const char* clientName = snd_seq_client_info_get_name(client);
        const char* portName = snd_seq_port_info_get_name(port);
        const AlsaSourceTable::Occupant now{snd_seq_client_info_get_pid(client), snd_seq_client_info_get_card(client),
                                            clientName ? clientName : ""};
        // Another client at the address: its departure is still to be read.
        if (!occupant || occupant->sameClient(now))
            return full ? SequencerPortName::full(now.client, portName ? portName : "")
                        : SequencerPortName::shown(now.client, portName ? portName : "");
    }
    std::lock_guard guard(tableLock_);
    return table_.lastName(source);
}

void AlsaMidiService::connectAllSources() {
    if (!seq_ || inputPort_ < 0) return;
    setupPending_.store(false);
    // Unkeyed ones too: their events come after the announcements that the
    // table still has to read. -EBUSY when already subscribed (the kernel
    // never doubles a subscription), or for a device that a JACK raw MIDI
    // driver holds for itself: sources() lists only what we are subscribed
    // to, and the JACK backend lists that device through its bridge.
    for (const auto& [key, address] : keyedSources()) {
        const int error = snd_seq_connect_from(seq_, inputPort_, address.client, address.port);
        if (error < 0 && error != -EBUSY && refused_.insert(address).second)
            warn("a source refused us and is not listed", error);
    }
}

AlsaMidiService::Stats AlsaMidiService::stats() const {
    std::lock_guard guard(tableLock_);
    return {table_.ledger().size(), table_.ledger().keysGiven(), overruns_.load()};
}

void AlsaMidiService::notifySetupChanged() {
    if (setupPending_.exchange(true)) return;
    if (setupChanged_) setupChanged_();
}

void AlsaMidiService::calibrate(AlsaQueueClock& clock) const {
    if (queue_ < 0) return;
    snd_seq_queue_status_t* status = nullptr;
    snd_seq_queue_status_alloca(&status);
    hostClock::Bracket samples[5];
    std::size_t n = 0;
    for (int i = 0; i < 5; ++i) {
        hostClock::Bracket s;
        s.hostBefore = hostClock::now();
        if (snd_seq_get_queue_status(seq_, queue_, status) < 0) continue;
        s.hostAfter = hostClock::now();
        const snd_seq_real_time_t* t = snd_seq_queue_status_get_real_time(status);
        s.foreign = std::uint64_t(t->tv_sec) * 1'000'000'000u + t->tv_nsec;
        samples[n++] = s;
    }
    clock.calibrate(std::span(samples, n));
}

void AlsaMidiService::receiveLoop() {
    AlsaEventDecoder decoder;
    const int wanted = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(std::size_t(std::max(wanted, 0)));
    const int count = wanted > 0 ? snd_seq_poll_descriptors(seq_, fds.data(), unsigned(wanted), POLLIN) : 0;
    // Without them the poll below only times out: events are then read a
    // few times a second, late.
    if (count <= 0) warn("cannot wait for events: they are read four times a second", count < 0 ? count : -ENODEV);
    fds.resize(std::size_t(std::max(count, 0)));
    fds.push_back({stopFd_, POLLIN, 0});

    // After our subscription to the announcements: what they tell from now
    // on applies to what is read here.
    seedRoutes();
    AlsaQueueClock clock;
    for (int i = 0; i < startReadings; ++i) {
        if (i > 0) std::this_thread::sleep_for(startReadingGap);
        calibrate(clock);
    }
    auto nextCalibration = std::chrono::steady_clock::now() + calibrationPeriod;
    const int timeout = int(std::chrono::milliseconds(calibrationPeriod).count());
    for (;;) {
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            warn("stopped waiting for events: nothing more is heard", -errno);
            return;
        }
        if (fds.back().revents & POLLIN) return;
        // A sequencer that went away would wake the poll for ever.
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                warn("the sequencer went away: nothing more is heard", -ENODEV);
                return;
            }
        }
        if (std::chrono::steady_clock::now() >= nextCalibration) {
            calibrate(clock);
            nextCalibration = std::chrono::steady_clock::now() + calibrationPeriod;
        }
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int r = snd_seq_event_input(seq_, &event);
            if (r == -EAGAIN) break;
            if (r == -ENOSPC) { // the input pool overran and was cleared
                overruns_.fetch_add(1);
                resync();
                continue;
            }
            if (r < 0 || !event) break; // tried again at the next wake-up
            // A new thru port: its writers from the sequencer, before its
            // first event (its own subscriptions are announced after this).
            std::optional<std::pair<AlsaSourceTable::Address, std::set<AlsaSourceTable::Address>>> thru;
            if (event->type == SND_SEQ_EVENT_PORT_START && event->source.client == SND_SEQ_CLIENT_SYSTEM) {
                const AlsaSourceTable::Address port{event->data.addr.client, event->data.addr.port};
                if (isThru(port)) thru.emplace(port, writersTo(port));
            }
            Routed routed;
            {
                std::lock_guard guard(tableLock_);
                if (thru) routes_.addThru(thru->first, thru->second);
                routed = route(*event, virtualPort_, decoder, table_, routes_, clock);
            }
            if (routed.setupChanged) notifySetupChanged();
            if (routed.key && receive_) receive_(MidiPacketList(&routed.packet, 1), *routed.key);
        }
    }
}

std::set<AlsaSourceTable::Address> AlsaMidiService::writersTo(AlsaSourceTable::Address port) const {
    std::set<AlsaSourceTable::Address> writers;
    snd_seq_query_subscribe_t* query = nullptr;
    snd_seq_query_subscribe_alloca(&query);
    const snd_seq_addr_t root{std::uint8_t(port.client), std::uint8_t(port.port)};
    snd_seq_query_subscribe_set_root(query, &root);
    snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_WRITE);
    // The kernel answers by index: bounded, should the list change meanwhile.
    for (int index = 0; index < 4096; ++index) {
        snd_seq_query_subscribe_set_index(query, index);
        if (snd_seq_query_port_subscribers(seq_, query) < 0) break;
        const snd_seq_addr_t* writer = snd_seq_query_subscribe_get_addr(query);
        writers.insert({writer->client, writer->port});
    }
    return writers;
}

bool AlsaMidiService::isThru(AlsaSourceTable::Address port) const {
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* info = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&info);
    if (snd_seq_get_any_client_info(seq_, port.client, client) < 0 ||
        snd_seq_get_any_port_info(seq_, port.client, port.port, info) < 0)
        return false;
    return AlsaRouteGraph::isThru(snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT,
                                  snd_seq_client_info_get_card(client), snd_seq_port_info_get_capability(info));
}

void AlsaMidiService::seedRoutes() {
    std::vector<std::pair<AlsaSourceTable::Address, std::set<AlsaSourceTable::Address>>> thrus;
    for (const ListedPort& p : listPorts())
        if (isThru(p.port.address)) thrus.emplace_back(p.port.address, writersTo(p.port.address));
    const AlsaSourceTable::Address input{ownClient_, inputPort_}, publicPort{ownClient_, virtualPort_};
    const auto inputWriters = writersTo(input), publicWriters = writersTo(publicPort);
    std::lock_guard guard(tableLock_);
    routes_.clear();
    routes_.setWriters(input, inputWriters);
    routes_.setWriters(publicPort, publicWriters);
    for (const auto& [port, writers] : thrus) routes_.addThru(port, writers);
}

void AlsaMidiService::resync() {
    // Announcements were lost with the rest: who left, who came, perhaps at
    // the same address. Events read from here on came after the loss.
    seedRoutes();
    const std::vector<ListedPort> ports = listPorts();
    std::vector<AlsaSourceTable::Port> present;
    present.reserve(ports.size());
    for (const ListedPort& p : ports) present.push_back(p.port);
    {
        std::lock_guard guard(tableLock_);
        table_.resync(present);
    }
    notifySetupChanged();
}

AlsaMidiService::Routed AlsaMidiService::route(const snd_seq_event_t& event, int virtualPort, AlsaEventDecoder& decoder,
                                               AlsaSourceTable& table, AlsaRouteGraph& routes,
                                               const AlsaQueueClock& clock) {
    Routed routed;
    // Only the kernel sends as client 0: others' events carry their own number.
    if (event.source.client == SND_SEQ_CLIENT_SYSTEM && event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
        routed.setupChanged = table.onAnnounce(event);
        routes.onAnnounce(event);
        return routed;
    }
    if (routes.mirrored({event.source.client, event.source.port}, {event.dest.client, event.dest.port})) return routed;
    const std::span<const std::uint8_t> bytes = decoder.decode(event);
    if (bytes.empty()) return routed;
    routed.key = event.dest.port == virtualPort ? std::optional(virtualKey)
                                                : table.keyFor({event.source.client, event.source.port});
    routed.packet = {eventTimeNs(event, clock), bytes};
    return routed;
}

} // namespace tactimo
