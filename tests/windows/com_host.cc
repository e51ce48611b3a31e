// A C++ host that reaches tarnintr.dll only the way a Windows automation
// client does: CoCreateInstance by programmatic identifier and
// IDispatch::Invoke by name. Runs the shared expression table and checks
// the type library, raised errors, bad input to Init, reference counts and
// unloading (hostile_host.exe and host.vbs check the rest). Usage: com_host <expressions.tsv>; exit
// code 0 when every check passed.
#include <cstdio>
#include <string>
#include <vector>

#include "com_support.h"
#include "support/expression_table.h"

namespace {

using namespace tarn::com;

void RunTable(const tarn::table::Table& t) {
  for (const auto& row : t.rows) {
    const std::string where =
        "line " + std::to_string(row.line) + ": " + tarn::table::Escape(row.text);
    IDispatch* interp = Create(L"TarnIntr.Interpreter");
    IDispatch* fields = Create(L"ZellDFld.DataFields");
    Sink sink;
    if (interp == nullptr || fields == nullptr) {
      Check(false, "create the interpreter and the collection");
      return;
    }
    for (const auto& f : t.fields) {
      VARIANT value = Value(f.value);
      Check(AddField(fields, f.name, f.type_word, value), "AddObject " + f.name);
      VariantClear(&value);
    }
    Check(Init(interp, fields, &sink), "Init " + where);
    const long before = Count(fields);
    const std::string got = Data(Realize(interp, Wide(row.text)));
    Check(got == row.result, where + " gave " + got + ", expected " + row.result);
    Check(Count(fields) == before, where + ": the collection changed");
    if (row.check_reports)
      Check(sink.procedures == row.reports, where + ": reports " + sink.procedures);
    Check(sink.bad_sixth == 0, where + ": ReportError's sixth argument was not omitted");
    fields->Release();
    interp->Release();
    Check(sink.refs == 1, where + ": the error manager's references do not balance");
  }
}

// "Name@id:VT of the result,VT of each parameter;" of every member in the
// type library: the automation types by name, every one a VT_ code of its
// own.
std::string MemberTypes(IDispatch* interp) {
  ITypeInfo* info = nullptr;
  TYPEATTR* attr = nullptr;
  if (FAILED(interp->GetTypeInfo(0, 0, &info)) || FAILED(info->GetTypeAttr(&attr)))
    return "no type information";
  std::string types;
  for (WORD f = 0; f < attr->cFuncs; ++f) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(f, &desc))) continue;
    BSTR name = nullptr;
    info->GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr);
    types += Utf8(name) + "@" + std::to_string(desc->memid) + ":" +
             std::to_string(desc->elemdescFunc.tdesc.vt);
    for (SHORT p = 0; p < desc->cParams; ++p) {
      const TYPEDESC& t = desc->lprgelemdescParam[p].tdesc;
      types += "," + std::to_string(t.vt);
      if (t.vt == VT_PTR) types += ">" + std::to_string(t.lptdesc->vt);
    }
    types += ";";
    SysFreeString(name);
    info->ReleaseFuncDesc(desc);
  }
  info->ReleaseTypeAttr(attr);
  info->Release();
  return types;
}

void RunChecks() {
  IDispatch* interp = Create(L"TarnIntr.Interpreter");
  Check(interp != nullptr, "CoCreateInstance TarnIntr.Interpreter");
  if (interp == nullptr) return;
  Check(MemberTypes(interp) ==
            "Release@1:8;Major@2:8;Minor@3:8;Revision@4:8;objError@5:24,9;objError@5:9;"
            "strExpression@6:24,26>2,8;DataFields@7:24,9;DataFields@7:9;"
            "Init@8:11,26>9,26>9,26>8,26>8;RealizeRegularExpression@9:9,26>8;"
            "Strict@10:11;Strict@10:24,11;",
        "the members' types in the registered type library: " + MemberTypes(interp));

  Sink sink;
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  Check(fields != nullptr, "CoCreateInstance ZellDFld.DataFields (tarnhost.dll)");
  if (fields == nullptr) return;
  Check(Init(interp, fields, &sink), "Init returns True");
  {
    VARIANT text = Text(L"x");
    Outcome r = Invoke(interp, L"strExpression", kLet, {Value("Integer 99"), text});
    Check(r.hr == DISP_E_EXCEPTION && r.scode == static_cast<SCODE>(0x800A0009) &&
              r.description == "Subscript out of range",
          "strExpression(99) raises 9: " + r.description);
    VariantClear(&text);
  }
  {
    // Bad input to Init: none of it may end the process.
    VARIANT missing = Value("Omitted");
    Outcome r = Invoke(interp, L"Init", kCall, {missing, missing, missing, missing});
    Check(r.hr == DISP_E_EXCEPTION || r.hr == S_OK, "Init with omitted arguments");
    Outcome few = Invoke(interp, L"Init", kCall, {missing});
    Check(few.hr == DISP_E_EXCEPTION && few.scode == static_cast<SCODE>(0x800A01C2),
          "Init with one argument raises 450");
    VARIANT s = Text(L"S");
    Outcome number = Invoke(interp, L"Init", kCall, {Value("Long 5"), Object(&sink), s, s});
    Check(Describe(number.result) == "Boolean False",
          "Init with a number for the collection answers False");
    VariantClear(&s);
    Check(Init(interp, fields, &sink), "Init again");
  }

  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  HMODULE module = GetModuleHandleW(L"tarnintr.dll");
  auto can_unload = module ? reinterpret_cast<CanUnload>(
                                 reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")))
                           : nullptr;
  Check(can_unload != nullptr, "tarnintr.dll exports DllCanUnloadNow");
  if (can_unload) Check(can_unload() == S_FALSE, "DllCanUnloadNow is S_FALSE with an object alive");
  interp->Release();
  fields->Release();
  Check(sink.refs == 1, "the error manager's references balance");
  if (can_unload) Check(can_unload() == S_OK, "DllCanUnloadNow is S_OK once all is released");

  // The class factory: no aggregation; LockServer holds the module, and an
  // unbalanced LockServer(FALSE) is ignored.
  CLSID clsid;
  IClassFactory* factory = nullptr;
  if (SUCCEEDED(CLSIDFromProgID(L"TarnIntr.Interpreter", &clsid)))
    CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                     reinterpret_cast<void**>(&factory));
  Check(factory != nullptr, "CoGetClassObject gives an IClassFactory");
  if (factory == nullptr || can_unload == nullptr) return;
  IUnknown* made = nullptr;
  Check(factory->CreateInstance(&sink, IID_IUnknown, reinterpret_cast<void**>(&made)) ==
            CLASS_E_NOAGGREGATION,
        "CreateInstance refuses aggregation");
  factory->LockServer(FALSE);
  factory->LockServer(TRUE);
  factory->Release();
  Check(can_unload() == S_FALSE, "LockServer(TRUE) holds the module");
  CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                   reinterpret_cast<void**>(&factory));
  factory->LockServer(FALSE);
  factory->Release();
  Check(can_unload() == S_OK, "LockServer(FALSE) lets go, an unbalanced one was ignored");

  // The system may now unload the DLLs (the C++ runtime keeps a DLL whose
  // thread-local objects are alive loaded); creating again must work
  // either way.
  CoFreeUnusedLibrariesEx(0, 0);
  IDispatch* again = Create(L"TarnIntr.Interpreter");
  IDispatch* more_fields = Create(L"ZellDFld.DataFields");
  Check(again && more_fields && Init(again, more_fields, &sink) &&
            Data(Realize(again, L"40 + 2")) == "Long 42",
        "the Interpreter is created again after CoFreeUnusedLibraries, and evaluates");
  if (more_fields) more_fields->Release();
  if (again) again->Release();
  CoFreeUnusedLibrariesEx(0, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: com_host <expressions.tsv>\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  std::string error;
  const tarn::table::Table t = tarn::table::Read(argv[1], error);
  Check(error.empty() && !t.rows.empty(), "read the table: " + error);
  RunTable(t);
  RunChecks();
  CoUninitialize();
  std::printf("com_host: %d checks, %d failed (%zu table rows)\n", g_checks, g_failures,
              t.rows.size());
  return g_failures == 0 ? 0 : 1;
}
