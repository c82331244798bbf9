// Which copies of a sender's events are mirrors, without the kernel: the
// subscriptions that the announcements tell, in the order they tell them.

#include "midi/AlsaRouteGraph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Designated initializers zero the sequencer's C structs; no need to name every field.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tactimo {
namespace {

using Address = AlsaRouteGraph::Address;

// We are client 130: input port 0, public port 1. The kernel's thru port is
// 14:0; senders are 128:0 and 129:0; 131:0 is a sender we do not read.
constexpr Address input{130, 0}, publicPort{130, 1}, thru{14, 0}, a{128, 0}, b{129, 0}, unread{131, 0};

snd_seq_event_t subscription(bool made, Address sender, Address dest) {
    snd_seq_event_t event{
        .type = snd_seq_event_type_t(made ? SND_SEQ_EVENT_PORT_SUBSCRIBED : SND_SEQ_EVENT_PORT_UNSUBSCRIBED)};
    event.data.connect.sender = {std::uint8_t(sender.client), std::uint8_t(sender.port)};
    event.data.connect.dest = {std::uint8_t(dest.client), std::uint8_t(dest.port)};
    return event;
}

snd_seq_event_t departure(snd_seq_event_type_t type, Address who) {
    return {.type = type, .data = {.addr = {std::uint8_t(who.client), std::uint8_t(who.port)}}};
}

TEST(AlsaRouteGraph, OnlyTheKernelsThruClientPassesEventsOn) {
    constexpr unsigned duplex =
        SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_SUBS_WRITE;
    EXPECT_TRUE(AlsaRouteGraph::isThru(true, -1, duplex)) << "Midi Through";
    EXPECT_FALSE(AlsaRouteGraph::isThru(true, 1, duplex)) << "a USB device's port: its own data";
    EXPECT_FALSE(AlsaRouteGraph::isThru(false, -1, duplex)) << "a program's duplex port";
    EXPECT_FALSE(AlsaRouteGraph::isThru(true, -1, SND_SEQ_PORT_CAP_READ)) << "a kernel timer's port";
}

// Steps applied in turn; after each, which copies are mirrors.
TEST(AlsaRouteGraph, ACopyIsAMirrorWhileItsSenderReachesUsDirectly) {
    AlsaRouteGraph graph;
    graph.setOwnPorts(input, publicPort);
    graph.setWriters(input, {a, thru}); // we read a and the thru port
    graph.addThru(thru, {});
    struct Step {
        const char* what;
        std::vector<snd_seq_event_t> announcements;
        bool fromAtPublic, fromThru, fromBAtPublic;
    };
    const Step steps[] = {
        {"nothing routed to us twice", {}, false, false, false},
        {"a routed to our public port too", {subscription(true, a, publicPort)}, true, false, false},
        // b is not read directly (yet): what it sends to our public port is its only path.
        {"b routed to our public port only", {subscription(true, b, publicPort)}, true, false, false},
        {"b read directly too", {subscription(true, b, input)}, true, false, true},
        {"a into the thru port", {subscription(true, a, thru)}, true, true, true},
        {"another sender into the thru port, not read directly", {subscription(true, unread, thru)}, true, false, true},
        {"that one left", {departure(SND_SEQ_EVENT_CLIENT_EXIT, unread)}, true, true, true},
        {"the thru port fed back into itself", {subscription(true, thru, thru)}, true, true, true},
        {"a out of the thru port: only the loop left", {subscription(false, a, thru)}, true, false, true},
        {"a's port left", {departure(SND_SEQ_EVENT_PORT_EXIT, a)}, false, false, true},
        {"b no longer read directly", {subscription(false, b, input)}, false, false, false},
    };
    for (const Step& step : steps) {
        for (const snd_seq_event_t& event : step.announcements) graph.onAnnounce(event);
        EXPECT_EQ(graph.mirrored(a, publicPort), step.fromAtPublic) << step.what;
        EXPECT_EQ(graph.mirrored(thru, input), step.fromThru) << step.what;
        EXPECT_EQ(graph.mirrored(b, publicPort), step.fromBAtPublic) << step.what;
        // What arrives at our input port from a sender itself is always read.
        EXPECT_FALSE(graph.mirrored(a, input)) << step.what;
    }
}

TEST(AlsaRouteGraph, SubscriptionsElsewhereAndDirectSendsLeaveNoMirror) {
    AlsaRouteGraph graph;
    graph.setOwnPorts(input, publicPort);
    graph.setWriters(input, {a, thru});
    // A port like the thru port that the graph was not told of, and a
    // subscription between two other ports.
    graph.onAnnounce(subscription(true, a, {15, 0}));
    graph.onAnnounce(subscription(true, a, {140, 0}));
    EXPECT_FALSE(graph.mirrored({15, 0}, input));
    // Sent straight to our public port, unsubscribed: its only path.
    EXPECT_FALSE(graph.mirrored(a, publicPort));
    // Forgotten on clear, until seeded again.
    graph.onAnnounce(subscription(true, a, publicPort));
    graph.clear();
    EXPECT_FALSE(graph.mirrored(a, publicPort));
}

} // namespace
} // namespace tactimo
