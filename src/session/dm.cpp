// The session of one pass: switches, connection and configuration, host
// notifications, transaction helpers, locks, status writes, operator messages.
#include <memory>
#include <string>

#include "common/error.h"
#include "common/text.h"
#include "session/dm.h"
#include "session/statements.h"
#include "shell/switches.h"

namespace trelvex {

bool StayOpen = false;
std::int32_t LogLevel = 0;
TDM* DM = nullptr;

const char* const kEkspKonfSql =
    "SELECT E.*\n"
    "FROM EKSPKONF E\n"
    "WHERE E.ID = :ID";

const char* const kEkspHeadSql =
    "SELECT\n"
    "  EH.ID, EH.DATA,\n"
    "  CASE WHEN\n"
    "    (WAZNOSC = 0) OR\n"
    "    CURRENT_TIMESTAMP - EH.DATA < WAZNOSC\n"
    "  THEN 1 ELSE 0 END WAZNY,\n"
    "  EH.ILOSCPOZYCJI,\n"
    "  EH.IDOPERATORA,\n"
    "  (SELECT COUNT(ED.ID) FROM EKSPDETAIL ED WHERE ED.IDEKSPHEAD = EH.ID) ILOSCPOZYCJI2,\n"
    "  O.IMIE || ' ' || O.NAZWISKO OPERATOR\n"
    "FROM EKSPHEAD EH\n"
    "JOIN EKSPKONF EK ON EK.ID = EH.IDEKSPKONF\n"
    "LEFT JOIN OPERATOR O ON O.ID = EH.IDOPERATORA\n"
    "WHERE EH.IDEKSPKONF = :IDEKSPKONF\n"
    "  AND EH.STATUS = 0\n"
    "ORDER BY EH.DATA";

// Every SET expression sees the row's old values, so the stamps test the
// status being written (the parameter), not the column.
const char* const kEkspHeadUSql =
    "UPDATE EKSPHEAD SET\n"
    "  STATUS = :STATUS,\n"
    "  STATUSINFO = :STATUSINFO,\n"
    "  LOG = :LOG,\n"
    "  DATASTART = CASE WHEN CAST(:STATUS AS INTEGER) > 0 AND DATASTART = '30.12.1899' "
    "THEN CURRENT_TIMESTAMP ELSE DATASTART END,\n"
    "  DATAKONIEC = CASE WHEN CAST(:STATUS AS INTEGER) > 1  THEN CURRENT_TIMESTAMP ELSE DATAKONIEC END\n"
    "WHERE ID = :ID";

const char* const kEkspDetailUSql =
    "UPDATE EKSPDETAIL SET\n"
    "  STATUS = :STATUS,\n"
    "  STATUSINFO = :STATUSINFO,\n"
    "  NUMERDOK = :NUMERDOK\n"
    "WHERE ID = :ID";

const char* const kUsunBlokadeSql = "DELETE FROM BLOKADY WHERE IDBLOKADY=:ID";

namespace {



// Input parameters of a stored procedure in their declared order.
constexpr const char* kProcParamsSql =
    "SELECT RDB$PARAMETER_NAME FROM RDB$PROCEDURE_PARAMETERS\n"
    "WHERE RDB$PROCEDURE_NAME = :NAME AND RDB$PARAMETER_TYPE = 0\n"
    "  AND RDB$PACKAGE_NAME IS NULL\n"
    "ORDER BY RDB$PARAMETER_NUMBER";

// A rollback on an error path: a failure here must not replace the error
// being handled.
void RollbackQuietly(TDM& dm, db::Transaction& tr) noexcept {
  try {
    dm.RollbackTr(tr);
  } catch (...) {
  }
}

}  // namespace

// --- statements, prepared once per session --------------------------------

// The session's statements, each created on first use and kept (prepared)
// for the rest of the session.
struct TDM::Statements {
  explicit Statements(TDM& dm) : dm_(dm) {}

  db::Query& EkspKonfQ();
  db::Query& EkspHeadQ();
  db::Query& EkspHeadUQ();
  db::Query& EkspDetailUQ();
  db::Query& SP_DODAJWIADOMOSC();
  db::Query& SP_ZALOZBLOKADE();
  db::Query& Q_USUNBLOKADE();

 private:
  static db::Query& Get(std::unique_ptr<db::Query>& slot, db::Transaction& tr, const char* sql);
  std::string ProcedureCall(db::Transaction& tr, const std::string& name);

  TDM& dm_;
  std::unique_ptr<db::Query> ekspKonfQ_, ekspHeadQ_, ekspHeadUQ_, ekspDetailUQ_;
  std::unique_ptr<db::Query> dodajWiadomosc_, zalozBlokade_, usunBlokade_;
};

db::Query& TDM::Statements::Get(std::unique_ptr<db::Query>& slot, db::Transaction& tr,
                                const char* sql) {
  if (!slot) slot = std::make_unique<db::Query>(tr, sql);
  return *slot;
}

db::Query& TDM::Statements::EkspKonfQ() { return Get(ekspKonfQ_, dm_.Transaction, kEkspKonfSql); }
db::Query& TDM::Statements::EkspHeadQ() { return Get(ekspHeadQ_, dm_.EkspHeadT, kEkspHeadSql); }
db::Query& TDM::Statements::EkspHeadUQ() { return Get(ekspHeadUQ_, dm_.Transaction, kEkspHeadUSql); }
db::Query& TDM::Statements::EkspDetailUQ() {
  return Get(ekspDetailUQ_, dm_.Transaction, kEkspDetailUSql);
}
db::Query& TDM::Statements::Q_USUNBLOKADE() {
  return Get(usunBlokade_, dm_.T_BLOKADY, kUsunBlokadeSql);
}
db::Query& TDM::Statements::SP_DODAJWIADOMOSC() {
  if (!dodajWiadomosc_) {
    dodajWiadomosc_ =
        std::make_unique<db::Query>(dm_.Transaction, ProcedureCall(dm_.Transaction, "SP_DODAJWIADOMOSC"));
  }
  return *dodajWiadomosc_;
}
db::Query& TDM::Statements::SP_ZALOZBLOKADE() {
  if (!zalozBlokade_) {
    zalozBlokade_ =
        std::make_unique<db::Query>(dm_.T_BLOKADY, ProcedureCall(dm_.T_BLOKADY, "SP_ZALOZBLOKADE"));
  }
  return *zalozBlokade_;
}

std::string TDM::Statements::ProcedureCall(db::Transaction& tr, const std::string& name) {
  // The procedure's inputs are positional; their order is read from the
  // database's own catalogue so that every input gets its named parameter.
  const bool started = !tr.Active();
  if (started) tr.Start();
  std::string sql = "EXECUTE PROCEDURE " + name;
  try {
    db::Query params(tr, kProcParamsSql);
    params.SetText("NAME", name);
    params.Open();
    bool first = true;
    for (params.First(); !params.Eof(); params.Next()) {
      sql += first ? " :" : ", :";
      sql += Trim(params.FieldByName("RDB$PARAMETER_NAME").AsString());
      first = false;
    }
    params.Close();
  } catch (...) {
    if (started) RollbackQuietly(dm_, tr);
    throw;
  }
  if (started) tr.Commit();
  return sql;
}

// --- creation ----------------------------------------------------------------

TDM::TDM(ILogSink& log, IHostLink& host, RequestExporterFactory exporters)
    : log_(log), host_(host), exporters_(std::move(exporters)), q_(std::make_unique<Statements>(*this)) {
  HostGone = false;
  ReadSwitches();
}

TDM::~TDM() {
  q_.reset();  // statements go before their transactions and the connection
  if (DM == this) DM = nullptr;
}

void TDM::ReadSwitches() {
  DbHost = SwitchValue("DBHOST");
  DbPath = SwitchValue("DBPATH");
  DbFile = SwitchValue("DBFILE");
  StayOpen = SwitchValue("SHOW") == "1";
  HostWnd = StrToInt64Def(SwitchValue("HANDLE"), 0);
  KonfId = StrToIntDef(SwitchValue("ID"), 0);
  LogLevel = StrToIntDef(SwitchValue("LOGLEVEL"), 0);
}

// --- session start -------------------------------------------------------------

void TDM::Init() {
  try {
    TPassDM& pass = GetPassDM();
    if (!pass.GetPassword(DbHost, DbPath + DbFile)) throw Exception(".Auth " + pass.LastError);
    if (BazaDanych.Connected()) {
      q_ = std::make_unique<Statements>(*this);  // prepared on the old connection
      BazaDanych.ForceClose();
    }
    BazaDanych.SetDatabaseName(DatabaseName(DbHost, Trim(DbPath + DbFile)));
    BazaDanych.SetParams({"user_name=sysdba", "password=" + pass.Password, "lc_ctype=WIN1250"});
    BazaDanych.Connect();
  } catch (const std::exception& e) {
    throw Exception("TDM.Init.Connect " + ExceptionMessage(e));
  }

  try {
    StartTr(Transaction);
    db::Query& q = q_->EkspKonfQ();
    q.Close();
    q.SetInteger("ID", KonfId);
    q.Open();
    if (q.Eof()) {
      throw Exception("Nie znaleziono konfiguracji (EKSPKONF.ID=" + std::to_string(KonfId) + ")");
    }
    auto text = [&q](const char* name) { return Trim(q.FieldByName(name).AsString()); };
    auto integer = [&q](const char* name) { return q.FieldByName(name).AsInteger(); };
    Konf.ID = integer("ID");
    Konf.NAZWA = text("NAZWA");
    Konf.IDTABELI = integer("IDTABELI");
    Konf.LOGLEVEL = integer("LOGLEVEL");
    if (Konf.LOGLEVEL > LogLevel) LogLevel = Konf.LOGLEVEL;
    Konf.OPCJE = integer("OPCJE");
    Konf.KATALOGLOG = text("KATALOGLOG");
    Konf.KATALOG = text("KATALOG");
    Konf.EVENT1 = text("EVENT1");
    Konf.EVENT2 = text("EVENT2");
    Konf.IDSYSTEMOUT = integer("IDSYSTEMOUT");
    Konf.IDTABELIOUT = integer("IDTABELIOUT");
    Konf.USUNIETY = integer("USUNIETY") == 1;
    Konf.ARC = integer("ARC") == 1;
    Konf.WERSJAZRODLA = integer("WERSJAZRODLA");
    Konf.APPNAME = text("APPNAME");
    Konf.APPPARAMS = text("APPPARAMS");
    Konf.SERWER = text("SERWER");
    Konf.SCIEZKA = text("SCIEZKA");
    Konf.LOGIN = text("LOGIN");
    Konf.HASLO = text("HASLO");
    Konf.DODATKOWE = SplitLines(text("DODATKOWE"));
    q.Close();
    CommitTr(Transaction);
  } catch (const std::exception& e) {
    RollbackQuietly(*this, Transaction);
    throw Exception("TDM.Init.EkspKonf " + ExceptionMessage(e));
  }

  if (Konf.KATALOG.empty()) {
    throw Exception(
        "TDM.Init.Test "
        "Nie okre\x9C" "lono katalogu (EKSPKONF.KATALOG) do zapisu plik\xF3w.");
  }
}

// --- host notifications -------------------------------------------------------

void TDM::Notify(std::int32_t code, std::int32_t value, const std::string& text) {
  const HostNotice notice = MakeHostNotice(code, value, text);
  if (HostWnd != 0) {
    // A failed send is no error: its only effect is HostGone.
    std::int32_t answer = 0;
    try {
      answer = host_.Send(HostWnd, notice);
    } catch (...) {
      answer = 0;
    }
    HostGone = answer == 0;
  }
  if (code == kNoticeProgress) {
    log_.SetProgress(value);
  } else {
    log_.AddLog(NoticeLogText(notice));
  }
}

// --- transactions --------------------------------------------------------------

void TDM::StartTr(db::Transaction& tr) {
  if (!tr.Active()) tr.Start();
}

bool TDM::CommitTr(db::Transaction& tr) {
  if (!tr.Active()) return false;
  tr.Commit();
  return true;
}

bool TDM::RollbackTr(db::Transaction& tr) {
  if (!tr.Active()) return false;
  tr.Rollback();
  return true;
}

// --- locks -----------------------------------------------------------------------

bool TDM::SetObjectLock(std::int32_t type, std::int32_t id, std::int32_t session,
                        std::int32_t& lockId, bool ownTransaction) {
  std::int32_t newId = 0;
  try {
    if (ownTransaction) StartTr(T_BLOKADY);
    db::Query& sp = q_->SP_ZALOZBLOKADE();
    sp.Close();
    sp.SetInteger("ATYPOBIEKTU", type);
    sp.SetInteger("AIDOBIEKTU", id);
    sp.SetInteger("AIDSESJI", session);
    sp.ExecSQL();
    // Holder, time, session and description of an existing lock are not
    // passed on.
    newId = sp.FieldByName("OIDBLOKADY").AsInteger();
    sp.Close();
    if (ownTransaction) CommitTr(T_BLOKADY);
  } catch (const std::exception&) {
    if (ownTransaction) RollbackQuietly(*this, T_BLOKADY);
    return false;
  }
  lockId = newId;
  return lockId != -1;
}

void TDM::ReleaseObjectLock(std::int32_t lockId, bool ownTransaction) {
  try {
    if (ownTransaction) StartTr(T_BLOKADY);
    db::Query& q = q_->Q_USUNBLOKADE();
    q.SetInteger("ID", lockId);
    q.ExecSQL();
    if (ownTransaction) CommitTr(T_BLOKADY);
  } catch (const std::exception& e) {
    if (ownTransaction) RollbackQuietly(*this, T_BLOKADY);
    // Nothing is raised, but a lock left behind keeps the order from being
    // edited: the log says so.
    log_.AddLog("Nie zwolniono blokady (BLOKADY.IDBLOKADY=" + std::to_string(lockId) + ") \"" +
                ExceptionMessage(e) + "\"");
  }
}

// --- status writes and messages ---------------------------------------------

bool TDM::SetHeadStatus(std::int32_t id, std::int32_t status, std::string& statusText,
                        const std::string& log) {
  try {
    StartTr(Transaction);
    db::Query& q = q_->EkspHeadUQ();
    q.Close();
    q.SetInteger("ID", id);
    q.SetInteger("STATUS", status);
    q.SetText("STATUSINFO", LeftStr(statusText, 255));
    q.SetText("LOG", log);
    q.ExecSQL();
    CommitTr(Transaction);
    return true;
  } catch (const std::exception& e) {
    statusText = ExceptionMessage(e);
    RollbackQuietly(*this, Transaction);
    return false;
  }
}

bool TDM::SetDetailStatus(std::int32_t id, std::int32_t status, const std::string& statusText,
                          const std::string& documentNumber) {
  try {
    StartTr(Transaction);
    db::Query& q = q_->EkspDetailUQ();
    q.Close();
    q.SetInteger("ID", id);
    q.SetInteger("STATUS", status);
    q.SetText("STATUSINFO", LeftStr(statusText, 255));
    q.SetText("NUMERDOK", LeftStr(documentNumber, 50));
    q.ExecSQL();
    CommitTr(Transaction);
    return true;
  } catch (const std::exception& e) {
    Notify(kNoticeError, 0, LeftStr(ExceptionMessage(e), 255));
    RollbackQuietly(*this, Transaction);
    return false;
  }
}

void TDM::AddMessage(std::int32_t type, std::int32_t sender, std::int32_t addressee,
                     std::int32_t group, std::int32_t objectId, std::int32_t priority,
                     TDateTime activation, const std::string& subject, const std::string& body,
                     std::int32_t tableId) {
  try {
    StartTr(Transaction);
    db::Query& sp = q_->SP_DODAJWIADOMOSC();
    sp.Close();
    sp.SetInteger("AIDOPERATORA", sender);
    sp.SetInteger("AIDTYPU", type);
    sp.SetInteger("AIDADRESATA", addressee);
    sp.SetInteger("AIDGRUPY", group);
    sp.SetInteger("APRIORYTET", priority);
    sp.SetInteger("AIDOBIEKTU", objectId);
    sp.SetDateTime("ADATAAKTYWACJI", activation);
    sp.SetText("ATEMAT", LeftStr(subject, 250));
    sp.SetText("ATRESC", body);
    sp.SetInteger("AIDTABELI", tableId);
    sp.SetInteger("AIDRODZAJU", 0);
    sp.ExecSQL();
    sp.Close();
    CommitTr(Transaction);
  } catch (const std::exception& e) {
    // Nothing is raised, but a message the operator never gets is not lost
    // without trace: the log names it.
    RollbackQuietly(*this, Transaction);
    log_.AddLog("Nie wys\xB3" "ano wiadomo\x9C" "ci do operatora (ID=" + std::to_string(addressee) +
                ") \"" + LeftStr(subject, 250) + "\": \"" + ExceptionMessage(e) + "\"");
  }
}

// --- queue driver -----------------------------------------------------------------

namespace {

// done * 100 / rows, rounded to the nearest whole number, halves to even.
std::int32_t ProgressPercent(std::int32_t done, std::int32_t rows) {
  if (rows <= 0) return 0;
  const std::int64_t num = static_cast<std::int64_t>(done) * 100;
  std::int64_t q = num / rows;
  const std::int64_t twice = (num % rows) * 2;
  if (twice > rows || (twice == rows && q % 2 != 0)) ++q;
  return static_cast<std::int32_t>(q);
}

// A whole-number field as text; a null gives the empty text.
std::string CountText(const db::Value& v) {
  return v.IsNull() ? std::string() : std::to_string(v.AsInteger());
}

}  // namespace

std::int32_t TDM::Work() {
  std::string statusText;
  std::string logText;
  std::int32_t result = 0;
  std::int32_t done = 0;

  Init();
  Notify(kNoticeLog, 0, "Rozpocz\xEA" "cie pracy");

  auto closing = [this] {
    Notify(kNoticeProgress, 0, "");
    Notify(kNoticeLog, 0, "Koniec pracy");
  };

  try {
    StartTr(EkspHeadT);
    try {
      db::Query& q = q_->EkspHeadQ();
      q.Close();
      q.SetInteger("IDEKSPKONF", KonfId);
      q.Open();
      q.First();
      Notify(kNoticeProgress, 0, "");
      if (q.Eof()) {
        Notify(kNoticeLog, 0, "Brak danych do przetworzenia");
      } else {
        Notify(kNoticeLog, 0,
               "Do przetworzenia: " + std::to_string(q.RecordCount()) + " rekord\xF3w");
        while (!q.Eof() && !HostGone) {
          const std::int32_t id = q.FieldByName("ID").AsInteger();
          const db::Value& declared = q.FieldByName("ILOSCPOZYCJI");
          const db::Value& counted = q.FieldByName("ILOSCPOZYCJI2");
          const bool messages = IsBitSet(1, Konf.OPCJE);
          auto subject = [&q] {
            return "Problem przy eksporcie zleconym " +
                   DateTimeToText(q.FieldByName("DATA").AsDateTime()) + " (eksport anulowany)";
          };
          const std::int32_t operatorId = q.FieldByName("IDOPERATORA").AsInteger();

          if (declared.AsInteger() != counted.AsInteger()) {
            // Incomplete: left queued until the item count matches.
            const std::string warning = "Niezgodna ilo\x9C\xE6 pozycji do eksportu (" +
                                        CountText(declared) + ", " + CountText(counted) + ")";
            Notify(kNoticeWarning, 0, warning);
            result = 1;
            if (messages) AddMessage(1, -1, operatorId, -1, -1, 0, Now(), subject(), warning, -1);
          } else if (q.FieldByName("WAZNY").AsInteger() == 0) {
            // Expired: closed without processing.
            const std::string warning =
                "Przekroczony czas wa\xBFno\x9C" "ci danych do eksportu. Eksport anulowany.";
            statusText = "Przeterminowany";
            SetHeadStatus(id, 6, statusText, "");
            Notify(kNoticeWarning, 0, warning);
            result = 1;
            if (messages) AddMessage(1, -1, operatorId, -1, -1, 0, Now(), subject(), warning, -1);
          } else {
            statusText.clear();
            logText.clear();
            if (!SetHeadStatus(id, 1, statusText, logText)) {
              throw Exception("B\xB3\xB9" "d w czasie ustawiania statusu (EKSPHEAD.ID=" +
                              std::to_string(id) + ") \"" + statusText + "\"");
            }
            std::int32_t outcome = 0;
            {
              std::unique_ptr<IRequestExporter> exporter = exporters_(*this);
              if (!exporter) throw Exception("TdmEksporter.PEH");
              outcome = exporter->PEH(id, statusText, logText);
            }
            switch (outcome) {
              case 1:
                SetHeadStatus(id, 2, statusText, logText);
                Notify(kNoticeLog, 0, statusText);
                break;
              case 2:
                result = 1;
                SetHeadStatus(id, 3, statusText, logText);
                Notify(kNoticeWarning, 0, statusText);
                break;
              case 3:
                result = 2;
                SetHeadStatus(id, 4, statusText, logText);
                Notify(kNoticeError, 0, statusText);
                break;
              default:
                break;
            }
          }

          ++done;
          Notify(kNoticeProgress, ProgressPercent(done, q.RecordCount()), "");
          q.Next();
          log_.ProcessMessages();
        }
      }
      CommitTr(EkspHeadT);
    } catch (const std::exception& e) {
      RollbackQuietly(*this, EkspHeadT);
      throw Exception("TDM.Work(" + std::to_string(done) + ") " + ExceptionMessage(e));
    } catch (...) {
      RollbackQuietly(*this, EkspHeadT);
      throw;
    }
  } catch (...) {
    closing();
    throw;
  }
  closing();
  return result;
}

}  // namespace trelvex
