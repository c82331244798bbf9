// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Tactimo's Link session against a peer of the test's own, in a private network.
#include "link/LinkSession.h"
#include "support/PrivateNetwork.h"

#include <ableton/Link.hpp>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int openSockets() {
    int n = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        n += std::filesystem::read_symlink(fd.path()).string().starts_with("socket:");
    return n;
}

// Sockets only while on; the peer's tempo (to 0.01 BPM), beat line and play state.
TEST(LinkSession, FollowsAPeerOnlyWhileOn) {
    if (!tactimo::test::onlyLoopback()) GTEST_SKIP() << "Link runs only inside private-network.sh";
    tactimo::LinkSession session;
    // Refreshed as the window does until it shows the tempo, one peer and the play state; every value finite.
    const auto shows = [&](double bpm, bool playing) {
        for (const auto end = Clock::now() + 5s; Clock::now() < end; std::this_thread::sleep_for(33ms)) {
            const auto t = session.timeline();
            EXPECT_TRUE(t && std::isfinite(t->bpm) && std::isfinite(t->beatAtOrigin) && std::isfinite(t->originTime));
            if (t && std::abs(t->bpm - bpm) < 0.01 && t->peers == 1 && t->playing == playing) return true;
        }
        return false;
    };
    EXPECT_FALSE(session.timeline());
    ASSERT_TRUE(session.setOn(true));
    // Alone past Link's margin between sessions' ages: joining us, the peer would take our tempo.
    std::this_thread::sleep_for(600ms);
    EXPECT_GT(openSockets(), 0);
    {
        ableton::BasicLink<ableton::platforms::linux::ClockMonotonic> peer(133.3);
        peer.enableStartStopSync(true);
        peer.enable(true);
        ASSERT_TRUE(shows(133.3, false)) << "bpm " << session.timeline()->bpm;
        const auto now = peer.clock().micros();
        auto state = peer.captureAppSessionState();
        const double beat = session.timeline()->beatAt(double(now.count()) * 1e-6); // on the same host clock
        EXPECT_NEAR(std::remainder(beat - state.phaseAtTime(now, 4), 4), 0, 0.01) << beat;
        state.setTempo(140.25, now), state.setIsPlaying(true, now);
        peer.commitAppSessionState(state);
        ASSERT_TRUE(shows(140.25, true));
    }
    EXPECT_FALSE(session.setOn(false));
    EXPECT_FALSE(session.timeline() || openSockets());
}
