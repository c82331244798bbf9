// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "JackPortScan.h"

namespace tactimo {

namespace {

// A port's aliases. The buffers start empty: PipeWire's libjack counts the
// aliases it has but writes each in its own slot, leaving the other as it was.
std::vector<std::string> aliasesOf(const jack_port_t* port) {
    const auto size = static_cast<std::size_t>(jack_port_name_size());
    std::vector<char> first(size, '\0'), second(size, '\0');
    char* const slots[2] = {first.data(), second.data()};
    jack_port_get_aliases(port, slots);
    std::vector<std::string> aliases;
    for (char* slot : slots) {
        slot[size - 1] = '\0';
        if (*slot) aliases.emplace_back(slot);
    }
    return aliases;
}

} // namespace

std::vector<JackPortScan::Port> JackPortScan::take(jack_client_t* client) {
    std::vector<Port> ports;
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
    if (!names) return ports;
    for (const char** name = names; *name; ++name) {
        jack_port_t* port = jack_port_by_name(client, *name);
        if (!port || jack_port_is_mine(client, port)) continue;
        ports.push_back({*name, jack_port_uuid(port), (jack_port_flags(port) & JackPortIsOutput) != 0,
                         JackBridge::recognise(*name, aliasesOf(port))});
    }
    jack_free(names);
    return ports;
}

} // namespace tactimo
