// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstring>
#include <net/if.h>

namespace tactimo::test {

// Whether this process's network has no interface but loopback, as inside
// private-network.sh: the only place where the tests may run Link.
inline bool onlyLoopback() {
    auto* names = if_nameindex();
    if (!names) return false;
    bool only = true;
    for (auto* n = names; n->if_index != 0; ++n) only = only && std::strcmp(n->if_name, "lo") == 0;
    if_freenameindex(names);
    return only;
}

} // namespace tactimo::test
