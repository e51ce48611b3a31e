#include "interpreter/interpreter_core.h"

namespace tarn::detail {

bool InterpreterCore::PerformIf(std::int16_t) { return false; }
std::u16string InterpreterCore::GetIfCondition(std::int16_t) { return {}; }
std::u16string InterpreterCore::GetStatements(std::int16_t, std::int16_t&) { return {}; }
bool InterpreterCore::RemoveEndIf(std::int16_t) { return false; }

}  // namespace tarn::detail
