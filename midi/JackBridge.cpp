// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "JackBridge.h"

#include "SequencerPortName.h"

#include <algorithm>
#include <cctype>

namespace tactimo {

namespace {

// The kernel's thru client (snd-seq-dummy).
constexpr std::string_view thruClient = "Midi Through";

bool digits(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
}

// Text up to the first separator, and the rest after it.
std::pair<std::string_view, std::string_view> split(std::string_view text, std::string_view separator) {
    const auto at = text.find(separator);
    if (at == std::string_view::npos) return {text, {}};
    return {text.substr(0, at), text.substr(at + separator.size())};
}

JackBridge make(std::string client, std::string port, std::string device, bool capture) {
    JackBridge bridge;
    bridge.name = SequencerPortName::shown(client, port);
    bridge.fullName = SequencerPortName::full(client, port);
    bridge.device = std::move(device);
    bridge.capture = capture;
    bridge.thru = client == thruClient;
    return bridge;
}

// PipeWire: "<node>:<group>:(capture_<n>) <port>" with the alias
// "alsa:seq:<seq>:client_<c>:capture_<n>" and often "<client>:<port>".
std::optional<JackBridge> pipeWire(std::string_view portName, std::span<const std::string> aliases) {
    for (const std::string& alias : aliases) {
        auto [prefix, rest] = split(alias, ":client_");
        if (!prefix.starts_with("alsa:seq:") || rest.empty()) continue;
        const auto [client, stream] = split(rest, ":");
        const bool capture = stream.starts_with("capture_");
        if (!digits(client) || !(capture || stream.starts_with("playback_"))) continue;
        const std::string_view index = stream.substr(capture ? 8 : 9);
        if (!digits(index)) continue;
        // The port's name follows the group "(capture_<n>) " in the JACK name.
        const std::string group = "(" + std::string(stream) + ") ";
        const auto at = portName.find(group);
        if (at == std::string_view::npos) continue;
        const std::string_view port = portName.substr(at + group.size());
        // The client's own name, where an alias gives "<client>:<port>".
        std::string_view clientName;
        for (const std::string& other : aliases) {
            const std::string suffix = ":" + std::string(port);
            if (&other != &alias && other.size() > suffix.size() && std::string_view(other).ends_with(suffix))
                clientName = std::string_view(other).substr(0, other.size() - suffix.size());
        }
        return make(std::string(clientName), std::string(port),
                    std::string(prefix) + ":client_" + std::string(client) + ":" + std::string(index), capture);
    }
    return std::nullopt;
}

// a2jmidid: "a2j:<client> [<c>] (capture): <port>", "[<c>] " left out with -u.
std::optional<JackBridge> a2j(std::string_view portName) {
    const auto [jackClient, rest] = split(portName, ":");
    if (jackClient != "a2j") return std::nullopt;
    for (const bool capture : {true, false}) {
        const auto [left, port] = split(rest, capture ? " (capture): " : " (playback): ");
        if (port.empty() || left == rest) continue;
        std::string_view client = left;
        if (client.ends_with("]")) {
            const auto open = client.rfind(" [");
            if (open == std::string_view::npos || !digits(client.substr(open + 2, client.size() - open - 3)))
                return std::nullopt;
            client = client.substr(0, open);
        }
        return make(std::string(client), std::string(port), "a2j:" + std::string(left) + ":" + std::string(port),
                    capture);
    }
    return std::nullopt;
}

// JACK2: "system:midi_capture_<n>" or "system_midi:capture_<n>" (and their
// playback ports) with one of its drivers' aliases.
std::optional<JackBridge> jack2(std::string_view portName, std::span<const std::string> aliases) {
    bool capture = false;
    std::string_view index;
    for (const auto& [prefix, isCapture] : {std::pair{"system:midi_capture_", true},
                                            {"system:midi_playback_", false},
                                            {"system_midi:capture_", true},
                                            {"system_midi:playback_", false}}) {
        if (portName.starts_with(prefix)) {
            index = portName.substr(std::string_view(prefix).size());
            capture = isCapture;
        }
    }
    if (!digits(index)) return std::nullopt;
    for (const std::string& alias : aliases) {
        // -X seq: "alsa_pcm:<client>/midi_playback_<n>" on a capture port,
        // the client's name with its spaces made '-'.
        if (alias.starts_with("alsa_pcm:")) {
            const auto [client, stream] = split(std::string_view(alias).substr(9), "/");
            const std::string_view mirrored = capture ? "midi_playback_" : "midi_capture_";
            if (client.empty() || !stream.starts_with(mirrored) || !digits(stream.substr(mirrored.size()))) continue;
            std::string name(client);
            JackBridge bridge =
                make(name, "", "alsa_pcm:" + name + "/" + std::string(stream.substr(mirrored.size())), capture);
            bridge.thru = client == "Midi-Through";
            bridge.fullName.clear(); // the client alone: the JACK name tells its ports apart
            return bridge;
        }
        // -X raw: "in-hw-<card>-<device>-<subdevice>-<name>", out- for playback.
        const std::string_view direction = capture ? "in-hw-" : "out-hw-";
        if (alias.starts_with(direction)) {
            std::string_view rest = std::string_view(alias).substr(direction.size());
            std::string device = "hw";
            bool numbered = true;
            for (int part = 0; part < 3 && numbered; ++part) {
                const auto [number, after] = split(rest, "-");
                numbered = digits(number) && !after.empty();
                device += "-" + std::string(number);
                rest = after;
            }
            if (!numbered) continue;
            std::string name(rest);
            std::ranges::replace(name, '-', ' ');
            JackBridge bridge = make("", name, device, capture);
            bridge.exclusive = true;
            return bridge;
        }
        // -X alsarawmidi: "system:<card+1>-<device+1> <name> <subdevice+1> in".
        const std::string_view end = capture ? " in" : " out";
        if (alias.starts_with("system:") && std::string_view(alias).ends_with(end)) {
            const std::string_view body = std::string_view(alias).substr(7, alias.size() - 7 - end.size());
            const auto [numbers, named] = split(body, " ");
            const auto [card, device] = split(numbers, "-");
            const auto space = named.rfind(' ');
            if (!digits(card) || !digits(device) || space == std::string_view::npos || !digits(named.substr(space + 1)))
                continue;
            JackBridge bridge =
                make("", std::string(named.substr(0, space)),
                     "raw:" + std::string(numbers) + "-" + std::string(named.substr(space + 1)), capture);
            bridge.exclusive = true;
            return bridge;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<JackBridge> JackBridge::recognise(std::string_view portName, std::span<const std::string> aliases) {
    if (auto bridge = pipeWire(portName, aliases)) return bridge;
    if (auto bridge = a2j(portName)) return bridge;
    return jack2(portName, aliases);
}

} // namespace tactimo
