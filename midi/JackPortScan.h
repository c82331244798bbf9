// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "JackBridge.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <jack/jack.h>

namespace tactimo {

// One look at the MIDI ports of the other clients of a JACK server, each
// recognised once as a bridge of a device or not. Local lookups only, no
// round trip to the server.
struct JackPortScan {
    struct Port {
        std::string name; // full JACK name
        std::uint64_t uuid = 0;
        bool output = false; // a source: it sends
        std::optional<JackBridge> bridge;
    };
    static std::vector<Port> take(jack_client_t* client);
};

} // namespace tactimo
