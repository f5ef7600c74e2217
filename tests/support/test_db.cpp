#include "support/test_db.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <system_error>

#include "common/error.h"

namespace trelvex::test {
namespace {

std::string RandomPart() {
  static std::mt19937_64 rng{std::random_device{}()};
  static const char digits[] = "0123456789abcdef";
  std::uint64_t v = rng();
  std::string r;
  for (int i = 0; i < 12; ++i, v >>= 4) r += digits[v & 15];
  return r;
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// The template database, built on first use. ctest runs every test in a
// process of its own, so the template is kept in the temporary folder under
// a name made from the schema script's text and shared by later processes;
// a changed script gives a new name. It is built in a private folder and
// renamed into place, so a process never sees a half-built template.
class Template {
 public:
  const std::string& Path() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty()) Find();
    return path_;
  }

 private:
  void Find() {
    const std::filesystem::path script = std::filesystem::path(TRELVEX_SOURCE_DIR) / "sql" / "retail_schema.sql";
    const std::string text = ReadFile(script);
    if (text.empty()) throw Exception("retail schema script missing: " + script.string());
    char name[64];
    std::snprintf(name, sizeof name, "trelvex-template-%016llx",
                  static_cast<unsigned long long>(Fnv1a(text)));
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / name;
    const std::filesystem::path file = dir / "retail.fdb";
    if (!std::filesystem::exists(file)) Build(script, dir);
    path_ = file.string();
  }

  static void Build(const std::filesystem::path& script, const std::filesystem::path& dir) {
    const std::filesystem::path work = MakeTempDir("trelvex-building-");
    const std::string path = (work / "retail.fdb").string();
    const std::filesystem::path log = work / "isql.log";
    try {
      db::CreateDatabase(path, TestDb::kUser, TestDb::kPassword);
      std::string cmd = std::string("isql-fb -b -q -user ") + TestDb::kUser + " -password " + TestDb::kPassword +
                        " -i '" + script.string() + "' '" + path + "' >'" + log.string() + "' 2>&1";
      if (std::system(cmd.c_str()) != 0) throw Exception("retail schema failed (" + cmd + "):\n" + ReadFile(log));
    } catch (...) {
      std::error_code ec;
      std::filesystem::remove_all(work, ec);
      throw;
    }
    std::error_code ec;
    std::filesystem::rename(work, dir, ec);  // fails when another process was first: use its template
    if (ec) std::filesystem::remove_all(work, ec);
  }

  std::mutex mutex_;
  std::string path_;
};

Template& TheTemplate() {
  static Template t;
  return t;
}

}  // namespace

std::filesystem::path MakeTempDir(const std::string& prefix) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path p = base / (prefix + RandomPart());
    if (std::filesystem::create_directory(p)) return p;
  }
  throw Exception("cannot make a temporary folder in " + base.string());
}

const std::string& TestDb::TemplatePath() { return TheTemplate().Path(); }

TestDb::TestDb() {
  const std::string& tmpl = TemplatePath();
  dir_ = MakeTempDir("trelvex-db-");
  path_ = (dir_ / "retail.fdb").string();
  std::filesystem::copy_file(tmpl, path_);
}

TestDb::~TestDb() {
  db_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

const std::string& TestDb::Path() const { return path_; }
const std::filesystem::path& TestDb::Dir() const { return dir_; }

db::Database& TestDb::Db() {
  if (!db_) db_ = std::make_unique<db::Database>();
  if (!db_->Connected()) {
    db_->SetDatabaseName(path_);
    db_->SetParams({std::string("user_name=") + kUser, std::string("password=") + kPassword, "lc_ctype=WIN1250"});
    db_->Connect();
  }
  return *db_;
}

void TestDb::Close() {
  if (db_) db_->ForceClose();
}

void TestDb::Reopen() {
  Close();
  Db();
}

void TestDb::Exec(const std::string& sql) {
  db::Transaction tr(Db());
  tr.Start();
  db::Query q(tr, sql);
  q.ExecSQL();
  tr.Commit();
}

std::vector<std::vector<db::Value>> TestDb::Rows(const std::string& sql) {
  db::Transaction tr(Db());
  tr.Start();
  db::Query q(tr, sql);
  q.Open();
  std::vector<std::vector<db::Value>> rows;
  for (; !q.Eof(); q.Next()) {
    std::vector<db::Value> row;
    for (int i = 0; i < q.FieldCount(); ++i) row.push_back(q.Field(i));
    rows.push_back(std::move(row));
  }
  tr.Commit();
  return rows;
}

std::vector<db::Value> TestDb::Row(const std::string& sql) {
  auto rows = Rows(sql);
  if (rows.empty()) throw Exception("no row: " + sql);
  return std::move(rows.front());
}

db::Value TestDb::Scalar(const std::string& sql) {
  auto row = Row(sql);
  if (row.empty()) throw Exception("no column: " + sql);
  return row.front();
}

}  // namespace trelvex::test
