// Export of one queued request: item statuses, outcome, summary, log and
// operator messages.
#include <gtest/gtest.h>

#include <string>

#include "common/datetime.h"
#include "common/text.h"
#include "export_fixture.h"

namespace trelvex {
namespace {

using test::W;

// The item log as defined: the old log trimmed, CR LF, the line, all trimmed.
std::string NaiveAppend(const std::string& log, const std::string& line) {
  return Trim(Trim(log) + "\r\n" + line);
}

TEST(ExportRequestLog, AppendingEqualsTrimmingTheWholeLog) {
  const char* lines[] = {" \t", "1/5 \"A\" ok ", "", "\r\n", "2/5 \"\" x\r\n\r\n", "  3/5 \"B\"\t"};
  std::string log;
  std::string naive;
  for (const char* line : lines) {
    AppendLogLine(log, line);
    naive = NaiveAppend(naive, line);
    EXPECT_EQ(naive, log) << "after [" << line << "]";
  }
}

TEST(ExportRequestLog, HundredThousandItemsAppendInLinearTime) {
  std::string log;
  const std::string line = "/100000 \"ZAM/2024/000123\" Eksport zam\xF3wienia zako\xF1" "czono powodzeniem.";
  for (int i = 1; i <= 100000; ++i) AppendLogLine(log, std::to_string(i) + line);
  EXPECT_EQ(0u, log.rfind("1/100000 ", 0));
  EXPECT_EQ(100000u * line.size() + 488895u + 99999u * 2u, log.size());
}

class ExportRequestTest : public test::ExportTest {
 protected:
  std::int64_t Item(int id) {
    return db.Int("SELECT STATUS FROM EKSPDETAIL WHERE ID = " + std::to_string(id));
  }
  std::string ItemText(int id) {
    return db.Text("SELECT STATUSINFO FROM EKSPDETAIL WHERE ID = " + std::to_string(id));
  }
  std::int64_t Messages() { return db.Count("SELECT ID FROM WIADOMOSCI"); }

  std::int32_t Run(int requestId) { return ex->PEH(requestId, summary, logText); }

  std::string Summary(const char* wording, int exported, int total) {
    return "Zlecenie z 01.02.2024 08:30:00 od Jan Nowak " + W(wording) + "Przetworzono " +
           std::to_string(exported) + " z " + std::to_string(total) + " pozycji.";
  }

  std::string summary = "old";
  std::string logText = "old";
};

TEST_F(ExportRequestTest, AllItemsExported) {
  dm->Konf.OPCJE = 7;
  db.AddRequest(1, 1, "'01.02.2024 08:30'", 3);
  AddOrder(1001, {4}, "Z/1");
  AddOrder(1002, {4}, "Z/2");
  AddOrder(1003, {4}, "Z/3");
  EXPECT_EQ(1, Run(1));
  EXPECT_EQ(Summary("zakończono powodzeniem. ", 3, 3), summary);
  for (int id : {101, 102, 103}) EXPECT_EQ(2, Item(id));
  const std::string ok = W("\" Eksport zamówienia \"");
  EXPECT_EQ("1/3 \"Z/1" + ok + "Z/1\" dla \"KOWAL\" do Optimy zako\xF1" "czono powodzeniem.\r\n" +
                "2/3 \"Z/2" + ok + "Z/2\" dla \"KOWAL\" do Optimy zako\xF1" "czono powodzeniem.\r\n" +
                "3/3 \"Z/3" + ok + "Z/3\" dla \"KOWAL\" do Optimy zako\xF1" "czono powodzeniem.",
            logText);
  ASSERT_EQ(3, Messages());
  EXPECT_EQ(W("Eksport zamówienia \"Z/2\" dla \"KOWAL\" zakończono powodzeniem"),
            db.Text("SELECT TEMAT FROM WIADOMOSCI WHERE IDOBIEKTU = 1002"));
  EXPECT_EQ(3, db.Count("SELECT ID FROM WIADOMOSCI WHERE PRIORYTET = 0 AND IDADRESATA = 7 AND "
                        "IDTABELI = 52 AND IDTYPU = 1 AND IDOPERATORA = -1 AND IDGRUPY = -1"));
  // The header updates are committed with the end of the request.
  EXPECT_EQ(3, db.Count("SELECT ID FROM ZAMHEAD WHERE STATUS = 1 AND STAN = 1"));
  EXPECT_FALSE(ex->ZamT.Active());
}

TEST_F(ExportRequestTest, FailedRefusedAndMissingOrders) {
  dm->Konf.OPCJE = 1;
  db.AddRequest(1, 1, "'01.02.2024 08:30'", 4);
  AddOrder(1001, {4}, "Z/1");
  AddOrder(1002, {4}, "Z/2");
  AddOrder(1003, {4}, "Z/3");
  db.Exec("UPDATE ZAMHEAD SET STAN = 2 WHERE ID = 1002");
  db.Exec("UPDATE ZAMHEAD SET ARC = 1 WHERE ID = 1003");
  erp.failures = {{"Import.ImportFromFile", "odmowa"}};
  // 1001 fails in the ERP, 1002 and 1003 are refused, 1004 does not exist.
  EXPECT_EQ(3, Run(1));
  EXPECT_EQ(Summary("zakończono z błędami. ", 0, 4), summary);
  EXPECT_EQ(3, Item(101));
  EXPECT_EQ("TdmEksporter.EZ (72) odmowa", ItemText(101));
  EXPECT_EQ(5, Item(102));
  EXPECT_EQ(7, Item(103));
  EXPECT_EQ(4, Item(104));
  EXPECT_EQ(W("Nie znaleziono zamówienia EKSPDETAIL.IDREKORDU=1004"), ItemText(104));
  EXPECT_NE(std::string::npos,
            logText.find(W("\r\n4/4 \"\" Nie znaleziono zamówienia EKSPDETAIL.IDREKORDU=1004")));

  // OPCJE bit 0: errors only, with priority 1.
  ASSERT_EQ(2, Messages());
  EXPECT_EQ(W("Błąd przy eksporcie zamówienia \"\" dla \"\" (nie wyeksportowano)"),
            db.Text("SELECT TEMAT FROM WIADOMOSCI WHERE IDOBIEKTU = 1004"));
  EXPECT_EQ(1, db.Int("SELECT PRIORYTET FROM WIADOMOSCI WHERE IDOBIEKTU = 1004"));
  EXPECT_EQ(W("Błąd przy eksporcie zamówienia \"Z/1\" dla \"KOWAL\" (nie wyeksportowano)"),
            db.Text("SELECT TEMAT FROM WIADOMOSCI WHERE IDOBIEKTU = 1001"));
  EXPECT_EQ("TdmEksporter.EZ (72) odmowa", db.Text("SELECT TRESC FROM WIADOMOSCI WHERE IDOBIEKTU = 1001"));
}

TEST_F(ExportRequestTest, RefusalsAfterExportsGiveWarnings) {
  dm->Konf.OPCJE = 2;
  db.AddRequest(1, 1, "'01.02.2024 08:30'", 3);
  AddOrder(1001, {4}, "Z/1");
  AddOrder(1002, {4}, "Z/2");
  AddOrder(1003, {4}, "Z/3");
  db.Exec("INSERT INTO BLOKADY (IDBLOKADY, TYPOBIEKTU, IDOBIEKTU) VALUES (999, 52, 1002)");
  EXPECT_EQ(2, Run(1));
  EXPECT_EQ(Summary("zakończono z ostrzerzeniami. ", 2, 3), summary);
  EXPECT_EQ(6, Item(102));
  ASSERT_EQ(1, Messages());
  EXPECT_EQ(W("Problem przy eksporcie zamówienia \"Z/2\" dla \"KOWAL\" (nie wyeksportowano)"),
            db.Text("SELECT TEMAT FROM WIADOMOSCI WHERE IDOBIEKTU = 1002"));
}

TEST_F(ExportRequestTest, RefusalAfterAFailureLeavesErrors) {
  db.AddRequest(1, 1, "'01.02.2024 08:30'", 2);
  AddOrder(1002, {4}, "Z/2");
  db.Exec("UPDATE ZAMHEAD SET USUNIETY = 1 WHERE ID = 1002");
  EXPECT_EQ(3, Run(1));  // 1001 is missing, 1002 deleted
  EXPECT_EQ(8, Item(102));
  EXPECT_EQ(0, Messages());  // OPCJE 0
}

TEST_F(ExportRequestTest, NoQueuedItemFailsTheRequest) {
  db.AddRequest(5, 1, "'01.02.2024 08:30'", 1);
  db.Exec("UPDATE EKSPDETAIL SET STATUS = 2 WHERE IDEKSPHEAD = 5");
  EXPECT_EQ(3, Run(5));
  EXPECT_EQ(W("TdmEksporter.PEH Nie znaleziono zamówienia dla EKSPHEAD.ID=5"), summary);
  EXPECT_EQ("", logText);
  EXPECT_EQ(2, Item(501));
  EXPECT_FALSE(ex->ZamT.Active());
}

TEST_F(ExportRequestTest, LongMessageIsCutOnlyInTheItemStatus) {
  dm->Konf.OPCJE = 1;
  db.AddRequest(1, 1, "'01.02.2024 08:30'", 1);
  AddOrder(1001, {4}, "Z/1");
  const std::string text(300, 'e');
  erp.failures = {{"Login", text}};
  EXPECT_EQ(3, Run(1));
  const std::string message = "TdmEksporter.EZ (6) " + text;
  EXPECT_EQ(message.substr(0, 255), ItemText(101));
  EXPECT_EQ("1/1 \"Z/1\" " + message, logText);
  EXPECT_EQ(message, db.Text("SELECT TRESC FROM WIADOMOSCI WHERE IDOBIEKTU = 1001"));
}

TEST_F(ExportRequestTest, MidnightRequestDateShowsNoTime) {
  db.AddRequest(1, 1, "'01.02.2024'", 1);
  AddOrder(1001, {4}, "Z/1");
  EXPECT_EQ(1, Run(1));
  EXPECT_EQ(0u, summary.rfind("Zlecenie z 01.02.2024 od Jan Nowak ", 0)) << summary;
}

}  // namespace
}  // namespace trelvex
