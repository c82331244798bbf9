// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// tactimo-watch: the window's clock status as lines on standard output, for
// rigs without a screen and for scripts.

#include "ClockFollower.h"
#include "LineFormat.h"
#include "LocalTime.h"
#include "MainLoop.h"
#include "WatchOptions.h"

#include "core/ClockInput.h"
#include "core/HostClock.h"
#include "core/Version.h"
#include "link/LinkSession.h"
#include "midi/SystemMidiService.h"

#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace tactimo;
using namespace std::chrono_literals;

// Faster than the window's 1/30 s: lines follow their beat more closely.
constexpr auto refreshPeriod = 10ms;

// A descriptor 0 to 2 that was closed at start would be taken by the next
// file opened (a MIDI server's socket), and our output would go there. False
// when standard output was closed: then nobody reads what we would print.
bool keepStandardDescriptors() {
    const bool output = ::fcntl(STDOUT_FILENO, F_GETFD) >= 0;
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    return output;
}

double monotonicSeconds() {
    return static_cast<double>(hostClock::now()) * hostClock::secondsPerTick;
}

double lineTime(const WatchLine& line, double fallback) {
    if (const auto* status = std::get_if<StatusLine>(&line)) return status->time;
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto parsed = parseWatchOptions(args);
    if (const auto* error = std::get_if<ArgumentError>(&parsed)) {
        std::fprintf(stderr, "tactimo-watch: %s (see --help)\n", error->message.c_str());
        return 2;
    }
    const WatchOptions& options = std::get<WatchOptions>(parsed);
    if (!keepStandardDescriptors()) return 0;
    MainLoop loop;
    if (options.help) {
        loop.print(watchUsage.substr(0, watchUsage.size() - 1)); // print() ends the line
        return 0;
    }
    if (options.version) {
        loop.print(versionNotice("tactimo-watch"));
        return 0;
    }

    const LineFormat format = options.json ? LineFormat::json : LineFormat::text;
    ClockInput input(makeSystemMidiService(), loop.post());
    if (options.list) {
        for (const MIDISource& source : input.sources())
            if (!loop.print(formatSource(source, format))) break;
        return 0;
    }

    ClockFollower follower(options.input, options.signature,
                           options.ticks ? ClockFollower::Mode::ticks : ClockFollower::Mode::beats, options.compare);
    // Only when asked: Link announces us on every network interface.
    LinkSession link;
    if (options.link) link.setOn(true);
    loop.run(refreshPeriod, [&] {
        const Readings snapshot = input.readings();
        const double now = monotonicSeconds();
        for (const WatchLine& line : follower.refresh(snapshot, now, link.timeline())) {
            const double wall = wallSeconds(lineTime(line, now));
            const LocalTime when = localTime(static_cast<std::int64_t>(std::floor(wall * 1000.0)));
            if (!loop.print(formatLine(line, format, when))) return false;
        }
        return true;
    });
    return 0;
}
