// tarnhost.dll: the default host components as a COM server of their own,
// for hosts without components of their own and for the tests. A host
// product that registers its own classes under these programmatic
// identifiers keeps them: registration leaves an identifier alone that
// already names another class.
#include <vector>

#include "host/log_component.h"
#include "platform/text.h"
#include "registration/windows/com_server.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace {

using tarn::Arg;
using tarn::CallKind;
using tarn::ObjectRef;
using tarn::Variant;
using tarn::detail::EqualsIgnoreCase;
using tarn::detail::win::ServerClass;

// The error manager: records every ReportError and lets the host read the
// reports back by number (1 to Count).
class ErrorManager final : public tarn::Object {
 public:
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override {
    if (EqualsIgnoreCase(member, u"ReportError")) return recorder_->Invoke(member, kind, args);
    if (EqualsIgnoreCase(member, u"Count")) {
      tarn::RequireArgs(args, 0);
      return static_cast<std::int32_t>(recorder_->reports().size());
    }
    if (EqualsIgnoreCase(member, u"Clear")) {
      tarn::RequireArgs(args, 0);
      recorder_->Clear();
      return {};
    }
    if (EqualsIgnoreCase(member, u"Number")) return Report(args).number;
    if (EqualsIgnoreCase(member, u"Message")) return Report(args).message;
    if (EqualsIgnoreCase(member, u"Procedure")) return Report(args).procedure;
    tarn::RaiseNoMember(member);
  }
  std::u16string_view ClassName() const noexcept override { return u"ErrorManager"; }

 private:
  const tarn::ErrorReport& Report(std::span<Arg> args) {
    tarn::RequireArgs(args, 1);
    const std::int32_t i = tarn::CLng(args[0].value());
    const auto& reports = recorder_->reports();
    if (i < 1 || static_cast<std::size_t>(i) > reports.size())
      tarn::Raise(tarn::err::kSubscriptOutOfRange);
    return reports[static_cast<std::size_t>(i) - 1];
  }

  tarn::Ref<tarn::RecordingErrorManager> recorder_ = tarn::MakeRef<tarn::RecordingErrorManager>();
};

// The members of each default component, with identifiers fixed for the
// process (the default member, DISPID_VALUE, is answered besides): a name a
// component does not have is DISP_E_UNKNOWNNAME.
using tarn::detail::win::DispatchInterface;
using tarn::detail::win::DispatchMember;
constexpr WORD kAny =
    DISPATCH_METHOD | DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
constexpr DispatchMember kFieldMembers[] = {
    {1, u"Data", kAny}, {2, u"Name", kAny}, {3, u"DataType", kAny}, {4, u"DataClass", kAny}};
constexpr DispatchMember kFieldsMembers[] = {{10, u"Item", kAny},      {11, u"Exists", kAny},
                                             {12, u"AddObject", kAny}, {13, u"Remove", kAny},
                                             {14, u"mCol", kAny},      {15, u"Count", kAny}};
constexpr DispatchMember kInnerMembers[] = {{10, u"Item", kAny}, {15, u"Count", kAny}};
constexpr DispatchMember kLogMembers[] = {{20, u"Init", kAny}, {21, u"WriteLogMsg", kAny}};
constexpr DispatchMember kErrorMembers[] = {{30, u"ReportError", kAny}, {15, u"Count", kAny},
                                            {31, u"Clear", kAny},       {32, u"Number", kAny},
                                            {33, u"Message", kAny},     {34, u"Procedure", kAny}};
template <std::size_t N>
constexpr DispatchInterface Members(const DispatchMember (&m)[N]) {
  return {m, N, nullptr, nullptr};
}
constexpr DispatchInterface kInterfaces[] = {Members(kFieldMembers), Members(kFieldsMembers),
                                             Members(kInnerMembers), Members(kLogMembers),
                                             Members(kErrorMembers)};
constexpr std::u16string_view kInterfaceClasses[] = {u"DataField", u"DataFields", u"Collection",
                                                     u"Log", u"ErrorManager"};

const DispatchInterface* InterfaceOf(tarn::Object& object) {
  const std::u16string_view name = object.ClassName();
  for (std::size_t i = 0; i < std::size(kInterfaceClasses); ++i)
    if (name == kInterfaceClasses[i]) return &kInterfaces[i];
  return nullptr;
}

ObjectRef NewDataFields() { return ObjectRef(tarn::MakeRef<tarn::DataFields>()); }
ObjectRef NewDataField() { return ObjectRef(tarn::DataField::Create()); }
ObjectRef NewLog() { return tarn::detail::NewLogComponent(); }
ObjectRef NewErrorManager() { return ObjectRef(tarn::MakeRef<ErrorManager>()); }

const ServerClass kClasses[] = {
    {L"ZellDFld.DataFields",
     L"{FD3DF161-6ABF-4E62-BDAB-C28D4111D791}",
     {0xFD3DF161, 0x6ABF, 0x4E62, {0xBD, 0xAB, 0xC2, 0x8D, 0x41, 0x11, 0xD7, 0x91}},
     L"Data field collection (tarnhost)",
     &NewDataFields,
     true},
    {L"ZellDFld.DataField",
     L"{CA7B2B42-6BF6-46B3-8D34-B4EA560FF60C}",
     {0xCA7B2B42, 0x6BF6, 0x46B3, {0x8D, 0x34, 0xB4, 0xEA, 0x56, 0x0F, 0xF6, 0x0C}},
     L"Data field (tarnhost)",
     &NewDataField,
     true},
    {L"ZellLog.Log",
     L"{5B11C955-760F-4E99-A51E-66867DE040F8}",
     {0x5B11C955, 0x760F, 0x4E99, {0xA5, 0x1E, 0x66, 0x86, 0x7D, 0xE0, 0x40, 0xF8}},
     L"Log (tarnhost)",
     &NewLog,
     true},
    {L"ZellErr.ErrorManager",
     L"{A30CC3D0-1270-45D0-86EF-B46E35F02DD4}",
     {0xA30CC3D0, 0x1270, 0x45D0, {0x86, 0xEF, 0xB4, 0x6E, 0x35, 0xF0, 0x2D, 0xD4}},
     L"Error manager (tarnhost)",
     &NewErrorManager,
     true},
};

}  // namespace

TARN_COM_SERVER_ENTRY_POINTS(kClasses, nullptr, &InterfaceOf)
