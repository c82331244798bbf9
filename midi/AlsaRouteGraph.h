// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "AlsaSourceTable.h"

#include <map>
#include <set>

#include <alsa/asoundlib.h>

namespace tactimo {

// The subscriptions by which one sender's events reach us twice, so that
// they are read once. A sender subscribed to our hidden input port is read
// there; the same events arrive again
// - at our public port, when the sender is subscribed to it as well; and
// - from a thru port (the kernel's "Midi Through"), when the sender is
//   subscribed to that and we to the thru port's output.
// The second copy is a mirror. Events sent straight to a port without a
// subscription leave no trace here and are never taken for mirrors.
//
// The sequencer tells every subscription and departure on the System
// announce port, in order with the events, so the graph is never behind the
// events it judges. Not locked: the owner guards it.
class AlsaRouteGraph {
public:
    using Address = AlsaSourceTable::Address;

    // Whether a port passes on what is written to it: a readable and writable
    // port of a kernel client that drives no card, which only the thru
    // client is.
    static bool isThru(bool kernelClient, int card, unsigned capability);

    // Our hidden input port and our public one.
    void setOwnPorts(Address input, Address publicPort);
    // A thru port, and the ports subscribed to write to it now.
    void addThru(Address port, const std::set<Address>& writers);
    // Ports subscribed to write to one of our two ports now.
    void setWriters(Address ownPort, const std::set<Address>& writers);
    // Everything forgotten but our own ports, before seeding it anew.
    void clear();

    // Applies an announcement: subscriptions to our ports and to thru ports
    // that come and go, and ports and clients that leave.
    void onAnnounce(const snd_seq_event_t& event);

    // Whether an event from source that arrived at our port dest is a copy of
    // events that reach us directly too.
    bool mirrored(Address source, Address dest) const;

private:
    void forget(Address port);

    Address input_{-1, -1}, public_{-1, -1};
    std::set<Address> thru_;
    std::map<Address, std::set<Address>> writers_; // by the port written to: ours and thru ports
};

} // namespace tactimo
