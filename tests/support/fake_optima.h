#pragma once
// A recording stand-in of the ERP's automation interface for tests: every
// call is written to `calls` in order, chosen calls fail with a given text,
// and the ERP's customers, products and product groups are kept in memory.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "export/optima.h"

namespace trelvex::test {

class FakeOptima : public optima::IAutomation {
 public:
  FakeOptima();
  ~FakeOptima() override;

  std::unique_ptr<optima::IApplication> CreateApplication() override;
  std::unique_ptr<optima::IImport> CreateImport() override;

  // Every call and release in order, for example:
  //   "CreateApplication", "Open 513 10000", "Login OP pass SRV 0,0,0,0,0,1,...",
  //   "Session", "OpenObject CDN.Kontrahenci Knt_Kod='ABC'", "customers.AddNew(Missing)",
  //   "customer.Akronim=ABC", "customer.Adres()", "address.Miasto=Kielce", "Save",
  //   "CreateImport", "Import.Login", "Import.ImportFromFile /out/1.xml 0", "Close",
  //   "~Session", "~Login", "~Application", "~Handle", "~Import".
  std::vector<std::string> calls;

  // Calls that fail, by name, with the ERP's error text. Names: CreateApplication,
  // Open, Login, Session, Save, CreateImport, Import.Login, Import.ImportFromFile,
  // Close, "OpenObject <ProgID>" (the collection, empty filter), and
  // "<object>.<member>" for business objects (customers.AddNew, customer.Nazwa2,
  // customer.Adres, address.Kraj, products.AddNew, product.Stawka, group.GIDNumer ...).
  std::map<std::string, std::string> failures;

  // Records the ERP holds, by code; a group's value is its GID number.
  std::set<std::string> customers;
  std::set<std::string> products;
  std::map<std::string, std::int32_t> groups;

  // Properties of the records added and saved, by code (address members are
  // kept under their own names).
  std::map<std::string, std::map<std::string, std::string>> savedCustomers;
  std::map<std::string, std::map<std::string, std::string>> savedProducts;

  // Current directory when the application was created; bytes of each
  // imported file, by path.
  std::string applicationDir;
  std::map<std::string, std::string> imported;

  // The calls whose text begins with `prefix`.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
  // Index of the first call equal to `call`, or -1.
  int IndexOf(const std::string& call) const;

  // Internal: records `call` and throws when `name` is set to fail.
  void Record(const std::string& call, const std::string& name);
  void Fail(const std::string& name) const;

  struct Pending;
  std::vector<std::shared_ptr<Pending>> pending;  // added, not yet saved
};

}  // namespace trelvex::test
