#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
// Per thread, so that threads neither share a cache line nor count each
// other's allocations.
thread_local std::uint64_t t_allocations = 0;
}  // namespace

namespace tarn::bench {
std::uint64_t AllocationCount() noexcept { return t_allocations; }
}  // namespace tarn::bench

void* operator new(std::size_t n) {
  ++t_allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++t_allocations;
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
