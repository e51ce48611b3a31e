// The library's exports (tarn/exports.h): registration in the class table,
// the class factory, the return codes and DllCanUnloadNow. Every case runs
// twice: on the exports linked into this test, and on the built shared
// library loaded at run time with dlopen, driven only through the symbols
// that dlsym finds and through member names.
#include "tarn/exports.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/interpreter.h"
#include "tarn/object.h"

namespace {

using tarn::Arg;
using tarn::ObjectRef;
using tarn::Variant;

struct Exports {
  decltype(&DllRegisterServer) reg;
  decltype(&DllUnregisterServer) unreg;
  decltype(&DllGetClassObject) get_class;
  decltype(&DllCanUnloadNow) can_unload;
  decltype(&TarnCreateObject) create;
};

// The loaded library has a class table of its own, apart from this test's.
// RTLD_NODELETE: its process-wide tables are never destroyed, so unmapping
// it would leave them unreachable and the leak checker would report them.
const Exports& Loaded() {
  static const Exports loaded = [] {
    void* lib = dlopen(TARN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!lib) return Exports{};
#define TARN_SYMBOL(f) reinterpret_cast<decltype(&f)>(dlsym(lib, #f))
    return Exports{TARN_SYMBOL(DllRegisterServer), TARN_SYMBOL(DllUnregisterServer),
                   TARN_SYMBOL(DllGetClassObject), TARN_SYMBOL(DllCanUnloadNow),
                   TARN_SYMBOL(TarnCreateObject)};
#undef TARN_SYMBOL
  }();
  return loaded;
}

const Exports kLinked{&DllRegisterServer, &DllUnregisterServer, &DllGetClassObject,
                      &DllCanUnloadNow, &TarnCreateObject};

// Takes over the one reference that an export handed out through a void**.
ObjectRef Adopt(void* p) {
  ObjectRef ref(static_cast<tarn::Object*>(p));     // +1
  if (p) static_cast<tarn::Object*>(p)->DropRef();  // give back the export's
  return ref;
}

Variant CallMember(const ObjectRef& obj, std::u16string_view member,
                   std::initializer_list<Variant> values) {
  std::vector<Variant> vals(values);
  std::vector<Arg> args;
  for (auto& v : vals) args.push_back(Arg::ByRef(v));
  return tarn::Call(obj, member, args);
}

std::int32_t ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const tarn::RuntimeError& e) {
    return e.number();
  }
  return 0;
}

class ExportsTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x.reg && x.unreg && x.get_class && x.can_unload && x.create);
  }
  void TearDown() override { x.unreg(); }

  // TarnCreateObject with the status expected; null when that is a failure.
  ObjectRef Create(std::u16string_view progid, std::int32_t expected = 0) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(x.create(std::u16string(progid).c_str(), &out), expected) << tarn::ToUtf8(progid);
    if (expected == 0) return Adopt(out);
    EXPECT_EQ(out, nullptr);
    return nullptr;
  }
  ObjectRef Factory(TarnGuid iid = TARN_IID_ICLASSFACTORY_INIT) {
    const TarnGuid clsid = TARN_CLSID_INTERPRETER_INIT;
    void* ppv = nullptr;
    EXPECT_EQ(x.get_class(&clsid, &iid, &ppv), TARN_S_OK);
    EXPECT_EQ(ppv ? static_cast<tarn::Object*>(ppv)->ref_count() : 0, 1);
    return Adopt(ppv);
  }
  // Init with the library's default host components and "1 + 2", by member name only.
  void ExpectEvaluates(const ObjectRef& interp) {
    ObjectRef fields = Create(u"" TARN_PROGID_DATAFIELDS_TEXT);
    ObjectRef errors = Create(u"" TARN_PROGID_ERRORMANAGER_TEXT);
    ASSERT_TRUE(interp && fields && errors);
    ASSERT_EQ(CallMember(interp, u"Init",
                         {Variant(fields), Variant(errors), Variant(u"System"), Variant(u"App")}),
              Variant(true));
    Variant result = CallMember(interp, u"RealizeRegularExpression", {Variant(u"1 + 2")});
    ASSERT_TRUE(result.is_object() && result.object());
    EXPECT_EQ(tarn::CStr(tarn::Get(result.object(), u"Name")).substr(0, 6), u"Autodf");
    EXPECT_EQ(tarn::CDbl(tarn::Get(result.object(), u"Data")), 3);
    EXPECT_EQ(tarn::CLng(tarn::Get(fields, u"Count")), 0);  // temporaries removed
    // The library's RecordingErrorManager (the same layout as this test's).
    EXPECT_TRUE(static_cast<tarn::RecordingErrorManager*>(errors.get())->reports().empty());
  }

  const Exports& x = GetParam() ? Loaded() : kLinked;
};

TEST_P(ExportsTest, RegisterMakesTheClassesCreatable) {
  EXPECT_EQ(x.unreg(), TARN_S_OK);
  Create(u"TarnIntr.Interpreter", 429);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(x.create(nullptr, &out), 5);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(x.create(u"TarnIntr.Interpreter", nullptr), 5);
  ASSERT_EQ(x.reg(), TARN_S_OK);
  EXPECT_EQ(x.reg(), TARN_S_OK);  // again: still fine
  ObjectRef interp = Create(u"tarnintr.interpreter");
  ASSERT_TRUE(interp);
  EXPECT_EQ(interp->ClassName(), u"Interpreter");
  // By the text of the class identifier, in any letter case.
  EXPECT_EQ(Create(u"{c6d2a4f3-cf54-4c47-8ec7-81ffd93d0b58}")->ClassName(), u"Interpreter");
  EXPECT_EQ(x.can_unload(), TARN_S_FALSE);

  EXPECT_EQ(x.unreg(), TARN_S_OK);
  EXPECT_EQ(x.unreg(), TARN_S_OK);  // nothing left: still fine
  Create(u"TarnIntr.Interpreter", 429);
  Create(u"" TARN_PROGID_DATAFIELDS_TEXT, 429);
  Create(u"No.Such.Class", 429);
  ASSERT_EQ(x.reg(), TARN_S_OK);
  ExpectEvaluates(interp);  // made before, lives on
  interp = nullptr;
  EXPECT_EQ(x.can_unload(), TARN_S_OK);
}

TEST_P(ExportsTest, GetClassObjectReturnCodes) {
  const TarnGuid clsid = TARN_CLSID_INTERPRETER_INIT, iid = TARN_IID_ICLASSFACTORY_INIT;
  const TarnGuid other = {0x12345678u, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
  const struct {
    const TarnGuid *clsid, *iid;
    std::int32_t expected;
  } cases[] = {{nullptr, &iid, TARN_E_INVALIDARG},
               {&clsid, nullptr, TARN_E_INVALIDARG},
               {&other, &iid, TARN_CLASS_E_CLASSNOTAVAILABLE},
               {&clsid, &other, TARN_E_NOINTERFACE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    void* ppv = reinterpret_cast<void*>(1);
    EXPECT_EQ(x.get_class(c.clsid, c.iid, &ppv), c.expected);
    EXPECT_EQ(ppv, nullptr);
  }
  EXPECT_EQ(x.get_class(&clsid, &iid, nullptr), TARN_E_POINTER);
  for (TarnGuid accepted : {TarnGuid TARN_IID_ICLASSFACTORY_INIT, TarnGuid TARN_IID_IUNKNOWN_INIT,
                            TarnGuid TARN_IID_IDISPATCH_INIT})
    EXPECT_EQ(Factory(accepted)->ClassName(), u"ClassFactory");
}

// The factory works without registration, and with it counts for unloading.
TEST_P(ExportsTest, FactoryCreatesAndLocks) {
  x.unreg();
  ASSERT_EQ(x.can_unload(), TARN_S_OK);
  ObjectRef factory = Factory();
  EXPECT_EQ(x.can_unload(), TARN_S_FALSE);
  Variant made = tarn::Call(factory, u"CreateInstance");
  ASSERT_TRUE(made.is_object());
  EXPECT_EQ(made.object()->ClassName(), u"Interpreter");
  EXPECT_EQ(made.object()->ref_count(), 1);
  EXPECT_EQ(ErrorOf([&] { CallMember(factory, u"CreateInstance", {Variant(std::int32_t{1})}); }),
            450);
  EXPECT_EQ(ErrorOf([&] { tarn::Call(factory, u"Frobnicate"); }), 438);
  EXPECT_EQ(CallMember(factory, u"LockServer", {Variant(true)}), Variant(std::int32_t{0}));
  factory = nullptr;
  ASSERT_EQ(x.reg(), TARN_S_OK);
  ExpectEvaluates(made.object());
  made = Variant();
  EXPECT_EQ(x.can_unload(), TARN_S_FALSE);  // the lock holds it

  factory = Factory();
  CallMember(factory, u"LockServer", {Variant(false)});
  CallMember(factory, u"LockServer", {Variant(false)});  // unbalanced: ignored
  factory = nullptr;
  EXPECT_EQ(x.can_unload(), TARN_S_OK);
}

INSTANTIATE_TEST_SUITE_P(Exports, ExportsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Loaded" : "Linked"; });

TEST(LinkedExports, CountInterpretersAHostOwnsAndKeepItsComponents) {
  {
    tarn::Interpreter on_stack;
    EXPECT_EQ(DllCanUnloadNow(), TARN_S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_OK);
  // The loaded library's entry points and class table are its own.
  ASSERT_EQ(Loaded().reg(), TARN_S_OK);
  EXPECT_NE(Loaded().create, &TarnCreateObject);
  EXPECT_FALSE(tarn::IsClassRegistered(u"TarnIntr.Interpreter"));
  Loaded().unreg();

  tarn::RegisterClass(tarn::kDataFieldsProgId,
                      [] { return ObjectRef(tarn::MakeRef<tarn::DataField>()); });
  ASSERT_EQ(DllRegisterServer(), TARN_S_OK);
  EXPECT_EQ(tarn::CreateObject(tarn::kDataFieldsProgId)->ClassName(), u"DataField");
  ASSERT_EQ(DllUnregisterServer(), TARN_S_OK);
  EXPECT_TRUE(tarn::IsClassRegistered(tarn::kDataFieldsProgId));  // the host's stays
  tarn::UnregisterClass(tarn::kDataFieldsProgId);
}

}  // namespace
