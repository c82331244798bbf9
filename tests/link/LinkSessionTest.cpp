// Tactimo's Link session against a peer, and against a node that sends what a peer should not.
#include "link/LinkSession.h"
#include "support/PrivateNetwork.h"

#include <ableton/Link.hpp>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace link = ableton::link;
namespace v1 = ableton::discovery::v1;

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

TEST_F(LinkSessionTest, OpensSocketsOnlyWhileOn) {
    EXPECT_EQ(openSockets(), 0);
    EXPECT_FALSE(session.timeline());
    ASSERT_TRUE(session.setOn(true));
    for (const auto end = Clock::now() + 2s; openSockets() == 0 && Clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    EXPECT_GT(openSockets(), 0);
    EXPECT_FALSE(session.setOn(false));
    EXPECT_EQ(openSockets(), 0);
    EXPECT_FALSE(session.timeline());
}

TEST_F(LinkSessionTest, FollowsAPeer) {
    // Alone past Link's margin between sessions' ages: joining us, the peer would take our tempo.
    ASSERT_TRUE(session.setOn(true));
    std::this_thread::sleep_for(600ms);
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

// Overhears a session from a member's announcement, then claims to be in it.
struct Forger {
    Forger() {
        const int yes = 1;
        const timeval wait{.tv_sec = 2, .tv_usec = 0};
        ip_mreq group{.imr_multiaddr = to.sin_addr, .imr_interface = {htonl(INADDR_LOOPBACK)}};
        sockaddr_in any = to;
        any.sin_addr.s_addr = INADDR_ANY;
        ok = setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
             setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0 &&
             bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0 &&
             setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &group, sizeof group) == 0;
    }
    ~Forger() { close(fd); }

    std::optional<link::NodeState> overhear() {
        v1::MessageBuffer buffer;
        for (ssize_t n; (n = recv(fd, buffer.data(), buffer.size(), 0)) > 0;) {
            const auto [header, payload] = v1::parseMessageHeader<link::NodeId>(buffer.data(), buffer.data() + n);
            if (header.messageType == v1::kAlive)
                return link::NodeState::fromPayload(header.ident, payload, buffer.data() + n);
        }
        return std::nullopt;
    }
    // An alive message in the session with this timeline; a bye-bye for none.
    void say(std::optional<link::Timeline> timeline) {
        v1::MessageBuffer buffer;
        const auto end =
            timeline ? v1::aliveMessage(id, 5, toPayload(link::NodeState{id, session, *timeline, {}}), buffer.begin())
                     : v1::byeByeMessage(id, buffer.begin());
        sendto(fd, buffer.data(), std::size_t(end - buffer.begin()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }

    // Link's multicast group and port.
    const sockaddr_in to{
        .sin_family = AF_INET, .sin_port = htons(20808), .sin_addr = {htonl(0xE04C4E4B)}, .sin_zero = {}};
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    bool ok = false;
    link::NodeId id = link::NodeIdArray{'f', 'o', 'r', 'g', 'e', 'r', '!', '!'};
    link::SessionId session;
};

// Link keeps the timeline of the larger beat origin (each row's is larger) and
// holds tempos within 20 to 999 BPM; what it passes shows, finite.
TEST_F(LinkSessionTest, ShowsANodesNonsenseAsLinkPassesIt) {
    Forger forger;
    ASSERT_TRUE(forger.ok && session.setOn(true));
    const auto heard = forger.overhear();
    ASSERT_TRUE(heard);
    forger.session = heard->sessionId;
    const auto origin = heard->timeline.beatOrigin.microBeats(), time = heard->timeline.timeOrigin.count();
    const std::int64_t beat = 1000000; // µbeats
    const std::tuple<std::int64_t, std::int64_t, std::int64_t, double> rows[] = {
        {1, origin + 1000 * beat, time, 999},         // 60 million BPM
        {-500000, origin + 3000 * beat, time, 20},    // a negative tempo
        {600000, origin + 1000000 * beat, time, 100}, // a session a million beats on
        {500000, INT64_MAX, INT64_MIN, 120}};         // origins at the ends of time
    for (const auto& [microsPerBeat, beatOrigin, timeOrigin, shown] : rows) {
        forger.say(link::Timeline{link::Tempo{std::chrono::microseconds(microsPerBeat)}, link::Beats{beatOrigin},
                                  std::chrono::microseconds(timeOrigin)});
        EXPECT_TRUE(shows(shown, 1, false, 2s)) << microsPerBeat << ": bpm " << session.timeline()->bpm;
    }
    forger.say(std::nullopt);
    EXPECT_TRUE(shows(120, 0, false, 2s));
}

} // namespace
