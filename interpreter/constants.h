// Fixed numbers of the interpreter.
#pragma once

#include <cstdint>

namespace tarn::detail {

inline constexpr char16_t kEndOfText = 127;              // returned past the end of a text
inline constexpr std::int16_t kMaxPosition = 32767;      // 16-bit positions and counters
inline constexpr int kHoldRows = 16;                     // nested instances that can hold names
inline constexpr int kInitialHoldSlots = 2;              // slots 0 to 1 at creation
inline constexpr int kArrayGrowth = 5;                   // arrays grow to index + 5
inline constexpr std::int32_t kErrInterpreter = 150100;  // first argument of ReportError
inline constexpr std::int16_t kBranchEndElseIf = 32000;
inline constexpr std::int16_t kBranchEndElse = 32001;

}  // namespace tarn::detail
