// The system's service against a real JACK server that starts after it, goes
// away and comes back, as when a musician restarts JACK.

#include "core/ClockStatus.h"
#include "midi/SystemMidiService.h"
#include "support/ChildProcess.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>

namespace tactimo::test {
namespace {

// Stops the test server as a crash or a control panel would: at once, with
// clients connected. (The script's stop also starts it once more to tidy up.)
void killServer(const std::string& name) {
    const std::string dir =
        std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tactimo-jack-" + name;
    pid_t pid = 0;
    std::ifstream(dir + "/pid") >> pid;
    if (pid <= 0 || ::kill(pid, SIGTERM) != 0) return;
    for (int i = 0; i < 200 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(50ms);
}

TEST(SystemMidiServiceJack, AServerStartedLaterAndRestartedIsFollowedUnderNewKeys) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    ASSERT_NE(server, nullptr) << "run through ctest: it names the server";
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "the sequencer's own sources would be listed too";
    killServer(server); // the fixture's, if it still runs

    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    int changes = 0;
    input.onSourcesChanged = [&] { ++changes; };
    EXPECT_FALSE(input.serviceReachable());
    EXPECT_EQ(input.sources().size(), 1u);

    std::set<SourceKey> keys;
    std::optional<SourceKey> followed;
    ClockStatus status;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "started after us" : "restarted");
        ASSERT_EQ(run({JACK_SERVER_SCRIPT, "start", server}), 0);
        const auto up = std::chrono::steady_clock::now();
        // A sender in a process of its own, as on stage: it goes down with the server.
        ChildProcess sender({"jack_midi_clock", "-b", "120", "-B"}), transport({"jack_transport"});
        transport.say("play");
        const std::string port = "jack_midi_clock:mclk_out";
        std::optional<MIDISource> listed;
        const auto arrived = [&] {
            listed.reset();
            for (const MIDISource& s : input.sources())
                if (s.name == port) listed = s;
            const Readings readings = input.readings();
            return listed && readings.contains(listed->ref) && readings.at(listed->ref).receiving;
        };
        ASSERT_TRUE(pumpUntil(queue, arrived, 15s));
        const auto recovery = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - up);
        std::printf("server up to its sender's clock in readings(): %.0f ms\n", recovery.count());
        RecordProperty(round == 0 ? "first_start_ms" : "restart_ms", int(recovery.count()));

        EXPECT_TRUE(input.serviceReachable());
        EXPECT_TRUE(keys.insert(listed->ref).second) << "a key given before";
        // The name chosen before the restart follows the sender again on its new key.
        status = deriveStatus(input.readings(), listed->name, followed, status);
        EXPECT_EQ(followed, listed->ref);

        killServer(server);
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return input.sources().size() == 1 && !input.serviceReachable(); }, 10s));
        // The record stays, and stops receiving.
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return !input.readings().at(listed->ref).receiving; }, 3s));
    }
    // Once both are gone, the older record of the name can no longer be
    // followed and is let go; the newer one stays.
    const Readings left = input.readings();
    EXPECT_EQ(left.size(), 1u);
    EXPECT_TRUE(left.contains(*followed));
    EXPECT_GE(changes, 4);
}

} // namespace
} // namespace tactimo::test
