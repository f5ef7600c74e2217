#include "export/eksporter.h"

#include "common/error.h"

namespace trelvex {

namespace {
// Placeholder until the order export exists: every request fails honestly.
class NotAvailableExporter : public IRequestExporter {
 public:
  std::int32_t PEH(std::int32_t, std::string& summary, std::string& log) override {
    summary = "TdmEksporter.PEH Eksport zam\xF3wie\xF1 niedost\xEApny w tej wersji.";
    log.clear();
    return 3;
  }
};
}  // namespace

std::unique_ptr<IRequestExporter> CreateRequestExporter(TDM&, optima::IAutomation&) {
  return std::make_unique<NotAvailableExporter>();
}

}  // namespace trelvex
