#pragma once
// The export session of one pass: switches, connection, configuration, queue
// driver, locks, status writes, operator messages and host notifications.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/datetime.h"
#include "db/database.h"
#include "session/host_notice.h"

namespace trelvex {

// Process-wide values: the window stays open after the pass (SHOW "1"), and
// the log level (LOGLEVEL switch raised by the configuration's LOGLEVEL).
extern bool StayOpen;
extern std::int32_t LogLevel;

// Where the session's notifications are mirrored: the worker window's log
// and progress bar.
class ILogSink {
 public:
  virtual ~ILogSink() = default;
  virtual void AddLog(const std::string& text) = 0;
  virtual void SetProgress(int value) = 0;
  // Lets pending window messages be processed (between requests).
  virtual void ProcessMessages() = 0;
};

// The export configuration (one EKSPKONF row).
class TKonfEksport {
 public:
  std::int32_t ID = 0;
  std::string NAZWA;
  std::int32_t IDTABELI = 0;
  std::int32_t LOGLEVEL = 0;
  std::int32_t OPCJE = 0;
  std::string KATALOGLOG;
  std::string KATALOG;
  std::string EVENT1;
  std::string EVENT2;
  std::int32_t IDSYSTEMOUT = 0;
  std::int32_t IDTABELIOUT = 0;
  bool USUNIETY = false;
  bool ARC = false;
  std::int32_t WERSJAZRODLA = 0;
  std::string APPNAME;
  std::string APPPARAMS;
  std::string SERWER;
  std::string SCIEZKA;
  std::string LOGIN;
  std::string HASLO;
  std::vector<std::string> DODATKOWE;  // option lines NAME=VALUE
  std::vector<std::string> Extra;      // a second list that nothing fills

  // Value of the first DODATKOWE line whose name (text before its first "=")
  // equals `name` in any letter case; empty when there is none.
  std::string Option(const std::string& name) const;
};

// Splits a text into lines at CR LF, LF or CR.
std::vector<std::string> SplitLines(const std::string& text);

// The order exporter as the queue driver sees it: exports one request and
// returns 1 (exported), 2 (warnings) or 3 (errors) with the summary and log.
class IRequestExporter {
 public:
  virtual ~IRequestExporter() = default;
  virtual std::int32_t PEH(std::int32_t requestId, std::string& summary, std::string& log) = 0;
};
class TDM;
using RequestExporterFactory = std::function<std::unique_ptr<IRequestExporter>(TDM&)>;

// Reads the administrator password as a low-privileged user; one per process.
class TPassDM {
 public:
  TPassDM();
  bool GetPassword(const std::string& host, const std::string& path);
  std::string Password;
  std::string LastError;

 private:
  db::Database IBDB;
};
TPassDM& GetPassDM();

// Database name: host, a colon when the host has none (and is not empty),
// then the path.
std::string DatabaseName(const std::string& host, const std::string& path);

class TDM {
 public:
  TDM(ILogSink& log, IHostLink& host, RequestExporterFactory exporters);
  ~TDM();

  std::string DbHost;
  std::string DbPath;
  std::string DbFile;
  std::int64_t HostWnd = 0;
  std::int32_t KonfId = 0;
  bool HostGone = false;
  TKonfEksport Konf;

  db::Database BazaDanych;
  db::Transaction Transaction{BazaDanych};
  db::Transaction EkspHeadT{BazaDanych};
  db::Transaction T_BLOKADY{BazaDanych};

  void ReadSwitches();
  void Init();
  std::int32_t Work();

  void Notify(std::int32_t code, std::int32_t value, const std::string& text);

  void StartTr(db::Transaction& tr);
  bool CommitTr(db::Transaction& tr);
  bool RollbackTr(db::Transaction& tr);

  bool SetObjectLock(std::int32_t type, std::int32_t id, std::int32_t session,
                     std::int32_t& lockId, bool ownTransaction);
  void ReleaseObjectLock(std::int32_t lockId, bool ownTransaction);
  bool SetHeadStatus(std::int32_t id, std::int32_t status, std::string& statusText,
                     const std::string& log);
  bool SetDetailStatus(std::int32_t id, std::int32_t status, const std::string& statusText,
                       const std::string& documentNumber);
  void AddMessage(std::int32_t type, std::int32_t sender, std::int32_t addressee,
                  std::int32_t group, std::int32_t objectId, std::int32_t priority,
                  TDateTime activation, const std::string& subject, const std::string& body,
                  std::int32_t tableId);

 private:
  ILogSink& log_;
  IHostLink& host_;
  RequestExporterFactory exporters_;
  struct Statements;
  std::unique_ptr<Statements> q_;  // prepared on first use
};

// The session of the running pass, or nullptr.
extern TDM* DM;

}  // namespace trelvex
