// libFuzzer target: any bytes, as UTF-8 or raw UTF-16, against a host with
// fields of every kind. A broken guarantee aborts with its description.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = tarn::fuzz::Run(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "tarnintr guarantee broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
