// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "WatchOptions.h"

#include "TerminalText.h"

#include "core/ReferenceClock.h"

#include <algorithm>
#include <charconv>

namespace tactimo {

namespace {

// "N from 1 to 99 and D 1, 2, 4, 8 or 16", from the rule itself.
std::string signatureRule(std::string_view separator) {
    std::string denominators;
    const auto& all = TimeSignature::denominators;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) denominators += i + 1 == all.size() ? " or " : ", ";
        denominators += std::to_string(all[i]);
    }
    return "N from " + std::to_string(TimeSignature::minNumerator) + " to " +
           std::to_string(TimeSignature::maxNumerator) + std::string(separator) + "D " + denominators;
}

} // namespace

const std::string watchUsage =
    "Usage: tactimo-watch [--input NAME] [--compare NAME] [--link] [--signature N/D]\n"
    "                     [--json] [--ticks] [--list]\n"
    "Follows MIDI clock like the Tactimo window and prints a line on every beat\n"
    "and on every change of state, until Ctrl-C.\n"
    "\n"
    "  --input NAME     follow only the input of that name (default: all inputs)\n"
    "  --compare NAME   add the followed clock's offset, spread and drift against the\n"
    "                   input NAME, or against the Link session for link (which\n"
    "                   turns Link on)\n"
    "  --link           join the network's Link session as a listener and add its\n"
    "                   tempo, peers and beat (Link announces itself by UDP\n"
    "                   multicast on every network interface)\n"
    "  --signature N/D  time signature for bar.beat.sixteenth: " +
    signatureRule(",\n                   ") +
    " (default 4/4)\n"
    "  --json           print one JSON object per line\n"
    "  --ticks          print every clock tick instead: seconds of CLOCK_MONOTONIC\n"
    "                   and the interval to the previous tick in ms\n"
    "  --list           print the inputs and exit\n"
    "  --help           print this help and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Exit status: 0 when ended by Ctrl-C, SIGTERM or a closed output; 2 on a bad argument.\n";

namespace {

// Arguments come from whoever started us: shown escaped and shortened.
std::string quoted(std::string_view argument) {
    return "\"" + terminalText(argument, 64) + "\"";
}

std::optional<std::int64_t> decimal(std::string_view digits) {
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

} // namespace

std::optional<TimeSignature> parseTimeSignature(std::string_view text) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const auto numerator = decimal(text.substr(0, slash));
    const auto denominator = decimal(text.substr(slash + 1));
    if (!numerator || !denominator) return std::nullopt;
    // The window's range; out of it is a mistake to report, not to clamp.
    if (!TimeSignature::isNumerator(*numerator) || !TimeSignature::isDenominator(*denominator)) return std::nullopt;
    return TimeSignature{*numerator, *denominator};
}

std::variant<WatchOptions, ArgumentError> parseWatchOptions(std::span<const std::string_view> args) {
    WatchOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') return ArgumentError{"unexpected argument " + quoted(arg)};

        const auto equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        std::optional<std::string_view> joined;
        if (equals != std::string_view::npos) joined = arg.substr(equals + 1);

        // A value of its own, or the next argument unless that is an option.
        const auto value = [&]() -> std::optional<std::string_view> {
            if (joined) return joined;
            if (i + 1 < args.size() && !args[i + 1].starts_with("--")) return args[++i];
            return std::nullopt;
        };
        bool* flag = name == "--json"      ? &options.json
                     : name == "--ticks"   ? &options.ticks
                     : name == "--list"    ? &options.list
                     : name == "--help"    ? &options.help
                     : name == "--version" ? &options.version
                     : name == "--link"    ? &options.link
                                           : nullptr;
        if (flag) {
            if (joined) return ArgumentError{std::string(name) + " takes no value"};
            *flag = true;
            if (flag == &options.help || flag == &options.version) return options; // whatever follows
        } else if (name == "--input") {
            const auto v = value();
            if (!v) return ArgumentError{"--input needs a NAME"};
            options.input = std::string(*v);
        } else if (name == "--compare") {
            const auto v = value();
            if (!v || v->empty()) return ArgumentError{"--compare needs the NAME of an input, or link"};
            options.compare = std::string(*v);
            options.link = options.link || options.compare == ReferenceClock::linkName;
        } else if (name == "--signature") {
            const auto v = value();
            if (!v) return ArgumentError{"--signature needs N/D, for example 4/4"};
            const auto signature = parseTimeSignature(*v);
            if (!signature)
                return ArgumentError{"bad time signature " + quoted(*v) + ": N/D with " + signatureRule(" and ")};
            options.signature = *signature;
        } else {
            return ArgumentError{"unknown option " + quoted(arg)};
        }
    }
    return options;
}

} // namespace tactimo
