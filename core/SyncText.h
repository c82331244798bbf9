// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockComparison.h"
#include "LinkTimeline.h"
#include "ReferenceClock.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tactimo {

// The words and numbers of a comparison and of the Link session, for the
// window's Sync section and tactimo-watch alike; numbers as StatusText
// prints them.
class SyncText {
public:
    static constexpr std::string_view minus = "\xE2\x88\x92"; // −

    // A figure whose sign is a direction: "+7.80", "−0.25"; "0.00" when it
    // rounds to nothing.
    static std::string signedFixed(double value, int decimals);
    // "+7.80 ms ±0.30 ms", the spread left out while unknown.
    static std::string offset(double ms, const std::optional<double>& spreadMs);

    struct Figure {
        std::string label;
        std::string value;
        friend bool operator==(const Figure&, const Figure&) = default;
    };
    // The comparison's figures in the order shown: the reference's tempo,
    // the difference, the offset (named for its pairing) and the drift.
    static std::vector<Figure> figures(const ClockComparison& comparison);
    // The figures on one line, for tactimo-watch: "reference 120.00 BPM,
    // difference ..., offset ..., drift ...".
    static std::string summary(const ClockComparison& comparison);
    // One sentence: how to read the figures, or why there are none.
    // reference: its name as chosen.
    static std::string notice(const ReferenceClock::Reading& reading, std::string_view reference);

    // The session: "120.00 BPM · 2 peers", or "No Link peers" while alone;
    // empty while Link is off.
    static std::string link(const std::optional<LinkTimeline>& session);
    static std::string peers(std::size_t count); // "1 peer", "2 peers"
};

} // namespace tactimo
