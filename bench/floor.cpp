// The database floor of an export run: for every queued request of one
// configuration, the statements and commits the export worker has to make,
// per request and per order, and the same document files, with nothing else
// around them. The benchmark times this program against the worker on the
// same data.
//
//   trelvex_floor <database file> <configuration id>
//
// Every order is taken as exportable (the benchmark's data is), so each gets
// the worker's five commits: item status 1, lock, release, item status 2 and
// the operator message. The header updates are committed with the request.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "common/datetime.h"
#include "common/error.h"
#include "db/database.h"
#include "export/eksporter.h"
#include "session/statements.h"

namespace {

using trelvex::db::Query;
using trelvex::db::Transaction;

// The queue's statements are the session's own (session/statements.h); the
// two procedure calls name their parameters in their declared order.
constexpr const char* kLockSql =
    "EXECUTE PROCEDURE SP_ZALOZBLOKADE :ATYPOBIEKTU, :AIDOBIEKTU, :AIDSESJI";
constexpr const char* kMessageSql =
    "EXECUTE PROCEDURE SP_DODAJWIADOMOSC :AIDOPERATORA, :AIDTYPU, :AIDADRESATA, :AIDGRUPY, "
    ":APRIORYTET, :ADATAAKTYWACJI, :AIDOBIEKTU, :ATEMAT, :ATRESC, :AIDTABELI, :AIDRODZAJU";

// --- document text ------------------------------------------------------------

void Escaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
}

std::string Amount(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v == 0 ? 0.0 : v);
  return buf;
}

std::string IsoDate(trelvex::TDateTime t) {
  const trelvex::CivilDateTime c = trelvex::DecodeDateTime(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.year, c.month, c.day);
  return buf;
}

// Appends `blanks` blanks, the parts and CR LF.
struct Doc {
  std::string text;
  void Line(int blanks, std::string_view a, std::string_view b = {}, std::string_view c = {}) {
    text.append(static_cast<std::size_t>(blanks), ' ');
    text += a;
    text += b;
    text += c;
    text += "\r\n";
  }
  void EscapedLine(int blanks, std::string_view a, std::string_view b, std::string_view c) {
    text.append(static_cast<std::size_t>(blanks), ' ');
    text += a;
    Escaped(text, b);
    text += c;
    text += "\r\n";
  }
};

std::string Str(const Query& q, const char* name) { return q.FieldByName(name).AsString(); }
double Num(const Query& q, const char* name) { return q.FieldByName(name).AsFloat(); }

std::string Document(const Query& h, Query& lines) {
  Doc d;
  d.text.reserve(8192);
  const std::string accepted = IsoDate(h.FieldByName("DATAAKCEPTACJI").AsDateTime());
  const std::string code = Str(h, "SKROTNAZWY");
  const std::string nip = Str(h, "PROSTYNIP");
  const double net = Num(h, "NETTO") + Num(h, "RABAT");
  std::string description;
  if (const std::string u = Str(h, "UWAGI"); !u.empty()) description += "Uwagi: " + u;
  if (const std::string o = Str(h, "OPIS"); !o.empty()) {
    if (!description.empty()) description += "\r\n";
    description += "Opis: " + o;
  }
  const trelvex::TDateTime due =
      h.FieldByName("DATAPRZYJECIA").AsDateTime() + h.FieldByName("TERMINPLATNOSCI").AsInteger();

  d.Line(0, "<?xml version=\"1.0\" encoding=\"windows-1250\"?>");
  d.Line(0, "<ROOT xmlns=\"http://www.cdn.com.pl/optima/dokument\">");
  d.Line(2, "<DOKUMENT>");
  d.Line(4, "<NAGLOWEK>");
  d.Line(6, "<TYP_DOKUMENTU>308</TYP_DOKUMENTU>");
  d.Line(6, "<RODZAJ_DOKUMENTU>308000</RODZAJ_DOKUMENTU>");
  d.EscapedLine(6, "<NUMER_PELNY>Z:", Str(h, "NUMERSTR"), "</NUMER_PELNY>");
  d.Line(6, "<DATA_DOKUMENTU>", accepted, "</DATA_DOKUMENTU>");
  d.Line(6, "<DATA_WYSTAWIENIA>", accepted, "</DATA_WYSTAWIENIA>");
  d.Line(6, "<DATA_OPERACJI>", accepted, "</DATA_OPERACJI>");
  d.Line(6, "<KOREKTA>0</KOREKTA>");
  d.Line(6, "<DETAL>0</DETAL>");
  d.Line(6, "<TYP_NETTO_BRUTTO>1</TYP_NETTO_BRUTTO>");
  d.Line(6, "<RABAT>", Amount(-100 * Num(h, "RABATPROC")), "</RABAT>");
  d.EscapedLine(6, "<OPIS>", description, "</OPIS>");
  for (const char* party : {"PLATNIK", "ODBIORCA"}) {
    d.Line(6, "<", party, ">");
    d.EscapedLine(8, "<KOD>", code, "</KOD>");
    d.EscapedLine(8, "<NIP>", nip, "</NIP>");
    d.Line(8, "<GLN/>");
    d.Line(6, "</", party, ">");
  }
  d.Line(6, "<KATEGORIA>");
  d.EscapedLine(8, "<KOD>", Str(h, "KATEGORIA"), "</KOD>");
  d.Line(8, "<OPIS/>");
  d.Line(6, "</KATEGORIA>");
  d.Line(6, "<PLATNOSC>");
  d.Line(8, "<FORMA>", Str(h, "FORMAPLATNOSCI"), "</FORMA>");
  d.Line(8, "<TERMIN>", IsoDate(due), "</TERMIN>");
  d.Line(6, "</PLATNOSC>");
  d.Line(6, "<WALUTA>");
  d.Line(8, "<SYMBOL>PLN</SYMBOL>");
  d.Line(8, "<KURS_L>1.00</KURS_L>");
  d.Line(8, "<KURS_M>1</KURS_M>");
  d.Line(8, "<PLAT_WAL_OD_PLN>0</PLAT_WAL_OD_PLN>");
  d.Line(8, "<KURS_NUMER></KURS_NUMER>");
  d.Line(8, "<KURS_DATA></KURS_DATA>");
  d.Line(6, "</WALUTA>");
  d.Line(6, "<KWOTY>");
  d.Line(8, "<RAZEM_NETTO_WAL>", Amount(net), "</RAZEM_NETTO_WAL>");
  d.Line(8, "<RAZEM_NETTO>", Amount(net), "</RAZEM_NETTO>");
  d.Line(8, "<RAZEM_BRUTTO>", Amount(net + Num(h, "VAT")), "</RAZEM_BRUTTO>");
  d.Line(8, "<RAZEM_VAT>", Amount(Num(h, "VAT")), "</RAZEM_VAT>");
  d.Line(6, "</KWOTY>");
  d.EscapedLine(6, "<MAGAZYN_ZRODLOWY>", Str(h, "KODMAGAZYN"), " </MAGAZYN_ZRODLOWY>");
  d.Line(6, "<MAGAZYN_DOCELOWY/>");
  d.Line(6, "<KAUCJE_PLATNOSCI>0</KAUCJE_PLATNOSCI>");
  d.Line(6, "<BLOKADA_PLATNOSCI>1</BLOKADA_PLATNOSCI>");
  d.Line(6, "<VAT_DLA_DOK_WAL>0</VAT_DLA_DOK_WAL>");
  d.Line(4, "</NAGLOWEK>");
  d.Line(4, "<POZYCJE>");

  for (lines.First(); !lines.Eof(); lines.Next()) {
    const std::string price = Amount(Num(lines, "CENANETTO"));
    const std::string discounted = Amount(Num(lines, "CENANETTOPORABACIE"));
    const double lineNet = Num(lines, "WARTOSCNETTO");
    const std::string netText = Amount(lineNet);
    const std::string gross = Amount(lineNet + Num(lines, "WARTOSCVAT"));
    d.Line(6, "<POZYCJA>");
    d.Line(8, "<LP>", Str(lines, "LP"), "</LP>");
    d.Line(8, "<TOWAR>");
    d.EscapedLine(10, "<KOD>", Str(lines, "SKROTNAZWY"), "</KOD>");
    d.EscapedLine(10, "<NAZWA>", Str(lines, "NAZWA"), "</NAZWA>");
    d.EscapedLine(10, "<OPIS>", Str(lines, "MODYFIKATOR"), "</OPIS>");
    d.Line(10, "<EAN/>");
    d.Line(10, "<SWW/>");
    d.Line(10, "<NUMER_KATALOGOWY/>");
    d.Line(8, "</TOWAR>");
    d.Line(8, "<STAWKA_VAT>");
    d.Line(10, "<STAWKA>", Amount(Num(lines, "VATPROC")), "</STAWKA>");
    d.Line(10, "<FLAGA>2</FLAGA>");
    d.Line(10, "<ZRODLOWA>0.00</ZRODLOWA>");
    d.Line(8, "</STAWKA_VAT>");
    d.Line(8, "<CENY>");
    d.Line(10, "<POCZATKOWA_WAL_CENNIKA>", price, "</POCZATKOWA_WAL_CENNIKA>");
    d.Line(10, "<POCZATKOWA_WAL_DOKUMENTU>", price, "</POCZATKOWA_WAL_DOKUMENTU>");
    d.Line(10, "<PO_RABACIE_WAL_CENNIKA>", discounted, "</PO_RABACIE_WAL_CENNIKA>");
    d.Line(10, "<PO_RABACIE_PLN>", discounted, "</PO_RABACIE_PLN>");
    d.Line(10, "<PO_RABACIE_WAL_DOKUMENTU>", discounted, "</PO_RABACIE_WAL_DOKUMENTU>");
    d.Line(8, "</CENY>");
    d.Line(8, "<WALUTA>");
    d.Line(10, "<SYMBOL>PLN</SYMBOL>");
    d.Line(10, "<KURS_L>1.00</KURS_L>");
    d.Line(10, "<KURS_M>1</KURS_M>");
    d.Line(8, "</WALUTA>");
    d.Line(8, "<RABAT>", Amount(-100 * Num(lines, "RABATPROC")), "</RABAT>");
    d.Line(8, "<WARTOSC_NETTO>", netText, "</WARTOSC_NETTO>");
    d.Line(8, "<WARTOSC_BRUTTO>", gross, "</WARTOSC_BRUTTO>");
    d.Line(8, "<WARTOSC_NETTO_WAL>", netText, "</WARTOSC_NETTO_WAL>");
    d.Line(8, "<WARTOSC_BRUTTO_WAL>", gross, "</WARTOSC_BRUTTO_WAL>");
    d.Line(8, "<ILOSC>", Amount(Num(lines, "ILOSC")), "</ILOSC>");
    d.EscapedLine(8, "<JM>", Str(lines, "JEDNOSTKA"), "</JM>");
    d.Line(8, "<JM_CALKOWITE>0.00</JM_CALKOWITE>");
    d.Line(8, "<JM_ZLOZONA>");
    d.Line(10, "<JMZ/>");
    d.Line(10, "<JM_PRZELICZNIK_L>1.00</JM_PRZELICZNIK_L>");
    d.Line(10, "<JM_PRZELICZNIK_M>1</JM_PRZELICZNIK_M>");
    d.Line(8, "</JM_ZLOZONA>");
    d.Line(6, "</POZYCJA>");
  }
  d.Line(4, "</POZYCJE>");
  d.Line(4, "<KAUCJE/>");
  d.Line(4, "<PLATNOSCI/>");
  d.Line(4, "<PLATNOSCI_KAUCJE/>");
  d.Line(4, "<TABELKA_VAT/>");
  d.Line(4, "<ATRYBUTY/>");
  d.Line(2, "</DOKUMENT>");
  d.Line(0, "</ROOT>");
  return std::move(d.text);
}

void SaveFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw trelvex::Exception("cannot write " + path);
}

// --- the run ------------------------------------------------------------------

struct Floor {
  explicit Floor(trelvex::db::Database& db)
      : main(db), locks(db), queueT(db), zamT(db),
        headStatus(main, trelvex::kEkspHeadUSql), itemStatus(main, trelvex::kEkspDetailUSql),
        message(main, kMessageSql), lock(locks, kLockSql), release(locks, trelvex::kUsunBlokadeSql) {}

  Transaction main, locks, queueT, zamT;
  Query headStatus, itemStatus, message, lock, release;
  // The worker's order module is new for every request, with statements of
  // its own; the floor prepares these three per request as well.
  std::unique_ptr<Query> zamHeadQ, zamDetailQ, zamUpdateQ;
  std::int32_t opcje = 0;
  std::string katalog;

  void HeadStatus(std::int32_t id, std::int32_t status, const std::string& info, const std::string& log) {
    main.Start();
    headStatus.SetInteger("ID", id);
    headStatus.SetInteger("STATUS", status);
    headStatus.SetText("STATUSINFO", info.substr(0, 255));
    headStatus.SetText("LOG", log);
    headStatus.ExecSQL();
    main.Commit();
  }

  void ItemStatus(std::int32_t id, std::int32_t status, const std::string& info) {
    main.Start();
    itemStatus.SetInteger("ID", id);
    itemStatus.SetInteger("STATUS", status);
    itemStatus.SetText("STATUSINFO", info.substr(0, 255));
    itemStatus.SetText("NUMERDOK", "");
    itemStatus.ExecSQL();
    main.Commit();
  }

  void Message(std::int32_t addressee, std::int32_t object, const std::string& subject,
               const std::string& body) {
    main.Start();
    message.SetInteger("AIDOPERATORA", -1);
    message.SetInteger("AIDTYPU", 1);
    message.SetInteger("AIDADRESATA", addressee);
    message.SetInteger("AIDGRUPY", -1);
    message.SetInteger("APRIORYTET", 0);
    message.SetInteger("AIDOBIEKTU", object);
    message.SetDateTime("ADATAAKTYWACJI", trelvex::Now());
    message.SetText("ATEMAT", subject.substr(0, 250));
    message.SetText("ATRESC", body);
    message.SetInteger("AIDTABELI", 52);
    message.SetInteger("AIDRODZAJU", 0);
    message.ExecSQL();
    main.Commit();
  }

  std::int32_t Lock(std::int32_t orderId) {
    locks.Start();
    lock.SetInteger("ATYPOBIEKTU", 52);
    lock.SetInteger("AIDOBIEKTU", orderId);
    lock.SetInteger("AIDSESJI", -1);
    lock.ExecSQL();
    const std::int32_t id = lock.FieldByName("OIDBLOKADY").AsInteger();
    lock.Close();
    locks.Commit();
    return id;
  }

  void Release(std::int32_t lockId) {
    locks.Start();
    release.SetInteger("ID", lockId);
    release.ExecSQL();
    locks.Commit();
  }

  // One order: status 1, lock, lines, file, header update, release, status 2,
  // message. Returns the item's message.
  std::string Order(std::int32_t itemId, std::int32_t orderId, std::int32_t addressee) {
    ItemStatus(itemId, 1, "");
    const std::int32_t lockId = Lock(orderId);
    if (lockId == -1) throw trelvex::Exception("order " + std::to_string(orderId) + " is locked");
    zamDetailQ->Close();
    zamDetailQ->SetInteger("IDHEAD", orderId);
    zamDetailQ->Open();
    SaveFile(katalog + "/" + std::to_string(orderId) + ".xml", Document(*zamHeadQ, *zamDetailQ));
    zamDetailQ->Close();
    zamUpdateQ->SetInteger("ID", orderId);
    zamUpdateQ->SetInteger("STATUS", 1);
    zamUpdateQ->SetInteger("STAN", 1);
    zamUpdateQ->SetDateTime("DATAAKCEPTACJI", zamHeadQ->FieldByName("DATAAKCEPTACJI").AsDateTime());
    zamUpdateQ->ExecSQL();
    Release(lockId);

    const std::string quoted = "\"" + Str(*zamHeadQ, "NUMERSTR") + "\" dla \"" + Str(*zamHeadQ, "SKROTNAZWY") + "\"";
    const std::string text = "Eksport zam\xF3wienia " + quoted + " do Optimy zako\xF1" "czono powodzeniem.";
    ItemStatus(itemId, 2, text);
    if (opcje & 4) {
      Message(addressee, orderId, "Eksport zam\xF3wienia " + quoted + " zako\xF1" "czono powodzeniem", text);
    }
    return text;
  }

  std::int64_t Request(std::int32_t requestId) {
    HeadStatus(requestId, 1, "", "");
    zamHeadQ = std::make_unique<Query>(zamT, trelvex::kZamHeadSql);
    zamDetailQ = std::make_unique<Query>(zamT, trelvex::kZamDetailSql);
    zamUpdateQ = std::make_unique<Query>(zamT, trelvex::kZamHeadUpdateSql);
    zamT.Start();
    zamHeadQ->Close();
    zamHeadQ->SetInteger("IDEKSPHEAD", requestId);
    zamHeadQ->Open();
    const int total = zamHeadQ->RecordCount();
    const std::string requester = zamHeadQ->Eof() ? std::string() : Str(*zamHeadQ, "EKSPOPERATOR");
    std::string log;
    std::int64_t done = 0;
    for (zamHeadQ->First(); !zamHeadQ->Eof(); zamHeadQ->Next()) {
      const std::string text = Order(zamHeadQ->FieldByName("ID").AsInteger(),
                                     zamHeadQ->FieldByName("IDZAMHEAD").AsInteger(),
                                     zamHeadQ->FieldByName("EIDOPERATORA").AsInteger());
      ++done;
      if (!log.empty()) log += "\r\n";
      log += std::to_string(done) + "/" + std::to_string(total) + " \"" + Str(*zamHeadQ, "NUMERSTR") + "\" " + text;
    }
    zamHeadQ->Close();
    zamT.Commit();
    const std::string summary = "Zlecenie z " + trelvex::DateTimeToText(trelvex::Now()) + " od " +
                                requester + " zako\xF1" "czono powodzeniem. Przetworzono " +
                                std::to_string(done) + " z " + std::to_string(total) + " pozycji.";
    HeadStatus(requestId, 2, summary, log);
    return done;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: trelvex_floor <database file> <configuration id>\n");
    return 2;
  }
  try {
    trelvex::db::Database db;
    db.SetDatabaseName(argv[1]);
    db.SetParams({"user_name=sysdba", "password=masterkey", "lc_ctype=WIN1250"});
    db.Connect();
    std::int64_t orders = 0;
    {
      Floor f(db);
      f.main.Start();
      Query konf(f.main, trelvex::kEkspKonfSql);
      konf.SetInteger("ID", std::atoi(argv[2]));
      konf.Open();
      if (konf.Eof()) throw trelvex::Exception("no configuration " + std::string(argv[2]));
      f.opcje = konf.FieldByName("OPCJE").AsInteger();
      f.katalog = konf.FieldByName("KATALOG").AsString();
      konf.Close();
      f.main.Commit();

      f.queueT.Start();
      Query queue(f.queueT, trelvex::kEkspHeadSql);
      queue.SetInteger("IDEKSPKONF", std::atoi(argv[2]));
      queue.Open();
      for (queue.First(); !queue.Eof(); queue.Next()) {
        orders += f.Request(queue.FieldByName("ID").AsInteger());
      }
      queue.Close();
      f.queueT.Commit();
    }
    db.ForceClose();
    std::printf("%lld\n", static_cast<long long>(orders));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "trelvex_floor: %s\n", e.what());
    return 1;
  }
}
