// Placeholder: replaced by the rotating file log component.
#include "host/log_component.h"

#include "tarn/object.h"

namespace tarn::detail {

namespace {
class NullLog final : public Object {
 public:
  Variant Invoke(std::u16string_view, CallKind, std::span<Arg>) override { return std::int32_t{0}; }
};
}  // namespace

ObjectRef NewLogComponent() { return MakeRef<NullLog>(); }

}  // namespace tarn::detail
