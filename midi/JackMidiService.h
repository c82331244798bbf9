#pragma once

#include "JackBridge.h"
#include "JackSourceTable.h"
#include "PacketListRing.h"
#include "core/MidiService.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <jack/jack.h>
#include <semaphore.h>

namespace tactimo {

// MIDI through a running JACK server. One input port of ours per source,
// because JACK merges everything connected to one port into one buffer; plus
// the public input port "Tactimo" as the virtual destination.
//
// Sources are named as people know them (a port's pretty name, a bridged
// device's own name: JackBridge), and ports that merely bridge the
// sequencer's devices can be left to the sequencer backend
// (readBridgedSources). A sender whose data reaches us by two paths is read
// once: what arrives at "Tactimo", or from a bridged kernel thru port, is
// dropped while everything connected to write to it reaches us directly.
//
// Threads: the process callback (real time) only copies events into a ring
// buffer; our delivery thread drains it and calls Receive, one packet list per
// source per cycle. JACK's notification thread only calls SetupChanged.
// Ports are registered, connected and unregistered on a connector thread of
// ours: each is a round trip that the server answers only after telling every
// other client, which with many clients takes long enough to freeze a window.
class JackMidiService : public MidiService {
public:
    static constexpr SourceKey virtualKey = 1;
    static constexpr std::size_t maxSources = 256;

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

    // The server shut down under us; the service then lists and delivers nothing.
    bool serverGone() const { return serverGone_.load(); }
    // Full JACK name of our per-source port for a source, if it has one. Main thread.
    std::optional<std::string> portNameFor(SourceKey source) const;
    // Packet lists dropped as copies of what reaches us directly.
    std::uint64_t mirroredLists() const { return mirrored_.load(); }
    // Packet lists dropped, whole or in part, because the ring buffer was full.
    std::uint64_t droppedLists() const { return dropped_.load(); }
    // Times the delivery thread found bytes in the ring that were no record.
    std::uint64_t rejectedRecords() const { return ring_ ? ring_->rejected() : 0; }

    // Entries of the source table, for measurements.
    struct TableSizes {
        std::size_t keysByUuid = 0; // present ports
        std::size_t names = 0;      // present ports and the few that went last
        std::size_t retiring = 0;   // UUIDs reported unregistered, not yet applied
    };
    TableSizes tableSizes() const;

private:
    explicit JackMidiService(jack_client_t* client);

    struct Slot {
        std::atomic<jack_port_t*> port{nullptr}; // published last, cleared first
        std::atomic<SourceKey> key{0};
        std::string named; // the name its port was given for; connector thread only
    };
    using Listed = JackSourceTable::Source;

    static int processCallback(jack_nframes_t frames, void* self);
    static void portRegistered(jack_port_id_t port, int registered, void* self);
    static void clientRegistered(const char* name, int registered, void* self);
    static void shutdown(jack_status_t code, const char* reason, void* self);

    // libjack cancels its threads asynchronously in jack_client_close (and
    // may in jack_deactivate): a thread cancelled inside our code could leave
    // a lock held or unwind through a noexcept frame and end the program. So
    // close() shuts this gate and waits until no callback is inside before it
    // deactivates and closes the client.
    // Kept to atomics, with nothing to unwind, so a cancel at the gate is harmless.
    bool enterCallback() {
        callbacksInside_.fetch_add(1);
        if (!gateShut_.load()) return true;
        callbacksInside_.fetch_sub(1);
        return false;
    }
    void leaveCallback() { callbacksInside_.fetch_sub(1); }
    void shutGate();

    void onPortRegistered(jack_port_id_t id, int registered);
    void process(std::uint32_t frames);
    bool copyPort(jack_port_t* port, SourceKey key, std::uint32_t frames, std::uint32_t cycleStart,
                  std::int64_t offsetNs);
    void notifySetupChanged();
    void deliverLoop();
    void connectLoop();
    void connectNow();
    // Lists the MIDI outputs and keys them. Bridges of the sequencer's
    // devices are left out while they are left to it: hidden gets their names.
    std::vector<Listed> scan(std::vector<std::string>* hidden = nullptr) const;
    std::optional<std::string> nameOf(SourceKey source, bool full) const;
    // Delivery thread: whether a list under a key is a copy of data that
    // reaches us directly too.
    bool mirrored(SourceKey key);
    // Connector thread: what mirrored() judges by, after a (re)connection.
    void updateMirrors(const std::vector<Listed>& listed, const std::vector<std::string>& hidden);
    void waitForCycles(int cycles) const;
    void waitUntilCycle(std::uint64_t cycle) const;
    bool alive() const { return client_ && active_ && !serverGone_.load(); }

    jack_client_t* client_ = nullptr;
    jack_port_t* virtualPort_ = nullptr;
    bool active_ = false;
    bool closed_ = false;
    std::atomic<bool> serverGone_{false};
    std::atomic<bool> gateShut_{false};
    std::atomic<int> callbacksInside_{0};

    Receive receive_;
    SetupChanged setupChanged_;
    std::atomic<bool> setupPending_{false};

    // Shared with the process callback.
    std::array<Slot, maxSources> slots_;
    std::atomic<jack_port_t*> virtualSlot_{nullptr};
    std::unique_ptr<PacketListRing> ring_; // written by the process thread, read by the delivery thread
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<std::uint64_t> dropped_{0};
    sem_t wake_;
    std::atomic<bool> stopDelivery_{false};
    std::thread delivery_;

    std::mutex connectLock_;
    std::condition_variable connectWake_;
    bool connectWanted_ = false;
    bool stopConnecting_ = false;
    std::thread connector_;

    // Ports of ours whose source went, kept a while for the next source that
    // comes (a sender restarting), so that we seldom register a port: see
    // connectNow. Connector thread only.
    struct Parked {
        jack_port_t* port;
        std::chrono::steady_clock::time_point since;
    };
    static constexpr std::chrono::seconds parkedFor{2};
    std::vector<Parked> parked_;
    void freeParked();
    // Takes a port of ours away, noted so that its notice is not taken for another's.
    void unregisterOwn(jack_port_t* port);

    // The main thread and the connector both list; one at a time, so that
    // retired UUIDs and the listing they apply to stay together.
    mutable std::mutex namesLock_;
    mutable JackSourceTable table_;
    mutable std::map<SourceKey, JackBridge> bridges_; // present keys that are bridges
    std::atomic<bool> readBridges_{true};

    // What the delivery thread judges copies by; the connector sets it.
    std::mutex mirrorLock_;
    std::set<std::string> direct_;                // ports whose data reaches us directly
    std::map<SourceKey, std::string> thruInputs_; // bridged thru ports: the port that feeds each
    struct Judged {
        bool mirror = false;
        std::chrono::steady_clock::time_point at;
    };
    std::map<SourceKey, Judged> judged_; // the last judgement with something connected
    std::atomic<std::uint64_t> mirrored_{0};
    // UUIDs reported unregistered since the last listing, from the
    // notification thread. Past the limit they count as lost, and the next
    // listing gives every port a new key rather than risk reusing one.
    static constexpr std::size_t maxRetiring = 4096;
    mutable std::mutex retiredLock_;
    mutable std::vector<std::uint64_t> retired_;
    mutable bool retiredLost_ = false;
    // Our cycle count when a port was last unregistered, anyone's.
    std::atomic<std::uint64_t> releasedAt_{0};
    std::vector<std::uint64_t> ownRetiring_; // our ports being unregistered
};

} // namespace tactimo
