// The diagnostic log, switched on by registry values and written through the
// log component. Its state is per thread.
#pragma once

#include <cstdint>
#include <string>

namespace tarn::detail {

bool IsDebugLogEnabled();
bool ReadDebugLogSettings();
// 0 started, -1 off, -2 settings unreadable, -3 first entry not written,
// otherwise the number of a trapped error.
std::int32_t InitDebugLog(std::u16string& strMessage);
// The log component's status for the entry; 0 when logging is off.
std::int32_t WriteDebugLogMsg(std::u16string& strMsg);

}  // namespace tarn::detail
