// libFuzzer target: any bytes, as UTF-8 or raw UTF-16, against a host with
// fields of every kind. A broken guarantee, or a difference between the
// library's own host and a late-bound one, aborts with its description.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string broken = tarn::fuzz::Run(data, size);
  // UTF-8 inputs also compare the library's own host with a late-bound one.
  if (broken.empty() && !(size >= 2 && data[0] == 0xFF && data[1] == 0xFE))
    broken = tarn::fuzz::Differential(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "tarnintr guarantee broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
