#pragma once
// Stand-ins around the export session for tests: a log sink and a host link
// that record what they are given, and an order exporter that follows a script.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/dm.h"
#include "session/host_notice.h"

namespace trelvex::test {

class RecordingLogSink : public ILogSink {
 public:
  void AddLog(const std::string& text) override { lines.push_back(text); }
  void SetProgress(int value) override { progress.push_back(value); }
  void ProcessMessages() override {
    ++processed;
    if (onProcessMessages) onProcessMessages();
  }

  std::vector<std::string> lines;  // as given (Windows-1250)
  std::vector<int> progress;
  int processed = 0;
  std::function<void()> onProcessMessages;
};

// One notification as the host received it.
struct ReceivedNotice {
  std::int64_t hostWnd = 0;
  std::int32_t code = 0;
  std::int32_t value = 0;
  std::string text;
};

class RecordingHostLink : public IHostLink {
 public:
  std::int32_t Send(std::int64_t hostWnd, const HostNotice& notice) override;

  std::vector<ReceivedNotice> received;
  // The host's answer to the notification with this index (0-based); 1 when
  // not set.
  std::function<std::int32_t(std::size_t index, const ReceivedNotice&)> answer;
};

// What the scripted exporter does for one request.
struct ExportStep {
  std::int32_t result = 1;
  std::string summary;
  std::string log;
  // Runs before the result is returned (e.g. to make the host go away or to
  // lock a row from another transaction); may throw.
  std::function<void(TDM&, std::int32_t requestId)> action;
};

// A script of export results, one step per request in the order they are
// exported; requests past the end of the script are exported with result 1.
class ExportScript {
 public:
  std::vector<ExportStep> steps;
  std::vector<std::int32_t> exported;  // request ids, in order
  int created = 0;
  int destroyed = 0;

  RequestExporterFactory Factory();
};

class TestDb;

// A temporary retail database for session tests, with an administrator
// connection of its own for setting up rows and reading results.
class SessionDb {
 public:
  SessionDb();
  ~SessionDb();
  SessionDb(const SessionDb&) = delete;
  SessionDb& operator=(const SessionDb&) = delete;

  // Plain local path of the database file.
  const std::string& Path() const;
  // Runs one statement in its own transaction and commits it.
  void Exec(const std::string& sql);
  // First row of a select (in its own transaction); throws when empty.
  db::Value Value(const std::string& sql, const std::string& field);
  std::int64_t Int(const std::string& sql);
  std::string Text(const std::string& sql);
  std::int64_t Count(const std::string& sql);

  // An EKSPKONF row with the columns the session needs.
  void AddKonf(std::int32_t id, const std::string& katalog, std::int32_t opcje = 0,
               const std::string& waznosc = "0", std::int32_t loglevel = 0);
  // A queued EKSPHEAD row; `data` is an SQL expression for DATA; `items`
  // EKSPDETAIL rows are added; `declared` is the SQL text for ILOSCPOZYCJI
  // (empty: the number of items).
  void AddRequest(std::int32_t id, std::int32_t konf, const std::string& data, int items,
                  const std::string& declared = "", std::int32_t operatorId = 7);

  db::Database& Admin();
  TestDb& File();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A second connection with a transaction that holds one row changed (and so
// locked against other writers) until it is destroyed.
class RowBlocker {
 public:
  RowBlocker(const std::string& path, const std::string& updateSql);
  ~RowBlocker();

 private:
  db::Database db_;
  std::unique_ptr<db::Transaction> tr_;
};

// Points the session at the database and clears the process-wide state the
// session keeps between passes (cached password, log level).
void PrepareSession(TDM& dm, const SessionDb& db, std::int32_t konfId);
void ResetProcessState();

// Windows-1250 text from a UTF-8 literal (tests write Polish text readably).
std::string W(std::string_view utf8);

}  // namespace trelvex::test
