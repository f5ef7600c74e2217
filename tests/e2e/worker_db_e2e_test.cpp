// The worker program on a real database, seen from the host: the records of a
// whole pass byte for byte, its log on standard output, and a host that stops
// answering.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/encoding.h"
#include "common/version.h"
#include "support/e2e_fixture.h"
#include "support/session_fixtures.h"

namespace trelvex::test {
namespace {

constexpr std::int32_t kStart = 2, kProgress = 4, kLog = 5, kWarning = 6, kError = 7, kEnd = 8;

const char* const kQueue = "SELECT STATUS FROM EKSPHEAD ORDER BY ID";

std::vector<std::int64_t> Column(TestDb& db, const std::string& sql) {
  std::vector<std::int64_t> out;
  for (const auto& row : db.Rows(sql)) out.push_back(row.at(0).AsInt64());
  return out;
}

// The stamped log lines of the pass: what follows the start-up lines and the
// pass's leading empty line, up to the end of the output.
std::vector<std::string> PassLog(const WorkerResult& r) {
  std::vector<std::string> out;
  const auto lines = r.StdoutLines();
  for (std::size_t i = 4; i < lines.size(); ++i) out.push_back(StampedText(lines[i]));
  return out;
}

TEST(WorkerDbE2E, APassReportsEveryKindOfRequestToTheHostByteForByte) {
  WorkerWorld w;
  w.AddKonf(0);
  w.WriteErpState();
  w.AddOrder(201, "ZAM/2026/201", 2, 1, 0, {1});
  w.AddRequest(1, 10.0, {201});                                // expired: two days of validity
  const std::string dataMissing = w.AddRequest(2, 0.3, {999});  // names no order
  const std::string dataExported = w.AddRequest(3, 0.2, {201});
  w.AddRequest(4, 0.1, {201}, 3);                              // declares three items, has one

  const WorkerResult r = w.Run();
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;

  const std::string by = " od Piotr Wiśniewski zakończono ";
  // A warning after an error sets the result back to 1.
  ExpectNotices(r.records, {
                               {kStart, r.pid, TRELVEX_VERSION_TEXT},
                               {kLog, 0, W("Rozpoczęcie pracy")},
                               {kProgress, 0, ""},
                               {kLog, 0, W("Do przetworzenia: 4 rekordów")},
                               {kWarning, 0, W("Przekroczony czas ważności danych do eksportu. Eksport anulowany.")},
                               {kProgress, 25, ""},
                               {kError, 0, W("Zlecenie z " + dataMissing + by + "z błędami. Przetworzono 0 z 1 pozycji.")},
                               {kProgress, 50, ""},
                               {kLog, 0, W("Zlecenie z " + dataExported + by + "powodzeniem. Przetworzono 1 z 1 pozycji.")},
                               {kProgress, 75, ""},
                               {kWarning, 0, W("Niezgodna ilość pozycji do eksportu (3, 1)")},
                               {kProgress, 100, ""},
                               {kProgress, 0, ""},
                               {kLog, 0, W("Koniec pracy")},
                               {kEnd, 1, ""},
                           });

  // Standard output mirrors every record but progress, in UTF-8, then the
  // terminate message.
  std::vector<std::string> mirrored;
  for (const auto& record : r.records) {
    if (record.Code != kProgress) mirrored.push_back(Cp1250ToUtf8(MirrorLine(record)));
  }
  mirrored.push_back("Otrzymano komunikat \"APP_TERMINATE\"");
  EXPECT_EQ(PassLog(r), mirrored) << r.stdoutText;
  EXPECT_EQ(r.StdoutLines().at(3), "");

  EXPECT_EQ(Column(w.Db(), kQueue), (std::vector<std::int64_t>{6, 4, 2, 0}));
  EXPECT_EQ(w.Db().Text("SELECT STATUSINFO FROM EKSPHEAD WHERE ID = 1"), "Przeterminowany");
  EXPECT_EQ(w.Db().Int("SELECT STAN FROM ZAMHEAD WHERE ID = 201"), 1);
}

TEST(WorkerDbE2E, AHostThatAnswersZeroGetsNoRequestTaken) {
  WorkerWorld w;
  w.AddKonf(7);
  w.WriteErpState();
  w.AddOrder(201, "ZAM/2026/201", 2, 1, 0, {1});
  w.AddOrder(202, "ZAM/2026/202", 2, 1, 0, {1});
  w.AddRequest(1, 0.2, {201});
  w.AddRequest(2, 0.1, {202});

  WorkerOptions o;
  o.answer = [](const HostNotice&, std::size_t) { return 0; };
  const WorkerResult r = w.Run(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;

  ExpectNotices(r.records, {
                               {kStart, r.pid, TRELVEX_VERSION_TEXT},
                               {kLog, 0, W("Rozpoczęcie pracy")},
                               {kProgress, 0, ""},
                               {kLog, 0, W("Do przetworzenia: 2 rekordów")},
                               {kProgress, 0, ""},
                               {kLog, 0, W("Koniec pracy")},
                               {kEnd, 0, ""},
                           });
  EXPECT_EQ(PassLog(r).back(), "Otrzymano komunikat \"APP_TERMINATE\"");

  // Nothing was touched: requests and items queued, orders as they were, no
  // message, no document.
  EXPECT_EQ(Column(w.Db(), kQueue), (std::vector<std::int64_t>{0, 0}));
  EXPECT_EQ(Column(w.Db(), "SELECT COUNT(*) FROM EKSPHEAD WHERE DATASTART = '30.12.1899'"),
            (std::vector<std::int64_t>{2}));
  EXPECT_EQ(Column(w.Db(), "SELECT STATUS FROM EKSPDETAIL ORDER BY ID"), (std::vector<std::int64_t>{0, 0}));
  EXPECT_EQ(Column(w.Db(), "SELECT STAN FROM ZAMHEAD ORDER BY ID"), (std::vector<std::int64_t>{0, 0}));
  EXPECT_EQ(Column(w.Db(), "SELECT COUNT(*) FROM WIADOMOSCI"), (std::vector<std::int64_t>{0}));
  EXPECT_EQ(w.ErpFile("optima-sim-documents.jsonl"), "");
}

TEST(WorkerDbE2E, AHostThatGoesAwayAfterTheSecondRequestLeavesTheRestQueued) {
  WorkerWorld w;
  w.AddKonf(0);
  w.WriteErpState();
  for (std::int32_t k = 1; k <= 3; ++k) {
    w.AddOrder(200 + k, "ZAM/2026/20" + std::to_string(k), 2, 1, 0, {1});
    w.AddRequest(k, 0.5 - 0.1 * k, {200 + k});
  }

  // START, LOG, POSTĘP 0, LOG count, then LOG and POSTĘP per request: the
  // host closes its end on the second request's progress, unanswered.
  WorkerOptions o;
  o.closeHostAfter = 8;
  const WorkerResult r = w.Run(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  ASSERT_EQ(r.records.size(), 8u);
  EXPECT_EQ(r.records[5].Value, 33);
  EXPECT_EQ(r.records[7].Code, kProgress);
  EXPECT_EQ(r.records[7].Value, 67);

  // The second request was finished and recorded; the third stays queued.
  EXPECT_EQ(Column(w.Db(), kQueue), (std::vector<std::int64_t>{2, 2, 0}));
  EXPECT_EQ(Column(w.Db(), "SELECT STATUS FROM EKSPDETAIL ORDER BY ID"), (std::vector<std::int64_t>{2, 2, 0}));
  EXPECT_EQ(Column(w.Db(), "SELECT STAN FROM ZAMHEAD ORDER BY ID"), (std::vector<std::int64_t>{1, 1, 0}));
  EXPECT_EQ(SplitLines(w.ErpFile("optima-sim-documents.jsonl")).size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(w.XmlDir() / "203.xml"));

  // The closing notifications were still attempted: the log shows them.
  const auto log = PassLog(r);
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "LOG(0, \"Koniec pracy\")");
  EXPECT_EQ(log[log.size() - 2], "KONIEC(0, \"\")");
}

}  // namespace
}  // namespace trelvex::test
