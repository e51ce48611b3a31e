// Internal: the state behind DllCanUnloadNow and the Interpreter's class
// factory (registration/exports.cc, registration/class_factory.cc).
#pragma once

#include "tarn/value.h"

namespace tarn::detail {

// The process-wide count of the library's live objects (Interpreter
// instances and class factories). Atomic: objects of different threads may
// come and go at once.
void AddLiveObject() noexcept;
void DropLiveObject() noexcept;
long LiveObjectCount() noexcept;

// LockServer(True) / LockServer(False) of a class factory; the count never
// drops below zero.
void LockServer(bool lock) noexcept;
long ServerLockCount() noexcept;

// A new class factory of the Interpreter: late-bound members
// CreateInstance() and LockServer(Boolean).
ObjectRef NewInterpreterFactory();

}  // namespace tarn::detail
