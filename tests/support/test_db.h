#pragma once
// A fresh retail database for each test: the schema (sql/retail_schema.sql)
// is built once per test program into a template file, which every TestDb
// copies into a temporary folder of its own.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/database.h"

namespace trelvex::test {

class TestDb {
 public:
  // Administrator user of the fixture's connection (the embedded engine does
  // not check passwords).
  static constexpr const char* kUser = "SYSDBA";
  static constexpr const char* kPassword = "masterkey";

  TestDb();   // copies the template (building it on first use)
  ~TestDb();  // closes the connection and removes the folder
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  // Plain local path of the database file; the folder it lies in is the
  // test's own and is removed with it.
  const std::string& Path() const;
  const std::filesystem::path& Dir() const;

  // The fixture's SYSDBA connection with character set WIN1250, connected on
  // first use.
  db::Database& Db();
  // Closes the fixture's connection, e.g. before the worker runs as another
  // process (the embedded engine refuses a second process on the same file);
  // the next use of Db() or a helper connects again.
  void Close();
  void Reopen();

  // Runs one statement in its own transaction and commits it.
  void Exec(const std::string& sql);
  // The rows of a select, read in their own transaction.
  std::vector<std::vector<db::Value>> Rows(const std::string& sql);
  // The first row; raises when there is none.
  std::vector<db::Value> Row(const std::string& sql);
  // The first column of the first row; raises when there is no row.
  db::Value Scalar(const std::string& sql);
  std::int64_t Int(const std::string& sql) { return Scalar(sql).AsInt64(); }
  double Float(const std::string& sql) { return Scalar(sql).AsFloat(); }
  std::string Text(const std::string& sql) { return Scalar(sql).AsString(); }

  // The template database file of this test program.
  static const std::string& TemplatePath();

 private:
  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<db::Database> db_;
};

// A new, empty folder in the system's temporary folder (prefix + random part).
std::filesystem::path MakeTempDir(const std::string& prefix);

}  // namespace trelvex::test
