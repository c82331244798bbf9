// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/TimeSignature.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace tactimo {

// The command line of tactimo-watch.
struct WatchOptions {
    std::string input; // the input to follow by name; empty follows all inputs
    TimeSignature signature;
    std::string compare; // the reference's name, "link" for the Link session; empty: none
    bool link = false;   // --link, or --compare link
    bool json = false;
    bool ticks = false;
    bool list = false;
    bool help = false;
    bool version = false;
};

// Why the command line was refused, as one line of text (arguments escaped).
struct ArgumentError {
    std::string message;
};

// args: the arguments after the program's name. Options may be repeated (the
// last one counts); a value follows its option or is joined to it by "=".
std::variant<WatchOptions, ArgumentError> parseWatchOptions(std::span<const std::string_view> args);

// "N/D" with N from 1 to 99 and D one of TimeSignature::denominators, in
// plain decimal digits; none for anything else.
std::optional<TimeSignature> parseTimeSignature(std::string_view text);

// The short help that --help prints.
extern const std::string watchUsage;

} // namespace tactimo
