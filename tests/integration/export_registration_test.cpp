// Registration of an order's customer and products in the ERP.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "export/rejestracja.h"
#include "export_fixture.h"

namespace trelvex {
namespace {

class ExportRegistrationTest : public test::ExportTest {
 protected:
  void SetUp() override {
    ExportTest::SetUp();
    db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
    application = erp.CreateApplication();
    login = application->Login("", "", "", optima::DefaultLoginFlags());
    session = login->Session();
    erp.calls.clear();
  }
  void TearDown() override {
    session.reset();
    login.reset();
    application.reset();
    dm->CommitTr(ex->ZamT);
    ExportTest::TearDown();
  }

  void OpenOrder(int orderId) {
    OpenItems(1);
    ex->ZamDetailQ.Close();
    ex->ZamDetailQ.SetInteger("IDHEAD", orderId);
    ex->ZamDetailQ.Open();
  }
  std::int32_t RegisterCustomer() {
    std::int32_t step = 8;
    trelvex::RegisterCustomer(*session, ex->ZamHeadQ, objects, step);
    return step;
  }
  std::int32_t RegisterProducts() {
    std::int32_t step = 8;
    trelvex::RegisterProducts(*session, ex->ZamHeadQ, ex->ZamDetailQ, codes, objects, step);
    return step;
  }

  std::unique_ptr<optima::IApplication> application;
  std::unique_ptr<optima::ILogin> login;
  std::unique_ptr<optima::ISession> session;
  RegistrationObjects objects;
  LineCodeMap codes;
};

TEST_F(ExportRegistrationTest, KnownCustomerIsLeftAlone) {
  erp.customers = {"KOWAL"};
  AddOrder(1001);
  OpenOrder(1001);
  EXPECT_EQ(20, RegisterCustomer());
  EXPECT_EQ(std::vector<std::string>{"OpenObject CDN.Kontrahenci Knt_Kod='KOWAL'"}, erp.calls);
}

TEST_F(ExportRegistrationTest, NewCustomerIsAddedMemberByMember) {
  AddOrder(1001);
  OpenOrder(1001);
  EXPECT_EQ(36, RegisterCustomer());
  const std::vector<std::string> expected = {
      "OpenObject CDN.Kontrahenci Knt_Kod='KOWAL'",
      "OpenObject CDN.Kontrahenci ",
      "customers.AddNew(Missing)",
      "customer.Akronim=KOWAL",
      // 81 characters over three lines: whole words under 50 each
      "customer.Nazwa1=Przedsiebiorstwo Handlowo Uslugowe Kowalski i",
      "customer.Nazwa2=Synowie Spolka Jawna Oddzial Kielce",
      "customer.Nazwa3=",
      "customer.NIP=123-456-78-90",
      "customer.Adres()",
      "address.Miasto=Kielce",
      "customer.Adres()",
      "address.Ulica=Sienkiewicza",
      "customer.Adres()",
      "address.NrDomu=5",
      "customer.Adres()",
      "address.NrLokalu=7",
      "customer.Adres()",
      "address.KodPocztowyZKreska=25-001",
      "customer.Adres()",
      "address.Kraj=Polska",
      "customer.Grupa=Detal",
      "Save",
  };
  EXPECT_EQ(expected, erp.calls);
  EXPECT_EQ(1u, erp.savedCustomers.count("KOWAL"));
}

TEST_F(ExportRegistrationTest, LongNameRunsIntoTheThirdLine) {
  db.Exec("UPDATE KONTRAHENT SET PELNANAZWA = '" + std::string(60, 'A') + " " +
          std::string(30, 'B') + " " + std::string(10, 'C') + " " + std::string(20, 'D') +
          "' WHERE ID = 1");
  AddOrder(1001);
  OpenOrder(1001);
  RegisterCustomer();
  const auto& c = erp.savedCustomers["KOWAL"];
  EXPECT_EQ(std::string(50, 'A'), c.at("Nazwa1"));  // a word longer than a line is cut hard
  EXPECT_EQ(std::string(10, 'A') + " " + std::string(30, 'B'), c.at("Nazwa2"));
  EXPECT_EQ(std::string(10, 'C') + " " + std::string(20, 'D'), c.at("Nazwa3"));
}

TEST_F(ExportRegistrationTest, CodesWithQuotesMatchExactlyThatRecord) {
  db.Exec("UPDATE KONTRAHENT SET SKROTNAZWY = 'O''Brien' WHERE ID = 1");
  db.Exec("UPDATE TOWARY SET SKROTNAZWY = 'D''Arc' WHERE ID = 4");
  erp.customers = {"O'Brien"};
  erp.products = {"D'Arc"};
  AddOrder(1001, {4}, "Z''1");  // SQL text of Z'1
  OpenOrder(1001);
  EXPECT_EQ(20, RegisterCustomer());
  EXPECT_EQ(60, RegisterProducts());
  const std::vector<std::string> expected = {
      "OpenObject CDN.Kontrahenci Knt_Kod='O''Brien'",
      "OpenObject CDN.Towary Twr_Kod='D''Arc'",
  };
  EXPECT_EQ(expected, erp.calls);
  EXPECT_TRUE(codes.empty());

  // A code that is not known is added once, under its numbered code.
  erp.products.clear();
  erp.calls.clear();
  EXPECT_EQ(60, RegisterProducts());
  EXPECT_EQ(1, erp.IndexOf("OpenObject CDN.Towary Twr_Kod='Z''1/1'"));
  EXPECT_EQ(1u, erp.savedProducts.count("Z'1/1"));
  EXPECT_EQ("Z'1/1", codes["1"]);
}

TEST_F(ExportRegistrationTest, ProductsFoundAddedAndMapped) {
  // PL100 is known under its folded code, XL-2 under its numbered code from
  // an earlier export; SPL9 (blank group) and ABC (group Kable) are added,
  // and so is ABC's second line under its own number.
  erp.products = {"PL", "ZAM/1/2"};
  erp.groups["Kable"] = 77;
  AddOrder(1001, {1, 2, 3, 4, 4});
  OpenOrder(1001);
  EXPECT_EQ(60, RegisterProducts());

  const LineCodeMap expectedCodes = {{"2", "ZAM/1/2"}, {"3", "ZAM/1/3"}, {"4", "ZAM/1/4"}, {"5", "ZAM/1/5"}};
  EXPECT_EQ(expectedCodes, codes);
  EXPECT_EQ(3u, erp.CallsStartingWith("Save").size());
  EXPECT_EQ(3u, erp.CallsStartingWith("products.AddNew").size());
  EXPECT_EQ(2u, erp.CallsStartingWith("OpenObject CDN.TwrGrupy").size());  // a blank group is not looked up

  const auto& spl = erp.savedProducts.at("ZAM/1/3");
  EXPECT_EQ(0u, spl.count("TwGGIDNumer"));
  const std::map<std::string, std::string> abc = {
      {"Kod", "ZAM/1/4"},  {"Nazwa", "Towar 4"},   {"Opis", "uwaga"},   {"JM", "szt."},
      {"Flaga", "2"},      {"Stawka", "23"},       {"FlagaZak", "2"},   {"StawkaZak", "23"},
      {"KopiujOpis", "1"}, {"EdycjaNazwy", "1"},   {"EdycjaOpisu", "1"}, {"TwGGIDNumer", "77"},
  };
  EXPECT_EQ(abc, erp.savedProducts.at("ZAM/1/4"));

  // The order of the puts of one added product.
  const std::vector<std::string> line4 = {
      "OpenObject CDN.Towary Twr_Kod='ABC'",
      "OpenObject CDN.Towary Twr_Kod='ZAM/1/4'",
      "OpenObject CDN.Towary ",
      "products.AddNew(Missing)",
      "product.Kod=ZAM/1/4",
      "product.Nazwa=Towar 4",
      "product.Opis=uwaga",
      "product.JM=szt.",
      "product.Flaga=2",
      "product.Stawka=23",
      "product.FlagaZak=2",
      "product.StawkaZak=23",
      "product.KopiujOpis=1",
      "product.EdycjaNazwy=1",
      "product.EdycjaOpisu=1",
      "OpenObject CDN.TwrGrupy TwG_Kod='Kable'",
      "group.GIDNumer()",
      "product.TwGGIDNumer=77",
      "Save",
  };
  const int first = erp.IndexOf(line4.front());
  ASSERT_GE(first, 0);
  EXPECT_EQ(line4, std::vector<std::string>(erp.calls.begin() + first,
                                            erp.calls.begin() + first + static_cast<int>(line4.size())));
}

TEST_F(ExportRegistrationTest, UnknownGroupIsSwallowed) {
  AddOrder(1001, {4});
  OpenOrder(1001);
  EXPECT_EQ(60, RegisterProducts());
  EXPECT_EQ(1, erp.IndexOf("Save") - erp.IndexOf("OpenObject CDN.TwrGrupy TwG_Kod='Kable'"));
  EXPECT_EQ(0u, erp.savedProducts.at("ZAM/1/1").count("TwGGIDNumer"));
}

TEST_F(ExportRegistrationTest, NoLinesCallNothing) {
  AddOrder(1001, {});
  OpenOrder(1001);
  EXPECT_EQ(60, RegisterProducts());
  EXPECT_TRUE(erp.calls.empty());
}

// Through the whole order export: the numbered code reaches the document.
TEST_F(ExportRegistrationTest, DocumentCarriesTheNumberedCodes) {
  erp.products = {"PL"};
  AddOrder(1001, {1, 4});
  dm->Konf.DODATKOWE = {"DODAJ_TOWARY=1"};
  std::string message;
  ASSERT_EQ(2, ExportFirst(1, message)) << message;
  const std::string& xml = erp.imported.at(XmlPath(1001));
  EXPECT_NE(std::string::npos, xml.find("<LP>1</LP>\r\n        <TOWAR>\r\n          <KOD>PL</KOD>"));
  EXPECT_NE(std::string::npos, xml.find("<LP>2</LP>\r\n        <TOWAR>\r\n          <KOD>ZAM/1/2</KOD>"));
}

}  // namespace
}  // namespace trelvex
