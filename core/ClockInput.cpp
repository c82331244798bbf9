// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockInput.h"

#include "NullMidiService.h"
#include "UnicodeText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>

namespace tactimo {

namespace {

constexpr const char* virtualPortName = "Virtual port";
constexpr const char* fallbackName = "MIDI";

} // namespace

ClockInput::ClockInput(std::unique_ptr<MidiService> service, Post post, HostClock clock)
    : service_(service ? std::move(service) : std::make_unique<NullMidiService>()),
      post_(std::move(post)),
      clock_(clock ? std::move(clock) : HostClock(hostClock::now)),
      self_(std::make_shared<ClockInput*>(this)) {
    std::weak_ptr<ClockInput*> weak = self_;
    Post post_copy = post_;
    service_->open(
        // The service is closed before this object goes, so no delivery outlives it.
        [this](MidiPacketList list, SourceKey key) { handle(list, key); },
        [weak, post_copy] {
            if (!post_copy) return;
            post_copy([weak] {
                if (auto self = weak.lock()) (*self)->setupChanged();
            });
        });
    service_->connectAllSources();
}

ClockInput::~ClockInput() {
    service_->close();
}

void ClockInput::setupChanged() {
    service_->connectAllSources();
    forgetDeparted();
    if (onSourcesChanged) onSourcesChanged();
}

// A record stays after its source has gone, so that its last reading can
// still be shown; but of the records that are neither listed nor receiving,
// the status follows at most the one with the latest tick, among all of them
// or among those of one name. So per name only that one is kept, and no more
// than maxDepartedRecords in all: a sender restarting all day leaves one.
void ClockInput::forgetDeparted() {
    const std::vector<SourceKey> listed = service_->sources();
    const std::unordered_set<SourceKey> present(listed.begin(), listed.end());
    const SourceKey virtualKey = service_->virtualDestination();
    const double now = static_cast<double>(clock_()) * secondsPerHostTick;

    std::lock_guard guard(lock_);
    using Record = decltype(states_)::iterator;
    std::vector<std::pair<double, Record>> departed;
    for (auto it = states_.begin(); it != states_.end(); ++it) {
        if (it->first == virtualKey || present.contains(it->first) || isReceiving(it->second.analyzer, now)) continue;
        // A departed source sends no more: its reading may still show, but
        // the window keeps its own copy of any history it was drawing.
        it->second.history.reset();
        const auto& lastTick = it->second.analyzer.lastTick;
        const double tick = lastTick && !std::isnan(*lastTick) ? *lastTick : -std::numeric_limits<double>::infinity();
        departed.emplace_back(tick, it);
    }
    if (departed.size() <= 1) return;
    std::sort(departed.begin(), departed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::unordered_set<std::string_view> names; // of kept records, which stay in place
    for (const auto& [tick, record] : departed) {
        if (names.size() < maxDepartedRecords && names.insert(record->second.name).second) continue;
        states_.erase(record);
    }
}

std::vector<MIDISource> ClockInput::sources() const {
    std::vector<MIDISource> list;
    for (const SourceKey key : service_->sources()) {
        auto name = service_->displayName(key);
        list.push_back({key, name && !name->empty() ? canonicalText(*name) : fallbackName});
    }
    list.push_back({service_->virtualDestination(), virtualPortName});
    return list;
}

void ClockInput::handle(MidiPacketList list, SourceKey key) {
    const std::uint64_t arrivalHost = clock_();
    std::lock_guard guard(lock_);
    if (list.empty()) return;

    const double arrival = static_cast<double>(arrivalHost) * secondsPerHostTick;
    const auto found = states_.find(key);
    SourceState* record = found != states_.end() ? &found->second : nullptr;
    // The analyzer changes only through events, and any event stores the
    // record, so events go straight into it; only the parser needs a working
    // copy, kept when the list yields an event.
    ClockParser parser = record ? record->parser : ClockParser{};
    bool yielded = false;

    for (const MidiPacket& packet : list) {
        std::optional<double> time;
        parser.feed(packet.bytes, [&](const ClockEvent& event) {
            if (!time) {
                time = arrival;
                if (packet.timeStamp != 0) {
                    const double stamped = static_cast<double>(packet.timeStamp) * secondsPerHostTick;
                    if (std::fabs(stamped - arrival) < 1.0) time = stamped;
                }
            }
            if (!record) {
                std::string name;
                if (key == service_->virtualDestination()) {
                    name = virtualPortName;
                } else {
                    auto shown = service_->displayName(key);
                    name = shown && !shown->empty() ? canonicalText(*shown) : fallbackName;
                }
                // Element addresses of an unordered_map survive later inserts.
                record = &states_.emplace(key, SourceState{std::move(name), {}, {}, nullptr}).first->second;
            }
            // Once per record, or when a departed source comes back under its key.
            if (!record->history) record->history = std::make_unique<ClockHistory>();
            const ClockHistory::Before before{record->analyzer.ticks.size(), !isReceiving(record->analyzer, *time)};
            record->analyzer.apply(event, *time);
            record->history->note(event, *time, before, record->analyzer, sequence_);
            yielded = true;
        });
    }
    if (yielded) record->parser = parser;
}

bool ClockInput::isReceiving(const ClockAnalyzer& analyzer, double now) {
    if (!analyzer.lastTick) return false;
    double window = 1.0; // seconds
    if (analyzer.interval) {
        const double eightTicks = *analyzer.interval * 8;
        window = (eightTicks < 0.25 || std::isnan(eightTicks)) ? 0.25 : std::min(eightTicks, 1.0);
    }
    return now - *analyzer.lastTick < window; // false for NaN
}

Readings ClockInput::readings() const {
    const double now = static_cast<double>(clock_()) * secondsPerHostTick;
    Readings result;
    {
        // Names and analyzers only: the histories are read apart, by history().
        std::lock_guard guard(lock_);
        result.reserve(states_.size());
        for (const auto& [key, state] : states_) result.emplace(key, ClockReading{state.name, state.analyzer, false});
    }
    for (auto& [key, reading] : result) reading.receiving = isReceiving(reading.analyzer, now);
    return result;
}

void ClockInput::history(SourceKey key, std::uint64_t since, ClockHistory::Slice& out) const {
    std::lock_guard guard(lock_);
    const auto found = states_.find(key);
    if (found != states_.end() && found->second.history) {
        found->second.history->copySince(since, out);
        // Entries of other sources up to now are of no interest to this reader either.
        out.latest = std::max(since, sequence_);
        return;
    }
    out.held = false;
    out.runStart = 0;
    out.ticks.clear();
    out.marks.clear();
    out.latest = std::max(since, sequence_);
    out.worstJitter.reset();
}

} // namespace tactimo
