// The ERP stand-in of the Linux build: its state, journal and documents files
// as outside tools see them, and the calls as the order export makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/encoding.h"
#include "common/error.h"
#include "platform/posix/optima_sim.h"

namespace trelvex::posix {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using optima::Variant;

// Texts in this file are UTF-8; the interface takes Windows-1250.
std::string W(std::string_view utf8) { return Utf8ToCp1250(utf8); }

const char* const kBaseState = R"({
  "operators": [ { "login": "ADMIN", "password": "hasło", "server": "SERWER\\OPTIMA" } ],
  "customers": [ { "Akronim": "BAŁTYK", "Nazwa1": "Bałtyk sp. z o.o.",
                   "Adres": { "Miasto": "Gdańsk" } },
                 { "Akronim": "O'NEIL", "Nazwa1": "O'Neil" } ],
  "products": [ { "Kod": "PL", "Nazwa": "Płyty", "Stawka": 23 } ],
  "groups": [ { "Kod": "KABLE", "GIDNumer": 7 } ]
})";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void WriteFile(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A document import file as the XML writer makes it, in Windows-1250.
std::string DocumentXml(const std::string& payer, const std::vector<std::string>& products,
                        const std::string& ns = "http://www.cdn.com.pl/optima/dokument") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<ROOT xmlns=\"" + ns +
                    "\">\r\n  <DOKUMENT>\r\n    <NAGLOWEK>\r\n"
                    "      <NUMER_PELNY>Z:AB/7</NUMER_PELNY>\r\n"
                    "      <PLATNIK>\r\n        <KOD>" + payer + "</KOD>\r\n      </PLATNIK>\r\n"
                    "      <ODBIORCA>\r\n        <KOD>" + payer + "</KOD>\r\n      </ODBIORCA>\r\n"
                    "    </NAGLOWEK>\r\n    <POZYCJE>\r\n";
  for (const std::string& code : products)
    xml += "      <POZYCJA>\r\n        <TOWAR>\r\n          <KOD>" + code +
           "</KOD>\r\n        </TOWAR>\r\n      </POZYCJA>\r\n";
  xml += "    </POZYCJE>\r\n  </DOKUMENT>\r\n</ROOT>\r\n";
  return W(xml);
}

class OptimaSim : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() / ("trelvex-optima-sim-" + std::to_string(stamp));
    fs::create_directories(dir_);
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void WriteState(std::string_view text) { WriteFile(dir_ / "optima-sim.json", text); }
  json State() const { return json::parse(ReadFile(dir_ / "optima-sim.json")); }
  std::vector<std::string> Journal() const { return ReadLines(dir_ / "optima-sim.log"); }
  std::vector<std::string> Documents() const {
    return ReadLines(dir_ / "optima-sim-documents.jsonl");
  }
  std::string WriteXml(const std::string& name, const std::string& content) {
    WriteFile(dir_ / name, content);
    return TextFromPath(dir_ / name);
  }

  fs::path dir_;
  fs::path previous_;
};

// One order's objects, opened as the per-order export opens them.
struct Order {
  explicit Order(optima::IAutomation& automation, const std::string& login = "ADMIN",
                 const std::string& password = W("hasło"), const std::string& server = "SERWER\\OPTIMA") {
    app = automation.CreateApplication();
    handle = app->Open(513, 10000);
    this->login = app->Login(login, password, server, optima::DefaultLoginFlags());
    session = this->login->Session();
  }
  std::unique_ptr<optima::IApplication> app;
  std::unique_ptr<optima::IHandle> handle;
  std::unique_ptr<optima::ILogin> login;
  std::unique_ptr<optima::ISession> session;
};

std::shared_ptr<optima::IDispatchObject> AsObject(const Variant& v) {
  return std::get<std::shared_ptr<optima::IDispatchObject>>(v);
}

std::string Message(const std::function<void()>& call) {
  try {
    call();
  } catch (const EOleException& e) {
    return Cp1250ToUtf8(e.Message());
  }
  ADD_FAILURE() << "no EOleException";
  return {};
}

TEST_F(OptimaSim, NotInstalledWithoutTheStateFile) {
  auto automation = CreateOptimaStandIn();
  const std::string text = Message([&] { automation->CreateApplication(); });
  EXPECT_NE(text.find("nie jest zainstalowana"), std::string::npos) << text;
  EXPECT_NE(text.find(dir_.string()), std::string::npos) << text;
  EXPECT_NE(Message([&] { automation->CreateImport(); }).find("nie jest zainstalowana"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "optima-sim.log"));

  // Installing it later is noticed.
  WriteState("{}");
  EXPECT_NO_THROW(automation->CreateApplication());
}

TEST_F(OptimaSim, LoginNeedsAnExactOperatorMatch) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  EXPECT_NO_THROW(Order{*automation});
  struct Case {
    const char* login;
    const char* password;
    const char* server;
  };
  for (const Case& c : {Case{"admin", "hasło", "SERWER\\OPTIMA"}, Case{"ADMIN", "haslo", "SERWER\\OPTIMA"},
                        Case{"ADMIN", "hasło", "SERWER"}, Case{"ADMIN", "hasło ", "SERWER\\OPTIMA"}}) {
    EXPECT_NE(Message([&] { Order(*automation, W(c.login), W(c.password), W(c.server)); }).find("Logowanie"),
              std::string::npos)
        << c.login << " " << c.password << " " << c.server;
  }

  // Without the operators key anyone logs in; an empty list admits no one.
  WriteState(R"({"customers": []})");
  EXPECT_NO_THROW(Order(*automation, "kto", "cokolwiek", ""));
  WriteState(R"({"operators": []})");
  EXPECT_THROW(Order{*automation}, EOleException);
}

TEST_F(OptimaSim, OpenObjectFindsByCode) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  Order order(*automation);
  auto customer = order.session->OpenObject("CDN.Kontrahenci", W("Knt_Kod='BAŁTYK'"));
  EXPECT_EQ(std::get<std::string>(customer->Call("Nazwa1")), W("Bałtyk sp. z o.o."));
  auto address = AsObject(customer->Call("Adres"));
  EXPECT_EQ(std::get<std::string>(address->Call("Miasto")), W("Gdańsk"));
  auto product = order.session->OpenObject("CDN.Towary", "Twr_Kod='PL'");
  EXPECT_EQ(std::get<std::int32_t>(product->Call("Stawka")), 23);
  auto group = order.session->OpenObject("CDN.TwrGrupy", "TwG_Kod='KABLE'");
  EXPECT_EQ(std::get<std::int32_t>(group->Call("GIDNumer")), 7);
  // A doubled quote stands for one.
  auto quoted = order.session->OpenObject("CDN.Kontrahenci", "Knt_Kod='O''NEIL'");
  EXPECT_EQ(std::get<std::string>(quoted->Call("Nazwa1")), "O'Neil");
}

TEST_F(OptimaSim, OpenObjectFailures) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  Order order(*automation);
  struct Case {
    const char* progId;
    const char* filter;
    const char* expected;
  };
  for (const Case& c : {
           Case{"CDN.Towary", "Twr_Kod='XX'", "Nie znaleziono"},
           Case{"CDN.Towary", "Twr_Kod='pl'", "Nie znaleziono"},
           Case{"CDN.Kontrahenci", "Knt_Kod=''", "Nie znaleziono"},
           Case{"CDN.Nieznane", "Kod='PL'", "Nie można utworzyć obiektu CDN.Nieznane"},
           Case{"CDN.Towary", "Twr_Kod=PL", "Nieprawidłowy filtr"},
           Case{"CDN.Towary", "Twr_Kod='PL", "Nieprawidłowy filtr"},
           Case{"CDN.Towary", "Twr_Kod='PL' OR 1=1", "Nieprawidłowy filtr"},
           Case{"CDN.Towary", "Knt_Kod='PL'", "Nieprawidłowy filtr"},
           Case{"CDN.Towary", "='PL'", "Nieprawidłowy filtr"},
           // An undoubled quote inside the value does not read as a filter.
           Case{"CDN.Kontrahenci", "Knt_Kod='O'NEIL'", "Nieprawidłowy filtr"},
       }) {
    const std::string text = Message([&] { order.session->OpenObject(c.progId, c.filter); });
    EXPECT_NE(text.find(c.expected), std::string::npos) << c.progId << " " << c.filter << ": " << text;
  }
  auto product = order.session->OpenObject("CDN.Towary", "Twr_Kod='PL'");
  EXPECT_NE(Message([&] { product->Put("Cena", 5); }).find("Cena"), std::string::npos);
  EXPECT_NE(Message([&] { product->Put("Nazwa", 5); }).find("Niezgodność typów"), std::string::npos);
}

TEST_F(OptimaSim, AddedRecordsAreStoredAtSave) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  {
    Order order(*automation);
    auto customers = order.session->OpenObject("CDN.Kontrahenci", "");
    auto customer = AsObject(customers->Call("AddNew", {optima::Missing{}}));
    customer->Put("Akronim", W("ŻUK"));
    customer->Put("Nazwa1", W("Żuk i syn"));
    customer->Put("Nazwa2", "");
    customer->Put("Nazwa3", "");
    customer->Put("NIP", "123");
    AsObject(customer->Call("Adres"))->Put("Miasto", W("Łódź"));
    AsObject(customer->Call("Adres"))->Put("Ulica", "Piotrkowska");
    customer->Put("Grupa", "ODBIORCY");
    order.session->Save();

    auto products = order.session->OpenObject("CDN.Towary", "");
    auto product = AsObject(products->Call("AddNew", {optima::Missing{}}));
    product->Put("Kod", "AB/7/3");
    product->Put("Nazwa", W("Kabel <2m>"));
    product->Put("Opis", "linia 1\r\nlinia 2");
    product->Put("JM", "szt.");
    product->Put("Flaga", 2);
    product->Put("Stawka", 23);
    auto group = order.session->OpenObject("CDN.TwrGrupy", "TwG_Kod='KABLE'");
    product->Put("TwGGIDNumer", group->Call("GIDNumer"));
    order.session->Save();
    order.app->Close();
  }
  const json state = State();
  EXPECT_EQ(state["customers"][2],
            json::parse(R"({"Akronim": "ŻUK", "Nazwa1": "Żuk i syn", "Nazwa2": "", "Nazwa3": "",
                            "NIP": "123", "Adres": {"Miasto": "Łódź", "Ulica": "Piotrkowska"},
                            "Grupa": "ODBIORCY"})"));
  EXPECT_EQ(state["products"][1],
            json::parse(R"({"Kod": "AB/7/3", "Nazwa": "Kabel <2m>", "Opis": "linia 1\r\nlinia 2",
                            "JM": "szt.", "Flaga": 2, "Stawka": 23, "TwGGIDNumer": 7})"));
  // Everything else stays as it was, and no temporary file is left behind.
  EXPECT_EQ(state["operators"], json::parse(kBaseState)["operators"]);
  EXPECT_EQ(state["groups"], json::parse(kBaseState)["groups"]);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"optima-sim.json", "optima-sim.log"}));

  // Another process (a fresh stand-in) finds the saved records.
  auto other = CreateOptimaStandIn();
  Order order(*other);
  EXPECT_EQ(std::get<std::string>(order.session->OpenObject("CDN.Kontrahenci", W("Knt_Kod='ŻUK'"))->Call("NIP")),
            "123");
  EXPECT_NO_THROW(order.session->OpenObject("CDN.Towary", "Twr_Kod='AB/7/3'"));
}

TEST_F(OptimaSim, UnsavedRecordsAreLostAndDuplicatesRefused) {
  WriteState(kBaseState);
  const std::string before = ReadFile(dir_ / "optima-sim.json");
  auto automation = CreateOptimaStandIn();
  {
    Order order(*automation);
    auto product = AsObject(order.session->OpenObject("CDN.Towary", "")->Call("AddNew", {optima::Missing{}}));
    product->Put("Kod", "NOWY");
    order.app->Close();
  }
  EXPECT_EQ(ReadFile(dir_ / "optima-sim.json"), before);
  Order order(*automation);
  EXPECT_THROW(order.session->OpenObject("CDN.Towary", "Twr_Kod='NOWY'"), EOleException);
  order.session->Save();  // nothing pending: the file is not rewritten
  EXPECT_EQ(ReadFile(dir_ / "optima-sim.json"), before);

  // A code that is already taken, or none at all, refuses the save.
  auto products = order.session->OpenObject("CDN.Towary", "");
  AsObject(products->Call("AddNew", {optima::Missing{}}))->Put("Kod", "PL");
  EXPECT_NE(Message([&] { order.session->Save(); }).find("już istnieje"), std::string::npos);
  Order second(*automation);
  AsObject(second.session->OpenObject("CDN.Towary", "")->Call("AddNew", {optima::Missing{}}))->Put("Nazwa", "x");
  EXPECT_NE(Message([&] { second.session->Save(); }).find("brak kodu"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "optima-sim.json"), before);
}

TEST_F(OptimaSim, NewGroupGetsTheNextNumber) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  Order order(*automation);
  auto group = AsObject(order.session->OpenObject("CDN.TwrGrupy", "")->Call("AddNew", {optima::Missing{}}));
  group->Put("Kod", "RURY");
  EXPECT_THROW(group->Call("GIDNumer"), EOleException);  // no number before it is saved
  order.session->Save();
  EXPECT_EQ(std::get<std::int32_t>(group->Call("GIDNumer")), 8);
  EXPECT_EQ(State()["groups"][1], json::parse(R"({"Kod": "RURY", "GIDNumer": 8})"));
}

TEST_F(OptimaSim, ImportRecordsTheDocument) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  const std::string path = WriteXml("101.xml", DocumentXml("BAŁTYK", {"PL", "PL"}));
  for (int i = 0; i < 2; ++i) {
    Order order(*automation);
    auto import = automation->CreateImport();
    import->Login(*order.login);
    import->ImportFromFile(path, 0);
    order.app->Close();
  }
  const std::vector<std::string> lines = Documents();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(json::parse(lines[1]), json::parse(R"({"file": ")" + (dir_ / "101.xml").string() +
                                               R"(", "NUMER_PELNY": "Z:AB/7", "PLATNIK": "BAŁTYK",
                                                  "TOWARY": ["PL", "PL"]})"));
}

TEST_F(OptimaSim, ImportFailures) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  struct Case {
    const char* name;
    std::string content;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"malformed", DocumentXml("BAŁTYK", {"PL"}).substr(0, 200), "nie jest poprawnym dokumentem XML"},
      {"namespace", DocumentXml("BAŁTYK", {"PL"}, "http://example.com/inny"), "przestrzeni nazw"},
      {"customer", DocumentXml("NIKT", {"PL"}), "kontrahenta o kodzie NIKT"},
      {"product", DocumentXml("BAŁTYK", {"PL", "BRAK"}), "towaru o kodzie BRAK"},
      {"no payer", W("<?xml version=\"1.0\" encoding=\"windows-1250\"?>"
                     "<ROOT xmlns=\"http://www.cdn.com.pl/optima/dokument\"><DOKUMENT/></ROOT>"),
       "kodu płatnika"},
      {"two roots", DocumentXml("BAŁTYK", {"PL"}) + "<ROOT/>", "jednego elementu"},
      {"encoding", W("<?xml version=\"1.0\" encoding=\"koi8-r\"?><ROOT/>"), "kodowanie koi8-r"},
      // An entity defined in the file is not expanded, nor fetched.
      {"entity", W("<?xml version=\"1.0\"?><!DOCTYPE ROOT [<!ENTITY x SYSTEM \"/etc/hostname\">]>"
                   "<ROOT xmlns=\"http://www.cdn.com.pl/optima/dokument\"><DOKUMENT><NAGLOWEK>"
                   "<PLATNIK><KOD>&x;</KOD></PLATNIK></NAGLOWEK></DOKUMENT></ROOT>"),
       "kontrahenta o kodzie &x; ("},
  };
  Order order(*automation);
  auto import = automation->CreateImport();
  import->Login(*order.login);
  for (const Case& c : cases) {
    const std::string path = WriteXml(std::string(c.name) + ".xml", c.content);
    const std::string text = Message([&] { import->ImportFromFile(path, 0); });
    EXPECT_NE(text.find(c.expected), std::string::npos) << c.name << ": " << text;
  }
  EXPECT_NE(Message([&] { import->ImportFromFile(TextFromPath(dir_ / "missing.xml"), 0); }).find("missing.xml"),
            std::string::npos);

  // Without an import login, or once the application is closed, nothing is imported.
  const std::string good = WriteXml("good.xml", DocumentXml("BAŁTYK", {"PL"}));
  EXPECT_NE(Message([&] { automation->CreateImport()->ImportFromFile(good, 0); }).find("zalogowania"),
            std::string::npos);
  order.app->Close();
  EXPECT_NE(Message([&] { import->ImportFromFile(good, 0); }).find("zalogowania"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "optima-sim-documents.jsonl"));
}

// Runs one order through every call the export makes, registration included;
// returns the text of the first failure, empty when all went well.
std::string RunOrder(optima::IAutomation& automation, const std::string& xmlPath) {
  try {
    auto app = automation.CreateApplication();
    auto handle = app->Open(513, 10000);
    auto login = app->Login("ADMIN", W("hasło"), "SERWER\\OPTIMA", optima::DefaultLoginFlags());
    auto session = login->Session();
    auto customer = AsObject(session->OpenObject("CDN.Kontrahenci", "")->Call("AddNew", {optima::Missing{}}));
    customer->Put("Akronim", "NOWY");
    customer->Put("Nazwa1", W("Nowy klient"));
    AsObject(customer->Call("Adres"))->Put("Miasto", W("Łódź"));
    session->Save();
    auto product = AsObject(session->OpenObject("CDN.Towary", "")->Call("AddNew", {optima::Missing{}}));
    product->Put("Kod", "AB/7/1");
    product->Put("Opis", "a\r\nb");
    product->Put("Flaga", 2);
    product->Put("TwGGIDNumer", session->OpenObject("CDN.TwrGrupy", "TwG_Kod='KABLE'")->Call("GIDNumer"));
    session->Save();
    auto import = automation.CreateImport();
    import->Login(*login);
    import->ImportFromFile(xmlPath, 0);
    app->Close();
  } catch (const EOleException& e) {
    return Cp1250ToUtf8(e.Message());
  }
  return {};
}

TEST_F(OptimaSim, JournalHasOneLinePerCall) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  const std::string path = WriteXml("1.xml", DocumentXml("NOWY", {"AB/7/1"}));
  ASSERT_EQ(RunOrder(*automation, path), "");
  const std::vector<std::string> expected = {
      "CreateApplication",
      "Open 513 10000",
      "Login ADMIN hasło SERWER\\OPTIMA",
      "Session",
      "OpenObject CDN.Kontrahenci ",
      "Call AddNew",
      "Put Akronim NOWY",
      "Put Nazwa1 Nowy klient",
      "Call Adres",
      "Put Miasto Łódź",
      "Save",
      "OpenObject CDN.Towary ",
      "Call AddNew",
      "Put Kod AB/7/1",
      "Put Opis a\\r\\nb",
      "Put Flaga 2",
      "OpenObject CDN.TwrGrupy TwG_Kod='KABLE'",
      "Call GIDNumer",
      "Put TwGGIDNumer 7",
      "Save",
      "CreateImport",
      "ImportLogin",
      "Import " + (dir_ / "1.xml").string(),
      "Close",
  };
  EXPECT_EQ(Journal(), expected);

  // A journal removed from outside is started afresh by the next order.
  fs::remove(dir_ / "optima-sim.log");
  automation->CreateApplication()->Close();
  EXPECT_EQ(Journal(), (std::vector<std::string>{"CreateApplication", "Close"}));
}

TEST_F(OptimaSim, FailMapMakesTheNamedCallFail) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"CreateApplication", "CreateApplication"}, {"Open", "Open 513 10000"},
      {"Login", "Login ADMIN"},                   {"Session", "Session"},
      {"OpenObject:CDN.Towary", "OpenObject CDN.Towary "},
      {"AddNew", "Call AddNew"},                  {"Nazwa1", "Put Nazwa1"},
      {"Adres", "Call Adres"},                    {"GIDNumer", "Call GIDNumer"},
      {"TwGGIDNumer", "Put TwGGIDNumer"},         {"Save", "Save"},
      {"CreateImport", "CreateImport"},           {"ImportLogin", "ImportLogin"},
      {"Import", "Import "},                      {"Close", "Close"},
  };
  for (const auto& [call, lastLine] : cases) {
    json state = json::parse(kBaseState);
    state["fail"] = {{call, "Błąd " + call}};
    WriteState(state.dump());
    fs::remove(dir_ / "optima-sim.log");
    auto automation = CreateOptimaStandIn();
    const std::string path = WriteXml("1.xml", DocumentXml("NOWY", {"AB/7/1"}));
    EXPECT_EQ(RunOrder(*automation, path), "Błąd " + call);
    // The failing call is journaled, and it is the last one.
    const std::vector<std::string> journal = Journal();
    ASSERT_FALSE(journal.empty()) << call;
    EXPECT_EQ(journal.back().substr(0, lastLine.size()), lastLine) << call;
  }
}

TEST_F(OptimaSim, OutsideEditsAreSeen) {
  WriteState(kBaseState);
  auto automation = CreateOptimaStandIn();
  {
    Order order(*automation);
    EXPECT_THROW(order.session->OpenObject("CDN.Towary", "Twr_Kod='NOWY'"), EOleException);
  }
  json state = json::parse(kBaseState);
  state["products"].push_back({{"Kod", "NOWY"}});
  WriteState(state.dump());
  {
    Order order(*automation);
    EXPECT_NO_THROW(order.session->OpenObject("CDN.Towary", "Twr_Kod='NOWY'"));
    // An edit made while the order runs is kept by the order's save.
    state["groups"].push_back({{"Kod", "RURY"}, {"GIDNumer", 9}});
    WriteState(state.dump(1));
    AsObject(order.session->OpenObject("CDN.Towary", "")->Call("AddNew", {optima::Missing{}}))->Put("Kod", "X");
    order.session->Save();
  }
  EXPECT_EQ(State()["groups"][1]["Kod"], "RURY");
  EXPECT_EQ(State()["products"].size(), 3u);

  // A file that no longer reads fails the next order with a text, not a crash.
  WriteState("{\"products\": [");
  EXPECT_NE(Message([&] { automation->CreateApplication(); }).find("uszkodzony"), std::string::npos);
  WriteState(R"({"products": {"Kod": "PL"}})");
  EXPECT_NE(Message([&] { automation->CreateApplication(); }).find("uszkodzony"), std::string::npos);
}

}  // namespace
}  // namespace trelvex::posix
