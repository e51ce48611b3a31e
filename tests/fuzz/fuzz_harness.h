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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "interpreter/host_access.h"
#include "support/host_doubles.h"

namespace tarn::fuzz {

using namespace doubles;

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
        const auto keys = fields->Keys();
        if (std::ranges::none_of(keys, [&](const auto& k) { return fields->Find(k) == r; }))
          broken = "result is neither a data field nor a host field";
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

// Empty when the library's own collection and fields give the same results,
// reports and generated names as a host whose collection and fields are
// reached only by member name; else the first difference. On inputs of odd
// length both hosts hold some of the generated names, in any case, which
// both must skip alike.
inline std::string Differential(const std::uint8_t* data, std::size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  std::vector<std::u16string> texts;
  for (const auto& piece : Split(all)) texts.push_back(FromUtf8(piece));
  const auto own_fields = [] { RegisterClass(kDataFieldProgId, &detail::NewDefaultDataField); };
  const auto late_fields = [] {
    RegisterClass(kDataFieldProgId, [] { return ObjectRef(MakeRef<Forwarding<DataField>>()); });
  };
  const bool hold = size % 2 == 1;
  struct Setup {
    Ref<ForwardingFields> own = MakeRef<ForwardingFields>();
    Ref<RecordingErrorManager> errors = MakeRef<RecordingErrorManager>();
    Interpreter interp;
  };
  Setup native, late;
  for (Setup* s : {&native, &late}) {
    Populate(*s->own->inner, s->interp);
    if (!hold) continue;
    for (const auto* held : {u"Autodf1", u"AUTODF3", u"autodf4"})
      s->own->inner->AddField(held, u"Long", std::int32_t{7});
  }
  own_fields();
  if (!native.interp.Init(ObjectRef(native.own->inner), native.errors, u"Fuzz", u"Fuzz") ||
      !late.interp.Init(ObjectRef(late.own), late.errors, u"Fuzz", u"Fuzz"))
    return "Init failed";
  std::string differs;
  for (std::size_t i = 0; i <= texts.size() && differs.empty(); ++i) {
    // After the texts, a probe shows that both gave back the same names.
    std::u16string a = i < texts.size() ? texts[i] : u"1 + 1", b = a;
    own_fields();
    const std::string own =
        Describe(native.interp.RealizeRegularExpression(a), native.errors.get());
    late_fields();
    const std::string other = Describe(late.interp.RealizeRegularExpression(b), late.errors.get());
    if (own != other)
      differs = (i < texts.size() ? "text " + std::to_string(i) : std::string("probe")) +
                ": own host gives\n" + own + "\nlate-bound host gives\n" + other;
  }
  own_fields();
  return differs;
}

// Both checks: the second for UTF-8 inputs only.
inline std::string CheckEval(const std::uint8_t* data, std::size_t size) {
  std::string broken = Run(data, size);
  if (broken.empty() && !(size >= 2 && data[0] == 0xFF && data[1] == 0xFE))
    broken = Differential(data, size);
  return broken;
}

// Runs `check` on every input in `dir` (hidden files left out); the number
// of inputs, or -1 without the folder. Each input that
// breaks a guarantee adds its path and what broke to `broken`.
inline int Replay(const std::filesystem::path& dir,
                  std::string (*check)(const std::uint8_t*, std::size_t),
                  std::vector<std::string>& broken) {
  if (!std::filesystem::is_directory(dir)) return -1;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string what =
        check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (!what.empty()) broken.push_back(entry.path().string() + ": " + what);
    ++count;
  }
  return count;
}

}  // namespace tarn::fuzz
