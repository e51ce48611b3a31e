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
