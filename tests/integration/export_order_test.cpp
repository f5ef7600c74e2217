// Export of one order: checks, lock, the ERP calls in order, the document
// file, the header update, and the step counter of every failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "common/encoding.h"
#include "export_fixture.h"

namespace trelvex {
namespace {

using test::W;

class ExportOrderTest : public test::ExportTest {
 protected:
  void SetUp() override {
    ExportTest::SetUp();
    db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
  }

  // ZAMHEAD's STATUS, STAN and DATAAKCEPTACJI as one comparable text.
  std::string HeaderState(int id = 1001) {
    const std::string where = " FROM ZAMHEAD WHERE ID = " + std::to_string(id);
    return std::to_string(db.Int("SELECT STATUS" + where)) + "/" +
           std::to_string(db.Int("SELECT STAN" + where)) + "/" +
           FormatLogStamp(db.Value("SELECT DATAAKCEPTACJI" + where, "DATAAKCEPTACJI").AsDateTime());
  }
  std::int64_t Locks() { return db.Count("SELECT IDBLOKADY FROM BLOKADY"); }
};

TEST_F(ExportOrderTest, OfferIsExportedAndAcceptedToday) {
  AddOrder(1001, {1, 4});
  std::string message;
  ASSERT_EQ(2, ExportFirst(1, message));
  EXPECT_EQ(W("Eksport zamówienia \"ZAM/1\" dla \"KOWAL\" do Optimy zakończono powodzeniem."), message);

  const std::string path = XmlPath(1001);
  const std::vector<std::string> expected = {
      "CreateApplication",
      "Open 513 10000",
      "Login OPERATOR tajne SRV 0,0,0,0,0,1,0,0,0,0,0,0,0,0,1,0,0,0",
      "Session",
      "CreateImport",
      "Import.Login",
      "Import.ImportFromFile " + path + " 0",
      "~Session",
      "~Login",
      "Close",
      "~Application",
      "~Import",
      "~Handle",
  };
  EXPECT_EQ(expected, erp.calls);
  EXPECT_EQ(TextFromPath(erpDir_), erp.applicationDir);

  // The file imported is the one left in the export directory.
  std::ifstream in(PathFromText(path), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, erp.imported[path]);
  EXPECT_NE(std::string::npos, bytes.find("<NUMER_PELNY>Z:ZAM/1</NUMER_PELNY>\r\n"));
  EXPECT_NE(std::string::npos, bytes.find("<KOD>PL</KOD>\r\n"));
  EXPECT_NE(std::string::npos, bytes.find("<DATA_DOKUMENTU>2024-01-15</DATA_DOKUMENTU>"));
  EXPECT_NE(std::string::npos, bytes.find("<TERMIN>2024-02-29</TERMIN>"));
  EXPECT_NE(std::string::npos, bytes.find("<RABAT>10.00</RABAT>"));

  EXPECT_EQ("1/1/" + FormatLogStamp(Today()), HeaderState());
  EXPECT_EQ(0, Locks());
}

TEST_F(ExportOrderTest, AcceptedOrderKeepsItsAcceptanceDate) {
  AddOrder(1001);
  db.Exec("UPDATE ZAMHEAD SET STATUS = 1 WHERE ID = 1001");
  const std::string before = HeaderState();
  std::string message;
  ASSERT_EQ(2, ExportFirst(1, message));
  EXPECT_EQ("1/1/" + before.substr(4), HeaderState());
  EXPECT_EQ("1/1/15.01.2024 10:00:00:000", HeaderState());

  // A null acceptance date is written as the zero date.
  db.AddRequest(2, 1, "CURRENT_TIMESTAMP", 1);
  db.Exec("UPDATE ZAMHEAD SET STATUS = 1, STAN = 0, DATAAKCEPTACJI = NULL WHERE ID = 1001");
  ASSERT_EQ(2, ExportFirst(2, message));
  EXPECT_EQ("1/1/30.12.1899 00:00:00:000", HeaderState());
}

TEST_F(ExportOrderTest, ChecksRefuseWithoutTouchingAnything) {
  struct Case {
    const char* update;  // applied to ZAMHEAD 1001
    int result;
    const char* utf8;
  } cases[] = {
      {"ARC = 1, USUNIETY = 1", 7,
       "Zamówienie ZAM/1 zostało przeniesione do archiwum. Eksport zamówienia anulowany."},
      {"USUNIETY = 1", 8, "Zamówienie ZAM/1 zostało usunięte. Eksport zamówienia anulowany."},
      {"ILOSCPOZYCJI = 2", 5,
       "Zamówienie ZAM/1 ma niezgodną ilość pozycji (2/3). Eksport zamówienia anulowany."},
      {"ILOSCPOZYCJI = NULL", 5,
       "Zamówienie ZAM/1 ma niezgodną ilość pozycji (/3). Eksport zamówienia anulowany."},
      {"STATUS = 2, STAN = 3", 5,
       "Zamówienie ZAM/1 zostało anulowane lub wstrzymane. Eksport zamówienia anulowany."},
      {"STATUS = 3", 5,
       "Zamówienie ZAM/1 zostało anulowane lub wstrzymane. Eksport zamówienia anulowany."},
      {"STAN = 1", 5,
       "Zamówienie ZAM/1 ma stan inny niż \"Przyjęte\". Eksport zamówienia anulowany."},
  };
  AddOrder(1001, {1, 2, 3});
  for (const Case& c : cases) {
    db.Exec("UPDATE ZAMHEAD SET ARC = 0, USUNIETY = 0, ILOSCPOZYCJI = 3, STATUS = 0, STAN = 0 "
            "WHERE ID = 1001");
    db.Exec(std::string("UPDATE ZAMHEAD SET ") + c.update + " WHERE ID = 1001");
    const std::string before = HeaderState();
    std::string message;
    EXPECT_EQ(c.result, ExportFirst(1, message)) << c.update;
    EXPECT_EQ(W(c.utf8), message) << c.update;
    EXPECT_EQ(before, HeaderState());
  }
  EXPECT_TRUE(erp.calls.empty());
  EXPECT_EQ(0, Locks());
  EXPECT_FALSE(std::filesystem::exists(PathFromText(XmlPath(1001))));
}

TEST_F(ExportOrderTest, OrderWithoutLinesHasNoSpecification) {
  AddOrder(1001, {});
  std::string message;
  EXPECT_EQ(5, ExportFirst(1, message));
  EXPECT_EQ(W("Zamówienie ZAM/1 nie posiada specyfikacji. Eksport zamówienia anulowany."), message);
}

TEST_F(ExportOrderTest, LockedOrderIsRefused) {
  AddOrder(1001);
  db.Exec("INSERT INTO BLOKADY (IDBLOKADY, TYPOBIEKTU, IDOBIEKTU, OPERATOR) VALUES (99, 52, 1001, 'ANNA')");
  std::string message;
  EXPECT_EQ(6, ExportFirst(1, message));
  EXPECT_EQ(W("Zamówienie ZAM/1 jest w trakcie edycji. Eksport zamówienia anulowany."), message);
  EXPECT_TRUE(erp.calls.empty());
  EXPECT_EQ(1, Locks());  // the other user's lock stays
  EXPECT_EQ("0/0/15.01.2024 10:00:00:000", HeaderState());
}

// Each failing ERP call, the step it reports and whether the ERP was closed.
TEST_F(ExportOrderTest, EveryFailureReportsItsStep) {
  struct Case {
    const char* failing;
    const char* options;  // DODATKOWE
    int step;
    bool closed;
  } cases[] = {
      {"CreateApplication", "", 4, false},
      {"Open", "", 5, false},
      {"Login", "", 6, true},
      {"Session", "", 7, true},
      {"OpenObject CDN.Kontrahenci", "DODAJ_KONTRAHENTA=1", 8, true},
      {"customers.AddNew", "DODAJ_KONTRAHENTA=1", 21, true},
      {"customer.Akronim", "DODAJ_KONTRAHENTA=1", 22, true},
      {"customer.Nazwa1", "DODAJ_KONTRAHENTA=1", 24, true},
      {"customer.Nazwa3", "DODAJ_KONTRAHENTA=1", 26, true},
      {"customer.NIP", "DODAJ_KONTRAHENTA=1", 27, true},
      {"customer.Adres", "DODAJ_KONTRAHENTA=1", 28, true},
      {"address.Miasto", "DODAJ_KONTRAHENTA=1", 28, true},
      {"address.Kraj", "DODAJ_KONTRAHENTA=1", 33, true},
      {"customer.Grupa", "DODAJ_KONTRAHENTA=1", 34, true},
      {"Save", "DODAJ_KONTRAHENTA=1", 35, true},
      {"OpenObject CDN.Towary", "DODAJ_TOWARY=1", 40, true},
      {"products.AddNew", "DODAJ_TOWARY=1", 43, true},
      {"product.Kod", "DODAJ_TOWARY=1", 44, true},
      {"product.Stawka", "DODAJ_TOWARY=1", 49, true},
      {"product.EdycjaOpisu", "DODAJ_TOWARY=1", 54, true},
      {"Save", "DODAJ_TOWARY=1", 57, true},
      {"CreateImport", "", 70, true},
      {"Import.Login", "", 71, true},
      {"Import.ImportFromFile", "", 72, true},
      {"Close", "", 73, true},
  };
  db.Exec("INSERT INTO TOWARY (ID, SKROTNAZWY, IDGRUPYTOWAROWEJ) VALUES (6, 'NOWY', 8)");
  erp.groups["Kable"] = 77;
  AddOrder(1001, {6});
  int request = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    if (request > 1) db.AddRequest(request, 1, "CURRENT_TIMESTAMP", 1);
    erp.calls.clear();
    erp.failures = {{c.failing, W("Błąd Optimy ") + c.failing}};
    dm->Konf.DODATKOWE = {c.options};
    std::string message;
    EXPECT_EQ(3, ExportFirst(request++, message));
    EXPECT_EQ("TdmEksporter.EZ (" + std::to_string(c.step) + ") " + W("Błąd Optimy ") + c.failing,
              message);
    EXPECT_EQ(c.closed, erp.IndexOf("Close") >= 0);
    EXPECT_EQ(c.step > 4, erp.IndexOf("~Application") >= 0);  // the application is released
    EXPECT_EQ(0, Locks());
    EXPECT_EQ("0/0/15.01.2024 10:00:00:000", HeaderState());
  }
}

TEST_F(ExportOrderTest, FileSystemFailuresReportTheirSteps) {
  AddOrder(1001);
  std::string message;
  dm->Konf.SCIEZKA = TextFromPath(root_ / "brak");
  EXPECT_EQ(3, ExportFirst(1, message));
  EXPECT_EQ(0u, message.rfind("TdmEksporter.EZ (3) ", 0)) << message;
  EXPECT_TRUE(erp.calls.empty());

  db.AddRequest(2, 1, "CURRENT_TIMESTAMP", 1);
  dm->Konf.SCIEZKA = TextFromPath(erpDir_);
  dm->Konf.KATALOG = TextFromPath(root_ / "brak");
  EXPECT_EQ(3, ExportFirst(2, message));
  EXPECT_EQ(0u, message.rfind("TdmEksporter.EZ (61) ", 0)) << message;
  EXPECT_GE(erp.IndexOf("Close"), 0);
  EXPECT_LT(erp.IndexOf("CreateImport"), 0);
  EXPECT_FALSE(std::filesystem::exists(root_ / "brak"));
  EXPECT_EQ(0, Locks());
  EXPECT_EQ("0/0/15.01.2024 10:00:00:000", HeaderState());
}

TEST_F(ExportOrderTest, CloseFailingDuringAFailureReplacesItsTextButKeepsItsStep) {
  AddOrder(1001);
  erp.failures = {{"Session", "sesja"}, {"Close", "zamkni\xEA" "cie"}};
  std::string message;
  EXPECT_EQ(3, ExportFirst(1, message));
  EXPECT_EQ("TdmEksporter.EZ (7) zamkni\xEA" "cie", message);
  EXPECT_GE(erp.IndexOf("~Application"), 0);
  EXPECT_EQ(0, Locks());
}

TEST_F(ExportOrderTest, HeaderUpdateBlockedByAnotherWriterFailsAtStep78) {
  AddOrder(1001);
  std::string message;
  {
    test::RowBlocker blocker(db.Path(), "UPDATE ZAMHEAD SET UWAGI = 'x' WHERE ID = 1001");
    EXPECT_EQ(3, ExportFirst(1, message));
  }
  EXPECT_EQ(0u, message.rfind("TdmEksporter.EZ (78) ", 0)) << message;
  EXPECT_FALSE(erp.imported.empty());  // the document reached the ERP
  EXPECT_EQ(0, Locks());
  EXPECT_EQ("0/0/15.01.2024 10:00:00:000", HeaderState());
}

TEST_F(ExportOrderTest, OnlyTheExactValueOneSwitchesRegistrationOn) {
  AddOrder(1001);
  int request = 1;
  for (const char* value : {"01", "1 ", "", "true"}) {
    if (request > 1) db.AddRequest(request, 1, "CURRENT_TIMESTAMP", 1);
    db.Exec("UPDATE ZAMHEAD SET STATUS = 0, STAN = 0 WHERE ID = 1001");
    dm->Konf.DODATKOWE = {std::string("DODAJ_KONTRAHENTA=") + value,
                          std::string("DODAJ_TOWARY=") + value};
    erp.calls.clear();
    std::string message;
    EXPECT_EQ(2, ExportFirst(request++, message)) << message;
    EXPECT_TRUE(erp.CallsStartingWith("OpenObject").empty()) << "[" << value << "]";
  }
}

}  // namespace
}  // namespace trelvex
