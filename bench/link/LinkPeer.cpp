// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A Link peer for the benchmark, a process of its own, on CLOCK_MONOTONIC like
// Tactimo: it founds a session at the tempo of its argument and leaves it at
// the end of stdin.
#include <ableton/Link.hpp>

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    ableton::BasicLink<ableton::platforms::linux::ClockMonotonic> link(argc > 1 ? std::atof(argv[1]) : 120);
    link.enable(true);
    for (std::string line; std::getline(std::cin, line);) {
    }
}
