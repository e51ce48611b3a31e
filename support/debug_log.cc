// Placeholder: replaced by the debug log.
#include "support/debug_log.h"

namespace tarn::detail {

bool IsDebugLogEnabled() { return false; }
bool ReadDebugLogSettings() { return false; }
std::int32_t InitDebugLog(std::u16string&) { return -1; }
std::int32_t WriteDebugLogMsg(std::u16string&) { return 0; }

}  // namespace tarn::detail
