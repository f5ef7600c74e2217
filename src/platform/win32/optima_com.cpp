#include "platform/win32/optima_com.h"

#include <oleauto.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "common/encoding.h"
#include "common/error.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/win_text.h"

namespace trelvex::win32 {

const CLSID kClsidCoApplication = {
    0x2C83934E, 0x47CE, 0x4B1E, {0x93, 0xFA, 0x5F, 0x86, 0x56, 0xBC, 0xFA, 0x0C}};
const IID kIidApplication = {
    0x31B87CF8, 0x92E3, 0x4912, {0x94, 0x72, 0x2A, 0xB2, 0x70, 0xA5, 0x6C, 0xC6}};
const CLSID kClsidCoDokumentHaMagXml = {
    0x00D360C9, 0x0750, 0x424E, {0x81, 0x3C, 0xC0, 0x09, 0x8D, 0x77, 0x41, 0x83}};
const IID kIidDokumentHaMagXml = {
    0xDE2F49DE, 0xF3DA, 0x48E2, {0x81, 0x29, 0x09, 0x61, 0xE3, 0x99, 0x1A, 0xE9}};

static_assert(sizeof(VARIANT) == 16, "variants go over by value as 16 bytes");

namespace {

// "Wywołanie nie zwróciło obiektu."
constexpr char kNoObject[] = "Wywo\xB3" "anie nie zwr\xF3" "ci\xB3o obiektu.";

std::string FallbackText(HRESULT hr) {
  char text[32];
  std::snprintf(text, sizeof text, "OLE error %.8lx", static_cast<unsigned long>(hr));
  return text;
}

std::string HresultText(HRESULT hr) {
  std::string text = SystemErrorText(static_cast<std::uint32_t>(hr));
  return text.empty() ? FallbackText(hr) : text;
}

void Check(HRESULT hr) {
  if (FAILED(hr)) RaiseOleError(hr);
}

// For the system's own variant services, which set no error information.
void CheckConversion(HRESULT hr) {
  if (FAILED(hr)) throw EOleException(HresultText(hr));
}

// Calls entry `index` of the method table of `object` with the arguments as
// given (the callee pops them). Old error information is cleared first, so
// that a failure is never reported with the text of an earlier one.
template <typename... Args>
HRESULT CallEntry(IUnknown* object, int index, Args... args) {
  using Method = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
  void** table = *reinterpret_cast<void***>(object);
  auto method = reinterpret_cast<Method>(table[index]);
  SetErrorInfo(0, nullptr);
  return method(object, args...);
}

template <std::size_t... I>
HRESULT CallWithVariants(IUnknown* object, int index, VARIANT* args, IUnknown** result,
                         std::index_sequence<I...>) {
  return CallEntry(object, index, args[I]..., result);
}

VARIANT NullVariant() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_NULL;
  return v;
}

VARIANT IntVariant(std::int32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

class ComDispatchObject : public optima::IDispatchObject {
 public:
  explicit ComDispatchObject(ComPtr<IDispatch> dispatch) : dispatch_(std::move(dispatch)) {}

  IDispatch* dispatch() const { return dispatch_.get(); }

  optima::Variant Call(const std::string& member, const std::vector<optima::Variant>& args) override {
    const DISPID id = Lookup(member);
    // Arguments go over last first.
    std::vector<VariantOwner> owned(args.size());
    std::vector<VARIANT> list(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      VARIANT& v = owned[args.size() - 1 - i].get();
      ToVariant(args[i], v);
      list[args.size() - 1 - i] = v;
    }
    DISPPARAMS params{};
    params.rgvarg = list.empty() ? nullptr : list.data();
    params.cArgs = static_cast<UINT>(list.size());
    VariantOwner result;
    Invoke(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, params, result.Out());
    return FromVariant(result.get());
  }

  void Put(const std::string& member, const optima::Variant& value) override {
    const DISPID id = Lookup(member);
    VariantOwner owned;
    ToVariant(value, owned.get());
    VARIANT arg = owned.get();
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.rgvarg = &arg;
    params.cArgs = 1;
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
    Invoke(id, DISPATCH_PROPERTYPUT, params, nullptr);
  }

 private:
  DISPID Lookup(const std::string& member) {
    std::wstring name = Cp1250ToWide(member);
    LPOLESTR names[1] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    SetErrorInfo(0, nullptr);
    Check(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return id;
  }

  void Invoke(DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result) {
    EXCEPINFO excep{};
    UINT argError = 0;
    SetErrorInfo(0, nullptr);
    const HRESULT hr =
        dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argError);
    if (hr == DISP_E_EXCEPTION) RaiseException(excep);
    Check(hr);
  }

  [[noreturn]] static void RaiseException(EXCEPINFO& excep) {
    if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
    std::string text;
    if (excep.bstrDescription != nullptr) {
      text = WideToCp1250(std::wstring_view(excep.bstrDescription, SysStringLen(excep.bstrDescription)));
    }
    const HRESULT code = excep.scode != 0 ? excep.scode : DISP_E_EXCEPTION;
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    if (text.empty()) text = HresultText(code);
    throw EOleException(text);
  }

  ComPtr<IDispatch> dispatch_;
};

template <typename T>
optima::Variant WholeNumber(T value) {
  if (std::in_range<std::int32_t>(value)) return static_cast<std::int32_t>(value);
  return static_cast<double>(value);
}

std::shared_ptr<optima::IDispatchObject> ObjectResult(ComPtr<IDispatch> dispatch) {
  if (!dispatch) throw EOleException(kNoObject);
  return std::make_shared<ComDispatchObject>(std::move(dispatch));
}

class ComHandle : public optima::IHandle {
 public:
  explicit ComHandle(ComPtr<IUnknown> held) : held_(std::move(held)) {}

 private:
  ComPtr<IUnknown> held_;
};

class ComSession : public optima::ISession {
 public:
  explicit ComSession(ComPtr<IUnknown> session) : session_(std::move(session)) {}

  std::shared_ptr<optima::IDispatchObject> OpenObject(const std::string& progId,
                                                      const std::string& filter) override {
    Bstr id(Cp1250ToWide(progId));
    VariantOwner filterArg;
    ToVariant(filter, filterArg.get());
    ComPtr<IDispatch> object;
    Check(CallEntry(session_.get(), entry::kSessionOpenObject, id.get(), filterArg.get(), object.Out()));
    return ObjectResult(std::move(object));
  }

  void Save() override { Check(CallEntry(session_.get(), entry::kSessionSave)); }

 private:
  ComPtr<IUnknown> session_;
};

class ComLogin : public optima::ILogin {
 public:
  explicit ComLogin(ComPtr<IUnknown> login) : login_(std::move(login)) {}

  IUnknown* object() const { return login_.get(); }

  std::unique_ptr<optima::ISession> Session() override {
    ComPtr<IUnknown> session;
    Check(CallEntry(login_.get(), entry::kLoginSession, session.Out()));
    if (!session) throw EOleException(kNoObject);
    return std::make_unique<ComSession>(std::move(session));
  }

 private:
  ComPtr<IUnknown> login_;
};

class ComApplication : public optima::IApplication {
 public:
  explicit ComApplication(ComPtr<IUnknown> application) : application_(std::move(application)) {}

  std::unique_ptr<optima::IHandle> Open(std::int32_t a, std::int32_t b) override {
    ComPtr<IUnknown> result;
    Check(CallEntry(application_.get(), entry::kApplicationOpen, static_cast<LONG>(a),
                    static_cast<LONG>(b), NullVariant(), NullVariant(), NullVariant(), NullVariant(),
                    result.Out()));
    return std::make_unique<ComHandle>(std::move(result));
  }

  std::unique_ptr<optima::ILogin> Login(const std::string& login, const std::string& password,
                                        const std::string& server,
                                        const optima::LoginFlags& flags) override {
    constexpr std::size_t kCount = 3 + std::tuple_size_v<optima::LoginFlags>;
    VariantOwner texts[3];
    ToVariant(login, texts[0].get());
    ToVariant(password, texts[1].get());
    ToVariant(server, texts[2].get());
    VARIANT args[kCount];
    for (std::size_t i = 0; i < 3; ++i) args[i] = texts[i].get();
    for (std::size_t i = 0; i < flags.size(); ++i) args[3 + i] = IntVariant(flags[i]);
    ComPtr<IUnknown> result;
    Check(CallWithVariants(application_.get(), entry::kApplicationLogin, args, result.Out(),
                           std::make_index_sequence<kCount>{}));
    if (!result) throw EOleException(kNoObject);
    return std::make_unique<ComLogin>(std::move(result));
  }

  void Close() override { Check(CallEntry(application_.get(), entry::kApplicationClose)); }

 private:
  ComPtr<IUnknown> application_;
};

class ComImport : public optima::IImport {
 public:
  explicit ComImport(ComPtr<IUnknown> import) : import_(std::move(import)) {}

  void Login(optima::ILogin& login) override {
    auto* com = dynamic_cast<ComLogin*>(&login);
    if (com == nullptr) throw EOleException(kNoObject);
    Check(CallEntry(import_.get(), entry::kImportLogin, com->object()));
  }

  void ImportFromFile(const std::string& path, std::int32_t flag) override {
    Bstr file(Cp1250ToWide(path));
    Check(CallEntry(import_.get(), entry::kImportFromFile, file.get(), static_cast<LONG>(flag)));
  }

 private:
  ComPtr<IUnknown> import_;
};

ComPtr<IUnknown> Create(const CLSID& clsid, const IID& iid) {
  ComPtr<IUnknown> object;
  SetErrorInfo(0, nullptr);
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, iid,
                         reinterpret_cast<void**>(object.Out())));
  if (!object) throw EOleException(kNoObject);
  return object;
}

class ComAutomation : public optima::IAutomation {
 public:
  std::unique_ptr<optima::IApplication> CreateApplication() override {
    return std::make_unique<ComApplication>(Create(kClsidCoApplication, kIidApplication));
  }
  std::unique_ptr<optima::IImport> CreateImport() override {
    return std::make_unique<ComImport>(Create(kClsidCoDokumentHaMagXml, kIidDokumentHaMagXml));
  }
};

}  // namespace

std::unique_ptr<optima::IAutomation> CreateOptimaAutomation() {
  return std::make_unique<ComAutomation>();
}

std::shared_ptr<optima::IDispatchObject> WrapDispatch(IDispatch* dispatch) {
  return ObjectResult(ComPtr<IDispatch>::AddRefTo(dispatch));
}

void RaiseOleError(HRESULT hr) {
  std::string text;
  IErrorInfo* raw = nullptr;
  if (GetErrorInfo(0, &raw) == S_OK && raw != nullptr) {
    ComPtr<IErrorInfo> info(raw);
    Bstr description;
    if (SUCCEEDED(info->GetDescription(description.Out()))) text = WideToCp1250(description.view());
  }
  if (text.empty()) text = HresultText(hr);
  throw EOleException(text);
}

void ToVariant(const optima::Variant& value, VARIANT& out) {
  VariantClear(&out);
  struct Visitor {
    VARIANT& v;
    void operator()(std::monostate) const { v.vt = VT_EMPTY; }
    void operator()(optima::Null) const { v.vt = VT_NULL; }
    void operator()(optima::Missing) const {
      v.vt = VT_ERROR;
      v.scode = DISP_E_PARAMNOTFOUND;
    }
    void operator()(std::int32_t i) const {
      v.vt = VT_I4;
      v.lVal = i;
    }
    void operator()(double d) const {
      v.vt = VT_R8;
      v.dblVal = d;
    }
    void operator()(const std::string& s) const {
      const std::wstring wide = Cp1250ToWide(s);
      BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
      if (b == nullptr) throw EOleException(HresultText(E_OUTOFMEMORY));
      v.vt = VT_BSTR;
      v.bstrVal = b;
    }
    void operator()(const std::shared_ptr<optima::IDispatchObject>& object) const {
      IDispatch* dispatch = nullptr;
      if (object) {
        auto* com = dynamic_cast<ComDispatchObject*>(object.get());
        if (com == nullptr) throw EOleException(HresultText(DISP_E_TYPEMISMATCH));
        dispatch = com->dispatch();
        if (dispatch != nullptr) dispatch->AddRef();
      }
      v.vt = VT_DISPATCH;
      v.pdispVal = dispatch;
    }
  };
  std::visit(Visitor{out}, value);
}

optima::Variant FromVariant(const VARIANT& value) {
  // The system's conversions take the source as non-const; they do not change it.
  VARIANT* source = const_cast<VARIANT*>(&value);
  if ((value.vt & VT_BYREF) != 0) {
    VariantOwner direct;
    CheckConversion(VariantCopyInd(&direct.get(), source));
    return FromVariant(direct.get());
  }
  switch (value.vt) {
    case VT_EMPTY:
      return std::monostate{};
    case VT_NULL:
      return optima::Null{};
    case VT_ERROR:
      if (value.scode == DISP_E_PARAMNOTFOUND) return optima::Missing{};
      return static_cast<std::int32_t>(value.scode);
    case VT_I4:
      return static_cast<std::int32_t>(value.lVal);
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_INT:
    case VT_BOOL: {
      VariantOwner converted;
      CheckConversion(VariantChangeType(&converted.get(), source, 0, VT_I4));
      return static_cast<std::int32_t>(converted.get().lVal);
    }
    // Wider whole numbers stay exact as a double when they leave the 32-bit range.
    case VT_UI4:
      return WholeNumber(value.ulVal);
    case VT_UINT:
      return WholeNumber(value.uintVal);
    case VT_I8:
      return WholeNumber(value.llVal);
    case VT_UI8:
      return WholeNumber(value.ullVal);
    case VT_R8:
      return value.dblVal;
    case VT_R4:
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL: {
      VariantOwner converted;
      CheckConversion(VariantChangeType(&converted.get(), source, 0, VT_R8));
      return converted.get().dblVal;
    }
    case VT_BSTR:
      return WideToCp1250(std::wstring_view(value.bstrVal == nullptr ? L"" : value.bstrVal,
                                            SysStringLen(value.bstrVal)));
    case VT_DISPATCH:
      if (value.pdispVal == nullptr) return std::shared_ptr<optima::IDispatchObject>();
      return WrapDispatch(value.pdispVal);
    case VT_UNKNOWN: {
      if (value.punkVal == nullptr) return std::shared_ptr<optima::IDispatchObject>();
      ComPtr<IDispatch> dispatch;
      CheckConversion(value.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Out())));
      return ObjectResult(std::move(dispatch));
    }
    default:
      throw EOleException(HresultText(DISP_E_BADVARTYPE));
  }
}

}  // namespace trelvex::win32
