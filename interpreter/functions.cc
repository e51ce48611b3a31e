// Function calls. A function name is one word; its arguments are the words
// that follow it, read by the function's own argument reader, which decides
// how many words it consumes. Each function pushes one temporary field.
#include "host/host_calls.h"
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

bool InterpreterCore::PerformFunction(const std::u16string& strFunction, std::int16_t intInstance) {
  return Guarded(u"PerformFunction", false, [&] {
    const std::u16string name = UpperCase(TrimSpaces(strFunction));
    if (name == u"IF") return PerformIf(intInstance);
    if (name == u"FORMAT") return PerformFormat(intInstance);
    if (name == u"FORMATHL7DATETIME") return PerformFormatHL7DateTime(intInstance);
    if (name == u"REPLACE") return PerformReplace(intInstance);
    RaiseOwn(code::kInvalidProcedureCall, u"PerformFunction");
  });
}

bool InterpreterCore::PerformFormat(std::int16_t) { return false; }
bool InterpreterCore::GetFormatArguments(std::int16_t, ObjectRef&, std::u16string&) { return false; }
bool InterpreterCore::PerformReplace(std::int16_t) { return false; }
bool InterpreterCore::GetReplaceArguments(std::int16_t, ObjectRef&, std::u16string&,
                                          std::u16string&, std::int32_t&, std::int32_t&,
                                          std::int32_t&) {
  return false;
}

}  // namespace tarn::detail
