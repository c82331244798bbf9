// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "JackMirrors.h"

#include <algorithm>

namespace tactimo {

namespace {

// After the last thing connected to write to a port went, lists still on
// their way may carry its data; they are judged as before for this long.
constexpr auto mirrorGrace = std::chrono::milliseconds(250);

} // namespace

void JackMirrors::update(const std::vector<JackSourceTable::Source>& listed,
                         const std::vector<JackPortScan::Port>& ports, std::set<std::string> direct) {
    // The input that feeds each bridged thru device.
    std::map<std::string, std::string> thruFeeds;
    for (const JackPortScan::Port& port : ports)
        if (!port.output && port.bridge && !port.bridge->capture && port.bridge->thru)
            thruFeeds.emplace(port.bridge->device, port.name);
    std::map<SourceKey, std::string> thruInputs;
    for (const JackSourceTable::Source& source : listed)
        if (source.bridge && source.bridge->thru)
            if (const auto feed = thruFeeds.find(source.bridge->device); feed != thruFeeds.end())
                thruInputs.emplace(source.key, feed->second);

    std::lock_guard guard(lock_);
    direct_ = std::move(direct);
    thruInputs_ = std::move(thruInputs);
    std::erase_if(judged_,
                  [&](const auto& entry) { return entry.first != virtualKey && !thruInputs_.contains(entry.first); });
}

bool JackMirrors::mirrored(SourceKey key) {
    std::string feed; // the port whose writers decide, if not ours
    {
        std::lock_guard guard(lock_);
        if (key != virtualKey) {
            const auto thru = thruInputs_.find(key);
            if (thru == thruInputs_.end()) return false;
            feed = thru->second;
        }
    }
    const jack_port_t* port = key == virtualKey ? publicPort_ : jack_port_by_name(client_, feed.c_str());
    if (!port) return false;
    std::vector<std::string> writers;
    if (const char** peers = jack_port_get_all_connections(client_, port)) {
        for (const char** peer = peers; *peer; ++peer) writers.emplace_back(*peer);
        jack_free(peers);
    }
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard guard(lock_);
    Judged& last = judged_[key];
    if (writers.empty()) return last.mirror && now - last.at < mirrorGrace;
    last.mirror = std::ranges::all_of(writers, [&](const std::string& writer) { return direct_.contains(writer); });
    last.at = now;
    return last.mirror;
}

} // namespace tactimo
