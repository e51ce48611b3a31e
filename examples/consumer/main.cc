// Evaluates "Field1 + 1" with a host collection that holds Field1 = Long 41
// and prints the result's value: 42.
#include <tarn/tarn.h>

#include <cstdint>
#include <iostream>

int main() {
  auto fields = tarn::MakeRef<tarn::DataFields>();
  fields->AddField(u"Field1", u"Long", std::int32_t{41});
  auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();

  tarn::Interpreter interpreter;
  if (!interpreter.Init(fields, errors, u"MySystem", u"MyApplication")) return 1;

  const tarn::Evaluation r = interpreter.Evaluate(u"Field1 + 1");
  if (!r.ok()) {  // the Error field, or reports (also sent to `errors`)
    for (const auto& report : r.reports())
      std::cerr << tarn::ToUtf8(report.procedure) << ": " << tarn::ToUtf8(report.message) << '\n';
    return 1;
  }
  std::cout << tarn::ToUtf8(tarn::CStr(r.value())) << '\n';  // 42, r.type() is "Long"
  // The temporary data fields are gone again.
  return fields->Count() == 1 ? 0 : 1;
}
