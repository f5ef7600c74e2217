#include "support/e2e_fixture.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>

#include <gtest/gtest.h>

#include "common/encoding.h"

namespace trelvex::test {

namespace fs = std::filesystem;

std::string ReadWholeFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

void ExpectNotices(const std::vector<HostNotice>& records, const std::vector<ExpectedNotice>& expected) {
  EXPECT_EQ(records.size(), expected.size());
  for (std::size_t i = 0; i < records.size() && i < expected.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    const HostNotice& r = records[i];
    const ExpectedNotice& e = expected[i];
    EXPECT_EQ(r.Code, e.code);
    EXPECT_EQ(r.Value, e.value);
    EXPECT_EQ(r.TextLength, e.text.size());
    EXPECT_EQ(RecordText(r), e.text) << Cp1250ToUtf8(RecordText(r)) << " / " << Cp1250ToUtf8(e.text);
    const std::string raw = RecordRawText(r);
    EXPECT_EQ(raw.find_first_not_of('\0', r.TextLength), std::string::npos) << "bytes after the text are not zero";
  }
}

std::string MirrorLine(const HostNotice& record) {
  static const char* const kNames[] = {"", "", "START", "PRACUJE", "POST\xCA" "P", "LOG", "WARNING", "ERROR", "KONIEC"};
  const std::string name = record.Code >= 0 && record.Code <= 8 ? kNames[record.Code] : "";
  return name + "(" + std::to_string(record.Value) + ", \"" + RecordText(record) + "\")";
}

std::string StampedText(const std::string& line) {
  static const std::regex stamped(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:\d{3} ([\s\S]*))");
  std::smatch m;
  return std::regex_match(line, m, stamped) ? m[1].str() : line;
}

WorkerWorld::WorkerWorld() {
  root_ = MakeTempDir("trelvex-e2e-");
  xmlDir_ = root_ / "xml";
  erpDir_ = root_ / "optima";
  fs::create_directories(xmlDir_);
  fs::create_directories(erpDir_);
  AddDictionaries();
}

WorkerWorld::~WorkerWorld() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void WorkerWorld::AddDictionaries() {
  // SQL text is Windows-1250 on the fixture's connection.
  const char* rows[] = {
      "INSERT INTO OPERATOR (ID, IMIE, NAZWISKO, EXXLOGIN) VALUES (7, 'Piotr', 'Wiśniewski', 'pwis')",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (1, 'Kraków', NULL, NULL)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (2, 'Polska', NULL, NULL)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (3, 'Magazyn główny', 'MAG1', NULL)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (4, 'SPRZEDAŻ', NULL, NULL)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (5, 'ODBIORCY', NULL, NULL)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (6, '23%', NULL, 23)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (7, 'szt.', NULL, NULL)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (8, 'KABLE', NULL, NULL)",
      "INSERT INTO SLOWNIK (ID, NAZWA, INFOSTRING, INFOINTEGER) VALUES (9, 'Gdańsk', NULL, NULL)",
      "INSERT INTO KONTRAHENT (ID, SKROTNAZWY, PROSTYNIP, PELNANAZWA, NIP, REGON, KODPOCZTOWY, ADRES, ADRESDOM, "
      "ADRESMIESZKANIE, IDMIASTO, IDKRAJ, IDTYPKONTRAHENTA) VALUES (1, 'KOWALSKI', '6762345678', "
      "'Przedsiębiorstwo Handlowo-Usługowe \"Kowalski i Synowie\" Spółka Jawna w Krakowie, oddział Nowohucki', "
      "'676-234-56-78', '123456789', '30-001', 'ul. Długa', '12', '3', 1, 2, 5)",
      "INSERT INTO KONTRAHENT (ID, SKROTNAZWY, PROSTYNIP, PELNANAZWA, NIP, REGON, KODPOCZTOWY, ADRES, ADRESDOM, "
      "ADRESMIESZKANIE, IDMIASTO, IDKRAJ, IDTYPKONTRAHENTA) VALUES (2, 'BAŁTYK', '5832345678', "
      "'Bałtyk sp. z o.o.', '583-234-56-78', NULL, '80-001', 'ul. Morska', '5', NULL, 9, 2, 5)",
      "INSERT INTO TOWARY (ID, SKROTNAZWY, IDGRUPYTOWAROWEJ) VALUES (1, 'PL100', NULL)",
      "INSERT INTO TOWARY (ID, SKROTNAZWY, IDGRUPYTOWAROWEJ) VALUES (2, 'KAB-2M', 8)",
      "INSERT INTO TOWARY (ID, SKROTNAZWY, IDGRUPYTOWAROWEJ) VALUES (3, 'WTYK-F', 8)",
  };
  for (const char* sql : rows) db_.Exec(Utf8ToCp1250(sql));
}

void WorkerWorld::AddKonf(std::int32_t opcje, const std::string& dodatkowe, const std::string& waznosc) {
  db_.Exec("INSERT INTO EKSPKONF (ID, NAZWA, IDTABELI, RODZAJ, OPIS, OPCJE, LOGLEVEL, KATALOGLOG, ARC, USUNIETY, "
           "SERWER, SCIEZKA, LOGIN, HASLO, DODATKOWE, KATALOG, WAZNOSC) VALUES (" +
           std::to_string(kKonfId) + ", 'Zamowienia', 52, 0, '', " + std::to_string(opcje) +
           ", 0, '', 0, 0, 'SERWER\\OPTIMA', '" + TextFromPath(erpDir_) + "', 'ADMIN', 'tajne', " + dodatkowe +
           ", '" + TextFromPath(xmlDir_) + "', " + waznosc + ")");
}

void WorkerWorld::AddOrder(std::int32_t id, const std::string& numerstr, std::int32_t customer,
                           std::int32_t status, std::int32_t stan, const std::vector<std::int32_t>& products,
                           const std::string& dataAkceptacji) {
  const std::string sid = std::to_string(id);
  db_.Exec("INSERT INTO ZAMHEAD (ID, NUMER, NUMERSTR, STATUS, STAN, UWAGI, OPIS, IDMAGAZYNU, IDKATEGORII, ARC, "
           "USUNIETY, DATAWPISU, DATAPRZYJECIA, DATAAKCEPTACJI, IDKONTRAHENTA, IDOPERATORA, IDFORMYPLATNOSCI, "
           "TERMINPLATNOSCI, NETTO, VAT, RABAT, ILOSCPOZYCJI) VALUES (" +
           sid + ", " + sid + ", '" + numerstr + "', " + std::to_string(status) + ", " + std::to_string(stan) +
           ", 'Pilne', NULL, 3, 4, 0, 0, '2026-12-10 09:15:00', '2026-12-10 09:15:00', " + dataAkceptacji + ", " +
           std::to_string(customer) + ", 7, 3, 14, " + std::to_string(20 * products.size()) + ", " +
           std::to_string(4.6 * static_cast<double>(products.size())) + ", 0, " + std::to_string(products.size()) +
           ")");
  int lp = 0;
  for (std::int32_t product : products) {
    ++lp;
    db_.Exec("INSERT INTO ZAMDETAIL (ID, IDHEAD, LP, IDTOWARU, NAZWA, ILOSC, CENANETTO, RABATPROC, IDVAT, "
             "MODYFIKATOR, IDJEDNOSTKI, ZAKUPNETTO, USUNIETY, ANULOWANY, ARC) VALUES (" +
             std::to_string(id * 10 + lp) + ", " + sid + ", " + std::to_string(lp) + ", " + std::to_string(product) +
             ", " + (product == 2 ? std::string("'Kabel <2m> & wtyk \"F\"'") : "'Towar " + std::to_string(product) + "'") +
             ", 2, 10.00, 0, 6, 'kolor czarny', 7, 6.00, 0, 0, 0)");
  }
}

std::string WorkerWorld::AddRequest(std::int32_t id, double ageDays, const std::vector<std::int32_t>& orders,
                                    std::optional<std::int32_t> declared) {
  CivilDateTime c = DecodeDateTime(Now() - ageDays);
  c.msec = 0;
  if (c.hour == 0 && c.minute == 0 && c.second == 0) c.second = 7;
  char data[32];
  std::snprintf(data, sizeof data, "%02d.%02d.%04d %02d:%02d:%02d", c.day, c.month, c.year, c.hour, c.minute,
                c.second);
  const std::string sid = std::to_string(id);
  db_.Exec("INSERT INTO EKSPHEAD (ID, IDEKSPKONF, DATA, STATUS, STATUSINFO, ILOSCPOZYCJI, IDOPERATORA) VALUES (" +
           sid + ", " + std::to_string(kKonfId) + ", '" + data + "', 0, '', " +
           std::to_string(declared.value_or(static_cast<std::int32_t>(orders.size()))) + ", " +
           std::to_string(kOperatorId) + ")");
  int k = 0;
  for (std::int32_t order : orders) {
    ++k;
    db_.Exec("INSERT INTO EKSPDETAIL (ID, IDEKSPHEAD, IDREKORDU, STATUS) VALUES (" + std::to_string(id * 10 + k) +
             ", " + sid + ", " + std::to_string(order) + ", 0)");
  }
  return data;
}

std::string WorkerWorld::DefaultErpState(const std::string& fail) {
  return R"json({
  "operators": [ { "login": "ADMIN", "password": "tajne", "server": "SERWER\\OPTIMA" } ],
  "customers": [ { "Akronim": "BAŁTYK", "Nazwa1": "Bałtyk sp. z o.o.", "Nazwa2": "", "Nazwa3": "",
                   "NIP": "583-234-56-78", "Grupa": "ODBIORCY",
                   "Adres": { "Miasto": "Gdańsk", "Ulica": "ul. Morska", "NrDomu": "5", "NrLokalu": "",
                              "KodPocztowyZKreska": "80-001", "Kraj": "Polska" } } ],
  "products": [ { "Kod": "PL", "Nazwa": "Płyty (pozycja zbiorcza)", "Opis": "", "JM": "szt.",
                  "Flaga": 2, "Stawka": 23, "FlagaZak": 2, "StawkaZak": 23,
                  "KopiujOpis": 1, "EdycjaNazwy": 1, "EdycjaOpisu": 1 } ],
  "groups": [ { "Kod": "KABLE", "GIDNumer": 7 } ],
  "fail": )json" + fail + "\n}\n";
}

void WorkerWorld::WriteErpState(const std::string& fail) {
  std::ofstream(erpDir_ / "optima-sim.json", std::ios::binary | std::ios::trunc) << DefaultErpState(fail);
}

WorkerResult WorkerWorld::Run(WorkerOptions options) {
  const fs::path file(db_.Path());
  std::vector<std::string> args{"-DBPATH=" + file.parent_path().string() + "/", "-DBFILE=" + file.filename().string(),
                                "-ID=" + std::to_string(kKonfId)};
  if (options.hostFd) args.push_back(HandleSwitch(*options.hostFd));
  args.insert(args.end(), options.args.begin(), options.args.end());
  options.args = std::move(args);
  db_.Close();
  WorkerResult result = RunWorker(options);
  db_.Reopen();
  return result;
}

std::string WorkerWorld::ErpFile(const std::string& name) const { return ReadWholeFile(erpDir_ / name); }

std::string WorkerWorld::XmlFile(std::int32_t orderId) const {
  return ReadWholeFile(xmlDir_ / (std::to_string(orderId) + ".xml"));
}

}  // namespace trelvex::test
