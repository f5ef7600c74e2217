// The administrator password lookup against a private server, which (unlike
// the embedded engine) checks passwords.
#include <gtest/gtest.h>

#include <string>

#include "common/error.h"
#include "session/dm.h"
#include "support/fb_server.h"
#include "support/session_fixtures.h"
#include "support/test_db.h"

namespace trelvex {
namespace {

class SessionServerTest : public test::FbServerTest {
 protected:
  void SetUp() override {
    test::FbServerTest::SetUp();
    test::ResetProcessState();
    db.Exec("INSERT INTO EKSPKONF (ID, KATALOG) VALUES (1, '/out')");
  }
  void TearDown() override { test::ResetProcessState(); }

  void PasswordRow(const std::string& value) {
    db.Exec("INSERT INTO PARAMETRY (NAME, WARTSTRING, IDREPKOPIE) VALUES "
            "('E_OOU_ICDFRK_SQOLQBGE', " + value + ", GEN_ID(BAZA_NR, 0))");
  }

  // One session start through the server (host written without the colon);
  // returns the error text, or "" when it succeeded.
  std::string Start(const std::string& host = "") {
    db.Close();  // the server must be the only one to open the file
    TDM dm(log, link, script.Factory());
    dm.DbHost = host.empty() ? "127.0.0.1/" + std::to_string(test::FbServer::Port()) : host;
    dm.DbPath = db.Dir().string() + "/";
    dm.DbFile = std::filesystem::path(db.Path()).filename().string();
    dm.KonfId = 1;
    dm.HostWnd = 0;
    try {
      dm.Init();
      EXPECT_TRUE(dm.BazaDanych.Connected());
      EXPECT_EQ(dm.Konf.KATALOG, "/out");
      params = dm.BazaDanych.Params();
      return "";
    } catch (const Exception& e) {
      params = dm.BazaDanych.Params();
      return e.Message();
    }
  }

  test::TestDb db;
  test::RecordingLogSink log;
  test::RecordingHostLink link;
  test::ExportScript script;
  std::vector<std::string> params;  // the session's connection lines
};

TEST_F(SessionServerTest, ConnectsWithThePasswordOfTheRow) {
  PasswordRow(std::string("'") + test::FbServer::kSysdbaPassword + "'");
  EXPECT_EQ(Start(), "");
  EXPECT_EQ(GetPassDM().Password, test::FbServer::kSysdbaPassword);
  EXPECT_EQ(params, (std::vector<std::string>{
                        "user_name=sysdba",
                        std::string("password=") + test::FbServer::kSysdbaPassword,
                        "lc_ctype=WIN1250"}));
}

TEST_F(SessionServerTest, FallsBackToTheDefaultPasswordWithoutARow) {
  // The server's administrator has another password, so the fallback is
  // refused by the session's own connection, not by the reader.
  const std::string error = Start();
  EXPECT_EQ(GetPassDM().Password, "quirnbalt");
  EXPECT_EQ(params[1], "password=quirnbalt");
  EXPECT_EQ(error.rfind("TDM.Init.Connect ", 0), 0u) << error;
  EXPECT_EQ(error.find(".Auth"), std::string::npos) << error;
  EXPECT_NE(error.find("user name and password are not defined"), std::string::npos) << error;
}

TEST_F(SessionServerTest, EmptyPasswordIsUsedAndLookedUpAgain) {
  for (const char* value : {"NULL", "''"}) {
    db.Exec("DELETE FROM PARAMETRY");
    PasswordRow(value);
    const std::string error = Start();
    EXPECT_EQ(params[1], "password=") << value;
    EXPECT_EQ(error.rfind("TDM.Init.Connect ", 0), 0u) << error;
    EXPECT_EQ(error.find(".Auth"), std::string::npos) << error;
    EXPECT_EQ(GetPassDM().Password, "");
  }
  // Nothing was cached: the next pass reads the corrected row.
  db.Exec(std::string("UPDATE PARAMETRY SET WARTSTRING = '") + test::FbServer::kSysdbaPassword + "'");
  EXPECT_EQ(Start(), "");
}

TEST_F(SessionServerTest, ReaderThatCannotConnect) {
  PasswordRow(std::string("'") + test::FbServer::kSysdbaPassword + "'");
  const std::string error = Start("127.0.0.1/1");  // nothing listens there
  EXPECT_EQ(error.rfind("TDM.Init.Connect .Auth ", 0), 0u) << error;
  EXPECT_NE(error.find("Unable to complete network request"), std::string::npos) << error;
  EXPECT_EQ(GetPassDM().Password, "");
  EXPECT_EQ(error, "TDM.Init.Connect .Auth " + GetPassDM().LastError);
  // The failure is not cached either.
  EXPECT_EQ(Start(), "");
}

}  // namespace
}  // namespace trelvex
