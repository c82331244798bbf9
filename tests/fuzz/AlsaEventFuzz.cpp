// Sequencer events of any kind (variable data behind the event, as alsa-lib
// hands it over), announcements, listings, lost-announcement resyncs, reads
// of the queue's time and subscriptions, through the path from an event to a
// packet. A key never stands for two addresses, the table stays bounded, and
// clock messages come out as exactly their bytes.
#include "Require.h"
#include "midi/AlsaEventDecoder.h"
#include "midi/AlsaMidiService.h"
#include "midi/AlsaQueueClock.h"
#include "midi/AlsaRouteGraph.h"
#include "midi/AlsaSourceTable.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <set>

using namespace tactimo;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int virtualPort = 1;

std::optional<Bytes> expectedBytes(const snd_seq_event_t& e) {
    switch (e.type) {
    case SND_SEQ_EVENT_CLOCK: return Bytes{0xF8};
    case SND_SEQ_EVENT_START: return Bytes{0xFA};
    case SND_SEQ_EVENT_CONTINUE: return Bytes{0xFB};
    case SND_SEQ_EVENT_STOP: return Bytes{0xFC};
    case SND_SEQ_EVENT_SONGPOS:
        return Bytes{0xF2, std::uint8_t(e.data.control.value & 0x7F), std::uint8_t((e.data.control.value >> 7) & 0x7F)};
    default: return std::nullopt;
    }
}

snd_seq_event_type_t someType(FuzzedDataProvider& in) {
    static constexpr snd_seq_event_type_t likely[] = {
        SND_SEQ_EVENT_CLOCK,        SND_SEQ_EVENT_START,           SND_SEQ_EVENT_CONTINUE,   SND_SEQ_EVENT_STOP,
        SND_SEQ_EVENT_SONGPOS,      SND_SEQ_EVENT_NOTEON,          SND_SEQ_EVENT_SYSEX,      SND_SEQ_EVENT_TICK,
        SND_SEQ_EVENT_CLIENT_START, SND_SEQ_EVENT_CLIENT_EXIT,     SND_SEQ_EVENT_PORT_START, SND_SEQ_EVENT_PORT_EXIT,
        SND_SEQ_EVENT_PORT_CHANGE,  SND_SEQ_EVENT_PORT_SUBSCRIBED, SND_SEQ_EVENT_CONTROL14,  SND_SEQ_EVENT_NONREGPARAM};
    if (in.ConsumeBool()) return in.PickValueInArray(likely);
    return in.ConsumeIntegral<std::uint8_t>();
}

AlsaSourceTable::Port somePort(FuzzedDataProvider& in) {
    return {{in.ConsumeIntegralInRange(0, 7) + 126, in.ConsumeIntegralInRange(0, 3)},
            in.ConsumeRandomLengthString(16),
            {in.ConsumeIntegralInRange(-1, 3), in.ConsumeIntegralInRange(-1, 1), in.ConsumeRandomLengthString(8)}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    AlsaEventDecoder decoder;
    AlsaSourceTable table;
    AlsaQueueClock clock;
    AlsaRouteGraph routes;
    routes.setOwnPorts({128, 0}, {128, virtualPort});
    std::map<SourceKey, std::pair<int, int>> addressOfKey;
    std::set<std::pair<int, int>> addresses;
    const auto sawKey = [&](SourceKey key, int client, int port) {
        require(key > virtualKey, "table keys lie above the virtual key");
        const auto [it, added] = addressOfKey.try_emplace(key, client, port);
        require(it->second == std::pair(client, port), "a key never stands for two addresses");
        addresses.emplace(client, port);
    };

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 10)) {
        case 0: { // a listing, perhaps stale
            const auto port = somePort(in);
            if (const auto key = table.keyForListed(port, in.ConsumeBool()))
                sawKey(*key, port.address.client, port.address.port);
            break;
        }
        case 1: {
            std::vector<AlsaSourceTable::Port> present(in.ConsumeIntegralInRange(0, 6));
            for (auto& p : present) p = somePort(in);
            table.resync(present);
            break;
        }
        case 2: {
            std::vector<hostClock::Bracket> reads(in.ConsumeIntegralInRange(0, 5));
            for (auto& r : reads)
                r = {in.ConsumeIntegral<std::uint64_t>(), in.ConsumeIntegral<std::uint64_t>(),
                     in.ConsumeIntegral<std::uint64_t>()};
            clock.calibrate(reads);
            break;
        }
        case 3: {
            const auto someWriters = [&] {
                std::set<AlsaRouteGraph::Address> writers;
                for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) writers.insert(somePort(in).address);
                return writers;
            };
            routes.clear();
            routes.addThru(somePort(in).address, someWriters());
            routes.setWriters({128, in.ConsumeBool() ? virtualPort : 0}, someWriters());
            break;
        }
        default: {
            snd_seq_event_t event{};
            event.type = someType(in);
            event.flags = in.ConsumeIntegral<std::uint8_t>();
            event.time.time = {in.ConsumeIntegral<unsigned>(), in.ConsumeIntegral<unsigned>()};
            event.source = in.ConsumeBool()
                               ? snd_seq_addr_t{SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE}
                               : snd_seq_addr_t{in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>()};
            const bool announce =
                event.source.client == SND_SEQ_CLIENT_SYSTEM && event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE;
            event.dest.client = in.ConsumeBool() ? 128 : in.ConsumeIntegral<std::uint8_t>();
            event.dest.port = in.ConsumeBool() ? virtualPort : in.ConsumeIntegral<std::uint8_t>();
            // Data of any other length type stays raw: a user pointer is never read.
            Bytes variable;
            if (snd_seq_ev_is_variable(&event)) {
                variable = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 600));
                event.data.ext.len = unsigned(variable.size());
                event.data.ext.ptr = variable.empty() ? nullptr : variable.data();
            } else {
                const Bytes raw = in.ConsumeBytes<std::uint8_t>(sizeof event.data);
                std::copy(raw.begin(), raw.end(), reinterpret_cast<std::uint8_t*>(&event.data));
            }
            const auto routed = AlsaMidiService::route(event, virtualPort, decoder, table, routes, clock);
            if (announce) {
                const bool change = event.type >= SND_SEQ_EVENT_CLIENT_START && event.type <= SND_SEQ_EVENT_PORT_EXIT &&
                                    event.type != SND_SEQ_EVENT_CLIENT_CHANGE;
                require(routed.setupChanged == change && !routed.key, "only comings and goings change the set-up");
                break;
            }
            require(!routed.setupChanged, "only the System announces");
            if (!routed.key) break;
            const Bytes out(routed.packet.bytes.begin(), routed.packet.bytes.end());
            require(!out.empty() && out.size() <= 256, "a packet holds one whole message");
            if (const auto expected = expectedBytes(event)) require(out == *expected, "clock messages come out exact");
            if (event.type == SND_SEQ_EVENT_SYSEX)
                require(snd_seq_ev_is_variable(&event) && out == variable, "only data copied in is read, whole");
            if (event.dest.port == virtualPort)
                require(*routed.key == virtualKey, "the public port's data under its own key");
            else
                sawKey(*routed.key, event.source.client, event.source.port);
            break;
        }
        }
        require(table.ledger().size() <= addresses.size() + AlsaSourceTable::Ledger::departedNames,
                "present addresses and a few departed names");
    }
    return 0;
}
