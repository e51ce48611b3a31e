// The library's exports: DllRegisterServer, DllUnregisterServer,
// DllGetClassObject, DllCanUnloadNow and TarnCreateObject (tarn/exports.h).
//
// Registration is the process's class table (tarn::RegisterClass): the
// Interpreter goes in under its programmatic identifier and under the text
// of its class identifier; the default host components go in unless the
// process registered its own. Nothing is written outside the process.
#include "tarn/exports.h"

#include <mutex>
#include <new>
#include <string_view>

#include "platform/live_objects.h"
#include "registration/registration.h"
#include "tarn/host.h"
#include "tarn/interpreter.h"
#include "tarn/object.h"

namespace {

using tarn::ObjectRef;

std::mutex& RegistrationMutex() {
  static std::mutex* m = new std::mutex;  // never destroyed: used from exit paths
  return *m;
}

// Which default host components this library put in the class table, so that
// DllUnregisterServer removes only its own.
bool g_registered_data_fields = false;
bool g_registered_error_manager = false;

ObjectRef NewInterpreter() { return ObjectRef(tarn::MakeRef<tarn::Interpreter>()); }
ObjectRef NewDataFields() { return ObjectRef(tarn::MakeRef<tarn::DataFields>()); }
ObjectRef NewErrorManager() { return ObjectRef(tarn::MakeRef<tarn::RecordingErrorManager>()); }

}  // namespace

extern "C" {

TARN_API std::int32_t DllRegisterServer(void) {
  try {
    std::lock_guard lock(RegistrationMutex());
    tarn::RegisterClass(tarn::kInterpreterProgId, &NewInterpreter);
    tarn::RegisterClass(tarn::kInterpreterClsidText, &NewInterpreter);
    if (!tarn::IsClassRegistered(tarn::kDataFieldsProgId)) {
      tarn::RegisterClass(tarn::kDataFieldsProgId, &NewDataFields);
      g_registered_data_fields = true;
    }
    if (!tarn::IsClassRegistered(tarn::kErrorManagerProgId)) {
      tarn::RegisterClass(tarn::kErrorManagerProgId, &NewErrorManager);
      g_registered_error_manager = true;
    }
    return TARN_S_OK;
  } catch (const std::bad_alloc&) {
    return TARN_E_OUTOFMEMORY;
  } catch (...) {
    return TARN_E_UNEXPECTED;
  }
}

TARN_API std::int32_t DllUnregisterServer(void) {
  try {
    std::lock_guard lock(RegistrationMutex());
    tarn::UnregisterClass(tarn::kInterpreterProgId);
    tarn::UnregisterClass(tarn::kInterpreterClsidText);
    if (g_registered_data_fields) tarn::UnregisterClass(tarn::kDataFieldsProgId);
    if (g_registered_error_manager) tarn::UnregisterClass(tarn::kErrorManagerProgId);
    g_registered_data_fields = g_registered_error_manager = false;
    return TARN_S_OK;
  } catch (...) {
    return TARN_E_UNEXPECTED;
  }
}

TARN_API std::int32_t DllGetClassObject(const TarnGuid* rclsid, const TarnGuid* riid, void** ppv) {
  if (ppv == nullptr) return TARN_E_POINTER;
  *ppv = nullptr;
  if (rclsid == nullptr || riid == nullptr) return TARN_E_INVALIDARG;
  if (!(*rclsid == tarn::kInterpreterClsid)) return TARN_CLASS_E_CLASSNOTAVAILABLE;
  if (!(*riid == tarn::kIidIClassFactory || *riid == tarn::kIidIUnknown ||
        *riid == tarn::kIidIDispatch))
    return TARN_E_NOINTERFACE;
  try {
    *ppv = tarn::detail::NewInterpreterFactory().release();  // the caller's reference
    return TARN_S_OK;
  } catch (const std::bad_alloc&) {
    return TARN_E_OUTOFMEMORY;
  } catch (...) {
    return TARN_E_UNEXPECTED;
  }
}

TARN_API std::int32_t DllCanUnloadNow(void) {
  return tarn::detail::LiveObjectCount() == 0 && tarn::detail::ServerLockCount() == 0
             ? TARN_S_OK
             : TARN_S_FALSE;
}

TARN_API std::int32_t TarnCreateObject(const char16_t* progid, void** out) {
  if (out == nullptr) return tarn::err::kInvalidProcedureCall;
  *out = nullptr;
  if (progid == nullptr) return tarn::err::kInvalidProcedureCall;
  try {
    *out = tarn::CreateObject(std::u16string_view(progid)).release();
    return 0;
  } catch (const tarn::RuntimeError& e) {
    return e.number() != 0 ? e.number() : tarn::err::kCannotCreateObject;
  } catch (const std::bad_alloc&) {
    return tarn::err::kOutOfMemory;
  } catch (...) {
    return tarn::err::kCannotCreateObject;
  }
}

}  // extern "C"
