// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "SyncText.h"

#include "StatusText.h"

#include <cmath>

namespace tactimo {

namespace {

using State = ReferenceClock::Reading::State;
using Pairing = ClockComparison::Pairing;

std::string quoted(std::string_view name) {
    return "\xE2\x80\x9C" + std::string(name) + "\xE2\x80\x9D";
}

} // namespace

std::string SyncText::signedFixed(double value, int decimals) {
    std::string digits = StatusText::fixed(std::fabs(value), decimals);
    if (!std::isfinite(value)) return digits; // the dash
    if (digits.find_first_not_of("0.") == std::string::npos) return digits;
    return (value < 0 ? std::string(minus) : "+") + digits;
}

std::string SyncText::offset(double ms, const std::optional<double>& spreadMs) {
    std::string text = signedFixed(ms, 2) + " ms";
    if (spreadMs && std::isfinite(*spreadMs)) text += " " + StatusText::spread(spreadMs) + " ms";
    return text;
}

std::vector<SyncText::Figure> SyncText::figures(const ClockComparison& c) {
    std::vector<Figure> figures{
        {"Reference", StatusText::fixed(c.referenceBPM, 2) + " BPM"},
        {"Difference", signedFixed(c.bpmDifference, 2) + " BPM \xC2\xB7 " + signedFixed(c.ppm, 0) + " ppm"},
    };
    if (c.offsetMs) {
        const char* label = c.pairing == Pairing::position    ? "Offset"
                            : c.pairing == Pairing::tickPhase ? "Phase within a tick"
                                                              : "Phase within a beat";
        figures.push_back({label, offset(*c.offsetMs, c.spreadMs)});
    }
    figures.push_back({"Drift", signedFixed(c.driftMsPerMinute, 2) + " ms per minute"});
    return figures;
}

std::string SyncText::summary(const ClockComparison& comparison) {
    std::string line;
    for (Figure& f : figures(comparison)) {
        if (!f.label.empty() && f.label[0] >= 'A' && f.label[0] <= 'Z') f.label[0] = static_cast<char>(f.label[0] - 'A' + 'a');
        line += (line.empty() ? "" : ", ") + f.label + " " + f.value;
    }
    return line;
}

std::string SyncText::notice(const ReferenceClock::Reading& r, std::string_view reference) {
    switch (r.state) {
    case State::none: return "Compare the followed clock with another input or the Link session.";
    case State::followedSilent: return "Waiting for the followed clock.";
    case State::waiting:
        return reference == ReferenceClock::linkName ? "Waiting for the Link session."
                                                     : "Waiting for clock from " + quoted(reference) + ".";
    case State::followedItself: return quoted(reference) + " is the followed input: compare it with another one.";
    case State::linkOff: return "Turn Link on to compare with the Link session.";
    case State::noPeers: return "No Link peers.";
    case State::comparing: break;
    }
    if (!r.comparison) return {};
    const ClockComparison& c = *r.comparison;
    if (!c.offsetMs) return "Different tempos: the clocks drift apart, and have no offset.";
    if (c.pairing == Pairing::tickPhase)
        return "Only the phase within a tick is known: the clocks did not start together.";
    if (c.pairing == Pairing::beatPhase)
        return "Only the phase within a beat is known: the clock did not start on a bar of the session.";
    const std::string ms = StatusText::fixed(std::fabs(*c.offsetMs), 2);
    if (ms == "0.00") return "The beats fall with the reference's.";
    return "The beats fall " + ms + " ms " + (*c.offsetMs > 0 ? "after" : "before") + " the reference's.";
}

std::string SyncText::peers(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " peer" : " peers");
}

std::string SyncText::link(const std::optional<LinkTimeline>& session) {
    if (!session) return {};
    if (session->peers == 0) return "No Link peers";
    return StatusText::fixed(session->bpm, 2) + " BPM \xC2\xB7 " + peers(session->peers);
}

} // namespace tactimo
