#pragma once

#include "core/MidiService.h"

#include <compare>
#include <map>
#include <optional>
#include <string>

#include <alsa/asoundlib.h>

namespace tactimo {

// Source keys of the ALSA sequencer, and what announcements mean for them.
// The kernel gives a freed client number to the next client that comes, so
// keys are not the addresses themselves: an address gets a key when first
// seen, and loses it when its port or client leaves; a later source at the
// same address gets a new key.
class AlsaSourceTable {
public:
    struct Address {
        int client = 0;
        int port = 0;
        friend auto operator<=>(const Address&, const Address&) = default;
    };

    // Keys below this are left for the virtual destination.
    static constexpr SourceKey firstKey = 2;

    // Whether a port is a source to connect: readable and subscribable, not
    // hidden, and neither the System client's nor our own.
    static bool isSource(int client, int ownClient, unsigned capability);
    // The name a source is listed by.
    static std::string displayName(const std::string& clientName, const std::string& portName);

    // The key of a present address, assigned on first sight. The name is kept
    // for when the port can no longer be asked.
    SourceKey keyFor(Address address, std::optional<std::string> name = std::nullopt);
    std::optional<Address> addressOf(SourceKey key) const;
    std::optional<std::string> lastName(SourceKey key) const;

    // Applies an event from the System announce port. True when it is a
    // change of the set-up (a client or port came or went); renames and
    // subscriptions are not.
    bool onAnnounce(const snd_seq_event_t& event);

private:
    struct Entry {
        Address address;
        std::string name;
        bool live = true;
    };
    std::map<Address, SourceKey> live_;
    std::map<SourceKey, Entry> entries_;
    SourceKey nextKey_ = firstKey;
};

} // namespace tactimo
