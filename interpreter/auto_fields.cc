// Temporary (automatic) data fields. Every literal, operator and computed
// value becomes a DataField in the host's own collection under a generated
// name ("Autodf1", "Autodf2", ...). The collection owns the field; the
// interpreter keeps only its name, in the list of names in use and in the
// hold-table row of the frame that made it, and the entry point's clean-up
// removes the field and frees the name when that frame ends.
#include <charconv>
#include <cstring>

#include "interpreter/interpreter_core.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "platform/thread_exit.h"
#include "support/text_tools.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {

// The text without surrounding spaces and without its delimiters.
std::u16string_view DelimitedPart(std::u16string_view text, char16_t delimiter) {
  std::u16string_view t = TrimSpaces(text);
  if (!t.empty() && t.front() == delimiter) {
    t.remove_prefix(1);
    if (!t.empty() && t.back() == delimiter) t.remove_suffix(1);
  }
  return t;
}

// The number part of a generated name; names are our own, so digits are the
// rule and the platform's conversion the fallback.
int NameNumber(std::u16string_view digits) {
  if (!digits.empty() && digits.size() <= 5) {
    int n = 0;
    bool plain = true;
    for (char16_t c : digits) {
      if (c < u'0' || c > u'9') {
        plain = false;
        break;
      }
      n = n * 10 + (c - u'0');
    }
    if (plain) return n;
  }
  return CInt(Variant(digits));
}
}  // namespace

namespace {
// A number literal's value as its field keeps it: a whole number in the Long
// range as a Long, any other as a Double. False, with `out` unchanged, when
// CLng might overflow rounding it: the caller lets CLng decide.
bool NumberLiteralValue(double d, Variant& out) noexcept {
  if (d >= -2147483648.0 && d <= 2147483647.0) {
    const auto l = static_cast<std::int32_t>(d);
    if (static_cast<double>(l) == d) {
      out = l;
      return true;
    }
  }
  if (!(d > -2147483648.0 && d < 2147483647.0)) return false;
  out = d;
  return true;
}

}  // namespace

// The one way a temporary field is made: a new name, held by the frame
// before the host sees the field, then the field added and pushed. A host
// that fails on the way may have kept the field, so the name stays held
// and the clean-up removes whatever is there. A name whose field the
// collection refused is freed at once, so that a text that fails the same
// way on every call cannot use up the names.
bool InterpreterCore::PushTemporary(Frame& f, std::u16string_view procedure,
                                    std::u16string_view type, const TemporaryValue& value,
                                    bool through_mcol) noexcept {
  return Guarded(procedure, false, [&] {
    const int at = GetNewDataFieldName();
    if (at < 0) return false;  // no name left: already reported
    if (!AddNameToHoldArray(f, names_[static_cast<std::size_t>(at)])) {
      RemoveAutoDataFieldNameFromList(names_[static_cast<std::size_t>(at)]);
      return false;
    }
    const std::int16_t slot = f.held_top;
    NameText& held = f.held[static_cast<std::size_t>(slot)];
    // A host may keep the field under a key of its own making. The clean-up
    // removes it by that key, and the name given must be freed too, or the
    // list's numbers would drift and run out call after call: the same name
    // in other capitals takes its place in the list, any other is freed
    // with the frame's names.
    struct AfterAdd {
      InterpreterCore& core;
      Frame& f;
      const NameText& held;
      int at;
      ~AfterAdd() {
        if (held.generated() <= 0) core.FollowHostsKey(f, held, at);
      }
    } follow{*this, f, held, at};
    ObjectRef field =
        OnHost([&](auto& host) { return host.AddTemporary(held, type, value, through_mcol); });
    if (!field) {  // `held` is still the name given
      RemoveAutoDataFieldNameFromList(held);
      held.clear();
      if (f.held_top == slot) --f.held_top;
      return false;
    }
    f.stack.Push(std::move(field));
    return true;
  });
}

void InterpreterCore::FollowHostsKey(Frame& f, const NameText& held, int at) noexcept {
  if (held.empty() || at > names_top_) return;
  NameText& listed = names_[static_cast<std::size_t>(at)];
  if (listed.empty() || SameText(listed, held)) return;
  if (EqualsIgnoreCase(listed, held)) {
    listed.assign(held);
    return;
  }
  try {
    f.given_names.push_back(listed);
  } catch (...) {
    const NameText given = listed;
    RemoveAutoDataFieldNameFromList(given);
  }
}

bool InterpreterCore::CreateStringDataField(Frame& f, std::u16string_view word) {
  return PushTemporary(f, u"CreateStringDataField"sv, u"String"sv,
                       {DelimitedPart(word, u'"'), nullptr});
}

bool InterpreterCore::CreateOperatorDataField(Frame& f, std::u16string_view word) {
  constexpr std::u16string_view kProc = u"CreateOperatorDataField"sv;
  if (!PushTemporary(f, kProc, u"Operator"sv, {DelimitedPart(word, u'"'), nullptr})) return false;
  if (!strict_) return true;  // only strict mode asks whether the answer is an operator
  return Guarded(kProc, true, [&] {
    f.operators.push_back(f.stack.PeekStack().get());
    return true;
  });
}

bool InterpreterCore::CreateNumericDataField(Frame& f, double number) {
  constexpr std::u16string_view kProc = u"CreateNumericDataField"sv;
  Variant value;
  if (!NumberLiteralValue(number, value) && !Guarded(kProc, false, [&] {
        CLng(number);  // raises when the rounding leaves the Long range
        value = number;
        return true;
      }))
    return false;
  return PushTemporary(f, kProc, value.kind() == Kind::Long ? u"Long"sv : u"Double"sv,
                       {{}, &value});
}

bool InterpreterCore::CreateDateDataField(Frame& f, std::u16string_view word) {
  constexpr std::u16string_view kProc = u"CreateDateDataField"sv;
  Variant value;
  if (!Guarded(kProc, false, [&] {
        value = CDate(Variant(std::u16string(DelimitedPart(word, u'#'))));
        return true;
      }))
    return false;
  return PushTemporary(f, kProc, u"Date"sv, {{}, &value});
}

namespace {
// The type word of a value, which the value keeps as it is.
std::u16string_view TypeWord(Kind kind) noexcept {
  switch (kind) {
    case Kind::String: return u"String"sv;
    case Kind::Long: return u"Long"sv;
    case Kind::Integer: return u"Integer"sv;
    case Kind::Boolean: return u"Boolean"sv;
    case Kind::Single: return u"Single"sv;
    case Kind::Double: return u"Double"sv;
    case Kind::Date: return u"Date"sv;
    default: return u"Variant"sv;
  }
}

// The text is the caller's to give: its delimiters come off in place.
void StripInPlace(std::u16string& text) noexcept {
  const std::u16string_view part = DelimitedPart(text, u'"');
  const auto b = static_cast<std::size_t>(part.data() - text.data());
  text.erase(b + part.size());
  text.erase(0, b);
}
}  // namespace

bool InterpreterCore::CreateDataFieldFromVariant(Frame& f, Variant& value, bool through_mcol) {
  constexpr std::u16string_view kProc = u"CreateDataFieldFromVariant"sv;
  if (value.is_string()) {
    StripInPlace(value.string());
  } else if (value.kind() == Kind::Date) {
    // A computed date makes a round trip through its text.
    if (!Guarded(kProc, false, [&] {
          value = CDate(Variant(std::u16string(DelimitedPart(CStr(value), u'#'))));
          return true;
        }))
      return false;
  }
  return PushTemporary(f, kProc, TypeWord(value.kind()), {{}, &value}, through_mcol);
}

void InterpreterCore::PushResult(Frame& f, Variant&& value) {
  // What the collection then fails to find.
  if (!CreateDataFieldFromVariant(f, value)) Raise(err::kInvalidProcedureCall);
}

namespace {
constexpr std::u16string_view kNamePrefix = u"Autodf"sv;  // ProperCase("AUTODF")

// Writes `prefix` and the decimal digits of `n` to `out` (room for 16);
// gives the length.
TARN_ALWAYS_INLINE std::size_t WriteName(char16_t* out, std::u16string_view prefix, int n) {
  std::size_t len = prefix.size();
  if (len == kNamePrefix.size())
    std::memcpy(out, prefix.data(), kNamePrefix.size() * sizeof(char16_t));
  else
    std::memcpy(out, prefix.data(), len * sizeof(char16_t));
  if (n >= 0) {  // the usual case, without the general conversion
    char16_t reversed[6];
    int k = 0;
    do {
      reversed[k++] = static_cast<char16_t>(u'0' + n % 10);
      n /= 10;
    } while (n > 0);
    while (k > 0) out[len++] = reversed[--k];
    return len;
  }
  char digits[8];
  const char* end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  for (const char* d = digits; d != end; ++d) out[len++] = static_cast<char16_t>(*d);
  return len;
}

}  // namespace

// Whether the host holds the name just put at the top of the list; a host
// that fails takes the name off the list again, which no frame holds yet.
bool InterpreterCore::AskHostOrUndo(NameText& name) {
  try {
    return OnHost([&](auto& host) { return host.NameTaken(name); });
  } catch (...) {
    name.clear();
    names_top_ = static_cast<std::int16_t>(names_top_ - 1);
    throw;
  }
}

int InterpreterCore::GetNewDataFieldName() {
  // The usual case: room in the list after a generated name whose number
  // has a successor. Anything else, and a name the host holds, goes on in
  // the loop below, which reports what fails.
  if (const int next = names_top_ + 1; next > 0 && static_cast<std::size_t>(next) < names_.size()) {
    if (const int n = names_[static_cast<std::size_t>(next) - 1].generated();
        n > 0 && n < kMaxPosition) {
      char16_t text[16];
      NameText& name = names_[static_cast<std::size_t>(next)];
      name.assign_generated(std::u16string_view(text, WriteName(text, kNamePrefix, n + 1)), n + 1);
      names_top_ = static_cast<std::int16_t>(next);
      if (!NameTakenOrUndo(name)) return next;
    }
  }
  return Guarded(u"GetNewDataFieldName"sv, -1, [&] {
    for (;;) {
      // The top moves only once the new name is made, so that running out
      // of numbers leaves the list as it was.
      std::int16_t next = Checked16(names_top_ + 1);
      if (IsArrayNotDimensioned(names_)) {
        names_.resize(kArrayGrowth + 1);
        next = 0;
      } else if (static_cast<std::size_t>(next) >= names_.size()) {
        names_.resize(static_cast<std::size_t>(next) + kArrayGrowth + 1);
      }
      const auto top = static_cast<std::size_t>(next);
      // Each name is the one before it with its number plus one; the first
      // follows "Autodf0".
      int n = top == 0 ? 0 : names_[top - 1].generated();
      if (n == 0) n = top == 0 ? 0 : GeneratedNameNumber(names_[top - 1]);
      char16_t text[16];
      std::size_t len;
      const bool usual = n >= 0;
      if (usual) {
        n = Checked16(n + 1);
        len = WriteName(text, kNamePrefix, n);
      } else {
        const std::u16string_view prev = names_[top - 1];
        const std::u16string_view prefix = prev.substr(0, std::min<std::size_t>(6, prev.size()));
        n = Checked16(NameNumber(prev.substr(prefix.size())) + 1);
        std::u16string& proper = ThreadLocal<std::u16string, struct NamePrefixTag>();
        if (prefix != kNamePrefix) ProperCaseInto(prefix, proper);
        len = WriteName(text, prefix == kNamePrefix ? kNamePrefix : proper, n);
      }
      NameText& name = names_[top];
      if (usual)
        name.assign_generated(std::u16string_view(text, len), n);
      else
        name.assign(std::u16string_view(text, len));
      names_top_ = next;
      if (!NameTakenOrUndo(name)) return static_cast<int>(next);
    }
  });
}

bool InterpreterCore::RemoveNameBelowTop(const NameText& name) {
  return Guarded(u"RemoveAutoDataFieldNameFromList"sv, false, [&] {
    const int highest = std::min<int>(names_top_, static_cast<int>(names_.size()) - 1);
    for (int i = highest; i >= 0; --i) {
      if (!SameText(names_[static_cast<std::size_t>(i)], name)) continue;
      for (int j = i; j < highest; ++j)
        names_[static_cast<std::size_t>(j)] = std::move(names_[static_cast<std::size_t>(j) + 1]);
      names_[static_cast<std::size_t>(highest)].clear();
      names_top_ = static_cast<std::int16_t>(names_top_ - 1);
      return true;
    }
    return false;
  });
}

bool InterpreterCore::GrowHoldRow(Frame& f, const NameText& name) {
  return Guarded(u"AddNameToHoldArray"sv, false, [&] {
    const int c = f.held_top;
    const std::int16_t next = Checked16(c + 1);
    f.held.resize(static_cast<std::size_t>(c) + kArrayGrowth + 1);
    f.held_top = next;
    f.held[static_cast<std::size_t>(next)].assign(name);
    return true;
  });
}

}  // namespace tarn::detail
