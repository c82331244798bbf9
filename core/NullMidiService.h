// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "MidiService.h"

namespace tactimo {

// Stands in when no MIDI service can be had: nothing is listed or delivered,
// but the virtual destination still has its key.
class NullMidiService final : public MidiService {
public:
    void open(Receive, SetupChanged) override {}
    void close() override {}
    SourceKey virtualDestination() const override { return virtualKey; }
    std::vector<SourceKey> sources() const override { return {}; }
    std::optional<std::string> displayName(SourceKey) const override { return std::nullopt; }
    void connectAllSources() override {}
    bool reachable() const override { return false; }
};

} // namespace tactimo
