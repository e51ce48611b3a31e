// Message assembly: one interpreter evaluates a template's expressions
// against each record's fields; values are escaped for the template's
// delimiters and segments end in CR.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hl7/records.h"
#include "hl7/template.h"
#include "tarn/tarn.h"

namespace tarn::hl7 {

// Writes a value so that none of its characters reads as a delimiter: the
// escape character and the four separators become the escape sequences E, F,
// S, R and T between escape characters, a declared truncation character P;
// CR, LF and the bytes that frame messages on the wire (0x0B, 0x1C, NUL)
// become X0D, X0A, X0B, X1C and X00.
std::string Escape(std::string_view value, const Delimiters& d);
// The same for a value of 16-bit characters, appended to `out` as UTF-8.
void AppendEscaped(std::string& out, std::u16string_view value, const Delimiters& d);
// The characters below 128 that Escape rewrites, as bits by code.
struct EscapeSet {
  explicit EscapeSet(const Delimiters& d);
  std::uint64_t low = 0, high = 0;
};
void AppendEscaped(std::string& out, std::u16string_view value, const Delimiters& d,
                   const EscapeSet& set);

enum class Framing { None, Lf, Mllp };
std::string Frame(std::string_view message, Framing framing);

struct ExpressionFailure {
  Position at;
  std::string expression;
  std::string reason;
  std::vector<ErrorReport> reports;
};

struct Outcome {
  std::string message;  // unframed; empty when rejected
  std::string reason;   // a record-level reason
  std::vector<ExpressionFailure> failures;
  bool ok() const { return reason.empty() && failures.empty(); }
};

class MessageBuilder {
 public:
  explicit MessageBuilder(const Template& t);
  MessageBuilder(const MessageBuilder&) = delete;
  MessageBuilder& operator=(const MessageBuilder&) = delete;

  Outcome Build(const Record& record);

  // Also counts a name that is no field as a failure when the expression
  // succeeds anyway (in a branch not taken, say): what --check wants.
  void set_check_names(bool on) { check_names_ = on; }
  // The interpreter's strict mode: texts it would evaluate quietly to
  // something unmeant are reported, so the record is rejected.
  void set_strict(bool on) noexcept { interpreter_.set_strict(on); }

 private:
  // The lists that "@each" may name here, innermost scope last.
  using Scopes = std::vector<const std::vector<List>*>;

  void RenderGroup(const Group& group, Scopes& scopes, Outcome& out);
  void RenderLine(const SegmentLine& segment, Scopes& scopes, Outcome& out);
  // Calls `body` once per element of the list named `name`, with the
  // element's members as fields and its own lists innermost in `scopes`.
  template <class Body>
  void ForEach(const std::string& name, Scopes& scopes, Outcome& out, Body body);
  bool Holds(int condition, Outcome& out);
  void Render(const SegmentLine& segment, Scopes& scopes, Outcome& out);
  void RenderPieces(const SegmentLine& segment, std::size_t from, std::size_t to, Scopes& scopes,
                    Outcome& out);
  // Evaluates expression `index`; false (with the failure noted) when it
  // fails. `data` is the result's value, valid until the next evaluation.
  bool Realize(int index, Outcome& out, const Variant*& data);
  // Whether a field that an optional expression names is missing or empty.
  bool Absent(const Expression& e);
  // Appends the escaped value of expression `index` to the message.
  void AppendValue(int index, Outcome& out);
  void ClearFields();
  bool ReuseFields(const Record& record);

  const Template& template_;
  EscapeSet escapes_;
  // Per expression: a field's name alone, whose value is read from the
  // field whenever it exists (the interpreter would give that field).
  std::vector<bool> name_alone_;
  // Per expression: the record field such a name finds while no list
  // element is entered (null for none), and how many elements are entered.
  std::vector<ObjectRef> alone_field_;
  int entered_ = 0;
  Ref<DataFields> fields_ = MakeRef<DataFields>();
  struct RecordField {
    std::u16string name, type;
    Ref<DataField> field;
  };
  std::vector<RecordField> record_fields_;  // the current record's, in order
  Ref<RecordingErrorManager> errors_ = MakeRef<RecordingErrorManager>();
  Interpreter interpreter_;
  ObjectRef result_;     // the last evaluation's
  Variant result_data_;  // its value when the result is no DataField of ours
  bool check_names_ = false;
};

}  // namespace tarn::hl7
