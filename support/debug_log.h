// The diagnostic log (module modDebugLog), switched on by registry
// values and written through the log component "ZellLog.Log". Its state is
// per thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tarn/value.h"

namespace tarn::detail {

// The registry key of the settings, below HKEY_LOCAL_MACHINE.
inline constexpr std::u16string_view kDebugLogKey =
    u"SOFTWARE\\Quillmont\\Interfaces\\Upload\\Debug\\";
inline constexpr std::u16string_view kDefaultSeparator = u"<END OF ENTRY>";
inline constexpr std::int32_t kMegabyte = 1048576;

bool IsDebugLogEnabled();
bool ReadDebugLogSettings();
// 0 started, -1 off, -2 settings unreadable, -3 first entry not written,
// otherwise the number of a trapped error.
std::int32_t InitDebugLog(std::u16string& strMessage);
// The log component's status for the entry; 0 when logging is off. Errors
// (no component while logging is on: 91) go to the caller.
std::int32_t WriteDebugLogMsg(std::u16string& strMsg);

// The module state of the calling thread (for tests).
struct DebugLogState {
  ObjectRef mobjDebugLog;
  bool mblnDebugLog = false;
  std::int32_t mlngLogSize = 0;
  std::int32_t mlngNumLogs = 0;
  std::u16string mstrDebugLogPath;
  std::u16string mstrSeparator;
};
DebugLogState& DebugLogStateOfThread() noexcept;
// Puts the calling thread's state back to its start (for tests).
void ResetDebugLogState();

}  // namespace tarn::detail
