// The word scanner: how texts are cut into words.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarn::testing
