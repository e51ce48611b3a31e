// The recording error manager: keeps every ReportError call with its
// eleven arguments.
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn {

Variant RecordingErrorManager::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (!detail::EqualsIgnoreCase(member, u"ReportError")) RaiseNoMember(member);
  RequireArgs(args, 11);
  ErrorReport r;
  r.number = CLng(args[0].value());
  r.message = CStr(args[1].value());
  r.when = CDate(args[2].value());
  r.arg4 = CInt(args[3].value());
  r.arg5 = CInt(args[4].value());
  r.arg6_omitted = args[5].omitted();
  r.system = CStr(args[6].value());
  r.application = CStr(args[7].value());
  r.release = CStr(args[8].value());
  r.class_name = CStr(args[9].value());
  r.procedure = CStr(args[10].value());
  reports_.push_back(std::move(r));
  return result_;
}

}  // namespace tarn
