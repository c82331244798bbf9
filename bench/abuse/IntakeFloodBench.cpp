// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The same clock through the intake (fake service, host clock moved by hand)
// clean and buried in 1 MB of System Exclusive and random bytes, some of it
// inside the very packets that carry the ticks. Prints whether the tick window
// and the tempo came out the same; exits 1 if they did not.
#include "core/ClockInput.h"
#include "support/ManualIntake.h"

#include <cstdio>
#include <random>

using namespace tactimo;

int main() {
    constexpr double interval = 60.0 / (24.0 * 120.0); // 120 BPM
    test::ManualIntake clean({"Clock"}), flooded({"Clock"});
    std::mt19937 random(1234);
    std::size_t junkBytes = 0;
    const auto junk = [&](std::size_t n, bool sysex) {
        std::vector<std::uint8_t> bytes;
        if (sysex) bytes.push_back(0xF0);
        while (bytes.size() < n)
            if (const auto b = static_cast<std::uint8_t>(random() & (sysex ? 0x7F : 0xFF)); b != 0xF8)
                bytes.push_back(b);
        if (sysex) bytes.push_back(0xF7);
        junkBytes += bytes.size();
        return bytes;
    };
    for (int i = 0; i < 480; ++i) { // 10 s
        const double t = 1000.0 + i * interval;
        // Between the ticks: System Exclusive, bare random bytes, and System Exclusive whose end comes later.
        flooded.now = test::ns(t - interval / 2);
        flooded.bus->send(flooded.keys[0], junk(1600, true), test::ns(t - interval / 2));
        flooded.bus->send(flooded.keys[0], junk(300, false), 0);
        auto open = junk(200, true);
        open.pop_back();
        flooded.bus->send(flooded.keys[0], open, test::ns(t - interval / 3));
        auto packet = junk(100, true); // the tick inside System Exclusive, as real-time bytes may come
        packet.insert(packet.begin() + 50, 0xF8);
        clean.now = flooded.now = test::ns(t + 0.0005);
        clean.bus->send(clean.keys[0], {0xF8}, test::ns(t));
        flooded.bus->send(flooded.keys[0], packet, test::ns(t));
    }
    const ClockAnalyzer a = clean.reading(clean.keys[0]).analyzer, b = flooded.reading(flooded.keys[0]).analyzer;
    const bool same = a.ticks == b.ticks && a.interval == b.interval;
    std::printf("%zu bytes of other messages around 480 ticks: tick window and tempo %s (%.4f BPM)\n", junkBytes,
                same ? "bit-identical to the clean clock's" : "DIFFERENT from the clean clock's",
                b.interval ? 60.0 / (24.0 * *b.interval) : 0.0);
    return same ? 0 : 1;
}
