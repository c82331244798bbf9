#include "AlsaMidiService.h"

#include "core/HostClock.h"

#include "AlsaEventDecoder.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
    snd_seq_set_client_name(seq_, "Tactimo");
    ownClient_ = snd_seq_client_id(seq_);
}

AlsaMidiService::~AlsaMidiService() {
    close();
}

void AlsaMidiService::open(Receive receive, SetupChanged setupChanged) {
    if (!seq_ || closed_ || receiver_.joinable()) return;
    receive_ = std::move(receive);
    setupChanged_ = std::move(setupChanged);

    // The kernel stamps every delivered event with the queue's real time.
    queue_ = snd_seq_alloc_named_queue(seq_, "Tactimo");
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
        return snd_seq_create_port(seq_, info) == 0 ? snd_seq_port_info_get_port(info) : -1;
    };
    // Hidden from patchbays; we subscribe it ourselves.
    inputPort_ = makePort("Input", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT);
    virtualPort_ = makePort("Tactimo", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    if (queue_ >= 0) {
        snd_seq_start_queue(seq_, queue_, nullptr);
        snd_seq_drain_output(seq_);
    }
    if (inputPort_ >= 0) snd_seq_connect_from(seq_, inputPort_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);

    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ >= 0) receiver_ = std::thread([this] { receiveLoop(); });
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
    if (seq_) snd_seq_close(seq_);
    seq_ = nullptr;
}

std::vector<AlsaMidiService::Port> AlsaMidiService::listSources() const {
    std::vector<Port> result;
    if (!seq_) return result;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq_, port) >= 0) {
            if (!AlsaSourceTable::isSource(id, ownClient_, snd_seq_port_info_get_capability(port))) continue;
            const char* clientName = snd_seq_client_info_get_name(client);
            const char* portName = snd_seq_port_info_get_name(port);
            result.push_back({{id, snd_seq_port_info_get_port(port)},
                              AlsaSourceTable::displayName(clientName ? clientName : "", portName ? portName : "")});
        }
    }
    return result;
}

std::vector<SourceKey> AlsaMidiService::sources() const {
    std::vector<SourceKey> keys;
    const std::vector<Port> ports = listSources();
    std::lock_guard guard(tableLock_);
    for (const Port& p : ports) keys.push_back(table_.keyFor(p.address, p.name));
    return keys;
}

std::optional<std::string> AlsaMidiService::displayName(SourceKey source) const {
    std::optional<AlsaSourceTable::Address> address;
    {
        std::lock_guard guard(tableLock_);
        address = table_.addressOf(source);
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
        return AlsaSourceTable::displayName(clientName ? clientName : "", portName ? portName : "");
    }
    std::lock_guard guard(tableLock_);
    return table_.lastName(source);
}

void AlsaMidiService::connectAllSources() {
    if (!seq_ || inputPort_ < 0) return;
    setupPending_.store(false);
    for (const Port& p : listSources()) {
        {
            std::lock_guard guard(tableLock_);
            table_.keyFor(p.address, p.name);
        }
        // -EBUSY when already subscribed: the kernel never doubles a subscription.
        snd_seq_connect_from(seq_, inputPort_, p.address.client, p.address.port);
    }
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
    const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(std::size_t(count > 0 ? count : 0) + 1);
    if (count > 0) snd_seq_poll_descriptors(seq_, fds.data(), unsigned(count), POLLIN);
    fds.back() = {stopFd_, POLLIN, 0};

    AlsaQueueClock clock;
    for (int i = 0; i < startReadings; ++i) {
        if (i > 0) std::this_thread::sleep_for(startReadingGap);
        calibrate(clock);
    }
    auto nextCalibration = std::chrono::steady_clock::now() + calibrationPeriod;
    const int timeout = int(std::chrono::milliseconds(calibrationPeriod).count());
    for (;;) {
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
        if (fds.back().revents & POLLIN) return;
        // A sequencer that went away would wake the poll for ever.
        for (std::size_t i = 0; i + 1 < fds.size(); ++i)
            if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        if (std::chrono::steady_clock::now() >= nextCalibration) {
            calibrate(clock);
            nextCalibration = std::chrono::steady_clock::now() + calibrationPeriod;
        }
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int r = snd_seq_event_input(seq_, &event);
            if (r == -EAGAIN) break;
            if (r == -ENOSPC) { // the input FIFO overran and was cleared
                overruns_.fetch_add(1);
                continue;
            }
            if (r < 0 || !event) break;
            handleEvent(*event, decoder, clock);
        }
    }
}

void AlsaMidiService::handleEvent(const snd_seq_event_t& event, AlsaEventDecoder& decoder,
                                  const AlsaQueueClock& clock) {
    if (event.source.client == SND_SEQ_CLIENT_SYSTEM && event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
        bool changed = false;
        {
            std::lock_guard guard(tableLock_);
            changed = table_.onAnnounce(event);
        }
        if (changed) notifySetupChanged();
        return;
    }
    const std::span<const std::uint8_t> bytes = decoder.decode(event);
    if (bytes.empty()) return;
    SourceKey key = virtualKey;
    if (event.dest.port != virtualPort_) {
        std::lock_guard guard(tableLock_);
        key = table_.keyFor({event.source.client, event.source.port});
    }
    const MidiPacket packet{eventTimeNs(event, clock), bytes};
    if (receive_) receive_(MidiPacketList(&packet, 1), key);
}

} // namespace tactimo
