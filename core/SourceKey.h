#pragma once

#include <cstdint>

namespace tactimo {

// A 32-bit key per source that stays the same while the program runs and is
// never reused for another source.
using SourceKey = std::uint32_t;

} // namespace tactimo
