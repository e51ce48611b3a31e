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

#include "tarn/tarn.h"

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

// A collection the interpreter can reach only by member name.
class LateFields final : public Object {
 public:
  Ref<DataFields> inner = MakeRef<DataFields>();
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override {
    return inner->Invoke(member, kind, args);
  }
};

const char16_t* const kTexts[] = {
    u"Age + 1",
    u"Name & \" \" & Phone",
    u"(Age * 2 + (Field1 - 1)) / 4",
    u"Format AdmitDate, \"yyyy-mm-dd hh:nn\"",
    u"\"n: \" & Format Amount, \"#,##0.00\"",
    u"Replace Phone, \"-\" , \"\" , 1 , 1",
    u"FormatHL7DateTime AdmitDate, 0, , True, True, -500",
    u"IF Age > 50 THEN \"old\" ELSEIF Age > 20 THEN Name & \"!\" ELSE \"young\" END IF",
    u"IF Flag THEN (Age * 3) & Phone ELSE 0 END IF",
    u"Again + 1",
    u"1 / 0",
    u"Format \"abc\", \">\"",
    u"Missing + 1",
};

// A field whose value is another evaluation on the same interpreter.
class Again final : public Object {
 public:
  Interpreter* interp = nullptr;
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg>) override {
    if (member == u"Name") return Variant(u"Again");
    if (member == u"DataType") return Variant(u"Long");
    if (member == u"DataClass") return Variant(u"");
    const Evaluation e = interp->Evaluate(u"Age * 2");
    return e.value();
  }
};

void Populate(DataFields& f, Interpreter& interp) {
  auto again = MakeRef<Again>();
  again->interp = &interp;
  f.Add(again, u"Again");
  f.AddField(u"Amount", u"Double", 1234.5);
  f.AddField(u"Field1", u"Long", std::int32_t{41});
  f.AddField(u"Age", u"Long", std::int32_t{30});
  f.AddField(u"Flag", u"Boolean", true);
  f.AddField(u"AdmitDate", u"Date", Date{45296.5730324074});
  f.AddField(u"Name", u"String", u"banana");
  f.AddField(u"Phone", u"String", u"555-1234");
}

struct Snapshot {
  std::vector<std::u16string> keys;
  std::vector<ObjectRef> fields;
  std::vector<Variant> data;
};

Snapshot Take(const DataFields& f) {
  Snapshot s;
  s.keys = f.Keys();
  for (const auto& k : s.keys) {
    s.fields.push_back(f.Find(k));
    const auto* own = dynamic_cast<const DataField*>(s.fields.back().get());
    s.data.push_back(own ? own->data() : Variant());
  }
  return s;
}

bool Same(const Snapshot& a, const Snapshot& b) {
  return a.keys == b.keys && a.fields == b.fields && a.data == b.data;
}

std::string Describe(const Evaluation& e) {
  if (!e.field()) return "<nothing>";
  if (e.is_error()) return "<error>";
  return ToUtf8(e.type()) + " " + ToUtf8(CStr(e.value()));
}

// The name of the result of "1 + 1": an interpreter that gave back all its
// generated names starts from "Autodf1" again.
std::string ProbeName(Interpreter& interp) {
  const Evaluation e = interp.Evaluate(u"1 + 1");
  return e.field() ? ToUtf8(CStr(Get(e.field(), u"Name"))) : "<nothing>";
}

// One expression under every failure point; the number of broken runs.
int Check(const char16_t* text, bool late) {
  auto own = MakeRef<LateFields>();
  auto errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;
  Populate(*own->inner, interp);
  const ObjectRef host = late ? ObjectRef(own) : ObjectRef(own->inner);
  if (!interp.Init(host, errors, u"Sys", u"App")) return 1;
  const std::string expected = Describe(interp.Evaluate(std::u16string_view(text)));
  const std::string probe = ProbeName(interp);
  const Snapshot before = Take(*own->inner);
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
    std::string problem;
    if (escaped) problem = "an exception reached the host";
    if (problem.empty()) {
      const Snapshot after = Take(*own->inner);
      if (!Same(before, after)) {
        problem = "the host's collection changed:";
        for (const auto& k : after.keys) problem += " " + ToUtf8(k);
      }
    }
    if (problem.empty()) {
      const std::string again = Describe(interp.Evaluate(std::u16string_view(text)));
      if (again != expected) problem = "next call gives " + again + ", not " + expected;
    }
    if (problem.empty() && ProbeName(interp) != probe)
      problem = "generated names start at " + ProbeName(interp) + ", not " + probe;
    if (!problem.empty()) {
      std::fprintf(stderr, "%s, allocation %ld: %s\n", label.c_str(), n, problem.c_str());
      if (++broken > 5) return broken;
    }
    if (!any_failed) {
      std::printf("%-72s %-24s %ld allocations\n", label.c_str(), expected.c_str(), n - 1);
      return broken;
    }
  }
}

}  // namespace

int main() {
  int broken = 0;
  for (const char16_t* text : kTexts)
    for (bool late : {false, true}) broken += Check(text, late);
  if (broken) std::fprintf(stderr, "%d broken runs\n", broken);
  return broken ? 1 : 0;
}
