// The library's exports (tarn/exports.h): registration in the class table,
// the class factory, the return codes and DllCanUnloadNow; first on the
// objects linked into this test, then on the built shared library loaded at
// run time with dlopen, driven only through the symbols that dlsym finds.
#include "tarn/exports.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/interpreter.h"
#include "tarn/object.h"
#include "tarn/version.h"

namespace {

using tarn::Arg;
using tarn::ObjectRef;
using tarn::Variant;

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

// Init and "1 + 2" by member name only.
void ExpectEvaluates(const ObjectRef& interp, const ObjectRef& fields, const ObjectRef& errors,
                     std::u16string_view text, double expected) {
  Variant ok =
      CallMember(interp, u"Init",
                 {Variant(fields), Variant(errors), Variant(u"System"), Variant(u"Application")});
  ASSERT_EQ(ok, Variant(true));
  Variant result = CallMember(interp, u"RealizeRegularExpression", {Variant(text)});
  ASSERT_TRUE(result.is_object());
  ASSERT_TRUE(result.object());
  EXPECT_EQ(tarn::CStr(tarn::Get(result.object(), u"Name")).substr(0, 6), u"Autodf");
  EXPECT_EQ(tarn::CDbl(tarn::Get(result.object(), u"Data")), expected);
}

// ---------------------------------------------------------------------------
// The exports linked into this test.

class ExportsTest : public ::testing::Test {
 protected:
  void TearDown() override { DllUnregisterServer(); }
};

TEST_F(ExportsTest, RegisterMakesTheInterpreterCreatableByIdentifier) {
  EXPECT_EQ(DllUnregisterServer(), TARN_S_OK);
  EXPECT_FALSE(tarn::IsClassRegistered(u"TarnIntr.Interpreter"));
  try {
    tarn::CreateObject(u"TarnIntr.Interpreter");
    FAIL() << "created before DllRegisterServer";
  } catch (const tarn::RuntimeError& e) {
    EXPECT_EQ(e.number(), 429);
  }

  ASSERT_EQ(DllRegisterServer(), TARN_S_OK);
  EXPECT_TRUE(tarn::IsClassRegistered(u"tarnintr.interpreter"));
  EXPECT_TRUE(tarn::IsClassRegistered(tarn::kInterpreterClsidText));
  EXPECT_EQ(DllRegisterServer(), TARN_S_OK);  // again: still fine

  ObjectRef interp = tarn::CreateObject(u"TarnIntr.Interpreter");
  ASSERT_TRUE(interp);
  EXPECT_EQ(interp->ClassName(), u"Interpreter");

  // By the text of the class identifier, in any letter case.
  ObjectRef by_clsid = tarn::CreateObject(u"{c6d2a4f3-cf54-4c47-8ec7-81ffd93d0b58}");
  EXPECT_EQ(by_clsid->ClassName(), u"Interpreter");

  EXPECT_EQ(DllUnregisterServer(), TARN_S_OK);
  EXPECT_FALSE(tarn::IsClassRegistered(u"TarnIntr.Interpreter"));
  EXPECT_FALSE(tarn::IsClassRegistered(tarn::kDataFieldsProgId));
  EXPECT_EQ(DllUnregisterServer(), TARN_S_OK);  // nothing left: still fine
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(TarnCreateObject(u"TarnIntr.Interpreter", &out), 429);
  EXPECT_EQ(out, nullptr);
  // Objects made before live on.
  EXPECT_EQ(tarn::CStr(tarn::Get(interp, u"Revision")), u"9");
}

TEST_F(ExportsTest, RegisterKeepsAHostsOwnComponents) {
  DllUnregisterServer();
  tarn::RegisterClass(tarn::kDataFieldsProgId,
                      [] { return ObjectRef(tarn::MakeRef<tarn::DataField>()); });
  ASSERT_EQ(DllRegisterServer(), TARN_S_OK);
  EXPECT_EQ(tarn::CreateObject(tarn::kDataFieldsProgId)->ClassName(), u"DataField");
  ASSERT_EQ(DllUnregisterServer(), TARN_S_OK);
  EXPECT_TRUE(tarn::IsClassRegistered(tarn::kDataFieldsProgId));  // the host's stays
  tarn::UnregisterClass(tarn::kDataFieldsProgId);
}

TEST_F(ExportsTest, GetClassObjectReturnCodes) {
  const TarnGuid clsid = TARN_CLSID_INTERPRETER_INIT;
  const TarnGuid iid = TARN_IID_ICLASSFACTORY_INIT;
  const TarnGuid other = {0x12345678u, 1, 2, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* ppv = reinterpret_cast<void*>(1);

  EXPECT_EQ(DllGetClassObject(&clsid, &iid, nullptr), TARN_E_POINTER);
  EXPECT_EQ(DllGetClassObject(nullptr, &iid, &ppv), TARN_E_INVALIDARG);
  EXPECT_EQ(ppv, nullptr);
  ppv = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(&clsid, nullptr, &ppv), TARN_E_INVALIDARG);
  EXPECT_EQ(ppv, nullptr);
  EXPECT_EQ(DllGetClassObject(&other, &iid, &ppv), TARN_CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(ppv, nullptr);
  EXPECT_EQ(DllGetClassObject(&clsid, &other, &ppv), TARN_E_NOINTERFACE);
  EXPECT_EQ(ppv, nullptr);

  for (TarnGuid accepted : {tarn::kIidIClassFactory, tarn::kIidIUnknown, tarn::kIidIDispatch}) {
    ASSERT_EQ(DllGetClassObject(&clsid, &accepted, &ppv), TARN_S_OK);
    ASSERT_NE(ppv, nullptr);
    EXPECT_EQ(static_cast<tarn::Object*>(ppv)->ref_count(), 1);
    ObjectRef factory = Adopt(ppv);
    EXPECT_EQ(factory->ClassName(), u"ClassFactory");
  }
}

TEST_F(ExportsTest, FactoryCreatesInterpretersWithoutRegistration) {
  DllUnregisterServer();
  const TarnGuid clsid = tarn::kInterpreterClsid;
  const TarnGuid iid = tarn::kIidIClassFactory;
  void* ppv = nullptr;
  ASSERT_EQ(DllGetClassObject(&clsid, &iid, &ppv), TARN_S_OK);
  ObjectRef factory = Adopt(ppv);
  Variant made = tarn::Call(factory, u"CreateInstance");
  ASSERT_TRUE(made.is_object());
  EXPECT_EQ(made.object()->ClassName(), u"Interpreter");
  EXPECT_EQ(made.object()->ref_count(), 1);

  try {
    CallMember(factory, u"CreateInstance", {Variant(std::int32_t{1})});
    FAIL();
  } catch (const tarn::RuntimeError& e) {
    EXPECT_EQ(e.number(), 450);
  }
  try {
    tarn::Call(factory, u"Frobnicate");
    FAIL();
  } catch (const tarn::RuntimeError& e) {
    EXPECT_EQ(e.number(), 438);
  }
}

TEST_F(ExportsTest, CanUnloadNowCountsInterpretersFactoriesAndLocks) {
  ASSERT_EQ(DllCanUnloadNow(), TARN_S_OK);
  {
    auto interp = tarn::MakeRef<tarn::Interpreter>();
    EXPECT_EQ(DllCanUnloadNow(), TARN_S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_OK);
  {
    tarn::Interpreter on_stack;  // a host may own one directly
    EXPECT_EQ(DllCanUnloadNow(), TARN_S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_OK);

  const TarnGuid clsid = tarn::kInterpreterClsid;
  const TarnGuid iid = tarn::kIidIUnknown;
  void* ppv = nullptr;
  ASSERT_EQ(DllGetClassObject(&clsid, &iid, &ppv), TARN_S_OK);
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_FALSE);
  ObjectRef factory = Adopt(ppv);
  EXPECT_EQ(CallMember(factory, u"LockServer", {Variant(true)}), Variant(std::int32_t{0}));
  factory = nullptr;
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_FALSE);  // the lock holds it

  ASSERT_EQ(DllGetClassObject(&clsid, &iid, &ppv), TARN_S_OK);
  factory = Adopt(ppv);
  CallMember(factory, u"LockServer", {Variant(false)});
  CallMember(factory, u"LockServer", {Variant(false)});  // unbalanced: ignored
  factory = nullptr;
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_OK);

  ASSERT_EQ(DllRegisterServer(), TARN_S_OK);
  void* out = nullptr;
  ASSERT_EQ(TarnCreateObject(u"TarnIntr.Interpreter", &out), 0);
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_FALSE);
  Adopt(out);
  EXPECT_EQ(DllCanUnloadNow(), TARN_S_OK);
}

TEST_F(ExportsTest, CreateObjectHelperChecksItsArguments) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(TarnCreateObject(nullptr, &out), 5);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(TarnCreateObject(u"TarnIntr.Interpreter", nullptr), 5);
  EXPECT_EQ(TarnCreateObject(u"No.Such.Class", &out), 429);
  EXPECT_EQ(out, nullptr);
}

// ---------------------------------------------------------------------------
// The built shared library, loaded at run time. It has a class table of its
// own, apart from the one linked into this test, so everything goes through
// the symbols dlsym finds in it and through member names.

class LoadedLibrary {
 public:
  // RTLD_NODELETE: the library's process-wide tables (the class table among
  // them) are never destroyed, so unmapping it would leave them unreachable
  // and the leak checker of sanitizer builds would report them.
  LoadedLibrary() : handle_(dlopen(TARN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {}
  ~LoadedLibrary() {
    if (handle_) dlclose(handle_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  template <class F>
  F* Symbol(const char* name) const {
    return reinterpret_cast<F*>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

TEST(LoadedLibraryTest, RegistersCreatesEvaluatesAndUnloads) {
  LoadedLibrary lib;
  ASSERT_TRUE(lib) << dlerror();
  auto* reg = lib.Symbol<decltype(DllRegisterServer)>("DllRegisterServer");
  auto* unreg = lib.Symbol<decltype(DllUnregisterServer)>("DllUnregisterServer");
  auto* get_class = lib.Symbol<decltype(DllGetClassObject)>("DllGetClassObject");
  auto* can_unload = lib.Symbol<decltype(DllCanUnloadNow)>("DllCanUnloadNow");
  auto* create = lib.Symbol<decltype(TarnCreateObject)>("TarnCreateObject");
  ASSERT_TRUE(reg && unreg && get_class && can_unload && create);
  // The loaded library's own entry points, not this test's copies.
  EXPECT_NE(reg, &DllRegisterServer);
  EXPECT_NE(create, &TarnCreateObject);

  EXPECT_EQ(can_unload(), TARN_S_OK);
  ASSERT_EQ(reg(), TARN_S_OK);
  // Its class table is its own.
  EXPECT_FALSE(tarn::IsClassRegistered(u"TarnIntr.Interpreter"));

  {
    void* p = nullptr;
    ASSERT_EQ(create(u"TarnIntr.Interpreter", &p), 0);
    ObjectRef interp = Adopt(p);
    ASSERT_EQ(create(u"" TARN_PROGID_DATAFIELDS_TEXT, &p), 0);
    ObjectRef fields = Adopt(p);
    ASSERT_EQ(create(u"" TARN_PROGID_ERRORMANAGER_TEXT, &p), 0);
    ObjectRef errors = Adopt(p);
    EXPECT_EQ(can_unload(), TARN_S_FALSE);

    EXPECT_EQ(tarn::CStr(tarn::Get(interp, u"Minor")), u"1");
    ExpectEvaluates(interp, fields, errors, u"1 + 2", 3);
    EXPECT_EQ(tarn::CLng(tarn::Get(fields, u"Count")), 0);  // temporaries removed
    // The error manager is the loaded library's RecordingErrorManager (the
    // same layout as this test's): nothing was reported.
    EXPECT_EQ(errors->ClassName(), u"ErrorManager");
    EXPECT_TRUE(static_cast<tarn::RecordingErrorManager*>(errors.get())->reports().empty());
  }
  EXPECT_EQ(can_unload(), TARN_S_OK);

  {
    // The same through the class factory.
    const TarnGuid clsid = TARN_CLSID_INTERPRETER_INIT;
    const TarnGuid iid = TARN_IID_ICLASSFACTORY_INIT;
    void* p = nullptr;
    ASSERT_EQ(get_class(&clsid, &iid, &p), TARN_S_OK);
    ObjectRef factory = Adopt(p);
    EXPECT_EQ(can_unload(), TARN_S_FALSE);
    Variant made = tarn::Call(factory, u"CreateInstance");
    ASSERT_TRUE(made.is_object());
    factory = nullptr;
    EXPECT_EQ(can_unload(), TARN_S_FALSE);  // the Interpreter is alive
    ASSERT_EQ(create(u"TarnIntr.DataFields", &p), 0);
    ObjectRef fields = Adopt(p);
    ASSERT_EQ(create(u"TarnIntr.ErrorManager", &p), 0);
    ObjectRef errors = Adopt(p);
    ExpectEvaluates(made.object(), fields, errors, u"1 + 2", 3);
  }
  EXPECT_EQ(can_unload(), TARN_S_OK);

  ASSERT_EQ(unreg(), TARN_S_OK);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(create(u"TarnIntr.Interpreter", &p), 429);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(can_unload(), TARN_S_OK);
}

}  // namespace
