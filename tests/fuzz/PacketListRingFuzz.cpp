// The JACK backend's record ring fed arbitrary bytes beside its own records:
// garbage written into the ring in arbitrary pieces, well-formed lists, and
// reads in between.
//
// Invariants: nothing crashes; reading and writing allocate nothing; every
// list delivered is well-formed (at least one packet, its packets' bytes in
// one record no larger than the largest the writer makes); records written
// before any garbage come back exactly and in order; and once the reader has
// drained the ring, records written after garbage come back exactly too.
#include "midi/PacketListRing.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

namespace {

using tactimo::PacketListRing;

void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Heap allocations by this thread while watched.
thread_local bool watching = false;
thread_local std::size_t allocations = 0;

void onMalloc(const volatile void*, std::size_t) {
    if (watching) ++allocations;
}
void onFree(const volatile void*) {}

struct Watch {
    Watch() {
        allocations = 0;
        watching = true;
    }
    ~Watch() {
        watching = false;
        require(allocations == 0, "the ring allocates nothing");
    }
};

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

List copy(const PacketListRing::List& got) {
    List list{got.key, {}};
    for (const auto& p : got.packets) list.packets.push_back({p.timeStamp, {p.bytes.begin(), p.bytes.end()}});
    return list;
}

void checkWellFormed(const PacketListRing::List& list) {
    require(!list.packets.empty(), "a list has a packet");
    require(list.packets.size() <= PacketListRing::maxPackets, "no more packets than a record holds");
    const std::uint8_t* low = nullptr;
    const std::uint8_t* high = nullptr;
    std::size_t bytes = 0;
    for (const auto& p : list.packets) {
        bytes += p.bytes.size();
        if (p.bytes.empty()) continue;
        low = low ? std::min(low, p.bytes.data()) : p.bytes.data();
        high = std::max(high, p.bytes.data() + p.bytes.size());
    }
    const std::size_t headers =
        PacketListRing::listHeaderBytes + list.packets.size() * PacketListRing::packetHeaderBytes;
    require(headers + bytes <= PacketListRing::maxRecordBytes, "a record no larger than the largest");
    require(!low || std::size_t(high - low) <= PacketListRing::maxRecordBytes, "packet bytes within one record");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // 64 bytes to 4 KiB: records wrap often, and some do not fit at all.
    // One ring per size for the whole run; every input ends with the ring
    // drained, and starts it from its beginning.
    static std::array<std::unique_ptr<PacketListRing>, 7> rings;
    auto& ring = rings[in.ConsumeIntegralInRange<std::size_t>(0, rings.size() - 1)];
    if (!ring) ring = std::make_unique<PacketListRing>(std::size_t{64} << (&ring - rings.data()));
    jack_ringbuffer_reset(ring->raw());
    std::deque<List> expected; // written while the ring held no garbage, not yet read
    bool garbage = false;      // written since the reader last drained the ring
    std::uint64_t rejected = ring->rejected();

    const auto drain = [&] {
        for (;;) {
            std::optional<PacketListRing::List> got;
            {
                Watch watch;
                got = ring->read();
            }
            if (!got) break;
            checkWellFormed(*got);
            if (!expected.empty()) {
                // Records before the first garbage come first, untouched.
                require(copy(*got) == expected.front(), "a record comes back as written");
                expected.pop_front();
            } else {
                require(garbage, "nothing comes back that was not written");
            }
        }
        require(expected.empty(), "every record written before garbage comes back");
        require(garbage || ring->rejected() == rejected, "nothing is rejected without garbage");
        garbage = false; // drained: the reader stands at the writer's end
        rejected = ring->rejected();
    };

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: { // garbage, in pieces, each moving the write pointer
            const int pieces = in.ConsumeIntegralInRange(1, 4);
            for (int i = 0; i < pieces; ++i) {
                const auto bytes = in.ConsumeBytes<char>(in.ConsumeIntegralInRange<std::size_t>(0, 64));
                if (jack_ringbuffer_write(ring->raw(), bytes.data(), bytes.size()) > 0) garbage = true;
            }
            break;
        }
        case 1: { // a list through the writer
            List list{in.ConsumeIntegral<std::uint32_t>(), {}};
            const int packets = in.ConsumeIntegralInRange(1, 8);
            for (int i = 0; i < packets; ++i)
                list.packets.push_back({in.ConsumeIntegral<std::uint64_t>(),
                                        in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 300))});
            std::size_t fitted = 0;
            bool committed = false;
            {
                Watch watch;
                ring->begin(list.key);
                for (const Packet& p : list.packets) {
                    if (!ring->add(p.timeStamp, p.bytes.data(), p.bytes.size())) break;
                    ++fitted;
                }
                committed = ring->commit();
            }
            require(committed == (fitted > 0), "a list goes in when a packet fits");
            list.packets.resize(fitted);
            if (committed && !garbage) expected.push_back(std::move(list));
            break;
        }
        default: drain(); break;
        }
    }
    drain();
    return 0;
}
