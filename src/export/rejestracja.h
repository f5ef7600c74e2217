#pragma once
// Registration of an order's customer and products in the ERP before its
// document is imported: records missing in the ERP are added.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/database.h"
#include "export/dokument_xml.h"
#include "export/optima.h"

namespace trelvex {

// The ERP's business objects of one order's registration; released when the
// order's export ends.
struct RegistrationObjects {
  std::shared_ptr<optima::IDispatchObject> customer;
  std::shared_ptr<optima::IDispatchObject> customers;
  std::shared_ptr<optima::IDispatchObject> product;
  std::shared_ptr<optima::IDispatchObject> products;
  std::shared_ptr<optima::IDispatchObject> group;
};

// An ERP filter `column='value'`; quotes inside the value are doubled so
// that a code such as O'Brien matches exactly that record.
std::string OptimaFilter(std::string_view column, std::string_view value);

// The code under which a numbered product is kept: order number, "/", line.
std::string NumberedProductCode(const std::string& numerStr, std::int32_t lp);

// Adds the customer of the order header row `head` unless the ERP knows its
// code. `step` follows the actions done (20 when found, 21 to 36 when added).
void RegisterCustomer(optima::ISession& session, const db::Query& head,
                      RegistrationObjects& objects, std::int32_t& step);

// Looks up every line's product under its own code, then under its numbered
// code, and adds it under the numbered code when neither is known; lines
// known under the numbered code get an entry in `lineCodes`. `step` runs
// from 40 to 60.
void RegisterProducts(optima::ISession& session, const db::Query& head, db::Query& lines,
                      LineCodeMap& lineCodes, RegistrationObjects& objects, std::int32_t& step);

}  // namespace trelvex
