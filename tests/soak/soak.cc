// Long run: evaluates a mixed set of texts ten million times (or the count
// given) on one Interpreter and fails when the peak resident size grew by
// more than a small margin between the first tenth and the end.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/host_doubles.h"

namespace {

using tarn::doubles::kMixedTexts;

long PeakKiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const long total = argc > 1 ? std::atol(argv[1]) : 10'000'000;
  const long margin_kib = argc > 2 ? std::atol(argv[2]) : 1024;
  auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();
  tarn::Interpreter interp;
  auto fields = tarn::MakeRef<tarn::DataFields>();
  tarn::doubles::Populate(*fields, interp);
  const auto host = tarn::doubles::Snapshot(*fields);
  interp.Init(fields, errors, u"Soak", u"Soak");

  const auto start = std::chrono::steady_clock::now();
  long at_tenth = 0, errors_fields = 0;
  bool wrong = false;
  for (long i = 1; i <= total; ++i) {
    const auto& text = kMixedTexts[static_cast<std::size_t>(i) % std::size(kMixedTexts)];
    tarn::ObjectRef r = interp.RealizeRegularExpression(text);
    if (r && tarn::Get(r, u"Name") == tarn::Variant(u"Error")) ++errors_fields;
    errors->Clear();
    if (fields->Count() != host.size()) wrong = true;
    if (i == total / 10) {
      at_tenth = PeakKiB();
      std::printf("after %ld evaluations: peak resident %ld KiB\n", i, at_tenth);
      std::fflush(stdout);
    }
  }
  const long at_end = PeakKiB();
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("after %ld evaluations: peak resident %ld KiB (%.1f s, %.2f us each)\n", total,
              at_end, secs, secs * 1e6 / static_cast<double>(total));
  // Texts that cannot become a field yield the Error field; every round has the same share.
  std::printf("Error fields: %ld\n", errors_fields);
  // The last texts still evaluate: no resource ran out along the way.
  const tarn::ObjectRef last = interp.RealizeRegularExpression(u"Field1 + 1");
  wrong = wrong || !tarn::doubles::CompareHost(*fields, host).empty();
  const bool alive = last && tarn::Get(last, u"Data") == tarn::Variant(std::int32_t{42});
  if (wrong || !alive || at_end - at_tenth > margin_kib) {
    std::printf("FAILED: grew %ld KiB (margin %ld), collection %s, last evaluation %s\n",
                at_end - at_tenth, margin_kib, wrong ? "changed" : "intact",
                alive ? "right" : "wrong");
    return 1;
  }
  return 0;
}
