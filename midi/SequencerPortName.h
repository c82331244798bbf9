// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>

namespace tactimo {

// How a port of the ALSA sequencer is named, whether the sequencer backend
// lists it or a JACK bridge carries it. The names are the devices' and
// programs' own, unbounded: SourceNames makes them fit to show.
struct SequencerPortName {
    // As people know it: its port name, after its client's name only where
    // the port name does not begin with it already ("Midi Through Port-0",
    // "USB Drum MIDI 1", but "Synth:out").
    static std::string shown(std::string_view client, std::string_view port);
    // "client:port": the long form, for telling apart equal short ones.
    static std::string full(std::string_view client, std::string_view port);
};

} // namespace tactimo
