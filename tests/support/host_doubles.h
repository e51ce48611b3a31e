// Host objects for the tests that attack the interpreter (limits, fuzzing,
// allocation failure, threads, soak): fields of every kind, a collection
// reached only by member name, and the checks that the host's collection
// and the interpreter's generated names end as they began. Public API only,
// so that programs linked to the shared library can use it too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
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

// A host collection of its own: reached only through Invoke, forwarding to a
// default collection unless `override_member` answers first.
class ForwardingFields final : public Object {
 public:
  Ref<DataFields> inner = MakeRef<DataFields>();
  std::function<bool(std::u16string_view, std::span<Arg>, Variant&)> override_member;
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override {
    Variant answer;
    if (override_member && override_member(member, args, answer)) return answer;
    return inner->Invoke(member, kind, args);
  }
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

struct FieldState {
  std::u16string key;
  ObjectRef field;
  bool plain = false;  // a default DataField whose content is compared
  std::u16string name, type, data_class;
  Variant data;
};

inline std::vector<FieldState> Snapshot(const DataFields& fields) {
  std::vector<FieldState> out;
  for (const auto& key : fields.Keys()) {
    FieldState s;
    s.key = key;
    s.field = fields.Find(key);
    if (auto* f = dynamic_cast<DataField*>(s.field.get())) {
      s.plain = true;
      s.name = f->name();
      s.type = f->data_type();
      s.data_class = f->data_class();
      s.data = f->data();
    }
    out.push_back(std::move(s));
  }
  return out;
}

// Empty when `fields` holds what it held at `before`, else the difference.
inline std::string CompareHost(const DataFields& fields, const std::vector<FieldState>& before) {
  const auto keys = fields.Keys();
  if (keys.size() != before.size())
    return "host collection holds " + std::to_string(keys.size()) + " fields, expected " +
           std::to_string(before.size()) +
           (keys.size() > before.size() ? " (first extra: " + ToUtf8(keys[before.size()]) + ")"
                                        : "");
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const FieldState& s = before[i];
    if (keys[i] != s.key) return "host key " + ToUtf8(keys[i]) + " instead of " + ToUtf8(s.key);
    if (!(fields.Find(s.key) == s.field)) return "host field " + ToUtf8(s.key) + " replaced";
    if (!s.plain) continue;
    const auto* f = static_cast<const DataField*>(s.field.get());
    if (f->name() != s.name || f->data_type() != s.type || f->data_class() != s.data_class ||
        !(f->data() == s.data))
      return "host field " + ToUtf8(s.key) + " changed";
  }
  return {};
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

// What a probe evaluation of "1 + 1" gives: its result's name shows where
// the interpreter's generated names stand (an interpreter back where it
// started names it "Autodf4"), and the answer whether it still evaluates.
inline std::string Probe(Interpreter& interp) {
  return Describe(interp.Evaluate(u"1 + 1").field(), nullptr);
}

}  // namespace tarn::doubles
