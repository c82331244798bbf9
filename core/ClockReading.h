// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockAnalyzer.h"
#include "SourceKey.h"

#include <string>
#include <unordered_map>

namespace tactimo {

// A snapshot of one source; later intake does not change it.
struct ClockReading {
    std::string name;
    ClockAnalyzer analyzer;
    bool receiving = false; // clock ticks from this source are arriving now
};

using Readings = std::unordered_map<SourceKey, ClockReading>;

} // namespace tactimo
