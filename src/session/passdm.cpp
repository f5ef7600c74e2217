// The parameter reader: looks up the administrator password as a
// low-privileged user.
#include <memory>
#include <string>

#include "common/error.h"
#include "session/dm.h"

namespace trelvex {

namespace {

constexpr const char* kPasswordSql =
    "SELECT\n"
    "  P.WARTSTRING\n"
    "FROM PARAMETRY P\n"
    "WHERE P.NAME = 'E_OOU_ICDFRK_SQOLQBGE'\n"
    "  AND P.IDREPKOPIE = GEN_ID(BAZA_NR, 0)";

// Password used when this database copy has no password row.
constexpr const char* kDefaultPassword = "quirnbalt";

}  // namespace

TPassDM::TPassDM() {
  IBDB.SetParams({"user_name=planer", "password=vemtux7390", "lc_ctype=WIN1250"});
}

bool TPassDM::GetPassword(const std::string& host, const std::string& path) {
  if (!Password.empty()) return true;
  try {
    IBDB.SetDatabaseName(DatabaseName(host, path));
    IBDB.Connect();
    {
      db::Transaction IBT(IBDB);
      IBT.Start();
      db::Query IBQ(IBT, kPasswordSql);
      IBQ.Open();
      Password = IBQ.Eof() ? std::string(kDefaultPassword) : IBQ.FieldByName("WARTSTRING").AsString();
      IBQ.Close();
      IBT.Commit();
    }
    IBDB.ForceClose();
    return true;
  } catch (const std::exception& e) {
    Password.clear();
    LastError = ExceptionMessage(e);
    IBDB.ForceClose();
    return false;
  }
}

TPassDM& GetPassDM() {
  // Created on first use, kept to the end of the process.
  static TPassDM instance;
  return instance;
}

}  // namespace trelvex
