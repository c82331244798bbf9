// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <span>

#include <alsa/asoundlib.h>

namespace tactimo {

// Turns sequencer events back into raw MIDI bytes. Every message comes out
// with its status byte: the decoder's running status is switched off, since
// the byte parser downstream has no use for it and would lose messages.
class AlsaEventDecoder {
public:
    AlsaEventDecoder();
    ~AlsaEventDecoder();
    AlsaEventDecoder(const AlsaEventDecoder&) = delete;
    AlsaEventDecoder& operator=(const AlsaEventDecoder&) = delete;

    // The bytes of one event; empty for events that are not MIDI (port
    // announcements, sequencer ticks), for messages too long to hold, which
    // are only ever system exclusive, and for events whose data lies in
    // another process. Valid until the next call.
    std::span<const std::uint8_t> decode(const snd_seq_event_t& event);

private:
    snd_midi_event_t* decoder_ = nullptr;
    std::array<std::uint8_t, 256> bytes_{};
};

} // namespace tactimo
