// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken invariant stops the run, which keeps the input.
inline void require(bool holds, std::string_view what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %.*s\n", int(what.size()), what.data());
    std::abort();
}
