#include "interpreter/interpreter_core.h"

namespace tarn::detail {

bool InterpreterCore::PerformFormatHL7DateTime(std::int16_t) { return false; }
bool InterpreterCore::PerformGetHL7DateTimeFormatArguments(std::int16_t, std::u16string&,
                                                           std::u16string&, std::u16string&,
                                                           bool&, bool&, std::u16string&) {
  return false;
}

}  // namespace tarn::detail
