// Order export end to end: the worker program on a real database with the
// ERP stand-in, checked in the database, the XML files and the ERP's files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/encoding.h"
#include "support/e2e_fixture.h"
#include "support/session_fixtures.h"

namespace trelvex::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::int32_t kWarning = 6, kError = 7, kEnd = 8;

const std::string kBoth = "'DODAJ_KONTRAHENTA=1' || ASCII_CHAR(13) || ASCII_CHAR(10) || 'DODAJ_TOWARY=1'";

// Texts of the rows of a select, each row's columns joined by '|' (UTF-8).
std::vector<std::string> Rows(TestDb& db, const std::string& sql) {
  std::vector<std::string> out;
  for (const auto& row : db.Rows(sql)) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) line += (i ? "|" : "") + row[i].AsString();
    out.push_back(Cp1250ToUtf8(line));
  }
  return out;
}

std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> out;
  for (const auto& line : SplitLines(text)) out.push_back(json::parse(line));
  return out;
}

const json* Find(const json& list, const char* key, const std::string& value) {
  for (const auto& e : list) {
    if (e.value(key, "") == value) return &e;
  }
  return nullptr;
}

// Lines of `file` in this order (others may come between them).
void ExpectLinesInOrder(const std::vector<std::string>& file, const std::vector<std::string>& wanted) {
  std::size_t at = 0;
  for (const auto& w : wanted) {
    while (at < file.size() && file[at] != w) ++at;
    EXPECT_LT(at, file.size()) << "missing or out of order: " << w;
    if (at == file.size()) return;
    ++at;
  }
}

TEST(ExportE2E, ARequestWithMixedOutcomesIsRecordedEverywhere) {
  WorkerWorld w;
  w.AddKonf(7, kBoth);
  w.WriteErpState();
  w.AddOrder(101, "ZAM/2026/101", 1, 0, 0, {1, 2});                   // new customer and product; an offer
  w.AddOrder(102, "ZAM/2026/102", 2, 1, 0, {1}, "'05.12.2026'");      // known customer, accepted already
  w.AddOrder(103, "ZAM/2026/103", 2, 0, 3, {1});                      // state "to be clarified"
  w.AddOrder(104, "ZAM/2026/104", 2, 0, 0, {3});                      // held by another user
  w.Db().Exec("EXECUTE PROCEDURE SP_ZALOZBLOKADE(52, 104, 5)");
  const std::string data = w.AddRequest(1, 0.1, {101, 102, 103, 104, 999});

  const WorkerResult r = w.Run();
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  TestDb& db = w.Db();

  const std::string summary = "Zlecenie z " + data +
                              " od Piotr Wiśniewski zakończono z błędami. Przetworzono 2 z 5 pozycji.";
  ASSERT_EQ(r.RecordsWithCode(kError).size(), 1u) << r.stdoutText;
  EXPECT_EQ(Cp1250ToUtf8(RecordText(r.RecordsWithCode(kError)[0])), summary);
  ASSERT_EQ(r.RecordsWithCode(kEnd).size(), 1u);
  EXPECT_EQ(r.RecordsWithCode(kEnd)[0].Value, 2);

  // Items and the request.
  const std::string ok101 = "Eksport zamówienia \"ZAM/2026/101\" dla \"KOWALSKI\" do Optimy zakończono powodzeniem.";
  const std::string ok102 = "Eksport zamówienia \"ZAM/2026/102\" dla \"BAŁTYK\" do Optimy zakończono powodzeniem.";
  const std::string refused = "Zamówienie ZAM/2026/103 ma stan inny niż \"Przyjęte\". Eksport zamówienia anulowany.";
  const std::string locked = "Zamówienie ZAM/2026/104 jest w trakcie edycji. Eksport zamówienia anulowany.";
  const std::string missing = "Nie znaleziono zamówienia EKSPDETAIL.IDREKORDU=999";
  EXPECT_EQ(Rows(db, "SELECT ID, STATUS, STATUSINFO, NUMERDOK FROM EKSPDETAIL ORDER BY ID"),
            (std::vector<std::string>{"11|2|" + ok101 + "|", "12|2|" + ok102 + "|", "13|5|" + refused + "|",
                                      "14|6|" + locked + "|", "15|4|" + missing + "|"}));
  EXPECT_EQ(Rows(db, "SELECT STATUS, STATUSINFO, CAST(LOG AS VARCHAR(2000)) FROM EKSPHEAD"),
            (std::vector<std::string>{"4|" + summary + "|" +
                                      "1/5 \"ZAM/2026/101\" " + ok101 + "\r\n" +
                                      "2/5 \"ZAM/2026/102\" " + ok102 + "\r\n" +
                                      "3/5 \"ZAM/2026/103\" " + refused + "\r\n" +
                                      "4/5 \"ZAM/2026/104\" " + locked + "\r\n" +
                                      "5/5 \"\" " + missing}));
  EXPECT_EQ(db.Int("SELECT COUNT(*) FROM EKSPHEAD WHERE DATASTART > '31.12.1899' AND DATAKONIEC >= DATASTART"), 1);

  // One operator message per item (OPCJE 7) to the requester.
  EXPECT_EQ(Rows(db, "SELECT IDOPERATORA, IDTYPU, IDADRESATA, IDGRUPY, PRIORYTET, IDOBIEKTU, TEMAT, "
                     "CAST(TRESC AS VARCHAR(2000)), IDTABELI, IDRODZAJU FROM WIADOMOSCI ORDER BY ID"),
            (std::vector<std::string>{
                "-1|1|7|-1|0|101|Eksport zamówienia \"ZAM/2026/101\" dla \"KOWALSKI\" zakończono powodzeniem|" +
                    ok101 + "|52|0",
                "-1|1|7|-1|0|102|Eksport zamówienia \"ZAM/2026/102\" dla \"BAŁTYK\" zakończono powodzeniem|" +
                    ok102 + "|52|0",
                "-1|1|7|-1|0|103|Problem przy eksporcie zamówienia \"ZAM/2026/103\" dla \"BAŁTYK\" "
                "(nie wyeksportowano)|" + refused + "|52|0",
                "-1|1|7|-1|0|104|Problem przy eksporcie zamówienia \"ZAM/2026/104\" dla \"BAŁTYK\" "
                "(nie wyeksportowano)|" + locked + "|52|0",
                "-1|1|7|-1|1|999|Błąd przy eksporcie zamówienia \"\" dla \"\" (nie wyeksportowano)|" + missing +
                    "|52|0",
            }));

  // Exported orders are accepted and in progress; an offer's acceptance date
  // becomes today, an accepted order keeps its own. The rest is untouched.
  EXPECT_EQ(Rows(db, "SELECT ID, STATUS, STAN FROM ZAMHEAD ORDER BY ID"),
            (std::vector<std::string>{"101|1|1", "102|1|1", "103|0|3", "104|0|0"}));
  EXPECT_EQ(db.Int("SELECT COUNT(*) FROM ZAMHEAD WHERE ID = 101 AND DATAAKCEPTACJI = CAST('TODAY' AS DATE)"), 1);
  EXPECT_EQ(db.Int("SELECT COUNT(*) FROM ZAMHEAD WHERE ID = 102 AND DATAAKCEPTACJI = '05.12.2026'"), 1);
  EXPECT_EQ(db.Int("SELECT COUNT(*) FROM ZAMHEAD WHERE ID IN (103, 104) AND DATAAKCEPTACJI IS NULL"), 2);

  // The worker's own locks are gone; the other user's lock stays.
  EXPECT_EQ(Rows(db, "SELECT TYPOBIEKTU, IDOBIEKTU, IDSESJI FROM BLOKADY"), (std::vector<std::string>{"52|104|5"}));

  // The XML files of the exported orders, Windows-1250 with CR LF.
  const std::string xml101 = w.XmlFile(101);
  ASSERT_FALSE(xml101.empty());
  EXPECT_TRUE(xml101.ends_with("</ROOT>\r\n"));
  EXPECT_EQ(xml101.find("\n"), xml101.find("\r\n") + 1);
  const auto lines101 = SplitLines(Cp1250ToUtf8(xml101));
  EXPECT_EQ(lines101.at(0), "<?xml version=\"1.0\" encoding=\"windows-1250\"?>");
  ExpectLinesInOrder(lines101, {
                                   "      <NUMER_PELNY>Z:ZAM/2026/101</NUMER_PELNY>",
                                   "        <KOD>KOWALSKI</KOD>",
                                   "        <KOD>SPRZEDAŻ</KOD>",
                                   "        <LP>1</LP>",
                                   "          <KOD>PL</KOD>",
                                   "        <LP>2</LP>",
                                   "          <KOD>ZAM/2026/101/2</KOD>",
                                   "          <NAZWA>Kabel &lt;2m&gt; &amp; wtyk &quot;F&quot;</NAZWA>",
                                   "          <OPIS>kolor czarny</OPIS>",
                               });
  EXPECT_NE(Cp1250ToUtf8(w.XmlFile(102)).find("<NUMER_PELNY>Z:ZAM/2026/102</NUMER_PELNY>\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(w.XmlDir() / "103.xml"));
  EXPECT_FALSE(fs::exists(w.XmlDir() / "104.xml"));

  // The ERP now knows the new customer and the new product under its
  // numbered code, in the group KABLE; the generic product was found under
  // its own code and nothing was added for it.
  const json state = json::parse(w.ErpFile("optima-sim.json"));
  const json* kowalski = Find(state["customers"], "Akronim", "KOWALSKI");
  ASSERT_NE(kowalski, nullptr) << state.dump(2);
  EXPECT_EQ((*kowalski)["Nazwa1"], "Przedsiębiorstwo Handlowo-Usługowe \"Kowalski i");
  EXPECT_EQ((*kowalski)["Nazwa2"], "Synowie\" Spółka Jawna w Krakowie, oddział");
  EXPECT_EQ((*kowalski)["Nazwa3"], "Nowohucki");
  EXPECT_EQ((*kowalski)["NIP"], "676-234-56-78");
  EXPECT_EQ((*kowalski)["Grupa"], "ODBIORCY");
  EXPECT_EQ((*kowalski)["Adres"],
            json::parse(R"({"Miasto": "Kraków", "Ulica": "ul. Długa", "NrDomu": "12", "NrLokalu": "3",
                            "KodPocztowyZKreska": "30-001", "Kraj": "Polska"})"));
  EXPECT_EQ(state["customers"].size(), 2u);
  const json* cable = Find(state["products"], "Kod", "ZAM/2026/101/2");
  ASSERT_NE(cable, nullptr) << state.dump(2);
  EXPECT_EQ((*cable)["Nazwa"], "Kabel <2m> & wtyk \"F\"");
  EXPECT_EQ((*cable)["Opis"], "kolor czarny");
  EXPECT_EQ((*cable)["JM"], "szt.");
  EXPECT_EQ((*cable)["Stawka"], 23);
  EXPECT_EQ((*cable)["StawkaZak"], 23);
  EXPECT_EQ((*cable)["TwGGIDNumer"], 7);
  EXPECT_EQ(state["products"].size(), 2u);

  // One imported document per exported order.
  const auto documents = JsonLines(w.ErpFile("optima-sim-documents.jsonl"));
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(documents[0], json({{"file", TextFromPath(w.XmlDir() / "101.xml")},
                                {"NUMER_PELNY", "Z:ZAM/2026/101"},
                                {"PLATNIK", "KOWALSKI"},
                                {"TOWARY", {"PL", "ZAM/2026/101/2"}}}));
  EXPECT_EQ(documents[1], json({{"file", TextFromPath(w.XmlDir() / "102.xml")},
                                {"NUMER_PELNY", "Z:ZAM/2026/102"},
                                {"PLATNIK", "BAŁTYK"},
                                {"TOWARY", {"PL"}}}));
}

struct ErpFailure {
  const char* name;
  const char* fail;      // the stand-in's "fail" map; nullptr: the ERP is not installed
  int step;
  const char* text;      // the ERP's error text; nullptr: not fixed
  bool xmlWritten;
};

void PrintTo(const ErpFailure& c, std::ostream* os) { *os << c.name; }

class ExportErpFailureE2E : public ::testing::TestWithParam<ErpFailure> {};

TEST_P(ExportErpFailureE2E, TheOrderFailsUnchangedAndUnlocked) {
  const ErpFailure& c = GetParam();
  WorkerWorld w;
  w.AddKonf(0, kBoth);
  if (c.fail) w.WriteErpState(c.fail);
  w.AddOrder(301, "ZAM/2026/301", 2, 0, 0, {1});
  const std::string data = w.AddRequest(1, 0.1, {301});

  const WorkerResult r = w.Run();
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  TestDb& db = w.Db();

  const std::string prefix = "TdmEksporter.EZ (" + std::to_string(c.step) + ") ";
  const std::string info = Cp1250ToUtf8(db.Text("SELECT STATUSINFO FROM EKSPDETAIL WHERE ID = 11"));
  EXPECT_EQ(db.Int("SELECT STATUS FROM EKSPDETAIL WHERE ID = 11"), 3);
  if (c.text) {
    EXPECT_EQ(info, prefix + c.text);
  } else {
    EXPECT_EQ(info.rfind(prefix, 0), 0u) << info;
    EXPECT_GT(info.size(), prefix.size()) << "the failure's own text is missing";
  }

  EXPECT_EQ(Rows(db, "SELECT STATUS, STAN FROM ZAMHEAD"), (std::vector<std::string>{"0|0"}));
  EXPECT_EQ(db.Int("SELECT COUNT(*) FROM ZAMHEAD WHERE DATAAKCEPTACJI IS NULL"), 1);
  EXPECT_EQ(db.Int("SELECT COUNT(*) FROM BLOKADY"), 0);
  EXPECT_EQ(db.Int("SELECT STATUS FROM EKSPHEAD"), 4);
  const std::string summary =
      "Zlecenie z " + data + " od Piotr Wiśniewski zakończono z błędami. Przetworzono 0 z 1 pozycji.";
  EXPECT_EQ(Cp1250ToUtf8(db.Text("SELECT STATUSINFO FROM EKSPHEAD")), summary);
  ASSERT_EQ(r.RecordsWithCode(kError).size(), 1u) << r.stdoutText;
  EXPECT_EQ(Cp1250ToUtf8(RecordText(r.RecordsWithCode(kError)[0])), summary);
  EXPECT_EQ(r.RecordsWithCode(kEnd).at(0).Value, 2);

  EXPECT_EQ(fs::exists(w.XmlDir() / "301.xml"), c.xmlWritten);
  EXPECT_EQ(w.ErpFile("optima-sim-documents.jsonl"), "");
  if (c.fail) {
    // The ERP was closed after the failure.
    const auto journal = SplitLines(w.ErpFile("optima-sim.log"));
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "Close");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ExportErpFailureE2E,
    ::testing::Values(ErpFailure{"Login", R"({"Login": "Nieprawidłowe hasło operatora"})", 6,
                                 "Nieprawidłowe hasło operatora", false},
                      ErpFailure{"Import", R"({"Import": "Błąd importu: nieznany kontrahent"})", 72,
                                 "Błąd importu: nieznany kontrahent", true},
                      ErpFailure{"NotInstalled", nullptr, 4, nullptr, false}),
    [](const ::testing::TestParamInfo<ErpFailure>& info) { return std::string(info.param.name); });

TEST(ExportE2E, ALongErpErrorIsCutOnlyWhereTheItemColumnEnds) {
  // 300 characters of the ERP's text, each one byte in Windows-1250.
  std::string text;
  for (int k = 0; k < 59; ++k) text += "Błąd ";
  text += "Błąd!";
  WorkerWorld w;
  w.AddKonf(1);  // operator messages about errors only
  w.WriteErpState(json({{"Login", text}}).dump());
  w.AddOrder(301, "ZAM/2026/301", 2, 0, 0, {1});
  w.AddRequest(1, 0.1, {301});

  const WorkerResult r = w.Run();
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  TestDb& db = w.Db();

  const std::string message = W("TdmEksporter.EZ (6) " + text);
  ASSERT_EQ(message.size(), 320u);
  EXPECT_EQ(db.Text("SELECT STATUSINFO FROM EKSPDETAIL"), message.substr(0, 255));
  EXPECT_EQ(db.Text("SELECT CAST(LOG AS VARCHAR(1000)) FROM EKSPHEAD"), W("1/1 \"ZAM/2026/301\" ") + message);
  EXPECT_EQ(Rows(db, "SELECT PRIORYTET, IDOBIEKTU, TEMAT FROM WIADOMOSCI"),
            (std::vector<std::string>{
                "1|301|Błąd przy eksporcie zamówienia \"ZAM/2026/301\" dla \"BAŁTYK\" (nie wyeksportowano)"}));
  EXPECT_EQ(db.Text("SELECT CAST(TRESC AS VARCHAR(1000)) FROM WIADOMOSCI"), message);
}

TEST(ExportE2E, ASecondRunTakesOnlyNewRequestsAndRefusesAnExportedOrder) {
  WorkerWorld w;
  w.AddKonf(0, kBoth);
  w.WriteErpState();
  w.AddOrder(101, "ZAM/2026/101", 1, 0, 0, {1, 2});
  w.AddRequest(1, 0.2, {101});

  const WorkerResult first = w.Run();
  ASSERT_FALSE(first.timedOut);
  EXPECT_EQ(first.exitCode, 0) << first.stderrText;
  TestDb& db = w.Db();
  ASSERT_EQ(db.Int("SELECT STATUS FROM EKSPHEAD WHERE ID = 1"), 2) << first.stdoutText;
  const auto requestAfterFirst = Rows(db, "SELECT STATUS, STATUSINFO, DATASTART, DATAKONIEC FROM EKSPHEAD");
  const std::string journalAfterFirst = w.ErpFile("optima-sim.log");
  const std::string stateAfterFirst = w.ErpFile("optima-sim.json");

  // The same order queued again.
  const std::string data = w.AddRequest(2, 0.1, {101});
  const WorkerResult second = w.Run();
  ASSERT_FALSE(second.timedOut);
  EXPECT_EQ(second.exitCode, 0) << second.stderrText;

  const auto log = second.StdoutLines();
  std::vector<std::string> texts;
  for (const auto& line : log) texts.push_back(StampedText(line));
  EXPECT_NE(std::find(texts.begin(), texts.end(), "LOG(0, \"Do przetworzenia: 1 rekordów\")"), texts.end())
      << second.stdoutText;

  const std::string refused = "Zamówienie ZAM/2026/101 ma stan inny niż \"Przyjęte\". Eksport zamówienia anulowany.";
  EXPECT_EQ(Rows(db, "SELECT ID, STATUS, STATUSINFO FROM EKSPDETAIL ORDER BY ID"),
            (std::vector<std::string>{"11|2|Eksport zamówienia \"ZAM/2026/101\" dla \"KOWALSKI\" do Optimy "
                                      "zakończono powodzeniem.",
                                      "21|5|" + refused}));
  const std::string summary =
      "Zlecenie z " + data + " od Piotr Wiśniewski zakończono z ostrzerzeniami. Przetworzono 0 z 1 pozycji.";
  EXPECT_EQ(Rows(db, "SELECT STATUS, STATUSINFO, CAST(LOG AS VARCHAR(2000)) FROM EKSPHEAD WHERE ID = 2"),
            (std::vector<std::string>{"3|" + summary + "|1/1 \"ZAM/2026/101\" " + refused}));
  ASSERT_EQ(second.RecordsWithCode(kWarning).size(), 1u);
  EXPECT_EQ(Cp1250ToUtf8(RecordText(second.RecordsWithCode(kWarning)[0])), summary);
  EXPECT_EQ(second.RecordsWithCode(kEnd).at(0).Value, 1);

  // The first request is left as it was; the ERP was not touched again.
  EXPECT_EQ(Rows(db, "SELECT STATUS, STATUSINFO, DATASTART, DATAKONIEC FROM EKSPHEAD WHERE ID = 1"),
            requestAfterFirst);
  EXPECT_EQ(w.ErpFile("optima-sim.log"), journalAfterFirst);
  EXPECT_EQ(w.ErpFile("optima-sim.json"), stateAfterFirst);
  EXPECT_EQ(SplitLines(w.ErpFile("optima-sim-documents.jsonl")).size(), 1u);
}

}  // namespace
}  // namespace trelvex::test
