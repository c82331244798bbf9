// The receive path allocates only when a record is created: every later tick,
// transport message, restart, new run and tempo cut writes into storage it already has.
#include "core/ClockInput.h"
#include "support/AllocationCounter.h"
#include "support/ManualIntake.h"

#include <gtest/gtest.h>

using namespace tactimo;

TEST(ClockInputAllocation, KnownSourcesAllocateNothing) {
    test::ManualIntake intake({"A"});
    const SourceKey key = intake.keys.front();

    const std::uint8_t tick[] = {0xF8}, start[] = {0xFA}, stop[] = {0xFC}, pointer[] = {0xF2, 0x10, 0x00};
    const auto send = [&](std::span<const std::uint8_t> bytes, std::uint64_t after) {
        intake.now += after;
        const MidiPacket packet{0, bytes};
        intake.bus->send(key, MidiPacketList(&packet, 1));
    };
    send(tick, 0); // creates the record and its history

    const std::uint64_t before = allocationCount();
    for (int round = 0; round < 40; ++round) {
        send(start, 0);
        for (int k = 0; k < 200; ++k) send(tick, 20'000'000); // a full window
        for (int k = 0; k < 100; ++k) send(tick, 16'000'000); // a tempo cut
        send(tick, 100'000'000);                              // a gap restart
        send(stop, 0);
        send(pointer, 0);
        send(tick, 2'000'000'000); // a new run
    }
    for (std::size_t k = 0; k < ClockHistory::tickCapacity; ++k) send(tick, 20'000'000); // a full ring
    const std::uint64_t allocations = allocationCount() - before;

    ClockHistory::Slice slice;
    intake.input->history(key, 0, slice);
    EXPECT_EQ(slice.ticks.size(), ClockHistory::tickCapacity) << "the ticks did arrive";
    EXPECT_EQ(allocations, 0u);
}
