// The default data field: its late-bound members and the per-thread pool
// of released fields that temporary fields are taken from.
#include <cstdint>

#include "host/data_field_internal.h"
#include "platform/text.h"
#include "platform/thread_exit.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn {

using namespace std::string_view_literals;

using detail::EqualsIgnoreCase;

DataField::DataField(std::u16string name, std::u16string data_type, Variant data)
    : name_(std::move(name)), data_type_(std::move(data_type)), data_(std::move(data)) {}

DataField* AsDataField(const Object* o) noexcept { return detail::OwnField(o); }

namespace {
// Member names as automation matches them: without regard to letter case.
bool Is(std::u16string_view member, std::u16string_view name) {
  return member == name || EqualsIgnoreCase(member, name);
}

Variant PutOrGet(std::u16string& slot, CallKind kind, std::span<Arg> args) {
  if (kind == CallKind::Let || kind == CallKind::Set) {
    RequireArgs(args, 1);
    slot = CStr(args[0].value());
    return {};
  }
  RequireArgs(args, 0);
  return slot;
}
}  // namespace

Variant DataField::Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) {
  if (member.empty() || Is(member, u"Data"sv)) {
    if (kind == CallKind::Let || kind == CallKind::Set) {
      RequireArgs(args, 1);
      data_ = kind == CallKind::Let ? DefaultValue(args[0].value()) : args[0].value();
      return {};
    }
    RequireArgs(args, 0);
    return data_;
  }
  if (Is(member, u"Name"sv)) return PutOrGet(name_, kind, args);
  if (Is(member, u"DataType"sv)) return PutOrGet(data_type_, kind, args);
  if (Is(member, u"DataClass"sv)) return PutOrGet(data_class_, kind, args);
  RaiseNoMember(member);
}

namespace detail {
namespace {
// Released fields of this thread, ready for reuse, chained through
// `next_free`. The state is plain data in the initial-exec model, so that
// reaching it costs no call; a destructor registered on first use frees the
// chain when the thread ends.
struct PoolState {
  PooledField* head;
  std::uint32_t count;
  std::uint8_t state;  // 0 unused, 1 open, 2 closed
};
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((tls_model("initial-exec")))
#endif
thread_local PoolState pool{nullptr, 0, 0};
constexpr std::uint32_t kKeptFields = 256;

void ClosePool() noexcept {
  pool.state = 2;
  while (PooledField* f = pool.head) {
    pool.head = f->next_free;
    delete f;
  }
  pool.count = 0;
}

struct PoolCloser {
  ~PoolCloser() { ClosePool(); }
  static void Open() {
#if defined(_WIN32)
    detail::ThreadLocal<PoolCloser>();
#else
    thread_local PoolCloser closer;
    (void)closer;
#endif
    pool.state = 1;
  }
};

}  // namespace

Ref<DataField> ReuseDataField() {
  if (PooledField* f = pool.head) {
    pool.head = f->next_free;
    --pool.count;
    f->next_free = nullptr;
    return Ref<DataField>(f);
  }
  if (pool.state == 0) PoolCloser::Open();
  return Ref<DataField>(new PooledField);
}

void PooledField::Dispose() noexcept {
  // Whatever the field holds is released first: that may release fields too.
  // The texts stay until the field is handed out again.
  if (!data().is_empty()) set_data(Variant());
  if (pool.state == 1 && pool.count < kKeptFields) {
    next_free = pool.head;
    pool.head = this;
    ++pool.count;
    return;
  }
  delete this;
}

}  // namespace detail

Ref<DataField> DataField::Create() {
  Ref<DataField> f = detail::ReuseDataField();
  f->name_.clear();
  f->data_type_.clear();
  f->data_class_.clear();
  return f;
}

}  // namespace tarn
