#pragma once

#include <cstdint>

namespace tactimo {

// Heap allocations made through operator new in this process so far.
std::uint64_t allocationCount();

} // namespace tactimo
