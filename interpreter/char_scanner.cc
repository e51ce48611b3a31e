// Instances and the character scanner. Every call of the entry point works
// in an instance of its own (text, read position, operand stack), so nested
// calls never disturb the position of the call that started them. Past the
// end of a text the scanner hands out the end-of-text character (127).
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "support/text_tools.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {
[[noreturn]] void RaiseOverflow() { Raise(err::kOverflow); }

inline std::int16_t Checked16(int v) {
  if (v < -32768 || v > 32767) [[unlikely]]
    RaiseOverflow();
  return static_cast<std::int16_t>(v);
}

template <class T>
void GrowTo(std::vector<T>& array, std::size_t upper) {
  if (upper >= array.size()) array.resize(upper + 1);
}
}  // namespace

std::int16_t InterpreterCore::AddInstance(const std::u16string& strExpression) {
  return Guarded(u"AddInstance"sv, std::int16_t{0}, [&] {
    mintInstance = Checked16(mintInstance + 1);
    const auto index = static_cast<std::size_t>(mintInstance);
    if (IsArrayNotDimensioned(mstrExpression)) {
      GrowTo(mstrExpression, kArrayGrowth);
      GrowTo(mintExpressionPtr, kArrayGrowth);
    }
    if (index >= mstrExpression.size()) {
      GrowTo(mstrExpression, index + kArrayGrowth);
      GrowTo(mintExpressionPtr, index + kArrayGrowth);
    }
    if (IsArrayNotDimensioned(mobjStack)) GrowTo(mobjStack, kArrayGrowth);
    if (index >= mobjStack.size()) GrowTo(mobjStack, index + kArrayGrowth);
    // Copied over the slot's earlier text where that is long enough: growing
    // a string takes a call, shrinking it does not.
    std::u16string& text = mstrExpression[index];
    const std::u16string_view trimmed = TrimSpaces(strExpression);
    if (trimmed.size() <= text.size()) {
      std::char_traits<char16_t>::copy(text.data(), trimmed.data(), trimmed.size());
      text.erase(trimmed.size());
    } else {
      text.assign(trimmed);
    }
    mintExpressionPtr[index] = 0;
    // A fresh stack for the instance; an emptied old one serves as well.
    if (mobjStack[index])
      mobjStack[index]->EmptyStack();
    else
      mobjStack[index] = std::make_unique<Stack>();
    return mintInstance;
  });
}

char16_t InterpreterCore::GetNextChar(std::int16_t intInstance) {
  if (intInstance < 0 || static_cast<std::size_t>(intInstance) >= mintExpressionPtr.size())
    return kEndOfText;  // no slot: subscript out of range, not reported
  {
    // The common case, read inside the text.
    std::int16_t& ptr = mintExpressionPtr[static_cast<std::size_t>(intInstance)];
    const std::u16string& text = mstrExpression[static_cast<std::size_t>(intInstance)];
    if (ptr >= 0 && ptr < kMaxPosition) {
      ++ptr;
      return static_cast<std::size_t>(ptr) <= text.size() ? text[static_cast<std::size_t>(ptr) - 1]
                                                          : kEndOfText;
    }
  }
  return Guarded(u"GetNextChar"sv, kEndOfText, [&]() -> char16_t {
    const auto index = static_cast<std::size_t>(intInstance);
    std::int16_t& ptr = mintExpressionPtr[index];
    if (ptr >= kMaxPosition) RaiseOwn(code::kSubscriptOutOfRange, u"GetNextChar"sv);
    ++ptr;
    const std::u16string& text = mstrExpression[index];
    if (static_cast<std::size_t>(std::max<int>(ptr, 0)) > text.size()) return kEndOfText;
    if (ptr <= 0) Raise(err::kInvalidProcedureCall);  // no character at position 0 or below
    return text[static_cast<std::size_t>(ptr) - 1];
  });
}

int InterpreterCore::PeekNextCharLate(std::int16_t intInstance) {
  try {
    char16_t c = GetNextChar(intInstance);
    PutLastChar(intInstance);
    return c;
  } catch (const RuntimeError& e) {
    ReportError(u"PeekNextChar"sv, e.number(), e.description(), /*peek_style=*/true);
  } catch (...) {
    ReportError(u"PeekNextChar"sv, err::kOutOfMemory, ErrorDescription(err::kOutOfMemory), true);
  }
  return -1;
}

bool InterpreterCore::PutLastChar(std::int16_t intInstance) {
  return Guarded(u"PutLastChar"sv, false, [&] {
    if (intInstance < 0 || static_cast<std::size_t>(intInstance) >= mintExpressionPtr.size())
      Raise(err::kSubscriptOutOfRange);
    std::int16_t& ptr = mintExpressionPtr[static_cast<std::size_t>(intInstance)];
    ptr = Checked16(ptr - 1);
    return true;
  });
}

}  // namespace tarn::detail
