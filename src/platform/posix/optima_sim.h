#pragma once
// The ERP stand-in of the Linux build: the automation interface over state
// files in the ERP's directory (the current directory at "create application").
#include <memory>

#include "export/optima.h"

namespace trelvex::posix {

std::unique_ptr<optima::IAutomation> CreateOptimaStandIn();

}  // namespace trelvex::posix
