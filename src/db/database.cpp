// Connections, transactions and statements over the Firebird client's legacy
// C interface (loaded at run time, see fb_client.h). Everything runs with SQL
// dialect 1.
#include "db/database.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "common/text.h"
#include "db/fb_client.h"
#include "db/fb_datetime.h"

namespace trelvex::db {
namespace {

constexpr unsigned short kDialect = 1;
constexpr std::size_t kBlobChunk = 32768;  // segment size for blob reads and writes

// "Nie można załadować biblioteki klienta Firebird (" in Windows-1250.
const char kLoadFailed[] = "Nie mo\xBFna za\xB3" "adowa\xE6 biblioteki klienta Firebird (";

std::string JoinNames(const std::vector<std::string>& names) {
  std::string r;
  for (const std::string& n : names) {
    if (!r.empty()) r += ", ";
    r += n;
  }
  return r;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string AsciiUpper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = AsciiUpper(c);
  return r;
}

// Case-insensitive (ASCII) hashing and comparison, usable with string_view
// keys without building a string for every lookup.
struct NoCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    // FNV-1a over 64 bits, folded to the platform's size_t.
    std::uint64_t h = 1469598103934665603ull;
    for (char c : s) {
      h ^= static_cast<unsigned char>(AsciiUpper(c));
      h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
  }
};
using NameMap = std::unordered_map<std::string, int, NoCaseHash, NoCaseEqual>;

std::int32_t ReadLittle(const char* p, int len) {
  std::uint32_t v = 0;
  for (int i = 0; i < len && i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  if (len == 2) return static_cast<std::int16_t>(v);
  if (len == 1) return static_cast<std::int8_t>(v);
  return static_cast<std::int32_t>(v);
}

// An XSQLDA with room for `n` variables, suitably aligned.
class SqlDa {
 public:
  explicit SqlDa(int n = 1) { Resize(n); }
  void Resize(int n) {
    if (n < 1) n = 1;
    storage_.assign((XSQLDA_LENGTH(n) + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t), 0);
    da()->version = SQLDA_VERSION1;
    da()->sqln = static_cast<short>(n);
  }
  XSQLDA* da() { return reinterpret_cast<XSQLDA*>(storage_.data()); }
  const XSQLDA* da() const { return reinterpret_cast<const XSQLDA*>(storage_.data()); }
  XSQLVAR& var(int i) { return da()->sqlvar[i]; }

 private:
  std::vector<std::uint64_t> storage_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The client library

template <class F>
void FbClient::Load(F& fn, const char* name) {
  void* p = library_->Symbol(name);
  if (!p)
    throw EDatabaseError(std::string(kLoadFailed) + "): brak funkcji " + name);
  fn = reinterpret_cast<F>(p);
}

FbClient::FbClient(const std::vector<std::string>& names) {
  std::string error;
  library_ = platform::LoadSharedLibrary(names, error);
  if (!library_) throw EDatabaseError(std::string(kLoadFailed) + JoinNames(names) + "): " + error);
  Load(attach_database, "isc_attach_database");
  Load(detach_database, "isc_detach_database");
  Load(start_transaction, "isc_start_transaction");
  Load(commit_transaction, "isc_commit_transaction");
  Load(rollback_transaction, "isc_rollback_transaction");
  Load(dsql_allocate_statement, "isc_dsql_allocate_statement");
  Load(dsql_prepare, "isc_dsql_prepare");
  Load(dsql_describe, "isc_dsql_describe");
  Load(dsql_describe_bind, "isc_dsql_describe_bind");
  Load(dsql_execute, "isc_dsql_execute");
  Load(dsql_execute2, "isc_dsql_execute2");
  Load(dsql_execute_immediate, "isc_dsql_execute_immediate");
  Load(dsql_fetch, "isc_dsql_fetch");
  Load(dsql_free_statement, "isc_dsql_free_statement");
  Load(dsql_sql_info, "isc_dsql_sql_info");
  Load(open_blob2, "isc_open_blob2");
  Load(create_blob2, "isc_create_blob2");
  Load(get_segment, "isc_get_segment");
  Load(put_segment, "isc_put_segment");
  Load(close_blob, "isc_close_blob");
  Load(cancel_blob, "isc_cancel_blob");
  Load(interpret, "fb_interpret");
}

std::string FbClient::StatusText(const ISC_STATUS* status) const {
  std::string text;
  const ISC_STATUS* p = status;
  char buf[1024];
  while (interpret(buf, sizeof buf, &p) > 0) {
    if (!text.empty()) text += "\r\n";
    text += buf;
  }
  return text;
}

void FbClient::Raise(const ISC_STATUS* status) const {
  std::string text = StatusText(status);
  if (text.empty()) text = "Firebird error " + std::to_string(status[1]);
  throw EDatabaseError(std::move(text));
}

FbClient& Client() {
  static std::mutex mutex;
  // Never freed: the library stays loaded until the process ends.
  static FbClient* client = nullptr;
  std::lock_guard<std::mutex> lock(mutex);
  if (!client) client = new FbClient(platform::FirebirdClientLibraryNames());
  return *client;
}

void CheckClientLibrary(const std::vector<std::string>& names) { FbClient probe(names); }

namespace {

std::string QuoteLiteral(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    r += c;
    if (c == '\'') r += '\'';
  }
  return r + "'";
}

}  // namespace

void CreateDatabase(const std::string& name, const std::string& user, const std::string& password) {
  FbClient& fb = Client();
  std::string sql = "CREATE DATABASE " + QuoteLiteral(name) + " USER " + QuoteLiteral(user) +
                    " PASSWORD " + QuoteLiteral(password) + " PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1250";
  ISC_STATUS_ARRAY st{};
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  if (fb.dsql_execute_immediate(st, &db, &tr, 0, sql.c_str(), kDialect, nullptr)) fb.Raise(st);
  fb.detach_database(st, &db);
  fb.Check(st);
}

// ---------------------------------------------------------------------------
// Database

struct Database::Impl {
  std::string name;
  std::vector<std::string> params;
  isc_db_handle handle = 0;
  // Changes with every connect and close, so that transactions and
  // statements notice that their handles belong to a closed attachment.
  std::uint64_t generation = 1;
  std::vector<Transaction::Impl*> transactions;
};

struct Transaction::Impl {
  Database* db;
  isc_tr_handle handle = 0;
  std::uint64_t generation = 0;

  bool Live() const { return handle != 0 && db && db->impl().generation == generation; }
  // Rolls back ignoring errors; the handle is dropped in any case.
  void RollbackQuietly() noexcept {
    if (handle != 0) {
      if (Live()) {
        try {
          ISC_STATUS_ARRAY st{};
          Client().rollback_transaction(st, &handle);
        } catch (...) {
        }
      }
      handle = 0;
    }
  }
};

Database::Database() : impl_(std::make_unique<Impl>()) {}

Database::~Database() {
  ForceClose();
  for (Transaction::Impl* t : impl_->transactions) t->db = nullptr;
}

void Database::SetDatabaseName(std::string name) { impl_->name = std::move(name); }
const std::string& Database::DatabaseName() const { return impl_->name; }
void Database::SetParams(std::vector<std::string> params) { impl_->params = std::move(params); }
const std::vector<std::string>& Database::Params() const { return impl_->params; }
Database::Impl& Database::impl() { return *impl_; }
bool Database::Connected() const { return impl_->handle != 0; }

void Database::Connect() {
  if (impl_->handle != 0) throw EDatabaseError("Database is already connected");
  FbClient& fb = Client();
  std::string dpb;
  dpb += static_cast<char>(isc_dpb_version1);
  dpb += static_cast<char>(isc_dpb_sql_dialect);
  dpb += static_cast<char>(1);
  dpb += static_cast<char>(kDialect);
  for (const std::string& line : impl_->params) {
    std::string::size_type eq = line.find('=');
    std::string key = AsciiUpper(Trim(line.substr(0, eq)));
    std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    char item;
    if (key.empty()) continue;
    if (key == "USER_NAME" || key == "USER")
      item = isc_dpb_user_name;
    else if (key == "PASSWORD")
      item = isc_dpb_password;
    else if (key == "LC_CTYPE")
      item = isc_dpb_lc_ctype;
    else if (key == "SQL_ROLE_NAME")
      item = isc_dpb_sql_role_name;
    else  // "Nieznany parametr połączenia: "
      throw EDatabaseError("Nieznany parametr po\xB3\xB9" "czenia: " + line);
    if (value.size() > 255)
      throw EDatabaseError("Zbyt d\xB3ugi parametr po\xB3\xB9" "czenia: " + key);  // "Zbyt długi ..."
    dpb += item;
    dpb += static_cast<char>(value.size());
    dpb += value;
  }
  ISC_STATUS_ARRAY st{};
  isc_db_handle handle = 0;
  if (fb.attach_database(st, 0, impl_->name.c_str(), &handle, static_cast<short>(dpb.size()), dpb.data()))
    fb.Raise(st);
  impl_->handle = handle;
  ++impl_->generation;
}

void Database::ForceClose() {
  if (impl_->handle == 0) return;
  for (Transaction::Impl* t : impl_->transactions) t->RollbackQuietly();
  try {
    ISC_STATUS_ARRAY st{};
    Client().detach_database(st, &impl_->handle);
  } catch (...) {
  }
  impl_->handle = 0;
  ++impl_->generation;
}

// ---------------------------------------------------------------------------
// Transaction

Transaction::Transaction(Database& db) : impl_(std::make_unique<Impl>()) {
  impl_->db = &db;
  db.impl().transactions.push_back(impl_.get());
}

Transaction::~Transaction() {
  impl_->RollbackQuietly();
  if (impl_->db) {
    auto& list = impl_->db->impl().transactions;
    list.erase(std::remove(list.begin(), list.end(), impl_.get()), list.end());
  }
}

Database& Transaction::database() { return *impl_->db; }
Transaction::Impl& Transaction::impl() { return *impl_; }

bool Transaction::Active() const {
  if (impl_->handle != 0 && !impl_->Live()) impl_->handle = 0;  // its attachment is gone
  return impl_->handle != 0;
}

void Transaction::Start() {
  if (Active()) throw EDatabaseError("Transaction is already active");
  if (!impl_->db) throw EDatabaseError("Transaction has no database");
  FbClient& fb = Client();
  static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                             isc_tpb_nowait};
  Database::Impl& db = impl_->db->impl();
  ISC_STATUS_ARRAY st{};
  isc_tr_handle handle = 0;
  if (fb.start_transaction(st, &handle, 1, &db.handle, static_cast<unsigned short>(sizeof tpb), tpb))
    fb.Raise(st);
  impl_->handle = handle;
  impl_->generation = db.generation;
}

void Transaction::Commit() {
  if (!Active()) throw EDatabaseError("Transaction is not active");
  FbClient& fb = Client();
  ISC_STATUS_ARRAY st{};
  // On failure the transaction stays active, so that the caller can roll back.
  if (fb.commit_transaction(st, &impl_->handle)) fb.Raise(st);
  impl_->handle = 0;
}

void Transaction::Rollback() {
  if (!Active()) throw EDatabaseError("Transaction is not active");
  FbClient& fb = Client();
  ISC_STATUS_ARRAY st{};
  if (fb.rollback_transaction(st, &impl_->handle)) {
    std::string text = fb.StatusText(st);
    impl_->handle = 0;  // the server drops it anyway on a broken attachment
    throw EDatabaseError(std::move(text));
  }
  impl_->handle = 0;
}

// ---------------------------------------------------------------------------
// Query

namespace {

// How an output column is turned into a Value.
enum class ColumnKind { Text, Varying, Short, Long, Int64, Float, Double, Timestamp, Date, Time, Blob, Boolean, Null };

struct Column {
  ColumnKind kind;
  short scale;
  short len;  // bytes of a fixed text
  char* data;
  short* ind;
};

struct ParamSlot {
  short type;  // as described, without the null flag
  short subtype;
  short scale;
  short len;
  union {
    std::int64_t i64;
    double dbl;
    ISC_TIMESTAMP ts;
    ISC_QUAD quad;
  } num{};
  std::string text;  // text bytes, or a zeroed buffer for a null
  short ind = 0;
};

double Pow10(int n) {
  double r = 1.0;
  for (int i = 0; i < n; ++i) r *= 10.0;
  return r;
}

// Replaces :NAME markers by '?' and lists the names in order. Literals in
// single or double quotes and comments are copied unscanned.
void ParseSql(const std::string& sql, std::string& out, NameMap& names, std::vector<std::string>& distinct,
              std::vector<int>& occurrences) {
  out.clear();
  out.reserve(sql.size());
  const std::size_t n = sql.size();
  std::size_t i = 0;
  auto isStart = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  auto isPart = [&](char c) { return isStart(c) || (c >= '0' && c <= '9') || c == '$'; };
  while (i < n) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      while (j < n) {
        if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
      out.append(sql, i, j - i);
      i = j;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      std::size_t j = sql.find('\n', i);
      j = j == std::string::npos ? n : j;
      out.append(sql, i, j - i);
      i = j;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      std::size_t j = sql.find("*/", i + 2);
      j = j == std::string::npos ? n : j + 2;
      out.append(sql, i, j - i);
      i = j;
    } else if (c == ':' && i + 1 < n && isStart(sql[i + 1])) {
      std::size_t j = i + 1;
      while (j < n && isPart(sql[j])) ++j;
      std::string name = AsciiUpper(std::string_view(sql).substr(i + 1, j - i - 1));
      auto it = names.find(name);
      int index;
      if (it == names.end()) {
        index = static_cast<int>(distinct.size());
        names.emplace(name, index);
        distinct.push_back(name);
      } else {
        index = it->second;
      }
      occurrences.push_back(index);
      out += '?';
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
}

}  // namespace

struct Query::Impl {
  Transaction& tr;
  std::string sql;
  std::string parsedSql;
  NameMap paramIndex;
  std::vector<std::string> paramNames;
  std::vector<int> occurrences;  // distinct parameter of each marker
  std::vector<Value> paramValues;

  // Prepared statement.
  isc_stmt_handle stmt = 0;
  Database* stmtDb = nullptr;
  std::uint64_t stmtGeneration = 0;
  int stmtType = 0;
  SqlDa in, out;
  std::vector<ParamSlot> slots;
  std::vector<std::uint64_t> outBuffer;
  std::vector<short> outInd;
  std::vector<Column> columns;
  NameMap columnIndex;

  // Fetched rows, packed one after another (a tag byte per field, then its
  // bytes), so that a large result keeps only the room its values need; the
  // current row is unpacked into `row` when the cursor reaches it.
  std::vector<char> packed;
  std::vector<std::size_t> rowStart;
  mutable std::vector<Value> row;
  mutable int unpacked = -1;
  int recordCount = 0;
  int current = 0;
  bool active = false;
  std::int64_t rowsAffected = -1;

  Impl(Transaction& t, std::string s) : tr(t), sql(std::move(s)) {
    ParseSql(sql, parsedSql, paramIndex, paramNames, occurrences);
    paramValues.resize(paramNames.size());
  }

  bool Prepared() const {
    return stmt != 0 && stmtDb == tr.impl().db && stmtDb && stmtDb->impl().generation == stmtGeneration;
  }

  void FreeStatement() noexcept {
    if (stmt != 0 && stmtDb && stmtDb->impl().generation == stmtGeneration) {
      try {
        ISC_STATUS_ARRAY st{};
        Client().dsql_free_statement(st, &stmt, DSQL_drop);
      } catch (...) {
      }
    }
    stmt = 0;
  }

  void EnsureTransaction() {
    if (!tr.Active()) tr.Start();
  }

  void Prepare(FbClient& fb) {
    FreeStatement();
    Database::Impl& db = tr.database().impl();
    ISC_STATUS_ARRAY st{};
    isc_stmt_handle h = 0;
    if (fb.dsql_allocate_statement(st, &db.handle, &h)) fb.Raise(st);
    stmt = h;
    stmtDb = &tr.database();
    stmtGeneration = db.generation;
    try {
      out.Resize(std::max<int>(1, out.da()->sqln));
      if (fb.dsql_prepare(st, &tr.impl().handle, &stmt, 0, parsedSql.c_str(), kDialect, out.da())) fb.Raise(st);
      if (out.da()->sqld > out.da()->sqln) {
        out.Resize(out.da()->sqld);
        if (fb.dsql_describe(st, &stmt, kDialect, out.da())) fb.Raise(st);
      }
      in.Resize(std::max<int>(1, static_cast<int>(occurrences.size())));
      if (fb.dsql_describe_bind(st, &stmt, kDialect, in.da())) fb.Raise(st);
      if (in.da()->sqld > in.da()->sqln) {
        in.Resize(in.da()->sqld);
        if (fb.dsql_describe_bind(st, &stmt, kDialect, in.da())) fb.Raise(st);
      }
      if (in.da()->sqld != static_cast<short>(occurrences.size()))
        throw EDatabaseError("Statement parameters do not match its :NAME markers");
      ReadStatementType(fb);
      LayOutColumns();
      LayOutParams();
    } catch (...) {
      FreeStatement();
      throw;
    }
  }

  void ReadStatementType(FbClient& fb) {
    const char items[] = {isc_info_sql_stmt_type};
    char buf[16] = {};
    ISC_STATUS_ARRAY st{};
    if (fb.dsql_sql_info(st, &stmt, sizeof items, items, sizeof buf, buf)) fb.Raise(st);
    stmtType = 0;
    if (buf[0] == isc_info_sql_stmt_type) {
      int len = ReadLittle(buf + 1, 2);
      stmtType = ReadLittle(buf + 3, len);
    }
  }

  void LayOutColumns() {
    XSQLDA* da = out.da();
    int n = da->sqld;
    columns.assign(n, Column{});
    columnIndex.clear();
    outInd.assign(n, 0);
    std::size_t offset = 0;  // in bytes, each column 8-byte aligned
    std::vector<std::size_t> offsets(n);
    for (int i = 0; i < n; ++i) {
      XSQLVAR& v = da->sqlvar[i];
      Column& c = columns[i];
      c.scale = v.sqlscale;
      c.len = v.sqllen;
      std::size_t size;
      switch (v.sqltype & ~1) {
        case SQL_TEXT: c.kind = ColumnKind::Text; size = v.sqllen; break;
        case SQL_VARYING: c.kind = ColumnKind::Varying; size = v.sqllen + 2; break;
        case SQL_SHORT: c.kind = ColumnKind::Short; size = 2; break;
        case SQL_LONG: c.kind = ColumnKind::Long; size = 4; break;
        case SQL_INT64: c.kind = ColumnKind::Int64; size = 8; break;
        case SQL_FLOAT: c.kind = ColumnKind::Float; size = 4; break;
        case SQL_DOUBLE:
        case SQL_D_FLOAT: c.kind = ColumnKind::Double; size = 8; break;
        case SQL_TIMESTAMP: c.kind = ColumnKind::Timestamp; size = 8; break;
        case SQL_TYPE_DATE: c.kind = ColumnKind::Date; size = 4; break;
        case SQL_TYPE_TIME: c.kind = ColumnKind::Time; size = 4; break;
        case SQL_BLOB: c.kind = ColumnKind::Blob; size = 8; break;
        case SQL_BOOLEAN: c.kind = ColumnKind::Boolean; size = 1; break;
        case SQL_NULL: c.kind = ColumnKind::Null; size = 0; break;
        default:
          throw EDatabaseError("Unsupported data type " + std::to_string(v.sqltype & ~1) + " of column " +
                               std::string(v.aliasname, v.aliasname_length));
      }
      v.sqltype |= 1;  // always report nulls through the indicator
      offsets[i] = offset;
      offset += (size + 7) & ~std::size_t{7};
      columnIndex.emplace(std::string(v.aliasname, v.aliasname_length), i);  // the first of a name wins
    }
    outBuffer.assign(offset / 8 + 1, 0);
    char* base = reinterpret_cast<char*>(outBuffer.data());
    for (int i = 0; i < n; ++i) {
      da->sqlvar[i].sqldata = base + offsets[i];
      da->sqlvar[i].sqlind = &outInd[i];
      columns[i].data = base + offsets[i];
      columns[i].ind = &outInd[i];
    }
  }

  void LayOutParams() {
    XSQLDA* da = in.da();
    slots.assign(da->sqld, ParamSlot{});
    for (int i = 0; i < da->sqld; ++i) {
      XSQLVAR& v = da->sqlvar[i];
      ParamSlot& s = slots[i];
      s.type = static_cast<short>(v.sqltype & ~1);
      s.subtype = v.sqlsubtype;
      s.scale = v.sqlscale;
      s.len = v.sqllen;
    }
  }

  ISC_QUAD WriteBlob(FbClient& fb, const std::string& text) {
    Database::Impl& db = tr.database().impl();
    ISC_STATUS_ARRAY st{};
    isc_blob_handle blob = 0;
    ISC_QUAD id{};
    if (fb.create_blob2(st, &db.handle, &tr.impl().handle, &blob, &id, 0, nullptr)) fb.Raise(st);
    for (std::size_t pos = 0; pos < text.size(); pos += kBlobChunk) {
      std::size_t len = std::min(kBlobChunk, text.size() - pos);
      if (fb.put_segment(st, &blob, static_cast<unsigned short>(len), text.data() + pos)) {
        std::string msg = fb.StatusText(st);
        ISC_STATUS_ARRAY st2{};
        fb.cancel_blob(st2, &blob);
        throw EDatabaseError(std::move(msg));
      }
    }
    if (fb.close_blob(st, &blob)) fb.Raise(st);
    return id;
  }

  std::string ReadBlob(FbClient& fb, ISC_QUAD id) {
    Database::Impl& db = tr.database().impl();
    ISC_STATUS_ARRAY st{};
    isc_blob_handle blob = 0;
    if (fb.open_blob2(st, &db.handle, &tr.impl().handle, &blob, &id, 0, nullptr)) fb.Raise(st);
    // Segments are read into a scratch buffer and appended, so the text
    // held for the row takes only the room it needs (rows of a large request
    // are all kept in memory).
    std::string text;
    char chunk[kBlobChunk];
    for (;;) {
      unsigned short got = 0;
      ISC_STATUS rc = fb.get_segment(st, &blob, &got, static_cast<unsigned short>(kBlobChunk), chunk);
      text.append(chunk, got);
      if (rc == 0 || rc == isc_segment) continue;
      if (rc == isc_segstr_eof) break;
      std::string msg = fb.StatusText(st);
      ISC_STATUS_ARRAY st2{};
      fb.close_blob(st2, &blob);
      throw EDatabaseError(std::move(msg));
    }
    if (fb.close_blob(st, &blob)) fb.Raise(st);
    return text;
  }

  // Fills the input descriptors from the parameter values. Texts go to text
  // and blob parameters as they are; other values are handed over in their
  // own type and converted by the server to the parameter's type.
  void BindParams(FbClient& fb) {
    XSQLDA* da = in.da();
    for (int i = 0; i < da->sqld; ++i) {
      XSQLVAR& v = da->sqlvar[i];
      ParamSlot& s = slots[i];
      const Value& value = paramValues[occurrences[i]];
      const Value::Storage& raw = value.Raw();
      v.sqlind = &s.ind;
      v.sqlscale = 0;
      v.sqlsubtype = s.subtype;
      s.ind = 0;
      if (value.IsNull()) {
        s.ind = -1;
        v.sqltype = static_cast<short>(s.type | 1);
        v.sqllen = s.len;
        v.sqlscale = s.scale;
        s.text.assign(static_cast<std::size_t>(std::max<short>(s.len, 0)) + 2, '\0');
        v.sqldata = s.text.data();
        continue;
      }
      if (s.type == SQL_TEXT || s.type == SQL_VARYING || s.type == SQL_BLOB || raw.index() == 3) {
        s.text = value.AsString();
        if (s.type == SQL_BLOB) {
          s.num.quad = WriteBlob(fb, s.text);
          v.sqltype = SQL_BLOB | 1;
          v.sqllen = sizeof(ISC_QUAD);
          v.sqldata = reinterpret_cast<char*>(&s.num.quad);
          continue;
        }
        if (s.text.size() > 32765) throw EDatabaseError("Text parameter too long: " + paramNames[occurrences[i]]);
        v.sqltype = SQL_TEXT | 1;
        v.sqllen = static_cast<short>(s.text.size());
        if (s.type != SQL_TEXT && s.type != SQL_VARYING) v.sqlsubtype = 0;
        v.sqldata = s.text.data();
        continue;
      }
      switch (raw.index()) {
        case 1: {
          std::int64_t x = std::get<1>(raw);
          if (s.type == SQL_SHORT || s.type == SQL_LONG || s.type == SQL_INT64) {
            // Scaled to the parameter's exact type, so no precision is lost.
            if (s.scale < 0) {
              double f = static_cast<double>(x) * Pow10(-s.scale);
              if (std::fabs(f) < 9.2e18) {
                x *= static_cast<std::int64_t>(Pow10(-s.scale));
                v.sqlscale = s.scale;
              } else {
                s.num.dbl = static_cast<double>(std::get<1>(raw));
                v.sqltype = SQL_DOUBLE | 1;
                v.sqllen = sizeof(double);
                v.sqldata = reinterpret_cast<char*>(&s.num.dbl);
                break;
              }
            }
            s.num.i64 = x;
            v.sqltype = SQL_INT64 | 1;
            v.sqllen = sizeof(std::int64_t);
          } else if (x >= INT32_MIN && x <= INT32_MAX) {
            std::int32_t small = static_cast<std::int32_t>(x);
            std::memcpy(&s.num, &small, sizeof small);
            v.sqltype = SQL_LONG | 1;
            v.sqllen = sizeof(std::int32_t);
          } else {
            s.num.i64 = x;
            v.sqltype = SQL_INT64 | 1;
            v.sqllen = sizeof(std::int64_t);
          }
          v.sqldata = reinterpret_cast<char*>(&s.num);
          break;
        }
        case 2: {
          s.num.dbl = std::get<2>(raw);
          v.sqltype = SQL_DOUBLE | 1;
          v.sqllen = sizeof(double);
          v.sqldata = reinterpret_cast<char*>(&s.num.dbl);
          break;
        }
        default: {
          TDateTime t = std::get<4>(raw);
          if (!FitsFbDateTime(t)) throw EDatabaseError("Invalid date and time value: " + paramNames[occurrences[i]]);
          FbDateTime fd = ToFbDateTime(t);
          s.num.ts.timestamp_date = fd.mjd;
          s.num.ts.timestamp_time = fd.ticks;
          v.sqltype = SQL_TIMESTAMP | 1;
          v.sqllen = sizeof(ISC_TIMESTAMP);
          v.sqldata = reinterpret_cast<char*>(&s.num.ts);
          break;
        }
      }
    }
  }

  enum Tag : char { kTagNull, kTagInt, kTagFloat, kTagText, kTagDateTime };

  void PackNull() { packed.push_back(kTagNull); }
  void PackBytes(Tag tag, const void* p, std::size_t n) {
    packed.push_back(tag);
    const char* c = static_cast<const char*>(p);
    packed.insert(packed.end(), c, c + n);
  }
  void Pack(const Value& v) {
    const Value::Storage& raw = v.Raw();
    switch (raw.index()) {
      case 1:
        PackBytes(kTagInt, &std::get<1>(raw), 8);
        break;
      case 2:
        PackBytes(kTagFloat, &std::get<2>(raw), 8);
        break;
      case 3: {
        const std::string& t = std::get<3>(raw);
        const std::uint32_t n = static_cast<std::uint32_t>(t.size());
        PackBytes(kTagText, &n, 4);
        packed.insert(packed.end(), t.begin(), t.end());
        break;
      }
      case 4:
        PackBytes(kTagDateTime, &std::get<4>(raw), 8);
        break;
      default:
        PackNull();
        break;
    }
  }

  // The values of the current row.
  const std::vector<Value>& CurrentRow() const {
    if (unpacked == current) return row;
    row.resize(columns.size());
    const char* p = packed.data() + rowStart[static_cast<std::size_t>(current)];
    for (Value& v : row) {
      const char tag = *p++;
      switch (tag) {
        case kTagInt: {
          std::int64_t x;
          std::memcpy(&x, p, 8);
          p += 8;
          v = Value::FromInt(x);
          break;
        }
        case kTagFloat: {
          double x;
          std::memcpy(&x, p, 8);
          p += 8;
          v = Value::FromFloat(x);
          break;
        }
        case kTagDateTime: {
          double x;
          std::memcpy(&x, p, 8);
          p += 8;
          v = Value::FromDateTime(x);
          break;
        }
        case kTagText: {
          std::uint32_t n;
          std::memcpy(&n, p, 4);
          p += 4;
          v = Value::FromText(std::string(p, n));
          p += n;
          break;
        }
        default:
          v = Value();
          break;
      }
    }
    unpacked = current;
    return row;
  }

  void ClearRows() {
    packed.clear();
    rowStart.clear();
    unpacked = -1;
    recordCount = 0;
  }

  // Appends the current output row to the packed rows.
  void StoreRow(FbClient& fb) {
    rowStart.push_back(packed.size());
    for (const Column& c : columns) {
      if (*c.ind < 0 || c.kind == ColumnKind::Null) {
        PackNull();
        continue;
      }
      const char* d = c.data;
      switch (c.kind) {
        case ColumnKind::Text:
          Pack(Value::FromText(std::string(d, static_cast<std::size_t>(c.len))));
          break;
        case ColumnKind::Varying: {
          std::uint16_t len;
          std::memcpy(&len, d, 2);
          Pack(Value::FromText(std::string(d + 2, len)));
          break;
        }
        case ColumnKind::Short: {
          std::int16_t x;
          std::memcpy(&x, d, 2);
          Pack(Scaled(x, c.scale));
          break;
        }
        case ColumnKind::Long: {
          std::int32_t x;
          std::memcpy(&x, d, 4);
          Pack(Scaled(x, c.scale));
          break;
        }
        case ColumnKind::Int64: {
          std::int64_t x;
          std::memcpy(&x, d, 8);
          Pack(Scaled(x, c.scale));
          break;
        }
        case ColumnKind::Float: {
          float x;
          std::memcpy(&x, d, 4);
          Pack(Value::FromFloat(x));
          break;
        }
        case ColumnKind::Double: {
          double x;
          std::memcpy(&x, d, 8);
          Pack(Value::FromFloat(x));
          break;
        }
        case ColumnKind::Timestamp: {
          ISC_TIMESTAMP ts;
          std::memcpy(&ts, d, sizeof ts);
          Pack(Value::FromDateTime(FromFbDateTime(ts.timestamp_date, ts.timestamp_time)));
          break;
        }
        case ColumnKind::Date: {
          ISC_DATE x;
          std::memcpy(&x, d, sizeof x);
          Pack(Value::FromDateTime(FromFbDateTime(x, 0)));
          break;
        }
        case ColumnKind::Time: {
          ISC_TIME x;
          std::memcpy(&x, d, sizeof x);
          Pack(Value::FromDateTime(FromFbDateTime(kMjdOf18991230, x)));
          break;
        }
        case ColumnKind::Blob: {
          ISC_QUAD id;
          std::memcpy(&id, d, sizeof id);
          Pack(Value::FromText(ReadBlob(fb, id)));
          break;
        }
        case ColumnKind::Boolean:
          Pack(Value::FromInt(*d ? 1 : 0));
          break;
        case ColumnKind::Null:
          PackNull();
          break;
      }
    }
    ++recordCount;
  }

  static Value Scaled(std::int64_t x, short scale) {
    if (scale >= 0) return Value::FromInt(x);
    return Value::FromFloat(static_cast<double>(x) / Pow10(-scale));
  }

  void Run() {
    FbClient& fb = Client();
    EnsureTransaction();
    if (!Prepared()) Prepare(fb);
    ClearRows();
    current = 0;
    active = false;
    rowsAffected = -1;
    BindParams(fb);
    ISC_STATUS_ARRAY st{};
    isc_tr_handle* trh = &tr.impl().handle;
    XSQLDA* inDa = occurrences.empty() ? nullptr : in.da();
    if (stmtType == isc_info_sql_stmt_exec_procedure && out.da()->sqld > 0) {
      if (fb.dsql_execute2(st, trh, &stmt, kDialect, inDa, out.da())) fb.Raise(st);
      StoreRow(fb);
    } else {
      if (fb.dsql_execute(st, trh, &stmt, kDialect, inDa)) fb.Raise(st);
      if (out.da()->sqld > 0) {
        // Fetch everything, then close the cursor at once so that a commit
        // afterwards is safe.
        try {
          for (;;) {
            ISC_STATUS rc = fb.dsql_fetch(st, &stmt, kDialect, out.da());
            if (rc == 100) break;
            if (rc != 0) fb.Raise(st);
            StoreRow(fb);
          }
        } catch (...) {
          ISC_STATUS_ARRAY st2{};
          fb.dsql_free_statement(st2, &stmt, DSQL_close);
          ClearRows();
          throw;
        }
        if (fb.dsql_free_statement(st, &stmt, DSQL_close)) fb.Raise(st);
      }
    }
    active = true;
  }

  std::int64_t ReadRowsAffected() {
    if (!Prepared()) return 0;
    FbClient& fb = Client();
    const char items[] = {isc_info_sql_records};
    char buf[64] = {};
    ISC_STATUS_ARRAY st{};
    if (fb.dsql_sql_info(st, &stmt, sizeof items, items, sizeof buf, buf)) fb.Raise(st);
    if (buf[0] != isc_info_sql_records) return 0;
    std::int64_t total = 0;
    const char* p = buf + 3;
    const char* end = buf + sizeof buf;
    while (p + 3 <= end && *p != isc_info_end) {
      char item = *p;
      int len = ReadLittle(p + 1, 2);
      if (len < 0 || p + 3 + len > end) break;
      if (item == isc_info_req_insert_count || item == isc_info_req_update_count ||
          item == isc_info_req_delete_count)
        total += ReadLittle(p + 3, len);
      p += 3 + len;
    }
    return total;
  }
};

Query::Query(Transaction& tr, std::string sql) : impl_(std::make_unique<Impl>(tr, std::move(sql))) {}
Query::~Query() { impl_->FreeStatement(); }

const std::string& Query::Sql() const { return impl_->sql; }

void Query::SetParam(std::string_view name, Value value) {
  std::string_view key = name;
  if (!key.empty() && key.front() == ':') key.remove_prefix(1);
  auto it = impl_->paramIndex.find(key);
  if (it == impl_->paramIndex.end()) throw EDatabaseError("Parameter '" + std::string(name) + "' not found");
  impl_->paramValues[it->second] = std::move(value);
}

void Query::Open() { impl_->Run(); }
void Query::ExecSQL() { impl_->Run(); }

void Query::Close() {
  impl_->ClearRows();
  impl_->current = 0;
  impl_->active = false;
}

bool Query::Active() const { return impl_->active; }
int Query::RecordCount() const { return impl_->recordCount; }
bool Query::Eof() const { return impl_->current >= impl_->recordCount; }
void Query::First() { impl_->current = 0; }
void Query::Next() {
  if (impl_->current < impl_->recordCount) ++impl_->current;
}

const Value& Query::FieldByName(std::string_view name) const {
  auto it = impl_->columnIndex.find(name);
  if (it == impl_->columnIndex.end())
    throw EDatabaseError("Field '" + std::string(name) + "' not found");
  if (impl_->current >= impl_->recordCount)
    throw EDatabaseError("No current record for field '" + std::string(name) + "'");
  return impl_->CurrentRow()[it->second];
}

bool Query::HasField(std::string_view name) const {
  return impl_->columnIndex.find(name) != impl_->columnIndex.end();
}

int Query::FieldCount() const { return static_cast<int>(impl_->columns.size()); }

std::string Query::FieldName(int index) const {
  if (index < 0 || index >= FieldCount()) throw EDatabaseError("Field index out of range");
  const XSQLVAR& v = impl_->out.da()->sqlvar[index];
  return std::string(v.aliasname, static_cast<std::size_t>(v.aliasname_length));
}

const Value& Query::Field(int index) const {
  if (index < 0 || index >= FieldCount()) throw EDatabaseError("Field index out of range");
  if (impl_->current >= impl_->recordCount) throw EDatabaseError("No current record");
  return impl_->CurrentRow()[static_cast<std::size_t>(index)];
}

std::int64_t Query::RowsAffected() const {
  if (impl_->rowsAffected < 0) impl_->rowsAffected = impl_->ReadRowsAffected();
  return impl_->rowsAffected;
}

}  // namespace trelvex::db
