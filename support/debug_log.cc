// The debug log.
#include "support/debug_log.h"

#include <new>

#include "platform/thread_exit.h"
#include "support/registry.h"
#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/object.h"

namespace tarn::detail {

namespace {

#if defined(_WIN32)
// The log object belongs to the thread's apartment, which has ended (and
// may have unloaded the object's DLL) when the thread's state is destroyed:
// it is let go without a call.
struct ThreadLogState : DebugLogState {
  ThreadLogState() = default;
  ThreadLogState(const ThreadLogState&) = delete;
  ThreadLogState& operator=(const ThreadLogState&) = delete;
  ~ThreadLogState() { (void)mobjDebugLog.release(); }
};
DebugLogState& State() noexcept { return ThreadLocal<ThreadLogState>(); }
#else
thread_local DebugLogState t_state;
DebugLogState& State() noexcept { return t_state; }
#endif

// One setting under HKEY_LOCAL_MACHINE\<kDebugLogKey>; "" when missing.
std::u16string ReadSetting(std::u16string_view name) {
  std::int32_t root = kHKeyLocalMachine;
  std::u16string key(kDebugLogKey);
  return ReadRegistryString(root, key, Variant(name));
}

// Removes the space character (only) at both ends.
std::u16string TrimSpaces(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  return std::u16string(s);
}

}  // namespace

DebugLogState& DebugLogStateOfThread() noexcept { return State(); }

void ResetDebugLogState() { State() = DebugLogState{}; }

bool IsDebugLogEnabled() {
  try {
    const std::u16string value = ReadSetting(u"WriteDebugLog");
    if (value.empty()) return false;
    return CBool(Variant(value));
  } catch (...) {
    return false;
  }
}

bool ReadDebugLogSettings() {
  try {
    DebugLogState& st = State();

    std::u16string value = ReadSetting(u"LogSize");
    if (value.empty() || !IsNumeric(Variant(value))) {
      st.mlngLogSize = kMegabyte;
    } else {
      // A 32-bit product: outside -2048..2047 megabytes it overflows.
      const std::int64_t bytes = static_cast<std::int64_t>(CLng(Variant(value))) * kMegabyte;
      if (bytes < INT32_MIN || bytes > INT32_MAX) Raise(err::kOverflow);
      st.mlngLogSize = static_cast<std::int32_t>(bytes);
    }

    value = ReadSetting(u"NumLogs");
    st.mlngNumLogs = (value.empty() || !IsNumeric(Variant(value))) ? 3 : CLng(Variant(value));

    st.mstrDebugLogPath = ReadSetting(u"DebugLogPath");

    value = ReadSetting(u"Separator");
    st.mstrSeparator = value.empty() ? std::u16string(kDefaultSeparator) : std::move(value);
    return true;
  } catch (...) {
    return false;
  }
}

std::int32_t InitDebugLog(std::u16string& strMessage) {
  DebugLogState& st = State();
  try {
    if (!IsDebugLogEnabled()) return -1;
    st.mblnDebugLog = true;
    if (!ReadDebugLogSettings()) return -2;

    st.mobjDebugLog = CreateObject(kLogProgId);
    {
      const Variant app(u"KvUpDebg"), name(u"Log"), on(true), title(u"Debug Log");
      const Variant num_logs(CInt(Variant(st.mlngNumLogs)));  // 6 outside -32768..32767
      Variant path(st.mstrDebugLogPath), size(st.mlngLogSize), separator(st.mstrSeparator);
      Arg args[] = {Arg::ByVal(app),  Arg::ByVal(name), Arg::ByRef(path),      Arg::ByVal(num_logs),
                    Arg::ByRef(size), Arg::ByVal(on),   Arg::ByRef(separator), Arg::ByVal(title)};
      const Variant result = Call(st.mobjDebugLog, u"Init", args);
      // The by-reference arguments are the module's variables: take back
      // what the component assigned to them.
      if (path.is_string()) st.mstrDebugLogPath = path.string();
      if (size.kind() == Kind::Long) st.mlngLogSize = size.long_value();
      if (separator.is_string()) st.mstrSeparator = separator.string();
      (void)CLng(result);  // converted, not used
    }

    if (TrimSpaces(strMessage).empty()) strMessage = u"Debug Log Initialized";
    std::u16string message = TrimSpaces(strMessage);
    if (WriteDebugLogMsg(message) != 0) return -3;
    return 0;
  } catch (const RuntimeError& e) {
    return e.number();
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  } catch (...) {
    return 51;  // Internal error
  }
}

std::int32_t WriteDebugLogMsg(std::u16string& strMsg) {
  DebugLogState& st = State();
  if (!st.mblnDebugLog) return 0;
  const Variant entry(u"\r\n" + CStr(Variant(Now())) + u"\r\n" + strMsg);
  Arg args[] = {Arg::ByVal(entry)};
  return CLng(Call(st.mobjDebugLog, u"WriteLogMsg", args));
}

}  // namespace tarn::detail
