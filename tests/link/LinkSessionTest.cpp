// Tactimo's Link session against a peer of the test's own, and against a
// node that sends what a peer should not, inside private-network.sh.
#include "link/LinkSession.h"
#include "support/ChildProcess.h"
#include "support/PrivateNetwork.h"
#include "support/ProcessUsage.h"

#include <ableton/Link.hpp>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using tactimo::LinkSession;
using tactimo::LinkTimeline;
using Clock = std::chrono::steady_clock;
namespace link = ableton::link;
namespace v1 = ableton::discovery::v1;

// Refreshes as the window does until the session shows what `want` asks;
// every snapshot on the way must be finite.
template <typename Want>
std::optional<LinkTimeline> until(const LinkSession& session, Want want, std::chrono::milliseconds limit = 5s) {
    for (const auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(33ms)) {
        const auto t = session.timeline();
        if (!t) return std::nullopt;
        EXPECT_TRUE(std::isfinite(t->bpm) && std::isfinite(t->beatAtOrigin) && std::isfinite(t->originTime));
        if (want(*t)) return t;
    }
    return std::nullopt;
}

auto shows(double bpm, std::size_t peers, std::optional<bool> playing = false) {
    return [=](const LinkTimeline& t) {
        return std::abs(t.bpm - bpm) < 0.01 && t.peers == peers && playing.value_or(t.playing) == t.playing;
    };
}

class LinkSessionTest : public testing::Test {
protected:
    void SetUp() override {
        if (!tactimo::test::onlyLoopback()) GTEST_SKIP() << "Link runs only inside private-network.sh";
    }
    LinkSession session;
};

TEST_F(LinkSessionTest, OpensSocketsOnlyWhileOn) {
    EXPECT_EQ(tactimo::test::openSockets(), 0);
    EXPECT_FALSE(session.timeline());
    ASSERT_TRUE(session.setOn(true));
    for (const auto end = Clock::now() + 2s; tactimo::test::openSockets() == 0 && Clock::now() < end;) std::this_thread::sleep_for(10ms);
    EXPECT_GT(tactimo::test::openSockets(), 0);
    EXPECT_FALSE(session.setOn(false));
    EXPECT_EQ(tactimo::test::openSockets(), 0);
    EXPECT_FALSE(session.timeline());
}

TEST_F(LinkSessionTest, FollowsAPeer) {
    // Alone for longer than Link's margin between sessions' ages, so that the
    // peer would adopt our tempo if it joined us rather than we it.
    ASSERT_TRUE(session.setOn(true));
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(session.timeline()->peers, 0u);
    tactimo::test::ChildProcess peer({LINK_PEER, "133.3"}, true); // a session of its own until we meet
    ASSERT_EQ(peer.readLine(5s), "on");
    const auto joined = until(session, shows(133.3, 1));
    ASSERT_TRUE(joined) << "bpm " << session.timeline()->bpm << ", peers " << session.timeline()->peers;

    // The beat line is the peer's, on the same host clock.
    peer.say("?");
    std::istringstream answer(peer.readLine(2s));
    double micros = 0, phase = -1;
    ASSERT_TRUE(answer >> micros >> phase);
    const double beat = session.timeline()->beatAt(micros * 1e-6);
    const double apart = std::remainder(beat - phase, LinkTimeline::quantum);
    EXPECT_NEAR(apart, 0, 0.01) << "beat " << beat << ", the peer's phase " << phase;

    const auto sent = Clock::now();
    peer.say("140.25 1");
    ASSERT_TRUE(until(session, shows(140.25, 1, true)));
    EXPECT_LT(Clock::now() - sent, 1s);

    // Link leaves a joiner's play state as it was until the session next
    // starts or stops: only tempo and peers are back at once.
    EXPECT_FALSE(session.setOn(false));
    ASSERT_TRUE(session.setOn(true));
    EXPECT_TRUE(until(session, shows(140.25, 1, std::nullopt)));
}

// A node that speaks Link's discovery protocol with what the test gives it:
// it overhears a session from a member's announcement, then claims to be in it.
struct Forger {
    Forger() {
        const int yes = 1;
        sockaddr_in any{.sin_family = AF_INET, .sin_port = htons(20808), .sin_addr = {INADDR_ANY}, .sin_zero = {}};
        ip_mreq group{};
        inet_pton(AF_INET, "224.76.78.75", &group.imr_multiaddr);
        inet_pton(AF_INET, "127.0.0.1", &group.imr_interface);
        const timeval wait{.tv_sec = 2, .tv_usec = 0};
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
            if (header.messageType == v1::kAlive) return link::NodeState::fromPayload(header.ident, payload, buffer.data() + n);
        }
        return std::nullopt;
    }
    // An alive message in the session with this timeline; a bye-bye for none.
    void say(std::optional<link::Timeline> timeline) {
        v1::MessageBuffer buffer;
        const auto end = timeline ? v1::aliveMessage(id, 5, toPayload(link::NodeState{id, session, *timeline, {}}), buffer.begin())
                                  : v1::byeByeMessage(id, buffer.begin());
        sockaddr_in to{.sin_family = AF_INET, .sin_port = htons(20808), .sin_addr = {}, .sin_zero = {}};
        inet_pton(AF_INET, "224.76.78.75", &to.sin_addr);
        sendto(fd, buffer.data(), std::size_t(end - buffer.begin()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    bool ok = false;
    link::NodeId id = link::NodeIdArray{'f', 'o', 'r', 'g', 'e', 'r', '!', '!'};
    link::SessionId session;
};

// Alone, Tactimo holds a session of its own, which the forger claims to be
// in. Link keeps the timeline of the larger beat origin: each row's is larger
// than the last. Link holds tempos within 20 to 999 BPM; what it passes, the
// session shows, finite, and nothing stalls or crashes.
TEST_F(LinkSessionTest, ShowsANodesNonsenseAsLinkPassesIt) {
    Forger forger;
    ASSERT_TRUE(forger.ok && session.setOn(true));
    const auto heard = forger.overhear();
    ASSERT_TRUE(heard);
    forger.session = heard->sessionId;
    const auto origin = heard->timeline.beatOrigin.microBeats();
    const auto time = heard->timeline.timeOrigin.count();
    const std::int64_t beat = 1000000; // µbeats
    struct Row {
        const char* what;
        std::int64_t microsPerBeat, beatOrigin, timeOrigin;
        double shown;
    } rows[] = {
        {"60 million BPM", 1, origin + 1000 * beat, time, 999},
        {"a beat of no length", 0, origin + 2000 * beat, time, 999},
        {"a negative tempo", -500000, origin + 3000 * beat, time, 20},
        {"a session a million beats on", 600000, origin + 1000000 * beat, time, 100},
        {"origins at the ends of time", 500000, INT64_MAX, INT64_MIN, 120},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        forger.say(link::Timeline{link::Tempo{std::chrono::microseconds(row.microsPerBeat)},
                                  link::Beats{row.beatOrigin}, std::chrono::microseconds(row.timeOrigin)});
        EXPECT_TRUE(until(session, shows(row.shown, 1), 2s)) << "bpm " << session.timeline()->bpm;
    }
    forger.say(std::nullopt);
    EXPECT_TRUE(until(session, shows(120, 0), 2s));
}

} // namespace
