// The JACK backend's record ring with arbitrary bytes written around its
// writer, lists through the writer, and reads between. Lists read are
// well-formed; those written while no garbage stood in the ring come back
// exactly and in order; reading and writing allocate nothing.
#include "Require.h"
#include "midi/PacketListRing.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/allocator_interface.h>

#include <array>
#include <deque>
#include <memory>

using tactimo::PacketListRing;

namespace {

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

using List = std::pair<std::uint32_t, std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>>;

} // namespace

// A copy of a list read: a packet or more, in one record no larger than the largest.
List checked(const PacketListRing::List& got) {
    List list{got.key, {}};
    std::size_t bytes = PacketListRing::listHeaderBytes;
    for (const auto& p : got.packets) {
        list.second.emplace_back(p.timeStamp, std::vector(p.bytes.begin(), p.bytes.end()));
        bytes += PacketListRing::packetHeaderBytes + p.bytes.size();
    }
    require(!list.second.empty() && bytes <= PacketListRing::maxRecordBytes, "a record as the writer makes one");
    return list;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks([](const volatile void*, std::size_t) { allocations += watching; },
                                              [](const volatile void*) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // 64 bytes to 4 KiB, so that records wrap often and some do not fit.
    static std::array<std::unique_ptr<PacketListRing>, 7> rings;
    auto& ring = rings[in.ConsumeIntegralInRange<std::size_t>(0, rings.size() - 1)];
    if (!ring) ring = std::make_unique<PacketListRing>(std::size_t{64} << (&ring - rings.data()));
    jack_ringbuffer_reset(ring->raw());
    std::deque<List> expected;
    bool garbage = false; // written since the reader last drained the ring
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
        case 0: // garbage in pieces, each moving the write pointer
            for (int pieces = in.ConsumeIntegralInRange(1, 4); pieces > 0; --pieces) {
                const auto bytes = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
                garbage |= jack_ringbuffer_write(ring->raw(), bytes.data(), bytes.size()) > 0;
            }
            break;
        case 1: { // a list through the writer
            List list{in.ConsumeIntegral<std::uint32_t>(), {}};
            for (int packets = in.ConsumeIntegralInRange(1, 8); packets > 0; --packets)
                list.second.emplace_back(in.ConsumeIntegral<std::uint64_t>(),
                                         in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300)));
            std::size_t fitted = 0;
            const bool committed = unallocating([&] {
                ring->begin(list.first);
                for (const auto& [stamp, bytes] : list.second) {
                    if (!ring->add(stamp, bytes.data(), bytes.size())) break;
                    ++fitted;
                }
                return ring->commit();
            });
            require(committed == (fitted > 0), "a list goes in when a packet fits");
            list.second.resize(fitted);
            if (committed && !garbage) expected.push_back(std::move(list));
            break;
        }
        default: drain();
        }
    }
    drain();
    return 0;
}
