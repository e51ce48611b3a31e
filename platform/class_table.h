// Creation through the class table with a per-caller cache of the factory,
// for identifiers that are created on every evaluation.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "tarn/object.h"

namespace tarn::detail {

// Bumped on every change of the class table.
extern std::atomic<std::uint64_t> class_table_generation;

struct FactoryCache {
  std::uint64_t generation = UINT64_MAX;
  ClassFactory factory;
  ObjectRef (*plain)() = nullptr;  // the factory when it is a plain function
};

// Brings the cache up to date with the table.
void RefreshFactorySlow(std::u16string_view progid, FactoryCache& cache);
inline void RefreshFactory(std::u16string_view progid, FactoryCache& cache) {
  if (cache.generation != class_table_generation.load(std::memory_order_acquire))
    RefreshFactorySlow(progid, cache);
}

// As CreateObject; the cache is refreshed whenever the table has changed.
ObjectRef CreateObjectCached(std::u16string_view progid, FactoryCache& cache);

}  // namespace tarn::detail
