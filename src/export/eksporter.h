#pragma once
// The order exporter of one queued request.
#include <memory>

#include "export/optima.h"
#include "session/dm.h"

namespace trelvex {

// A fresh exporter for one request of the session `dm`, driving the ERP
// through `automation`.
std::unique_ptr<IRequestExporter> CreateRequestExporter(TDM& dm, optima::IAutomation& automation);

}  // namespace trelvex
