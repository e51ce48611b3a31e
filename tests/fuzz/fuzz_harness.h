// Shared by the libFuzzer target and the corpus replay test: evaluates an
// input against a host with fields of every kind and checks, after each
// call, that the interpreter handed everything back.
//
// Input: UTF-8, or raw UTF-16LE after a leading FF FE. NUL characters split
// it into up to four texts evaluated one after the other on one Interpreter.
// An input of odd length runs against a host collection of the host's own
// kind (late-bound), an even one against the default collection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "interpreter/host_access.h"
#include "tarn/tarn.h"

namespace tarn::fuzz {

// A host field whose value is computed by calling back into the interpreter.
class CallbackField final : public Object {
 public:
  Interpreter* interp = nullptr;
  int depth = 0;
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg>) override {
    if (kind == CallKind::Let || kind == CallKind::Set) RaiseNoMember(member);
    if (member == u"Name") return u"Again";
    if (member == u"DataType") return u"String";
    if (member == u"DataClass") return u"";
    if (member != u"Data" && !member.empty()) RaiseNoMember(member);
    if (!interp || depth > 2) return u"deep";
    ++depth;
    ObjectRef r = interp->RealizeRegularExpression(u"Field1 & \"-\" & Name");
    --depth;
    return r ? Get(r, u"Data") : Variant();
  }
  std::u16string_view ClassName() const noexcept override { return u"DataField"; }
};

// A host field whose every member fails.
class FailingField final : public Object {
 public:
  Variant Invoke(std::u16string_view, CallKind, std::span<Arg>) override {
    throw RuntimeError(5, u"Host", u"refused");
  }
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

// What a probe evaluation of "1 + 1" gives: its result's name shows where
// the interpreter's generated names stand (an interpreter back where it
// started names it "Autodf4"), and the answer whether it still evaluates.
inline std::string Probe(Interpreter& interp) {
  const Evaluation e = interp.Evaluate(u"1 + 1");
  if (!e.field()) return "nothing";
  std::string name;
  try {
    name = ToUtf8(CStr(Get(e.field(), u"Name")));
  } catch (const RuntimeError& err) {
    name = "error " + std::to_string(err.number());
  }
  return name + (e.is_error() ? " error" : " " + ToUtf8(e.type()));
}

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
  auto again = MakeRef<CallbackField>();
  again->interp = &interp;
  f.Add(again, u"Again");
  f.Add(MakeRef<FailingField>(), u"Broken");
}

// Splits on NUL into at most four pieces; the last keeps any further NULs.
template <class S>
std::vector<S> Split(const S& all) {
  std::vector<S> out;
  std::size_t start = 0;
  while (out.size() < 3) {
    const std::size_t nul = all.find(typename S::value_type{0}, start);
    if (nul == S::npos) break;
    out.push_back(all.substr(start, nul - start));
    start = nul + 1;
  }
  out.push_back(all.substr(start));
  return out;
}

// Empty when every guarantee held, else what broke.
inline std::string Run(const std::uint8_t* data, std::size_t size) {
  std::vector<std::u16string> texts;
  const bool utf16 = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  if (utf16) {
    std::u16string all;
    for (std::size_t i = 2; i + 1 < size; i += 2)
      all.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    texts = Split(all);
  } else {
    const std::string all(reinterpret_cast<const char*>(data), size);
    for (const auto& piece : Split(all)) texts.push_back(FromUtf8(piece));
  }

  auto own = MakeRef<ForwardingFields>();
  Ref<DataFields> fields = own->inner;
  auto errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;
  Populate(*fields, interp);
  const ObjectRef collection = size % 2 == 1 ? ObjectRef(own) : ObjectRef(fields);
  if (!interp.Init(collection, errors, u"Fuzz", u"Fuzz")) return "Init failed";
  const auto host = Snapshot(*fields);

  std::string broken;
  for (std::size_t i = 0; i < texts.size() && broken.empty(); ++i) {
    const std::string before = Probe(interp);
    try {
      ObjectRef r;
      if (!utf16 && i % 2 == 1) {
        r = interp.RealizeRegularExpressionUtf8(ToUtf8(texts[i]));
      } else {
        std::u16string text = texts[i];
        r = interp.RealizeRegularExpressionInPlace(text);
      }
      if (r && !dynamic_cast<DataField*>(r.get())) {
        bool hosts = false;
        for (const auto& s : host) hosts = hosts || s.field == r;
        if (!hosts) broken = "result is neither a data field nor a host field";
      }
    } catch (const std::exception& e) {
      broken = std::string("exception escaped: ") + e.what();
    } catch (...) {
      broken = "exception escaped";
    }
    if (broken.empty()) {
      const std::string after = Probe(interp);
      if (after != before) broken = "a probe gives " + after + ", was " + before;
    }
    if (broken.empty()) broken = CompareHost(*fields, host);
    if (!broken.empty()) broken = "text " + std::to_string(i) + ": " + broken;
    errors->Clear();
  }
  return broken;
}

// A data field of the host's own kind: the library's field reached only
// through Invoke.
class ForwardingField final : public Object {
 public:
  Ref<DataField> inner = MakeRef<DataField>();
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override {
    return inner->Invoke(member, kind, args);
  }
  std::u16string_view ClassName() const noexcept override { return u"DataField"; }
};

inline ObjectRef NewForwardingField() { return ObjectRef(MakeRef<ForwardingField>()); }

// What a call gave and reported, as text.
inline std::string Describe(const ObjectRef& r, const RecordingErrorManager& errors) {
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
  for (const auto& e : errors.reports())
    out += "\n" + std::to_string(e.number) + " " + ToUtf8(e.procedure) + " " + ToUtf8(e.message);
  return out;
}

// Empty when the library's own collection and fields give the same results
// and reports as a host whose collection and fields are reached only by
// member name; else the first difference.
inline std::string Differential(const std::uint8_t* data, std::size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  std::vector<std::u16string> texts;
  for (const auto& piece : Split(all)) texts.push_back(FromUtf8(piece));

  struct Setup {
    Ref<ForwardingFields> own = MakeRef<ForwardingFields>();
    Ref<RecordingErrorManager> errors = MakeRef<RecordingErrorManager>();
    Interpreter interp;
  };
  Setup native, late;
  Populate(*native.own->inner, native.interp);
  Populate(*late.own->inner, late.interp);
  RegisterClass(kDataFieldProgId, &detail::NewDefaultDataField);
  if (!native.interp.Init(ObjectRef(native.own->inner), native.errors, u"Fuzz", u"Fuzz") ||
      !late.interp.Init(ObjectRef(late.own), late.errors, u"Fuzz", u"Fuzz"))
    return "Init failed";

  std::string differs;
  for (std::size_t i = 0; i < texts.size() && differs.empty(); ++i) {
    std::u16string a = texts[i], b = texts[i];
    RegisterClass(kDataFieldProgId, &detail::NewDefaultDataField);
    const std::string own = Describe(native.interp.RealizeRegularExpression(a), *native.errors);
    RegisterClass(kDataFieldProgId, &NewForwardingField);
    const std::string other = Describe(late.interp.RealizeRegularExpression(b), *late.errors);
    if (own != other)
      differs = "text " + std::to_string(i) + ": own host gives\n" + own +
                "\nlate-bound host gives\n" + other;
    native.errors->Clear();
    late.errors->Clear();
  }
  RegisterClass(kDataFieldProgId, &detail::NewDefaultDataField);
  return differs;
}

}  // namespace tarn::fuzz
