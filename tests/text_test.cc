// The text comparison that the evaluation path relies on, and the default
// collection's keys, which keep generated names apart from the others.
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

struct KeyCase {
  const char16_t* added;
  const char16_t* asked;
  bool found;
};

TEST(Text, GeneratedKeysMatchWithoutRegardToCaseAndOnlyAsWritten) {
  const KeyCase cases[] = {
      {u"Autodf7", u"Autodf7", true},         {u"Autodf7", u"AUTODF7", true},
      {u"AUTODF7", u"autodf7", true},         {u"Autodf7", u"Autodf07", false},
      {u"Autodf07", u"Autodf07", true},       {u"Autodf07", u"Autodf7", false},
      {u"Autodf32767", u"autoDF32767", true}, {u"Autodf99999", u"AUTODF99999", true},
      {u"Autodf0", u"AUTODF0", true},         {u"Autodf", u"autodf", true},
      {u"Autodf1x", u"AUTODF1X", true},       {u"Autodf12", u"Autodf1", false},
  };
  for (const KeyCase& c : cases) {
    auto fields = MakeRef<DataFields>();
    ASSERT_TRUE(fields->AddField(c.added, u"Long", std::int32_t{1})) << ToUtf8(c.added);
    EXPECT_EQ(fields->Exists(c.asked), c.found) << ToUtf8(c.added) << " / " << ToUtf8(c.asked);
    EXPECT_EQ(static_cast<bool>(fields->Find(c.asked)), c.found) << ToUtf8(c.asked);
    // A key that matches is taken: adding it fails; another is a second entry.
    EXPECT_EQ(fields->AddField(c.asked, u"Long", std::int32_t{2}) == nullptr, c.found)
        << ToUtf8(c.asked);
    EXPECT_EQ(fields->Count(), c.found ? 1u : 2u) << ToUtf8(c.asked);
    // Removing the key asked for removes the first entry only when it matches.
    EXPECT_TRUE(fields->Erase(c.asked)) << ToUtf8(c.asked);
    EXPECT_EQ(fields->Exists(c.added), !c.found) << ToUtf8(c.asked);
  }
}

// Keys that differ only in case beyond ASCII (in letters whose capitals
// both platforms' case tables agree on), or are long, match as well; those
// of another length or first letter do not.
TEST(Text, KeysMatchBeyondAsciiAndAtAnyLength) {
  const std::u16string long_key(40, u'q');
  const KeyCase cases[] = {
      {u"\u00c9lan", u"\u00e9LAN", true},
      {u"\u03c3igma", u"\u03a3IGMA", true},
      {u"\u03a3igma", u"\u03c3IGMA", true},
      {long_key.c_str(), u"QQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQ", true},
      {long_key.c_str(), u"qqqqqqqq", false},
      {u"Zip", u"Zap", false},
      {u"Zip", u"Zips", false},
  };
  for (const KeyCase& c : cases) {
    auto fields = MakeRef<DataFields>();
    ASSERT_TRUE(fields->AddField(c.added, u"Long", std::int32_t{1}));
    EXPECT_EQ(fields->Exists(c.asked), c.found) << ToUtf8(c.asked);
    EXPECT_TRUE(fields->Erase(c.added));
    EXPECT_FALSE(fields->Exists(c.asked)) << ToUtf8(c.asked);
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
