// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "AlsaEventDecoder.h"

namespace tactimo {

AlsaEventDecoder::AlsaEventDecoder() {
    if (snd_midi_event_new(bytes_.size(), &decoder_) == 0)
        snd_midi_event_no_status(decoder_, 1);
    else
        decoder_ = nullptr;
}

AlsaEventDecoder::~AlsaEventDecoder() {
    if (decoder_) snd_midi_event_free(decoder_);
}

std::span<const std::uint8_t> AlsaEventDecoder::decode(const snd_seq_event_t& event) {
    if (!decoder_) return {};
    // Variable-length data is ours to read only when the kernel copied it in
    // behind the event. Another client may send a "user pointer" event: the
    // kernel passes its pointer on untouched, an address in the sender's
    // process, and the decoder would copy from it.
    if (!snd_seq_ev_is_fixed(&event) && !snd_seq_ev_is_variable(&event)) return {};
    // The decoder takes a non-const pointer but only reads the event.
    const long n = snd_midi_event_decode(decoder_, reinterpret_cast<unsigned char*>(bytes_.data()), long(bytes_.size()),
                                         const_cast<snd_seq_event_t*>(&event));
    if (n <= 0) {
        snd_midi_event_reset_decode(decoder_);
        return {};
    }
    return {bytes_.data(), std::size_t(n)};
}

} // namespace tactimo
