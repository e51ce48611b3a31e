// The character scanner, the word scanner and the classifiers.
#include <gtest/gtest.h>

#include <vector>

#include "support/host_fixture.h"
#include "support/text_tools.h"

namespace tarn::testing {
namespace {

using detail::kEndOfText;

std::u16string Next(CoreHost& h, detail::Frame& f) {
  std::u16string w;
  h.core.GetNextWord(f, w);
  return w;
}

std::u16string Words(CoreHost& h, const std::u16string& text) {
  detail::Frame& f = h.Open(text);
  std::u16string out;
  for (int n = 0; n < 40; ++n) {
    std::u16string w = Next(h, f);
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
    CoreHost h;
    EXPECT_EQ(Words(h, row.text), row.words) << ToUtf8(row.text);
  }
}

TEST(WordScanner, KeepsAnsweringEolAfterTheEnd) {
  CoreHost h;
  detail::Frame& f = h.Open(u"a");
  EXPECT_EQ(Next(h, f), u"a");
  for (int n = 0; n < 3; ++n) EXPECT_EQ(Next(h, f), u"<EOL>");
}

TEST(WordScanner, PeekNextWordLeavesTheWordToBeRead) {
  struct Row {
    std::u16string text, peeked, next;
  } rows[] = {
      {u"abc def", u"abc", u"abc"}, {u"abc", u"abc", u"abc"}, {u"abc\rdef", u"abc", u"abc\r"},
      {u"(x)", u"(", u"("},     // ended at its own character
      {u"x(y)", u"x(", u"x("},  // ended at an attached "("
      {u"a+b", u"a", u"a"},     // ended where an operator run begins
      {u"", u"", u"<EOL>"},
  };
  for (const auto& row : rows) {
    CoreHost h;
    detail::Frame& f = h.Open(row.text);
    EXPECT_EQ(h.core.PeekNextWord(f), row.peeked) << ToUtf8(row.text);
    EXPECT_EQ(Next(h, f), row.next) << ToUtf8(row.text);
  }
}

TEST(WordScanner, PutLastWordStepsBackOverTheWordAndItsEnd) {
  CoreHost h;
  detail::Frame& f = h.Open(u"ELSE 3");
  const std::u16string w = Next(h, f);
  EXPECT_TRUE(h.core.PutLastWord(f, w));
  EXPECT_EQ(Next(h, f), u"ELSE");
  EXPECT_TRUE(h.core.PutLastWord(f, u""));
  EXPECT_EQ(Next(h, f), u"3");
}

TEST(CharScanner, ReadsPeeksAndStepsBack) {
  CoreHost h;
  detail::Frame& f = h.Open(u"  ab  ");
  EXPECT_EQ(h.core.PeekNextChar(f), u'a');
  EXPECT_EQ(h.core.GetNextChar(f), u'a');
  EXPECT_EQ(h.core.GetNextChar(f), u'b');
  EXPECT_EQ(h.core.PeekNextChar(f), kEndOfText);
  EXPECT_EQ(h.core.GetNextChar(f), kEndOfText);
  EXPECT_EQ(h.core.GetNextChar(f), kEndOfText);
  EXPECT_TRUE(h.core.PutLastChar(f));
  EXPECT_TRUE(h.core.PutLastChar(f));
  EXPECT_TRUE(h.core.PutLastChar(f));
  EXPECT_EQ(h.core.GetNextChar(f), u'b');
  EXPECT_TRUE(h.errors->reports().empty());
}

TEST(CharScanner, ReadingAtPositionZeroIsReported) {
  CoreHost h;
  detail::Frame& f = h.Open(u"ab");
  EXPECT_TRUE(h.core.PutLastChar(f));
  EXPECT_EQ(h.core.GetNextChar(f), kEndOfText);
  ASSERT_EQ(h.errors->reports().size(), 1u);
  EXPECT_EQ(h.errors->reports()[0].procedure, u"GetNextChar");
}

TEST(Instances, StrExpressionNeedsAnExistingSlot) {
  Host h;
  EXPECT_THROW(h.interp.set_strExpression(0, u"x"), RuntimeError);  // no call yet
  h.Eval(u"1");
  h.interp.set_strExpression(5, u"x");  // a call makes six slots
  try {
    h.interp.set_strExpression(6, u"x");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 9);
  }
}

TEST(Classifiers, SearchTheirListsAsText) {
  CoreHost h;
  auto& c = h.core;
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
