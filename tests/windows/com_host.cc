// A C++ host that reaches tarnintr.dll only the way a Windows automation
// client does: CoCreateInstance by programmatic identifier and
// IDispatch::Invoke by name. Runs the shared expression table and checks
// by-reference arguments, raised errors, bad input, identity, reference
// counts and unloading. Usage: com_host <expressions.tsv>; exit code 0
// when every check passed.
#include <cstdio>
#include <string>
#include <vector>

#include "com_support.h"
#include "support/expression_table.h"

namespace {

using namespace tarn::com;

std::string Describe(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_EMPTY: return "Empty";
    case VT_NULL: return "Null";
    case VT_I2: return "Integer " + std::to_string(V_I2(&v));
    case VT_I4: return "Long " + std::to_string(V_I4(&v));
    case VT_R4: return "Single " + tarn::table::NumberText(V_R4(&v));
    case VT_R8: return "Double " + tarn::table::NumberText(V_R8(&v));
    case VT_DATE: return "Date " + tarn::table::NumberText(V_DATE(&v));
    case VT_BOOL: return std::string("Boolean ") + (V_BOOL(&v) ? "True" : "False");
    case VT_BSTR: return "String " + Utf8(V_BSTR(&v));
    default: return "vt " + std::to_string(V_VT(&v));
  }
}

void ValueOf(const std::string& value, VARIANT& v) {
  std::string kind, text;
  tarn::table::SplitValue(value, kind, text);
  VariantInit(&v);
  if (kind == "String") {
    v = Text(Wide(text));
  } else if (kind == "Long") {
    V_VT(&v) = VT_I4;
    V_I4(&v) = std::stol(text);
  } else if (kind == "Integer") {
    V_VT(&v) = VT_I2;
    V_I2(&v) = static_cast<SHORT>(std::stoi(text));
  } else if (kind == "Double") {
    V_VT(&v) = VT_R8;
    V_R8(&v) = tarn::table::ParseNumber(text);
  } else if (kind == "Date") {
    V_VT(&v) = VT_DATE;
    V_DATE(&v) = tarn::table::ParseNumber(text);
  } else if (kind == "Boolean") {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = text == "True" ? VARIANT_TRUE : VARIANT_FALSE;
  }
}

// Records ReportError's eleventh argument (the procedure) and checks that
// the sixth arrives as an omitted argument.
class ReportSink final : public HostObject {
 public:
  ReportSink() { members = {L"ReportError"}; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    if (p->cArgs != 11) return DISP_E_BADPARAMCOUNT;
    const VARIANT& omitted = p->rgvarg[11 - 6];
    if (V_VT(&omitted) != VT_ERROR || V_ERROR(&omitted) != DISP_E_PARAMNOTFOUND) ++bad_sixth;
    VARIANT procedure;
    VariantInit(&procedure);
    if (SUCCEEDED(VariantChangeType(&procedure, &p->rgvarg[0], 0, VT_BSTR)))
      reports += Utf8(V_BSTR(&procedure)) + ";";
    VariantClear(&procedure);
    if (result) {
      V_VT(result) = VT_I4;
      V_I4(result) = 0;
    }
    return S_OK;
  }
  std::string reports;
  int bad_sixth = 0;
};

// A collection whose Item raises, as a broken host component might.
class RaisingCollection final : public HostObject {
 public:
  RaisingCollection() { members = {L"Item", L"Exists"}; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO* info, UINT*) override {
    if (id == 2) {
      V_VT(result) = VT_BOOL;
      V_BOOL(result) = VARIANT_TRUE;
      return S_OK;
    }
    if (info) {
      *info = EXCEPINFO{};
      info->scode = static_cast<SCODE>(0x800A0000u | 5u);
      info->bstrDescription = SysAllocString(L"Item raised");
    }
    return DISP_E_EXCEPTION;
  }
};

IDispatch* NewFields(const tarn::table::Table& t) {
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  if (fields == nullptr) return nullptr;
  for (const auto& f : t.fields) {
    IDispatch* field = Create(L"ZellDFld.DataField");
    if (field == nullptr) break;
    VARIANT name = Text(Wide(f.name)), type = Text(Wide(f.type_word)), value;
    ValueOf(f.value, value);
    Invoke(field, L"Name", DISPATCH_PROPERTYPUT, {name});
    Invoke(field, L"DataType", DISPATCH_PROPERTYPUT, {type});
    Invoke(field, L"Data", DISPATCH_PROPERTYPUT, {value});
    VARIANT object = Object(field);
    Outcome added = Invoke(fields, L"AddObject", kCall, {ByRefVariant(&object)});
    Check(SUCCEEDED(added.hr) &&
              (Describe(added.result) == "Integer 0" || Describe(added.result) == "Long 0"),
          "AddObject " + f.name);
    VariantClear(&name);
    VariantClear(&type);
    VariantClear(&value);
    VariantClear(&object);  // releases `field`
  }
  return fields;
}

bool Init(IDispatch* interp, IDispatch* fields, IDispatch* errors) {
  VARIANT f = Object(fields), e = Object(errors), system = Text(L"System"),
          app = Text(L"Application");
  Outcome r =
      Invoke(interp, L"Init", kCall,
             {ByRefVariant(&f), ByRefVariant(&e), ByRefVariant(&system), ByRefVariant(&app)});
  VariantClear(&system);
  VariantClear(&app);
  return SUCCEEDED(r.hr) && V_VT(&r.result) == VT_BOOL && V_BOOL(&r.result) == VARIANT_TRUE;
}

// Evaluates `text` (passed by reference, as a script passes a variable).
Outcome Realize(IDispatch* interp, const std::string& text, std::string* trimmed = nullptr) {
  VARIANT t = Text(Wide(text));
  Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, {ByRefVariant(&t)});
  if (trimmed) *trimmed = V_VT(&t) == VT_BSTR ? Utf8(V_BSTR(&t)) : "?";
  VariantClear(&t);
  return r;
}

std::string DescribeResult(const Outcome& r) {
  if (FAILED(r.hr)) return "hr " + std::to_string(r.hr);
  IDispatch* field = r.object();
  if (field == nullptr) return "<nothing>";
  Outcome data = Invoke(field, L"Data", kGet);
  return Describe(data.result);
}

void RunTable(const tarn::table::Table& t) {
  for (const auto& row : t.rows) {
    const std::string where =
        "line " + std::to_string(row.line) + ": " + tarn::table::Escape(row.text);
    IDispatch* interp = Create(L"TarnIntr.Interpreter");
    IDispatch* fields = NewFields(t);
    ReportSink sink;
    if (interp == nullptr || fields == nullptr) {
      Check(false, "create the interpreter and the collection");
      return;
    }
    Check(Init(interp, fields, &sink), "Init " + where);
    const long before = Count(fields);
    {
      Outcome r = Realize(interp, row.text);
      const std::string got = DescribeResult(r);
      Check(got == row.result, where + " gave " + got + ", expected " + row.result);
    }
    Check(Count(fields) == before, where + ": the collection changed");
    if (row.check_reports) Check(sink.reports == row.reports, where + ": reports " + sink.reports);
    Check(sink.bad_sixth == 0, where + ": ReportError's sixth argument was not omitted");
    fields->Release();
    interp->Release();
    Check(sink.refs == 1, where + ": the error manager's references do not balance");
  }
}

void RunChecks() {
  IDispatch* interp = Create(L"TarnIntr.Interpreter");
  Check(interp != nullptr, "CoCreateInstance TarnIntr.Interpreter");
  if (interp == nullptr) return;
  {
    Outcome r = Invoke(interp, L"Release", kGet);
    Check(Describe(r.result) == "String 01.01.0009", "Release is " + Describe(r.result));
    Outcome m = Invoke(interp, L"MAJOR", kGet);
    Check(Describe(m.result) == "String 1", "names without regard to case: MAJOR");
  }
  {
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    Check(interp->GetIDsOfNames(IID_NULL, names, 1, 0, &id) == DISP_E_UNKNOWNNAME,
          "an unknown name is DISP_E_UNKNOWNNAME");
  }
  {
    ITypeInfo* info = nullptr;
    HRESULT hr = interp->GetTypeInfo(0, 0, &info);
    Check(SUCCEEDED(hr) && info != nullptr, "GetTypeInfo from the registered type library");
    if (info) {
      TYPEATTR* attr = nullptr;
      if (SUCCEEDED(info->GetTypeAttr(&attr))) {
        Check(attr->cFuncs == 13, "the dispatch interface lists 13 members");
        // The automation types by name: every one a VT_ code of its own.
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
        Check(types ==
                  "Release@1:8;Major@2:8;Minor@3:8;Revision@4:8;objError@5:24,9;objError@5:9;"
                  "strExpression@6:24,26>2,8;DataFields@7:24,9;DataFields@7:9;"
                  "Init@8:11,26>9,26>9,26>8,26>8;RealizeRegularExpression@9:9,26>8;"
                  "Strict@10:11;Strict@10:24,11;",
              "the members' types in the type library: " + types);
        info->ReleaseTypeAttr(attr);
      }
      info->Release();
    }
  }

  ReportSink sink;
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  Check(fields != nullptr, "CoCreateInstance ZellDFld.DataFields (tarnhost.dll)");
  if (fields == nullptr) return;
  Check(Init(interp, fields, &sink), "Init returns True");
  {
    Outcome r = Invoke(interp, L"DataFields", kGet);
    IUnknown *a = nullptr, *b = nullptr;
    if (r.object()) r.object()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    fields->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    Check(a != nullptr && a == b, "DataFields reads back the very object passed");
    if (a) a->Release();
    if (b) b->Release();
  }
  {
    std::string trimmed;
    Outcome r = Realize(interp, " 1 + 2 ", &trimmed);
    Check(trimmed == "1 + 2", "the by-reference text comes back trimmed: [" + trimmed + "]");
    Check(DescribeResult(r) == "Long 3", "1 + 2");
  }
  {
    // Early-bound clients pass typed references (VT_BYREF | VT_BSTR).
    BSTR text = SysAllocString(L"  2 * 21 ");
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&ref) = &text;
    Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, {ref});
    Check(DescribeResult(r) == "Long 42", "a typed by-reference text is evaluated");
    Check(Utf8(text) == "2 * 21", "a typed by-reference text comes back trimmed: " + Utf8(text));
    SysFreeString(text);
  }
  {
    VARIANT index, text;
    VariantInit(&index);
    V_VT(&index) = VT_I2;
    V_I2(&index) = 99;
    text = Text(Wide("x"));
    Outcome r = Invoke(interp, L"strExpression", DISPATCH_PROPERTYPUT, {index, text});
    Check(r.hr == DISP_E_EXCEPTION && r.scode == static_cast<SCODE>(0x800A0009),
          "strExpression(99) raises 9: " + r.description);
    Check(r.description == "Subscript out of range", "its description: " + r.description);
    VariantClear(&text);
  }
  // Bad input: none of it may end the process.
  {
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    Outcome r = Invoke(interp, L"Init", kCall, {missing, missing, missing, missing});
    Check(r.hr == DISP_E_EXCEPTION || r.hr == S_OK, "Init with omitted arguments");
    Outcome few = Invoke(interp, L"Init", kCall, {missing});
    Check(few.hr == DISP_E_EXCEPTION && few.scode == static_cast<SCODE>(0x800A01C2),
          "Init with one argument raises 450");
    Outcome none = Invoke(interp, L"RealizeRegularExpression", kCall);
    Check(none.hr == S_OK && none.object() != nullptr,
          "RealizeRegularExpression without its argument gives the Error field");
    VARIANT array;
    VariantInit(&array);
    V_VT(&array) = VT_ARRAY | VT_I4;
    V_ARRAY(&array) = SafeArrayCreateVector(VT_I4, 0, 3);
    Outcome wrong = Invoke(interp, L"RealizeRegularExpression", kCall, {array});
    Check(wrong.hr == DISP_E_TYPEMISMATCH, "an array argument is a type mismatch");
    VariantClear(&array);
    VARIANT object = Object(&sink);
    Outcome obj = Invoke(interp, L"RealizeRegularExpression", kCall, {object});
    Check(obj.hr == DISP_E_EXCEPTION || obj.hr == S_OK, "an object for the text");
    Outcome put = Invoke(interp, L"Release", DISPATCH_PROPERTYPUT, {object});
    Check(FAILED(put.hr), "Release cannot be assigned");
  }
  {
    RaisingCollection raising;
    Check(Init(interp, &raising, &sink), "Init with a collection whose Item raises");
    Outcome r = Realize(interp, "Field1 + 1");
    Outcome name = r.object() ? Invoke(r.object(), L"Name", kGet) : Outcome();
    Check(SUCCEEDED(r.hr) && Describe(name.result) == "String Error",
          "an Item that raises gives the Error field: " + Describe(name.result));
    Check(Init(interp, fields, &sink), "Init again");
    Check(raising.refs == 1, "the replaced collection was let go");
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
  Check(again != nullptr && more_fields != nullptr && Init(again, more_fields, &sink),
        "the Interpreter is created again after CoFreeUnusedLibraries");
  if (again != nullptr && more_fields != nullptr)
    Check(DescribeResult(Realize(again, "40 + 2")) == "Long 42", "and evaluates");
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
