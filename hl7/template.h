// Message templates: one HL7 v2 segment per line in pipe notation, with
// expressions between "{{" and "}}". "@each LIST:" repeats a segment (or, on
// a line of its own, a group up to "@end") once per element of a list;
// "@if {{...}}:" writes it only when the expression is True; "{{@each
// LIST}}...{{@end}}" inside a field writes one repetition per element;
// "{{?...}}" leaves its field empty when a field it names is missing or empty.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tarn::hl7 {

// The delimiters that MSH-1 and MSH-2 declare.
struct Delimiters {
  char field = '|';
  char component = '^';
  char repetition = '~';
  char escape = '\\';
  char subcomponent = '&';
  char truncation = '\0';  // the fifth encoding character; none when not declared
};

struct Position {
  int line = 0;
  int column = 0;  // 1-based, in characters
};

struct Expression {
  std::u16string text;  // line breaks inside are CR LF
  Position at;          // of the opening "{{"
  // "{{?...}}": an empty value, not a reject, when a field it names is
  // missing or empty.
  bool optional = false;
};

// How deep "@each" and "@if" groups may nest.
inline constexpr std::size_t kMaxGroupNesting = 64;

// Literal text, or the expression whose escaped value goes in its place,
// or the start of a run of pieces repeated once per element of a list.
struct Piece {
  std::string literal;
  int expression = -1;  // index into Template::expressions
  std::string repeat;   // "{{@each LIST}}": the list
  int repeat_end = -1;  // for a repeat: the index of its "{{@end}}" piece
};

struct SegmentLine {
  std::string id;      // "PID"
  std::string list;    // the @each list, empty for a plain segment
  int condition = -1;  // the @if expression (index into expressions), -1 for none
  Position at;
  std::vector<Piece> pieces;
};

// One entry of a group: a segment line or a group inside it.
struct GroupItem {
  int segment = -1;
  int group = -1;
};

// Segments written together: once (the whole template, or an "@if"
// group), or once per element of a list.
struct Group {
  std::string list;
  int condition = -1;
  Position at;
  std::vector<GroupItem> items;
};

struct Template {
  std::string file;
  Delimiters delimiters;
  std::vector<SegmentLine> segments;
  std::vector<Expression> expressions;
  std::vector<Group> groups;  // groups[0] is the whole template
};

class TemplateError : public std::runtime_error {
 public:
  TemplateError(const std::string& file, Position at, const std::string& message);
  const std::string& file() const noexcept { return file_; }
  Position at() const noexcept { return at_; }

 private:
  std::string file_;
  Position at_;
};

// `file` names the source in messages only. Throws TemplateError.
Template ParseTemplate(const std::string& text, const std::string& file);
Template LoadTemplate(const std::string& path);

}  // namespace tarn::hl7
