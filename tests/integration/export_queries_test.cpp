// The order data module's statements against the retail database.
#include <gtest/gtest.h>

#include <string>

#include "export_fixture.h"

namespace trelvex {
namespace {

using test::W;

class ExportQueriesTest : public test::ExportTest {
 protected:
  void OpenLines(int orderId) {
    dm->StartTr(ex->ZamT);
    ex->ZamDetailQ.Close();
    ex->ZamDetailQ.SetInteger("IDHEAD", orderId);
    ex->ZamDetailQ.Open();
    ex->ZamDetailQ.First();
  }
  const db::Value& Head(const char* name) { return ex->ZamHeadQ.FieldByName(name); }
  const db::Value& Line(const char* name) { return ex->ZamDetailQ.FieldByName(name); }
};

TEST_F(ExportQueriesTest, ItemsOfARequestWithAMissingOrder) {
  db.AddRequest(1, 1, "'01.02.2024 08:30'", 3);
  AddOrder(1001);
  // Item 2 has left the queue; item 3 names an order that does not exist.
  db.Exec("UPDATE EKSPDETAIL SET STATUS = 2 WHERE ID = 102");

  OpenItems(1);
  ASSERT_EQ(2, ex->ZamHeadQ.RecordCount());
  EXPECT_EQ(101, Head("ID").AsInteger());
  EXPECT_EQ(1001, Head("IDZAMHEAD").AsInteger());
  EXPECT_EQ("Jan Nowak", Head("EKSPOPERATOR").AsString());
  EXPECT_EQ(7, Head("EIDOPERATORA").AsInteger());
  EXPECT_EQ("KOWAL", Head("SKROTNAZWY").AsString());
  EXPECT_EQ("MAG1", Head("KODMAGAZYN").AsString());
  EXPECT_EQ("Hurt", Head("KATEGORIA").AsString());
  EXPECT_EQ("Kielce", Head("KONTRAHENT_MIASTO").AsString());
  EXPECT_EQ("Detal", Head("TYPKONTRAHENTA").AsString());
  EXPECT_DOUBLE_EQ(-0.1, Head("RABATPROC").AsFloat());

  ex->ZamHeadQ.Next();
  EXPECT_EQ(103, Head("ID").AsInteger());
  EXPECT_EQ(1003, Head("IDREKORDU").AsInteger());
  EXPECT_EQ(1, Head("WAZNY").AsInteger());  // WAZNOSC 0: no limit
  EXPECT_FALSE(Head("DATA").IsNull());
  for (const char* column : {"IDZAMHEAD", "NUMERSTR", "STATUS", "STATUSSTR", "STAN", "STANSTR",
                             "ARC", "USUNIETY", "DATAAKCEPTACJI", "SKROTNAZWY", "KODMAGAZYN",
                             "TRANSPORT", "FORMAPLATNOSCI", "NETTO", "RABATPROC", "ILOSCPOZYCJI",
                             "TYPKONTRAHENTA", "ZAMOPERATOR"}) {
    EXPECT_TRUE(Head(column).IsNull()) << column;
  }
  EXPECT_EQ(0, Head("ILOSCPOZYCJI2").AsInteger());
  dm->CommitTr(ex->ZamT);
}

TEST_F(ExportQueriesTest, LinesCountDeletedOnesButExportOnlyLiveOnes) {
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
  AddOrder(1001, {1, 2, 3, 4, 4});
  db.Exec("UPDATE ZAMDETAIL SET USUNIETY = 1 WHERE ID = 10012");
  db.Exec("UPDATE ZAMDETAIL SET ANULOWANY = 1 WHERE ID = 10015");
  db.Exec("UPDATE ZAMDETAIL SET ARC = 1 WHERE ID = 10014");
  db.Exec("UPDATE ZAMDETAIL SET LP = 0 WHERE ID = 10013");  // order of LP, then ID

  OpenItems(1);
  EXPECT_EQ(5, Head("ILOSCPOZYCJI2").AsInteger());
  OpenLines(1001);
  ASSERT_EQ(2, ex->ZamDetailQ.RecordCount());
  EXPECT_EQ(10013, Line("ID").AsInteger());
  EXPECT_EQ("SPL", Line("SKROTNAZWY").AsString());
  ex->ZamDetailQ.Next();
  EXPECT_EQ(10011, Line("ID").AsInteger());
  EXPECT_EQ("PL", Line("SKROTNAZWY").AsString());
  dm->CommitTr(ex->ZamT);
}

TEST_F(ExportQueriesTest, ProductCodesAreFoldedAndLineAmountsRounded) {
  db.Exec("INSERT INTO TOWARY (ID, SKROTNAZWY) VALUES (5, 'SPLX-PL')");
  AddOrder(1001, {1, 2, 3, 4, 5});
  db.Exec("INSERT INTO ZAMDETAIL (ID, IDHEAD, LP, NAZWA, ILOSC, CENANETTO, RABATPROC) "
          "VALUES (10016, 1001, 6, 'bez towaru', 1, 1, 0)");
  OpenLines(1001);
  const char* expected[] = {"PL", "XL", "SPL", "ABC", "SPL"};
  for (const char* code : expected) {
    ASSERT_FALSE(ex->ZamDetailQ.Eof());
    EXPECT_EQ(code, Line("SKROTNAZWY").AsString());
    // quantity 2, net price 10.00, discount -0.10, VAT 23 percent
    EXPECT_DOUBLE_EQ(9.0, Line("CENANETTOPORABACIE").AsFloat());
    EXPECT_DOUBLE_EQ(18.0, Line("WARTOSCNETTO").AsFloat());
    EXPECT_DOUBLE_EQ(4.14, Line("WARTOSCVAT").AsFloat());
    EXPECT_EQ(23, Line("VATPROC").AsInteger());
    EXPECT_EQ("szt.", Line("JEDNOSTKA").AsString());
    ex->ZamDetailQ.Next();
  }
  ASSERT_FALSE(ex->ZamDetailQ.Eof());
  EXPECT_TRUE(Line("SKROTNAZWY").IsNull());  // a line without a product
  EXPECT_TRUE(Line("WARTOSCVAT").IsNull());  // and without a VAT rate
  dm->CommitTr(ex->ZamT);
}

TEST_F(ExportQueriesTest, NetZeroGivesNoHeaderDiscount) {
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
  AddOrder(1001);
  db.Exec("UPDATE ZAMHEAD SET NETTO = 0, RABAT = 15 WHERE ID = 1001");
  OpenItems(1);
  EXPECT_FALSE(Head("RABATPROC").IsNull());
  EXPECT_EQ(0.0, Head("RABATPROC").AsFloat());
  dm->CommitTr(ex->ZamT);
}

TEST_F(ExportQueriesTest, CodeListWordingsArePaddedAndNullOutsideTheList) {
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
  AddOrder(1001);
  struct Case {
    const char* column;  // ZAMHEAD column set to the code
    const char* wording;  // column of the item query
    int code;
    const char* utf8;  // expected wording, nullptr for null
  } cases[] = {
      {"STATUS", "STATUSSTR", 0, "OFERTA       "},
      {"STATUS", "STATUSSTR", 1, "ZAAKCEPTOWANE"},
      {"STATUS", "STATUSSTR", 3, "WSTRZYMANE   "},
      {"STATUS", "STATUSSTR", 4, nullptr},
      {"STAN", "STANSTR", 0, "PRZYJĘTE      "},
      {"STAN", "STANSTR", 3, "DO WYJAŚNIENIA"},
      {"STAN", "STANSTR", 4, "ZAMKNIĘTE     "},
      {"STAN", "STANSTR", -1, nullptr},
      {"IDTRANSPORTU", "TRANSPORT", 0, "ODBIÓR WŁASNY   "},
      {"IDTRANSPORTU", "TRANSPORT", 2, "FIRMA SPEDYCYJNA"},
      {"IDTRANSPORTU", "TRANSPORT", 4, nullptr},
      {"IDFORMYPLATNOSCI", "FORMAPLATNOSCI", 0, "          "},
      {"IDFORMYPLATNOSCI", "FORMAPLATNOSCI", 1, "GOTÓWKA   "},
      {"IDFORMYPLATNOSCI", "FORMAPLATNOSCI", 8, "PRZEDPŁATA"},
      {"IDFORMYPLATNOSCI", "FORMAPLATNOSCI", 9, nullptr},
  };
  for (const Case& c : cases) {
    db.Exec(std::string("UPDATE ZAMHEAD SET ") + c.column + " = " + std::to_string(c.code) +
            " WHERE ID = 1001");
    OpenItems(1);
    const db::Value& v = Head(c.wording);
    if (c.utf8 == nullptr) {
      EXPECT_TRUE(v.IsNull()) << c.column << " " << c.code;
    } else {
      EXPECT_EQ(W(c.utf8), v.AsString()) << c.column << " " << c.code;
    }
    dm->CommitTr(ex->ZamT);
  }
}

}  // namespace
}  // namespace trelvex
