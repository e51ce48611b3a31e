// At a thread's end, winpthreads runs its keys' destructors in the order the
// keys were made. libgcc's key frees the thread's thread_local storage;
// libstdc++'s runs the destructors of the thread_local objects in it. Unless
// libstdc++'s key comes first, those destructors run on freed memory (the
// debug log's state, the character constants, ...). Registering one
// destructor before any thread_local is touched makes libstdc++'s key first,
// in every program and DLL that links the library.
#include <cxxabi.h>
#include <windows.h>

extern "C" void* __dso_handle;

namespace {

// Takes nothing, so that it fits the calling convention of a destructor
// (thiscall on i686) as well as any other.
void Nothing() {}

template <class Destructor>
void RegisterNothing(int (*thread_atexit)(Destructor, void*, void*)) {
  static int anchor;
  thread_atexit(reinterpret_cast<Destructor>(&Nothing), &anchor, &__dso_handle);
}

// Only in a program: in a DLL the registration would hold the DLL until the
// loading thread ends and unload it from inside that thread's exit, which
// deadlocks once the thread's CoUninitialize has let go of it. The DLLs
// keep no thread_local object with a destructor (platform/thread_exit.h).
bool InProgram() {
  HMODULE self = nullptr;
  static int anchor;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&anchor), &self))
    return true;
  return self == GetModuleHandleW(nullptr);
}

struct ThreadExitOrder {
  ThreadExitOrder() {
    if (InProgram()) RegisterNothing(&__cxxabiv1::__cxa_thread_atexit);
  }
};

__attribute__((init_priority(101))) ThreadExitOrder order;

}  // namespace
