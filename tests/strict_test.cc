// Strict mode as a property reached by name; its cases are the rows of
// tests/data/strict.tsv.
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace tarn::testing {
namespace {

TEST(Strict, IsAPropertyByName) {
  Ref<Interpreter> interp = MakeRef<Interpreter>();
  auto fields = MakeRef<DataFields>();
  auto errors = MakeRef<RecordingErrorManager>();
  fields->AddField(u"D", u"Date", Date{45296.5730324074});
  interp->Init(fields, errors, u"Sys", u"App");
  EXPECT_FALSE(interp->strict());
  EXPECT_EQ(Get(interp, u"Strict"), Variant(false));
  Let(interp, u"strict", Variant(true));
  EXPECT_TRUE(interp->strict());
  EXPECT_EQ(Get(interp, u"Strict"), Variant(true));
  EXPECT_TRUE(interp->Evaluate(u"Format D").is_error());
  Let(interp, u"Strict", Variant(false));
  EXPECT_EQ(Show(interp->Evaluate(u"Format D").value()), "String eol1/5/2024 1:45:10 pm");
}

}  // namespace
}  // namespace tarn::testing
