#include "platform/posix/optima_sim.h"

#include "common/error.h"

namespace trelvex::posix {

namespace {
// Placeholder until the stand-in exists.
class NoErp : public optima::IAutomation {
 public:
  std::unique_ptr<optima::IApplication> CreateApplication() override {
    throw EOleException("ERP not installed");
  }
  std::unique_ptr<optima::IImport> CreateImport() override {
    throw EOleException("ERP not installed");
  }
};
}  // namespace

std::unique_ptr<optima::IAutomation> CreateOptimaStandIn() { return std::make_unique<NoErp>(); }

}  // namespace trelvex::posix
