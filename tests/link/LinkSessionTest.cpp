// Tactimo's Link session against a peer of the test's own, in a private network.
#include "link/LinkSession.h"
#include "support/PrivateNetwork.h"

#include <ableton/Link.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class LinkSessionTest : public testing::Test {
protected:
    void SetUp() override {
        if (!tactimo::test::onlyLoopback()) GTEST_SKIP() << "Link runs only inside private-network.sh";
    }
    // Refreshes as the window does until the session shows the tempo (to
    // 0.01 BPM), peers and play state; every snapshot on the way is finite.
    bool shows(double bpm, std::size_t peers, std::optional<bool> playing = false, std::chrono::seconds limit = 5s) {
        for (const auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(33ms)) {
            const auto t = session.timeline();
            EXPECT_TRUE(t && std::isfinite(t->bpm) && std::isfinite(t->beatAtOrigin) && std::isfinite(t->originTime));
            if (t && std::abs(t->bpm - bpm) < 0.01 && t->peers == peers && playing.value_or(t->playing) == t->playing)
                return true;
        }
        return false;
    }
    tactimo::LinkSession session;
};

int openSockets() {
    int n = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        n += std::filesystem::read_symlink(fd.path()).string().starts_with("socket:");
    return n;
}

// Sockets only while on; the peer's tempo (to 0.01 BPM), beat line and play state.
TEST_F(LinkSessionTest, FollowsAPeerOnlyWhileOn) {
    EXPECT_FALSE(session.timeline());
    ASSERT_TRUE(session.setOn(true));
    // Alone past Link's margin between sessions' ages: joining us, the peer would take our tempo.
    std::this_thread::sleep_for(600ms);
    EXPECT_GT(openSockets(), 0);
    {
        ableton::BasicLink<ableton::platforms::linux::ClockMonotonic> peer(133.3);
        peer.enableStartStopSync(true);
        peer.enable(true);
        ASSERT_TRUE(shows(133.3, 1)) << "bpm " << session.timeline()->bpm << ", peers " << session.timeline()->peers;
        const auto now = peer.clock().micros();
        auto state = peer.captureAppSessionState();
        const double beat = session.timeline()->beatAt(double(now.count()) * 1e-6);
        EXPECT_NEAR(std::remainder(beat - state.phaseAtTime(now, 4), 4), 0, 0.01) << beat;
        const auto sent = Clock::now();
        state.setTempo(140.25, now);
        state.setIsPlaying(true, now);
        peer.commitAppSessionState(state);
        ASSERT_TRUE(shows(140.25, 1, true));
        EXPECT_LT(Clock::now() - sent, 1s);
        // Link keeps a joiner's play state until the session next starts or stops.
        EXPECT_FALSE(session.setOn(false));
        ASSERT_TRUE(session.setOn(true));
        EXPECT_TRUE(shows(140.25, 1, std::nullopt));
    }
    EXPECT_FALSE(session.setOn(false));
    EXPECT_EQ(openSockets(), 0);
    EXPECT_FALSE(session.timeline());
}

} // namespace
