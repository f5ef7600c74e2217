// The retail schema against the worker's statement texts: every statement
// prepares and runs on it, and the order queries give the documented rows.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/encoding.h"
#include "db/database.h"
#include "support/test_db.h"

namespace trelvex::test {
namespace {

using db::Query;
using db::Transaction;
using db::Value;

// The statement texts exactly as the worker sends them.
const std::string kEkspKonfQ = Utf8ToCp1250(R"(SELECT E.*
FROM EKSPKONF E
WHERE E.ID = :ID
)");

const std::string kEkspHeadQ = Utf8ToCp1250(R"(SELECT
  EH.ID, EH.DATA,
  CASE WHEN
    (WAZNOSC = 0) OR
    CURRENT_TIMESTAMP - EH.DATA < WAZNOSC
  THEN 1 ELSE 0 END WAZNY,
  EH.ILOSCPOZYCJI,
  EH.IDOPERATORA,
  (SELECT COUNT(ED.ID) FROM EKSPDETAIL ED WHERE ED.IDEKSPHEAD = EH.ID) ILOSCPOZYCJI2,
  O.IMIE || ' ' || O.NAZWISKO OPERATOR
FROM EKSPHEAD EH
JOIN EKSPKONF EK ON EK.ID = EH.IDEKSPKONF
LEFT JOIN OPERATOR O ON O.ID = EH.IDOPERATORA
WHERE EH.IDEKSPKONF = :IDEKSPKONF
  AND EH.STATUS = 0
ORDER BY EH.DATA
)");

const std::string kEkspHeadUQ = Utf8ToCp1250(R"(UPDATE EKSPHEAD SET
  STATUS = :STATUS,
  STATUSINFO = :STATUSINFO,
  LOG = :LOG,
  DATASTART = CASE WHEN STATUS > 0 AND DATASTART = '30.12.1899' THEN CURRENT_TIMESTAMP ELSE DATASTART END,
  DATAKONIEC = CASE WHEN STATUS > 1  THEN CURRENT_TIMESTAMP ELSE DATAKONIEC END
WHERE ID = :ID
)");

const std::string kEkspDetailUQ = Utf8ToCp1250(R"(UPDATE EKSPDETAIL SET
  STATUS = :STATUS,
  STATUSINFO = :STATUSINFO,
  NUMERDOK = :NUMERDOK
WHERE ID = :ID
)");

const std::string kUsunBlokade = Utf8ToCp1250(R"(DELETE FROM BLOKADY WHERE IDBLOKADY=:ID
)");

const std::string kPassword = Utf8ToCp1250(R"(SELECT
  P.WARTSTRING
FROM PARAMETRY P
WHERE P.NAME = 'E_OOU_ICDFRK_SQOLQBGE'
  AND P.IDREPKOPIE = GEN_ID(BAZA_NR, 0)
)");

const std::string kZamHeadQ = Utf8ToCp1250(R"(SELECT
  ED.ID,
  ED.IDREKORDU,
  EH.DATA,
  CASE WHEN
    (EK.WAZNOSC = 0) OR
    CURRENT_TIMESTAMP - EH.DATA < EK.WAZNOSC
  THEN 1 ELSE 0 END WAZNY,
  EH.IDOPERATORA EIDOPERATORA,
  OE.IMIE || ' ' || OE.NAZWISKO EKSPOPERATOR,
  ZH.ID IDZAMHEAD,
  ZH.NUMER,
  ZH.NUMERSTR,
  ZH.NUMEREXX,
  ZH.NUMEROBCY,
  ZH.STATUS,
  CASE ZH.STATUS
    WHEN 0 THEN 'OFERTA'
    WHEN 1 THEN 'ZAAKCEPTOWANE'
    WHEN 2 THEN 'ANULOWANE'
    WHEN 3 THEN 'WSTRZYMANE'
  END STATUSSTR,
  ZH.STAN,
  CASE ZH.STAN
    WHEN 0 THEN 'PRZYJĘTE'
    WHEN 1 THEN 'REALIZOWANE'
    WHEN 2 THEN 'DO ODBIORU'
    WHEN 3 THEN 'DO WYJAŚNIENIA'
    WHEN 4 THEN 'ZAMKNIĘTE'
  END STANSTR,
  ZH.UWAGI,
  ZH.OPIS,
  ZH.PRIORYTET,
  ZH.IDMAGAZYNU,
  S2.NAZWA MAGAZYN,
  S2.INFOSTRING KODMAGAZYN,
  ZH.IDKATEGORII,
  S3.NAZWA KATEGORIA,
  ZH.ARC,
  ZH.USUNIETY,

  ZH.DATAWPISU,
  ZH.DATAPRZYJECIA,
  ZH.DATAWAZNOSCI,
  ZH.TERMINREALIZACJI,
  ZH.DATAAKCEPTACJI,
  ZH.DATAREALIZACJI,
  ZH.DATAANULACJI,

  ZH.IDKONTRAHENTA,
  KH.SKROTNAZWY,
  KH.PROSTYNIP,
  KH.PELNANAZWA,
  KH.NIP,
  KH.REGON,
  KH.KODPOCZTOWY,
  KH.ADRES,
  KH.ADRESDOM,
  KH.ADRESMIESZKANIE,
  S4.NAZWA KONTRAHENT_MIASTO,
  S6.NAZWA KONTRAHENT_KRAJ,

  ZH.IDODBIORCY,
  KO.KONTAKT,
  ZH.IDODBIORCYFPP,
  KHO.SKROTNAZWY ODBSKROTNAZWY,
  KHO.PROSTYNIP ODBPROSTYNIP,
  ZH.IDOPERATORA ZAMIDOPERATORA,
  OZ.IMIE || ' ' || OZ.NAZWISKO ZAMOPERATOR,
  OZ.EXXLOGIN,
  ZH.IDETAPU,
-- Spedycja
  ZH.IDTRANSPORTU,
  CASE ZH.IDTRANSPORTU
    WHEN 0 THEN 'ODBIÓR WŁASNY'
    WHEN 1 THEN 'NASZ TRANSPORT'
    WHEN 2 THEN 'FIRMA SPEDYCYJNA'
    WHEN 3 THEN 'INNY'
  END TRANSPORT,
  ZH.SPEDYCJAADRES,
  ZH.SPEDYCJAKODPOCZTOWY,
  ZH.IDSPEDYCJAMIASTO,
  S1.NAZWA MIASTO,
  ZH.SPEDYCJAUWAGI,
  ZH.IDSPEDYCJAPANSTWO,
  ZH.IDSPEDYCJAWOJEWODZTWO,
-- Płatności
  ZH.ZALICZKA,
  ZH.IDFORMYPLATNOSCI,
  CASE ZH.IDFORMYPLATNOSCI
    WHEN 0 THEN ''
    WHEN 1 THEN 'GOTÓWKA'
    WHEN 2 THEN 'CZEK'
    WHEN 3 THEN 'PRZELEW'
    WHEN 4 THEN 'KREDYT'
    WHEN 5 THEN 'INNE'
    WHEN 6 THEN 'KARTA'
    WHEN 7 THEN 'KOMPENSATA'
    WHEN 8 THEN 'PRZEDPŁATA'
  END FORMAPLATNOSCI,
  ZH.TERMINPLATNOSCI,
  ZH.CENARODZAJ,
  ZH.NETTO,
  ZH.VAT,
  ZH.RABAT,
  CASE WHEN ZH.NETTO = 0 THEN 0 ELSE ZH.RABAT / ZH.NETTO END RABATPROC,
  ZH.ZAKUPNETTO,
  ZH.ILOSCPOZYCJI,
  (SELECT COUNT(ZD.ID) FROM ZAMDETAIL ZD WHERE ZD.IDHEAD=ZH.ID) ILOSCPOZYCJI2,
  S5.NAZWA TYPKONTRAHENTA
FROM EKSPDETAIL ED
JOIN EKSPHEAD EH ON EH.ID = ED.IDEKSPHEAD
JOIN EKSPKONF EK ON EK.ID = EH.IDEKSPKONF
LEFT JOIN OPERATOR OE ON OE.ID = EH.IDOPERATORA
LEFT JOIN ZAMHEAD ZH ON ZH.ID = ED.IDREKORDU
LEFT JOIN OPERATOR OZ ON OZ.ID = ZH.IDOPERATORA
LEFT JOIN KONTRAHENT KH ON KH.ID = ZH.IDKONTRAHENTA
LEFT JOIN KONTAKTY KO ON KO.ID = ZH.IDODBIORCY
LEFT JOIN KONTRAHENT KHO ON KHO.ID = ZH.IDODBIORCYFPP
LEFT JOIN SLOWNIK S1 ON S1.ID = ZH.IDSPEDYCJAMIASTO
LEFT JOIN SLOWNIK S2 ON S2.ID = ZH.IDMAGAZYNU
LEFT JOIN SLOWNIK S3 ON S3.ID = ZH.IDKATEGORII
LEFT JOIN SLOWNIK S4 ON S4.ID = KH.IDMIASTO
LEFT JOIN SLOWNIK S5 ON S5.ID = KH.IDTYPKONTRAHENTA
LEFT JOIN SLOWNIK S6 ON S6.ID = KH.IDKRAJ
WHERE EH.ID = :IDEKSPHEAD
  AND ED.STATUS = 0
ORDER BY EH.DATA, ED.ID
)");

const std::string kZamDetailQ = Utf8ToCp1250(R"(SELECT
  ZD.ID,
  ZD.IDHEAD,
  ZD.LP,
  ZD.IDTOWARU,
  CASE WHEN TW.SKROTNAZWY LIKE 'PL%' THEN 'PL' ELSE
  CASE WHEN TW.SKROTNAZWY LIKE 'XL%' THEN 'XL' ELSE
  CASE WHEN TW.SKROTNAZWY LIKE 'SPL%' THEN 'SPL' ELSE
  TW.SKROTNAZWY END END END SKROTNAZWY,
  ZD.NAZWA,
  ZD.ILOSC,
  ZD.CENANETTO,
  FN_ROUND(ZD.CENANETTO * (1 + ZD.RABATPROC), 2) CENANETTOPORABACIE,
           FN_ROUND(ZD.ILOSC * FN_ROUND(ZD.CENANETTO * (1 + ZD.RABATPROC), 2), 2) WARTOSCNETTO,
  FN_ROUND(FN_ROUND(ZD.ILOSC * FN_ROUND(ZD.CENANETTO * (1 + ZD.RABATPROC), 2), 2) * (S1.INFOINTEGER / 100), 2) WARTOSCVAT,
  ZD.RABATPROC,
  ZD.IDVAT,
  S1.INFOINTEGER VATPROC,
  S1.NAZWA VAT,
  ZD.MODYFIKATOR,
  ZD.IDJEDNOSTKI,
  S2.NAZWA JEDNOSTKA,
  ZD.ZAKUPNETTO,
  S3.NAZWA GRUPATOWAROWA
FROM ZAMDETAIL ZD
LEFT JOIN TOWARY TW ON TW.ID=ZD.IDTOWARU
LEFT JOIN SLOWNIK S1 ON S1.ID=ZD.IDVAT
LEFT JOIN SLOWNIK S2 ON S2.ID=ZD.IDJEDNOSTKI
LEFT JOIN SLOWNIK S3 ON S3.ID=TW.IDGRUPYTOWAROWEJ
WHERE ZD.IDHEAD=:IDHEAD
  AND ZD.USUNIETY=0
  AND ZD.ANULOWANY=0
  AND ZD.ARC=0
ORDER BY ZD.LP, ZD.ID
)");

const std::string kZamHeadUpdateQ = Utf8ToCp1250(R"(UPDATE ZAMHEAD SET
STATUS=:STATUS, STAN=:STAN,
DATAAKCEPTACJI = :DATAAKCEPTACJI
WHERE ID=:ID
)");

struct Statement {
  const char* name;
  const std::string* sql;
  bool select;
  std::vector<std::pair<const char*, Value>> params;
};

TEST(DbSchemaTest, EveryStatementRunsOnTheSchema) {
  TestDb tdb;
  const std::vector<Statement> statements = {
      {"EkspKonfQ", &kEkspKonfQ, true, {{"ID", Value::FromInt(1)}}},
      {"EkspHeadQ", &kEkspHeadQ, true, {{"IDEKSPKONF", Value::FromInt(1)}}},
      {"EkspHeadUQ",
       &kEkspHeadUQ,
       false,
       {{"STATUS", Value::FromInt(1)}, {"STATUSINFO", Value::FromText("x")}, {"LOG", Value::FromText("log")},
        {"ID", Value::FromInt(1)}}},
      {"EkspDetailUQ",
       &kEkspDetailUQ,
       false,
       {{"STATUS", Value::FromInt(2)}, {"STATUSINFO", Value::FromText("x")}, {"NUMERDOK", Value::FromText("")},
        {"ID", Value::FromInt(1)}}},
      {"Q_USUNBLOKADE", &kUsunBlokade, false, {{"ID", Value::FromInt(1)}}},
      {"IBQ", &kPassword, true, {}},
      {"ZamHeadQ", &kZamHeadQ, true, {{"IDEKSPHEAD", Value::FromInt(1)}}},
      {"ZamDetailQ", &kZamDetailQ, true, {{"IDHEAD", Value::FromInt(1)}}},
      {"ZamHeadUpdateQ",
       &kZamHeadUpdateQ,
       false,
       {{"STATUS", Value::FromInt(1)}, {"STAN", Value::FromInt(1)}, {"DATAAKCEPTACJI", Value::FromDateTime(45000.5)},
        {"ID", Value::FromInt(1)}}},
  };
  Transaction tr(tdb.Db());
  tr.Start();
  for (const Statement& s : statements) {
    SCOPED_TRACE(s.name);
    Query q(tr, *s.sql);
    for (const auto& [name, value] : s.params) q.SetParam(name, value);
    try {
      if (s.select)
        q.Open();
      else
        q.ExecSQL();
    } catch (const EDatabaseError& e) {
      ADD_FAILURE() << e.Message();
      continue;
    }
    EXPECT_EQ(q.RecordCount(), 0);
  }
}

TEST(DbSchemaTest, PlanerReadsOnlyThePasswordRow) {
  TestDb tdb;
  tdb.Exec("INSERT INTO PARAMETRY (NAME, WARTSTRING, IDREPKOPIE) VALUES ('E_OOU_ICDFRK_SQOLQBGE', 'tajne', 1)");
  tdb.Exec("INSERT INTO PARAMETRY (NAME, WARTSTRING, IDREPKOPIE) VALUES ('E_OOU_ICDFRK_SQOLQBGE', 'inna', 2)");
  tdb.Close();

  db::Database planer;
  planer.SetDatabaseName(tdb.Path());
  planer.SetParams({"user_name=planer", "password=vemtux7390", "lc_ctype=WIN1250"});
  planer.Connect();
  Transaction tr(planer);
  Query q(tr, kPassword);
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("WARTSTRING").AsString(), "tajne");

  Query other(tr, kEkspKonfQ);
  other.SetInteger("ID", 1);
  try {
    other.Open();
    FAIL() << "PLANER read EKSPKONF";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("no permission for SELECT access to TABLE EKSPKONF"), std::string::npos)
        << e.Message();
  }
}

class DbOrderQueriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tdb.Exec("INSERT INTO EKSPKONF (ID, KATALOG, WAZNOSC) VALUES (1, '/tmp', 0)");
    tdb.Exec("INSERT INTO OPERATOR (ID, IMIE, NAZWISKO) VALUES (7, 'Jan', 'Nowak')");
    tdb.Exec("INSERT INTO EKSPHEAD (ID, IDEKSPKONF, DATA, STATUS, ILOSCPOZYCJI, IDOPERATORA) "
             "VALUES (17, 1, CURRENT_TIMESTAMP, 0, 2, 7)");
    tdb.Exec("INSERT INTO EKSPDETAIL (ID, IDEKSPHEAD, IDREKORDU, STATUS) VALUES (1, 17, 12345, 0)");
    tdb.Exec("INSERT INTO EKSPDETAIL (ID, IDEKSPHEAD, IDREKORDU, STATUS) VALUES (2, 17, 999, 0)");  // no order
    tdb.Exec("INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (23, '23%', NULL, 23)");
    tdb.Exec("INSERT INTO ZAMHEAD (ID, NUMERSTR, STATUS, STAN, IDTRANSPORTU, IDFORMYPLATNOSCI, NETTO, RABAT, "
             "ILOSCPOZYCJI) VALUES (12345, 'ZAM/1', 1, 0, 0, 9, 0, 5, 3)");
    tdb.Exec("INSERT INTO TOWARY (ID, SKROTNAZWY) VALUES (1, 'PL100')");
    tdb.Exec("INSERT INTO TOWARY (ID, SKROTNAZWY) VALUES (2, 'SPL9')");
    tdb.Exec("INSERT INTO ZAMDETAIL (ID, IDHEAD, LP, IDTOWARU, ILOSC, CENANETTO, RABATPROC, IDVAT) "
             "VALUES (1, 12345, 1, 1, 2, 10.00, -0.10, 23)");
    tdb.Exec("INSERT INTO ZAMDETAIL (ID, IDHEAD, LP, IDTOWARU, ILOSC, CENANETTO, RABATPROC, IDVAT, USUNIETY) "
             "VALUES (2, 12345, 2, 2, 1, 1, 0, 23, 1)");
    tdb.Exec("INSERT INTO ZAMDETAIL (ID, IDHEAD, LP, IDTOWARU, ILOSC, CENANETTO, RABATPROC, IDVAT) "
             "VALUES (3, 12345, 3, 2, 1, 1, 0, 23)");
  }
  TestDb tdb;
};

TEST_F(DbOrderQueriesTest, ItemQueryGivesEveryItemWithPaddedWordings) {
  Transaction tr(tdb.Db());
  Query q(tr, kZamHeadQ);
  q.SetInteger("IDEKSPHEAD", 17);
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(q.FieldByName("IDZAMHEAD").AsInteger(), 12345);
  EXPECT_EQ(q.FieldByName("EKSPOPERATOR").AsString(), "Jan Nowak");
  EXPECT_EQ(q.FieldByName("STATUSSTR").AsString(), "ZAAKCEPTOWANE");
  EXPECT_EQ(q.FieldByName("STANSTR").AsString(), Utf8ToCp1250("PRZYJĘTE      "));
  EXPECT_EQ(q.FieldByName("TRANSPORT").AsString(), Utf8ToCp1250("ODBIÓR WŁASNY   "));
  EXPECT_TRUE(q.FieldByName("FORMAPLATNOSCI").IsNull());  // code outside the list
  EXPECT_EQ(q.FieldByName("RABATPROC").AsFloat(), 0.0);   // NETTO 0
  EXPECT_EQ(q.FieldByName("ILOSCPOZYCJI2").AsInteger(), 3);
  EXPECT_EQ(q.FieldByName("WAZNY").AsInteger(), 1);
  q.Next();
  EXPECT_EQ(q.FieldByName("IDREKORDU").AsInteger(), 999);
  EXPECT_TRUE(q.FieldByName("IDZAMHEAD").IsNull());
  EXPECT_EQ(q.FieldByName("IDZAMHEAD").AsInteger(), 0);
  EXPECT_EQ(q.FieldByName("NUMERSTR").AsString(), "");
}

TEST_F(DbOrderQueriesTest, LineQueryFoldsCodesAndRoundsAmounts) {
  Transaction tr(tdb.Db());
  Query q(tr, kZamDetailQ);
  q.SetInteger("IDHEAD", 12345);
  q.Open();
  ASSERT_EQ(q.RecordCount(), 2);  // the deleted line is left out
  EXPECT_EQ(q.FieldByName("SKROTNAZWY").AsString(), "PL");  // mixed with the column: varying text
  EXPECT_DOUBLE_EQ(q.FieldByName("CENANETTOPORABACIE").AsFloat(), 9.00);
  EXPECT_DOUBLE_EQ(q.FieldByName("WARTOSCNETTO").AsFloat(), 18.00);
  EXPECT_DOUBLE_EQ(q.FieldByName("WARTOSCVAT").AsFloat(), 4.14);
  EXPECT_EQ(q.FieldByName("VATPROC").AsInteger(), 23);
  q.Next();
  EXPECT_EQ(q.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(q.FieldByName("SKROTNAZWY").AsString(), "SPL");
}

}  // namespace
}  // namespace trelvex::test
