// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "FakeMidiService.h"

#include <algorithm>

namespace tactimo {

SourceKey FakeMidiBus::addSource(std::string name) {
    std::lock_guard guard(data_);
    const SourceKey key = nextKey_++;
    sources_.push_back({key, std::move(name), std::nullopt});
    return key;
}

void FakeMidiBus::removeSource(SourceKey key) {
    std::lock_guard guard(data_);
    for (Source& s : sources_)
        if (s.key == key) s.present = s.connected = false;
}

void FakeMidiBus::renameSource(SourceKey key, std::string name) {
    std::lock_guard guard(data_);
    for (Source& s : sources_)
        if (s.key == key) s.name = std::move(name);
}

void FakeMidiBus::clearName(SourceKey key) {
    std::lock_guard guard(data_);
    for (Source& s : sources_)
        if (s.key == key) s.name.reset();
}

void FakeMidiBus::setFullName(SourceKey key, std::string name) {
    std::lock_guard guard(data_);
    for (Source& s : sources_)
        if (s.key == key) s.fullName = std::move(name);
}

bool FakeMidiBus::send(SourceKey key, MidiPacketList list) {
    std::shared_lock gate(gate_);
    if (!receive_) return false;
    if (key != virtualKey) {
        std::lock_guard guard(data_);
        const auto it = std::find_if(sources_.begin(), sources_.end(), [&](const Source& s) { return s.key == key; });
        if (it == sources_.end() || !it->connected) return false;
    }
    receive_(list, key);
    return true;
}

bool FakeMidiBus::send(SourceKey key, std::vector<std::uint8_t> bytes, std::uint64_t timeStamp) {
    const MidiPacket packet{timeStamp, bytes};
    return send(key, MidiPacketList(&packet, 1));
}

void FakeMidiBus::announceSetupChange() {
    MidiService::SetupChanged changed;
    {
        std::shared_lock gate(gate_);
        changed = setupChanged_;
    }
    if (changed) changed();
}

bool FakeMidiBus::isOpen() const {
    std::shared_lock gate(gate_);
    return static_cast<bool>(receive_);
}

void FakeMidiService::open(Receive receive, SetupChanged setupChanged) {
    std::unique_lock gate(bus_->gate_);
    bus_->receive_ = std::move(receive);
    bus_->setupChanged_ = std::move(setupChanged);
}

void FakeMidiService::close() {
    // Taking the gate alone waits for every send in progress to finish.
    std::unique_lock gate(bus_->gate_);
    bus_->receive_ = nullptr;
    bus_->setupChanged_ = nullptr;
}

std::vector<SourceKey> FakeMidiService::sources() const {
    std::lock_guard guard(bus_->data_);
    std::vector<SourceKey> result;
    for (const auto& s : bus_->sources_)
        if (s.present) result.push_back(s.key);
    return result;
}

std::optional<std::string> FakeMidiService::displayName(SourceKey source) const {
    std::lock_guard guard(bus_->data_);
    for (const auto& s : bus_->sources_)
        if (s.key == source) return s.name;
    return std::nullopt;
}

std::optional<std::string> FakeMidiService::fullName(SourceKey source) const {
    std::lock_guard guard(bus_->data_);
    for (const auto& s : bus_->sources_)
        if (s.key == source) return s.fullName ? s.fullName : s.name;
    return std::nullopt;
}

void FakeMidiService::connectAllSources() {
    std::lock_guard guard(bus_->data_);
    ++bus_->connectCalls_;
    for (auto& s : bus_->sources_)
        if (s.present) s.connected = true;
}

} // namespace tactimo
