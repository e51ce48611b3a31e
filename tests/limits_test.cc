// Limits and hostile hosts: oversized texts, exhausted names, deep nesting,
// host objects that fail or answer with the wrong kinds, missing objects.
// Whatever happens, the call returns, nothing escapes, and the host's
// collection and the interpreter's tables are as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>

#include "support/data_rows.h"
#include "support/host_doubles.h"
#include "support/host_fixture.h"

namespace tarn::testing {
namespace {

using namespace doubles;

bool IsErrorField(const ObjectRef& r) {
  return r && Get(r, u"Name") == Variant(u"Error") && Get(r, u"Data") == Variant(false);
}

// Evaluates `text` on `interp`, checking that nothing escapes, that the host
// collection `fields` ends as it began, and that a probe evaluation gives
// afterwards what it gave before.
ObjectRef EvalClean(Interpreter& interp, const DataFields& fields, std::u16string text,
                    const std::string& label) {
  const auto host = Snapshot(fields);
  const std::string before = Probe(interp);
  ObjectRef r;
  EXPECT_NO_THROW(r = interp.RealizeRegularExpression(text)) << label;
  EXPECT_EQ(Probe(interp), before) << label;
  EXPECT_EQ(CompareHost(fields, host), "") << label;
  return r;
}

// ---- Oversized and unterminated texts

// Counts the reports and notes a read past the last position, keeping none,
// so that a text which makes the interpreter report without end cannot eat
// the machine's memory.
class CountingErrorManager final : public Object {
 public:
  std::size_t count = 0;
  bool read_past_end = false;  // GetNextChar reported "Subscript out of range"
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg> args) override {
    if (member != u"ReportError" || args.size() != 11) RaiseNoMember(member);
    ++count;
    read_past_end = read_past_end ||
                    (CStr(args[10].value()) == u"GetNextChar" &&
                     CStr(args[1].value()).find(u"Subscript out of range") != std::u16string::npos);
    return std::int32_t{0};
  }
};

// Runs `body` on a thread of its own; one that has not returned after
// `seconds` ends the whole test program, as a hung evaluation cannot be
// stopped from outside.
template <class F>
void WithinSeconds(int seconds, const std::string& label, F&& body) {
  auto done = std::async(std::launch::async, std::forward<F>(body));
  if (done.wait_for(std::chrono::seconds(seconds)) == std::future_status::timeout) {
    std::fprintf(stderr, "FAILED: %s: the evaluation did not return within %d s\n", label.c_str(),
                 seconds);
    std::_Exit(3);
  }
  done.get();
}

// "{piece*N}" in a cell of tests/data/long_texts.tsv stands for N copies.
std::string Expand(const std::string& cell) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t open; (open = cell.find('{', at)) != std::string::npos;) {
    const std::size_t star = cell.find('*', open), close = cell.find('}', star);
    out += cell.substr(at, open - at);
    for (int n = std::stoi(cell.substr(star + 1, close - star - 1)); n > 0; --n)
      out += cell.substr(open + 1, star - open - 1);
    at = close + 1;
  }
  return UnescapeBytes(out + cell.substr(at));
}

TEST(Limits, LongTextsEndAndAreReadUpToPosition32767) {
  const std::vector<DataRow> rows = ReadDataRows("long_texts.tsv");
  EXPECT_GE(rows.size(), 14u);
  for (const DataRow& row : rows) {
    const std::string& label = row.where;
    const std::u16string text = FromUtf8(Expand(row["text"]));
    // Each row on a thread of its own, as the interpreter's state is per thread.
    WithinSeconds(120, label, [&] {
      Host h;
      h.fields->AddField(u"Field1", u"Long", std::int32_t{41});
      auto errors = MakeRef<CountingErrorManager>();
      h.interp.Init(h.fields, errors, u"S", u"A");
      const ObjectRef r = EvalClean(h.interp, *h.fields, text, label);
      if (row["result"] != "*") {
        ASSERT_TRUE(r) << label;
        EXPECT_EQ(Show(Get(r, u"Data")), Expand(row["result"])) << label;
      }
      if (row["read_past"] != "*") {
        EXPECT_EQ(errors->read_past_end, row["read_past"] == "yes") << label;
      }
      EXPECT_LT(errors->count, 40000u) << label;
      EXPECT_EQ(h.Value(u"Field1 + 1"), Variant(std::int32_t{42})) << label;
      if (row["strict"].empty()) return;
      Host strict;
      strict.interp.set_strict(true);
      EXPECT_TRUE(strict.interp.Evaluate(text).is_error()) << label;
      EXPECT_NE(strict.Procedures().find(FromUtf8(row["strict"]) + u";"), std::u16string::npos)
          << label;
      EXPECT_TRUE(strict.Idle()) << label;
    });
  }
}

// ---- Automatic names

TEST(Limits, TheAutomaticNamesRunOutOnlyWhereTheHostHoldsThemAll) {
  Host h;
  for (int n = 1; n <= 32767; ++n)
    h.fields->AddField(u"Autodf" + FromUtf8(std::to_string(n)), u"Long", std::int32_t{n});
  // The names that the host holds stay in the list (skipped names are never
  // freed), so only the host's collection is compared here.
  const auto host = Snapshot(*h.fields);
  for (std::u16string text : {u"1 + 1", u"\"a\"", u"#1/2/2003#", u"IF 1 THEN 2 END IF"}) {
    // An IF block whose value gets no field pushes nothing: no result at all.
    ObjectRef r = h.Eval(text);
    EXPECT_TRUE(!r || IsErrorField(r)) << ToUtf8(text);
    EXPECT_EQ(CompareHost(*h.fields, host), "") << ToUtf8(text);
  }
  EXPECT_TRUE(std::ranges::any_of(h.errors->reports(), [](const ErrorReport& r) {
    return r.procedure == u"GetNewDataFieldName" && r.message.find(u"Overflow") != r.message.npos;
  }));
  // Host fields alone still evaluate.
  EXPECT_EQ(h.Value(u"Autodf7"), Variant(std::int32_t{7}));
  // A literal whose field cannot be made must free the name it was given, or
  // every such text uses up one of the 32767 names for good (the fuzz corpus
  // holds such literals, each replayed with a probe of the names after it).
  Host other;
  for (int i = 0; i < 33000; ++i) other.Eval(u"99999999999");
  EXPECT_EQ(other.Value(u"1 + 1"), Variant(std::int32_t{2}));
}

// ---- Nesting

TEST(Limits, TheSeventeenthNestedInstanceGetsTheErrorField) {
  struct Row {
    std::u16string text;
    bool refused_at_sixteen;  // false: the IF block's own instances count too
  } rows[] = {{u"Deep + 1", true},
              {u"\"x\" & Deep", true},
              {u"Format Deep, \"0\"", true},
              {u"IF Deep THEN Deep END IF", false}};
  for (const auto& row : rows) {
    Host h;
    // The field evaluates the same text again, as deep as it is let.
    auto deep = MakeRef<CallbackField>(h.interp, u"Deep", u"Long", row.text, 1000);
    h.fields->Add(deep, u"Deep");
    EvalClean(h.interp, *h.fields, row.text, ToUtf8(row.text));
    EXPECT_LE(deep->deepest, 16) << ToUtf8(row.text);
    if (row.refused_at_sixteen) {
      EXPECT_EQ(deep->deepest, 16) << ToUtf8(row.text);
      EXPECT_GE(deep->error_fields, 1) << ToUtf8(row.text);
    }
  }
}

// ---- Hostile hosts

// A data field of the host's own whose Data is an object.
class ObjectDataField final : public Object {
 public:
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg>) override {
    if (member == u"Name") return u"Odd";
    if (member == u"DataType") return u"String";
    return Variant(ObjectRef(MakeRef<DataFields>()));
  }
};

using Override = std::function<bool(std::u16string_view, std::span<Arg>, Variant&)>;

// The host answers `member` with `value` instead of the collection.
Override Answer(std::u16string_view member, Variant value) {
  return [member, value](std::u16string_view m, std::span<Arg>, Variant& v) {
    if (m != member) return false;
    v = value;
    return true;
  };
}

// The host refuses `member` (empty: every member).
Override Throw(std::u16string_view member, bool foreign = false) {
  return [member, foreign](std::u16string_view m, std::span<Arg>, Variant&) {
    if (!member.empty() && m != member) return false;
    Refuse(foreign);
  };
}

// Each of the mixed texts, twice, on a host that misbehaves in one way.
TEST(Limits, HostsThatMisbehave) {
  enum class Init { Never, Null, Fields };
  struct Row {
    std::string label;
    // A late-bound collection that answers first (else the default one),
    // and the host's own kind of temporary field.
    Override collection = nullptr;
    ClassFactory new_field = nullptr;
    ObjectRef errors = MakeRef<RecordingErrorManager>();
    Init init = Init::Fields;
    // On the first three texts: 1 the Error field and reports, 0 neither.
    int fails = -1;
  };
  const Override late_bound = [](std::u16string_view, std::span<Arg>, Variant&) { return false; };
  auto nonzero = MakeRef<RecordingErrorManager>();
  nonzero->set_result(1);
  const Row rows[] = {
      {"late-bound collection", late_bound},
      {"every member throws", Throw(u"")},
      {"every member throws a foreign exception", Throw(u"", true)},
      {"Item returns a number", Answer(u"Item", std::int32_t{5})},
      {"Item returns a failing object", Answer(u"Item", ObjectRef(MakeRef<Throwing<>>()))},
      {"Item returns a field whose Data is an object",
       Answer(u"Item", ObjectRef(MakeRef<ObjectDataField>()))},
      {"Exists returns a text", Answer(u"Exists", u"perhaps")},
      {"AddObject returns a text", Answer(u"AddObject", u"done")},
      {"AddObject refuses every field", Answer(u"AddObject", std::int16_t{457})},
      {"temporary fields throw", nullptr, [] { return ObjectRef(MakeRef<Throwing<>>()); }},
      {"temporary fields throw foreign exceptions", nullptr,
       [] { return ObjectRef(MakeRef<Throwing<true>>()); }},
      {"no temporary field", nullptr, [] { return ObjectRef(); }},
      {"temporary fields cannot be made", nullptr,
       []() -> ObjectRef { throw RuntimeError(429, u"Host", u"cannot create"); }},
      {"Init never called", nullptr, nullptr, nullptr, Init::Never},
      {"Init with null references", nullptr, nullptr, nullptr, Init::Null},
      {"no error manager", nullptr, nullptr, nullptr},
      {"error manager returns non-zero", nullptr, nullptr, nonzero},
      {"error manager throws", nullptr, nullptr, ObjectRef(MakeRef<Throwing<>>())},
      {"error manager throws a foreign exception", nullptr, nullptr,
       ObjectRef(MakeRef<Throwing<true>>())},
      {"error manager lacks ReportError", nullptr, nullptr, ObjectRef(MakeRef<DataFields>())},
      // Whatever the host's Item and AddObject answer, a field the host had
      // before is never removed nor the answer.
      {.label = "AddObject keeps the field under its name in capitals",
       .collection =
           [](std::u16string_view m, std::span<Arg> args, Variant&) {
             if (m == u"AddObject") {
               const ObjectRef field = args[0].value().object();
               Let(field, u"Name", Variant(detail::UpperCase(CStr(Get(field, u"Name")))));
             }
             return false;
           },
       .fails = 0},
      {.label = "AddObject keeps the field under a name of the host's own",
       .collection =
           [](std::u16string_view m, std::span<Arg> args, Variant&) {
             if (m == u"AddObject") {
               const ObjectRef field = args[0].value().object();
               Let(field, u"Name", Variant(u"Own" + CStr(Get(field, u"Name")).substr(6)));
             }
             return false;
           },
       .fails = 0},
      {.label = "Item gives Nothing for a temporary field",
       .collection =
           [](std::u16string_view m, std::span<Arg> args, Variant& v) {
             if (m != u"Item" || !CStr(args[0].value()).starts_with(u"Autodf")) return false;
             v = Variant(ObjectRef());
             return true;
           },
       .fails = 1},
      {.label = "AddObject renames the field to the host's own Field1",
       .collection =
           [](std::u16string_view m, std::span<Arg> args, Variant& v) {
             if (m != u"AddObject") return false;
             Let(args[0].value().object(), u"Name", Variant(u"Field1"));
             v = std::int16_t{0};
             return true;
           },
       .fails = 1},
  };
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < std::size(kMixedTexts); ++i) {
      const std::u16string& text = kMixedTexts[i];
      auto own = MakeRef<ForwardingFields>();
      Interpreter core;
      Populate(*own->inner, core);
      const ObjectRef collection = row.collection ? ObjectRef(own) : ObjectRef(own->inner);
      if (row.init != Init::Never)
        core.Init(row.init == Init::Fields ? collection : nullptr, row.errors, u"S", u"A");
      own->override_member = row.collection;
      if (row.new_field) RegisterClass(kDataFieldProgId, row.new_field);
      const std::string label = row.label + ": " + ToUtf8(text);
      const ObjectRef r = EvalClean(core, *own->inner, text, label);
      EXPECT_FALSE(r == own->inner->Find(u"Field1")) << label;
      if (row.fails >= 0 && i < 3) {
        EXPECT_EQ(IsErrorField(r), row.fails == 1) << label;
        EXPECT_EQ(static_cast<RecordingErrorManager&>(*row.errors).reports().empty(),
                  row.fails == 0)
            << label;
      }
      EvalClean(core, *own->inner, text, label + " (again)");
      RegisterClass(kDataFieldProgId, &detail::NewDefaultDataField);
      if (row.init != Init::Fields) {
        EXPECT_TRUE(!r || IsErrorField(r)) << label;
      }
    }
  }
  EXPECT_FALSE(nonzero->reports().empty());
  // The host keeps what it refused to remove, so those names stay taken:
  // later calls skip them, and nothing else is left behind.
  for (const auto& text : kMixedTexts) {
    auto own = MakeRef<ForwardingFields>();
    Interpreter interp;
    Populate(*own->inner, interp);
    interp.Init(own, MakeRef<RecordingErrorManager>(), u"S", u"A");
    own->override_member = Throw(u"Remove");
    EXPECT_NO_THROW(interp.RealizeRegularExpression(text)) << ToUtf8(text);
    EXPECT_NO_THROW(interp.RealizeRegularExpression(text)) << ToUtf8(text);
  }
}

// An error manager that runs `during` inside its first report.
class ReenteringErrorManager final : public Object {
 public:
  std::function<void()> during;
  Variant Invoke(std::u16string_view, CallKind, std::span<Arg>) override {
    if (auto once = std::move(during)) {
      during = nullptr;
      once();
    }
    return std::int32_t{0};
  }
};

// The host hands the interpreter another collection from inside its own
// callbacks: the running evaluation goes on in the first one, which ends
// without a temporary field; the second never gets one from it.
TEST(Limits, AHostReplacingItsCollectionFromACallback) {
  for (const std::u16string_view member :
       {u"Exists", u"AddObject", u"Item", u"Remove", u"Report"}) {
    for (int action = 0; action < 4; ++action) {
      auto own = MakeRef<ForwardingFields>();
      auto errors = MakeRef<ReenteringErrorManager>();
      Interpreter interp;
      Populate(*own->inner, interp);
      ASSERT_TRUE(interp.Init(own, errors, u"S", u"A"));
      auto second = MakeRef<DataFields>();
      bool fired = false;
      auto act = [&] {
        fired = true;
        if (action == 0) {
          EXPECT_FALSE(interp.Init(second, errors, u"S", u"A"));
        } else if (action == 3) {
          EXPECT_EQ(Get(interp.RealizeRegularExpression(u"Field1 + 1"), u"Data"),
                    Variant(std::int32_t{42}));
        } else {
          interp.set_DataFields(action == 1 ? nullptr : ObjectRef(second));
        }
      };
      if (member == u"Report") {
        errors->during = act;
      } else {
        own->override_member = [&](std::u16string_view m, std::span<Arg>, Variant&) {
          if (!fired && m == member) act();
          return false;
        };
      }
      const auto host = Snapshot(*own->inner);
      const std::string label = ToUtf8(member) + " " + std::to_string(action);
      EXPECT_NO_THROW(interp.RealizeRegularExpression(member == u"Report" ? u"Field1 + 1 / 0"
                                                                          : u"Field1 + 1 + 2"))
          << label;
      EXPECT_TRUE(fired) << label;
      EXPECT_EQ(CompareHost(*own->inner, host), "") << label;
      EXPECT_EQ(second->Count(), 0u) << label;
      own->override_member = nullptr;
      // The interpreter goes on with what it was given last.
      EXPECT_EQ(interp.DataFields(), action != 1 && action != 2 ? ObjectRef(own)
                                     : action == 1              ? ObjectRef()
                                                                : ObjectRef(second))
          << label;
      if (action != 1) {
        EXPECT_EQ(Get(interp.RealizeRegularExpression(u"40 + 2"), u"Data"),
                  Variant(std::int32_t{42}))
            << label;
      }
    }
  }
}

}  // namespace
}  // namespace tarn::testing
