// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/MidiService.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace tactimo {

// A MIDI service made of nothing, for tests: the bus is shared between the
// test and the service that ClockInput owns. Any thread may send.
class FakeMidiBus {
public:
    static constexpr SourceKey virtualKey = 0x7FFF'FFFF;

    // A new source gets a key that is never reused; its name may be any bytes.
    SourceKey addSource(std::string name);
    void removeSource(SourceKey key);
    void renameSource(SourceKey key, std::string name);
    // A source without a name: the display-name lookup yields none.
    void clearName(SourceKey key);
    // The long form of a source's name; none: the same as its name.
    void setFullName(SourceKey key, std::string name);
    // What the service was last told: whether to read bridged devices.
    bool readsBridges() const { return readsBridges_; }

    // Delivers one packet list from a connected source (or from the virtual
    // destination), as the service's delivery thread would. Returns false when
    // nothing was delivered: service closed, or the source not connected.
    bool send(SourceKey key, MidiPacketList list);
    bool send(SourceKey key, std::vector<std::uint8_t> bytes, std::uint64_t timeStamp = 0);

    // The notification of a set-up change, as the service's own thread sends it.
    void announceSetupChange();

    int connectCalls() const { return connectCalls_; }
    bool isOpen() const;

    // What the service answers when asked whether a MIDI service is reachable.
    void setReachable(bool reachable) { reachable_ = reachable; }

private:
    friend class FakeMidiService;
    struct Source {
        SourceKey key;
        std::optional<std::string> name;
        std::optional<std::string> fullName;
        bool present = true;
        bool connected = false;
    };

    // Senders share the gate; open and close take it alone, so close waits
    // for deliveries in progress. The data lock guards the rest.
    mutable std::shared_mutex gate_;
    mutable std::mutex data_;
    std::vector<Source> sources_;
    MidiService::Receive receive_;
    MidiService::SetupChanged setupChanged_;
    SourceKey nextKey_ = 1;
    std::atomic<int> connectCalls_{0};
    std::atomic<bool> reachable_{true};
    std::atomic<bool> readsBridges_{true};
};

class FakeMidiService : public MidiService {
public:
    explicit FakeMidiService(std::shared_ptr<FakeMidiBus> bus) : bus_(std::move(bus)) {}
    ~FakeMidiService() override { close(); }

    void open(Receive receive, SetupChanged setupChanged) override;
    void close() override;
    SourceKey virtualDestination() const override { return FakeMidiBus::virtualKey; }
    std::vector<SourceKey> sources() const override;
    std::optional<std::string> displayName(SourceKey source) const override;
    std::optional<std::string> fullName(SourceKey source) const override;
    void connectAllSources() override;
    bool reachable() const override { return bus_->reachable_; }
    void readBridgedSources(bool read) override { bus_->readsBridges_ = read; }

private:
    std::shared_ptr<FakeMidiBus> bus_;
};

} // namespace tactimo
