// Counts heap allocations made anywhere in the process (the library
// included), so that benchmarks can report allocations per evaluation.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarn::bench {

std::uint64_t AllocationCount() noexcept;

}  // namespace tarn::bench
