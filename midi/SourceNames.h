#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tactimo {

// How sources are named. Names come from other programs and devices, so they
// are bounded and made valid text here, before anyone shows them.
struct SourceNames {
    // Bytes of UTF-8 at most; longer names lose their middle, since two ports
    // of one device tend to differ at the end.
    static constexpr std::size_t maxBytes = 160;

    // Valid, canonical UTF-8 of at most maxBytes.
    static std::string bounded(std::string_view name);

    // A sequencer port as people know it: its port name, after its client's
    // name only where the port name does not begin with it already
    // ("Midi Through Port-0", "USB Drum MIDI 1", but "Synth:out").
    static std::string sequencerName(std::string_view client, std::string_view port);
    // "client:port": the long form, for telling apart equal short ones.
    static std::string sequencerFullName(std::string_view client, std::string_view port);

    // A source's name as shown, and its long form (equal where it has none).
    struct Forms {
        std::string shown;
        std::string full;
    };
    // The names to list: each source's shown name, except that sources whose
    // shown names are equal while their long forms differ are listed by their
    // long forms. Two sources with the same long form (two units of one
    // device model) keep sharing a name.
    static std::vector<std::string> distinct(std::span<const Forms> sources);
};

} // namespace tactimo
