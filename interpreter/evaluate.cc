// The evaluator reduces the instance's stack from the top, one
// operand-operator-operand triple at a time, pushing each result as a new
// temporary field, until it meets the bottom or a "(" (which it removes).
// So all operators share one precedence and group from the right:
// "1 - 2 - 3" is 1 - (2 - 3). The parse loop calls it at ")", at a single
// "=" (which therefore splits the whole text) and at the end of the text.
#include "host/host_calls.h"
#include "interpreter/interpreter_core.h"
#include "platform/arith.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {

constexpr std::u16string_view kProc = u"EvaluateExpression"sv;

// A value is a number when it is a number, a Boolean, Empty or a text that
// reads as a number.
bool IsNumberKind(const Variant& v) {
  switch (v.kind()) {
    case Kind::Integer:
    case Kind::Long:
    case Kind::Single:
    case Kind::Double:
    case Kind::Boolean:
    case Kind::Empty: return true;
    case Kind::String: return IsNumeric(v);
    default: return false;
  }
}

bool IsNumberField(const ObjectRef& field) { return IsNumberKind(FieldValue(field)); }

// The conversion both values get before the operator (the operand rules).
enum class Conversion { None, Text, Double, Single, Long, Integer, Boolean };

// `left_number` and `right_number` are asked only when the rules need them,
// left first.
template <class LeftNumber, class RightNumber>
Conversion ChooseConversion(std::u16string_view lt, std::u16string_view rt, LeftNumber left_number,
                            RightNumber right_number) {
  if (SameText(lt, rt)) return Conversion::None;
  if ((lt == u"Date"sv && rt != u"Date"sv) || !left_number() || !right_number())
    return Conversion::Text;
  auto either = [&](std::u16string_view t) { return lt == t || rt == t; };
  if (either(u"Double"sv)) return Conversion::Double;
  if (either(u"Single"sv)) return Conversion::Single;
  if (either(u"Long"sv)) return Conversion::Long;
  if (either(u"Integer"sv)) return Conversion::Integer;
  if (either(u"Boolean"sv)) return Conversion::Boolean;
  // Two numbers under type words of the host's own: compare and compute as
  // Doubles.
  return Conversion::Double;
}

Variant Convert(Conversion c, const Variant& v) {
  switch (c) {
    case Conversion::Text: return CStr(v);
    case Conversion::Double: return CDbl(v);
    case Conversion::Single: return CSng(v);
    case Conversion::Long: return CLng(v);
    case Conversion::Integer: return CInt(v);
    case Conversion::Boolean: return CBool(v);
    case Conversion::None: break;
  }
  return v;
}

// The operand rules for two of the library's own fields, whose members are
// read in place: `lp` and `rp` point at the values themselves when no
// conversion applies, else at the converted copies in `lv` and `rv`.
void LoadNativeValues(const DataField& left, const DataField& right, Variant& lv, Variant& rv,
                      const Variant*& lp, const Variant*& rp) {
  auto is_number = [](const DataField& f) {
    return IsNumberKind(f.data().is_object() ? DefaultValue(f.data()) : f.data());
  };
  const Conversion c = ChooseConversion(
      left.data_type(), right.data_type(), [&] { return is_number(left); },
      [&] { return is_number(right); });
  if (c == Conversion::None) {
    lp = &left.data();
    rp = &right.data();
    return;
  }
  lv = Convert(c, left.data());
  rv = Convert(c, right.data());
  lp = &lv;
  rp = &rv;
}

// The operand rules for fields of any kind, reached by member name.
void LoadValues(const ObjectRef& left, const ObjectRef& right, Variant& lv, Variant& rv) {
  const std::u16string lt = FieldDataType(left), rt = FieldDataType(right);
  const Conversion c = ChooseConversion(
      lt, rt, [&] { return IsNumberField(left); }, [&] { return IsNumberField(right); });
  lv = Convert(c, FieldData(left));
  rv = Convert(c, FieldData(right));
}

Variant CompareResult(std::optional<int> c, bool (*test)(int)) {
  if (!c) return Variant::Null();
  return test(*c);
}

std::u16string TextOf(const Variant& v) { return v.is_null() ? std::u16string() : CStr(v); }

Variant ApplyOperator(std::u16string_view op, const Variant& l, const Variant& r) {
  auto compare = [&](bool (*test)(int)) { return CompareResult(Compare(l, r), test); };
  if (op.size() == 1) {
    switch (op[0]) {
      case u'<': return compare([](int c) { return c < 0; });
      case u'>': return compare([](int c) { return c > 0; });
      case u'=': return compare([](int c) { return c == 0; });
      case u'+': return Add(l, r);
      case u'-': return Subtract(l, r);
      case u'*': return Multiply(l, r);
      case u'/':
      case u'\\':
        if (EqualsZero(r)) InterpreterCore::RaiseOwn(code::kDivisionByZero, kProc);
        return op[0] == u'/' ? Divide(l, r) : IntDivide(l, r);
      case u'&': {
        // Not a text: joined as the text it converts to.
        if (l.is_string() && r.is_string()) {
          Variant out;  // built in place: a text moved is a text copied when short
          out.set_string({});
          std::u16string& joined = out.string();
          joined.reserve(l.string().size() + r.string().size());
          joined.append(l.string()).append(r.string());
          return out;
        }
        std::u16string joined;
        joined = l.is_string() ? l.string() : TextOf(l);
        joined += r.is_string() ? r.string() : TextOf(r);
        return joined;
      }
      default: break;
    }
  } else if (op == u"<="sv) {
    return compare([](int c) { return c <= 0; });
  } else if (op == u">="sv) {
    return compare([](int c) { return c >= 0; });
  } else if (op == u"<>"sv || op == u"!="sv) {
    return compare([](int c) { return c != 0; });
  } else if (op == u"=="sv) {
    return compare([](int c) { return c == 0; });
  }
  InterpreterCore::RaiseOwn(code::kInvalidProcedureCall, kProc);
}

}  // namespace

bool InterpreterCore::EvaluateExpression(std::int16_t intInstance) {
  bool result = false;
  try {
    Stack& stack = StackOf(intInstance);
    ObjectRef right, op, left;
    std::u16string result_name, op_store;
    int result_number = 0;  // the last result's name, while only its number is kept
    Variant lv, rv, value;
    for (;;) {
      if (!stack.IsStackEmpty()) right = stack.Pop();
      op = stack.IsStackEmpty() ? ObjectRef() : stack.Pop();
      if (!op) {
        stack.Push(right);
        return result;
      }
      // The library's own operator field lends its text.
      const DataField* op_field = NativeField(op);
      const bool op_text_in_place = op_field && op_field->data().is_string();
      if (!op_text_in_place) op_store = CStr(FieldData(op));
      const std::u16string& op_data = op_text_in_place ? op_field->data().string() : op_store;
      if (IsCloseParen(op_data) || IsOpenParen(op_data)) {
        stack.Push(right);  // the "(" itself is dropped
        return result;
      }
      if (!FieldDataTypeIs(op, u"Operator"sv)) {
        continue;
      }
      if (!stack.IsStackEmpty()) {
        left = stack.Pop();
        if (!op_data.empty()) {
          const DataField* l = NativeField(left);
          const DataField* r = NativeField(right);
          if (l && r && !l->data().is_object() && !r->data().is_object()) {
            // No host code runs: the values and the operator are read in place.
            const Variant *lp, *rp;
            LoadNativeValues(*l, *r, lv, rv, lp, rp);
            value = ApplyOperator(op_data, *lp, *rp);
          } else {
            if (&op_data != &op_store) op_store = op_data;  // host code may change the field
            LoadValues(left, right, lv, rv);
            value = ApplyOperator(op_store, lv, rv);
          }
          if (const int n = PushValueField(value, intInstance)) {
            result_number = n;
            continue;
          }
          result_number = 0;
          result_name = CreateDataFieldFromVariant(std::move(value));
          HoldName(result_name, intInstance);
        }
      }
      if (result_number > 0) {
        result_name = GeneratedName(result_number);
        result_number = 0;
      }
      if (!TrimSpaces(result_name).empty()) {
        stack.Push(FetchNewField(result_name, /*through_mcol=*/true));
      } else if (FieldValue(right).is_empty()) {
        result = false;
        RaiseOwn(code::kInvalidProcedureCall, kProc);
      } else {
        stack.Push(right);
        result = true;
      }
    }
  } catch (const RuntimeError& e) {
    ReportError(kProc, e.number(), e.description());
  } catch (...) {
    ReportError(kProc, err::kOutOfMemory, ErrorDescription(err::kOutOfMemory));
  }
  return false;
}

}  // namespace tarn::detail
