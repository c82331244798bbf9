// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

namespace tactimo {

// Heap allocations made through operator new in this process so far.
std::uint64_t allocationCount();

} // namespace tactimo
