// The character scanner, the word scanner and the classifiers.
#include <gtest/gtest.h>

#include <vector>

#include "support/host_fixture.h"
#include "support/text_tools.h"

namespace tarn::testing {
namespace {

using detail::kEndOfText;

std::u16string Words(detail::InterpreterCore& core, std::u16string text) {
  const std::int16_t i = core.AddInstance(text);
  std::u16string out;
  for (int n = 0; n < 40; ++n) {
    std::u16string w = core.GetNextWord(i);
    for (char16_t& c : w) {
      if (c == u'\r') c = u'R';
      if (c == kEndOfText) c = u'D';
    }
    out += w + u";";
    if (w == u"<EOL>") break;
  }
  return out;
}

TEST(WordScanner, CutsTextsIntoWords) {
  struct Row {
    std::u16string text, words;
  } rows[] = {
      {u"abc def", u"abc;def;<EOL>;"},
      {u"a+b", u"a;+;b;<EOL>;"},
      {u"a<=b", u"a;<=;b;<EOL>;"},
      {u"a = -1", u"a;=;-;1;<EOL>;"},
      {u"a=-1", u"a;=-;1;<EOL>;"},
      {u"Format(x, y)", u"Format(;x,;y);<EOL>;"},
      {u"Format (x, y)", u"Format;(;x,;y);<EOL>;"},
      {u"(b+c)", u"(;b;+;c);<EOL>;"},
      {u"( b + c )", u"(;b;+;c;);<EOL>;"},
      {u"a , b", u"a;,;b;<EOL>;"},
      {u"a \"b c\" & d", u"a;\"b c\";&;d;<EOL>;"},
      {u"#1/2/2003#+1", u"#1/2/2003#;+;1;<EOL>;"},
      {u"\"abc", u"\"abcD;<EOL>;"},
      {u"abc\r\ndef", u"abcR;;def;<EOL>;"},
      {u"x\ny", u"x;y;<EOL>;"},
      {u"x   \r", u"x;R;<EOL>;"},
      {u"a\tb", u"a\tb;<EOL>;"},
      {u"-5", u"-;5;<EOL>;"},
      {u"1.5*2", u"1.5;*;2;<EOL>;"},
      {u"", u"<EOL>;"},
      {u"x,", u"x,;<EOL>;"},
      {u"a!=b", u"a;!=;b;<EOL>;"},
  };
  for (const auto& row : rows) {
    Host h;
    EXPECT_EQ(Words(h.core, row.text), row.words) << ToUtf8(row.text);
  }
}

// The usual shapes of a word are read by a shortcut; it must leave every
// word and every position exactly as the general loop does.
TEST(WordScanner, UsualWordsAreReadAsTheGeneralLoopReadsThem) {
  const std::u16string alphabet = u"ab1 +-=<>&,()\"#\r\n.";
  std::uint32_t seed = 12345;
  auto random = [&](std::uint32_t below) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % below;
  };
  for (int round = 0; round < 3000; ++round) {
    std::u16string text;
    const auto length = random(14);
    for (std::uint32_t k = 0; k < length; ++k) text += alphabet[random(alphabet.size())];
    Host fast, general;
    general.core.read_usual_words_ = false;
    const std::int16_t a = fast.core.AddInstance(text);
    const std::int16_t b = general.core.AddInstance(text);
    for (int n = 0; n < 20; ++n) {
      const std::u16string x = fast.core.GetNextWord(a), y = general.core.GetNextWord(b);
      ASSERT_EQ(x, y) << ToUtf8(text) << " word " << n;
      ASSERT_EQ(fast.core.mintExpressionPtr[0], general.core.mintExpressionPtr[0])
          << ToUtf8(text) << " word " << n;
      if (x == u"<EOL>") break;
    }
  }
}

TEST(WordScanner, KeepsAnsweringEolAfterTheEnd) {
  Host h;
  const std::int16_t i = h.core.AddInstance(u"a");
  EXPECT_EQ(h.core.GetNextWord(i), u"a");
  for (int n = 0; n < 3; ++n) EXPECT_EQ(h.core.GetNextWord(i), u"<EOL>");
}

TEST(WordScanner, PeekNextWordLeavesTheWordToBeRead) {
  struct Row {
    std::u16string text, peeked, next;
  } rows[] = {
      {u"abc def", u"abc", u"abc"}, {u"abc", u"abc", u"abc"}, {u"abc\rdef", u"abc", u"abc\r"},
      {u"(x)", u"(", u"("},     // ended at its own character
      {u"x(y)", u"x(", u"x("},  // ended at an attached "("
      {u"a+b", u"a", u"a"},     // ended where an operator run begins
  };
  for (const auto& row : rows) {
    Host h;
    const std::int16_t i = h.core.AddInstance(row.text);
    EXPECT_EQ(h.core.PeekNextWord(i), row.peeked) << ToUtf8(row.text);
    EXPECT_EQ(h.core.GetNextWord(i), row.next) << ToUtf8(row.text);
  }
  Host h;
  const std::int16_t i = h.core.AddInstance(u"");
  EXPECT_EQ(h.core.PeekNextWord(i), u"");
  EXPECT_EQ(h.core.mintExpressionPtr[0], 1);  // the read past the end stays
}

TEST(WordScanner, PutLastWordStepsBackOverTheWordAndItsEnd) {
  Host h;
  const std::int16_t i = h.core.AddInstance(u"ELSE 3");
  const std::u16string w = h.core.GetNextWord(i);
  EXPECT_EQ(h.core.mintExpressionPtr[0], 5);
  EXPECT_TRUE(h.core.PutLastWord(i, w));
  EXPECT_EQ(h.core.mintExpressionPtr[0], 0);
  EXPECT_TRUE(h.core.PutLastWord(i, u""));
  EXPECT_EQ(h.core.mintExpressionPtr[0], 0);
}

TEST(CharScanner, ReadsPeeksAndStepsBack) {
  Host h;
  EXPECT_EQ(h.core.AddInstance(u"  ab  "), 0);
  EXPECT_EQ(h.core.mstrExpression[0], u"ab");
  EXPECT_EQ(h.core.PeekNextChar(0), u'a');
  EXPECT_EQ(h.core.mintExpressionPtr[0], 0);
  EXPECT_EQ(h.core.GetNextChar(0), u'a');
  EXPECT_EQ(h.core.GetNextChar(0), u'b');
  EXPECT_EQ(h.core.PeekNextChar(0), kEndOfText);
  EXPECT_EQ(h.core.mintExpressionPtr[0], 2);
  EXPECT_EQ(h.core.GetNextChar(0), kEndOfText);
  EXPECT_EQ(h.core.GetNextChar(0), kEndOfText);
  EXPECT_EQ(h.core.mintExpressionPtr[0], 4);
  EXPECT_TRUE(h.errors->reports().empty());
}

TEST(CharScanner, ReadingAtPositionZeroIsReported) {
  Host h;
  h.core.AddInstance(u"ab");
  EXPECT_TRUE(h.core.PutLastChar(0));
  EXPECT_EQ(h.core.mintExpressionPtr[0], -1);
  EXPECT_EQ(h.core.GetNextChar(0), kEndOfText);
  ASSERT_EQ(h.errors->reports().size(), 1u);
  EXPECT_EQ(h.errors->reports()[0].procedure, u"GetNextChar");
}

TEST(CharScanner, AnInstanceWithoutSlotReadsEndOfTextSilently) {
  Host h;
  EXPECT_EQ(h.core.GetNextChar(3), kEndOfText);
  EXPECT_TRUE(h.errors->reports().empty());
}

TEST(CharScanner, NoCharacterBeyondPosition32767IsRead) {
  Host h;
  const std::u16string text(32767, u'x');
  h.core.AddInstance(text);
  h.core.mintExpressionPtr[0] = 32766;
  EXPECT_EQ(h.core.GetNextChar(0), u'x');
  EXPECT_EQ(h.core.GetNextChar(0), kEndOfText);
  ASSERT_EQ(h.errors->reports().size(), 1u);
  EXPECT_EQ(h.errors->reports()[0].message, u"Error: -2147220983 - Subscript out of range");
}

TEST(Instances, GrowByIndexPlusFiveAndKeepTheirTexts) {
  Host h;
  for (int n = 0; n < 6; ++n) h.core.AddInstance(u"t" + std::u16string(1, char16_t(u'0' + n)));
  EXPECT_EQ(h.core.mstrExpression.size(), 6u);
  EXPECT_EQ(h.core.AddInstance(u"six"), 6);
  EXPECT_EQ(h.core.mstrExpression.size(), 12u);
  EXPECT_EQ(h.core.mobjStack.size(), 12u);
  EXPECT_EQ(h.core.mstrExpression[5], u"t5");
  EXPECT_TRUE(detail::IsArrayNotDimensioned(std::vector<int>{}));
  EXPECT_FALSE(detail::IsArrayNotDimensioned(std::vector<int>(1)));
}

TEST(Instances, StrExpressionNeedsAnExistingSlot) {
  Interpreter interp;
  try {
    interp.set_strExpression(0, u"x");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 9);
  }
}

TEST(Classifiers, SearchTheirListsAsText) {
  Host h;
  auto& c = h.core;
  EXPECT_EQ(c.mstrFunctionList, u", If, Format, Formathl7datetime, Replace");
  EXPECT_EQ(c.mstrOperatorList, u", + - * / \\ < > = == <= >= <> != &");
  EXPECT_EQ(c.mstrDelimiterList, u", (,  , ,, \"");
  for (auto w : {u"replace", u"FORMATHL7DATETIME", u"e", u"Form", u"at"})
    EXPECT_TRUE(c.IsFunction(w));
  for (auto w : {u"Format(", u"", u"  "}) EXPECT_FALSE(c.IsFunction(w));
  for (auto w : {u"<>", u"!", u",", u"= ==", u" + "}) EXPECT_TRUE(c.IsOperator(w));
  for (auto w : {u"=<", u"&&", u""}) EXPECT_FALSE(c.IsOperator(w));
  EXPECT_TRUE(c.IsDelimiter(u" "));
  EXPECT_TRUE(c.IsDelimiter(u"("));
  EXPECT_FALSE(c.IsDelimiter(u"\t"));
  EXPECT_TRUE(c.IsStringLiteral(u"\""));
  EXPECT_FALSE(c.IsStringLiteral(u""));
  EXPECT_TRUE(c.IsDateLiteral(u"#1/2/2003#"));
  EXPECT_TRUE(c.IsOpenParen(u"("));
  EXPECT_FALSE(c.IsOpenParen(u" ("));
}

// Records the names that Exists is asked for.
class AskingFields final : public Object {
 public:
  std::vector<std::u16string> asked;
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg> args) override {
    if (member != u"Exists") RaiseNoMember(member);
    asked.push_back(CStr(args[0].value()));
    return Variant::Null();  // a Null answer counts as false
  }
};

TEST(Classifiers, IsDataFieldAsksForTheProperCaseName) {
  auto fields = MakeRef<AskingFields>();
  detail::InterpreterCore core;
  std::u16string s, a;
  core.Init(fields, nullptr, s, a);
  EXPECT_FALSE(core.IsDataField(u"PATIENT name"));
  ASSERT_EQ(fields->asked.size(), 1u);
  EXPECT_EQ(fields->asked[0], u"Patient Name");
  detail::InterpreterCore without_fields;
  EXPECT_FALSE(without_fields.IsDataField(u"x"));
}

TEST(ProperCase, UppersFirstLetterAndLettersAfterSpaces) {
  EXPECT_EQ(detail::ProperCase(u"  patient NAME  "), u"Patient Name");
  EXPECT_EQ(detail::ProperCase(u"a  b"), u"A  B");
  EXPECT_EQ(detail::ProperCase(u""), u"");
  EXPECT_EQ(detail::ProperCase(u"FormatHL7DateTime"), u"Formathl7datetime");
  EXPECT_EQ(detail::ProperCase(u"ÉCOLE é"), u"École É");
}

}  // namespace
}  // namespace tarn::testing
