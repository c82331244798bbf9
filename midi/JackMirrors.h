// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "JackPortScan.h"
#include "JackSourceTable.h"

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <jack/jack.h>

namespace tactimo {

// Which packet lists are copies of data that reaches us directly too. A
// sender routed to us twice is read once: what arrives at our public port,
// or from a bridged kernel thru port, is dropped while everything connected
// to write to that port reaches us directly.
//
// Threads: update() on the connector thread, mirrored() on the delivery thread.
class JackMirrors {
public:
    JackMirrors(jack_client_t* client, const jack_port_t* publicPort) : client_(client), publicPort_(publicPort) {}

    // After a (re)connection: the sources listed, the ports of the scan they
    // were listed from, and the full names of the ports whose data reaches
    // us directly.
    void update(const std::vector<JackSourceTable::Source>& listed, const std::vector<JackPortScan::Port>& ports,
                std::set<std::string> direct);
    // Whether a list under a key is such a copy.
    bool mirrored(SourceKey key);

private:
    struct Judged {
        bool mirror = false;
        std::chrono::steady_clock::time_point at;
    };

    jack_client_t* const client_;
    const jack_port_t* const publicPort_;
    std::mutex lock_;
    std::set<std::string> direct_;                // ports whose data reaches us directly
    std::map<SourceKey, std::string> thruInputs_; // bridged thru ports: the port that feeds each
    std::map<SourceKey, Judged> judged_;          // the last judgement with something connected
};

} // namespace tactimo
