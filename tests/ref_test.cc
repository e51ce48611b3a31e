// Counted references: a Ref converts on its own only where the pointer
// does; anything else goes through RefCast, which checks.
#include <gtest/gtest.h>

#include <type_traits>

#include "tarn/tarn.h"

namespace tarn {
namespace {

// The wrong conversions must not compile.
static_assert(std::is_convertible_v<Ref<DataField>, ObjectRef>);
static_assert(std::is_convertible_v<Ref<DataFields>, ObjectRef>);
static_assert(!std::is_convertible_v<ObjectRef, Ref<DataField>>);
static_assert(!std::is_convertible_v<Ref<DataFields>, Ref<DataField>>);
static_assert(!std::is_constructible_v<Ref<DataField>, ObjectRef>);
static_assert(!std::is_constructible_v<Ref<Interpreter>, Ref<DataFields>>);

TEST(Ref, RefCastGivesTheObjectOnlyAsWhatItIs) {
  const ObjectRef field(MakeRef<DataField>());
  const ObjectRef fields(MakeRef<DataFields>());
  EXPECT_TRUE(RefCast<DataField>(field));
  EXPECT_FALSE(RefCast<DataFields>(field));
  EXPECT_FALSE(RefCast<DataField>(fields));
  EXPECT_TRUE(RefCast<DataFields>(fields));
  EXPECT_FALSE(RefCast<DataField>(ObjectRef()));
  // The cast shares the object and its count.
  const Ref<DataField> same = RefCast<DataField>(field);
  EXPECT_EQ(ObjectRef(same), field);
  EXPECT_EQ(field->ref_count(), 2);
}

}  // namespace
}  // namespace tarn
