// The private server checks passwords, unlike the embedded engine.
#include <gtest/gtest.h>

#include "db/database.h"
#include "support/fb_server.h"
#include "support/test_db.h"

namespace trelvex::test {
namespace {

class DbFbServerTest : public FbServerTest {
 protected:
  // Connects through the server; the fixture's own embedded connection is
  // never opened, so the server has the file to itself.
  void Connect(db::Database& d, const std::string& user, const std::string& password) {
    d.SetDatabaseName(FbServer::HostPrefix() + tdb.Path());
    d.SetParams({"user_name=" + user, "password=" + password, "lc_ctype=WIN1250"});
    d.Connect();
  }
  TestDb tdb;
};

TEST_F(DbFbServerTest, RightPasswordsConnectAndAWrongOneIsRefused) {
  db::Database planer;
  Connect(planer, "planer", FbServer::kPlanerPassword);
  {
    db::Transaction tr(planer);
    db::Query q(tr, "SELECT CURRENT_USER U, GEN_ID(BAZA_NR, 0) NR FROM RDB$DATABASE");
    q.Open();
    EXPECT_EQ(q.FieldByName("U").AsString().substr(0, 6), "PLANER");
    EXPECT_EQ(q.FieldByName("NR").AsInteger(), 1);
  }
  planer.ForceClose();

  db::Database sysdba;
  Connect(sysdba, "SYSDBA", FbServer::kSysdbaPassword);
  EXPECT_TRUE(sysdba.Connected());
  sysdba.ForceClose();

  db::Database wrong;
  try {
    Connect(wrong, "SYSDBA", "not-the-password");
    FAIL() << "connected with a wrong password";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find("Your user name and password are not defined"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(wrong.Connected());
}

}  // namespace
}  // namespace trelvex::test
