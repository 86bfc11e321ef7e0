// A compiled client of the component server, run under Wine: the dual vtables early-bound, the
// same objects through IDispatch late-bound, the raised-error triple as IErrorInfo and EXCEPINFO,
// and both outgoing interfaces through connection points (scripts under Wine cannot sink events).
// One line per check, then "N passed, N failed".
//
//   ovik_wine_client.exe            the checks; the settings must name a reachable database
//   ovik_wine_client.exe messagebox a lookup whose key is missing: it shows the start-up notice
//                                   and must wait until someone answers it
#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "OvikEnvironment.h"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what) {
  std::printf("%s - %s\n", ok ? "ok" : "FAIL", what.c_str());
  ++(ok ? passed : failed);
}

template <class T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() { reset(); }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& s) : s_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(s_); }
  BSTR get() const { return s_; }
  BSTR* put() {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
  }
  BSTR* ref() { return &s_; }  // an in/out argument: keeps the value
  std::wstring str() const { return s_ ? std::wstring(s_, SysStringLen(s_)) : std::wstring(); }

 private:
  BSTR s_ = nullptr;
};

struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  ~Var() { VariantClear(&v); }
};

std::string narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
  return s;
}

std::string hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

constexpr HRESULT raised(int number) { return MAKE_HRESULT(1, FACILITY_CONTROL, number & 0xFFFF); }

// The thread's error object after a failed vtable call: source and description.
std::pair<std::wstring, std::wstring> error_info() {
  Com<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  Bstr source, description;
  info->GetSource(source.put());
  info->GetDescription(description.put());
  return {source.str(), description.str()};
}

// A late-bound call by name; args in the member's own order (DISPPARAMS wants them reversed).
HRESULT invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
               EXCEPINFO* exception = nullptr, DISPID* id_out = nullptr) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  if (id_out) *id_out = id;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put_id : nullptr,
                    static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO ignored{};
  UINT bad_arg = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                      exception ? exception : &ignored, &bad_arg);
  if (!exception) {
    SysFreeString(ignored.bstrSource);
    SysFreeString(ignored.bstrDescription);
    SysFreeString(ignored.bstrHelpFile);
  }
  return hr;
}

VARIANT by_ref(BSTR* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = s;
  return v;
}

// An event sink for one outgoing interface: records the text arguments of every event with
// dispatch id 1 and runs an optional handler inside it.
class Sink final : public IDispatch {
 public:
  explicit Sink(const IID& events) : events_(events) {}
  std::vector<std::vector<std::wstring>> calls;
  std::function<void()> handler;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == events_) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    std::vector<std::wstring> args;
    for (UINT i = params->cArgs; i-- > 0;) {
      const VARIANT& a = params->rgvarg[i];
      BSTR s = a.vt == VT_BSTR ? a.bstrVal : a.vt == (VT_BYREF | VT_BSTR) ? *a.pbstrVal : nullptr;
      args.emplace_back(s ? s : L"");
    }
    calls.push_back(args);
    if (handler) handler();
    return S_OK;
  }

 private:
  IID events_;
  ULONG refs_ = 1;
};

// One Advise for the life of the object.
class Advised {
 public:
  Advised(IUnknown* source, const IID& events, IUnknown* sink) {
    Com<IConnectionPointContainer> container;
    if (FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void()))) return;
    if (FAILED(container->FindConnectionPoint(events, point_.put()))) return;
    if (FAILED(point_->Advise(sink, &cookie_))) cookie_ = 0;
  }
  Advised(const Advised&) = delete;
  Advised& operator=(const Advised&) = delete;
  ~Advised() {
    if (cookie_) point_->Unadvise(cookie_);
  }
  bool ok() const { return cookie_ != 0; }

 private:
  Com<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

template <class T>
HRESULT create(const wchar_t* progid, const IID& iid, Com<T>& out) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progid, &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out.put_void());
}

// The dual vtable, called directly: by-reference texts, an object result, a property put, typed
// results, and a raised error through IErrorInfo.
void early_bound(_clsSystemInfo* system, const std::wstring& marker) {
  Bstr dir;
  HRESULT hr = system->GetIniDir(dir.put());
  check(SUCCEEDED(hr) && dir.str().ends_with(L"\\..\\ini\\"),
        "GetIniDir names the ini folder beside bin: " + narrow(dir.str()));

  Com<_clsIniFile> app;
  Bstr section(L"database"), key(L"provider"), provider;
  hr = system->get_IniFiles(AppSetting, app.put());
  if (SUCCEEDED(hr)) hr = app->GetIni(section.ref(), key.ref(), provider.put());
  check(SUCCEEDED(hr) && provider.str() == L"MSDASQL",
        "IniFiles(AppSetting).GetIni reads provider " + narrow(provider.str()) + " (" + hex(hr) + ")");

  // A clsIniFile of its own on menu.ini writes what the environment's shared object then reads.
  Com<_clsIniFile> menu;
  Com<_clsIniFile> shared;
  Bstr file(L"menu.ini"), s2(L"wine"), k2(L"cpp"), value(marker), written, read;
  hr = create(L"OvikEnvironment.clsIniFile", IID__clsIniFile, menu);
  if (SUCCEEDED(hr)) hr = menu->put_Path(dir.get());
  if (SUCCEEDED(hr)) hr = menu->put_FileName(file.get());
  if (SUCCEEDED(hr)) hr = menu->PutIni(s2.ref(), k2.ref(), value.ref(), written.put());
  if (SUCCEEDED(hr)) hr = system->get_IniFiles(MenuSetting, shared.put());
  if (SUCCEEDED(hr)) hr = shared->GetIni(s2.ref(), k2.ref(), read.put());
  check(SUCCEEDED(hr) && read.str() == marker,
        "PutIni on menu.ini, read back through IniFiles(MenuSetting): " + narrow(read.str()) + " (" +
            hex(hr) + ")");

  Bstr missing(L"no_such_key"), nothing;
  hr = shared ? shared->GetIni(s2.ref(), missing.ref(), nothing.put()) : E_POINTER;
  auto [source, description] = error_info();
  check(hr == raised(60000) && source == L"clsIniFile" && description == L"設定が見つかりません。",
        "GetIni of a missing key raises 60000 from clsIniFile through IErrorInfo (" + hex(hr) + ", " +
            narrow(source) + ")");

  long account = 0;
  short head_office = 0;
  hr = system->funAccountItem(&account);
  if (SUCCEEDED(hr)) hr = system->funHeadOfficeCode(1, &head_office);
  check(
      SUCCEEDED(hr) && account == 1101 && head_office == 100,
      "funAccountItem " + std::to_string(account) + ", funHeadOfficeCode(1) " + std::to_string(head_office));
}

// The same server through IDispatch: names to ids, by-reference arguments written back, and a
// raised error in EXCEPINFO.
void late_bound(IDispatch* system) {
  Bstr pos(L"old"), employee(L"old"), bat(L"old");
  Var result;
  DISPID id = 0;
  HRESULT hr =
      invoke(system, L"funPosInfoImport", DISPATCH_METHOD,
             {by_ref(pos.ref()), by_ref(employee.ref()), by_ref(bat.ref())}, &result.v, nullptr, &id);
  check(SUCCEEDED(hr) && id == 15 && result.v.vt == VT_BOOL && result.v.boolVal == VARIANT_TRUE &&
            pos.str() == L"C:\\pos\\pos.csv" && employee.str() == L"C:\\pos\\employee.csv" &&
            bat.str() == L"C:\\pos\\import.bat",
        "Invoke funPosInfoImport (id " + std::to_string(id) + ") writes back its by-reference texts: " +
            narrow(pos.str()) + " " + narrow(employee.str()) + " " + narrow(bat.str()));

  Com<IDispatch> template_;
  EXCEPINFO exception{};
  hr = create(L"OvikEnvironment.clsConnectString", IID_IDispatch, template_);
  if (SUCCEEDED(hr)) hr = invoke(template_.get(), L"GetValue", DISPATCH_METHOD, {}, &result.v, &exception);
  Bstr source, description;
  *source.put() = exception.bstrSource;
  *description.put() = exception.bstrDescription;
  SysFreeString(exception.bstrHelpFile);
  check(hr == DISP_E_EXCEPTION && source.str() == L"clsConnectString" && !description.str().empty() &&
            FAILED(exception.scode),
        "Invoke GetValue of an unfilled template: EXCEPINFO from " + narrow(source.str()) + ", scode " +
            hex(exception.scode));
}

_clsWaitNDispatch* g_waiting = nullptr;  // for the thread timer's callback

void CALLBACK cancel_wait(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (g_waiting) g_waiting->Cancel();
}

// OnTimer through a connection point: a wait keeps dispatching the thread's messages (a thread
// timer's callback cancels it), raises its event once, and refuses a second wait from inside it.
void wait_events() {
  Com<_clsWaitNDispatch> wait;
  HRESULT hr = create(L"OvikEnvironment.clsWaitNDispatch", IID__clsWaitNDispatch, wait);
  Sink* sink = new Sink(DIID___clsWaitNDispatch);
  VARIANT_BOOL waiting_inside = VARIANT_FALSE;
  HRESULT nested = S_OK;
  std::wstring nested_text;
  sink->handler = [&] {
    wait->get_IsWaiting(&waiting_inside);
    nested = wait->Wait(10);
    nested_text = error_info().second;
  };
  {
    Advised advised(wait.get(), DIID___clsWaitNDispatch, sink);
    g_waiting = wait.get();
    SetTimer(nullptr, 0, 50, cancel_wait);
    const ULONGLONG start = GetTickCount64();
    if (SUCCEEDED(hr)) hr = wait->Wait(5000);
    const ULONGLONG took = GetTickCount64() - start;
    g_waiting = nullptr;
    check(advised.ok() && SUCCEEDED(hr) && took < 2000 && sink->calls.size() == 1,
          "Wait(5000) dispatched a timer whose Cancel ended it after " + std::to_string(took) +
              " ms; OnTimer " + std::to_string(sink->calls.size()) + " time(s)");
    check(waiting_inside == VARIANT_TRUE && FAILED(nested) &&
              nested_text.starts_with(L"This function is not reentrant"),
          "inside OnTimer IsWaiting is true and a second Wait is refused (" + hex(nested) + ")");
  }
  sink->handler = nullptr;
  sink->Release();
}

// RaiseDatabaseError through a connection point on the database that OpenDatabase opened.
void database_events(_clsSystemInfo* system) {
  Com<_clsDatabase> database;
  VARIANT_BOOL usable = VARIANT_FALSE;
  HRESULT hr = system->OpenDatabase();
  if (SUCCEEDED(hr)) hr = system->get_Database(database.put());
  if (SUCCEEDED(hr) && database) hr = database->get_Usable(&usable);
  check(SUCCEEDED(hr) && usable == VARIANT_TRUE,
        "OpenDatabase through ODBC gives a usable Database (" + hex(hr) + ")");
  if (!database) return;

  Sink* sink = new Sink(DIID___clsDatabase);
  {
    Advised advised(database.get(), DIID___clsDatabase, sink);
    Bstr sql(L"select * from wt_no_such_table");
    Com<IDispatch> recordset;
    hr = database->OpenForwardOnlyRecordset(sql.get(), recordset.put());
    const bool one = sink->calls.size() >= 1 && sink->calls[0].size() == 2;
    check(advised.ok() && FAILED(hr) && one && !sink->calls[0][0].empty() &&
              sink->calls[0][1].find(L"wt_no_such_table") != std::wstring::npos,
          "a failing query raised RaiseDatabaseError(" + (one ? narrow(sink->calls[0][0]) : std::string()) +
              ", ...) before returning " + hex(hr));
  }
  sink->Release();
  check(SUCCEEDED(system->CloseDatabase()), "CloseDatabase");
}

// The start-up notice of a lookup whose key is missing: modal, so the call returns only once
// the box has been answered (without a display it would return at once).
void message_box(_clsSystemInfo* system) {
  short code = -1;
  const ULONGLONG start = GetTickCount64();
  HRESULT hr = system->funHeadOfficeCode(77, &code);
  const ULONGLONG took = GetTickCount64() - start;
  check(SUCCEEDED(hr) && code == 0 && took >= 500,
        "funHeadOfficeCode(77) without its key answered 0 after the box was closed (" + std::to_string(took) +
            " ms)");
}

class Apartment {
 public:
  Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const bool box = argc > 1 && std::string(argv[1]) == "messagebox";
  {
    Apartment apartment;
    Com<_clsSystemInfo> system;
    HRESULT hr = CoCreateInstance(CLSID_clsSystemInfo, nullptr, CLSCTX_INPROC_SERVER, IID__clsSystemInfo,
                                  system.put_void());
    check(SUCCEEDED(hr), "CoCreateInstance clsSystemInfo for _clsSystemInfo (" + hex(hr) + ")");
    if (system && box) {
      message_box(system.get());
    } else if (system) {
      early_bound(system.get(), L"cpp " + std::to_wstring(GetCurrentProcessId()));
      late_bound(system.get());
      wait_events();
      database_events(system.get());
    }
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
