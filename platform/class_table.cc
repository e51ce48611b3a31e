// The process-wide class table: programmatic identifiers and the factories
// that create their objects. It is the one piece of state shared by all
// threads, so it takes a lock.
#include <mutex>
#include <unordered_map>

#include "platform/text.h"
#include "tarn/object.h"

namespace tarn {

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
}

bool UnregisterClass(std::u16string_view progid) {
  auto& t = Table();
  std::lock_guard lock(t.mutex);
  return t.factories.erase(detail::UpperCase(progid)) > 0;
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
  if (!factory) Raise(err::kCannotCreateObject);
  ObjectRef obj = factory();
  if (!obj) Raise(err::kCannotCreateObject);
  return obj;
}

}  // namespace tarn
