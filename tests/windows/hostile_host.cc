// A host that attacks tarnintr.dll and tarnhost.dll the way a careless or
// hostile automation client might: re-entry from its own callbacks, a
// collection that renames or loses fields, texts beyond the readable
// limit, by-reference variables of every kind, dispatch identifiers across
// threads, and worker threads that end their apartments. Every check must
// end without a crash or a hang, with the host's collection as it was.
// Usage: hostile_host (all checks on the main thread), hostile_host threads
// (workers that are the first in the process to use the servers),
// hostile_host create (only whether TarnIntr.Interpreter can be created and
// evaluates), hostile_host reentry|collections|answers|byref|ids (one part).
// Exit code 0 when every check passed.
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "com_support.h"

namespace {

using namespace tarn::com;

std::string Describe(const VARIANT& v) {
  VARIANT t;
  VariantInit(&t);
  std::string text;
  if (SUCCEEDED(VariantChangeType(&t, const_cast<VARIANT*>(&v), 0, VT_BSTR)))
    text = Utf8(V_BSTR(&t));
  VariantClear(&t);
  return std::to_string(V_VT(&v)) + ":" + text;
}

// "Name=DataType:Data" of a returned field, "<nothing>", or the failure.
std::string Field(const Outcome& r) {
  if (FAILED(r.hr)) return "hr " + std::to_string(r.hr);
  IDispatch* f = r.object();
  if (f == nullptr) return "<nothing>";
  Outcome name = Invoke(f, L"Name", kGet), type = Invoke(f, L"DataType", kGet),
          data = Invoke(f, L"Data", kGet);
  auto text = [](const VARIANT& v) { return V_VT(&v) == VT_BSTR ? Utf8(V_BSTR(&v)) : "?"; };
  return text(name.result) + "=" + text(type.result) + ":" + Describe(data.result);
}
bool IsErrorField(const std::string& f) { return f.rfind("Error=Boolean:11:", 0) == 0; }

bool Exists(IDispatch* fields, const wchar_t* key) {
  VARIANT k = Text(key);
  Outcome r = Invoke(fields, L"Exists", kCall, {k});
  VariantClear(&k);
  return SUCCEEDED(r.hr) && V_VT(&r.result) == VT_BOOL && V_BOOL(&r.result) != VARIANT_FALSE;
}

void AddField(IDispatch* fields, const wchar_t* name, const wchar_t* type, VARIANT value) {
  IDispatch* f = Create(L"ZellDFld.DataField");
  if (f == nullptr) return;
  VARIANT n = Text(name), t = Text(type);
  Invoke(f, L"Name", kLet, {n});
  Invoke(f, L"DataType", kLet, {t});
  Invoke(f, L"Data", kLet, {value});
  VariantClear(&n);
  VariantClear(&t);
  VARIANT o = Object(f);
  VARIANT ref = ByRefVariant(&o);
  Invoke(fields, L"AddObject", kCall, {ref});
  f->Release();
}

IDispatch* NewFields() {
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  if (fields == nullptr) return nullptr;
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = 41;
  AddField(fields, L"Field1", L"Long", v);
  return fields;
}

// Evaluates `text`, passed by reference as a script passes a variable.
Outcome Realize(IDispatch* interp, const std::wstring& text) {
  VARIANT t = Text(text);
  Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, {ByRefVariant(&t)});
  VariantClear(&t);
  return r;
}

// Records ReportError calls; `during` runs inside the first one.
class Sink final : public HostObject {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* ids) override {
    if (_wcsicmp(names[0], L"ReportError") != 0) return DISP_E_UNKNOWNNAME;
    ids[0] = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1 || p->cArgs != 11) return DISP_E_MEMBERNOTFOUND;
    InterlockedIncrement(&reports);
    thread = GetCurrentThreadId();
    VARIANT proc;
    VariantInit(&proc);
    if (SUCCEEDED(VariantChangeType(&proc, &p->rgvarg[0], 0, VT_BSTR)))
      procedures += Utf8(V_BSTR(&proc)) + ";";
    VariantClear(&proc);
    if (during) {
      auto once = std::move(during);
      during = nullptr;
      once();
    }
    if (result) {
      V_VT(result) = VT_I4;
      V_I4(result) = 0;
    }
    return S_OK;
  }
  LONG reports = 0;
  DWORD thread = 0;  // of the last report
  std::string procedures;
  std::function<void()> during;
};

// A collection that passes every call on to a real one, and lets a test act
// before (or instead of) the call of one member.
class Forwarder final : public HostObject {
 public:
  explicit Forwarder(IDispatch* inner) : inner_(inner) { inner_->AddRef(); }
  ~Forwarder() override { inner_->Release(); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT n, LCID lcid,
                                          DISPID* ids) override {
    const HRESULT hr = inner_->GetIDsOfNames(iid, names, n, lcid, ids);
    if (SUCCEEDED(hr)) {
      std::wstring upper(names[0]);
      for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
      names_[ids[0]] = upper;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* p,
                                   VARIANT* result, EXCEPINFO* info, UINT* arg) override {
    const std::wstring name = names_.count(id) ? names_[id] : L"";
    if (hook && hook(name, p, result)) return S_OK;
    return inner_->Invoke(id, iid, lcid, flags, p, result, info, arg);
  }
  // Answers the call itself when it returns true.
  std::function<bool(const std::wstring&, DISPPARAMS*, VARIANT*)> hook;

 private:
  IDispatch* inner_;
  std::map<DISPID, std::wstring> names_;
};

bool Init(IDispatch* interp, IDispatch* fields, IDispatch* errors) {
  // By-reference arguments are the caller's: a call across apartments may
  // replace what they hold.
  if (fields) fields->AddRef();
  if (errors) errors->AddRef();
  VARIANT f = Object(fields), e = Object(errors), s = Text(L"Sys"), a = Text(L"App");
  Outcome r = Invoke(interp, L"Init", kCall,
                     {ByRefVariant(&f), ByRefVariant(&e), ByRefVariant(&s), ByRefVariant(&a)});
  VariantClear(&f);
  VariantClear(&e);
  VariantClear(&s);
  VariantClear(&a);
  return SUCCEEDED(r.hr) && V_VT(&r.result) == VT_BOOL && V_BOOL(&r.result) == VARIANT_TRUE;
}

// ---- Re-entry: the host replaces the interpreter's collection from inside
// its own callbacks. Nothing crashes, and neither collection keeps a
// temporary field.
void ReEntry() {
  const wchar_t* members[] = {L"EXISTS", L"ADDOBJECT", L"ITEM", L"REMOVE", L"REPORTERROR"};
  const char* actions[] = {"Init",
                           "DataFields = Nothing",
                           "DataFields = other",
                           "objError = Nothing",
                           "strExpression(0) = another text",
                           "an evaluation of its own"};
  for (const wchar_t* member : members) {
    for (int action = 0; action < 6; ++action) {
      const std::string label =
          "re-entry from " + Utf8(member, wcslen(member)) + ": " + actions[action];
      IDispatch* interp = Create(L"TarnIntr.Interpreter");
      IDispatch* first = NewFields();
      IDispatch* second = Create(L"ZellDFld.DataFields");
      if (!interp || !first || !second) {
        Check(false, label + ": create");
        return;
      }
      Sink sink;
      Forwarder host(first);
      const long before = Count(first);
      bool fired = false;
      auto act = [&] {
        fired = true;
        if (action == 0) {
          Init(interp, second, &sink);
        } else if (action == 1) {
          VARIANT nothing = Object(nullptr);
          Invoke(interp, L"DataFields", kSet, {nothing});
        } else if (action == 2) {
          Invoke(interp, L"DataFields", kSet, {Object(second)});
        } else if (action == 3) {
          Invoke(interp, L"objError", kSet, {Object(nullptr)});
        } else if (action == 5) {
          Check(Field(Realize(interp, L"Field1 + 1")).find(":3:42") != std::string::npos,
                "an evaluation from inside a callback");
        } else {
          VARIANT index, text = Text(L"9 * (9 + Field1");
          VariantInit(&index);
          V_VT(&index) = VT_I2;
          V_I2(&index) = 0;
          Invoke(interp, L"strExpression", kLet, {index, text});
          VariantClear(&text);
        }
      };
      const bool report = wcscmp(member, L"REPORTERROR") == 0;
      if (report) {
        sink.during = act;
      } else {
        host.hook = [&](const std::wstring& name, DISPPARAMS*, VARIANT*) {
          if (!fired && name == member) act();
          return false;
        };
      }
      Check(Init(interp, &host, &sink), label + ": Init");
      // A failing step makes a report; "Field1" makes Item and Remove run.
      Outcome r = Realize(interp, report ? L"Field1 + 1 / 0" : L"Field1 + 1 + 2");
      Check(SUCCEEDED(r.hr), label + ": the call returns");
      Check(fired, label + ": the callback ran");
      Check(Count(first) == before, label + ": the first collection holds " +
                                        std::to_string(Count(first)) + " fields, expected " +
                                        std::to_string(before));
      Check(Count(second) == 0, label + ": the second collection holds fields");
      // The interpreter goes on with whatever it was given last.
      Outcome again = Realize(interp, L"40 + 2");
      Check(SUCCEEDED(again.hr), label + ": the next call returns");
      host.hook = nullptr;
      interp->Release();
      first->Release();
      second->Release();
      Check(sink.refs == 1, label + ": the error manager's references balance");
    }
  }
}

// The field of a call of AddObject, or nothing for any other call.
IDispatch* AddedField(const std::wstring& name, DISPPARAMS* p) {
  if (name != L"ADDOBJECT" || p->cArgs != 1) return nullptr;
  VARIANT* arg = &p->rgvarg[0];
  while (V_VT(arg) == (VT_BYREF | VT_VARIANT)) arg = V_VARIANTREF(arg);
  return V_VT(arg) == VT_DISPATCH ? V_DISPATCH(arg) : nullptr;
}

// ---- The host's collection ends as it was, whatever its Item and
// AddObject answer; a host field is never removed.
void Collections() {
  struct Case {
    const char* label;
    std::function<bool(const std::wstring&, DISPPARAMS*, VARIANT*)> hook;
  } cases[] = {
      {"Item gives Nothing for temporary fields",
       [](const std::wstring& name, DISPPARAMS* p, VARIANT* result) {
         if (name != L"ITEM" || p->cArgs != 1) return false;
         VARIANT key;
         VariantInit(&key);
         const bool temporary = SUCCEEDED(VariantChangeType(&key, &p->rgvarg[0], 0, VT_BSTR)) &&
                                V_BSTR(&key) != nullptr &&
                                _wcsnicmp(V_BSTR(&key), L"Autodf", 6) == 0;
         VariantClear(&key);
         if (!temporary) return false;
         V_VT(result) = VT_DISPATCH;
         V_DISPATCH(result) = nullptr;
         return true;
       }},
      {"AddObject renames the field to the host's Field1",
       [](const std::wstring& name, DISPPARAMS* p, VARIANT* result) {
         IDispatch* field = AddedField(name, p);
         if (field == nullptr) return false;
         Invoke(field, L"Name", kLet, {Text(L"Field1")});
         V_VT(result) = VT_I2;
         V_I2(result) = 0;
         return true;
       }},
      {"AddObject keeps the field under its name in capitals",
       [](const std::wstring& name, DISPPARAMS* p, VARIANT*) {
         IDispatch* field = AddedField(name, p);
         if (field == nullptr) return false;
         Outcome n = Invoke(field, L"Name", kGet);
         if (V_VT(&n.result) == VT_BSTR) {
           std::wstring upper(V_BSTR(&n.result), SysStringLen(V_BSTR(&n.result)));
           for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
           Invoke(field, L"Name", kLet, {Text(upper)});
         }
         return false;
       }},
      {"AddObject keeps the field under a name of its own",
       [](const std::wstring& name, DISPPARAMS* p, VARIANT*) {
         IDispatch* field = AddedField(name, p);
         if (field == nullptr) return false;
         Outcome n = Invoke(field, L"Name", kGet);
         if (V_VT(&n.result) == VT_BSTR && SysStringLen(V_BSTR(&n.result)) > 6)
           Invoke(field, L"Name", kLet, {Text(L"Own" + std::wstring(V_BSTR(&n.result) + 6))});
         return false;
       }},
      {"AddObject renames the field to the host's Field1 and adds it",
       [](const std::wstring& name, DISPPARAMS* p, VARIANT*) {
         IDispatch* field = AddedField(name, p);
         if (field == nullptr) return false;
         Invoke(field, L"Name", kLet, {Text(L"FIELD1")});
         return false;  // the real collection refuses the key it holds
       }},
  };
  for (const auto& c : cases) {
    IDispatch* interp = Create(L"TarnIntr.Interpreter");
    IDispatch* fields = NewFields();
    if (!interp || !fields) {
      Check(false, std::string(c.label) + ": create");
      return;
    }
    Sink sink;
    Forwarder host(fields);
    host.hook = c.hook;
    Check(Init(interp, &host, &sink), std::string(c.label) + ": Init");
    const long before = Count(fields);
    for (const wchar_t* text : {L"1 + 2", L"Field1 + 1", L"\"a\" & \"b\""}) {
      const std::string label = std::string(c.label) + ": " + Utf8(text, wcslen(text));
      Outcome r = Realize(interp, text);
      const std::string got = Field(r);
      Check(got.rfind("Field1=", 0) != 0, label + ": the host's own field is the answer");
      Check(Count(fields) == before,
            label + ": the collection holds " + std::to_string(Count(fields)) + " fields");
      Check(Exists(fields, L"Field1"), label + ": the host's Field1 is gone");
      Outcome f1 = Invoke(fields, L"Item", kCall, {Text(L"Field1")});
      Check(f1.object() != nullptr && Field(f1) == "Field1=Long:3:41",
            label + ": the host's Field1 changed: " + Field(f1));
    }
    // The interpreter's names do not drift from call to call.
    const std::string first = Field(Realize(interp, L"40 + 2"));
    Check(Field(Realize(interp, L"40 + 2")) == first,
          std::string(c.label) + ": the names drift from " + first);
    host.hook = nullptr;
    interp->Release();
    fields->Release();
  }
}

// ---- Every answer is a value or the Error field.
void Answers() {
  IDispatch* interp = Create(L"TarnIntr.Interpreter");
  IDispatch* fields = NewFields();
  Sink sink;
  if (!interp || !fields || !Init(interp, fields, &sink)) {
    Check(false, "answers: create and Init");
    return;
  }
  // The default answers what the text's words give, an operator field
  // included; strict mode gives the Error field instead.
  {
    VARIANT on;
    VariantInit(&on);
    V_VT(&on) = VT_BOOL;
    V_BOOL(&on) = VARIANT_TRUE;
    Check(SUCCEEDED(Invoke(interp, L"Strict", kLet, {on}).hr), "answers: Strict = True");
  }
  std::wstring long_sum = L"1";
  while (long_sum.size() < 40000) long_sum += L" + 1";
  struct Row {
    std::wstring text;
    bool reported;
  } rows[] = {{L"Field1 + 1 / 0", true},
              {L"1 + 1 / 0", true},
              {L"1 +", false},
              {L"(", false},
              {long_sum, true}};
  for (const auto& row : rows) {
    const std::string label =
        "answer of " + Utf8(row.text.data(), std::min<std::size_t>(row.text.size(), 20));
    sink.reports = 0;
    const long before = Count(fields);
    const std::string got = Field(Realize(interp, row.text));
    Check(IsErrorField(got), label + ": " + got);
    if (row.reported) Check(sink.reports > 0, label + ": nothing was reported");
    Check(Count(fields) == before, label + ": the collection changed");
  }
  {
    // A collection that is no object: Init answers False.
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 5;
    VARIANT s = Text(L"S");
    Outcome r = Invoke(interp, L"Init", kCall, {number, Object(&sink), s, s});
    Check(SUCCEEDED(r.hr) && V_VT(&r.result) == VT_BOOL && V_BOOL(&r.result) == VARIANT_FALSE,
          "Init with a number for the collection answers False");
    VariantClear(&s);
    Check(Init(interp, fields, &sink), "Init again");
  }
  // Without an error manager too.
  Invoke(interp, L"objError", kSet, {Object(nullptr)});
  Check(IsErrorField(Field(Realize(interp, L"Field1 + 1 / 0"))),
        "Field1 + 1 / 0 without an error manager");
  interp->Release();
  fields->Release();
}

// ---- By-reference arguments: only a text variable gets the trimmed text.
void ByReference() {
  IDispatch* interp = Create(L"TarnIntr.Interpreter");
  IDispatch* fields = NewFields();
  Sink sink;
  if (!interp || !fields || !Init(interp, fields, &sink)) {
    Check(false, "by reference: create and Init");
    return;
  }
  auto check_variant = [&](VARIANT value, const std::string& label) {
    VARIANT var = value, copy;
    VariantInit(&copy);
    VariantCopy(&copy, &var);
    Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, {ByRefVariant(&var)});
    Check(SUCCEEDED(r.hr), label + ": hr " + std::to_string(r.hr));
    Check(V_VT(&var) == V_VT(&copy) && VarCmp(&var, &copy, 0, 0) == static_cast<HRESULT>(VARCMP_EQ),
          label + ": the variable became " + Describe(var));
    VariantClear(&var);
    VariantClear(&copy);
  };
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = 0.1 + 0.2;
  check_variant(v, "a Double variable");
  V_VT(&v) = VT_DATE;
  V_DATE(&v) = 45296.573;
  check_variant(v, "a Date variable");
  V_VT(&v) = VT_CY;
  V_CY(&v).int64 = 12345678;
  check_variant(v, "a Currency variable");
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = VARIANT_TRUE;
  check_variant(v, "a Boolean variable");
  {
    // A typed Double keeps all its digits.
    double d = 0.1 + 0.2;
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_R8;
    V_R8REF(&ref) = &d;
    Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, {ref});
    Check(SUCCEEDED(r.hr) && d == 0.1 + 0.2, "a typed Double variable is left alone");
  }
  {
    // A variable holding an object keeps it; no error after the evaluation.
    IDispatch* held = &sink;
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_DISPATCH;
    V_DISPATCHREF(&ref) = &held;
    Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, {ref});
    Check(SUCCEEDED(r.hr), "a typed object variable: hr " + std::to_string(r.hr));
    Check(held == &sink, "a typed object variable keeps its object");
    VARIANT obj = Object(&sink);
    Outcome r2 = Invoke(interp, L"RealizeRegularExpression", kCall, {ByRefVariant(&obj)});
    Check(V_VT(&obj) == VT_DISPATCH && V_DISPATCH(&obj) == &sink,
          "a variable holding an object keeps it");
  }
  {
    // A text with nothing to trim is not written.
    BSTR text = SysAllocString(L"1 + 2");
    const BSTR original = text;
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&ref) = &text;
    Invoke(interp, L"RealizeRegularExpression", kCall, {ref});
    Check(text == original, "a text with nothing to trim is not written");
    SysFreeString(text);
    VARIANT var = Text(L"  3 * 3 ");
    Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, {ByRefVariant(&var)});
    Check(V_VT(&var) == VT_BSTR && Utf8(V_BSTR(&var)) == "3 * 3",
          "a text variable gets the trimmed text: " + Describe(var));
    VariantClear(&var);
  }
  // No text: the Error field, never a raised error.
  VARIANT null_value;
  VariantInit(&null_value);
  V_VT(&null_value) = VT_NULL;
  VARIANT omitted;
  VariantInit(&omitted);
  V_VT(&omitted) = VT_ERROR;
  V_ERROR(&omitted) = DISP_E_PARAMNOTFOUND;
  Check(IsErrorField(Field(Invoke(interp, L"RealizeRegularExpression", kCall, {null_value}))),
        "RealizeRegularExpression(Null)");
  Check(IsErrorField(Field(Invoke(interp, L"RealizeRegularExpression", kCall, {Object(nullptr)}))),
        "RealizeRegularExpression(Nothing)");
  Check(IsErrorField(Field(Invoke(interp, L"RealizeRegularExpression", kCall, {omitted}))),
        "RealizeRegularExpression(left out)");
  Check(IsErrorField(Field(Invoke(interp, L"RealizeRegularExpression", kCall))),
        "RealizeRegularExpression()");
  interp->Release();
  fields->Release();
}

// ---- The default components' dispatch identifiers: the same on every
// thread; unknown names are refused.
struct Ids {
  DISPID name = 0, data = 0, item = 0;
  HRESULT unknown = S_OK;
  std::string name_read;
};
Ids IdsOnThisThread() {
  Ids ids;
  IDispatch* field = Create(L"ZellDFld.DataField");
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  if (field && fields) {
    // Asked in another order than on the other thread.
    LPOLESTR item[] = {const_cast<LPOLESTR>(L"Item")}, data[] = {const_cast<LPOLESTR>(L"Data")},
             name[] = {const_cast<LPOLESTR>(L"Name")},
             odd[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    fields->GetIDsOfNames(IID_NULL, item, 1, 0, &ids.item);
    field->GetIDsOfNames(IID_NULL, data, 1, 0, &ids.data);
    field->GetIDsOfNames(IID_NULL, name, 1, 0, &ids.name);
    DISPID unknown = 0;
    ids.unknown = field->GetIDsOfNames(IID_NULL, odd, 1, 0, &unknown);
    Invoke(field, L"Name", kLet, {Text(L"Mine")});
  }
  if (field) field->Release();
  if (fields) fields->Release();
  return ids;
}

DWORD WINAPI IdsThread(void* out) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  *static_cast<Ids*>(out) = IdsOnThisThread();
  CoUninitialize();
  return 0;
}

void DispatchIds() {
  Ids there;
  HANDLE t = CreateThread(nullptr, 0, &IdsThread, &there, 0, nullptr);
  Check(t && WaitForSingleObject(t, 30000) == WAIT_OBJECT_0, "the identifier thread ends");
  if (t) CloseHandle(t);
  LPOLESTR item[] = {const_cast<LPOLESTR>(L"Item")}, data[] = {const_cast<LPOLESTR>(L"Data")},
           name[] = {const_cast<LPOLESTR>(L"Name")};
  IDispatch* field = Create(L"ZellDFld.DataField");
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  Ids here;
  if (field && fields) {
    field->GetIDsOfNames(IID_NULL, name, 1, 0, &here.name);
    field->GetIDsOfNames(IID_NULL, data, 1, 0, &here.data);
    fields->GetIDsOfNames(IID_NULL, item, 1, 0, &here.item);
  }
  Check(here.name == there.name && here.data == there.data && here.item == there.item,
        "dispatch identifiers differ between threads");
  Check(there.unknown == DISP_E_UNKNOWNNAME, "an unknown name is DISP_E_UNKNOWNNAME");
  // Many unknown names are all refused (and kept nowhere).
  if (field) {
    bool all = true;
    for (int i = 0; i < 20000 && all; ++i) {
      std::wstring n = L"Unknown" + std::to_wstring(i);
      LPOLESTR names[] = {n.data()};
      DISPID id = 0;
      all = field->GetIDsOfNames(IID_NULL, names, 1, 0, &id) == DISP_E_UNKNOWNNAME;
    }
    Check(all, "20000 unknown names are refused");
  }
  if (field) field->Release();
  if (fields) fields->Release();
}

// ---- Worker threads: each creates, evaluates, releases and ends its
// apartment; all must end in time.
struct Work {
  DWORD model;
  bool unload;
  LONG reports = 0;
  LONG default_reports = 0;  // recorded by ZellErr.ErrorManager
  bool same_thread = false;  // the reports came on the worker's own thread
  bool evaluated = false;
};

DWORD WINAPI Worker(void* p) {
  Work& w = *static_cast<Work*>(p);
  if (FAILED(CoInitializeEx(nullptr, w.model))) return 1;
  {
    IDispatch* interp = Create(L"TarnIntr.Interpreter");
    IDispatch* fields = Create(L"ZellDFld.DataFields");
    Sink sink;
    if (interp && fields && Init(interp, fields, &sink)) {
      w.evaluated = Field(Realize(interp, L"40 + 2")).find(":3:42") != std::string::npos;
      Realize(interp, L"1 / 0");
      w.reports = sink.reports;
      w.same_thread = sink.thread == GetCurrentThreadId();
      // The default error manager, which lives in the servers' apartment.
      if (IDispatch* manager = Create(L"ZellErr.ErrorManager")) {
        if (Init(interp, fields, manager)) {
          Realize(interp, L"1 / 0");
          Outcome count = Invoke(manager, L"Count", kGet);
          w.default_reports = V_VT(&count.result) == VT_I4 ? V_I4(&count.result) : -1;
        }
        manager->Release();
      }
    }
    if (interp) interp->Release();
    if (fields) fields->Release();
  }
  if (w.unload) CoFreeUnusedLibrariesEx(0, 0);
  CoUninitialize();
  return 0;
}

void RunWorkers(std::vector<Work>& work, const std::string& label) {
  std::vector<HANDLE> threads;
  for (auto& w : work) threads.push_back(CreateThread(nullptr, 0, &Worker, &w, 0, nullptr));
  for (std::size_t i = 0; i < threads.size(); ++i) {
    const bool ended = threads[i] && WaitForSingleObject(threads[i], 30000) == WAIT_OBJECT_0;
    Check(ended, label + ": worker " + std::to_string(i) + " did not end within 30 s");
    if (!ended) {
      std::printf("hostile_host: %d checks, %d failed (stopped: a worker hangs)\n", g_checks,
                  g_failures);
      std::fflush(stdout);
      TerminateProcess(GetCurrentProcess(), 1);
    }
    CloseHandle(threads[i]);
    Check(work[i].evaluated, label + ": worker " + std::to_string(i) + " did not evaluate");
  }
}

void MultithreadedApartment() {
  std::vector<Work> mta{{COINIT_MULTITHREADED, false}};
  RunWorkers(mta, "a multithreaded-apartment worker");
  std::printf(
      "hostile_host: reports reaching a multithreaded-apartment host: %ld (its own error "
      "manager, on %s), %ld (ZellErr.ErrorManager)\n",
      mta[0].reports, mta[0].same_thread ? "the calling thread" : "another thread",
      mta[0].default_reports);
  Check(mta[0].reports > 0 && mta[0].default_reports > 0,
        "reports reach a multithreaded-apartment host");
}

void Threads() {
  // The first thread in the process to use the servers ends its apartment.
  std::vector<Work> first{{COINIT_APARTMENTTHREADED, false}};
  RunWorkers(first, "the first worker");
  std::vector<Work> six;
  for (int i = 0; i < 6; ++i) six.push_back({COINIT_APARTMENTTHREADED, i == 5});
  RunWorkers(six, "six workers");
  std::vector<Work> unloading{{COINIT_APARTMENTTHREADED, true}};
  RunWorkers(unloading, "a worker that unloads the servers");
  MultithreadedApartment();
  Check(first[0].reports > 0, "reports reach a worker's error manager");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "threads") {
    Threads();
  } else if (mode == "mta") {
    MultithreadedApartment();
  } else {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    if (mode == "create") {
      IDispatch* interp = Create(L"TarnIntr.Interpreter");
      IDispatch* fields = Create(L"ZellDFld.DataFields");
      Sink sink;
      Check(interp && fields && Init(interp, fields, &sink) &&
                Field(Realize(interp, L"40 + 2")).find(":3:42") != std::string::npos,
            "TarnIntr.Interpreter is created and evaluates");
      if (interp) interp->Release();
      if (fields) fields->Release();
    } else {
      // One part alone when named.
      if (mode.empty() || mode == "reentry") ReEntry();
      if (mode.empty() || mode == "collections") Collections();
      if (mode.empty() || mode == "answers") Answers();
      if (mode.empty() || mode == "byref") ByReference();
      if (mode.empty() || mode == "ids") DispatchIds();
    }
    CoUninitialize();
  }
  std::printf("hostile_host: %d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}
