// The database layer against the embedded engine: parameters, types, fetching,
// procedures, transactions and error texts.
#include <gtest/gtest.h>

#include <string>

#include "common/encoding.h"
#include "db/database.h"
#include "db/fb_datetime.h"
#include "support/test_db.h"

namespace trelvex::test {
namespace {

using db::Query;
using db::Transaction;
using db::Value;

// "Zażółć gęślą jaźń" in Windows-1250.
const std::string kPolish = "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1";

class DbQueryTest : public ::testing::Test {
 protected:
  TestDb tdb;
};

TEST_F(DbQueryTest, NamedParametersRepeatAndSkipLiteralsAndComments) {
  Transaction tr(tdb.Db());
  tr.Start();
  Query q(tr,
          "SELECT ':A' L1, \":B\" L2, 'it''s :A' L3, /* :NOPE */\n"
          "  CAST(:A AS INTEGER) + CAST(:a AS INTEGER) TWICE, -- :GONE\n"
          "  CAST(:B AS VARCHAR(10)) B\n"
          "FROM RDB$DATABASE");
  q.SetInteger("a", 21);
  q.SetText("B", "x:y");
  EXPECT_THROW(q.SetInteger("NOPE", 1), EDatabaseError);
  EXPECT_THROW(q.SetInteger("GONE", 1), EDatabaseError);
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("L1").AsString(), ":A");
  EXPECT_EQ(q.FieldByName("L2").AsString(), ":B");  // dialect 1: double quotes make a literal
  EXPECT_EQ(q.FieldByName("L3").AsString(), "it's :A");
  EXPECT_EQ(q.FieldByName("twice").AsInteger(), 42);
  EXPECT_EQ(q.FieldByName("B").AsString(), "x:y");

  // The prepared statement is reused with new values.
  q.SetInteger("A", 5);
  q.Open();
  EXPECT_EQ(q.FieldByName("TWICE").AsInteger(), 10);
}

TEST_F(DbQueryTest, EveryTypeRoundTrips) {
  tdb.Exec(
      "CREATE TABLE T (ID INTEGER, I INTEGER, S SMALLINT, D DOUBLE PRECISION, F FLOAT, "
      "N NUMERIC(9,2), V VARCHAR(40), C CHAR(10), B BLOB SUB_TYPE TEXT, TS DATE)");

  // 100 KB of text with Polish letters and line breaks.
  std::string big;
  while (big.size() < 100 * 1024) big += kPolish + "\r\n" + std::to_string(big.size());
  // 29 February 2024, 13:45:12.3456, exactly.
  const std::int32_t mjd = 60369;
  const std::uint32_t ticks = ((13 * 60 + 45) * 60 + 12) * 10000 + 3456;
  const TDateTime stamp = db::FromFbDateTime(mjd, ticks);

  {
    Transaction tr(tdb.Db());
    tr.Start();
    Query ins(tr, "INSERT INTO T VALUES (:ID, :I, :S, :D, :F, :N, :V, :C, :B, :TS)");
    ins.SetInteger("ID", 1);
    ins.SetInteger("I", -2147483647 - 1);
    ins.SetInteger("S", -32768);
    ins.SetFloat("D", 0.1 + 0.2);
    ins.SetFloat("F", 1.5);
    ins.SetFloat("N", 1234567.89);
    ins.SetText("V", kPolish);
    ins.SetText("C", "ab");
    ins.SetText("B", big);
    ins.SetDateTime("TS", stamp);
    ins.ExecSQL();
    EXPECT_EQ(ins.RowsAffected(), 1);
    tr.Commit();
  }

  Transaction tr(tdb.Db());
  tr.Start();
  Query q(tr, "SELECT T.*, CAST(TS AS VARCHAR(30)) TSTEXT, CHAR_LENGTH(B) BLEN FROM T WHERE ID = 1");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("I").AsInteger(), -2147483647 - 1);
  EXPECT_EQ(q.FieldByName("S").AsInteger(), -32768);
  EXPECT_EQ(q.FieldByName("D").AsFloat(), 0.1 + 0.2);
  EXPECT_EQ(q.FieldByName("F").AsFloat(), 1.5);
  EXPECT_DOUBLE_EQ(q.FieldByName("N").AsFloat(), 1234567.89);
  EXPECT_EQ(q.FieldByName("V").AsString(), kPolish);
  EXPECT_EQ(q.FieldByName("C").AsString(), "ab        ");  // fixed text keeps its padding
  EXPECT_EQ(q.FieldByName("BLEN").AsInteger(), static_cast<int>(big.size()));
  EXPECT_EQ(q.FieldByName("B").AsString(), big);
  EXPECT_EQ(q.FieldByName("TS").AsDateTime(), stamp);
  EXPECT_EQ(q.FieldByName("TSTEXT").AsString(), "29-FEB-2024 13:45:12.3456");
}

TEST_F(DbQueryTest, DateTimesRoundToTenThousandthsAndCarryIntoNextDay) {
  tdb.Exec("CREATE TABLE T (ID INTEGER, TS DATE)");
  // Dialect 1 writes a timestamp as text like this, without the time at midnight.
  struct Case {
    TDateTime written;
    const char* text;
  } cases[] = {
      {45000.0, "15-MAR-2023"},
      {45000.5 + 0.4 / 86400.0, "15-MAR-2023 12:00:00.4000"},
      {45000.0 + 0.99999999999, "16-MAR-2023"},  // rounds up to midnight
      {-1.25, "29-DEC-1899 6:00:00.0000"},
      {2.75, "01-JAN-1900 18:00:00.0000"},
  };
  Transaction tr(tdb.Db());
  tr.Start();
  Query ins(tr, "INSERT INTO T VALUES (:ID, :TS)");
  Query sel(tr, "SELECT TS, CAST(TS AS VARCHAR(30)) X FROM T WHERE ID = :ID");
  int id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ins.SetInteger("ID", ++id);
    ins.SetDateTime("TS", c.written);
    ins.ExecSQL();
    sel.SetInteger("ID", id);
    sel.Open();
    EXPECT_EQ(sel.FieldByName("X").AsString(), c.text);
    db::FbDateTime fd = db::ToFbDateTime(c.written);
    EXPECT_EQ(sel.FieldByName("TS").AsDateTime(), db::FromFbDateTime(fd.mjd, fd.ticks));
  }
}

TEST_F(DbQueryTest, NullsReadAsEmptyZeroAndZeroDate) {
  tdb.Exec("CREATE TABLE T (I INTEGER, D DOUBLE PRECISION, V VARCHAR(10), C CHAR(4), B BLOB SUB_TYPE TEXT, TS DATE)");
  Transaction tr(tdb.Db());
  tr.Start();
  Query ins(tr, "INSERT INTO T VALUES (:I, :D, :V, :C, :B, :TS)");
  for (const char* n : {"I", "D", "V", "C", "B", "TS"}) ins.SetNull(n);
  ins.ExecSQL();
  Query q(tr, "SELECT * FROM T");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  for (const char* n : {"I", "D", "V", "C", "B", "TS"}) {
    SCOPED_TRACE(n);
    const Value& v = q.FieldByName(n);
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(v.AsString(), "");
    EXPECT_EQ(v.AsInteger(), 0);
    EXPECT_EQ(v.AsFloat(), 0.0);
    EXPECT_EQ(v.AsDateTime(), 0.0);
  }
}

TEST_F(DbQueryTest, ValuesAreConvertedToTheParameterTypes) {
  tdb.Exec("CREATE TABLE T (I INTEGER, D DOUBLE PRECISION, V VARCHAR(20), N NUMERIC(9,2), TS DATE, B BLOB SUB_TYPE TEXT)");
  Transaction tr(tdb.Db());
  tr.Start();
  Query ins(tr, "INSERT INTO T VALUES (:I, :D, :V, :N, :TS, :B)");
  ins.SetText("I", "123");
  ins.SetInteger("D", 7);
  ins.SetFloat("V", 2.5);
  ins.SetInteger("N", 12);
  ins.SetText("TS", "30.12.1899");
  ins.SetInteger("B", 99);
  ins.ExecSQL();
  Query q(tr, "SELECT * FROM T");
  q.Open();
  EXPECT_EQ(q.FieldByName("I").AsInteger(), 123);
  EXPECT_EQ(q.FieldByName("D").AsFloat(), 7.0);
  EXPECT_EQ(q.FieldByName("V").AsString(), "2.5");
  EXPECT_EQ(q.FieldByName("N").AsFloat(), 12.0);
  EXPECT_EQ(q.FieldByName("TS").AsDateTime(), 0.0);
  EXPECT_EQ(q.FieldByName("B").AsString(), "99");

  // A number that is not one raises the server's conversion error.
  Query bad(tr, "INSERT INTO T (I) VALUES (:I)");
  bad.SetText("I", "abc");
  EXPECT_THROW(bad.ExecSQL(), EDatabaseError);
}

TEST_F(DbQueryTest, OpenFetchesAllRowsAndSurvivesCommit) {
  tdb.Exec("CREATE TABLE T (ID INTEGER, NAME VARCHAR(20))");
  {
    Transaction tr(tdb.Db());
    tr.Start();
    Query ins(tr, "INSERT INTO T VALUES (:ID, 'row ' || :ID)");
    for (int i = 1; i <= 250; ++i) {
      ins.SetInteger("ID", i);
      ins.ExecSQL();
    }
    tr.Commit();
  }
  Transaction tr(tdb.Db());
  tr.Start();
  Query q(tr, "SELECT ID, NAME FROM T WHERE ID > :MIN ORDER BY ID");
  q.SetInteger("MIN", 0);
  q.Open();
  tr.Commit();  // the rows are in memory and the cursor closed
  EXPECT_EQ(q.RecordCount(), 250);
  int n = 0;
  for (; !q.Eof(); q.Next()) {
    ++n;
    EXPECT_EQ(q.FieldByName("id").AsInteger(), n);
  }
  EXPECT_EQ(n, 250);
  EXPECT_THROW(q.FieldByName("ID"), EDatabaseError);  // past the last row
  q.First();
  EXPECT_EQ(q.FieldByName("NAME").AsString(), "row 1");
  EXPECT_THROW(q.FieldByName("MISSING"), EDatabaseError);
  EXPECT_TRUE(q.HasField("Name"));
  EXPECT_FALSE(q.HasField("MISSING"));

  // Opening again starts a transaction of its own and fetches afresh.
  q.SetInteger("MIN", 240);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 10);
  q.SetInteger("MIN", 1000);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_TRUE(q.Eof());
}

TEST_F(DbQueryTest, RowsAffectedCountsChangedRows) {
  tdb.Exec("CREATE TABLE T (ID INTEGER)");
  tdb.Exec("INSERT INTO T VALUES (1)");
  tdb.Exec("INSERT INTO T VALUES (2)");
  tdb.Exec("INSERT INTO T VALUES (3)");
  Transaction tr(tdb.Db());
  Query up(tr, "UPDATE T SET ID = ID + 10 WHERE ID >= :ID");
  up.SetInteger("ID", 2);
  up.ExecSQL();
  EXPECT_EQ(up.RowsAffected(), 2);
  Query del(tr, "DELETE FROM T WHERE ID = :ID");
  del.SetInteger("ID", 99);
  del.ExecSQL();
  EXPECT_EQ(del.RowsAffected(), 0);
}

TEST_F(DbQueryTest, ProcedureOutputsBecomeTheRow) {
  Transaction tr(tdb.Db());
  tr.Start();
  Query lock(tr, "EXECUTE PROCEDURE SP_ZALOZBLOKADE(:ATYPOBIEKTU, :AIDOBIEKTU, :AIDSESJI)");
  lock.SetInteger("ATYPOBIEKTU", 52);
  lock.SetInteger("AIDOBIEKTU", 12345);
  lock.SetInteger("AIDSESJI", -1);
  lock.ExecSQL();
  ASSERT_EQ(lock.RecordCount(), 1);
  const std::int32_t id = lock.FieldByName("OIDBLOKADY").AsInteger();
  EXPECT_GT(id, 0);
  EXPECT_EQ(lock.FieldByName("OIDSESJI").AsInteger(), -1);
  EXPECT_GT(lock.FieldByName("ODATACZASBLOKADY").AsDateTime(), 40000.0);
  lock.ExecSQL();
  EXPECT_EQ(lock.FieldByName("OIDBLOKADY").AsInteger(), -1);  // locked already
  tr.Commit();
  EXPECT_EQ(tdb.Int("SELECT COUNT(*) FROM BLOKADY WHERE IDBLOKADY = " + std::to_string(id)), 1);

  // A procedure without outputs, with a text blob parameter.
  Transaction tr2(tdb.Db());
  tr2.Start();
  Query msg(tr2,
            "EXECUTE PROCEDURE SP_DODAJWIADOMOSC(:AIDOPERATORA, :AIDTYPU, :AIDADRESATA, :AIDGRUPY, :APRIORYTET, "
            ":ADATAAKTYWACJI, :AIDOBIEKTU, :ATEMAT, :ATRESC, :AIDTABELI, :AIDRODZAJU)");
  msg.SetInteger("AIDOPERATORA", -1);
  msg.SetInteger("AIDTYPU", 1);
  msg.SetInteger("AIDADRESATA", 7);
  msg.SetInteger("AIDGRUPY", -1);
  msg.SetInteger("APRIORYTET", 1);
  msg.SetDateTime("ADATAAKTYWACJI", 45000.5);
  msg.SetInteger("AIDOBIEKTU", 12345);
  msg.SetText("ATEMAT", kPolish);
  msg.SetText("ATRESC", kPolish + "\r\n" + kPolish);
  msg.SetInteger("AIDTABELI", 52);
  msg.SetInteger("AIDRODZAJU", 0);
  msg.ExecSQL();
  EXPECT_EQ(msg.RecordCount(), 0);
  tr2.Commit();
  auto row = tdb.Row("SELECT IDADRESATA, PRIORYTET, DATAAKTYWACJI, TEMAT, TRESC, IDTABELI FROM WIADOMOSCI");
  EXPECT_EQ(row[0].AsInteger(), 7);
  EXPECT_EQ(row[1].AsInteger(), 1);
  EXPECT_EQ(row[2].AsDateTime(), 45000.5);
  EXPECT_EQ(row[3].AsString(), kPolish);
  EXPECT_EQ(row[4].AsString(), kPolish + "\r\n" + kPolish);
  EXPECT_EQ(row[5].AsInteger(), 52);
}

TEST_F(DbQueryTest, DialectOneDividesIntegersAsFractions) {
  EXPECT_DOUBLE_EQ(tdb.Float("SELECT 23/100 FROM RDB$DATABASE"), 0.23);
  // FN_ROUND rounds halves away from zero.
  auto row = tdb.Row(
      "SELECT FN_ROUND(2.345, 2), FN_ROUND(-2.345, 2), FN_ROUND(1.005, 2), FN_ROUND(18 * (23 / 100), 2) "
      "FROM RDB$DATABASE");
  EXPECT_DOUBLE_EQ(row[0].AsFloat(), 2.35);
  EXPECT_DOUBLE_EQ(row[1].AsFloat(), -2.35);
  EXPECT_DOUBLE_EQ(row[2].AsFloat(), 1.01);
  EXPECT_DOUBLE_EQ(row[3].AsFloat(), 4.14);
}

TEST_F(DbQueryTest, TransactionDestructorRollsBack) {
  tdb.Exec("CREATE TABLE T (ID INTEGER)");
  {
    Transaction tr(tdb.Db());
    tr.Start();
    Query q(tr, "INSERT INTO T VALUES (1)");
    q.ExecSQL();
    EXPECT_TRUE(tr.Active());
  }
  EXPECT_EQ(tdb.Int("SELECT COUNT(*) FROM T"), 0);

  // Closing the connection by force rolls back what is still open, and the
  // transaction object notices that it is no longer active.
  Transaction tr(tdb.Db());
  tr.Start();
  Query q(tr, "INSERT INTO T VALUES (2)");
  q.ExecSQL();
  tdb.Db().ForceClose();
  EXPECT_FALSE(tr.Active());
  EXPECT_FALSE(tdb.Db().Connected() && tr.Active());
  EXPECT_EQ(tdb.Int("SELECT COUNT(*) FROM T"), 0);
  // The query prepares again on the new connection.
  q.ExecSQL();
  tr.Commit();
  EXPECT_EQ(tdb.Int("SELECT COUNT(*) FROM T"), 1);
}

TEST_F(DbQueryTest, NoWaitConflictRaisesAtOnceWithTheServerText) {
  tdb.Exec("CREATE TABLE T (ID INTEGER, V INTEGER)");
  tdb.Exec("INSERT INTO T VALUES (1, 0)");
  Transaction first(tdb.Db());
  first.Start();
  Query a(first, "UPDATE T SET V = 1 WHERE ID = 1");
  a.ExecSQL();

  db::Database other;
  other.SetDatabaseName(tdb.Path());
  other.SetParams({"user_name=SYSDBA", "password=x", "lc_ctype=WIN1250"});
  other.Connect();
  Transaction second(other);
  second.Start();
  Query b(second, "UPDATE T SET V = 2 WHERE ID = 1");
  try {
    b.ExecSQL();
    FAIL() << "no conflict";
  } catch (const EDatabaseError& e) {
    const std::string text = e.Message();
    EXPECT_NE(text.find("update conflicts with concurrent update"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n"), std::string::npos) << text;
  }
  EXPECT_TRUE(second.Active());
  second.Rollback();
}

TEST(DbClientTest, MissingClientLibraryIsAClearError) {
  try {
    db::CheckClientLibrary({"libfbclient-missing.so.9"});
    FAIL() << "loaded";
  } catch (const EDatabaseError& e) {
    const std::string text = Cp1250ToUtf8(e.Message());
    EXPECT_EQ(text.rfind("Nie można załadować biblioteki klienta Firebird (libfbclient-missing.so.9): ", 0), 0u)
        << text;
  }
  EXPECT_NO_THROW(db::CheckClientLibrary({"libfbclient-missing.so.9", "libfbclient.so.2"}));
}

TEST(DbClientTest, UnopenableDatabaseGivesTheClientText) {
  struct Case {
    std::string name;
    const char* expected;
  } cases[] = {
      {"/nonexistent-trelvex/none.fdb", "I/O error during \"open\" operation for file"},
      {":/nonexistent-trelvex/none.fdb", "I/O error during \"open\" operation for file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    db::Database d;
    d.SetDatabaseName(c.name);
    d.SetParams({"user_name=SYSDBA", "password=x", "lc_ctype=WIN1250"});
    try {
      d.Connect();
      FAIL() << "connected";
    } catch (const EDatabaseError& e) {
      EXPECT_NE(e.Message().find(c.expected), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(d.Connected());
    d.ForceClose();  // harmless when not connected
  }
}

TEST_F(DbQueryTest, ConnectionParametersAreChecked) {
  db::Database d;
  d.SetDatabaseName(tdb.Path());
  d.SetParams({"user_name=SYSDBA", "colour=blue"});
  EXPECT_THROW(d.Connect(), EDatabaseError);
  d.SetParams({"user_name=SYSDBA", "password=", "lc_ctype=WIN1250"});  // an empty password is allowed
  d.Connect();
  EXPECT_TRUE(d.Connected());
  EXPECT_THROW(d.Connect(), EDatabaseError);
}

}  // namespace
}  // namespace trelvex::test
