// The live-object count: atomic, since objects of different threads may
// come and go at once.
#include "platform/live_objects.h"

#include <atomic>

namespace tarn::detail {

namespace {
std::atomic<long> live_objects{0};
}

LiveObject::LiveObject() noexcept { live_objects.fetch_add(1, std::memory_order_relaxed); }
LiveObject::~LiveObject() { live_objects.fetch_sub(1, std::memory_order_acq_rel); }
long LiveObjectCount() noexcept { return live_objects.load(std::memory_order_acquire); }

}  // namespace tarn::detail
