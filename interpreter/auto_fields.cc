// Temporary (automatic) data fields. Every literal, operator and computed
// value becomes a DataField in the host's own collection under a generated
// name ("Autodf1", "Autodf2", ...). The collection owns the field; the
// interpreter keeps only its name, in the list of names in use and in the
// hold-table row of the instance that made it, and the entry point's
// clean-up removes the field and frees the name when that instance ends.
#include <charconv>
#include <cmath>
#include <cstring>

#include "host/host_calls.h"
#include "interpreter/interpreter_core.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "support/text_tools.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {
[[noreturn]] void RaiseOverflow() { Raise(err::kOverflow); }

inline std::int16_t Checked16(int v) {
  if (v < -32768 || v > 32767) [[unlikely]]
    RaiseOverflow();
  return static_cast<std::int16_t>(v);
}

// The text without surrounding spaces and without its delimiters.
std::u16string_view DelimitedPart(std::u16string_view text, char16_t delimiter) {
  std::u16string_view t = TrimSpaces(text);
  if (!t.empty() && t.front() == delimiter) {
    t.remove_prefix(1);
    if (!t.empty() && t.back() == delimiter) t.remove_suffix(1);
  }
  return t;
}

std::u16string StripDelimiter(std::u16string_view text, char16_t delimiter) {
  return std::u16string(DelimitedPart(text, delimiter));
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

std::u16string InterpreterCore::RemoveStringDelimiters(std::u16string_view text) {
  return StripDelimiter(text, u'"');
}

std::u16string InterpreterCore::RemoveDateDelimiters(std::u16string_view text) {
  return StripDelimiter(text, u'#');
}

namespace {
// The frame every constructor shares: a new field under a new name, its
// properties assigned in the order given, then added to the collection.
//
// A name whose field never reached the collection is freed again, so that
// a text that fails the same way on every call cannot use up the names.
template <class Assign>
std::u16string MakeField(InterpreterCore& core, Assign&& assign) {
  ObjectRef field = NewTemporaryField(core.field_factory_);
  std::u16string name = core.GetNewDataFieldName();
  if (name.empty()) return {};  // no name left: already reported
  const int number = core.last_name_number_;
  try {
    FieldSetText(field, TextMember::Name, name);
    assign(field);
    bool added;
    if (number > 0 && NativeField(field))
      added = core.OwnFields()->AddGenerated(number, field);
    else
      added = FieldsAddObject(core.mobjDataFields, field) == 0;
    if (!added) {
      core.RemoveAutoDataFieldNameFromList(name);
      return {};
    }
  } catch (...) {
    core.RemoveAutoDataFieldNameFromList(name);
    throw;
  }
  core.last_new_field_ = std::move(field);
  // The library's own field keeps the name as given.
  if (NativeField(core.last_new_field_)) return name;
  return FieldName(core.last_new_field_);
}
}  // namespace

std::u16string InterpreterCore::CreateStringDataField(std::u16string& strWord) {
  return Guarded(u"CreateStringDataField"sv, std::u16string(), [&] {
    return MakeField(*this, [&](const ObjectRef& f) {
      FieldSetText(f, TextMember::DataType, u"String"sv);
      FieldLetData(f, RemoveStringDelimiters(TrimSpaces(strWord)));
      FieldSetText(f, TextMember::DataClass, u"Auto"sv);
    });
  });
}

std::u16string InterpreterCore::CreateOperatorDataField(std::u16string& strWord) {
  return Guarded(u"CreateOperatorDataField"sv, std::u16string(), [&] {
    return MakeField(*this, [&](const ObjectRef& f) {
      FieldSetText(f, TextMember::DataType, u"Operator"sv);
      FieldSetText(f, TextMember::DataClass, u"Auto"sv);
      FieldLetData(f, RemoveStringDelimiters(TrimSpaces(strWord)));
    });
  });
}

std::u16string InterpreterCore::CreateNumericDataField(std::u16string& strWord) {
  return CreateNumericDataField(ParseNumber(strWord));
}

std::u16string InterpreterCore::CreateNumericDataField(std::optional<double> parsed) {
  return Guarded(u"CreateNumericDataField"sv, std::u16string(), [&] {
    return MakeField(*this, [&](const ObjectRef& f) {
      FieldSetText(f, TextMember::DataClass, u"Auto"sv);
      // The word is read once; its Long form is the rounded Double.
      if (!parsed) Raise(err::kTypeMismatch);
      const double d = *parsed;
      // A whole number in range is its own Long; anything else is rounded
      // (and checked) as CLng rounds it.
      const bool whole = d >= -2147483648.0 && d <= 2147483647.0 && d == std::trunc(d);
      const std::int32_t l = whole ? static_cast<std::int32_t>(d) : CLng(d);
      if (d != static_cast<double>(l)) {
        FieldSetText(f, TextMember::DataType, u"Double"sv);
        FieldLetData(f, d);
      } else {
        FieldSetText(f, TextMember::DataType, u"Long"sv);
        FieldLetData(f, l);
      }
    });
  });
}

std::u16string InterpreterCore::CreateDateDataField(std::u16string& strWord) {
  return Guarded(u"CreateDateDataField"sv, std::u16string(), [&] {
    return MakeField(*this, [&](const ObjectRef& f) {
      FieldSetText(f, TextMember::DataType, u"Date"sv);
      FieldSetText(f, TextMember::DataClass, u"Auto"sv);
      FieldLetData(f, CDate(Variant(RemoveDateDelimiters(strWord))));
    });
  });
}

std::u16string InterpreterCore::CreateDataFieldFromVariant(Variant&& varValue) {
  if (varValue.is_string()) {
    // The text is the caller's to give: its delimiters come off in place.
    std::u16string& text = varValue.string();
    const std::u16string_view part = DelimitedPart(text, u'"');
    const auto b = static_cast<std::size_t>(part.data() - text.data());
    text.erase(b + part.size());
    text.erase(0, b);
  }
  std::u16string_view type;
  switch (varValue.kind()) {
    // The value is its own conversion: it is moved into the field as it is.
    case Kind::String: type = u"String"sv; break;
    case Kind::Long: type = u"Long"sv; break;
    case Kind::Integer: type = u"Integer"sv; break;
    case Kind::Boolean: type = u"Boolean"sv; break;
    case Kind::Single: type = u"Single"sv; break;
    case Kind::Double: type = u"Double"sv; break;
    default: return CreateDataFieldFromVariant(static_cast<const Variant&>(varValue));
  }
  return Guarded(u"CreateDataFieldFromVariant"sv, std::u16string(), [&] {
    return MakeField(*this, [&](const ObjectRef& f) {
      FieldSetText(f, TextMember::DataType, type);
      FieldLetData(f, std::move(varValue));
      FieldSetText(f, TextMember::DataClass, u"Auto"sv);
    });
  });
}

std::u16string InterpreterCore::CreateDataFieldFromVariant(const Variant& varValue) {
  return Guarded(u"CreateDataFieldFromVariant"sv, std::u16string(), [&] {
    return MakeField(*this, [&](const ObjectRef& f) {
      auto set = [&](std::u16string_view type, Variant data) {
        FieldSetText(f, TextMember::DataType, type);
        FieldLetData(f, std::move(data));
      };
      switch (varValue.kind()) {
        case Kind::String: set(u"String"sv, RemoveStringDelimiters(varValue.string())); break;
        case Kind::Long: set(u"Long"sv, CLng(varValue)); break;
        case Kind::Integer: set(u"Integer"sv, CInt(varValue)); break;
        case Kind::Boolean: set(u"Boolean"sv, CBool(varValue)); break;
        case Kind::Single: set(u"Single"sv, CSng(varValue)); break;
        case Kind::Double: set(u"Double"sv, CDbl(varValue)); break;
        // A computed date makes a round trip through its text.
        case Kind::Date:
          set(u"Date"sv, CDate(Variant(RemoveDateDelimiters(CStr(varValue)))));
          break;
        default: set(u"Variant"sv, varValue); break;
      }
      FieldSetText(f, TextMember::DataClass, u"Auto"sv);
    });
  });
}

namespace {
constexpr std::u16string_view kNamePrefix = u"Autodf"sv;  // ProperCase("AUTODF")

// Writes `prefix` and the decimal digits of `n` to `out` (room for 16);
// gives the length.
inline std::size_t WriteName(char16_t* out, std::u16string_view prefix, int n) {
  std::memcpy(out, prefix.data(), prefix.size() * sizeof(char16_t));
  std::size_t len = prefix.size();
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

// Stores a new name in a list entry, keeping the entry's buffer.
inline void StoreName(std::u16string& entry, const char16_t* text, std::size_t len) {
  if (entry.empty())
    entry.append(text, len);  // a freed entry: cheaper than a replacement
  else
    entry.assign(text, len);
}
}  // namespace

std::u16string InterpreterCore::GetNewDataFieldName() {
  last_name_number_ = 0;
  // The usual case: the library's own collection, room in the list, and a
  // generated name before the new one.
  auto& list = mstrAutoDataFieldNameList;
  const int next = mintAutoDataFieldNamePtr + 1;
  DataFields* own = OwnFields();
  if (own && !IsArrayNotDimensioned(list) && next >= 0 && next <= kMaxPosition &&
      static_cast<std::size_t>(next) < list.size()) {
    const std::u16string_view prev =
        next == 0 ? u"Autodf0"sv : std::u16string_view(list[static_cast<std::size_t>(next) - 1]);
    const int n = GeneratedNameNumber(prev) + 1;
    std::u16string& name = list[static_cast<std::size_t>(next)];
    char16_t text[16];
    const std::size_t len = n > 0 && n <= kMaxPosition ? WriteName(text, kNamePrefix, n) : 0;
    // Unguarded: only when the entry's buffer takes the name without growing.
    if (len > 0 && name.empty() && name.capacity() >= len) {
      StoreName(name, text, len);
      mintAutoDataFieldNamePtr = static_cast<std::int16_t>(next);
      if (!own->ExistsGenerated(n)) {
        last_name_number_ = n;
        try {
          return name;
        } catch (...) {  // the copy, as the guarded procedure reports it
          last_name_number_ = 0;
          ReportError(u"GetNewDataFieldName"sv, err::kOutOfMemory,
                      ErrorDescription(err::kOutOfMemory));
          return {};
        }
      }
    }
  }
  return GetNewDataFieldNameLate();
}

std::u16string InterpreterCore::GetNewDataFieldNameLate() {
  return Guarded(u"GetNewDataFieldName"sv, std::u16string(), [&] {
    DataFields* own = OwnFields();
    for (;;) {
      // The pointer moves only once the new name is made, so that running
      // out of numbers leaves the list as it was.
      std::int16_t next = Checked16(mintAutoDataFieldNamePtr + 1);
      auto& list = mstrAutoDataFieldNameList;
      if (IsArrayNotDimensioned(list)) {
        list.resize(kArrayGrowth + 1);
        next = 0;
      } else if (static_cast<std::size_t>(next) >= list.size()) {
        list.resize(static_cast<std::size_t>(next) + kArrayGrowth + 1);
      }
      const auto ptr = static_cast<std::size_t>(next);
      // Each name is the one before it with its number plus one; the first
      // follows "Autodf0".
      const std::u16string_view prev = ptr == 0 ? u"Autodf0"sv : std::u16string_view(list[ptr - 1]);
      char16_t text[16];
      std::size_t len;
      int n = GeneratedNameNumber(prev);
      const bool usual = n >= 0;
      if (usual) {
        n = Checked16(n + 1);
        len = WriteName(text, kNamePrefix, n);
      } else {
        const std::u16string_view prefix = prev.substr(0, std::min<std::size_t>(6, prev.size()));
        n = Checked16(NameNumber(prev.substr(prefix.size())) + 1);
        thread_local std::u16string proper;
        if (prefix != kNamePrefix) ProperCaseInto(prefix, proper);
        len = WriteName(text, prefix == kNamePrefix ? kNamePrefix : proper, n);
      }
      std::u16string& name = list[ptr];
      StoreName(name, text, len);
      mintAutoDataFieldNamePtr = next;
      // Generated names are in proper case already: ask the host directly.
      bool taken = false;
      if (own && n > 0 && (usual || GeneratedNameNumber(name) == n)) {
        taken = own->ExistsGenerated(n);
        if (!taken) last_name_number_ = n;
      } else {
        try {
          taken = FieldsExists(mobjDataFields, name);
        } catch (...) {
        }
      }
      if (!taken) return name;
    }
  });
}

bool InterpreterCore::RemoveNameLate(const std::u16string& strName) {
  return Guarded(u"RemoveAutoDataFieldNameFromList"sv, false, [&] {
    auto& list = mstrAutoDataFieldNameList;
    const int top = std::min<int>(mintAutoDataFieldNamePtr, static_cast<int>(list.size()) - 1);
    for (int i = top; i >= 0; --i) {
      if (!SameText(list[static_cast<std::size_t>(i)], strName)) continue;
      for (int j = i; j < top; ++j)
        list[static_cast<std::size_t>(j)] = std::move(list[static_cast<std::size_t>(j) + 1]);
      list[static_cast<std::size_t>(top)].clear();
      mintAutoDataFieldNamePtr = static_cast<std::int16_t>(mintAutoDataFieldNamePtr - 1);
      return true;
    }
    return false;
  });
}

std::u16string InterpreterCore::AddNameToHoldArray(const std::u16string& strName,
                                                   std::int16_t intInstance) {
  return HoldName(strName, intInstance) ? strName : std::u16string();
}

bool InterpreterCore::HoldNameLate(const std::u16string& strName, std::int16_t intInstance) {
  return Guarded(u"AddNameToHoldArray"sv, false, [&] {
    if (intInstance < 0 || intInstance >= kHoldRows) Raise(err::kSubscriptOutOfRange);
    const auto row = static_cast<std::size_t>(intInstance);
    const int c = mintHoldArrayPtr[row];
    const int highest = static_cast<int>(mstrHoldArray[0].size()) - 1;
    const std::int16_t next = Checked16(c + 1);
    if (c >= highest) {
      for (auto& r : mstrHoldArray) r.resize(static_cast<std::size_t>(c) + kArrayGrowth + 1);
    }
    mintHoldArrayPtr[row] = next;
    std::u16string& slot = mstrHoldArray[row][static_cast<std::size_t>(next)];
    slot.clear();
    slot.append(strName);
    return true;
  });
}

void InterpreterCore::PushHeld(const std::u16string& strName, std::int16_t intInstance) {
  if (strName.empty()) RaiseOwn(code::kObjectRequired, u"RealizeRegularExpression"sv);
  // Held before it is fetched, so that a failing fetch cannot leave it behind.
  HoldName(strName, intInstance);
  StackOf(intInstance).Push(FetchNewField(strName));
}

ObjectRef InterpreterCore::FetchNewFieldLate(const std::u16string& name, bool through_mcol) {
  std::u16string key = name;  // the host may change a key passed by reference
  return through_mcol ? FieldsMColItem(mobjDataFields, key) : FieldsItem(mobjDataFields, key);
}

Stack& InterpreterCore::StackOfLate(std::int16_t intInstance) {
  if (intInstance < 0 || static_cast<std::size_t>(intInstance) >= mobjStack.size())
    Raise(err::kSubscriptOutOfRange);
  auto& s = mobjStack[static_cast<std::size_t>(intInstance)];
  if (!s) Raise(err::kObjectNotSet);
  return *s;
}

}  // namespace tarn::detail
