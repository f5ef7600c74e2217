// The queue driver with a scripted order exporter, against a real database.
#include <gtest/gtest.h>

#include <string>

#include "common/datetime.h"
#include "common/error.h"
#include "session/dm.h"
#include "support/session_fixtures.h"

namespace trelvex {
namespace {

using test::W;

class SessionWorkTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetProcessState(); }
  void TearDown() override { test::ResetProcessState(); }

  // A session on configuration 1 (made with `opcje` and `waznosc`).
  TDM& Session(std::int32_t opcje = 0, const std::string& waznosc = "0") {
    db.AddKonf(1, "/out", opcje, waznosc);
    dm = std::make_unique<TDM>(log, host, script.Factory());
    test::PrepareSession(*dm, db, 1);
    return *dm;
  }
  // Queues `n` complete requests 1..n, oldest first.
  void Queue(int n) {
    for (int i = 1; i <= n; ++i) {
      db.AddRequest(i, 1, "CURRENT_TIMESTAMP - " + std::to_string(0.01 * (n + 1 - i)), 1);
    }
  }
  std::int64_t Status(int id) {
    return db.Int("SELECT STATUS FROM EKSPHEAD WHERE ID = " + std::to_string(id));
  }
  std::string Line(const char* event, const std::string& text) {
    return std::string(event) + "(0, \"" + text + "\")";
  }

  test::SessionDb db;
  test::RecordingLogSink log;
  test::RecordingHostLink host;
  test::ExportScript script;
  std::unique_ptr<TDM> dm;
};

const std::string kStart = "LOG(0, \"" + W("Rozpoczęcie pracy") + "\")";
const std::string kEnd = "LOG(0, \"Koniec pracy\")";

TEST_F(SessionWorkTest, EmptyQueue) {
  // A request of another configuration and one already done are not taken.
  db.AddKonf(2, "/x");
  db.AddRequest(50, 2, "CURRENT_TIMESTAMP", 1);
  TDM& s = Session();
  db.AddRequest(51, 1, "CURRENT_TIMESTAMP", 1);
  db.Exec("UPDATE EKSPHEAD SET STATUS = 2 WHERE ID = 51");
  EXPECT_EQ(s.Work(), 0);
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{kStart, "LOG(0, \"Brak danych do przetworzenia\")", kEnd}));
  EXPECT_EQ(log.progress, (std::vector<int>{0, 0}));
  EXPECT_EQ(script.created, 0);
  EXPECT_FALSE(s.EkspHeadT.Active());
  EXPECT_FALSE(s.Transaction.Active());
}

TEST_F(SessionWorkTest, IncompleteRequestStaysQueued) {
  TDM& s = Session(2);
  db.AddRequest(1, 1, "CAST('09.12.2026 18:50:03' AS DATE)", 2, "NULL", 7);
  db.AddRequest(2, 1, "CAST('10.12.2026 00:00:00' AS DATE)", 2, "3", 8);
  EXPECT_EQ(s.Work(), 1);
  EXPECT_EQ(Status(1), 0);
  EXPECT_EQ(Status(2), 0);
  EXPECT_EQ(script.created, 0);
  const std::string w1 = W("Niezgodna ilość pozycji do eksportu (, 2)");
  const std::string w2 = W("Niezgodna ilość pozycji do eksportu (3, 2)");
  EXPECT_EQ(log.lines, (std::vector<std::string>{kStart, W("LOG(0, \"Do przetworzenia: 2 rekordów\")"),
                                                 Line("WARNING", w1), Line("WARNING", w2), kEnd}));
  EXPECT_EQ(log.progress, (std::vector<int>{0, 50, 100, 0}));
  // Operator messages (bit 1): subject with the request's time, body as the warning.
  const std::string q = "SELECT * FROM WIADOMOSCI WHERE IDADRESATA = ";
  EXPECT_EQ(db.Value(q + "7", "TEMAT").AsString(),
            "Problem przy eksporcie zleconym 09.12.2026 18:50:03 (eksport anulowany)");
  EXPECT_EQ(db.Value(q + "7", "TRESC").AsString(), w1);
  EXPECT_EQ(db.Value(q + "8", "TEMAT").AsString(),
            "Problem przy eksporcie zleconym 10.12.2026 (eksport anulowany)");
  EXPECT_EQ(db.Value(q + "8", "IDOBIEKTU").AsInteger(), -1);
  EXPECT_EQ(db.Value(q + "8", "IDTABELI").AsInteger(), -1);
  EXPECT_EQ(db.Value(q + "8", "PRIORYTET").AsInteger(), 0);
}

TEST_F(SessionWorkTest, NoOperatorMessageWithoutTheBit) {
  TDM& s = Session(1 | 4, "0.5");
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP", 2, "1");
  db.AddRequest(2, 1, "CURRENT_TIMESTAMP - 1", 1);
  EXPECT_EQ(s.Work(), 1);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM WIADOMOSCI"), 0);
  EXPECT_EQ(Status(2), 6);
}

TEST_F(SessionWorkTest, ExpiredRequests) {
  TDM& s = Session(2, "0.5");
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP - 0.5001", 1, "", 9);  // just past 12 hours
  db.AddRequest(2, 1, "CURRENT_TIMESTAMP - 0.4999", 1);          // just inside
  EXPECT_EQ(s.Work(), 0 + 1);
  EXPECT_EQ(Status(1), 6);
  EXPECT_EQ(db.Text("SELECT STATUSINFO FROM EKSPHEAD WHERE ID = 1"), "Przeterminowany");
  EXPECT_EQ(db.Text("SELECT LOG FROM EKSPHEAD WHERE ID = 1"), "");
  EXPECT_GT(db.Value("SELECT DATASTART FROM EKSPHEAD WHERE ID = 1", "DATASTART").AsDateTime(), 1.0);
  EXPECT_GT(db.Value("SELECT DATAKONIEC FROM EKSPHEAD WHERE ID = 1", "DATAKONIEC").AsDateTime(), 1.0);
  EXPECT_EQ(Status(2), 2);
  EXPECT_EQ(script.exported, std::vector<std::int32_t>{2});
  const std::string warning = W("Przekroczony czas ważności danych do eksportu. Eksport anulowany.");
  EXPECT_EQ(log.lines[2], Line("WARNING", warning));
  EXPECT_EQ(db.Text("SELECT TRESC FROM WIADOMOSCI WHERE IDADRESATA = 9"), warning);
}

TEST_F(SessionWorkTest, NullValidityExpiresEveryRequest) {
  TDM& s = Session(0, "NULL");
  Queue(2);
  db.Exec("UPDATE EKSPHEAD SET DATA = CURRENT_TIMESTAMP + 1 WHERE ID = 2");  // even a future one
  EXPECT_EQ(s.Work(), 1);
  EXPECT_EQ(Status(1), 6);
  EXPECT_EQ(Status(2), 6);
  EXPECT_EQ(script.created, 0);
}

TEST_F(SessionWorkTest, CountCheckComesBeforeValidity) {
  TDM& s = Session(0, "0.5");
  db.AddRequest(1, 1, "CURRENT_TIMESTAMP - 3", 1, "2");
  EXPECT_EQ(s.Work(), 1);
  EXPECT_EQ(Status(1), 0);  // never 6 while incomplete
}

TEST_F(SessionWorkTest, OutcomesBecomeStatusesAndNotifications) {
  TDM& s = Session();
  Queue(3);
  script.steps = {{1, "all done", "log 1", {}}, {2, "some warnings", "log 2", {}},
                  {3, W("błędy"), "log 3", {}}};
  s.HostWnd = 9;
  EXPECT_EQ(s.Work(), 2);
  EXPECT_EQ(script.exported, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(script.created, 3);
  EXPECT_EQ(script.destroyed, 3);
  const int expected[] = {2, 3, 4};
  for (int id = 1; id <= 3; ++id) {
    EXPECT_EQ(Status(id), expected[id - 1]);
    EXPECT_EQ(db.Text("SELECT LOG FROM EKSPHEAD WHERE ID = " + std::to_string(id)),
              "log " + std::to_string(id));
    EXPECT_GT(db.Value("SELECT DATASTART FROM EKSPHEAD WHERE ID = " + std::to_string(id), "DATASTART")
                  .AsDateTime(),
              1.0);
    EXPECT_GT(db.Value("SELECT DATAKONIEC FROM EKSPHEAD WHERE ID = " + std::to_string(id),
                       "DATAKONIEC")
                  .AsDateTime(),
              1.0);
  }
  EXPECT_EQ(db.Text("SELECT STATUSINFO FROM EKSPHEAD WHERE ID = 3"), W("błędy"));
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{kStart, W("LOG(0, \"Do przetworzenia: 3 rekordów\")"),
                                      Line("LOG", "all done"), Line("WARNING", "some warnings"),
                                      Line("ERROR", W("błędy")), kEnd}));
  // Host: LOG lines, progress, and the closing pair.
  std::vector<std::int32_t> codes;
  for (const auto& n : host.received) codes.push_back(n.code);
  EXPECT_EQ(codes, (std::vector<std::int32_t>{5, 4, 5, 5, 4, 6, 4, 7, 4, 4, 5}));
  EXPECT_EQ(log.processed, 3);
}

TEST_F(SessionWorkTest, ResultCodeIsSetNotRaised) {
  struct Case {
    std::int32_t first, second, expected;
  } cases[] = {{3, 2, 1}, {2, 3, 2}, {1, 1, 0}, {3, 1, 2}};
  int konf = 1;
  for (const auto& c : cases) {
    db.AddKonf(konf, "/out");
    db.AddRequest(konf * 10 + 1, konf, "CURRENT_TIMESTAMP - 0.02", 1);
    db.AddRequest(konf * 10 + 2, konf, "CURRENT_TIMESTAMP - 0.01", 1);
    test::ExportScript local;
    local.steps = {{c.first, "a", "", {}}, {c.second, "b", "", {}}};
    TDM s(log, host, local.Factory());
    test::PrepareSession(s, db, konf);
    EXPECT_EQ(s.Work(), c.expected) << c.first << " then " << c.second;
    ++konf;
  }
}

TEST_F(SessionWorkTest, EightRequestsProgress) {
  TDM& s = Session();
  Queue(8);
  EXPECT_EQ(s.Work(), 0);
  EXPECT_EQ(log.progress, (std::vector<int>{0, 12, 25, 38, 50, 62, 75, 88, 100, 0}));
  EXPECT_EQ(script.exported, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SessionWorkTest, FailedStatusWriteOnTheThirdRequestEndsTheRun) {
  TDM& s = Session();
  Queue(4);
  std::string error;
  {
    test::RowBlocker blocker(db.Path(), "UPDATE EKSPHEAD SET STATUSINFO = 'held' WHERE ID = 3");
    try {
      s.Work();
    } catch (const Exception& e) {
      error = e.Message();
    }
  }
  const std::string prefix = W("TDM.Work(2) Błąd w czasie ustawiania statusu (EKSPHEAD.ID=3) \"");
  EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
  EXPECT_EQ(error.back(), '"');
  EXPECT_NE(error.find("conflict"), std::string::npos) << error;
  EXPECT_EQ(Status(1), 2);
  EXPECT_EQ(Status(2), 2);
  EXPECT_EQ(Status(3), 0);
  EXPECT_EQ(Status(4), 0);
  EXPECT_EQ(script.exported, (std::vector<std::int32_t>{1, 2}));
  EXPECT_FALSE(s.EkspHeadT.Active());
  EXPECT_FALSE(s.Transaction.Active());
  // The closing notifications are still sent.
  ASSERT_GE(log.lines.size(), 2u);
  EXPECT_EQ(log.lines.back(), kEnd);
  EXPECT_EQ(log.progress.back(), 0);
}

TEST_F(SessionWorkTest, AnEscapingExportErrorLeavesTheRequestBeingProcessed) {
  TDM& s = Session();
  Queue(2);
  script.steps = {{1, "", "", [](TDM&, std::int32_t) { throw Exception("boom"); }}};
  std::string error;
  try {
    s.Work();
  } catch (const Exception& e) {
    error = e.Message();
  }
  EXPECT_EQ(error, "TDM.Work(0) boom");
  EXPECT_EQ(script.created, 1);
  EXPECT_EQ(script.destroyed, 1);
  EXPECT_EQ(Status(1), 1);
  EXPECT_EQ(Status(2), 0);
  EXPECT_EQ(log.lines.back(), kEnd);

  // A foreign exception is wrapped the same way.
  test::ExportScript other;
  other.steps = {{1, "", "", [](TDM&, std::int32_t) { throw std::runtime_error("std"); }}};
  TDM again(log, host, other.Factory());
  test::PrepareSession(again, db, 1);
  try {
    again.Work();
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "TDM.Work(0) std");
  }
  EXPECT_EQ(other.destroyed, 1);
}

TEST_F(SessionWorkTest, InitFailureSendsNoClosingNotifications) {
  Session();
  TDM s(log, host, script.Factory());
  test::PrepareSession(s, db, 404);
  EXPECT_THROW(s.Work(), Exception);
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(log.progress.empty());
}

TEST_F(SessionWorkTest, HostGoingAwayDuringTheSecondOfFive) {
  TDM& s = Session();
  Queue(5);
  s.HostWnd = 33;
  bool gone = false;
  host.answer = [&gone](std::size_t, const test::ReceivedNotice&) { return gone ? 0 : 1; };
  script.steps = {{}, {1, "second", "", [&gone](TDM&, std::int32_t) { gone = true; }}};
  EXPECT_EQ(s.Work(), 0);
  EXPECT_EQ(script.exported, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(Status(1), 2);
  EXPECT_EQ(Status(2), 2);
  for (int id = 3; id <= 5; ++id) EXPECT_EQ(Status(id), 0);
  EXPECT_TRUE(s.HostGone);
  // The request's own notifications and the closing ones are still attempted.
  ASSERT_GE(host.received.size(), 3u);
  EXPECT_EQ(host.received.back().text, "Koniec pracy");
  EXPECT_EQ(log.progress, (std::vector<int>{0, 20, 40, 0}));
}

TEST_F(SessionWorkTest, HostAnsweringZeroTakesNoRequest) {
  TDM& s = Session();
  Queue(2);
  s.HostWnd = 33;
  host.answer = [](std::size_t, const test::ReceivedNotice&) { return 0; };
  EXPECT_EQ(s.Work(), 0);
  EXPECT_TRUE(script.exported.empty());
  EXPECT_EQ(Status(1), 0);
  EXPECT_EQ(Status(2), 0);
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{kStart, W("LOG(0, \"Do przetworzenia: 2 rekordów\")"), kEnd}));
}

}  // namespace
}  // namespace trelvex
