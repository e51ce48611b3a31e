// The libFuzzer targets, one program each, FUZZ_CHECK naming the check:
// CheckEval (any bytes, as UTF-8 or raw UTF-16, against a host with fields
// of every kind), CheckRecords (tarn-hl7's records reader and message
// builder) or CheckFields (tarn-eval's --fields file and --field specs).
// A broken guarantee aborts with its description.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_tools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broken = tarn::fuzz::FUZZ_CHECK(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "guarantee broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
