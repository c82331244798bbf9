// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "LocalTime.h"
#include "WatchLine.h"

#include "core/MidiService.h"

#include <cstddef>
#include <string>

namespace tactimo {

// How lines are written: aligned columns for people, or one JSON object per line.
enum class LineFormat : std::uint8_t { text, json };

// Names longer than this many code points are shortened in the middle.
inline constexpr std::size_t maxShownName = 256;
// Text lines name at most this many other sources, then count the rest.
inline constexpr std::size_t maxShownOthers = 8;

// One line, without its newline. when: the line's moment on the local wall
// clock; only status lines show it. Whatever a name holds, the result is one
// line that shows no control character raw.
std::string formatLine(const WatchLine& line, LineFormat format, const LocalTime& when);

// One entry of the list of inputs.
std::string formatSource(const MIDISource& source, LineFormat format);

} // namespace tactimo
