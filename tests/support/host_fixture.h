// Hosts for tests: a default DataFields collection and a recording error
// manager, handed to a public Interpreter (Host) or, for the tests of single
// procedures, to the interpreter's internal core (CoreHost).
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "interpreter/interpreter_core.h"
#include "tarn/tarn.h"

namespace tarn::testing {

// The procedures that reported, each followed by ";".
inline std::u16string ProceduresOf(const RecordingErrorManager& errors) {
  std::u16string out;
  for (const auto& r : errors.reports()) out += r.procedure + u";";
  return out;
}

struct Host {
  Ref<DataFields> fields = MakeRef<DataFields>();
  Ref<RecordingErrorManager> errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;

  Host() { interp.Init(fields, errors, u"Sys", u"App"); }

  ObjectRef Eval(std::u16string text) { return interp.RealizeRegularExpression(text); }

  // The result's Data, or Missing for an empty reference.
  Variant Value(std::u16string text) {
    ObjectRef r = Eval(std::move(text));
    return r ? Get(r, u"Data") : Variant::Missing();
  }

  std::u16string Procedures() const { return ProceduresOf(*errors); }

  // Whether the interpreter is back where it started: the next evaluation
  // names its temporary fields from "Autodf1" again, and gives them all back.
  bool Idle() {
    const std::size_t before = fields->Count();
    const Evaluation probe = interp.Evaluate(u"1 + 1");
    return probe.ok() && Get(probe.field(), u"Name") == Variant(u"Autodf4") &&
           fields->Count() == before;
  }
};

// The interpreter's core on the same host, for tests of single procedures.
struct CoreHost {
  Ref<DataFields> fields = MakeRef<DataFields>();
  Ref<RecordingErrorManager> errors = MakeRef<RecordingErrorManager>();
  detail::InterpreterCore core;

  CoreHost() {
    std::u16string system = u"Sys", app = u"App";
    core.Init(fields, errors, system, app);
  }

  std::u16string Procedures() const { return ProceduresOf(*errors); }

  // A frame reading `text`, as the entry point opens one.
  detail::Frame& Open(const std::u16string& text) { return *core.AddInstance(text); }
};

inline std::string Show(const Variant& v) {
  if (v.is_missing()) return "<nothing>";
  std::string text;
  try {
    text = ToUtf8(CStr(v));
  } catch (const RuntimeError&) {
    text = "?";
  }
  return ToUtf8(v.TypeName()) + " " + text;
}

}  // namespace tarn::testing

namespace tarn {
// Readable values in test failures.
inline void PrintTo(const Variant& v, std::ostream* os) { *os << testing::Show(v); }
}  // namespace tarn
