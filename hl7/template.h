// Message templates: one HL7 v2 segment per line in pipe notation, with
// expressions between "{{" and "}}" and an optional "@each LIST:" prefix
// that repeats a segment once per element of a record's list.
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
};

// Literal text, or the expression whose escaped value goes in its place.
struct Piece {
  std::string literal;
  int expression = -1;  // index into Template::expressions
};

struct SegmentLine {
  std::string id;    // "PID"
  std::string list;  // the @each list, empty for a plain segment
  Position at;
  std::vector<Piece> pieces;
};

struct Template {
  std::string file;
  Delimiters delimiters;
  std::vector<SegmentLine> segments;
  std::vector<Expression> expressions;
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
