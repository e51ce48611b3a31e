// Internal: the state behind DllCanUnloadNow and the Interpreter's class
// factory (registration/exports.cc, registration/class_factory.cc).
#pragma once

#include "tarn/value.h"

namespace tarn::detail {

// LockServer(True) / LockServer(False) of a class factory; the count never
// drops below zero.
void LockServer(bool lock) noexcept;
long ServerLockCount() noexcept;

// A new class factory of the Interpreter: late-bound members
// CreateInstance() and LockServer(Boolean).
ObjectRef NewInterpreterFactory();

}  // namespace tarn::detail
