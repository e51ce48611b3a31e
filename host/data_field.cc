#include <vector>

#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn {

using detail::EqualsIgnoreCase;

DataField::DataField(std::u16string name, std::u16string data_type, Variant data)
    : name_(std::move(name)), data_type_(std::move(data_type)), data_(std::move(data)) {
  native_kind_ = kNativeKind;
}

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
  if (member.empty() || Is(member, u"Data")) {
    if (kind == CallKind::Let || kind == CallKind::Set) {
      RequireArgs(args, 1);
      data_ = kind == CallKind::Let ? DefaultValue(args[0].value()) : args[0].value();
      return {};
    }
    RequireArgs(args, 0);
    return data_;
  }
  if (Is(member, u"Name")) return PutOrGet(name_, kind, args);
  if (Is(member, u"DataType")) return PutOrGet(data_type_, kind, args);
  if (Is(member, u"DataClass")) return PutOrGet(data_class_, kind, args);
  RaiseNoMember(member);
}

}  // namespace tarn

namespace tarn {

namespace {
// Released fields of this thread, ready for reuse. `closed` is set when the
// thread's pool is gone, so that a field released after it is deleted.
thread_local bool pool_closed = false;
constexpr std::size_t kKeptFields = 256;

struct FieldPool {
  std::vector<DataField*> fields;  // reserved by Create, never grown by Dispose
  ~FieldPool() {
    pool_closed = true;
    for (DataField* f : fields) delete f;
  }
};

FieldPool& Pool() {
  thread_local FieldPool pool;
  return pool;
}
}  // namespace

Ref<DataField> DataField::Create() {
  if (!pool_closed) {
    auto& free = Pool().fields;
    if (free.capacity() < kKeptFields) free.reserve(kKeptFields);
    if (!free.empty()) {
      DataField* f = free.back();
      free.pop_back();
      return Ref<DataField>(f);
    }
  }
  return MakeRef<DataField>();
}

void DataField::Dispose() noexcept {
  // Whatever the field holds is released first: that may release fields too.
  data_ = Variant();
  name_.clear();
  data_type_.clear();
  data_class_.clear();
  if (!pool_closed) {
    auto& free = Pool().fields;
    if (free.size() < free.capacity()) {
      free.push_back(this);
      return;
    }
  }
  delete this;
}

}  // namespace tarn
