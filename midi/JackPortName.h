// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tactimo {

// Names of our per-source JACK input ports, after the source each one
// carries ("from jack_midi_clock out"), so that a patchbay shows it. Source
// names come from other programs: what JACK or a patchbay might take for
// structure (':' separates client and port) or cannot show (control
// characters) becomes a space.
struct JackPortName {
    // The short port name for a source; at most maxBytes bytes, never empty.
    static std::string forSource(std::string_view sourceName, std::size_t maxBytes);
    // base, or base with " 2", " 3", ... that taken refuses, within maxBytes.
    static std::string unique(std::string_view base, std::size_t maxBytes,
                              const std::function<bool(std::string_view)>& taken);
};

} // namespace tactimo
