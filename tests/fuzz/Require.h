#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// An invariant of a fuzz target: when it breaks, the run stops and keeps the input.
inline void require(bool holds, std::string_view what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}
