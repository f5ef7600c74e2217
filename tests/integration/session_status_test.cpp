// Status writes, locks and operator messages of the session, against a real
// database.
#include <gtest/gtest.h>

#include <string>

#include "common/datetime.h"
#include "common/error.h"
#include "session/dm.h"
#include "support/session_fixtures.h"

namespace trelvex {
namespace {

using test::W;

class SessionStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetProcessState();
    db.AddKonf(1, "/out");
    dm = std::make_unique<TDM>(log, host, script.Factory());
    test::PrepareSession(*dm, db, 1);
    dm->Init();
  }
  void TearDown() override {
    dm.reset();
    test::ResetProcessState();
  }

  std::string Head(int id, const std::string& column) {
    return db.Text("SELECT " + column + " FROM EKSPHEAD WHERE ID = " + std::to_string(id));
  }
  // Days since the zero date of a timestamp column.
  double Stamp(const std::string& table, int id, const std::string& column) {
    return db.Value("SELECT " + column + " FROM " + table + " WHERE ID = " + std::to_string(id),
                    column)
        .AsDateTime();
  }

  test::SessionDb db;
  test::RecordingLogSink log;
  test::RecordingHostLink host;
  test::ExportScript script;
  std::unique_ptr<TDM> dm;
};

TEST_F(SessionStatusTest, HeadStatusTextsAreCutAndStampsFollowTheWrittenStatus) {
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
  db.AddRequest(2, 1, "CURRENT_TIMESTAMP", 1);
  EXPECT_EQ(Stamp("EKSPHEAD", 1, "DATASTART"), 0.0);

  std::string text(300, 'x');
  text[254] = 'y';
  const std::string longLog(5000, 'L');
  ASSERT_TRUE(dm->SetHeadStatus(1, 1, text, longLog));
  EXPECT_EQ(text.size(), 300u);  // the caller's text is left alone on success
  EXPECT_EQ(Head(1, "STATUSINFO"), text.substr(0, 255));
  EXPECT_EQ(Head(1, "LOG"), longLog);
  EXPECT_EQ(db.Int("SELECT STATUS FROM EKSPHEAD WHERE ID = 1"), 1);
  const double started = Stamp("EKSPHEAD", 1, "DATASTART");
  EXPECT_GT(started, 40000.0);
  EXPECT_EQ(Stamp("EKSPHEAD", 1, "DATAKONIEC"), 0.0);  // status 1 does not end it
  EXPECT_FALSE(dm->Transaction.Active());

  db.Exec("UPDATE EKSPHEAD SET DATASTART = DATASTART - 1 WHERE ID = 1");
  std::string empty;
  ASSERT_TRUE(dm->SetHeadStatus(1, 2, empty, ""));
  EXPECT_NEAR(Stamp("EKSPHEAD", 1, "DATASTART"), started - 1, 1e-6);  // stamped once only
  EXPECT_GT(Stamp("EKSPHEAD", 1, "DATAKONIEC"), 40000.0);
  EXPECT_EQ(Head(1, "STATUSINFO"), "");
  EXPECT_EQ(Head(1, "LOG"), "");

  // A direct write of 6 gets both stamps at once.
  std::string expired = "Przeterminowany";
  ASSERT_TRUE(dm->SetHeadStatus(2, 6, expired, ""));
  EXPECT_GT(Stamp("EKSPHEAD", 2, "DATASTART"), 40000.0);
  EXPECT_GT(Stamp("EKSPHEAD", 2, "DATAKONIEC"), 40000.0);
  EXPECT_EQ(db.Int("SELECT STATUS FROM EKSPHEAD WHERE ID = 2"), 6);
}

TEST_F(SessionStatusTest, HeadStatusBlockedByAnotherTransaction) {
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
  std::string text = "any";
  {
    test::RowBlocker blocker(db.Path(), "UPDATE EKSPHEAD SET STATUSINFO = 'held' WHERE ID = 1");
    EXPECT_FALSE(dm->SetHeadStatus(1, 1, text, ""));  // no wait: fails at once
  }
  EXPECT_NE(text, "any");
  EXPECT_NE(text.find("conflict"), std::string::npos) << text;
  EXPECT_FALSE(dm->Transaction.Active());
  EXPECT_EQ(db.Int("SELECT STATUS FROM EKSPHEAD WHERE ID = 1"), 0);
  EXPECT_TRUE(log.lines.empty());  // the caller decides what to report
  // The session is usable again once the row is free.
  text = "ok";
  EXPECT_TRUE(dm->SetHeadStatus(1, 1, text, ""));
}

TEST_F(SessionStatusTest, DetailStatusCutsTextsAndReportsFailure) {
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 2);
  const std::string text = std::string(255, 's') + "TAIL";
  const std::string number = std::string(50, 'n') + "0123456789";
  ASSERT_TRUE(dm->SetDetailStatus(101, 2, text, number));
  EXPECT_EQ(db.Text("SELECT STATUSINFO FROM EKSPDETAIL WHERE ID = 101"), text.substr(0, 255));
  EXPECT_EQ(db.Text("SELECT NUMERDOK FROM EKSPDETAIL WHERE ID = 101"), number.substr(0, 50));
  EXPECT_EQ(db.Int("SELECT STATUS FROM EKSPDETAIL WHERE ID = 101"), 2);

  dm->HostWnd = 77;
  {
    test::RowBlocker blocker(db.Path(), "UPDATE EKSPDETAIL SET STATUS = 9 WHERE ID = 102");
    EXPECT_FALSE(dm->SetDetailStatus(102, 3, "x", ""));
  }
  EXPECT_FALSE(dm->Transaction.Active());
  ASSERT_EQ(host.received.size(), 1u);
  EXPECT_EQ(host.received[0].code, kNoticeError);
  EXPECT_EQ(host.received[0].value, 0);
  EXPECT_NE(host.received[0].text.find("conflict"), std::string::npos) << host.received[0].text;
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("ERROR(0, \"", 0), 0u);
  EXPECT_EQ(db.Int("SELECT STATUS FROM EKSPDETAIL WHERE ID = 102"), 0);
}

TEST_F(SessionStatusTest, LockMadeRefusedAndReleased) {
  std::int32_t lockId = 0;
  ASSERT_TRUE(dm->SetObjectLock(52, 12345, -1, lockId, true));
  EXPECT_NE(lockId, -1);
  EXPECT_FALSE(dm->T_BLOKADY.Active());
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM BLOKADY WHERE IDBLOKADY = " + std::to_string(lockId)),
            1);

  std::int32_t second = 5;
  EXPECT_FALSE(dm->SetObjectLock(52, 12345, -1, second, true));
  EXPECT_EQ(second, -1);

  // Another object can be locked meanwhile.
  std::int32_t other = 0;
  EXPECT_TRUE(dm->SetObjectLock(52, 777, -1, other, true));
  EXPECT_NE(other, lockId);

  dm->ReleaseObjectLock(lockId, true);
  EXPECT_FALSE(dm->T_BLOKADY.Active());
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM BLOKADY WHERE IDBLOKADY = " + std::to_string(lockId)),
            0);
  dm->ReleaseObjectLock(lockId, true);  // gone already: nothing happens
  dm->ReleaseObjectLock(-1, true);

  std::int32_t again = 0;
  EXPECT_TRUE(dm->SetObjectLock(52, 12345, -1, again, true));
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(host.received.empty());
}

TEST_F(SessionStatusTest, LockThatCannotBeReleasedIsNamedInTheLog) {
  std::int32_t lockId = 0;
  ASSERT_TRUE(dm->SetObjectLock(52, 12345, -1, lockId, true));
  {
    // Another transaction holds the lock row: the delete fails at once.
    test::RowBlocker blocker(db.Path(), "UPDATE BLOKADY SET OPIS = 'x' WHERE IDBLOKADY = " +
                                      std::to_string(lockId));
    EXPECT_NO_THROW(dm->ReleaseObjectLock(lockId, true));
  }
  EXPECT_FALSE(dm->T_BLOKADY.Active());
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM BLOKADY WHERE IDBLOKADY = " + std::to_string(lockId)),
            1);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("Nie zwolniono blokady (BLOKADY.IDBLOKADY=" +
                                   std::to_string(lockId) + ") \"", 0),
            0u)
      << log.lines[0];
  EXPECT_TRUE(host.received.empty());
}

TEST_F(SessionStatusTest, LockInTheCallersTransaction) {
  dm->StartTr(dm->T_BLOKADY);
  std::int32_t lockId = 0;
  ASSERT_TRUE(dm->SetObjectLock(52, 1, -1, lockId, false));
  EXPECT_TRUE(dm->T_BLOKADY.Active());  // left to the caller
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM BLOKADY WHERE IDBLOKADY = " + std::to_string(lockId)),
            0);  // not committed yet
  EXPECT_TRUE(dm->RollbackTr(dm->T_BLOKADY));
  EXPECT_FALSE(dm->RollbackTr(dm->T_BLOKADY));
  EXPECT_FALSE(dm->CommitTr(dm->T_BLOKADY));
}

TEST_F(SessionStatusTest, FailingLockProcedureKeepsTheLockId) {
  db.Exec("CREATE EXCEPTION E_SESSION_TEST 'lock table broken'");
  db.Exec(
      "CREATE OR ALTER PROCEDURE SP_ZALOZBLOKADE (ATYPOBIEKTU INTEGER, AIDOBIEKTU INTEGER, "
      "AIDSESJI INTEGER) RETURNS (OOPERATOR VARCHAR(100), ODATACZASBLOKADY DATE, "
      "OIDBLOKADY INTEGER, OIDSESJI INTEGER, OOPIS VARCHAR(250)) AS BEGIN "
      "EXCEPTION E_SESSION_TEST; END");
  std::int32_t lockId = 41;
  EXPECT_FALSE(dm->SetObjectLock(52, 1, -1, lockId, true));
  EXPECT_EQ(lockId, 41);
  EXPECT_FALSE(dm->T_BLOKADY.Active());
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(SessionStatusTest, OperatorMessageStoredWithItsLimits) {
  const std::string subject = std::string(250, 't') + std::string(50, 'u');
  const std::string body = W("Treść ") + std::string(2000, 'b');
  const TDateTime when = EncodeDateTime({2026, 12, 9, 18, 50, 3, 0});
  dm->AddMessage(1, -1, 7, -1, 12345, 1, when, subject, body, 52);
  EXPECT_FALSE(dm->Transaction.Active());
  const std::string row = "SELECT * FROM WIADOMOSCI";
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM WIADOMOSCI"), 1);
  EXPECT_EQ(db.Value(row, "TEMAT").AsString(), subject.substr(0, 250));
  EXPECT_EQ(db.Value(row, "TRESC").AsString(), body);
  EXPECT_EQ(db.Value(row, "IDADRESATA").AsInteger(), 7);
  EXPECT_EQ(db.Value(row, "IDOPERATORA").AsInteger(), -1);
  EXPECT_EQ(db.Value(row, "IDTYPU").AsInteger(), 1);
  EXPECT_EQ(db.Value(row, "IDGRUPY").AsInteger(), -1);
  EXPECT_EQ(db.Value(row, "PRIORYTET").AsInteger(), 1);
  EXPECT_EQ(db.Value(row, "IDOBIEKTU").AsInteger(), 12345);
  EXPECT_EQ(db.Value(row, "IDTABELI").AsInteger(), 52);
  EXPECT_EQ(db.Value(row, "IDRODZAJU").AsInteger(), 0);
  EXPECT_NEAR(db.Value(row, "DATAAKTYWACJI").AsDateTime(), when, 1e-6);
}

TEST_F(SessionStatusTest, FailingOperatorMessageIsSwallowed) {
  db.Exec("CREATE EXCEPTION E_SESSION_TEST 'no messages'");
  db.Exec(
      "CREATE OR ALTER PROCEDURE SP_DODAJWIADOMOSC (AIDOPERATORA INTEGER, AIDTYPU INTEGER, "
      "AIDADRESATA INTEGER, AIDGRUPY INTEGER, APRIORYTET INTEGER, ADATAAKTYWACJI DATE, "
      "AIDOBIEKTU INTEGER, ATEMAT VARCHAR(250), ATRESC BLOB SUB_TYPE TEXT, AIDTABELI INTEGER, "
      "AIDRODZAJU INTEGER) AS BEGIN EXCEPTION E_SESSION_TEST; END");
  dm->HostWnd = 5;
  EXPECT_NO_THROW(dm->AddMessage(1, -1, 7, -1, -1, 0, Now(), "s", "b", -1));
  EXPECT_FALSE(dm->Transaction.Active());
  // The lost message is named in the log, and nothing goes to the host.
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("Nie wys\xB3" "ano wiadomo\x9C" "ci do operatora (ID=7) \"s\": \"", 0), 0u)
      << log.lines[0];
  EXPECT_NE(log.lines[0].find("no messages"), std::string::npos);
  EXPECT_TRUE(host.received.empty());
  // The session's other writes still work.
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 1);
  std::string text = "t";
  EXPECT_TRUE(dm->SetHeadStatus(1, 2, text, ""));
}

TEST_F(SessionStatusTest, WritesWithoutAConnectionFailQuietly) {
  TDM idle(log, host, script.Factory());
  idle.HostWnd = 0;
  std::string text = "t";
  EXPECT_FALSE(idle.SetHeadStatus(1, 1, text, ""));
  EXPECT_NE(text, "t");
  std::int32_t lockId = 3;
  EXPECT_FALSE(idle.SetObjectLock(52, 1, -1, lockId, true));
  EXPECT_EQ(lockId, 3);
  EXPECT_NO_THROW(idle.ReleaseObjectLock(3, true));
  EXPECT_NO_THROW(idle.AddMessage(1, -1, 7, -1, -1, 0, Now(), "s", "b", -1));
  EXPECT_FALSE(idle.SetDetailStatus(1, 2, "x", ""));
  // The lock release, the lost message and the item status failure are named.
  ASSERT_EQ(log.lines.size(), 3u);
}

}  // namespace
}  // namespace trelvex
