#pragma once
// The ERP's automation interface as the order export uses it. Each platform
// implements it: on Windows over COM, elsewhere with a stand-in. Texts are
// Windows-1250; every failing call raises EOleException with the ERP's text.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace trelvex::optima {

class IDispatchObject;

struct Null {};     // a variant holding Null
struct Missing {};  // an optional argument passed as missing
using Variant = std::variant<std::monostate, Null, Missing, std::int32_t, double, std::string,
                             std::shared_ptr<IDispatchObject>>;

// A business object driven late-bound, by member name.
class IDispatchObject {
 public:
  virtual ~IDispatchObject() = default;
  // Method call or property get.
  virtual Variant Call(const std::string& member, const std::vector<Variant>& args = {}) = 0;
  // Property put (by value).
  virtual void Put(const std::string& member, const Variant& value) = 0;
};

// Held without calls until the order is done (the result of application open).
class IHandle {
 public:
  virtual ~IHandle() = default;
};

class ISession {
 public:
  virtual ~ISession() = default;
  // The business object matching `filter`, or the collection for an empty
  // filter; raises when no record matches.
  virtual std::shared_ptr<IDispatchObject> OpenObject(const std::string& progId,
                                                      const std::string& filter) = 0;
  virtual void Save() = 0;
};

class ILogin {
 public:
  virtual ~ILogin() = default;
  virtual std::unique_ptr<ISession> Session() = 0;
};

using LoginFlags = std::array<std::int32_t, 18>;

class IApplication {
 public:
  virtual ~IApplication() = default;
  virtual std::unique_ptr<IHandle> Open(std::int32_t a, std::int32_t b) = 0;
  virtual std::unique_ptr<ILogin> Login(const std::string& login, const std::string& password,
                                        const std::string& server, const LoginFlags& flags) = 0;
  virtual void Close() = 0;
};

class IImport {
 public:
  virtual ~IImport() = default;
  virtual void Login(ILogin& login) = 0;
  virtual void ImportFromFile(const std::string& path, std::int32_t flag) = 0;
};

class IAutomation {
 public:
  virtual ~IAutomation() = default;
  virtual std::unique_ptr<IApplication> CreateApplication() = 0;
  virtual std::unique_ptr<IImport> CreateImport() = 0;
};

// The flags of the login call: all 0 but the 6th and the 15th.
inline LoginFlags DefaultLoginFlags() {
  LoginFlags f{};
  f[5] = 1;
  f[14] = 1;
  return f;
}

}  // namespace trelvex::optima
