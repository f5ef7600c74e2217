// The ERP automation adapter against a test automation server registered in
// this process under the ERP's class ids. The server's objects have the typed
// calls at their method-table entries (stubs elsewhere) and record every
// argument; its business objects record every name looked up and every call.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "check.h"
#include "common/encoding.h"
#include "common/error.h"
#include "platform/win32/optima_com.h"
#include "platform/win32/win_text.h"

using namespace trelvex;
using optima::Variant;
using Object = std::shared_ptr<optima::IDispatchObject>;

namespace server {

std::vector<std::string> events;
int live = 0;  // server objects alive

struct Failure {
  HRESULT hr = E_FAIL;
  std::wstring info;        // error information set before returning
  bool nullResult = false;  // success without the object
};
std::map<std::string, Failure> failures;

void Reset() {
  events.clear();
  failures.clear();
}

void SetInfo(const std::wstring& text) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create))) return;
  create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  SetErrorInfo(0, info);
  info->Release();
  create->Release();
}

// Records the call; the injected outcome, S_OK by default.
HRESULT Outcome(const std::string& call, const std::string& record) {
  events.push_back(record);
  auto it = failures.find(call);
  if (it == failures.end()) return S_OK;
  if (!it->second.info.empty()) SetInfo(it->second.info);
  return it->second.nullResult ? S_OK : it->second.hr;
}

bool NullResult(const std::string& call) {
  auto it = failures.find(call);
  return it != failures.end() && it->second.nullResult;
}

std::string Text(BSTR b) { return WideToCp1250(std::wstring_view(b ? b : L"", SysStringLen(b))); }

class Named : public IDispatch {
 public:
  std::string name;
};

std::string Describe(const VARIANT& v) {
  char buffer[64];
  switch (v.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I4: return "I4:" + std::to_string(v.lVal);
    case VT_R8: std::snprintf(buffer, sizeof buffer, "R8:%g", v.dblVal); return buffer;
    case VT_BSTR: return "BSTR:" + Text(v.bstrVal);
    case VT_ERROR: std::snprintf(buffer, sizeof buffer, "ERROR:%08lx", static_cast<unsigned long>(v.scode)); return buffer;
    case VT_DISPATCH: {
      auto* named = dynamic_cast<Named*>(v.pdispVal);
      return "DISPATCH:" + (named ? named->name : std::string("?"));
    }
    default: return "VT:" + std::to_string(v.vt);
  }
}

// Reference counting and the IDispatch entries (3 to 6) of every object.
template <class Derived>
class ObjectBase : public Named {
 public:
  ObjectBase() { ++live; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == Derived::Iid()) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) {
      --live;
      delete static_cast<Derived*>(this);
    }
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

 private:
  ULONG refs_ = 1;
};

#define STUB(n) \
  virtual HRESULT STDMETHODCALLTYPE Stub##n() { return E_NOTIMPL; }

// A business object driven by name.
class Business final : public ObjectBase<Business> {
 public:
  explicit Business(std::string n) { name = std::move(n); }
  static const IID& Iid() { return IID_IDispatch; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    static const char* const known[] = {"AddNew", "Adres", "GIDNumer", "Failing", "FailingInfo",
                                        "FailingScode", "Akronim", "Miasto", "Flaga", "TwGGIDNumer",
                                        "Stawka"};
    const std::string member = WideToCp1250(names[0]);  // a plain string, not a BSTR
    events.push_back(name + " name " + member);
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (DISPID i = 0; i < DISPID(std::size(known)); ++i) {
      if (member == known[i]) {
        ids[0] = i + 1;
        return S_OK;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT*) override {
    std::string record = name + " invoke " + std::to_string(id) + " flags " + std::to_string(flags) + " [";
    for (UINT i = 0; i < params->cArgs; ++i) record += (i ? ", " : "") + Describe(params->rgvarg[i]);
    record += "] named [";
    for (UINT i = 0; i < params->cNamedArgs; ++i) {
      record += (i ? ", " : "") + std::to_string(params->rgdispidNamedArgs[i]);
    }
    record += "]";
    events.push_back(record);
    if (result != nullptr) VariantInit(result);
    switch (id) {
      case 1:  // AddNew
        result->vt = VT_DISPATCH;
        result->pdispVal = new Business(name + ".new");
        return S_OK;
      case 2:  // Adres
        result->vt = VT_DISPATCH;
        result->pdispVal = new Business(name + ".address");
        return S_OK;
      case 3:  // GIDNumer
        result->vt = VT_I4;
        result->lVal = 77;
        return S_OK;
      case 4:  // Failing: the text comes from the deferred fill-in
        *excep = EXCEPINFO{};
        excep->bstrSource = SysAllocString(L"Test");
        excep->bstrHelpFile = SysAllocString(L"help.hlp");
        excep->pfnDeferredFillIn = &FillIn;
        return DISP_E_EXCEPTION;
      case 5:  // FailingInfo
        SetInfo(L"B\u0142\u0105d zapisu");
        return E_FAIL;
      case 6:  // FailingScode
        *excep = EXCEPINFO{};
        excep->scode = E_ACCESSDENIED;
        return DISP_E_EXCEPTION;
      default:
        return S_OK;
    }
  }

 private:
  static HRESULT STDMETHODCALLTYPE FillIn(EXCEPINFO* excep) {
    events.push_back("deferred fill-in");
    excep->bstrDescription = SysAllocString(L"Nieprawid\u0142owa warto\u015B\u0107");
    excep->scode = E_FAIL;
    return S_OK;
  }
};

class Session final : public ObjectBase<Session> {
 public:
  Session() { name = "session"; }
  static const IID& Iid() { return IID_IDispatch; }
  STUB(7) STUB(8)
  virtual HRESULT STDMETHODCALLTYPE OpenObject(BSTR progId, VARIANT filter, IDispatch** out) {
    *out = nullptr;
    const HRESULT hr = Outcome("session.OpenObject",
                               "session.OpenObject(" + Text(progId) + ", " + Describe(filter) + ")");
    if (FAILED(hr) || NullResult("session.OpenObject")) return hr;
    const std::string f = filter.vt == VT_BSTR ? Text(filter.bstrVal) : "?";
    if (f.find("BRAK") != std::string::npos) {
      SetInfo(L"Nie znaleziono rekordu");
      return E_FAIL;
    }
    *out = new Business(Text(progId) + (f.empty() ? std::string() : "[" + f + "]"));
    return S_OK;
  }
  STUB(10)
  virtual HRESULT STDMETHODCALLTYPE Save() { return Outcome("session.Save", "session.Save()"); }
};

class Login final : public ObjectBase<Login> {
 public:
  Login() { name = "login"; }
  static const IID& Iid() { return IID_IDispatch; }
  STUB(7) STUB(8) STUB(9)
  virtual HRESULT STDMETHODCALLTYPE GetSession(IUnknown** out) {
    *out = nullptr;
    const HRESULT hr = Outcome("login.Session", "login.Session()");
    if (FAILED(hr) || NullResult("login.Session")) return hr;
    *out = static_cast<IDispatch*>(new Session());
    return S_OK;
  }
};
IUnknown* lastLogin = nullptr;

class Held final : public ObjectBase<Held> {
 public:
  Held() { name = "held"; }
  static const IID& Iid() { return IID_IDispatch; }
};

class Application final : public ObjectBase<Application> {
 public:
  Application() { name = "application"; }
  static const IID& Iid() { return win32::kIidApplication; }
  STUB(7) STUB(8) STUB(9) STUB(10) STUB(11) STUB(12)
  virtual HRESULT STDMETHODCALLTYPE DoLogin(VARIANT a0, VARIANT a1, VARIANT a2, VARIANT a3, VARIANT a4,
                                            VARIANT a5, VARIANT a6, VARIANT a7, VARIANT a8, VARIANT a9,
                                            VARIANT a10, VARIANT a11, VARIANT a12, VARIANT a13,
                                            VARIANT a14, VARIANT a15, VARIANT a16, VARIANT a17,
                                            VARIANT a18, VARIANT a19, VARIANT a20, IUnknown** out) {
    *out = nullptr;
    const VARIANT* args[] = {&a0,  &a1,  &a2,  &a3,  &a4,  &a5,  &a6,  &a7,  &a8,  &a9, &a10,
                             &a11, &a12, &a13, &a14, &a15, &a16, &a17, &a18, &a19, &a20};
    std::string record = "app.Login(";
    for (std::size_t i = 0; i < std::size(args); ++i) record += (i ? ", " : "") + Describe(*args[i]);
    const HRESULT hr = Outcome("app.Login", record + ")");
    if (FAILED(hr) || NullResult("app.Login")) return hr;
    auto* login = new Login();
    lastLogin = static_cast<IDispatch*>(login);
    *out = lastLogin;
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE Open(LONG a, LONG b, VARIANT c, VARIANT d, VARIANT e, VARIANT f,
                                         IUnknown** out) {
    *out = nullptr;
    const HRESULT hr = Outcome("app.Open", "app.Open(" + std::to_string(a) + ", " + std::to_string(b) +
                                               ", " + Describe(c) + ", " + Describe(d) + ", " +
                                               Describe(e) + ", " + Describe(f) + ")");
    if (FAILED(hr)) return hr;
    *out = static_cast<IDispatch*>(new Held());
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE Close() { return Outcome("app.Close", "app.Close()"); }
};

class Import final : public ObjectBase<Import> {
 public:
  Import() { name = "import"; }
  static const IID& Iid() { return win32::kIidDokumentHaMagXml; }
  virtual HRESULT STDMETHODCALLTYPE ImportFromFile(BSTR path, LONG flag) {
    return Outcome("import.ImportFromFile",
                   "import.ImportFromFile(" + Text(path) + ", " + std::to_string(flag) + ")");
  }
  STUB(8) STUB(9) STUB(10) STUB(11) STUB(12) STUB(13) STUB(14) STUB(15)
  virtual HRESULT STDMETHODCALLTYPE DoLogin(IUnknown* login) {
    return Outcome("import.Login",
                   std::string("import.Login(") + (login == lastLogin ? "the login" : "other") + ")");
  }
};

template <class T>
class Factory final : public IClassFactory {
 public:
  explicit Factory(const char* call) : call_(call) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    const HRESULT hr = Outcome(call_, call_);
    if (FAILED(hr)) return hr;
    T* object = new T();
    const HRESULT qi = object->QueryInterface(iid, out);
    object->Release();
    return qi;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  const char* call_;
};

Factory<Application> applicationFactory("create application");
Factory<Import> importFactory("create import");

// The two classes registered for the life of one test.
class Registration {
 public:
  Registration() {
    CoRegisterClassObject(win32::kClsidCoApplication, &applicationFactory, CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &app_);
    CoRegisterClassObject(win32::kClsidCoDokumentHaMagXml, &importFactory, CLSCTX_INPROC_SERVER,
                          REGCLS_MULTIPLEUSE, &import_);
    Reset();
  }
  ~Registration() {
    CoRevokeClassObject(app_);
    CoRevokeClassObject(import_);
    Reset();
  }

 private:
  DWORD app_ = 0, import_ = 0;
};

}  // namespace server

namespace {

// The typed calls of one order in their order; the failure's text, or empty.
std::string RunOrder(bool withImport = true) {
  try {
    auto automation = win32::CreateOptimaAutomation();
    auto app = automation->CreateApplication();
    auto held = app->Open(513, 10000);
    {
      auto login = app->Login("Jan", "has\xB3o \xBF", "SERWER\\OPTIMA", optima::DefaultLoginFlags());
      auto session = login->Session();
      auto customer = session->OpenObject("CDN.Kontrahenci", "Knt_Kod='AB'");
      session->Save();
      if (withImport) {
        auto import = automation->CreateImport();
        import->Login(*login);
        import->ImportFromFile("C:\\Eksport\\Zam\xF3wienia\\12345.xml", 0);
      }
    }
    app->Close();
    return {};
  } catch (const EOleException& e) {
    return e.Message();
  }
}

// The system's text for a code, or the code itself where the system has none
// (Wine has no text for some COM codes).
std::string SystemText(HRESULT hr) {
  std::string text = win32::SystemErrorText(static_cast<std::uint32_t>(hr));
  if (text.empty()) {
    char code[32];
    std::snprintf(code, sizeof code, "OLE error %.8lx", static_cast<unsigned long>(hr));
    text = code;
  }
  return text;
}

// The variant holds a value of T equal to `expected`.
template <typename T>
bool Holds(const Variant& v, const T& expected) {
  return std::holds_alternative<T>(v) && std::get<T>(v) == expected;
}

std::string Flags() {
  std::string text;
  const auto flags = optima::DefaultLoginFlags();
  for (std::int32_t f : flags) text += ", I4:" + std::to_string(f);
  return text;
}

}  // namespace

TEST_CASE("automation: class and interface ids of the ERP") {
  auto same = [](const GUID& id, const wchar_t* text) {
    GUID parsed{};
    return SUCCEEDED(CLSIDFromString(const_cast<LPOLESTR>(text), &parsed)) && parsed == id;
  };
  CHECK(same(win32::kClsidCoApplication, L"{2C83934E-47CE-4B1E-93FA-5F8656BCFA0C}"));
  CHECK(same(win32::kIidApplication, L"{31B87CF8-92E3-4912-9472-2AB270A56CC6}"));
  CHECK(same(win32::kClsidCoDokumentHaMagXml, L"{00D360C9-0750-424E-813C-C0098D774183}"));
  CHECK(same(win32::kIidDokumentHaMagXml, L"{DE2F49DE-F3DA-48E2-8129-0961E3991AE9}"));
}

TEST_CASE("automation: typed calls arrive at their entries with their arguments in order") {
  server::Registration registration;
  CHECK_EQ(RunOrder(), std::string());
  const std::vector<std::string> expected = {
      "create application",
      "app.Open(513, 10000, NULL, NULL, NULL, NULL)",
      "app.Login(BSTR:Jan, BSTR:has\xB3o \xBF, BSTR:SERWER\\OPTIMA" + Flags() + ")",
      "login.Session()",
      "session.OpenObject(CDN.Kontrahenci, BSTR:Knt_Kod='AB')",
      "session.Save()",
      "create import",
      "import.Login(the login)",
      "import.ImportFromFile(C:\\Eksport\\Zam\xF3wienia\\12345.xml, 0)",
      "app.Close()",
  };
  CHECK(server::events == expected);
  for (std::size_t i = 0; i < server::events.size() && i < expected.size(); ++i) {
    if (server::events[i] != expected[i]) CHECK_EQ(server::events[i], expected[i]);
  }
  CHECK(Flags() == ", I4:0, I4:0, I4:0, I4:0, I4:0, I4:1, I4:0, I4:0, I4:0, I4:0, I4:0, I4:0, I4:0, "
                   "I4:0, I4:1, I4:0, I4:0, I4:0");
  CHECK_EQ(server::live, 0);  // every interface released
}

TEST_CASE("automation: a failure at each typed call raises with the server's text") {
  const char* const calls[] = {"create application", "app.Open",      "app.Login",
                               "login.Session",      "session.OpenObject", "session.Save",
                               "create import",      "import.Login",  "import.ImportFromFile",
                               "app.Close"};
  for (const char* call : calls) {
    server::Registration registration;
    server::failures[call] = {E_FAIL, L"B\u0142\u0105d: " + Cp1250ToWide(call), false};
    const std::string text = RunOrder();
    CHECK_EQ(text, "B\xB3\xB9" "d: " + std::string(call));
    CHECK_EQ(server::events.back().substr(0, std::string(call).size()), std::string(call));
    CHECK_EQ(server::live, 0);
  }
}

TEST_CASE("automation: without error information the system's text; an old text never returns") {
  server::Registration registration;
  // Save succeeds but leaves error information behind; the import then fails
  // without setting any.
  server::failures["session.Save"] = {S_OK, L"stara informacja", false};
  server::failures["import.ImportFromFile"] = {E_FAIL, L"", false};
  CHECK_EQ(RunOrder(), win32::SystemErrorText(static_cast<std::uint32_t>(E_FAIL)));
  CHECK(!win32::SystemErrorText(static_cast<std::uint32_t>(E_FAIL)).empty());

  server::failures.clear();
  server::failures["app.Close"] = {static_cast<HRESULT>(0xA0041234), L"", false};
  CHECK_EQ(RunOrder(), std::string("OLE error a0041234"));
  CHECK_EQ(server::live, 0);
}

TEST_CASE("automation: a call that succeeds without its object raises") {
  for (const char* call : {"app.Login", "login.Session", "session.OpenObject"}) {
    server::Registration registration;
    server::failures[call] = {S_OK, L"", true};
    CHECK_EQ(RunOrder(), std::string("Wywo\xB3" "anie nie zwr\xF3" "ci\xB3o obiektu."));
    CHECK_EQ(server::live, 0);
  }
}

TEST_CASE("automation: an ERP that is not registered") {
  server::Reset();
  IUnknown* probe = nullptr;
  const HRESULT hr = CoCreateInstance(win32::kClsidCoApplication, nullptr,
                                      CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                      win32::kIidApplication, reinterpret_cast<void**>(&probe));
  REQUIRE(FAILED(hr));
  auto automation = win32::CreateOptimaAutomation();
  std::string text;
  CHECK_THROWS_TEXT(automation->CreateApplication(), EOleException, text);
  CHECK_EQ(text, SystemText(hr));
  CHECK_THROWS_TEXT(automation->CreateImport(), EOleException, text);
  CHECK(!text.empty());
}

TEST_CASE("business objects: names looked up, calls and puts as the server sees them") {
  server::Registration registration;
  {
    auto automation = win32::CreateOptimaAutomation();
    auto app = automation->CreateApplication();
    auto login = app->Login("a", "b", "c", optima::DefaultLoginFlags());
    auto session = login->Session();
    server::events.clear();

    Object customers = session->OpenObject("CDN.Kontrahenci", "");
    Variant added = customers->Call("AddNew", {optima::Missing{}});
    REQUIRE(std::holds_alternative<Object>(added));
    Object customer = std::get<Object>(added);
    REQUIRE(customer != nullptr);
    customer->Put("Akronim", std::string("KOWALSKI \xA3\xD3" "D\x8F"));
    customer->Put("Flaga", std::int32_t{2});
    Variant address = customer->Call("Adres");
    REQUIRE(std::holds_alternative<Object>(address));
    std::get<Object>(address)->Put("Miasto", std::string("\xA3\xF3" "d\x9F"));

    Object group = session->OpenObject("CDN.TwrGrupy", "TwG_Kod='G1'");
    Variant gid = group->Call("GIDNumer");
    REQUIRE(std::holds_alternative<std::int32_t>(gid));
    CHECK_EQ(std::get<std::int32_t>(gid), 77);
    customer->Put("TwGGIDNumer", gid);
    customer->Put("Stawka", 23.5);
    customer->Put("TwGGIDNumer", optima::Null{});
  }
  const std::string get = std::to_string(DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  const std::string put = std::to_string(DISPATCH_PROPERTYPUT);
  const std::string k = "CDN.Kontrahenci";
  const std::vector<std::string> expected = {
      "session.OpenObject(CDN.Kontrahenci, BSTR:)",
      k + " name AddNew",
      k + " invoke 1 flags " + get + " [ERROR:80020004] named []",
      k + ".new name Akronim",
      k + ".new invoke 7 flags " + put + " [BSTR:KOWALSKI \xA3\xD3" "D\x8F] named [-3]",
      k + ".new name Flaga",
      k + ".new invoke 9 flags " + put + " [I4:2] named [-3]",
      k + ".new name Adres",
      k + ".new invoke 2 flags " + get + " [] named []",
      k + ".new.address name Miasto",
      k + ".new.address invoke 8 flags " + put + " [BSTR:\xA3\xF3" "d\x9F] named [-3]",
      "session.OpenObject(CDN.TwrGrupy, BSTR:TwG_Kod='G1')",
      "CDN.TwrGrupy[TwG_Kod='G1'] name GIDNumer",
      "CDN.TwrGrupy[TwG_Kod='G1'] invoke 3 flags " + get + " [] named []",
      k + ".new name TwGGIDNumer",
      k + ".new invoke 10 flags " + put + " [I4:77] named [-3]",
      k + ".new name Stawka",
      k + ".new invoke 11 flags " + put + " [R8:23.5] named [-3]",
      k + ".new name TwGGIDNumer",
      k + ".new invoke 10 flags " + put + " [NULL] named [-3]",
  };
  CHECK(server::events == expected);
  for (std::size_t i = 0; i < server::events.size() && i < expected.size(); ++i) {
    if (server::events[i] != expected[i]) CHECK_EQ(server::events[i], expected[i]);
  }
  CHECK_EQ(server::live, 0);
}

TEST_CASE("business objects: failures raise with the text the object reports") {
  server::Registration registration;
  {
    auto automation = win32::CreateOptimaAutomation();
    auto app = automation->CreateApplication();
    auto login = app->Login("a", "b", "c", optima::DefaultLoginFlags());
    auto session = login->Session();
    Object customer = session->OpenObject("CDN.Kontrahenci", "Knt_Kod='X'");
    std::string text;

    server::events.clear();
    CHECK_THROWS_TEXT(customer->Put("Failing", std::string("x")), EOleException, text);
    CHECK_EQ(text, std::string("Nieprawid\xB3owa warto\x9C\xE6"));
    CHECK_EQ(server::events.back(), std::string("deferred fill-in"));

    CHECK_THROWS_TEXT(customer->Call("FailingInfo"), EOleException, text);
    CHECK_EQ(text, std::string("B\xB3\xB9" "d zapisu"));

    CHECK_THROWS_TEXT(customer->Call("FailingScode"), EOleException, text);
    CHECK_EQ(text, SystemText(E_ACCESSDENIED));

    CHECK_THROWS_TEXT(customer->Put("Nieznana", std::int32_t{1}), EOleException, text);
    CHECK_EQ(text, SystemText(DISP_E_UNKNOWNNAME));

    // A look-up that finds nothing fails with the server's text.
    CHECK_THROWS_TEXT(session->OpenObject("CDN.Towary", "Twr_Kod='BRAK'"), EOleException, text);
    CHECK_EQ(text, std::string("Nie znaleziono rekordu"));
  }
  CHECK_EQ(server::live, 0);
}

TEST_CASE("variants: each kind there and back") {
  auto round = [](const Variant& v, VARTYPE vt) {
    VARIANT out;
    VariantInit(&out);
    win32::ToVariant(v, out);
    const bool typeOk = out.vt == vt;
    Variant back = win32::FromVariant(out);
    VariantClear(&out);
    return std::make_pair(typeOk, back);
  };
  CHECK(round(std::monostate{}, VT_EMPTY).first);
  CHECK(std::holds_alternative<std::monostate>(round(std::monostate{}, VT_EMPTY).second));
  CHECK(std::holds_alternative<optima::Null>(round(optima::Null{}, VT_NULL).second));
  CHECK(round(optima::Missing{}, VT_ERROR).first);
  CHECK(std::holds_alternative<optima::Missing>(round(optima::Missing{}, VT_ERROR).second));
  CHECK(Holds(round(std::int32_t{-7}, VT_I4).second, std::int32_t{-7}));
  CHECK(Holds(round(2.25, VT_R8).second, 2.25));
  const std::string polish("Za\xBF\xF3\xB3\xE6 \x9D\0x", 11);  // embedded NUL kept
  CHECK(round(polish, VT_BSTR).first);
  CHECK(Holds(round(polish, VT_BSTR).second, polish));
  CHECK(Holds(round(std::string(), VT_BSTR).second, std::string()));
  CHECK(Holds(round(Object(), VT_DISPATCH).second, Object()));

  // A business object goes over as its own interface.
  auto* raw = new server::Business("x");
  Object wrapped = win32::WrapDispatch(raw);
  raw->Release();
  VARIANT out;
  VariantInit(&out);
  win32::ToVariant(wrapped, out);
  CHECK(out.vt == VT_DISPATCH && out.pdispVal == static_cast<IDispatch*>(raw));
  Variant back = win32::FromVariant(out);
  VariantClear(&out);
  REQUIRE(std::holds_alternative<Object>(back));
  std::get<Object>(back)->Put("Flaga", std::int32_t{1});  // the same server object
  back = std::monostate{};
  wrapped.reset();
  CHECK_EQ(server::live, 0);

  // An object that is not a COM object cannot go over.
  struct Foreign : optima::IDispatchObject {
    Variant Call(const std::string&, const std::vector<Variant>&) override { return {}; }
    void Put(const std::string&, const Variant&) override {}
  };
  VariantInit(&out);
  std::string text;
  CHECK_THROWS_TEXT(win32::ToVariant(Object(std::make_shared<Foreign>()), out), EOleException, text);
}

TEST_CASE("variants: what a server may return") {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = -3;
  CHECK(Holds(win32::FromVariant(v), std::int32_t{-3}));
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  CHECK(Holds(win32::FromVariant(v), std::int32_t{-1}));
  v.vt = VT_R4;
  v.fltVal = 1.5f;
  CHECK(Holds(win32::FromVariant(v), 1.5));
  v.vt = VT_UI4;
  v.ulVal = 3000000000u;
  CHECK(Holds(win32::FromVariant(v), 3000000000.0));
  LONG target = 41;
  v.vt = VT_I4 | VT_BYREF;
  v.plVal = &target;
  CHECK(Holds(win32::FromVariant(v), std::int32_t{41}));
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  CHECK(std::holds_alternative<optima::Missing>(win32::FromVariant(v)));
  v.vt = VT_ARRAY | VT_I4;
  v.parray = nullptr;
  std::string text;
  CHECK_THROWS_TEXT(win32::FromVariant(v), EOleException, text);
  CHECK(!text.empty());
}
