// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Any sequencer event from any address to a packet: one address per key, a bounded table, only its own data read.
#include "Require.h"
#include "midi/AlsaEventDecoder.h"
#include "midi/AlsaMidiService.h"

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
    while (in.remaining_bytes() > 0) {
        snd_seq_event_t event{};
        event.type = in.ConsumeBool()
                         ? in.PickValueInArray({SND_SEQ_EVENT_CLOCK, SND_SEQ_EVENT_SONGPOS, SND_SEQ_EVENT_SYSEX,
                                                SND_SEQ_EVENT_PORT_START, SND_SEQ_EVENT_PORT_EXIT})
                         : in.ConsumeIntegral<std::uint8_t>();
        event.flags = in.ConsumeIntegral<std::uint8_t>();
        event.source = in.ConsumeBool() ? snd_seq_addr_t{SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE}
                                        : snd_seq_addr_t{in.ConsumeIntegralInRange<std::uint8_t>(126, 133),
                                                         in.ConsumeIntegral<std::uint8_t>()};
        event.dest = {128, std::uint8_t(in.ConsumeBool() ? virtualPort : in.ConsumeIntegral<std::uint8_t>())};
        // Variable data behind the event, as alsa-lib has it; a user pointer is never to be read.
        Bytes variable;
        if (snd_seq_ev_is_variable(&event)) {
            variable = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 600));
            event.data.ext = {unsigned(variable.size()), variable.empty() ? nullptr : variable.data()};
        } else {
            const Bytes raw = in.ConsumeBytes<std::uint8_t>(sizeof event.data);
            std::copy(raw.begin(), raw.end(), reinterpret_cast<std::uint8_t*>(&event.data));
        }
        const auto routed = AlsaMidiService::route(event, virtualPort, decoder, table, routes, clock);
        if (!routed.key) continue;
        const Bytes out(routed.packet.bytes.begin(), routed.packet.bytes.end());
        require(!out.empty() && out.size() <= 256, "a packet holds one whole message");
        if (event.type == SND_SEQ_EVENT_SYSEX) require(out == variable, "system exclusive comes out whole");
        if (event.dest.port == virtualPort) {
            require(*routed.key == virtualKey, "the public port's data under its own key");
            continue;
        }
        const std::pair<int, int> address(event.source.client, event.source.port);
        require(*routed.key > virtualKey, "table keys lie above the virtual key");
        require(addressOfKey.try_emplace(*routed.key, address).first->second == address, "one address per key");
        addresses.insert(address);
        require(table.ledger().size() <= addresses.size() + AlsaSourceTable::Ledger::departedNames,
                "present addresses and a few departed names");
    }
    return 0;
}
