#include "stack/stack.h"

#include <gtest/gtest.h>

#include "tarn/host.h"

namespace tarn::detail {
namespace {

ObjectRef Field(const char16_t* name) {
  return ObjectRef(MakeRef<DataField>(name, u"Long", std::int32_t{1}));
}

TEST(Stack, NewStackIsEmpty) {
  Stack s;
  EXPECT_TRUE(s.IsStackEmpty());
  EXPECT_FALSE(s.Pop());
  EXPECT_FALSE(s.PeekStack());
  EXPECT_EQ(s.AsText(), u"");
  // An empty reference is an item all the same.
  s.Push(ObjectRef());
  EXPECT_FALSE(s.IsStackEmpty());
  EXPECT_FALSE(s.Pop());
  EXPECT_TRUE(s.IsStackEmpty());
}

TEST(Stack, PopsTheVeryObjectsPushedInReverseOrder) {
  Stack s;
  ObjectRef a = Field(u"A"), b = Field(u"B");
  s.Push(a);
  s.Push(b);
  EXPECT_EQ(s.PeekStack(), b);
  EXPECT_EQ(s.PeekStackItem2(), a);
  EXPECT_EQ(s.Pop(), b);
  EXPECT_EQ(s.Pop(), a);
  EXPECT_TRUE(s.IsStackEmpty());
}

TEST(Stack, DeleteStackItem2KeepsTopAndBottom) {
  Stack s;
  ObjectRef a = Field(u"A"), b = Field(u"B"), c = Field(u"C");
  s.Push(a);
  s.Push(b);
  s.Push(c);
  EXPECT_TRUE(s.DeleteStackItem2());
  EXPECT_EQ(b->ref_count(), 1);  // only the test holds B now
  EXPECT_EQ(s.Pop(), c);
  EXPECT_EQ(s.Pop(), a);
}

TEST(Stack, SecondItemOperationsNeedTwoItems) {
  Stack s;
  s.Push(Field(u"A"));
  try {
    s.PeekStackItem2();
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 91);
  }
  EXPECT_THROW(s.DeleteStackItem2(), RuntimeError);
  EXPECT_FALSE(s.IsStackEmpty());
}

TEST(Stack, EmptyStackReleasesItems) {
  Stack s;
  ObjectRef a = Field(u"A");
  for (int i = 0; i < 3; ++i) s.Push(a);
  EXPECT_EQ(a->ref_count(), 4);
  s.EmptyStack();
  EXPECT_TRUE(s.IsStackEmpty());
  EXPECT_EQ(a->ref_count(), 1);
}

TEST(Stack, AsTextListsTopFirst) {
  Stack s;
  s.Push(ObjectRef(MakeRef<DataField>(u"P", u"String", u"p")));
  s.Push(ObjectRef(MakeRef<DataField>(u"Q", u"Long", std::int32_t{7})));
  EXPECT_EQ(s.AsText(), u"Q\t7\tLong\r\nP\tp\tString\r\n");
  Stack broken;
  broken.Push(ObjectRef());
  EXPECT_THROW(broken.AsText(), RuntimeError);
}

TEST(Stack, LongChainsEmptyWithoutRecursion) {
  Stack s;
  ObjectRef a = Field(u"A");
  for (int i = 0; i < 1'000'000; ++i) s.Push(a);
  s.EmptyStack();
  EXPECT_EQ(a->ref_count(), 1);
}

}  // namespace
}  // namespace tarn::detail
