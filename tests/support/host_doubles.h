// Host objects for the tests that attack the interpreter (limits, fuzzing,
// allocation failure, threads, soak): fields of every kind, a collection
// reached only by member name, and the checks that the host's collection
// and the interpreter's generated names end as they began. Public API only,
// so that programs linked to the shared library can use it too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/tarn.h"

namespace tarn::doubles {

// A host field whose value is `text` evaluated on the same interpreter, at
// most `max_depth` calls deep (deeper ones answer "deep").
class CallbackField final : public Object {
 public:
  CallbackField(Interpreter& interp, std::u16string name, std::u16string type, std::u16string text,
                int max_depth = 3)
      : interp_(interp), name_(name), type_(type), text_(text), max_depth_(max_depth) {}
  int depth = 0, deepest = 0, error_fields = 0;

  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg>) override {
    if (kind == CallKind::Let || kind == CallKind::Set) RaiseNoMember(member);
    if (member == u"Name") return name_;
    if (member == u"DataType") return type_;
    if (member == u"DataClass") return u"";
    if (member != u"Data" && !member.empty()) RaiseNoMember(member);
    if (depth >= max_depth_) return u"deep";
    deepest = std::max(deepest, ++depth);
    const Evaluation e = interp_.Evaluate(std::u16string_view(text_));
    --depth;
    if (e.is_error()) ++error_fields;
    return e.value();
  }
  std::u16string_view ClassName() const noexcept override { return u"DataField"; }

 private:
  Interpreter& interp_;
  std::u16string name_, type_, text_;
  int max_depth_;
};

// Raises an error of its own, or an exception that is no error at all.
[[noreturn]] inline void Refuse(bool foreign) {
  if (foreign) throw std::runtime_error("host failure");
  throw RuntimeError(5, u"Host", u"refused");
}

// An object whose every member fails.
template <bool kForeign = false>
class Throwing final : public Object {
 public:
  Variant Invoke(std::u16string_view, CallKind, std::span<Arg>) override { Refuse(kForeign); }
};

// A host's own collection or field: the library's one reached only through
// Invoke, unless `override_member` answers first.
template <class T>
class Forwarding final : public Object {
 public:
  Ref<T> inner = MakeRef<T>();
  std::function<bool(std::u16string_view, std::span<Arg>, Variant&)> override_member;
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override {
    Variant answer;
    if (override_member && override_member(member, args, answer)) return answer;
    return inner->Invoke(member, kind, args);
  }
  std::u16string_view ClassName() const noexcept override { return inner->ClassName(); }
};
using ForwardingFields = Forwarding<DataFields>;

// A mixed set of texts on the fields of Populate: operators, functions, IF
// blocks, a field that evaluates again, and texts that fail. The first
// three give a value.
inline const std::u16string kMixedTexts[] = {
    u"Field1 + 1",
    u"(Age * 2 + (Field1 - 1)) / 4 - Int \\ 5",
    u"7 / 2",
    u"Name & \", \" & Again & \" \" & Phone",
    u"Format AdmitDate, \"yyyymmdd hh:nn:ss\"",
    u"\"n: \" & Format Dbl, \"#,##0.00\"",
    u"Replace Phone, \"-\" , \"\"",
    u"\"MRN\" & Replace Name, \"a\" , \"o\" , 1, 10, 0",
    u"FormatHL7DateTime AdmitDate, 0, , True, True, -500",
    u"IF Age > 50 THEN \"old\" ELSEIF Age > 20 THEN Name & \"!\" ELSE \"young\" END IF",
    u"IF Int > 17 THEN\r\n  \"A\"\r\nELSEIF Int > 5 THEN\r\n  \"T\"\r\nELSE\r\n  \"C\"\r\nEND IF",
    u"IF Flag THEN (Age * 3) & Phone ELSE 0 END IF",
    u"#1/2/2003# - #1/1/2003#",
    u"1 / 0",
    u"1 + ?",
    u"\"abc",
    u"99999999999",
    u"#not a date#",
    u"Format \"abc\", \">\"",
    u"Unknown & 1",
    u"Obj & 1",
    u"Obj",
};

// Fields of every kind; "Again" evaluates on `interp`, "Broken" fails.
inline void Populate(DataFields& f, Interpreter& interp) {
  f.AddField(u"Field1", u"Long", std::int32_t{41});
  f.AddField(u"Age", u"Long", std::int32_t{30});
  f.AddField(u"Int", u"Integer", std::int16_t{7});
  f.AddField(u"Dbl", u"Double", 2.5);
  f.AddField(u"Sng", u"Single", 1.5f);
  f.AddField(u"Flag", u"Boolean", true);
  f.AddField(u"AdmitDate", u"Date", Date{45296.5730324074});
  f.AddField(u"Name", u"String", u"banana");
  f.AddField(u"Phone", u"String", u"555-1234");
  f.AddField(u"Fmt", u"String", u"mm/dd/yyyy");
  f.AddField(u"Blank", u"Variant", Variant());
  f.AddField(u"Nul", u"Variant", Variant::Null());
  f.AddField(u"Custom", u"Money", u"2.5");
  f.AddField(u"Obj", u"Object", Variant(ObjectRef(MakeRef<DataFields>())));
  f.Add(MakeRef<CallbackField>(interp, u"Again", u"String", u"Field1 & \"-\" & Name"), u"Again");
  f.Add(MakeRef<Throwing<>>(), u"Broken");
}

// What a call gave and reported, as one text; the reports are cleared.
inline std::string Describe(const ObjectRef& r, RecordingErrorManager* errors) {
  std::string out;
  if (!r) {
    out = "nothing";
  } else {
    auto text = [&](std::u16string_view member) {
      try {
        const Variant v = Get(r, member);
        return ToUtf8(v.TypeName()) + ":" + (v.is_null() ? "" : ToUtf8(CStr(v)));
      } catch (const RuntimeError& e) {
        return "error " + std::to_string(e.number());
      }
    };
    out = text(u"Name") + " " + text(u"DataType") + " " + text(u"Data") + " " + text(u"DataClass");
  }
  if (!errors) return out;
  for (const auto& e : errors->reports())
    out += "\n" + std::to_string(e.number) + " " + ToUtf8(e.procedure) + " " + ToUtf8(e.message);
  errors->Clear();
  return out;
}

// The host's collection, a line a field: its key, which object it is and,
// for the library's own fields, what they hold.
inline std::vector<std::string> Snapshot(const DataFields& fields) {
  std::vector<std::string> out;
  for (const auto& key : fields.Keys()) {
    const ObjectRef field = fields.Find(key);
    out.push_back(ToUtf8(key) + " " +
                  std::to_string(reinterpret_cast<std::uintptr_t>(field.get())));
    if (dynamic_cast<DataField*>(field.get())) out.back() += " " + Describe(field, nullptr);
  }
  return out;
}

// Empty when `fields` holds what it held at `before`, else the difference.
inline std::string CompareHost(const DataFields& fields, const std::vector<std::string>& before) {
  const auto now = Snapshot(fields);
  const auto [a, b] = std::mismatch(now.begin(), now.end(), before.begin(), before.end());
  if (a == now.end() && b == before.end()) return {};
  return "host collection holds " + (a == now.end() ? std::string("no more") : *a) +
         " where it held " + (b == before.end() ? std::string("no more") : *b);
}

// What a probe evaluation of "1 + 1" gives: its result's name shows where
// the interpreter's generated names stand (an interpreter back where it
// started names it "Autodf4"), and the answer whether it still evaluates.
inline std::string Probe(Interpreter& interp) {
  return Describe(interp.Evaluate(u"1 + 1").field(), nullptr);
}

}  // namespace tarn::doubles
