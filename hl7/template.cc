// Reads a message template into segments of literal text and expressions,
// refusing with the file, line and column anything that cannot be a segment.
#include "hl7/template.h"

#include <cctype>

#include "hl7/io.h"
#include "tarn/value.h"

namespace tarn::hl7 {

namespace {

std::string Where(const std::string& file, Position at) {
  if (at.line == 0) return file;
  return file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
}

bool IsIdChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

struct RawPiece {
  bool expression = false;
  std::string text;
  Position at;
};

struct RawLine {
  Position at;
  std::vector<RawPiece> pieces;
};

class Parser {
 public:
  Parser(const std::string& text, const std::string& file) : s_(text), file_(file) {}

  Template Run() {
    Template t;
    t.file = file_;
    t.groups.push_back(Group{});
    open_ = {0};
    while (i_ < s_.size()) {
      if (SkipBlankOrComment()) continue;
      Add(t, ReadLine());
    }
    if (t.segments.empty()) Fail({1, 1}, "the template holds no segments");
    if (open_.size() > 1) {
      const Group& g = t.groups[open_.back()];
      Fail(g.at, std::string(g.list.empty() ? "'@if'" : "'@each " + g.list + "'") +
                     " is never closed by '@end'");
    }
    return t;
  }

 private:
  [[noreturn]] void Fail(Position at, const std::string& message) {
    throw TemplateError(file_, at, message);
  }

  Position Here() const { return {line_, column_}; }
  bool At(const char* two) const {
    return i_ + 1 < s_.size() && s_[i_] == two[0] && s_[i_ + 1] == two[1];
  }
  void Advance() {
    const char c = s_[i_++];
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++column_;
    }
  }
  // Consumes a line end ("\n", "\r\n" or a lone "\r"); false when there is none.
  bool LineEnd() {
    if (s_[i_] == '\n') {
      Advance();
      return true;
    }
    if (s_[i_] != '\r') return false;
    ++i_;  // a CR does not move the column that matters: the line ends here
    if (i_ < s_.size() && s_[i_] == '\n') {
      Advance();
    } else {
      ++line_;
      column_ = 1;
    }
    return true;
  }

  bool SkipBlankOrComment() {
    std::size_t j = i_;
    while (j < s_.size() && (s_[j] == ' ' || s_[j] == '\t')) ++j;
    const bool blank = j == s_.size() || s_[j] == '\n' || s_[j] == '\r';
    if (!blank && s_[j] != '#') return false;
    while (i_ < s_.size() && !LineEnd()) Advance();
    return true;
  }

  RawLine ReadLine() {
    RawLine line{Here(), {}};
    RawPiece literal;
    auto flush = [&] {
      if (!literal.text.empty()) line.pieces.push_back(std::move(literal));
      literal = RawPiece{};
    };
    while (i_ < s_.size()) {
      if (LineEnd()) break;
      if (At("{{")) {
        flush();
        line.pieces.push_back(ReadExpression());
      } else if (At("}}")) {
        Fail(Here(), "'}}' without an opening '{{'");
      } else {
        if (literal.text.empty()) literal.at = Here();
        literal.text += s_[i_];
        Advance();
      }
    }
    flush();
    return line;
  }

  RawPiece ReadExpression() {
    RawPiece piece{true, {}, Here()};
    Advance();
    Advance();
    bool quoted = false;
    for (;;) {
      if (i_ >= s_.size()) Fail(piece.at, "'{{' is never closed by '}}'");
      const char c = s_[i_];
      if (c == '"') quoted = !quoted;
      if (!quoted && At("}}")) {
        Advance();
        Advance();
        break;
      }
      if (!quoted && At("{{"))
        Fail(Here(), "'{{' inside the expression opened at " + std::to_string(piece.at.line) + ":" +
                         std::to_string(piece.at.column));
      if (c == '\n' || c == '\r') {
        LineEnd();
        piece.text += "\r\n";
      } else {
        piece.text += c;
        Advance();
      }
    }
    if (piece.text.find_first_not_of(" \t\r\n") == std::string::npos)
      Fail(piece.at, "an empty expression");
    return piece;
  }

  // The column of byte `n` of a literal that starts at `at`.
  static Position Offset(const RawPiece& p, std::size_t n) {
    Position at = p.at;
    for (std::size_t k = 0; k < n && k < p.text.size(); ++k)
      if ((static_cast<unsigned char>(p.text[k]) & 0xC0) != 0x80) ++at.column;
    return at;
  }

  static std::size_t SkipSpace(const std::string& text, std::size_t k) {
    while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
    return k;
  }

  // Reads the "@each LIST:", "@if {{...}}:" and "@end" directives at the
  // front of a line, leaving the segment (if any) as the line's pieces.
  void Add(Template& t, RawLine raw) {
    if (raw.pieces.front().expression)
      Fail(raw.at, "a segment line starts with its segment id, not with an expression");
    std::string list;
    int condition = -1;
    Position directive_at = raw.at;
    std::size_t k = 0;
    for (;;) {
      RawPiece& head = raw.pieces.front();
      std::string& lit = head.text;
      if (k >= lit.size() || lit[k] != '@') break;
      const auto word = [&](const char* w) {
        const std::size_t n = std::char_traits<char>::length(w);
        return lit.compare(k, n, w) == 0 && (k + n == lit.size() || lit[k + n] == ' ' ||
                                             lit[k + n] == '\t' || lit[k + n] == ':');
      };
      if (word("@end")) {
        if (raw.pieces.size() > 1 || SkipSpace(lit, k + 4) != lit.size())
          Fail(Offset(head, k), "'@end' stands on a line of its own");
        if (!list.empty() || condition >= 0) Fail(Offset(head, k), "'@end' after a directive");
        if (open_.size() == 1) Fail(Offset(head, k), "'@end' without an open '@each' or '@if'");
        open_.pop_back();
        return;
      }
      if (word("@each")) {
        if (!list.empty()) Fail(Offset(head, k), "one '@each' to a line");
        k = SkipSpace(lit, k + 5);
        const std::size_t name_start = k;
        while (k < lit.size() &&
               (std::isalnum(static_cast<unsigned char>(lit[k])) || lit[k] == '_'))
          ++k;
        if (k == name_start) Fail(Offset(head, k), "'@each' needs the name of a list");
        list = lit.substr(name_start, k - name_start);
        k = SkipSpace(lit, k);
        if (k >= lit.size() || lit[k] != ':')
          Fail(Offset(head, k), "expected ':' after the list name");
        k = SkipSpace(lit, k + 1);
        continue;
      }
      if (word("@if")) {
        if (condition >= 0) Fail(Offset(head, k), "one '@if' to a line");
        if (SkipSpace(lit, k + 3) != lit.size() || raw.pieces.size() < 2)
          Fail(Offset(head, k), "'@if' is followed by its condition in '{{' and '}}'");
        RawPiece expression = std::move(raw.pieces[1]);
        condition = static_cast<int>(t.expressions.size());
        const std::size_t q = SkipSpace(expression.text, 0);
        const bool optional = q < expression.text.size() && expression.text[q] == '?';
        t.expressions.push_back(
            {FromUtf8(optional ? expression.text.substr(q + 1) : expression.text), expression.at,
             optional});
        raw.pieces.erase(raw.pieces.begin(), raw.pieces.begin() + 2);
        if (raw.pieces.empty() || raw.pieces.front().expression ||
            SkipSpace(raw.pieces.front().text, 0) >= raw.pieces.front().text.size() ||
            raw.pieces.front().text[SkipSpace(raw.pieces.front().text, 0)] != ':')
          Fail(expression.at, "expected ':' after the condition");
        k = SkipSpace(raw.pieces.front().text, SkipSpace(raw.pieces.front().text, 0) + 1);
        continue;
      }
      Fail(Offset(head, k), "unknown directive; expected '@each LIST:', '@if {{...}}:' or '@end'");
    }
    RawPiece& head = raw.pieces.front();
    std::string& lit = head.text;
    if (!list.empty() || condition >= 0) {
      directive_at = raw.at;
      if (k >= lit.size() && raw.pieces.size() == 1) {  // a group opens
        if (t.segments.empty()) Fail(directive_at, "the first segment must be MSH");
        if (open_.size() > kMaxGroupNesting)
          Fail(directive_at,
               "groups nest deeper than " + std::to_string(kMaxGroupNesting) + " levels");
        Group g;
        g.list = list;
        g.condition = condition;
        g.at = directive_at;
        t.groups.push_back(std::move(g));
        const int index = static_cast<int>(t.groups.size()) - 1;
        t.groups[open_.back()].items.push_back({-1, index});
        open_.push_back(index);
        return;
      }
    }
    SegmentLine seg;
    seg.list = list;
    seg.condition = condition;
    const Position id_at = Offset(head, k);
    const bool id_ok =
        lit.size() >= k + 3 && IsIdChar(lit[k]) && IsIdChar(lit[k + 1]) && IsIdChar(lit[k + 2]);
    if (!id_ok)
      Fail(id_at,
           "a segment id is three upper-case letters or digits (found '" + lit.substr(k, 3) + "')");
    seg.id = lit.substr(k, 3);
    seg.at = id_at;
    const std::size_t after = k + 3;
    const bool first = t.segments.empty();
    if (first && seg.id != "MSH")
      Fail(id_at, "the first segment must be MSH, which declares the delimiters");
    if (!first && seg.id == "MSH") Fail(id_at, "MSH may appear only once, as the first segment");
    if (seg.id == "MSH") {
      if (!seg.list.empty()) Fail(raw.at, "MSH cannot repeat");
      if (seg.condition >= 0) Fail(raw.at, "MSH is always written");
      ReadDelimiters(t, head, after);
    } else if (after < lit.size() && lit[after] != t.delimiters.field) {
      Fail(Offset(head, after), std::string("expected the field separator '") + t.delimiters.field +
                                    "' after the segment id");
    } else if (after == lit.size() && raw.pieces.size() > 1) {
      Fail(Offset(head, after), std::string("expected the field separator '") + t.delimiters.field +
                                    "' after the segment id");
    }
    lit.erase(0, k);
    int repeat_open = -1;
    for (RawPiece& p : raw.pieces) {
      if (!p.expression) {
        seg.pieces.push_back({std::move(p.text), -1, {}, -1});
        continue;
      }
      // "{{@each LIST}}" and "{{@end}}" mark a run of repetitions.
      const std::size_t a = SkipSpace(p.text, 0);
      std::size_t z = p.text.size();
      while (z > a && (p.text[z - 1] == ' ' || p.text[z - 1] == '\t')) --z;
      const std::string inner = p.text.substr(a, z - a);
      if (inner == "@end") {
        if (repeat_open < 0) Fail(p.at, "'{{@end}}' without '{{@each LIST}}'");
        seg.pieces[repeat_open].repeat_end = static_cast<int>(seg.pieces.size());
        seg.pieces.push_back({});
        repeat_open = -1;
      } else if (inner.compare(0, 5, "@each") == 0) {
        const std::size_t n = SkipSpace(inner, 5);
        std::size_t e = n;
        while (e < inner.size() &&
               (std::isalnum(static_cast<unsigned char>(inner[e])) || inner[e] == '_'))
          ++e;
        if (n == 5 || e == n || e != inner.size()) Fail(p.at, "'{{@each LIST}}' names one list");
        if (repeat_open >= 0) Fail(p.at, "repetitions do not nest");
        repeat_open = static_cast<int>(seg.pieces.size());
        seg.pieces.push_back({{}, -1, inner.substr(n), -1});
      } else if (!inner.empty() && inner[0] == '@') {
        Fail(p.at, "unknown directive; expected '{{@each LIST}}' or '{{@end}}'");
      } else {
        seg.pieces.push_back({{}, static_cast<int>(t.expressions.size()), {}, -1});
        const bool optional = !inner.empty() && inner[0] == '?';
        t.expressions.push_back(
            {FromUtf8(optional ? std::string_view(p.text).substr(a + 1) : p.text), p.at, optional});
        if (optional && inner.size() == 1) Fail(p.at, "'{{?}}' needs an expression");
      }
    }
    if (repeat_open >= 0)
      Fail(raw.at, "'{{@each " + seg.pieces[repeat_open].repeat +
                       "}}' is never closed by '{{@end}}' on its line");
    t.groups[open_.back()].items.push_back({static_cast<int>(t.segments.size()), -1});
    t.segments.push_back(std::move(seg));
  }

  // "MSH|^~\&|": the field separator, then four (or five) encoding characters.
  void ReadDelimiters(Template& t, const RawPiece& head, std::size_t k) {
    const std::string& lit = head.text;
    if (k >= lit.size()) Fail(Offset(head, k), "MSH without its field separator");
    const char fs = lit[k];
    auto usable = [&](char c) {
      return std::isgraph(static_cast<unsigned char>(c)) &&
             !std::isalnum(static_cast<unsigned char>(c)) && c != '{' && c != '}';
    };
    if (!usable(fs)) Fail(Offset(head, k), "MSH-1 is no usable field separator");
    const std::size_t enc = k + 1;
    std::size_t end = lit.find(fs, enc);
    if (end == std::string::npos) end = lit.size();
    const std::string chars = lit.substr(enc, end - enc);
    if (chars.size() < 4 || chars.size() > 5)
      Fail(Offset(head, enc), "MSH without its encoding characters (MSH-2 needs four, e.g. ^~\\&)");
    for (std::size_t a = 0; a < chars.size(); ++a) {
      if (!usable(chars[a]) || chars[a] == fs || chars.find(chars[a], a + 1) != std::string::npos)
        Fail(Offset(head, enc + a), "MSH-2 holds an unusable or repeated encoding character");
    }
    t.delimiters = {fs,       chars[0], chars[1],
                    chars[2], chars[3], chars.size() == 5 ? chars[4] : '\0'};
  }

  const std::string& s_;
  const std::string& file_;
  std::size_t i_ = 0;
  std::vector<int> open_;  // the groups open at this line, innermost last
  int line_ = 1;
  int column_ = 1;
};

}  // namespace

TemplateError::TemplateError(const std::string& file, Position at, const std::string& message)
    : std::runtime_error(Where(file, at) + ": " + message), file_(file), at_(at) {}

Template ParseTemplate(const std::string& text, const std::string& file) {
  return Parser(text, file).Run();
}

Template LoadTemplate(const std::string& path) {
  std::string text;
  try {
    text = ReadInput(path);
  } catch (const FileError& e) {
    throw TemplateError(path, {}, e.problem());
  }
  return ParseTemplate(text, path);
}

}  // namespace tarn::hl7
