// Sequencer events of any kind and listings of any ports through the path
// from an event to a packet: a key never stands for two addresses, the table
// stays bounded, a user pointer is never read, clock messages come out exact.
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    constexpr int virtualPort = 1;
    AlsaEventDecoder decoder;
    AlsaSourceTable table;
    AlsaQueueClock clock;
    AlsaRouteGraph routes;
    routes.setOwnPorts({128, 0}, {128, virtualPort});
    std::map<SourceKey, std::pair<int, int>> addressOfKey;
    std::set<std::pair<int, int>> addresses;
    const auto sawKey = [&](SourceKey key, int client, int port) {
        require(key > virtualKey, "table keys lie above the virtual key");
        require(addressOfKey.try_emplace(key, client, port).first->second == std::pair(client, port),
                "a key never stands for two addresses");
        addresses.emplace(client, port);
    };
    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange(0, 4) == 0) { // a listing, perhaps stale
            const AlsaSourceTable::Port port{
                {in.ConsumeIntegralInRange(126, 133), in.ConsumeIntegralInRange(0, 3)},
                in.ConsumeRandomLengthString(16),
                {in.ConsumeIntegralInRange(-1, 3), in.ConsumeIntegralInRange(-1, 1), in.ConsumeRandomLengthString(8)}};
            if (const auto key = table.keyForListed(port, in.ConsumeBool()))
                sawKey(*key, port.address.client, port.address.port);
            continue;
        }
        snd_seq_event_t event{};
        event.type = in.ConsumeBool()
                         ? in.PickValueInArray({SND_SEQ_EVENT_CLOCK, SND_SEQ_EVENT_START, SND_SEQ_EVENT_STOP,
                                                SND_SEQ_EVENT_CONTINUE, SND_SEQ_EVENT_SONGPOS, SND_SEQ_EVENT_SYSEX,
                                                SND_SEQ_EVENT_PORT_EXIT})
                         : in.ConsumeIntegral<std::uint8_t>();
        event.flags = in.ConsumeIntegral<std::uint8_t>();
        event.source = in.ConsumeBool()
                           ? snd_seq_addr_t{SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE}
                           : snd_seq_addr_t{in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>()};
        event.dest = {128, std::uint8_t(in.ConsumeBool() ? virtualPort : in.ConsumeIntegral<std::uint8_t>())};
        // Variable data behind the event, as alsa-lib hands it over; any other
        // length type leaves the data raw: a user pointer is never to be read.
        Bytes variable;
        if (snd_seq_ev_is_variable(&event)) {
            variable = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 600));
            event.data.ext = {unsigned(variable.size()), variable.empty() ? nullptr : variable.data()};
        } else {
            const Bytes raw = in.ConsumeBytes<std::uint8_t>(sizeof event.data);
            std::copy(raw.begin(), raw.end(), reinterpret_cast<std::uint8_t*>(&event.data));
        }
        const auto routed = AlsaMidiService::route(event, virtualPort, decoder, table, routes, clock);
        if (event.source.client == SND_SEQ_CLIENT_SYSTEM && event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
            require(!routed.key, "announcements are no MIDI");
        } else if (routed.key) {
            require(!routed.setupChanged, "only the System announces");
            const Bytes out(routed.packet.bytes.begin(), routed.packet.bytes.end());
            require(!out.empty() && out.size() <= 256, "a packet holds one whole message");
            static const std::map<int, Bytes> exact{{SND_SEQ_EVENT_CLOCK, {0xF8}},
                                                    {SND_SEQ_EVENT_START, {0xFA}},
                                                    {SND_SEQ_EVENT_CONTINUE, {0xFB}},
                                                    {SND_SEQ_EVENT_STOP, {0xFC}}};
            if (exact.contains(event.type)) require(out == exact.at(event.type), "clock messages come out exact");
            if (event.type == SND_SEQ_EVENT_SONGPOS)
                require(out.size() == 3 && out[0] == 0xF2 &&
                            out[1] + 128 * out[2] == (event.data.control.value & 0x3FFF),
                        "positions");
            if (event.type == SND_SEQ_EVENT_SYSEX) require(out == variable, "only data copied in is read, whole");
            if (event.dest.port == virtualPort)
                require(*routed.key == virtualKey, "the public port's data under its own key");
            else
                sawKey(*routed.key, event.source.client, event.source.port);
        }
        require(table.ledger().size() <= addresses.size() + AlsaSourceTable::Ledger::departedNames,
                "present addresses and a few departed names");
    }
    return 0;
}
