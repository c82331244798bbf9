// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "LineFormat.h"

#include "TerminalText.h"

#include "core/StatusText.h"
#include "core/SyncText.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdio>

namespace tactimo {

namespace {

using Json = nlohmann::ordered_json; // fields in the order written

constexpr std::string_view dash = StatusText::dash;

// Pads to a width in terminal columns; the right edge lines up when right is set.
std::string padded(const std::string& text, std::size_t width, bool right = false) {
    const std::size_t columns = codePointCount(text);
    if (columns >= width) return text;
    const std::string fill(width - columns, ' ');
    return right ? fill + text : text + fill;
}

std::string shownName(const std::string& name) {
    return terminalText(name, maxShownName);
}

std::string_view stateKey(ClockStatus::State state) {
    switch (state) {
    case ClockStatus::State::waiting: return "waiting";
    case ClockStatus::State::noClock: return "noClock";
    case ClockStatus::State::running: return "running";
    case ClockStatus::State::playing: return "playing";
    case ClockStatus::State::stopped: return "stopped";
    }
    return "waiting";
}

// Rounded to a multiple of 1/scale, so that JSON shows no binary noise.
double rounded(double value, double scale) {
    return std::round(value * scale) / scale;
}

Json optionalNumber(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? Json(*value) : Json(nullptr);
}

std::string iso8601(const LocalTime& t) {
    std::array<char, 64> buffer{};
    const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
    std::snprintf(buffer.data(), buffer.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return buffer.data();
}

std::string clockTime(const LocalTime& t) {
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, t.millisecond);
    return buffer.data();
}

// The session's beat within its bar at t, in [0, 4); none while alone.
std::optional<double> linkBeat(const LinkTimeline& link, double t) {
    if (link.peers == 0) return std::nullopt;
    const double phase = link.phaseAt(t);
    return std::isfinite(phase) ? std::optional(phase) : std::nullopt;
}

std::string dumped(const Json& json) {
    // Names are valid UTF-8 once the core has them; anything else is replaced, never thrown at.
    return terminalJson(json.dump(-1, ' ', false, Json::error_handler_t::replace));
}

std::string text(const StatusLine& line, const LocalTime& when) {
    const ClockStatus& s = line.status;
    std::string out = clockTime(when);
    out += "  " + padded(std::string(StatusText::stateWord(s.state)), 17);
    out += "  " + padded(StatusText::fixed(s.bpm, 1), 5, true) + " BPM";
    out += "  " + padded(StatusText::fixed(s.exactBPM, 2), 6, true) + " BPM";
    out += "  " + padded(StatusText::spread(s.jitter), 5, true) + " ms";
    std::string position(dash);
    if (line.position)
        position = std::to_string(line.position->bar) + "." + std::to_string(line.position->beat) + "." +
                   std::to_string(line.position->sixteenth);
    out += "  " + padded(position, 9, true);
    out += "  " + (s.sourceName ? shownName(*s.sourceName) : std::string(dash));
    if (!s.otherSources.empty()) {
        out += "  also: ";
        const std::size_t shown = std::min(s.otherSources.size(), maxShownOthers);
        for (std::size_t i = 0; i < shown; ++i) out += (i ? ", " : "") + shownName(s.otherSources[i]);
        if (shown < s.otherSources.size()) out += " and " + std::to_string(s.otherSources.size() - shown) + " more";
    }
    if (line.compare)
        out += "  vs " + shownName(line.compare->name) + ": " +
               (line.compare->comparison ? SyncText::summary(*line.compare->comparison) : std::string(dash));
    if (line.link) {
        out += "  Link: " + SyncText::link(line.link);
        if (const auto beat = linkBeat(*line.link, line.time)) out += " \xC2\xB7 beat " + StatusText::fixed(*beat, 2);
    }
    return out;
}

std::string json(const StatusLine& line, const LocalTime& when) {
    const ClockStatus& s = line.status;
    Json j;
    j["time"] = iso8601(when);
    j["state"] = stateKey(s.state);
    j["receiving"] = s.receiving;
    j["bpm"] = optionalNumber(s.bpm);
    j["exactBPM"] = optionalNumber(s.exactBPM);
    j["settled"] = s.settled;
    j["jitter"] = optionalNumber(s.jitter);
    if (line.position)
        j["position"] = {
            {"bar", line.position->bar}, {"beat", line.position->beat}, {"sixteenth", line.position->sixteenth}};
    else
        j["position"] = nullptr;
    j["source"] = s.sourceName ? Json(shortenedText(*s.sourceName, maxShownName)) : Json(nullptr);
    j["otherSources"] = Json::array();
    for (const std::string& name : s.otherSources) j["otherSources"].push_back(shortenedText(name, maxShownName));
    if (line.compare) {
        const auto& c = line.compare->comparison;
        const auto ms = [&](std::optional<double> v) { return optionalNumber(v ? std::optional(rounded(*v, 1e3)) : v); };
        j["compare"] = {
            {"name", shortenedText(line.compare->name, maxShownName)},
            {"bpm", c ? optionalNumber(rounded(c->referenceBPM, 1e4)) : Json(nullptr)},
            {"offsetMs", c ? ms(c->offsetMs) : Json(nullptr)},
            {"spreadMs", c && c->offsetMs ? ms(c->spreadMs) : Json(nullptr)},
            {"driftMsPerMinute", c ? ms(c->driftMsPerMinute) : Json(nullptr)},
            {"paired", c && c->offsetMs ? Json(c->pairing == ClockComparison::Pairing::position) : Json(nullptr)},
        };
    }
    if (line.link) {
        const bool alone = line.link->peers == 0;
        const auto beat = linkBeat(*line.link, line.time);
        j["link"] = {
            {"bpm", alone ? Json(nullptr) : optionalNumber(rounded(line.link->bpm, 1e4))},
            {"peers", line.link->peers},
            {"beat", beat ? Json(rounded(*beat, 1e3)) : Json(nullptr)},
        };
    }
    return dumped(j);
}

} // namespace

std::string formatLine(const WatchLine& line, LineFormat format, const LocalTime& when) {
    const bool asJson = format == LineFormat::json;
    if (const auto* status = std::get_if<StatusLine>(&line)) return asJson ? json(*status, when) : text(*status, when);
    if (const auto* tick = std::get_if<TickLine>(&line)) {
        if (asJson) {
            Json j;
            j["time"] = rounded(tick->time, 1e9); // nanoseconds, the host clock's unit
            j["interval"] = tick->interval ? optionalNumber(rounded(*tick->interval * 1e3, 1e6)) : Json(nullptr);
            return dumped(j);
        }
        return StatusText::fixed(tick->time, 6) + "  " +
               padded(tick->interval ? StatusText::fixed(*tick->interval * 1e3, 3) : std::string(dash), 8, true) +
               " ms";
    }
    if (const auto* missed = std::get_if<MissedTicks>(&line)) {
        if (asJson) return dumped(Json{{"missed", missed->count}});
        return "# missed " + std::to_string(missed->count) + (missed->count == 1 ? " tick" : " ticks");
    }
    const auto& source = std::get<FollowedSource>(line);
    if (asJson) return dumped(Json{{"source", shortenedText(source.name, maxShownName)}});
    return "# ticks from " + shownName(source.name);
}

std::string formatSource(const MIDISource& source, LineFormat format) {
    if (format == LineFormat::json) return dumped(Json{{"name", shortenedText(source.name, maxShownName)}});
    return shownName(source.name);
}

} // namespace tactimo
