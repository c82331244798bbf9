// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockStatus.h"

#include <optional>
#include <string>
#include <string_view>

namespace tactimo {

// The words and numbers a person reads about the clock, written once for the
// window and the terminal. Numbers read as "%.Nf" prints them in the C locale,
// whatever the user's locale; a number that is missing is a dash.
class StatusText {
public:
    static constexpr std::string_view dash = "\xE2\x80\x93"; // –

    static std::string fixed(double value, int decimals);
    static std::string fixed(const std::optional<double>& value, int decimals);
    // A jitter in ms: "±0.37", or the dash.
    static std::string spread(const std::optional<double>& ms);
    static std::string_view stateWord(ClockStatus::State state);
    // Whether the window hears anything at all.
    static std::string_view serviceNotice(bool reachable);

    // selection: the input the user chose, empty for all inputs. Both must
    // outlive the text.
    explicit StatusText(const ClockStatus& status, std::string_view selection = {})
        : status_(status),
          selection_(selection) {}

    // The window's lines.
    std::string tempo() const;   // the large digits: "120.0", or "– – –"
    std::string detail() const;  // "120.04 BPM" while live, else why an old tempo stays
    std::string jitter() const;  // "jitter ±0.37 ms" while live, else empty
    std::string source() const;  // "from Drum Machine"; empty while waiting or unnamed
    std::string hint() const;    // what to do next
    std::string warning() const; // names the other senders; empty when there are none
    // The current jitter and the worst of the run (ms), both while known.
    std::string jitterRange(const std::optional<double>& worst) const;

private:
    bool live() const { return status_.receiving && status_.exactBPM; }

    const ClockStatus& status_;
    std::string_view selection_;
};

} // namespace tactimo
