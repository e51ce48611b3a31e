// A host for tests: a default DataFields collection, a recording error
// manager and an interpreter core initialised with both.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "interpreter/interpreter_core.h"
#include "tarn/tarn.h"

namespace tarn::testing {

struct Host {
  Ref<DataFields> fields = MakeRef<DataFields>();
  Ref<RecordingErrorManager> errors = MakeRef<RecordingErrorManager>();
  detail::InterpreterCore core;

  Host() {
    std::u16string system = u"Sys", app = u"App";
    core.Init(fields, errors, system, app);
  }

  ObjectRef Eval(std::u16string text) { return core.RealizeRegularExpression(text); }

  // The result's Data, or Missing for an empty reference.
  Variant Value(std::u16string text) {
    ObjectRef r = Eval(std::move(text));
    return r ? Get(r, u"Data") : Variant::Missing();
  }

  std::u16string Procedures() const {
    std::u16string out;
    for (const auto& r : errors->reports()) out += r.procedure + u";";
    return out;
  }
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
