// Session start: switches, database name, configuration loading, options,
// the error texts of each start step, and host notifications.
#include <gtest/gtest.h>

#include <string>

#include "common/error.h"
#include "session/dm.h"
#include "support/session_fixtures.h"

namespace trelvex {
namespace {

using test::W;

class SessionStartTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetProcessState(); }
  void TearDown() override { test::ResetProcessState(); }

  // Runs Init and returns the error text, or "" when it succeeded.
  std::string InitError(TDM& dm) {
    try {
      dm.Init();
      return "";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), "Exception");
      return e.Message();
    }
  }

  test::SessionDb db;
  test::RecordingLogSink log;
  test::RecordingHostLink host;
  test::ExportScript script;
};

TEST(SessionDatabaseName, JoinsHostAndPath) {
  struct Case {
    std::string host, path, expected;
  } cases[] = {
      {"srv:", "C:\\data\\shop.gdb", "srv:C:\\data\\shop.gdb"},
      {"srv", "C:\\data\\shop.gdb", "srv:C:\\data\\shop.gdb"},
      {"localhost/3051", "/var/db/x.fdb", "localhost/3051:/var/db/x.fdb"},
      {"", "/var/db/x.fdb", "/var/db/x.fdb"},  // local: no colon in front
  };
  for (const auto& c : cases) EXPECT_EQ(DatabaseName(c.host, c.path), c.expected) << c.host;
}

TEST(SessionOptions, LookupByNameBeforeFirstEquals) {
  TKonfEksport konf;
  konf.DODATKOWE = SplitLines("DODAJ_KONTRAHENTA=1\r\ndodaj_towary=1\nX=a=b\rEMPTY=\nNOEQ");
  ASSERT_EQ(konf.DODATKOWE.size(), 5u);
  EXPECT_EQ(konf.Option("DODAJ_KONTRAHENTA"), "1");
  EXPECT_EQ(konf.Option("DODAJ_TOWARY"), "1");  // any letter case
  EXPECT_EQ(konf.Option("x"), "a=b");           // the rest after the first "="
  EXPECT_EQ(konf.Option("EMPTY"), "");
  EXPECT_EQ(konf.Option("NOEQ"), "");  // a line without "=" names nothing
  EXPECT_EQ(konf.Option("MISSING"), "");

  struct Case {
    std::string line, value;
  } off[] = {{"DODAJ_TOWARY = 1", ""}, {"DODAJ_TOWARY=yes", "yes"}, {"DODAJ_TOWARY= 1", " 1"}};
  for (const auto& c : off) {
    konf.DODATKOWE = {c.line};
    EXPECT_EQ(konf.Option("DODAJ_TOWARY"), c.value) << c.line;
    EXPECT_NE(konf.Option("DODAJ_TOWARY"), "1") << c.line;
  }
  // The first matching line wins.
  konf.DODATKOWE = {"A=1", "a=2"};
  EXPECT_EQ(konf.Option("A"), "1");
}

TEST(SessionOptions, SplitLinesAtEveryKindOfBreak) {
  EXPECT_EQ(SplitLines(""), std::vector<std::string>{});
  EXPECT_EQ(SplitLines("a"), std::vector<std::string>{"a"});
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitLines("a\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
}

TEST_F(SessionStartTest, LoadsConfigurationTrimmed) {
  db.Exec(
      "INSERT INTO EKSPKONF (ID, NAZWA, IDTABELI, OPCJE, LOGLEVEL, KATALOGLOG, ARC, USUNIETY, "
      "EVENT1, EVENT2, IDSYSTEMOUT, IDTABELIOUT, WERSJAZRODLA, APPNAME, APPPARAMS, SERWER, "
      "SCIEZKA, LOGIN, HASLO, DODATKOWE, KATALOG, WAZNOSC) VALUES (5, '  Eksport  ', 52, 6, 0, "
      "' /log ', 1, 2, ' e1 ', ' e2 ', 3, 4, 9, ' app ', ' -x ', ' srv ', ' /opt ', ' adm ', "
      "' pw ', '  DODAJ_KONTRAHENTA=1' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'dodaj_towary=1  ', "
      "'  /out  ', 0)");
  TDM dm(log, host, script.Factory());
  test::PrepareSession(dm, db, 5);
  ASSERT_EQ(InitError(dm), "");
  const TKonfEksport& k = dm.Konf;
  EXPECT_EQ(k.ID, 5);
  EXPECT_EQ(k.NAZWA, "Eksport");
  EXPECT_EQ(k.IDTABELI, 52);
  EXPECT_EQ(k.OPCJE, 6);
  EXPECT_EQ(k.KATALOGLOG, "/log");
  EXPECT_TRUE(k.ARC);
  EXPECT_FALSE(k.USUNIETY);  // only 1 counts
  EXPECT_EQ(k.EVENT1, "e1");
  EXPECT_EQ(k.EVENT2, "e2");
  EXPECT_EQ(k.IDSYSTEMOUT, 3);
  EXPECT_EQ(k.IDTABELIOUT, 4);
  EXPECT_EQ(k.WERSJAZRODLA, 9);
  EXPECT_EQ(k.APPNAME, "app");
  EXPECT_EQ(k.APPPARAMS, "-x");
  EXPECT_EQ(k.SERWER, "srv");
  EXPECT_EQ(k.SCIEZKA, "/opt");
  EXPECT_EQ(k.LOGIN, "adm");
  EXPECT_EQ(k.HASLO, "pw");
  EXPECT_EQ(k.KATALOG, "/out");
  EXPECT_EQ(k.DODATKOWE, (std::vector<std::string>{"DODAJ_KONTRAHENTA=1", "dodaj_towary=1"}));
  EXPECT_EQ(k.Option("DODAJ_TOWARY"), "1");
  EXPECT_FALSE(dm.Transaction.Active());
  EXPECT_TRUE(log.lines.empty());  // the start itself reports nothing
}

TEST_F(SessionStartTest, NullColumnsLoadEmpty) {
  db.Exec("INSERT INTO EKSPKONF (ID, KATALOG) VALUES (6, 'k')");
  TDM dm(log, host, script.Factory());
  test::PrepareSession(dm, db, 6);
  ASSERT_EQ(InitError(dm), "");
  EXPECT_EQ(dm.Konf.OPCJE, 0);
  EXPECT_EQ(dm.Konf.NAZWA, "");
  EXPECT_FALSE(dm.Konf.ARC);
  EXPECT_TRUE(dm.Konf.DODATKOWE.empty());
}

TEST_F(SessionStartTest, ConfigurationRaisesLogLevelOnly) {
  struct Case {
    int switchLevel, konfLevel, expected;
  } cases[] = {{0, 2, 2}, {3, 1, 3}, {2, 2, 2}};
  int id = 10;
  for (const auto& c : cases) {
    db.AddKonf(id, "/out", 0, "0", c.konfLevel);
    TDM dm(log, host, script.Factory());
    test::PrepareSession(dm, db, id);
    LogLevel = c.switchLevel;
    ASSERT_EQ(InitError(dm), "");
    EXPECT_EQ(LogLevel, c.expected) << c.switchLevel << " " << c.konfLevel;
    ++id;
  }
}

TEST_F(SessionStartTest, MissingConfiguration) {
  TDM dm(log, host, script.Factory());
  test::PrepareSession(dm, db, 99);
  EXPECT_EQ(InitError(dm), "TDM.Init.EkspKonf Nie znaleziono konfiguracji (EKSPKONF.ID=99)");
  EXPECT_FALSE(dm.Transaction.Active());
}

TEST_F(SessionStartTest, BlankDirectory) {
  for (const char* katalog : {"'   '", "NULL", "''"}) {
    db.Exec("DELETE FROM EKSPKONF");
    db.Exec(std::string("INSERT INTO EKSPKONF (ID, KATALOG) VALUES (1, ") + katalog + ")");
    TDM dm(log, host, script.Factory());
    test::PrepareSession(dm, db, 1);
    EXPECT_EQ(InitError(dm),
              W("TDM.Init.Test Nie określono katalogu (EKSPKONF.KATALOG) do zapisu plików."))
        << katalog;
  }
}

TEST_F(SessionStartTest, PasswordLookupFailing) {
  TDM dm(log, host, script.Factory());
  test::PrepareSession(dm, db, 1);
  dm.DbFile = "missing.fdb";
  dm.DbPath = db.Path().substr(0, db.Path().rfind('/') + 1);
  const std::string error = InitError(dm);
  EXPECT_EQ(error.rfind("TDM.Init.Connect .Auth ", 0), 0u) << error;
  EXPECT_NE(error.find("missing.fdb"), std::string::npos) << error;
  EXPECT_EQ(GetPassDM().Password, "");
  EXPECT_EQ("TDM.Init.Connect .Auth " + GetPassDM().LastError, error);
  EXPECT_FALSE(dm.BazaDanych.Connected());
}

TEST_F(SessionStartTest, SessionConnectionFailing) {
  // A password found earlier in the process: the reader is not asked again,
  // so the failure is the session's own connection.
  GetPassDM().Password = "cached";
  TDM dm(log, host, script.Factory());
  test::PrepareSession(dm, db, 1);
  dm.DbFile = "missing.fdb";
  dm.DbPath = db.Path().substr(0, db.Path().rfind('/') + 1);
  const std::string error = InitError(dm);
  EXPECT_EQ(error.rfind("TDM.Init.Connect ", 0), 0u) << error;
  EXPECT_EQ(error.find(".Auth"), std::string::npos) << error;
  EXPECT_NE(error.find("missing.fdb"), std::string::npos) << error;
}

TEST_F(SessionStartTest, PathIsTrimmedForTheSession) {
  db.AddKonf(1, "/out");
  TDM dm(log, host, script.Factory());
  test::PrepareSession(dm, db, 1);
  GetPassDM().Password = "cached";  // the reader takes the path untrimmed
  dm.DbPath = "  " + dm.DbPath;
  dm.DbFile += " \t";
  EXPECT_EQ(InitError(dm), "");
  EXPECT_EQ(dm.BazaDanych.DatabaseName(), db.Path());
  EXPECT_EQ(dm.BazaDanych.Params(),
            (std::vector<std::string>{"user_name=sysdba", "password=cached", "lc_ctype=WIN1250"}));
}

TEST_F(SessionStartTest, PasswordReadFromTheDatabaseAndCachedWhenNotEmpty) {
  db.AddKonf(1, "/out");
  const std::string row =
      "INSERT INTO PARAMETRY (NAME, WARTSTRING, IDREPKOPIE) VALUES "
      "('E_OOU_ICDFRK_SQOLQBGE', ";
  const std::string copy = ", GEN_ID(BAZA_NR, 0))";
  {
    // No row: the fallback password.
    TDM dm(log, host, script.Factory());
    test::PrepareSession(dm, db, 1);
    ASSERT_EQ(InitError(dm), "");
    EXPECT_EQ(GetPassDM().Password, "quirnbalt");
  }
  test::ResetProcessState();
  db.Exec(row + "''" + copy);
  {
    // An empty value is a found password, but not cached.
    TDM dm(log, host, script.Factory());
    test::PrepareSession(dm, db, 1);
    ASSERT_EQ(InitError(dm), "");
    EXPECT_EQ(GetPassDM().Password, "");
    EXPECT_EQ(dm.BazaDanych.Params()[1], "password=");
  }
  db.Exec("UPDATE PARAMETRY SET WARTSTRING = 's3cret' WHERE NAME = 'E_OOU_ICDFRK_SQOLQBGE'");
  {
    TDM dm(log, host, script.Factory());
    test::PrepareSession(dm, db, 1);
    ASSERT_EQ(InitError(dm), "");
    EXPECT_EQ(GetPassDM().Password, "s3cret");
  }
  db.Exec("UPDATE PARAMETRY SET WARTSTRING = 'changed'");
  {
    // Found once, the password is not looked up again.
    TDM dm(log, host, script.Factory());
    test::PrepareSession(dm, db, 1);
    ASSERT_EQ(InitError(dm), "");
    EXPECT_EQ(GetPassDM().Password, "s3cret");
  }
  // A row of another database copy does not count.
  test::ResetProcessState();
  db.Exec("UPDATE PARAMETRY SET IDREPKOPIE = IDREPKOPIE + 1");
  {
    TDM dm(log, host, script.Factory());
    test::PrepareSession(dm, db, 1);
    ASSERT_EQ(InitError(dm), "");
    EXPECT_EQ(GetPassDM().Password, "quirnbalt");
  }
}

TEST_F(SessionStartTest, NotifySendsToTheHostAndMirrorsIntoTheLog) {
  TDM dm(log, host, script.Factory());
  dm.HostWnd = 0;
  dm.Notify(kNoticeLog, 0, "no host");
  EXPECT_TRUE(host.received.empty());
  EXPECT_EQ(log.lines, std::vector<std::string>{"LOG(0, \"no host\")"});

  dm.HostWnd = 4242;
  const std::string longText = std::string(250, 'a') + "bcdefghij" + std::string(41, 'z');
  dm.Notify(kNoticeWarning, 3, longText);
  dm.Notify(kNoticeProgress, 40, "ignored");
  dm.Notify(kNoticeEnd, 2, "");
  ASSERT_EQ(host.received.size(), 3u);
  EXPECT_EQ(host.received[0].hostWnd, 4242);
  EXPECT_EQ(host.received[0].code, kNoticeWarning);
  EXPECT_EQ(host.received[0].value, 3);
  EXPECT_EQ(host.received[0].text, longText.substr(0, 255));
  EXPECT_EQ(host.received[1].code, kNoticeProgress);
  EXPECT_EQ(host.received[1].value, 40);
  ASSERT_EQ(log.lines.size(), 3u);  // progress never reaches the log
  EXPECT_EQ(log.lines[1], "WARNING(3, \"" + longText.substr(0, 255) + "\")");
  EXPECT_EQ(log.lines[2], "KONIEC(2, \"\")");
  EXPECT_EQ(log.progress, std::vector<int>{40});
  EXPECT_FALSE(dm.HostGone);

  // A zero answer marks the host gone; a later answer brings it back.
  host.answer = [](std::size_t, const test::ReceivedNotice& n) { return n.value == 0 ? 0 : 1; };
  dm.Notify(kNoticeError, 0, W("błąd"));
  EXPECT_TRUE(dm.HostGone);
  EXPECT_EQ(log.lines.back(), W("ERROR(0, \"błąd\")"));
  dm.Notify(kNoticeLog, 1, "");
  EXPECT_FALSE(dm.HostGone);
}

}  // namespace
}  // namespace trelvex
