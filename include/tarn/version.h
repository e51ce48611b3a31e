// The library's version, fixed when it is built.
#pragma once

namespace tarn {

inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 1;
inline constexpr int kVersionRevision = 9;

}  // namespace tarn
