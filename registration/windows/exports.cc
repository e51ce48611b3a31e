// The four exports of tarnintr.dll as a real in-process automation server:
// the Interpreter class, its type library and its class factory.
#include "registration/windows/com_server.h"
#include "tarn/interpreter.h"

namespace {

using tarn::detail::win::DispatchInterface;
using tarn::detail::win::DispatchMember;
using tarn::detail::win::ServerClass;
using tarn::detail::win::ServerTypeLib;

// {CC65DFEE-5711-44AF-902F-F9C1A5D87E0A}: the dispinterface _Interpreter.
constexpr IID kInterpreterIid = {
    0xCC65DFEE, 0x5711, 0x44AF, {0x90, 0x2F, 0xF9, 0xC1, 0xA5, 0xD8, 0x7E, 0x0A}};

const ServerTypeLib kTypeLib = {
    {0xEDA121A2, 0x65F6, 0x42E3, {0xA2, 0x8F, 0x3F, 0xAF, 0xBD, 0xAF, 0x72, 0x33}},
    L"{EDA121A2-65F6-42E3-A28F-3FAFBDAF7233}",
    1,
    0};

// The identifiers of the type library (tarnintr.idl).
constexpr WORD kRead = DISPATCH_PROPERTYGET;
constexpr WORD kObject = DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
constexpr DispatchMember kInterpreterMembers[] = {
    {1, u"Release", kRead},
    {2, u"Major", kRead},
    {3, u"Minor", kRead},
    {4, u"Revision", kRead},
    {5, u"objError", kObject},
    {6, u"strExpression", DISPATCH_PROPERTYPUT},
    {7, u"DataFields", kObject},
    {8, u"Init", kCall},
    {9, u"RealizeRegularExpression", kCall},
    {10, u"Strict", DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT},
};
const DispatchInterface kInterpreterInterface = {
    kInterpreterMembers, std::size(kInterpreterMembers), &kInterpreterIid, &kTypeLib.libid};

const DispatchInterface* InterfaceOf(tarn::Object& object) {
  return dynamic_cast<tarn::Interpreter*>(&object) != nullptr ? &kInterpreterInterface : nullptr;
}

tarn::ObjectRef NewInterpreter() { return tarn::ObjectRef(tarn::MakeRef<tarn::Interpreter>()); }

const ServerClass kClasses[] = {
    {L"TarnIntr.Interpreter",
     L"{C6D2A4F3-CF54-4C47-8EC7-81FFD93D0B58}",
     {0xC6D2A4F3, 0xCF54, 0x4C47, {0x8E, 0xC7, 0x81, 0xFF, 0xD9, 0x3D, 0x0B, 0x58}},
     L"TarnIntr.Interpreter",
     &NewInterpreter,
     false},
};

}  // namespace

TARN_COM_SERVER_ENTRY_POINTS(kClasses, &kTypeLib, &InterfaceOf)
