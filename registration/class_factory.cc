// The class factory that DllGetClassObject hands out, and the server locks
// behind DllCanUnloadNow.
#include <atomic>

#include "platform/live_objects.h"
#include "platform/text.h"
#include "registration/registration.h"
#include "tarn/convert.h"
#include "tarn/interpreter.h"
#include "tarn/object.h"

namespace tarn::detail {

namespace {

std::atomic<long> g_server_locks{0};

// Members: CreateInstance() returns a new Interpreter; LockServer(fLock)
// holds (True) or lets go of (False) the library and returns 0 (S_OK).
class InterpreterFactory final : public Object {
 public:
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override {
    if (kind == CallKind::Method || kind == CallKind::Get) {
      if (EqualsIgnoreCase(member, u"CreateInstance")) {
        RequireArgs(args, 0);
        return Variant(ObjectRef(MakeRef<Interpreter>()));
      }
      if (EqualsIgnoreCase(member, u"LockServer")) {
        RequireArgs(args, 1);
        if (args[0].omitted()) Raise(err::kArgumentNotOptional);
        LockServer(CBool(args[0].value()));
        return Variant(std::int32_t{0});
      }
    }
    RaiseNoMember(member);
  }

  std::u16string_view ClassName() const noexcept override { return u"ClassFactory"; }

 private:
  LiveObject live_;  // a factory keeps the library loaded
};

}  // namespace

void LockServer(bool lock) noexcept {
  if (lock) {
    g_server_locks.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  long n = g_server_locks.load(std::memory_order_relaxed);
  while (n > 0 && !g_server_locks.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) {
  }
}

long ServerLockCount() noexcept { return g_server_locks.load(std::memory_order_acquire); }

ObjectRef NewInterpreterFactory() { return ObjectRef(MakeRef<InterpreterFactory>()); }

}  // namespace tarn::detail
