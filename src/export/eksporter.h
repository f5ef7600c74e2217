#pragma once
// The order exporter of one queued request: the order data module with its
// three statements and their transaction, the export of the request's items
// and the export of one order to the ERP.
#include <cstdint>
#include <memory>
#include <string>

#include "db/database.h"
#include "export/optima.h"
#include "session/dm.h"

namespace trelvex {

// The retail system's number of its order table: the lock object type and the
// message table of an order.
inline constexpr std::int32_t kOrderTable = 52;

class TdmEksporter : public IRequestExporter {
 public:
  TdmEksporter(TDM& dm, optima::IAutomation& automation);
  ~TdmEksporter() override;

  // Exports the queued items of request `requestId`; 1 exported, 2 with
  // warnings, 3 with errors. `summary` and `log` are cleared on entry.
  std::int32_t PEH(std::int32_t requestId, std::string& summary, std::string& log) override;

  // Exports order `orderId` while ZamHeadQ stands on its item's row; returns
  // 2, 3, 5, 6, 7 or 8 with the item's message. `documentNumber` stays empty.
  std::int32_t EZ(std::int32_t orderId, std::string& message, std::string& documentNumber);

  db::Transaction ZamT;
  db::Query ZamHeadQ;        // parameter IDEKSPHEAD
  db::Query ZamDetailQ;      // parameter IDHEAD
  db::Query ZamHeadUpdateQ;  // parameters STATUS, STAN, DATAAKCEPTACJI, ID

 private:
  struct OrderExport;
  void ExportInOptima(std::int32_t orderId, OrderExport& ox, std::string& message);
  void UpdateOrderHeader(std::int32_t orderId, std::int32_t& step);

  TDM& dm_;
  optima::IAutomation& automation_;
};

// A fresh exporter for one request of the session `dm`, driving the ERP
// through `automation`.
std::unique_ptr<IRequestExporter> CreateRequestExporter(TDM& dm, optima::IAutomation& automation);

// Statement texts of the order data module.
extern const char* const kZamHeadSql;
extern const char* const kZamDetailSql;
extern const char* const kZamHeadUpdateSql;

// Appends one line to a request's item log that is already trimmed: the
// result equals trimming (log + CR LF + line), at a cost that grows with the
// line, not with the log.
void AppendLogLine(std::string& log, std::string_view line);

}  // namespace trelvex
