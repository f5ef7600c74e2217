#include "export/rejestracja.h"

#include <exception>

#include "common/error.h"
#include "common/text.h"

namespace trelvex {

namespace {

using optima::IDispatchObject;
using optima::Variant;

const std::string kCustomers = "CDN.Kontrahenci";
const std::string kProducts = "CDN.Towary";
const std::string kProductGroups = "CDN.TwrGrupy";

std::shared_ptr<IDispatchObject> ObjectOf(const Variant& v, std::string_view member) {
  if (const auto* p = std::get_if<std::shared_ptr<IDispatchObject>>(&v); p != nullptr && *p) {
    return *p;
  }
  throw EOleException(std::string(member) + ": brak obiektu");
}

// The collection (empty filter) or the record matching `filter`; raises when
// there is none.
std::shared_ptr<IDispatchObject> Open(optima::ISession& session, const std::string& progId,
                                      const std::string& filter) {
  auto object = session.OpenObject(progId, filter);
  if (!object) throw EOleException(progId + ": brak obiektu");
  return object;
}

std::shared_ptr<IDispatchObject> AddNew(IDispatchObject& collection) {
  return ObjectOf(collection.Call("AddNew", {optima::Missing{}}), "AddNew");
}

// The record matching `filter`, or nullptr when the look-up fails: a failed
// look-up means the record is missing, and its error is not reported.
std::shared_ptr<IDispatchObject> LookUp(optima::ISession& session, const std::string& progId,
                                        const std::string& filter) {
  try {
    return session.OpenObject(progId, filter);
  } catch (const std::exception&) {
    return nullptr;
  }
}

std::string Text(const db::Query& q, std::string_view name) { return q.FieldByName(name).AsString(); }

}  // namespace

std::string OptimaFilter(std::string_view column, std::string_view value) {
  std::string filter(column);
  filter += "='";
  for (char c : value) {
    if (c == '\'') filter += '\'';
    filter += c;
  }
  filter += '\'';
  return filter;
}

std::string NumberedProductCode(const std::string& numerStr, std::int32_t lp) {
  return numerStr + "/" + std::to_string(lp);
}

void RegisterCustomer(optima::ISession& session, const db::Query& head,
                      RegistrationObjects& o, std::int32_t& step) {
  const std::string code = Text(head, "SKROTNAZWY");
  if (auto found = LookUp(session, kCustomers, OptimaFilter("Knt_Kod", code))) {
    o.customer = std::move(found);
    step = 20;
    return;
  }

  o.customers = Open(session, kCustomers, "");
  step = 21;
  o.customer = AddNew(*o.customers);
  step = 22;
  o.customer->Put("Akronim", code);
  step = 23;
  std::string name = Text(head, "PELNANAZWA");
  step = 24;
  o.customer->Put("Nazwa1", CutLine(name, 50, " "));
  step = 25;
  o.customer->Put("Nazwa2", CutLine(name, 50, " "));
  step = 26;
  o.customer->Put("Nazwa3", CutLine(name, 250, " "));
  step = 27;
  o.customer->Put("NIP", Text(head, "NIP"));
  step = 28;

  // The address object is fetched afresh before every member.
  struct AddressPut {
    const char* member;
    const char* column;
  };
  static constexpr AddressPut kAddress[] = {
      {"Miasto", "KONTRAHENT_MIASTO"}, {"Ulica", "ADRES"},
      {"NrDomu", "ADRESDOM"},          {"NrLokalu", "ADRESMIESZKANIE"},
      {"KodPocztowyZKreska", "KODPOCZTOWY"}, {"Kraj", "KONTRAHENT_KRAJ"},
  };
  std::int32_t next = 29;
  for (const AddressPut& a : kAddress) {
    ObjectOf(o.customer->Call("Adres"), "Adres")->Put(a.member, Text(head, a.column));
    step = next++;  // 29 to 34
  }

  o.customer->Put("Grupa", Text(head, "TYPKONTRAHENTA"));
  step = 35;
  session.Save();
  step = 36;
}

void RegisterProducts(optima::ISession& session, const db::Query& head, db::Query& lines,
                      LineCodeMap& lineCodes, RegistrationObjects& o, std::int32_t& step) {
  const std::string numerStr = Text(head, "NUMERSTR");
  lines.First();
  step = 40;
  for (; !lines.Eof(); lines.Next()) {
    if (auto found = LookUp(session, kProducts, OptimaFilter("Twr_Kod", Text(lines, "SKROTNAZWY")))) {
      o.product = std::move(found);
      step = 41;
      continue;
    }

    const std::int32_t lp = lines.FieldByName("LP").AsInteger();
    const std::string numbered = NumberedProductCode(numerStr, lp);
    if (auto found = LookUp(session, kProducts, OptimaFilter("Twr_Kod", numbered))) {
      o.product = std::move(found);
      step = 42;
    } else {
      o.products = Open(session, kProducts, "");
      step = 43;
      o.product = AddNew(*o.products);
      step = 44;
      IDispatchObject& p = *o.product;
      const std::int32_t vat = lines.FieldByName("VATPROC").AsInteger();
      p.Put("Kod", numbered);
      step = 45;
      p.Put("Nazwa", Text(lines, "NAZWA"));
      step = 46;
      p.Put("Opis", Text(lines, "MODYFIKATOR"));
      step = 47;
      p.Put("JM", Text(lines, "JEDNOSTKA"));
      step = 48;
      p.Put("Flaga", std::int32_t{2});
      step = 49;
      p.Put("Stawka", vat);
      step = 50;
      p.Put("FlagaZak", std::int32_t{2});
      step = 51;
      p.Put("StawkaZak", vat);
      step = 52;
      p.Put("KopiujOpis", std::int32_t{1});
      step = 53;
      p.Put("EdycjaNazwy", std::int32_t{1});
      step = 54;
      p.Put("EdycjaOpisu", std::int32_t{1});
      step = 55;

      // A group the ERP does not know leaves the product without a group.
      const std::string group = Text(lines, "GRUPATOWAROWA");
      if (!Trim(group).empty()) {
        try {
          o.group = Open(session, kProductGroups, OptimaFilter("TwG_Kod", group));
          step = 56;
          p.Put("TwGGIDNumer", o.group->Call("GIDNumer"));
          step = 57;
        } catch (const std::exception&) {
        }
      }
      session.Save();
      step = 58;
    }
    lineCodes[std::to_string(lp)] = numbered;
    step = 59;
  }
  step = 60;
}

}  // namespace trelvex
