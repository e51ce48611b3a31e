// Evaluates "Field1 + 1" with a host collection that holds Field1 = Long 41
// and prints the result's Data: 42.
#include <tarn/tarn.h>

#include <cstdint>
#include <iostream>

int main() {
  auto fields = tarn::MakeRef<tarn::DataFields>();
  fields->AddField(u"Field1", u"Long", std::int32_t{41});
  auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();

  auto interp = tarn::MakeRef<tarn::Interpreter>();
  if (!interp->Init(fields, errors, u"System", u"Application")) return 1;
  tarn::ObjectRef result = interp->RealizeRegularExpression(u"Field1 + 1");
  if (!result) return 1;

  std::cout << tarn::ToUtf8(tarn::CStr(tarn::Get(result, u"Data"))) << '\n';
  // The temporary data fields are gone again and nothing was reported.
  return fields->Count() == 1 && errors->reports().empty() ? 0 : 1;
}
