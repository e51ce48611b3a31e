// A host that attacks tarnintr.dll and tarnhost.dll the way a careless or
// hostile automation client might: re-entry from its own callbacks, a
// collection that renames, loses or raises for fields, texts beyond the
// readable limit, arguments of every kind (tests/data/hostile_calls.tsv),
// dispatch identifiers across threads, and worker threads that end their
// apartments. Every check must end without a crash or a hang, with the
// host's collection as it was.
// Usage: hostile_host [mode] [calls.tsv]: without a mode, all checks on the
// main thread; threads: workers that are the first in the process to use
// the servers; mta: one multithreaded-apartment worker; create: only whether
// TarnIntr.Interpreter can be created and evaluates; reentry, collections,
// calls, ids: one part. The table is hostile_calls.tsv in the current
// folder unless named. Exit code 0 when every check passed.
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "com_support.h"

namespace {

using namespace tarn::com;

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
    const HRESULT hr = hook ? hook(name, p, result, info) : S_FALSE;
    return hr != S_FALSE ? hr : inner_->Invoke(id, iid, lcid, flags, p, result, info, arg);
  }
  // Answers the call itself unless it returns S_FALSE.
  using Hook = std::function<HRESULT(const std::wstring&, DISPPARAMS*, VARIANT*, EXCEPINFO*)>;
  Hook hook;

 private:
  IDispatch* inner_;
  std::map<DISPID, std::wstring> names_;
};

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
      bool fired = false;
      auto act = [&] {
        fired = true;
        VARIANT text = Text(L"9 * (9 + Field1");
        if (action == 0) Init(interp, second, &sink);
        if (action == 1 || action == 2)
          Invoke(interp, L"DataFields", kSet, {Object(action == 2 ? second : nullptr)});
        if (action == 3) Invoke(interp, L"objError", kSet, {Object(nullptr)});
        if (action == 4) Invoke(interp, L"strExpression", kLet, {Value("Integer 0"), text});
        if (action == 5)
          Check(Data(Realize(interp, L"Field1 + 1")) == "Long 42",
                "an evaluation from inside a callback");
        VariantClear(&text);
      };
      const bool report = wcscmp(member, L"REPORTERROR") == 0;
      if (report) {
        sink.during = act;
      } else {
        host.hook = [&](const std::wstring& name, DISPPARAMS*, VARIANT*, EXCEPINFO*) {
          if (!fired && name == member) act();
          return S_FALSE;
        };
      }
      Check(Init(interp, &host, &sink), label + ": Init");
      // A failing step makes a report; "Field1" makes Item and Remove run.
      Outcome r = Realize(interp, report ? L"Field1 + 1 / 0" : L"Field1 + 1 + 2");
      Check(SUCCEEDED(r.hr), label + ": the call returns");
      Check(fired, label + ": the callback ran");
      Check(Count(first) == 1,
            label + ": the first collection holds " + std::to_string(Count(first)) + " fields");
      Check(Count(second) == 0, label + ": the second collection holds fields");
      // The interpreter goes on with whatever it was given last.
      Check(SUCCEEDED(Realize(interp, L"40 + 2").hr), label + ": the next call returns");
      host.hook = nullptr;
      interp->Release();
      first->Release();
      second->Release();
      Check(sink.refs == 1 && host.refs == 1, label + ": the host objects' references balance");
    }
  }
}

// The only argument of a call of `member` (through by-reference variants),
// or nothing for any other call.
const VARIANT* OnlyArgument(const std::wstring& name, const wchar_t* member, DISPPARAMS* p) {
  if (name != member || p->cArgs != 1) return nullptr;
  const VARIANT* arg = &p->rgvarg[0];
  while (V_VT(arg) == (VT_BYREF | VT_VARIANT)) arg = V_VARIANTREF(arg);
  return arg;
}

// Renames the field of a call of AddObject with `rename` (of its name), and
// answers the call with 0 itself when `answer` is set.
Forwarder::Hook Rename(std::function<std::wstring(const std::wstring&)> rename, bool answer) {
  return [=](const std::wstring& name, DISPPARAMS* p, VARIANT* result, EXCEPINFO*) {
    const VARIANT* field = OnlyArgument(name, L"ADDOBJECT", p);
    if (field == nullptr || V_VT(field) != VT_DISPATCH) return S_FALSE;
    Outcome n = Invoke(V_DISPATCH(field), L"Name", kGet);
    if (V_VT(&n.result) != VT_BSTR) return S_FALSE;
    Invoke(V_DISPATCH(field), L"Name", kLet, {Text(rename(V_BSTR(&n.result)))});
    if (!answer) return S_FALSE;
    V_VT(result) = VT_I2;
    V_I2(result) = 0;
    return S_OK;
  };
}

// ---- The host's collection ends as it was, whatever its Item and
// AddObject answer; a host field is never removed; a collection replaced by
// Init is let go.
void Collections() {
  const std::pair<const char*, Forwarder::Hook> cases[] = {
      {"Item gives Nothing for temporary fields",
       [](const std::wstring& name, DISPPARAMS* p, VARIANT* result, EXCEPINFO*) {
         const VARIANT* key = OnlyArgument(name, L"ITEM", p);
         if (key == nullptr || V_VT(key) != VT_BSTR || _wcsnicmp(V_BSTR(key), L"Autodf", 6) != 0)
           return S_FALSE;
         V_VT(result) = VT_DISPATCH;
         V_DISPATCH(result) = nullptr;
         return S_OK;
       }},
      {"Item raises, as a broken host component might",
       [](const std::wstring& name, DISPPARAMS*, VARIANT*, EXCEPINFO* info) {
         if (name != L"ITEM") return S_FALSE;
         if (info) {
           *info = EXCEPINFO{};
           info->scode = static_cast<SCODE>(0x800A0005);
           info->bstrDescription = SysAllocString(L"Item raised");
         }
         return DISP_E_EXCEPTION;
       }},
      {"AddObject renames the field to the host's Field1",
       Rename([](const std::wstring&) { return L"Field1"; }, true)},
      {"AddObject keeps the field under its name in capitals", Rename(
                                                                   [](std::wstring n) {
                                                                     for (auto& c : n)
                                                                       c = static_cast<wchar_t>(
                                                                           towupper(c));
                                                                     return n;
                                                                   },
                                                                   false)},
      {"AddObject keeps the field under a name of its own",
       Rename([](const std::wstring& n) { return n.size() > 6 ? L"Own" + n.substr(6) : n; },
              false)},
      // The real collection refuses the key it holds.
      {"AddObject renames the field to the host's Field1 and adds it",
       Rename([](const std::wstring&) { return L"FIELD1"; }, false)},
  };
  for (const auto& [label, hook] : cases) {
    IDispatch* interp = Create(L"TarnIntr.Interpreter");
    IDispatch* fields = NewFields();
    if (!interp || !fields) {
      Check(false, std::string(label) + ": create");
      return;
    }
    Sink sink;
    Forwarder host(fields);
    host.hook = hook;
    Check(Init(interp, &host, &sink), std::string(label) + ": Init");
    for (const wchar_t* text : {L"1 + 2", L"Field1 + 1", L"\"a\" & \"b\""}) {
      const std::string where = std::string(label) + ": " + Utf8(text, wcslen(text));
      const std::string got = Field(Realize(interp, text));
      Check(got.rfind("Field1=", 0) != 0, where + ": the host's own field is the answer");
      Check(Count(fields) == 1,
            where + ": the collection holds " + std::to_string(Count(fields)) + " fields");
      Outcome f1 = Invoke(fields, L"Item", kCall, {Text(L"Field1")});
      Check(Field(f1) == "Field1=Long:Long 41",
            where + ": the host's Field1 changed: " + Field(f1));
    }
    // The interpreter's names do not drift from call to call.
    const std::string first = Field(Realize(interp, L"40 + 2"));
    Check(Field(Realize(interp, L"40 + 2")) == first,
          std::string(label) + ": the names drift from " + first);
    Check(Init(interp, fields, &sink) && host.refs == 1,
          std::string(label) + ": the replaced collection was let go");
    host.hook = nullptr;
    interp->Release();
    fields->Release();
  }
}

// ---- The rows of hostile_calls.tsv: what the text argument is and how it
// is passed; then texts beyond the readable limit and odd set-ups.
void Calls(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  IDispatch* interp = Create(L"TarnIntr.Interpreter");
  IDispatch* fields = NewFields();
  Sink sink;
  if (!in || !interp || !fields || !Init(interp, fields, &sink)) {
    Check(false, "calls: read " + path + ", create and Init");
    return;
  }
  // The default answers what the text's words give; strict mode gives the
  // Error field instead.
  Check(SUCCEEDED(Invoke(interp, L"Strict", kLet, {Value("Boolean True")}).hr), "Strict = True");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    auto cols = tarn::testing::Split(line, '\t');
    cols.resize(5);
    const std::string where =
        path + ":" + std::to_string(number) + ": " + tarn::table::Escape(line) + ": ";
    VARIANT held = cols[1] == "Object" ? Object(&sink) : Value(tarn::table::Unescape(cols[1]));
    if (cols[1] == "Object") sink.AddRef();
    const VARIANT was = held;  // the very bits, to tell a rewritten variable
    VARIANT typed;
    VariantInit(&typed);
    V_VT(&typed) = VT_BYREF | V_VT(&held);
    V_BYREF(&typed) = &V_UI1(&held);  // the value's own storage
    std::vector<VARIANT> args;
    if (cols[0] != "none")
      args = {cols[0] == "variable" ? ByRefVariant(&held) : cols[0] == "typed" ? typed : held};
    sink.reports = 0;
    const Outcome r = Invoke(interp, L"RealizeRegularExpression", kCall, args);
    const std::string answer = IsErrorField(r) ? "Error" : Data(r);
    Check(answer == cols[2] || (cols[2] == "any" && SUCCEEDED(r.hr)), where + "answered " + answer);
    if (cols[3] == "same")
      Check(std::memcmp(&held, &was, sizeof held) == 0, where + "the variable was written");
    else if (!cols[3].empty())
      Check(Describe(held) == cols[3], where + "the variable holds " + Describe(held));
    if (cols[4] == "yes") Check(sink.reports > 0, where + "nothing was reported");
    Check(Count(fields) == 1, where + "the collection changed");
    VariantClear(&held);
  }
  std::wstring long_sum = L"1";
  while (long_sum.size() < 40000) long_sum += L" + 1";
  sink.reports = 0;
  Check(IsErrorField(Realize(interp, long_sum)) && sink.reports > 0,
        "a text beyond the readable limit gives the Error field and is reported");
  // Without an error manager too.
  Invoke(interp, L"objError", kSet, {Object(nullptr)});
  Check(IsErrorField(Realize(interp, L"Field1 + 1 / 0")),
        "Field1 + 1 / 0 without an error manager");
  interp->Release();
  fields->Release();
  Check(sink.refs == 1, "calls: the error manager's references balance");
}

// ---- The default components' dispatch identifiers: the same on every
// thread; unknown names are refused, however many.
struct Ids {
  DISPID id[3] = {};  // of the collection's Item, a field's Data and Name
  bool unknown_refused = true;
};

// DISPID_UNKNOWN for a name refused as unknown.
DISPID IdOf(IDispatch* d, const std::wstring& name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  DISPID id = 0;
  const HRESULT hr = d ? d->GetIDsOfNames(IID_NULL, names, 1, 0, &id) : E_POINTER;
  return SUCCEEDED(hr) || hr == DISP_E_UNKNOWNNAME ? id : DISPID_UNKNOWN - 1;
}

// Asked in another order on the other thread.
Ids IdsOnThisThread(bool reversed) {
  Ids ids;
  IDispatch* field = Create(L"ZellDFld.DataField");
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  const wchar_t* names[] = {L"Item", L"Data", L"Name"};
  for (int i = 0; i < 3; ++i) {
    const int k = reversed ? 2 - i : i;
    ids.id[k] = IdOf(k == 0 ? fields : field, names[k]);
  }
  for (int i = 0; i < 20000 && ids.unknown_refused; ++i)
    ids.unknown_refused = IdOf(field, L"Unknown" + std::to_wstring(i)) == DISPID_UNKNOWN;
  if (field) Invoke(field, L"Name", kLet, {Text(L"Mine")});
  if (field) field->Release();
  if (fields) fields->Release();
  return ids;
}

DWORD WINAPI IdsThread(void* out) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  *static_cast<Ids*>(out) = IdsOnThisThread(false);
  CoUninitialize();
  return 0;
}

void DispatchIds() {
  Ids there;
  HANDLE t = CreateThread(nullptr, 0, &IdsThread, &there, 0, nullptr);
  Check(t && WaitForSingleObject(t, 30000) == WAIT_OBJECT_0, "the identifier thread ends");
  if (t) CloseHandle(t);
  const Ids here = IdsOnThisThread(true);
  Check(std::equal(here.id, here.id + 3, there.id) && here.id[0] != DISPID_UNKNOWN,
        "dispatch identifiers differ between threads");
  Check(here.unknown_refused && there.unknown_refused, "20000 unknown names are refused");
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
      w.evaluated = Data(Realize(interp, L"40 + 2")) == "Long 42";
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
  std::string mode, calls = "hostile_calls.tsv";
  for (int i = 1; i < argc; ++i) (std::string(argv[i]).ends_with(".tsv") ? calls : mode) = argv[i];
  if (mode == "threads") {
    Threads();
  } else if (mode == "mta") {
    MultithreadedApartment();
  } else if (mode == "create") {
    Work w{COINIT_APARTMENTTHREADED, false};
    Worker(&w);
    Check(w.evaluated, "TarnIntr.Interpreter is created and evaluates");
  } else {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    // One part alone when named.
    if (mode.empty() || mode == "reentry") ReEntry();
    if (mode.empty() || mode == "collections") Collections();
    if (mode.empty() || mode == "calls") Calls(calls);
    if (mode.empty() || mode == "ids") DispatchIds();
    CoUninitialize();
  }
  std::printf("hostile_host: %d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}
