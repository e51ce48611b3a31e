// The process-wide class table: programmatic identifiers and the factories
// that create their objects. It is the one piece of state shared by all
// threads, so it takes a lock.
#include "platform/class_table.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "platform/text.h"
#include "tarn/object.h"

namespace tarn {

namespace detail {
std::atomic<std::uint64_t> class_table_generation{0};
}

#if defined(_WIN32)
// On Windows an identifier that the process did not register is created
// through the system's registration (platform/windows/com_classes.cc).
namespace detail::win {
ClassFactory ComClassFactory(std::u16string_view progid);
}
#endif

namespace {
struct ClassTable {
  std::mutex mutex;
  std::unordered_map<std::u16string, ClassFactory> factories;  // key upper-cased
};

ClassTable& Table() {
  static ClassTable* table = new ClassTable;  // never destroyed: used from exit paths
  return *table;
}
}  // namespace

void RegisterClass(std::u16string_view progid, ClassFactory factory) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  t.factories[detail::UpperCase(progid)] = std::move(factory);
  detail::class_table_generation.fetch_add(1, std::memory_order_release);
}

bool UnregisterClass(std::u16string_view progid) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  const bool erased = t.factories.erase(detail::UpperCase(progid)) > 0;
  detail::class_table_generation.fetch_add(1, std::memory_order_release);
  return erased;
}

bool IsClassRegistered(std::u16string_view progid) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  return t.factories.count(detail::UpperCase(progid)) > 0;
}

ObjectRef CreateObject(std::u16string_view progid) {
  ClassFactory factory;
  {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    auto it = t.factories.find(detail::UpperCase(progid));
    if (it != t.factories.end()) factory = it->second;
  }
#if defined(_WIN32)
  if (!factory) factory = detail::win::ComClassFactory(progid);
#endif
  if (!factory) Raise(err::kCannotCreateObject);
  ObjectRef obj = factory();
  if (!obj) Raise(err::kCannotCreateObject);
  return obj;
}

namespace detail {

void RefreshFactorySlow(std::u16string_view progid, FactoryCache& cache) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.factories.find(UpperCase(progid));
  cache.factory = it != t.factories.end() ? it->second : ClassFactory();
#if defined(_WIN32)
  if (!cache.factory) cache.factory = win::ComClassFactory(progid);
#endif
  auto* plain = cache.factory.target<ObjectRef (*)()>();
  cache.plain = plain ? *plain : nullptr;
  cache.generation = class_table_generation.load(std::memory_order_relaxed);
}

ObjectRef CreateObjectCached(std::u16string_view progid, FactoryCache& cache) {
  RefreshFactory(progid, cache);
  if (!cache.factory) Raise(err::kCannotCreateObject);
  ObjectRef obj = cache.plain ? cache.plain() : cache.factory();
  if (!obj) Raise(err::kCannotCreateObject);
  return obj;
}

}  // namespace detail

}  // namespace tarn
