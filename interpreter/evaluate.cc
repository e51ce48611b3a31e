// The evaluator reduces the instance's stack from the top, one
// operand-operator-operand triple at a time, pushing each result as a new
// temporary field, until it meets the bottom or a "(" (which it removes).
// So all operators share one precedence and group from the right:
// "1 - 2 - 3" is 1 - (2 - 3). The parse loop calls it at ")", at a single
// "=" (which therefore splits the whole text) and at the end of the text.
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

void InterpreterCore::CheckExponent(std::u16string_view procedure, const Variant& v) {
  if (v.kind() != Kind::Double && v.kind() != Kind::Single) return;
  const std::u16string text = CStr(v);
  if (text.find(u'E') != std::u16string::npos)
    ReportStrict(procedure, u"the number " + text +
                                u" becomes text in exponent form; format it with Format and a "
                                u"pattern of digits such as \"0\" first");
}

bool InterpreterCore::EvaluateExpression(Frame& f) {
  bool result = false;
  try {
    Stack& stack = f.stack;
    HostAccess& host = *host_;
    ObjectRef right, op, left;
    FieldView o, l, r;
    Variant lv, rv, value;
    for (;;) {
      if (!stack.IsStackEmpty()) right = stack.Pop();
      op = stack.IsStackEmpty() ? ObjectRef() : stack.Pop();
      if (!op) {
        stack.Push(right);
        return result;
      }
      OnHost([&](auto& h) { h.Read(op, o); });
      const std::u16string op_text = o.data->is_string() ? std::u16string() : CStr(*o.data);
      const std::u16string& op_word = o.data->is_string() ? o.data->string() : op_text;
      if (IsCloseParen(op_word) || IsOpenParen(op_word)) {
        stack.Push(right);  // the "(" itself is dropped
        return result;
      }
      if (!SameText(o.type, u"Operator"sv)) continue;
      bool pushed = false;
      if (!stack.IsStackEmpty()) {
        left = stack.Pop();
        if (!op_word.empty()) {
          // The operand rules: both values get one conversion, decided by
          // their type words and, where those differ, whether both are numbers.
          OnHost([&](auto& h) {
            h.Read(left, l);
            h.Read(right, r);
          });
          if (strict_ && op_word == u"&"sv) [[unlikely]]
            for (const Variant* v : {l.data, r.data}) CheckExponent(kProc, *v);
          const Conversion c = ChooseConversion(
              l.type, r.type, [&] { return IsNumberKind(host.Value(left)); },
              [&] { return IsNumberKind(host.Value(right)); });
          if (c == Conversion::None) {
            value = ApplyOperator(op_word, *l.data, *r.data);
          } else {
            lv = Convert(c, *l.data);
            rv = Convert(c, *r.data);
            value = ApplyOperator(op_word, lv, rv);
          }
          pushed = CreateDataFieldFromVariant(f, value, /*through_mcol=*/true);
        }
      }
      if (pushed) continue;
      if (host.Value(right).is_empty()) {
        result = false;
        RaiseOwn(code::kInvalidProcedureCall, kProc);
      }
      stack.Push(right);
      result = true;
    }
  } catch (const RuntimeError& e) {
    ReportError(kProc, e.number(), e.description());
  } catch (...) {
    ReportError(kProc, err::kOutOfMemory, ErrorDescription(err::kOutOfMemory));
  }
  return false;
}

}  // namespace tarn::detail
