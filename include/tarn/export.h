// Symbol visibility for the tarnintr shared library.
#pragma once

#if defined(_WIN32)
#if defined(TARN_BUILDING_LIBRARY)
#define TARN_API __declspec(dllexport)
#else
#define TARN_API __declspec(dllimport)
#endif
#else
#define TARN_API __attribute__((visibility("default")))
#endif

// For the few small helpers on every evaluation's path that the compiler
// would otherwise call out of line.
#if defined(_MSC_VER)
#define TARN_ALWAYS_INLINE __forceinline
#elif defined(__GNUC__)
#define TARN_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define TARN_ALWAYS_INLINE inline
#endif
