/* The library's exports: the four entry points of an in-process automation
 * server, with C linkage, plus one C helper for hosts that load the library
 * at run time (dlopen) and so cannot reach its C++ class table directly.
 *
 * See docs/registration.md. Every object pointer handed out through `ppv`
 * or `out` is a `tarn::Object*` (value.h) that carries one reference: the
 * caller reaches its members by name through Object::Invoke and gives the
 * reference back with DropRef().
 *
 * This header is valid C (C11) and C++.
 */
#ifndef TARN_EXPORTS_H_
#define TARN_EXPORTS_H_

#include <stdint.h>

#include "tarn/export.h"

#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A class or interface identifier, laid out as the platform's GUID. */
typedef struct TarnGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} TarnGuid;

/* The platform's result codes (HRESULT values) returned by the exports. */
#define TARN_S_OK ((int32_t)0)
#define TARN_S_FALSE ((int32_t)1)
#define TARN_E_NOINTERFACE ((int32_t)0x80004002)
#define TARN_E_POINTER ((int32_t)0x80004003)
#define TARN_E_UNEXPECTED ((int32_t)0x8000FFFF)
#define TARN_E_OUTOFMEMORY ((int32_t)0x8007000E)
#define TARN_E_INVALIDARG ((int32_t)0x80070057)
#define TARN_CLASS_E_CLASSNOTAVAILABLE ((int32_t)0x80040111)

/* The Interpreter class: programmatic identifier "TarnIntr.Interpreter",
 * class identifier {C6D2A4F3-CF54-4C47-8EC7-81FFD93D0B58}. */
#define TARN_PROGID_INTERPRETER_TEXT "TarnIntr.Interpreter"
#define TARN_CLSID_INTERPRETER_TEXT "{C6D2A4F3-CF54-4C47-8EC7-81FFD93D0B58}"
#define TARN_CLSID_INTERPRETER_INIT                                                           \
  {                                                                                           \
    0xC6D2A4F3u, 0xCF54u, 0x4C47u, { 0x8Eu, 0xC7u, 0x81u, 0xFFu, 0xD9u, 0x3Du, 0x0Bu, 0x58u } \
  }

/* The library's default host components, registered by DllRegisterServer
 * (unless the process already registered its own under these identifiers)
 * for hosts that have no DataFields collection or error manager of their
 * own: tarn::DataFields and tarn::RecordingErrorManager (host.h). */
#define TARN_PROGID_DATAFIELDS_TEXT "TarnIntr.DataFields"
#define TARN_PROGID_ERRORMANAGER_TEXT "TarnIntr.ErrorManager"

/* Interface identifiers that DllGetClassObject accepts for the factory. */
#define TARN_IID_IUNKNOWN_INIT                                                                \
  {                                                                                           \
    0x00000000u, 0x0000u, 0x0000u, { 0xC0u, 0x00u, 0x00u, 0x00u, 0x00u, 0x00u, 0x00u, 0x46u } \
  }
#define TARN_IID_ICLASSFACTORY_INIT                                                           \
  {                                                                                           \
    0x00000001u, 0x0000u, 0x0000u, { 0xC0u, 0x00u, 0x00u, 0x00u, 0x00u, 0x00u, 0x00u, 0x46u } \
  }
#define TARN_IID_IDISPATCH_INIT                                                               \
  {                                                                                           \
    0x00020400u, 0x0000u, 0x0000u, { 0xC0u, 0x00u, 0x00u, 0x00u, 0x00u, 0x00u, 0x00u, 0x46u } \
  }

/* Registers "TarnIntr.Interpreter" (also under its class identifier text)
 * and the default host components in the process's class table. S_OK. */
TARN_API int32_t DllRegisterServer(void);

/* Removes what DllRegisterServer registered; S_OK (also when nothing was
 * registered). Objects already created live on. */
TARN_API int32_t DllUnregisterServer(void);

/* Hands out the class factory of the class `rclsid` (only the Interpreter's)
 * for the interface `riid` (IUnknown, IClassFactory or IDispatch): an object
 * with the late-bound members CreateInstance() (a new Interpreter) and
 * LockServer(Boolean). Works whether or not the class is registered.
 * S_OK; E_POINTER when `ppv` is null; E_INVALIDARG when `rclsid` or `riid`
 * is null; CLASS_E_CLASSNOTAVAILABLE for another class; E_NOINTERFACE for
 * another interface; E_OUTOFMEMORY. `*ppv` is null on every failure. */
TARN_API int32_t DllGetClassObject(const TarnGuid* rclsid, const TarnGuid* riid, void** ppv);

/* S_OK when no Interpreter and no class factory of the library is alive and
 * no LockServer(True) is outstanding; S_FALSE otherwise. */
TARN_API int32_t DllCanUnloadNow(void);

/* tarn::CreateObject (object.h) on the library's own class table, for hosts
 * that load the library at run time: creates the object registered under
 * the programmatic identifier `progid` (a null-terminated 16-bit text).
 * Returns 0 and stores the object with one reference in `*out`, or the
 * platform's run-time error number with `*out` null: 429 when no such class
 * is registered or it could not be created (or the error that the class's
 * creation raised), 5 for a null argument, 7 when memory runs out. */
TARN_API int32_t TarnCreateObject(const char16_t* progid, void** out);

#ifdef __cplusplus
} /* extern "C" */

#include <string_view>

// Identifiers compare member by member.
constexpr bool operator==(const TarnGuid& a, const TarnGuid& b) noexcept {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.data4[i] != b.data4[i]) return false;
  return true;
}

namespace tarn {

inline constexpr TarnGuid kInterpreterClsid = TARN_CLSID_INTERPRETER_INIT;
inline constexpr std::u16string_view kInterpreterClsidText =
    u"{C6D2A4F3-CF54-4C47-8EC7-81FFD93D0B58}";
inline constexpr std::u16string_view kDataFieldsProgId = u"" TARN_PROGID_DATAFIELDS_TEXT;
inline constexpr std::u16string_view kErrorManagerProgId = u"" TARN_PROGID_ERRORMANAGER_TEXT;
inline constexpr TarnGuid kIidIUnknown = TARN_IID_IUNKNOWN_INIT;
inline constexpr TarnGuid kIidIClassFactory = TARN_IID_ICLASSFACTORY_INIT;
inline constexpr TarnGuid kIidIDispatch = TARN_IID_IDISPATCH_INIT;

}  // namespace tarn

#endif /* __cplusplus */

#endif /* TARN_EXPORTS_H_ */
