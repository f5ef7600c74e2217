#pragma once
// The whole worker on a real retail database: a fresh database with
// dictionaries, two customers and three products, one export configuration,
// the ERP stand-in's folder and the folder for the XML files, and a way to run
// the worker program on them with a recording test host.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "support/test_db.h"
#include "support/worker_process.h"

namespace trelvex::test {

class WorkerWorld {
 public:
  static constexpr std::int32_t kKonfId = 1;
  // The operator who queues the requests: Piotr Wiśniewski.
  static constexpr std::int32_t kOperatorId = 7;
  // Customers: 1 KOWALSKI (unknown to the ERP at first), 2 BAŁTYK (known).
  // Products: 1 PL100 (exported under the generic code PL, known to the
  // ERP), 2 KAB-2M and 3 WTYK-F (group KABLE, unknown to the ERP).

  WorkerWorld();
  ~WorkerWorld();
  WorkerWorld(const WorkerWorld&) = delete;
  WorkerWorld& operator=(const WorkerWorld&) = delete;

  TestDb& Db() { return db_; }
  const std::filesystem::path& XmlDir() const { return xmlDir_; }
  const std::filesystem::path& ErpDir() const { return erpDir_; }

  // The configuration kKonfId: KATALOG and SCIEZKA are the world's folders,
  // the ERP login is ADMIN / tajne / SERWER\OPTIMA; `dodatkowe` is SQL text
  // (an expression), `waznosc` the validity in days as SQL text.
  void AddKonf(std::int32_t opcje, const std::string& dodatkowe = "NULL", const std::string& waznosc = "2");

  // An order of `customer` with one line per product id (quantity 2, price
  // 10.00, no discount, VAT 23%, unit szt.); its ILOSCPOZYCJI is the number of
  // lines. `dataAkceptacji` is SQL text.
  void AddOrder(std::int32_t id, const std::string& numerstr, std::int32_t customer, std::int32_t status,
                std::int32_t stan, const std::vector<std::int32_t>& products,
                const std::string& dataAkceptacji = "NULL");

  // A queued request of the configuration, made `ageDays` ago (to the whole
  // second, never at midnight), with one item per order id (item ids
  // id*10+1, id*10+2, ...); `declared` is its ILOSCPOZYCJI (default: the
  // number of items). Returns DATA as the worker's summaries show it,
  // "dd.mm.yyyy hh:nn:ss".
  std::string AddRequest(std::int32_t id, double ageDays, const std::vector<std::int32_t>& orders,
                         std::optional<std::int32_t> declared = std::nullopt);

  // Writes the ERP stand-in's state file (UTF-8 JSON); the default state
  // knows operator ADMIN, customer BAŁTYK, product PL and group KABLE
  // (GIDNumer 7). `fail` is a JSON object text for the "fail" key.
  void WriteErpState(const std::string& fail = "{}");
  static std::string DefaultErpState(const std::string& fail = "{}");

  // Runs the worker on the world's database with -DBPATH, -DBFILE, -ID and,
  // when the options have a host socket, -HANDLE; the fixture's connection
  // is closed for the run and opened again afterwards.
  WorkerResult Run(WorkerOptions options = {});

  // A file of the ERP folder or the XML folder, read whole ("" if missing).
  std::string ErpFile(const std::string& name) const;
  std::string XmlFile(std::int32_t orderId) const;

 private:
  void AddDictionaries();

  TestDb db_;
  std::filesystem::path root_, xmlDir_, erpDir_;
};

// A host record as it should arrive; the text in Windows-1250.
struct ExpectedNotice {
  std::int32_t code = 0;
  std::int32_t value = 0;
  std::string text;
};
// Byte for byte: code, value, text length, text bytes, and zeros after the
// text, record by record and their number.
void ExpectNotices(const std::vector<HostNotice>& records, const std::vector<ExpectedNotice>& expected);
// The worker's log line for a record without its time stamp, e.g.
// LOG(0, "Koniec pracy") (Windows-1250).
std::string MirrorLine(const HostNotice& record);
// The text of a log line after its time stamp; an empty line stays empty.
std::string StampedText(const std::string& line);

// The file's bytes ("" when it cannot be read).
std::string ReadWholeFile(const std::filesystem::path& file);
// Text split at CR LF (a lone LF also ends a line).
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace trelvex::test
