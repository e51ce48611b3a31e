// Temporary (automatic) data fields. Every literal, operator and computed
// value becomes a DataField in the host's own collection under a generated
// name ("Autodf1", "Autodf2", ...). The collection owns the field; the
// interpreter keeps only its name, in the list of names in use and in the
// hold-table row of the instance that made it, and the entry point's
// clean-up removes the field and frees the name when that instance ends.
#include <charconv>
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
      // The word is read once.
      if (!parsed) Raise(err::kTypeMismatch);
      Variant value;
      if (!NumberLiteralValue(*parsed, value)) {
        CLng(*parsed);  // raises when the rounding leaves the Long range
        value = *parsed;
      }
      FieldSetText(f, TextMember::DataType, value.kind() == Kind::Long ? u"Long"sv : u"Double"sv);
      FieldLetData(f, std::move(value));
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

namespace {
// The type word of a value that is its own conversion, which is moved into
// its field as it is; empty for the others.
std::u16string_view OwnConversionType(Kind kind) noexcept {
  switch (kind) {
    case Kind::String: return u"String"sv;
    case Kind::Long: return u"Long"sv;
    case Kind::Integer: return u"Integer"sv;
    case Kind::Boolean: return u"Boolean"sv;
    case Kind::Single: return u"Single"sv;
    case Kind::Double: return u"Double"sv;
    default: return {};
  }
}

// The text is the caller's to give: its delimiters come off in place.
void StripInPlace(Variant& value) noexcept {
  if (!value.is_string()) return;
  std::u16string& text = value.string();
  const std::u16string_view part = DelimitedPart(text, u'"');
  const auto b = static_cast<std::size_t>(part.data() - text.data());
  text.erase(b + part.size());
  text.erase(0, b);
}
}  // namespace

std::u16string InterpreterCore::CreateDataFieldFromVariant(Variant&& varValue) {
  const std::u16string_view type = OwnConversionType(varValue.kind());
  if (type.empty()) return CreateDataFieldFromVariant(static_cast<const Variant&>(varValue));
  StripInPlace(varValue);
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

std::u16string GeneratedName(int n) {
  char16_t text[16];
  return std::u16string(text, WriteName(text, kNamePrefix, n));
}

template <class Fill>
int InterpreterCore::PushTemporary(std::u16string_view type, std::int16_t intInstance,
                                   Fill&& fill) {
  DataFields* own = OwnFields();
  const auto row = static_cast<std::size_t>(intInstance);
  if (!own || intInstance < 0 || intInstance >= kHoldRows || row >= mobjStack.size()) return 0;
  Stack* stack = mobjStack[row].get();
  if (!stack ||
      field_factory_.generation != class_table_generation.load(std::memory_order_acquire) ||
      field_factory_.plain != &NewDefaultDataField)
    return 0;
  // The name GetNewDataFieldName would give, free in the collection.
  auto& list = mstrAutoDataFieldNameList;
  const int next = mintAutoDataFieldNamePtr + 1;
  if (next < 0 || next > kMaxPosition || static_cast<std::size_t>(next) >= list.size()) return 0;
  int before = 0;
  if (next > 0) {
    const NameText& prev = list[static_cast<std::size_t>(next) - 1];
    before = prev.generated();
    if (before == 0) before = GeneratedNameNumber(prev);
  }
  const int n = before + 1;
  if (n <= 0 || n > kMaxPosition || !own->HasFreeGeneratedSlot(n)) return 0;
  NameText& entry = list[static_cast<std::size_t>(next)];
  if (!entry.empty()) return 0;
  // The hold-table slot.
  const int c = mintHoldArrayPtr[row];
  if (c >= kMaxPosition || c + 1 >= static_cast<int>(mstrHoldArray[row].size()) ||
      c + 1 >= static_cast<int>(mstrHoldArray[0].size()))
    return 0;
  char16_t text[16];
  const std::u16string_view name(text, WriteName(text, kNamePrefix, n));

  Ref<DataField> field;
  try {
    field = DataField::CreateForOverwrite();
    field->overwrite_name(name);
    field->overwrite_data_type(type);
    field->overwrite_data_class(u"Auto"sv);
    fill(field->data_slot());  // last: it may take the caller's value
  } catch (...) {
    return 0;  // the general procedures report it
  }
  // Nothing below can fail.
  entry.assign_generated(name, n);
  mintAutoDataFieldNamePtr = static_cast<std::int16_t>(next);
  own->AddGenerated(n, field);
  mintHoldArrayPtr[row] = static_cast<std::int16_t>(c + 1);
  mstrHoldArray[row][static_cast<std::size_t>(c + 1)].assign_generated(name, n);
  stack->Push(ObjectRef(std::move(field)));
  return n;
}

bool InterpreterCore::PushWordField(std::u16string_view type, std::u16string_view word,
                                    std::int16_t intInstance) {
  return PushTemporary(type, intInstance,
                       [&](Variant& data) { data.set_string(DelimitedPart(word, u'"')); }) > 0;
}

bool InterpreterCore::PushNumberField(double d, std::int16_t intInstance) {
  Variant value;
  if (!NumberLiteralValue(d, value)) return false;
  const std::u16string_view type = value.kind() == Kind::Long ? u"Long"sv : u"Double"sv;
  return PushTemporary(type, intInstance, [&](Variant& data) { data = std::move(value); }) > 0;
}

int InterpreterCore::PushValueField(Variant& value, std::int16_t intInstance) {
  const std::u16string_view type = OwnConversionType(value.kind());
  if (type.empty()) return 0;
  return PushTemporary(type, intInstance, [&](Variant& data) {
    StripInPlace(value);
    data = std::move(value);
  });
}

std::u16string InterpreterCore::GetNewDataFieldName() {
  last_name_number_ = 0;
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
      NameText& name = list[ptr];
      if (usual)
        name.assign_generated(std::u16string_view(text, len), n);
      else
        name.assign(std::u16string_view(text, len));
      mintAutoDataFieldNamePtr = next;
      // Generated names are in proper case already: ask the host directly.
      bool taken = false;
      if (own && n > 0 && (usual || GeneratedNameNumber(name) == n)) {
        taken = own->ExistsGenerated(n);
        if (!taken) last_name_number_ = n;
      } else {
        std::u16string key = name.str();  // passed by reference: the host may change it
        try {
          taken = FieldsExists(mobjDataFields, key);
        } catch (...) {
        }
        name.assign(key);
      }
      if (!taken) return name.str();
    }
  });
}

bool InterpreterCore::RemoveNameLate(std::u16string_view strName) {
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

bool InterpreterCore::HoldNameLate(std::u16string_view strName, std::int16_t intInstance) {
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
    mstrHoldArray[row][static_cast<std::size_t>(next)].assign(strName);
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
