// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

namespace tactimo {

// A 32-bit key per source that stays the same while the program runs and is
// never reused for another source.
using SourceKey = std::uint32_t;

// The key under which our services deliver what is sent to their virtual
// destination; the keys of sources lie above it.
inline constexpr SourceKey virtualKey = 1;

} // namespace tactimo
