// libFuzzer target: tarn-hl7's records reader and message builder.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_tools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = tarn::fuzz::RunRecords(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "records guarantee broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
