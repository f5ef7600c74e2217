#pragma once
// Database access over the Firebird client library, loaded at run time.
// Connections use SQL dialect 1; transactions are read committed, record
// version, no wait. Statements take named parameters written :NAME.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/datetime.h"
#include "common/error.h"

namespace trelvex::db {

class FbClient;  // the loaded client library (database.cpp)

// One field or parameter value. A null reads as the empty text, 0, or the
// zero date (30 December 1899).
class Value {
 public:
  struct Null {};
  using Storage = std::variant<Null, std::int64_t, double, std::string, TDateTime>;
  // A date-time is kept apart from a plain double.
  struct DateTimeTag {};

  Value() = default;
  static Value FromInt(std::int64_t v);
  static Value FromFloat(double v);
  static Value FromText(std::string v);
  static Value FromDateTime(TDateTime v);

  bool IsNull() const;
  std::string AsString() const;  // numbers in decimal, dates as DateTimeToText
  std::int32_t AsInteger() const;
  std::int64_t AsInt64() const;
  double AsFloat() const;
  TDateTime AsDateTime() const;
  // The stored alternative (a date-time is the last one), for the binder.
  const Storage& Raw() const { return v_; }

 private:
  Storage v_;
  bool isDateTime_ = false;
};

class Database {
 public:
  Database();
  ~Database();  // closes by force
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void SetDatabaseName(std::string name);
  const std::string& DatabaseName() const;
  // Connection parameter lines, e.g. "user_name=sysdba", "password=x",
  // "lc_ctype=WIN1250".
  void SetParams(std::vector<std::string> params);
  const std::vector<std::string>& Params() const;

  void Connect();  // raises EDatabaseError
  bool Connected() const;
  void ForceClose();  // never raises

  struct Impl;
  Impl& impl();

 private:
  std::unique_ptr<Impl> impl_;
};

class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();  // rolls back when still active
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Start();
  void Commit();
  void Rollback();
  bool Active() const;

  Database& database();
  struct Impl;
  Impl& impl();

 private:
  std::unique_ptr<Impl> impl_;
};

// A statement with named parameters. Prepared once on first use and reused;
// Open() executes and fetches every row into memory.
class Query {
 public:
  Query(Transaction& tr, std::string sql);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  const std::string& Sql() const;

  // Parameters by name; every occurrence of the name gets the value.
  void SetParam(std::string_view name, Value value);
  void SetInteger(std::string_view name, std::int64_t v) { SetParam(name, Value::FromInt(v)); }
  void SetFloat(std::string_view name, double v) { SetParam(name, Value::FromFloat(v)); }
  void SetText(std::string_view name, std::string v) { SetParam(name, Value::FromText(std::move(v))); }
  void SetDateTime(std::string_view name, TDateTime v) { SetParam(name, Value::FromDateTime(v)); }
  void SetNull(std::string_view name) { SetParam(name, Value()); }

  void Open();     // select (or procedure with outputs): fetches all rows
  void ExecSQL();  // statement without a result set; an EXECUTE PROCEDURE
                   // statement's outputs become the single row
  void Close();    // forgets the rows; keeps the prepared statement
  bool Active() const;

  int RecordCount() const;
  bool Eof() const;
  void First();
  void Next();
  // Field of the current row by name (case-insensitive); raises when the
  // name is unknown or there is no current row.
  const Value& FieldByName(std::string_view name) const;
  bool HasField(std::string_view name) const;
  // Columns of the prepared statement by position (0-based); Field raises
  // when there is no current row.
  int FieldCount() const;
  std::string FieldName(int index) const;
  const Value& Field(int index) const;

  // Rows changed by the last ExecSQL.
  std::int64_t RowsAffected() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Loads the client library on first use (process-wide). Raises EDatabaseError
// with a clear text when it cannot be loaded.
FbClient& Client();
// For tests: tries to load a client library from the given names.
void CheckClientLibrary(const std::vector<std::string>& names);

// Creates a new database (dialect 1, default character set WIN1250).
void CreateDatabase(const std::string& name, const std::string& user, const std::string& password);

}  // namespace trelvex::db
