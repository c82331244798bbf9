// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "StatusText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace tactimo {

namespace {

std::string inMs(const std::optional<double>& ms) {
    return ms ? StatusText::spread(ms) + " ms" : std::string(StatusText::dash);
}

} // namespace

std::string StatusText::fixed(double value, int decimals) {
    if (!std::isfinite(value)) return std::string(dash);
    // to_chars rounds exactly like printf and never reads the locale.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed,
                                      std::clamp(decimals, 0, 17));
    if (result.ec != std::errc()) return std::string(dash);
    return std::string(buffer.data(), result.ptr);
}

std::string StatusText::fixed(const std::optional<double>& value, int decimals) {
    return value ? fixed(*value, decimals) : std::string(dash);
}

std::string StatusText::spread(const std::optional<double>& ms) {
    return ms && std::isfinite(*ms) ? "\xC2\xB1" + fixed(*ms, 2) : std::string(dash);
}

std::string_view StatusText::stateWord(ClockStatus::State state) {
    switch (state) {
    case ClockStatus::State::waiting: return "Waiting for clock";
    case ClockStatus::State::noClock: return "No clock";
    case ClockStatus::State::running: return "Clock running";
    case ClockStatus::State::playing: return "Playing";
    case ClockStatus::State::stopped: return "Stopped";
    }
    return "Waiting for clock";
}

std::string_view StatusText::serviceNotice(bool reachable) {
    return reachable ? "Listening on all MIDI inputs and the virtual port \xE2\x80\x9CTactimo\xE2\x80\x9D"
                     : "No MIDI service is running. Start JACK or load snd-seq (ALSA).";
}

std::string StatusText::tempo() const {
    return status_.bpm ? fixed(*status_.bpm, 1) : "\xE2\x80\x93 \xE2\x80\x93 \xE2\x80\x93";
}

std::string StatusText::detail() const {
    if (live()) return fixed(*status_.exactBPM, 2) + " BPM";
    return status_.bpm ? "Last tempo before the clock stopped" : " ";
}

std::string StatusText::jitter() const {
    return live() && status_.jitter ? "jitter " + inMs(status_.jitter) : std::string();
}

std::string StatusText::source() const {
    if (!status_.sourceName || status_.state == ClockStatus::State::waiting) return {};
    return "from " + *status_.sourceName;
}

std::string StatusText::hint() const {
    switch (status_.state) {
    case ClockStatus::State::waiting:
        return selection_.empty() ? "Send MIDI clock to any input of this computer, or to the virtual port from a DAW."
                                  : "Send MIDI clock to " + std::string(selection_) + ".";
    case ClockStatus::State::noClock:
        return "The clock stopped without a Stop message. The last tempo stays on screen.";
    case ClockStatus::State::running:
        return "The bar count starts at the next Start, Continue or Song Position from the sender.";
    case ClockStatus::State::stopped:
        return status_.receiving ? "The clock is still running; the tempo is live."
                                 : "The sender stopped its clock too.";
    case ClockStatus::State::playing: return " ";
    }
    return {};
}

std::string StatusText::warning() const {
    if (status_.otherSources.empty()) return {};
    std::string text = "Also receiving clock from ";
    for (std::size_t i = 0; i < status_.otherSources.size(); ++i) text += (i ? ", " : "") + status_.otherSources[i];
    return text + ". Choose an input to follow that one.";
}

std::string StatusText::jitterRange(const std::optional<double>& worst) const {
    return "jitter " + inMs(status_.receiving ? status_.jitter : std::nullopt) + " \xC2\xB7 worst " + inMs(worst);
}

} // namespace tactimo
