#include "support/fake_optima.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <type_traits>

#include "common/encoding.h"
#include "common/error.h"

namespace trelvex::test {

using optima::IDispatchObject;
using optima::Variant;

struct FakeOptima::Pending {
  std::string kind;  // "customer" or "product"
  std::map<std::string, std::string> props;
};

namespace {

std::string VariantText(const Variant& v) {
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "";
        } else if constexpr (std::is_same_v<T, optima::Null>) {
          return "Null";
        } else if constexpr (std::is_same_v<T, optima::Missing>) {
          return "Missing";
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
          return std::to_string(x);
        } else if constexpr (std::is_same_v<T, double>) {
          return std::to_string(x);
        } else if constexpr (std::is_same_v<T, std::string>) {
          return x;
        } else {
          return "<object>";
        }
      },
      v);
}

class FakeObject : public IDispatchObject {
 public:
  FakeObject(FakeOptima& erp, std::string name,
             std::shared_ptr<FakeOptima::Pending> record = nullptr, std::int32_t gid = 0)
      : erp_(erp), name_(std::move(name)), record_(std::move(record)), gid_(gid) {}

  Variant Call(const std::string& member, const std::vector<Variant>& args) override {
    std::string argText;
    for (const Variant& a : args) argText += (argText.empty() ? "" : ",") + VariantText(a);
    erp_.Record(name_ + "." + member + "(" + argText + ")", name_ + "." + member);
    if (member == "AddNew" && (name_ == "customers" || name_ == "products")) {
      auto record = std::make_shared<FakeOptima::Pending>();
      record->kind = name_ == "customers" ? "customer" : "product";
      erp_.pending.push_back(record);
      return std::shared_ptr<IDispatchObject>(std::make_shared<FakeObject>(erp_, record->kind, record));
    }
    if (member == "Adres" && name_ == "customer") {
      return std::shared_ptr<IDispatchObject>(std::make_shared<FakeObject>(erp_, "address", record_));
    }
    if (member == "GIDNumer" && name_ == "group") return gid_;
    throw EOleException("Nieznana metoda " + member);
  }

  void Put(const std::string& member, const Variant& value) override {
    erp_.Record(name_ + "." + member + "=" + VariantText(value), name_ + "." + member);
    if (record_) record_->props[member] = VariantText(value);
  }

 private:
  FakeOptima& erp_;
  std::string name_;
  std::shared_ptr<FakeOptima::Pending> record_;
  std::int32_t gid_;
};

// The value of a filter column='value' with doubled quotes inside; raises as
// the ERP does on a filter it cannot read.
std::string FilterValue(const std::string& filter) {
  const std::size_t open = filter.find("='");
  if (open == std::string::npos || filter.size() < open + 3 || filter.back() != '\'') {
    throw EOleException("B\xB3\xEA" "dny filtr: " + filter);
  }
  std::string value;
  for (std::size_t i = open + 2; i + 1 < filter.size(); ++i) {
    if (filter[i] == '\'') {
      if (i + 2 < filter.size() && filter[i + 1] == '\'') {
        value += '\'';
        ++i;
        continue;
      }
      throw EOleException("B\xB3\xEA" "dny filtr: " + filter);
    }
    value += filter[i];
  }
  return value;
}

class FakeSession : public optima::ISession {
 public:
  explicit FakeSession(FakeOptima& erp) : erp_(erp) {}
  ~FakeSession() override { erp_.calls.push_back("~Session"); }

  std::shared_ptr<IDispatchObject> OpenObject(const std::string& progId,
                                              const std::string& filter) override {
    erp_.Record("OpenObject " + progId + " " + filter, filter.empty() ? "OpenObject " + progId : "");
    std::string kind = progId == "CDN.Kontrahenci" ? "customer"
                       : progId == "CDN.Towary"    ? "product"
                       : progId == "CDN.TwrGrupy"  ? "group"
                                                   : "";
    if (kind.empty()) throw EOleException("Nieznany obiekt " + progId);
    if (filter.empty()) return std::make_shared<FakeObject>(erp_, kind + "s");
    const std::string code = FilterValue(filter);
    if (kind == "customer" && erp_.customers.count(code)) return std::make_shared<FakeObject>(erp_, kind);
    if (kind == "product" && erp_.products.count(code)) return std::make_shared<FakeObject>(erp_, kind);
    if (auto g = erp_.groups.find(code); kind == "group" && g != erp_.groups.end()) {
      return std::make_shared<FakeObject>(erp_, kind, nullptr, g->second);
    }
    throw EOleException("Nie znaleziono rekordu: " + filter);
  }

  void Save() override {
    erp_.Record("Save", "Save");
    for (const auto& record : erp_.pending) {
      if (record->kind == "customer") {
        erp_.customers.insert(record->props["Akronim"]);
        erp_.savedCustomers[record->props["Akronim"]] = record->props;
      } else {
        erp_.products.insert(record->props["Kod"]);
        erp_.savedProducts[record->props["Kod"]] = record->props;
      }
    }
    erp_.pending.clear();
  }

 private:
  FakeOptima& erp_;
};

class FakeLogin : public optima::ILogin {
 public:
  explicit FakeLogin(FakeOptima& erp) : erp_(erp) {}
  ~FakeLogin() override { erp_.calls.push_back("~Login"); }
  std::unique_ptr<optima::ISession> Session() override {
    erp_.Record("Session", "Session");
    return std::make_unique<FakeSession>(erp_);
  }

 private:
  FakeOptima& erp_;
};

class FakeHandle : public optima::IHandle {
 public:
  explicit FakeHandle(FakeOptima& erp) : erp_(erp) {}
  ~FakeHandle() override { erp_.calls.push_back("~Handle"); }

 private:
  FakeOptima& erp_;
};

class FakeApplication : public optima::IApplication {
 public:
  explicit FakeApplication(FakeOptima& erp) : erp_(erp) {}
  ~FakeApplication() override { erp_.calls.push_back("~Application"); }

  std::unique_ptr<optima::IHandle> Open(std::int32_t a, std::int32_t b) override {
    erp_.Record("Open " + std::to_string(a) + " " + std::to_string(b), "Open");
    return std::make_unique<FakeHandle>(erp_);
  }
  std::unique_ptr<optima::ILogin> Login(const std::string& login, const std::string& password,
                                        const std::string& server,
                                        const optima::LoginFlags& flags) override {
    std::string f;
    for (std::int32_t v : flags) f += (f.empty() ? "" : ",") + std::to_string(v);
    erp_.Record("Login " + login + " " + password + " " + server + " " + f, "Login");
    return std::make_unique<FakeLogin>(erp_);
  }
  void Close() override { erp_.Record("Close", "Close"); }

 private:
  FakeOptima& erp_;
};

class FakeImport : public optima::IImport {
 public:
  explicit FakeImport(FakeOptima& erp) : erp_(erp) {}
  ~FakeImport() override { erp_.calls.push_back("~Import"); }

  void Login(optima::ILogin& login) override {
    erp_.Record("Import.Login", "Import.Login");
    if (dynamic_cast<FakeLogin*>(&login) == nullptr) throw EOleException("Obcy obiekt logowania");
  }
  void ImportFromFile(const std::string& path, std::int32_t flag) override {
    erp_.Record("Import.ImportFromFile " + path + " " + std::to_string(flag), "Import.ImportFromFile");
    std::ifstream in(PathFromText(path), std::ios::binary);
    if (!in) throw EOleException("Brak pliku " + path);
    erp_.imported[path] =
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  FakeOptima& erp_;
};

}  // namespace

FakeOptima::FakeOptima() = default;
FakeOptima::~FakeOptima() = default;

void FakeOptima::Fail(const std::string& name) const {
  if (name.empty()) return;
  if (auto it = failures.find(name); it != failures.end()) throw EOleException(it->second);
}

void FakeOptima::Record(const std::string& call, const std::string& name) {
  calls.push_back(call);
  Fail(name);
}

std::unique_ptr<optima::IApplication> FakeOptima::CreateApplication() {
  Record("CreateApplication", "CreateApplication");
  applicationDir = TextFromPath(std::filesystem::current_path());
  return std::make_unique<FakeApplication>(*this);
}

std::unique_ptr<optima::IImport> FakeOptima::CreateImport() {
  Record("CreateImport", "CreateImport");
  return std::make_unique<FakeImport>(*this);
}

std::vector<std::string> FakeOptima::CallsStartingWith(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& c : calls) {
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  }
  return out;
}

int FakeOptima::IndexOf(const std::string& call) const {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i] == call) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace trelvex::test
