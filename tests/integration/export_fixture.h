#pragma once
// Shared set-up of the order export tests: a retail database with one
// configuration, a customer, products and dictionaries, a connected session,
// the recording ERP, and temporary ERP and export directories.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/encoding.h"
#include "export/eksporter.h"
#include "session/dm.h"
#include "support/fake_optima.h"
#include "support/session_fixtures.h"

namespace trelvex::test {

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProcessState();
    savedDir_ = std::filesystem::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() /
            (std::string("trelvex-export-") + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(root_);
    erpDir_ = root_ / "erp";
    outDir_ = root_ / "out";
    std::filesystem::create_directories(erpDir_);
    std::filesystem::create_directories(outDir_);

    db.AddKonf(1, TextFromPath(outDir_));
    AddDictionaries();
    dm = std::make_unique<TDM>(log, host, [](TDM&) { return std::unique_ptr<IRequestExporter>(); });
    PrepareSession(*dm, db, 1);
    dm->Init();
    dm->Konf.SCIEZKA = TextFromPath(erpDir_);
    dm->Konf.KATALOG = TextFromPath(outDir_);
    dm->Konf.LOGIN = "OPERATOR";
    dm->Konf.HASLO = "tajne";
    dm->Konf.SERWER = "SRV";
    dm->Konf.OPCJE = 0;
    ex = std::make_unique<TdmEksporter>(*dm, erp);
  }

  void TearDown() override {
    ex.reset();
    dm.reset();
    std::filesystem::current_path(savedDir_);
    std::filesystem::remove_all(root_);
    ResetProcessState();
  }

  void AddDictionaries() {
    db.Exec("INSERT INTO OPERATOR (ID, IMIE, NAZWISKO) VALUES (7, 'Jan', 'Nowak')");
    const char* slownik[] = {
        "1, 'Kielce', NULL, NULL",      "2, 'Polska', NULL, NULL",
        "3, 'Magazyn', 'MAG1', NULL",   "4, 'Hurt', NULL, NULL",
        "5, 'Detal', NULL, NULL",       "6, '23%', NULL, 23",
        "7, 'szt.', NULL, NULL",        "8, 'Kable', NULL, NULL",
        "9, '   ', NULL, NULL",
    };
    for (const char* s : slownik) {
      db.Exec(std::string("INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (") + s + ")");
    }
    db.Exec(
        "INSERT INTO KONTRAHENT (ID, SKROTNAZWY, PROSTYNIP, PELNANAZWA, NIP, KODPOCZTOWY, ADRES, "
        "ADRESDOM, ADRESMIESZKANIE, IDMIASTO, IDKRAJ, IDTYPKONTRAHENTA) VALUES (1, 'KOWAL', "
        "'1234567890', 'Przedsiebiorstwo Handlowo Uslugowe Kowalski i Synowie Spolka Jawna "
        "Oddzial Kielce', '123-456-78-90', '25-001', 'Sienkiewicza', '5', '7', 1, 2, 5)");
    const char* towary[] = {"1, 'PL100', 8", "2, 'XL-2', NULL", "3, 'SPL9', 9", "4, 'ABC', 8"};
    for (const char* t : towary) {
      db.Exec(std::string("INSERT INTO TOWARY (ID, SKROTNAZWY, IDGRUPYTOWAROWEJ) VALUES (") + t + ")");
    }
  }

  // An order of the customer KOWAL, a received offer by default, with one
  // line per product id in `products` (quantity 2, price 10.00, 10% off, VAT 23).
  void AddOrder(int id, const std::vector<int>& products = {4}, const std::string& numer = "ZAM/1") {
    db.Exec("INSERT INTO ZAMHEAD (ID, NUMERSTR, STATUS, STAN, IDKONTRAHENTA, IDMAGAZYNU, IDKATEGORII, "
            "DATAPRZYJECIA, DATAAKCEPTACJI, IDFORMYPLATNOSCI, TERMINPLATNOSCI, NETTO, VAT, RABAT, "
            "ILOSCPOZYCJI, UWAGI) VALUES (" +
            std::to_string(id) + ", '" + numer +
            "', 0, 0, 1, 3, 4, '30.01.2024', '15.01.2024 10:00', 3, 30, 20, 4.6, -2, " +
            std::to_string(products.size()) + ", 'Pilne')");
    int lp = 1;
    for (int p : products) {
      db.Exec("INSERT INTO ZAMDETAIL (ID, IDHEAD, LP, IDTOWARU, NAZWA, ILOSC, CENANETTO, RABATPROC, "
              "IDVAT, IDJEDNOSTKI, MODYFIKATOR) VALUES (" +
              std::to_string(id * 10 + lp) + ", " + std::to_string(id) + ", " + std::to_string(lp) +
              ", " + std::to_string(p) + ", 'Towar " + std::to_string(p) +
              "', 2, 10, -0.1, 6, 7, 'uwaga')");
      ++lp;
    }
  }

  // Opens the item query of `requestId` in ZamT, as the request's walk does.
  void OpenItems(int requestId) {
    dm->StartTr(ex->ZamT);
    ex->ZamHeadQ.Close();
    ex->ZamHeadQ.SetInteger("IDEKSPHEAD", requestId);
    ex->ZamHeadQ.Open();
    ex->ZamHeadQ.First();
  }

  // Exports the order of the first item of request `requestId` and commits
  // ZamT as the end of the request does.
  int ExportFirst(int requestId, std::string& message) {
    OpenItems(requestId);
    std::string documentNumber = "x";
    const int result = ex->EZ(ex->ZamHeadQ.FieldByName("IDZAMHEAD").AsInteger(), message, documentNumber);
    EXPECT_EQ("", documentNumber);
    ex->ZamHeadQ.Close();
    dm->CommitTr(ex->ZamT);
    return result;
  }

  std::string XmlPath(int orderId) const { return TextFromPath(outDir_ / (std::to_string(orderId) + ".xml")); }

  SessionDb db;
  RecordingLogSink log;
  RecordingHostLink host;
  FakeOptima erp;
  std::unique_ptr<TDM> dm;
  std::unique_ptr<TdmEksporter> ex;
  std::filesystem::path root_, erpDir_, outDir_;

 private:
  std::filesystem::path savedDir_;
};

}  // namespace trelvex::test
