// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SourceLedger.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <alsa/asoundlib.h>

namespace tactimo {

// Source keys of the ALSA sequencer, and what announcements mean for them.
// The kernel gives a freed client number to the next client that comes, so
// keys are not the addresses themselves: an address gets a key when first
// seen (SourceLedger), and loses it when its port or client leaves; a later
// source at the same address gets a new key.
class AlsaSourceTable {
public:
    struct Address {
        int client = 0;
        int port = 0;
        friend auto operator<=>(const Address&, const Address&) = default;
    };

    // Who holds an address. Client numbers are reused, so a port that left
    // and one that came at its address while announcements were lost differ
    // here: in the process of a user client, or in the card and name of a
    // kernel client.
    struct Occupant {
        int pid = -1;       // user clients'; -1 for the kernel's
        int card = -1;      // kernel clients' sound card; -1 for none
        std::string client; // the client's name
        friend bool operator==(const Occupant&, const Occupant&) = default;
        // The same client, perhaps renamed (a rename is not announced
        // before Linux 6.6); two kernel clients of one card differ by name.
        bool sameClient(const Occupant& other) const {
            return pid == other.pid && card == other.card && (pid > 0 || client == other.client);
        }
    };

    // One port as the sequencer lists it.
    struct Port {
        Address address;
        std::string name; // as listed (SequencerPortName::shown)
        Occupant occupant;
    };

    // The occupant is recorded once the address is listed.
    using Ledger = SourceLedger<Address, std::optional<Occupant>>;

    // Whether a port is a source to connect: readable and subscribable, not
    // hidden, and neither the System client's nor our own.
    static bool isSource(int client, int ownClient, unsigned capability);

    // The key of an address an event came from, assigned on first sight.
    std::optional<SourceKey> keyFor(Address address) { return ledger_.key(address); }
    // The key of a listed port; records its name and occupant. None when
    // another client is filed at its address (the table is behind the
    // kernel, whose announcements of the change are still to be read), or,
    // unless add, when its address has no key yet.
    std::optional<SourceKey> keyForListed(const Port& port, bool add = true);

    std::optional<Address> addressOf(SourceKey key) const { return ledger_.idOf(key); }
    // The occupant recorded for a present key, if it was ever listed.
    std::optional<Occupant> occupantOf(SourceKey key) const;
    // The last name of a present key, or of one of the last departed ones.
    std::optional<std::string> lastName(SourceKey key) const { return ledger_.lastName(key); }

    // Applies an event from the System announce port. True when it is a
    // change of the set-up (a client or port came or went); renames and
    // subscriptions are not.
    bool onAnnounce(const snd_seq_event_t& event);

    // After announcements were lost: every port present now. A key whose
    // address is gone, or held by another occupant (or one never listed, who
    // cannot be told apart), departs; the next event or listing from its
    // address gets a new key.
    void resync(std::span<const Port> present);

    // Counts every change applied; a listing taken while it moved may be stale.
    std::uint64_t generation() const { return generation_; }
    const Ledger& ledger() const { return ledger_; }

private:
    Ledger ledger_;
    std::uint64_t generation_ = 0;
};

} // namespace tactimo
