// The default data field's inside, for the library's own code: the fields
// it makes come from a per-thread pool of released ones, which keep their
// texts (so that equal ones need no copy).
#pragma once

#include <typeinfo>

#include "tarn/host.h"

namespace tarn::detail {

// A default field that goes back to its thread's pool when released.
class PooledField final : public DataField {
 public:
  PooledField* next_free = nullptr;

 protected:
  void Dispose() noexcept override;
};

// As DataField::Create, for a caller that assigns all three texts at once: a
// reused field still has its earlier texts.
Ref<DataField> ReuseDataField();

// The default factory of "ZellDFld.DataField".
ObjectRef NewDefaultDataField();

// The library's own fields, exactly: a host's class derived from DataField
// may answer its members otherwise.
inline DataField* OwnField(const Object* o) noexcept {
  if (!o) return nullptr;
  const std::type_info& t = typeid(*o);
  return t == typeid(PooledField) || t == typeid(DataField)
             ? static_cast<DataField*>(const_cast<Object*>(o))
             : nullptr;
}

}  // namespace tarn::detail
