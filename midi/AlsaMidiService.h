#pragma once

#include "AlsaQueueClock.h"
#include "AlsaSourceTable.h"
#include "core/MidiService.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <alsa/asoundlib.h>

namespace tactimo {

// MIDI through the ALSA sequencer: client "Tactimo" with a hidden port "Input"
// subscribed to every source and to the System announce port, and a public
// port "Tactimo" as the virtual destination. A thread of ours receives,
// decodes and delivers; set-up changes come from the announcements.
// The parts that need no kernel are static functions and AlsaSourceTable.
class AlsaMidiService : public MidiService {
public:
    static constexpr SourceKey virtualKey = 1;

    // Opens the sequencer; none when it cannot be had (no kernel support).
    static std::unique_ptr<AlsaMidiService> tryCreate();
    ~AlsaMidiService() override;

    void open(Receive receive, SetupChanged setupChanged) override;
    void close() override;
    SourceKey virtualDestination() const override { return virtualKey; }
    std::vector<SourceKey> sources() const override;
    std::optional<std::string> displayName(SourceKey source) const override;
    void connectAllSources() override;

    // An event's time on CLOCK_MONOTONIC in ns, or 0 ("at delivery") when it
    // carries no real-time stamp or the queue's time is not mapped yet.
    static std::uint64_t eventTimeNs(const snd_seq_event_t& event, const AlsaQueueClock& clock);

private:
    explicit AlsaMidiService(snd_seq_t* seq);

    struct Port {
        AlsaSourceTable::Address address;
        std::string name;
    };
    std::vector<Port> listSources() const;
    void receiveLoop();
    void handleEvent(const snd_seq_event_t& event, class AlsaEventDecoder& decoder, const AlsaQueueClock& clock);
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

    mutable std::mutex tableLock_;
    mutable AlsaSourceTable table_;
};

} // namespace tactimo
