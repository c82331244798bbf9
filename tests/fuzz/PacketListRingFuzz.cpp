// The JACK backend's record ring fed arbitrary bytes beside its own records:
// garbage written into the ring in arbitrary pieces, well-formed lists, and
// reads in between. Nothing crashes; reading and writing allocate nothing;
// every list read is well-formed; records written before any garbage come
// back exactly and in order, and so do those written once the reader has
// drained the ring.
#include "Require.h"
#include "midi/PacketListRing.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <vector>

using tactimo::PacketListRing;

namespace {

// Heap allocations by this thread while watched.
thread_local bool watching = false;
thread_local std::size_t allocations = 0;

template <typename Work>
auto unallocating(Work work) {
    allocations = 0;
    watching = true;
    const auto result = work();
    watching = false;
    require(allocations == 0, "the ring allocates nothing");
    return result;
}

struct Packet {
    std::uint64_t timeStamp;
    std::vector<std::uint8_t> bytes;
    friend bool operator==(const Packet&, const Packet&) = default;
};
struct List {
    std::uint32_t key;
    std::vector<Packet> packets;
    friend bool operator==(const List&, const List&) = default;
};

// A copy of a list read, checked to be well-formed: a packet or more, its
// packets' bytes in one record no larger than the largest the writer makes.
List checked(const PacketListRing::List& got) {
    require(!got.packets.empty() && got.packets.size() <= PacketListRing::maxPackets, "1 to maxPackets packets");
    List list{got.key, {}};
    const std::uint8_t *low = nullptr, *high = nullptr;
    std::size_t bytes = PacketListRing::listHeaderBytes;
    for (const auto& p : got.packets) {
        list.packets.push_back({p.timeStamp, {p.bytes.begin(), p.bytes.end()}});
        bytes += PacketListRing::packetHeaderBytes + p.bytes.size();
        if (p.bytes.empty()) continue;
        low = low ? std::min(low, p.bytes.data()) : p.bytes.data();
        high = std::max(high, p.bytes.data() + p.bytes.size());
    }
    require(bytes <= PacketListRing::maxRecordBytes, "a record no larger than the largest");
    require(!low || std::size_t(high - low) <= PacketListRing::maxRecordBytes, "packet bytes within one record");
    return list;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks([](const volatile void*, std::size_t) { allocations += watching; },
                                              [](const volatile void*) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // 64 bytes to 4 KiB, so that records wrap often and some do not fit. One
    // ring per size for the whole run, drained by every input and reset here.
    static std::array<std::unique_ptr<PacketListRing>, 7> rings;
    auto& ring = rings[in.ConsumeIntegralInRange<std::size_t>(0, rings.size() - 1)];
    if (!ring) ring = std::make_unique<PacketListRing>(std::size_t{64} << (&ring - rings.data()));
    jack_ringbuffer_reset(ring->raw());
    std::deque<List> expected; // written while the ring held no garbage, not yet read
    bool garbage = false;      // written since the reader last drained the ring
    std::uint64_t rejected = ring->rejected();

    const auto drain = [&] {
        while (const auto got = unallocating([&] { return ring->read(); })) {
            const List list = checked(*got);
            require(expected.empty() ? garbage : list == expected.front(), "a record comes back as written");
            if (!expected.empty()) expected.pop_front();
        }
        require(expected.empty(), "every record written before garbage comes back");
        require(garbage || ring->rejected() == rejected, "nothing is rejected without garbage");
        garbage = false; // the reader stands at the writer's end
        rejected = ring->rejected();
    };
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: // garbage, in pieces, each moving the write pointer
            for (int pieces = in.ConsumeIntegralInRange(1, 4); pieces > 0; --pieces) {
                const auto bytes = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
                garbage |= jack_ringbuffer_write(ring->raw(), bytes.data(), bytes.size()) > 0;
            }
            break;
        case 1: { // a list through the writer
            List list{in.ConsumeIntegral<std::uint32_t>(), {}};
            for (int packets = in.ConsumeIntegralInRange(1, 8); packets > 0; --packets)
                list.packets.push_back({in.ConsumeIntegral<std::uint64_t>(),
                                        in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300))});
            std::size_t fitted = 0;
            const bool committed = unallocating([&] {
                ring->begin(list.key);
                while (fitted < list.packets.size() &&
                       ring->add(list.packets[fitted].timeStamp, list.packets[fitted].bytes.data(),
                                 list.packets[fitted].bytes.size()))
                    ++fitted;
                return ring->commit();
            });
            require(committed == (fitted > 0), "a list goes in when a packet fits");
            list.packets.resize(fitted);
            if (committed && !garbage) expected.push_back(std::move(list));
            break;
        }
        default: drain();
        }
    }
    drain();
    return 0;
}
