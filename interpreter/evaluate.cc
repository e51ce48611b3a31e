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

namespace tarn::detail {

namespace {

constexpr std::u16string_view kProc = u"EvaluateExpression";

// A field is a number when its value is a number, a Boolean, Empty or a
// text that reads as a number.
bool IsNumberField(const ObjectRef& field) {
  const Variant v = FieldValue(field);
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

// Operand rules: which conversion both values get before the operator.
void LoadValues(const ObjectRef& left, const ObjectRef& right, Variant& lv, Variant& rv) {
  const std::u16string lt = FieldDataType(left), rt = FieldDataType(right);
  auto both = [&](auto convert) {
    lv = convert(FieldData(left));
    rv = convert(FieldData(right));
  };
  if (lt == rt) {
    lv = FieldData(left);
    rv = FieldData(right);
  } else if ((lt == u"Date" && rt != u"Date") || !IsNumberField(left) || !IsNumberField(right)) {
    both([](const Variant& v) { return Variant(CStr(v)); });
  } else if (lt == u"Double" || rt == u"Double") {
    both([](const Variant& v) { return Variant(CDbl(v)); });
  } else if (lt == u"Single" || rt == u"Single") {
    both([](const Variant& v) { return Variant(CSng(v)); });
  } else if (lt == u"Long" || rt == u"Long") {
    both([](const Variant& v) { return Variant(CLng(v)); });
  } else if (lt == u"Integer" || rt == u"Integer") {
    both([](const Variant& v) { return Variant(CInt(v)); });
  } else if (lt == u"Boolean" || rt == u"Boolean") {
    both([](const Variant& v) { return Variant(CBool(v)); });
  } else {
    // Two numbers under type words of the host's own: compare and compute
    // as Doubles.
    both([](const Variant& v) { return Variant(CDbl(v)); });
  }
}

Variant CompareResult(std::optional<int> c, bool (*test)(int)) {
  if (!c) return Variant::Null();
  return test(*c);
}

std::u16string TextOf(const Variant& v) { return v.is_null() ? std::u16string() : CStr(v); }

Variant ApplyOperator(std::u16string_view op, const Variant& l, const Variant& r) {
  if (op == u"<") return CompareResult(Compare(l, r), [](int c) { return c < 0; });
  if (op == u">") return CompareResult(Compare(l, r), [](int c) { return c > 0; });
  if (op == u"<=") return CompareResult(Compare(l, r), [](int c) { return c <= 0; });
  if (op == u">=") return CompareResult(Compare(l, r), [](int c) { return c >= 0; });
  if (op == u"<>" || op == u"!=") return CompareResult(Compare(l, r), [](int c) { return c != 0; });
  if (op == u"=" || op == u"==") return CompareResult(Compare(l, r), [](int c) { return c == 0; });
  if (op == u"+") return Add(l, r);
  if (op == u"-") return Subtract(l, r);
  if (op == u"*") return Multiply(l, r);
  if (op == u"/" || op == u"\\") {
    if (EqualsZero(r)) InterpreterCore::RaiseOwn(code::kDivisionByZero, kProc);
    return op == u"/" ? Divide(l, r) : IntDivide(l, r);
  }
  if (op == u"&") {
    // Not a text: joined as the text it converts to.
    std::u16string joined = l.is_string() ? l.string() : TextOf(l);
    joined += r.is_string() ? r.string() : TextOf(r);
    return joined;
  }
  InterpreterCore::RaiseOwn(code::kInvalidProcedureCall, kProc);
}

}  // namespace

bool InterpreterCore::EvaluateExpression(std::int16_t intInstance) {
  bool result = false;
  try {
    Stack& stack = StackOf(intInstance);
    ObjectRef right, op, left;
    std::u16string op_text, result_name;
    Variant lv, rv, value;
    for (;;) {
      if (!stack.IsStackEmpty()) right = stack.Pop();
      op = stack.IsStackEmpty() ? ObjectRef() : stack.Pop();
      if (!op) {
        stack.Push(right);
        return result;
      }
      const std::u16string op_data = CStr(FieldData(op));
      if (IsCloseParen(op_data) || IsOpenParen(op_data)) {
        stack.Push(right);  // the "(" itself is dropped
        return result;
      }
      if (!FieldDataTypeIs(op, u"Operator")) {
        op_text.clear();
        continue;
      }
      op_text = op_data;
      if (!stack.IsStackEmpty()) {
        left = stack.Pop();
        if (!op_text.empty()) {
          LoadValues(left, right, lv, rv);
          value = ApplyOperator(op_text, lv, rv);
          result_name = CreateDataFieldFromVariant(value);
          AddNameToHoldArray(result_name, intInstance);
        }
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
