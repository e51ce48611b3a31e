// Per-thread objects that need destroying when their thread ends.
//
// On Linux these are plain thread_local objects. On Windows a thread_local
// with a destructor pins its DLL and unloads it from inside the thread's
// exit, which deadlocks once the thread's CoUninitialize has let go of the
// DLL; there the objects live in storage without a destructor and are
// destroyed by the DLL's own DllMain (RunThreadExit), which the system calls
// for every thread that ends while the DLL is loaded, and for the unloading
// thread itself.
#pragma once

#include <new>

namespace tarn::detail {

#if defined(_WIN32)

using ThreadExitFn = void (*)() noexcept;

struct ThreadExitList {
  static constexpr int kMax = 16;
  ThreadExitFn fn[kMax];
  int count;
};
inline ThreadExitList& ThreadExits() noexcept {
  thread_local ThreadExitList list{};  // trivially destructible
  return list;
}

// Destroys the calling thread's objects, last made first.
inline void RunThreadExit() noexcept {
  ThreadExitList& list = ThreadExits();
  while (list.count > 0) list.fn[--list.count]();
}

// Set by a DLL's DllMain, which then calls RunThreadExit itself. A program
// has no DllMain, and nothing to unload: there one thread_local object runs
// it at the thread's end. One flag per module.
inline bool& DllMainRunsThreadExit() noexcept {
  static bool flag = false;
  return flag;
}
struct ThreadExitRunner {
  ~ThreadExitRunner() { RunThreadExit(); }
};

template <class T, class Tag>
struct ThreadStorage {
  alignas(T) static inline thread_local unsigned char bytes[sizeof(T)];
  static inline thread_local bool alive = false;
  static void Destroy() noexcept {
    if (!alive) return;
    alive = false;
    std::launder(reinterpret_cast<T*>(bytes))->~T();
  }
};

// The calling thread's T (default-constructed on first use). `Tag` tells
// apart objects of one type kept for different purposes.
template <class T, class Tag = T>
T& ThreadLocal() noexcept {
  using S = ThreadStorage<T, Tag>;
  if (!S::alive) [[unlikely]] {
    ::new (static_cast<void*>(S::bytes)) T();
    S::alive = true;
    ThreadExitList& list = ThreadExits();
    // A full list leaves the object to the end of the process.
    if (list.count < ThreadExitList::kMax) list.fn[list.count++] = &S::Destroy;
    if (!DllMainRunsThreadExit()) {
      thread_local ThreadExitRunner runner;
      (void)runner;
    }
  }
  return *std::launder(reinterpret_cast<T*>(S::bytes));
}

#else

template <class T, class Tag = T>
T& ThreadLocal() noexcept {
  thread_local T object;
  return object;
}

#endif

}  // namespace tarn::detail
