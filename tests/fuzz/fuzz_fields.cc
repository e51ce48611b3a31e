// libFuzzer target: tarn-eval's --fields file and --field specs.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_tools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = tarn::fuzz::RunFields(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "fields guarantee broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
