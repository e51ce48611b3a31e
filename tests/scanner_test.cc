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

}  // namespace
}  // namespace tarn::testing
