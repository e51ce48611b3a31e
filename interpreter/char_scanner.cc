// Frames and the character scanner. Every call of the entry point works in a
// frame of its own (text, read position, operand stack), so nested calls
// never disturb the position of the call that started them. Past the end of
// a text the scanner hands out the end-of-text character (127).
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "support/text_tools.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {

// A frame at the position of the character about to be read, inside the
// text: the usual case, read without the general procedure.
inline bool InText(const Frame& f) noexcept { return f.position >= 0 && f.position < kMaxPosition; }
}  // namespace

Frame* InterpreterCore::AddInstance(std::u16string_view expression) {
  return Guarded(u"AddInstance"sv, static_cast<Frame*>(nullptr), [&] {
    const auto index = static_cast<std::size_t>(depth_);
    // The slots grow five beyond the one asked for.
    if (index >= frames_.size()) frames_.resize(index + kArrayGrowth + 1);
    std::unique_ptr<Frame>& slot = frames_[index];
    if (!slot) slot = std::make_unique<Frame>();
    Frame& f = *slot;
    // Copied over the frame's earlier text where that is long enough:
    // growing a string takes a call, shrinking it does not.
    const std::u16string_view trimmed = TrimSpaces(expression);
    if (trimmed.size() <= f.text.size()) {
      std::char_traits<char16_t>::copy(f.text.data(), trimmed.data(), trimmed.size());
      f.text.erase(trimmed.size());
    } else {
      f.text.assign(trimmed);
    }
    f.position = 0;
    f.stack.EmptyStack();
    f.operators.clear();
    ++depth_;
    return &f;
  });
}

void InterpreterCore::set_strExpression(std::int16_t index, std::u16string text) {
  if (index < 0 || static_cast<std::size_t>(index) >= frames_.size())
    Raise(err::kSubscriptOutOfRange);
  std::unique_ptr<Frame>& slot = frames_[static_cast<std::size_t>(index)];
  if (!slot) slot = std::make_unique<Frame>();
  slot->text = std::move(text);
}

char16_t InterpreterCore::GetNextChar(Frame& f) {
  if (InText(f)) {
    ++f.position;
    return static_cast<std::size_t>(f.position) <= f.text.size()
               ? f.text[static_cast<std::size_t>(f.position) - 1]
               : kEndOfText;
  }
  return Guarded(u"GetNextChar"sv, kEndOfText, [&]() -> char16_t {
    if (f.position >= kMaxPosition) RaiseOwn(code::kSubscriptOutOfRange, u"GetNextChar"sv);
    ++f.position;
    if (static_cast<std::size_t>(std::max<int>(f.position, 0)) > f.text.size()) return kEndOfText;
    if (f.position <= 0) Raise(err::kInvalidProcedureCall);  // no character at 0 or below
    return f.text[static_cast<std::size_t>(f.position) - 1];
  });
}

int InterpreterCore::PeekNextChar(Frame& f) {
  if (InText(f))
    return static_cast<std::size_t>(f.position) < f.text.size()
               ? f.text[static_cast<std::size_t>(f.position)]
               : kEndOfText;
  try {
    const char16_t c = GetNextChar(f);
    PutLastChar(f);
    return c;
  } catch (const RuntimeError& e) {
    ReportError(u"PeekNextChar"sv, e.number(), e.description(), /*peek_style=*/true);
  } catch (...) {
    ReportError(u"PeekNextChar"sv, err::kOutOfMemory, ErrorDescription(err::kOutOfMemory), true);
  }
  return -1;
}

bool InterpreterCore::PutLastChar(Frame& f) {
  return Guarded(u"PutLastChar"sv, false, [&] {
    f.position = Checked16(f.position - 1);
    return true;
  });
}

}  // namespace tarn::detail
