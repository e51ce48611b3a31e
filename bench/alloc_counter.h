// Counts the heap allocations that the calling thread makes (the library's
// included), so that benchmarks can report allocations per evaluation.
#pragma once

#include <cstdint>

namespace tarn::bench {

std::uint64_t AllocationCount() noexcept;

}  // namespace tarn::bench
