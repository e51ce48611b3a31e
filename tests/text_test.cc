// The text comparison that the evaluation path relies on, and the default
// collection's keys, which keep generated names apart from the others (which
// keys match: tests/data/keys.tsv).
#include "platform/text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {
namespace {

TEST(Text, SameTextAgreesWithStringEqualityAtEveryLengthAndPosition) {
  for (std::size_t n = 0; n <= 20; ++n) {
    std::u16string a;
    for (std::size_t i = 0; i < n; ++i) a += static_cast<char16_t>(u'a' + i % 26);
    EXPECT_TRUE(SameText(a, a)) << n;
    EXPECT_FALSE(SameText(a, a + u'x')) << n;
    for (std::size_t i = 0; i < n; ++i) {
      std::u16string b = a;
      b[i] = static_cast<char16_t>(b[i] + 0x100);  // differs in the high byte only
      EXPECT_FALSE(SameText(a, b)) << n << " at " << i;
      b[i] = static_cast<char16_t>(a[i] + 1);
      EXPECT_FALSE(SameText(a, b)) << n << " at " << i;
    }
  }
}

// Put is a removal and an addition: the key as given, last in order, and
// the field that was there handed back.
TEST(Text, PutReplacesAsRemoveAndAddWould) {
  auto fields = MakeRef<DataFields>();
  for (const char16_t* k : {u"Name", u"Code", u"Autodf2", u"Type"})
    ASSERT_TRUE(fields->AddField(k, u"String", u"v"));
  const ObjectRef name = fields->Find(u"Name"), slot = fields->Find(u"autodf2");
  const ObjectRef other = MakeRef<DataField>(u"name", u"Long", std::int32_t{1});
  EXPECT_EQ(fields->Put(u"NAME", other), name);
  EXPECT_EQ(fields->Put(u"AUTODF2", other), slot);
  EXPECT_EQ(fields->Put(u"New", other), ObjectRef());
  EXPECT_EQ(fields->Find(u"name"), other);
  EXPECT_EQ(fields->Keys(),
            (std::vector<std::u16string>{u"Code", u"Type", u"NAME", u"AUTODF2", u"New"}));
  EXPECT_EQ(fields->Count(), 5u);
  EXPECT_EQ(fields->Put(u"Name", name), other);
  EXPECT_EQ(fields->Keys().back(), u"Name");
}

TEST(Text, KeysKeepTheirSpellingAndOrderAcrossBothKindsOfKey) {
  auto fields = MakeRef<DataFields>();
  for (const char16_t* k : {u"Zeta", u"AUTODF3", u"Autodf1", u"alpha", u"autodf20"})
    ASSERT_TRUE(fields->AddField(k, u"String", u"v"));
  ASSERT_TRUE(fields->Erase(u"AutoDF1"));
  ASSERT_TRUE(fields->AddField(u"Autodf1", u"String", u"w"));
  const std::vector<std::u16string> expected = {u"Zeta", u"AUTODF3", u"alpha", u"autodf20",
                                                u"Autodf1"};
  EXPECT_EQ(fields->Keys(), expected);
  EXPECT_EQ(fields->Count(), 5u);
  // Item by position follows the same order.
  Variant second(std::int32_t{2});
  std::array<Arg, 1> args{Arg::ByVal(second)};
  const Variant item = fields->Invoke(u"Item", CallKind::Method, args);
  EXPECT_EQ(CStr(Get(item.object(), u"Name")), u"AUTODF3");
}

}  // namespace
}  // namespace tarn::detail
