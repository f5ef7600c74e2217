#include "support/session_fixtures.h"

#include <filesystem>
#include <memory>

#include "common/encoding.h"
#include "common/error.h"
#include "support/test_db.h"

namespace trelvex::test {

std::int32_t RecordingHostLink::Send(std::int64_t hostWnd, const HostNotice& notice) {
  ReceivedNotice r;
  r.hostWnd = hostWnd;
  r.code = notice.Code;
  r.value = notice.Value;
  r.text.assign(notice.Text, notice.TextLength);
  received.push_back(r);
  return answer ? answer(received.size() - 1, received.back()) : 1;
}

namespace {

class ScriptedExporter : public IRequestExporter {
 public:
  ScriptedExporter(ExportScript& script, TDM& dm) : script_(script), dm_(dm) { ++script_.created; }
  ~ScriptedExporter() override { ++script_.destroyed; }

  std::int32_t PEH(std::int32_t requestId, std::string& summary, std::string& log) override {
    const std::size_t index = script_.exported.size();
    script_.exported.push_back(requestId);
    ExportStep step;
    if (index < script_.steps.size()) {
      step = script_.steps[index];
    } else {
      step.summary = "exported " + std::to_string(requestId);
    }
    if (step.action) step.action(dm_, requestId);
    summary = step.summary;
    log = step.log;
    return step.result;
  }

 private:
  ExportScript& script_;
  TDM& dm_;
};

}  // namespace

RequestExporterFactory ExportScript::Factory() {
  return [this](TDM& dm) -> std::unique_ptr<IRequestExporter> {
    return std::make_unique<ScriptedExporter>(*this, dm);
  };
}

std::string W(std::string_view utf8) { return Utf8ToCp1250(utf8); }

// --- the test database -------------------------------------------------------

struct SessionDb::Impl {
  TestDb file;
};

SessionDb::SessionDb() : impl_(std::make_unique<Impl>()) {}
SessionDb::~SessionDb() = default;

const std::string& SessionDb::Path() const { return impl_->file.Path(); }
db::Database& SessionDb::Admin() { return impl_->file.Db(); }
TestDb& SessionDb::File() { return impl_->file; }

void SessionDb::Exec(const std::string& sql) { impl_->file.Exec(sql); }

db::Value SessionDb::Value(const std::string& sql, const std::string& field) {
  db::Transaction tr(impl_->file.Db());
  tr.Start();
  db::Query q(tr, sql);
  q.Open();
  if (q.Eof()) throw Exception("no row: " + sql);
  db::Value v = q.FieldByName(field);
  tr.Commit();
  return v;
}

namespace {
// Name of the first column of a select list "SELECT <expr> FROM ...".
std::string FirstColumn(const std::string& sql) {
  const auto from = sql.find(" FROM ");
  std::string expr = sql.substr(7, from == std::string::npos ? std::string::npos : from - 7);
  const auto dot = expr.rfind('.');
  if (dot != std::string::npos) expr = expr.substr(dot + 1);
  return expr;
}
}  // namespace

std::int64_t SessionDb::Int(const std::string& sql) { return Value(sql, FirstColumn(sql)).AsInt64(); }
std::string SessionDb::Text(const std::string& sql) { return Value(sql, FirstColumn(sql)).AsString(); }
std::int64_t SessionDb::Count(const std::string& sql) {
  const std::string aliased = "SELECT COUNT(*) N" + sql.substr(sql.find(" FROM "));
  return Value(aliased, "N").AsInt64();
}

void SessionDb::AddKonf(std::int32_t id, const std::string& katalog, std::int32_t opcje,
                        const std::string& waznosc, std::int32_t loglevel) {
  Exec("INSERT INTO EKSPKONF (ID, NAZWA, OPCJE, LOGLEVEL, KATALOG, WAZNOSC) VALUES (" +
       std::to_string(id) + ", 'test', " + std::to_string(opcje) + ", " + std::to_string(loglevel) +
       ", '" + katalog + "', " + waznosc + ")");
}

void SessionDb::AddRequest(std::int32_t id, std::int32_t konf, const std::string& data, int items,
                           const std::string& declared, std::int32_t operatorId) {
  Exec("INSERT INTO EKSPHEAD (ID, IDEKSPKONF, DATA, STATUS, STATUSINFO, ILOSCPOZYCJI, IDOPERATORA, "
       "DATASTART, DATAKONIEC) VALUES (" +
       std::to_string(id) + ", " + std::to_string(konf) + ", " + data + ", 0, '', " +
       (declared.empty() ? std::to_string(items) : declared) + ", " + std::to_string(operatorId) +
       ", '30.12.1899', '30.12.1899')");
  for (int k = 1; k <= items; ++k) {
    Exec("INSERT INTO EKSPDETAIL (ID, IDEKSPHEAD, IDREKORDU, STATUS) VALUES (" +
         std::to_string(id * 100 + k) + ", " + std::to_string(id) + ", " +
         std::to_string(1000 + k) + ", 0)");
  }
}

RowBlocker::RowBlocker(const std::string& path, const std::string& updateSql) {
  db_.SetDatabaseName(path);
  db_.SetParams({std::string("user_name=") + TestDb::kUser,
                 std::string("password=") + TestDb::kPassword, "lc_ctype=WIN1250"});
  db_.Connect();
  tr_ = std::make_unique<db::Transaction>(db_);
  tr_->Start();
  db::Query q(*tr_, updateSql);
  q.ExecSQL();
}

RowBlocker::~RowBlocker() {
  tr_.reset();  // rolls back
  db_.ForceClose();
}

void PrepareSession(TDM& dm, const SessionDb& db, std::int32_t konfId) {
  const std::filesystem::path path(db.Path());
  dm.DbHost.clear();
  dm.DbPath = path.parent_path().string() + "/";
  dm.DbFile = path.filename().string();
  dm.KonfId = konfId;
  dm.HostWnd = 0;
  dm.HostGone = false;
}

void ResetProcessState() {
  GetPassDM().Password.clear();
  GetPassDM().LastError.clear();
  LogLevel = 0;
  StayOpen = false;
}

}  // namespace trelvex::test
