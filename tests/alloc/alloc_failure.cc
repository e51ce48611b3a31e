// Allocation failure, in the manner of SQLite's malloc tests: operator new
// is replaced so that the Nth allocation throws std::bad_alloc, and every
// expression below is evaluated once for every N until a run meets no
// failure. Each run must answer without an exception reaching the host,
// leave the host's collection exactly as it was, and leave the interpreter
// able to give the expression's own result on the next call.
//
// A plain program rather than a GoogleTest one: the framework allocates too.
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "support/host_doubles.h"

namespace {

// 0: no failure armed; else the allocation number that fails.
thread_local long fail_at = 0;
thread_local long allocations = 0;
thread_local bool failed = false;

void* Allocate(std::size_t n) {
  if (fail_at != 0 && ++allocations == fail_at) {
    failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace tarn;
using namespace tarn::doubles;

// One expression under every failure point; the number of broken runs.
int Check(const std::u16string& text, bool late) {
  auto own = MakeRef<ForwardingFields>();
  auto errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;
  Populate(*own->inner, interp);
  const ObjectRef host = late ? ObjectRef(own) : ObjectRef(own->inner);
  if (!interp.Init(host, errors, u"Sys", u"App")) return 1;
  const std::string expected = Describe(interp.RealizeRegularExpression(text), errors.get());
  const std::string probe = Probe(interp);
  const auto before = Snapshot(*own->inner);
  const std::string label = ToUtf8(text) + (late ? " (late-bound host)" : "");

  int broken = 0;
  for (long n = 1;; ++n) {
    allocations = 0;
    failed = false;
    fail_at = n;
    bool escaped = false;
    try {
      // Both entry points: the field alone, and the evaluation with reports.
      ObjectRef r = interp.RealizeRegularExpression(text);
      Evaluation e = interp.Evaluate(std::u16string_view(text));
    } catch (...) {
      escaped = true;
    }
    fail_at = 0;
    const bool any_failed = failed;
    errors->Clear();
    std::string problem =
        escaped ? "an exception reached the host" : CompareHost(*own->inner, before);
    if (problem.empty()) {
      const std::string again = Describe(interp.RealizeRegularExpression(text), errors.get());
      if (again != expected) problem = "next call gives " + again + ", not " + expected;
    }
    if (problem.empty() && Probe(interp) != probe)
      problem = "a probe gives " + Probe(interp) + ", not " + probe;
    if (!problem.empty()) {
      std::fprintf(stderr, "%s, allocation %ld: %s\n", label.c_str(), n, problem.c_str());
      if (++broken > 5) return broken;
    }
    if (!any_failed) {
      std::printf("%-72s %ld allocations\n", label.c_str(), n - 1);
      return broken;
    }
  }
}

}  // namespace

int main() {
  int broken = 0;
  for (const auto& text : kMixedTexts)
    for (bool late : {false, true}) broken += Check(text, late);
  if (broken) std::fprintf(stderr, "%d broken runs\n", broken);
  return broken ? 1 : 0;
}
