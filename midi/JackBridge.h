// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tactimo {

// A JACK port that carries a port of the machine's ALSA MIDI into the JACK
// graph, recognised by the exact names and aliases that each bridge gives it:
// - PipeWire's sequencer bridge: "Midi-Bridge:Midi Through:(capture_0) Midi
//   Through Port-0", aliases "alsa:seq:default:client_14:capture_0" and
//   "Midi Through:Midi Through Port-0";
// - a2jmidid: "a2j:Midi Through [14] (capture): Midi Through Port-0", or
//   without the client number when run with -u;
// - JACK2's sequencer driver (-X seq): "system:midi_capture_1", alias
//   "alsa_pcm:Midi-Through/midi_playback_1" (its capture ports are named
//   playback in the alias);
// - JACK2's raw MIDI drivers: "system:midi_capture_1" with the alias
//   "in-hw-1-0-0-USB-Drum-MIDI-1" (-X raw), or "system_midi:capture_1" with
//   "system:2-1 USB Drum 1 in" (-X alsarawmidi).
// Anything else is a JACK program's own port.
struct JackBridge {
    // The device port's name without bridge prefixes or client numbers, as
    // the sequencer backend lists it where the bridge tells enough for that.
    std::string name;
    // Its long form, "client:port"; empty where the bridge names only the
    // client, so that the port's JACK name must serve.
    std::string fullName;
    // The device port as the bridge tells it apart: the same for the port
    // that brings its data in and the one that sends to it.
    std::string device;
    bool capture = false; // brings the device's data in: a JACK output
    bool thru = false;    // the device is the kernel's MIDI thru port ("Midi Through")
    // JACK's raw MIDI drivers open the device for themselves, so that the
    // sequencer cannot read it meanwhile: then the bridge is its only path.
    bool exclusive = false;

    // portName: the port's full JACK name; aliases: its aliases, empty ones ignored.
    static std::optional<JackBridge> recognise(std::string_view portName, std::span<const std::string> aliases);
};

} // namespace tactimo
