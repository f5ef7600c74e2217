#include "platform/posix/optima_sim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>
#include <vector>

#include <cctype>

#include <pugixml.hpp>
#include <nlohmann/json.hpp>

#include "common/encoding.h"
#include "common/error.h"

namespace trelvex::posix {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using optima::Variant;

constexpr const char* kStateFile = "optima-sim.json";
constexpr const char* kJournalFile = "optima-sim.log";
constexpr const char* kDocumentsFile = "optima-sim-documents.jsonl";

// Raises the ERP's failure; the text is composed in UTF-8 and handed over in
// Windows-1250 like every text crossing the interface.
[[noreturn]] void Fail(std::string_view utf8) { throw EOleException(Utf8ToCp1250(utf8)); }

std::string PathUtf8(const fs::path& path) { return Cp1250ToUtf8(TextFromPath(path)); }

std::string ErrnoText(int error) { return std::system_category().message(error); }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// ---------------------------------------------------------------------------
// Files on disk

// What tells one state of a file from another without reading it.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;
  bool operator==(const FileId&) const = default;
};

FileId IdOf(const struct stat& st) {
  return FileId{st.st_dev, st.st_ino, st.st_size,
                static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The file's identity; nullopt when it does not exist.
std::optional<FileId> StatFile(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return IdOf(st);
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes and reports whether the close succeeded (it may report a failed
  // write-back).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Writes all of `data`; false with errno set on failure.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A file that lines are appended to, kept open across calls. Every line goes
// out in one write, so outside readers see whole lines at once. When the file
// is removed or replaced from outside, the next check opens the new one.
class AppendFile {
 public:
  explicit AppendFile(fs::path path) : path_(std::move(path)) {}

  void Append(std::string_view text) {
    if (fd_.Get() < 0) {
      fd_.Reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
      struct stat st {};
      if (fd_.Get() < 0 || ::fstat(fd_.Get(), &st) != 0) {
        const int error = errno;
        fd_.Reset();
        Fail("Nie można otworzyć pliku " + PathUtf8(path_) + ": " + ErrnoText(error));
      }
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
    if (!WriteAll(fd_.Get(), text)) {
      const int error = errno;
      fd_.Reset();
      Fail("Nie można zapisać pliku " + PathUtf8(path_) + ": " + ErrnoText(error));
    }
  }

  void Recheck() {
    if (fd_.Get() < 0) return;
    const std::optional<FileId> id = StatFile(path_);
    if (!id || id->dev != dev_ || id->ino != ino_) fd_.Reset();
  }

  void Close() { fd_.Reset(); }

 private:
  fs::path path_;
  UniqueFd fd_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// ---------------------------------------------------------------------------
// Business object kinds and their members

enum class Kind { Customer, Product, Group };

struct KindInfo {
  const char* progId;
  const char* column;    // the filter's column
  const char* listKey;   // the list in the state file
  const char* codeMember;
  const char* what;      // for messages: "kontrahent o kodzie ..."
};

constexpr KindInfo kKinds[] = {
    {"CDN.Kontrahenci", "Knt_Kod", "customers", "Akronim", "kontrahenta"},
    {"CDN.Towary", "Twr_Kod", "products", "Kod", "towaru"},
    {"CDN.TwrGrupy", "TwG_Kod", "groups", "Kod", "grupy towarowej"},
};

const KindInfo& InfoOf(Kind kind) { return kKinds[static_cast<int>(kind)]; }

enum class MemberType { Text, Integer, Address };

struct Member {
  const char* name;
  MemberType type;
};

constexpr Member kCustomerMembers[] = {
    {"Akronim", MemberType::Text}, {"Nazwa1", MemberType::Text}, {"Nazwa2", MemberType::Text},
    {"Nazwa3", MemberType::Text},  {"NIP", MemberType::Text},    {"Grupa", MemberType::Text},
    {"Adres", MemberType::Address}};
constexpr Member kAddressMembers[] = {
    {"Miasto", MemberType::Text},   {"Ulica", MemberType::Text},
    {"NrDomu", MemberType::Text},   {"NrLokalu", MemberType::Text},
    {"KodPocztowyZKreska", MemberType::Text}, {"Kraj", MemberType::Text}};
constexpr Member kProductMembers[] = {
    {"Kod", MemberType::Text},           {"Nazwa", MemberType::Text},
    {"Opis", MemberType::Text},          {"JM", MemberType::Text},
    {"Flaga", MemberType::Integer},      {"Stawka", MemberType::Integer},
    {"FlagaZak", MemberType::Integer},   {"StawkaZak", MemberType::Integer},
    {"KopiujOpis", MemberType::Integer}, {"EdycjaNazwy", MemberType::Integer},
    {"EdycjaOpisu", MemberType::Integer}, {"TwGGIDNumer", MemberType::Integer}};
constexpr Member kGroupMembers[] = {{"Kod", MemberType::Text}, {"GIDNumer", MemberType::Integer}};

std::span<const Member> MembersOf(Kind kind) {
  switch (kind) {
    case Kind::Customer: return kCustomerMembers;
    case Kind::Product: return kProductMembers;
    case Kind::Group: return kGroupMembers;
  }
  return {};
}

// Member names are matched without regard to case, as late binding does.
const Member& FindMember(std::span<const Member> members, const std::string& name) {
  for (const Member& m : members) {
    if (EqualsNoCase(m.name, name)) return m;
  }
  Fail("Obiekt nie obsługuje właściwości ani metody " + Cp1250ToUtf8(name));
}

// A text put value as UTF-8 for the state file.
Json TextValue(const std::string& member, const Variant& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return Cp1250ToUtf8(*text);
  Fail("Niezgodność typów: właściwość " + std::string(member) + " wymaga tekstu");
}

Json IntegerValue(const std::string& member, const Variant& value) {
  if (const auto* i = std::get_if<std::int32_t>(&value)) return *i;
  // A whole number within range carried by a double is taken as well.
  if (const auto* d = std::get_if<double>(&value)) {
    if (std::isfinite(*d) && *d >= -2147483648.0 && *d <= 2147483647.0 && std::trunc(*d) == *d)
      return static_cast<std::int32_t>(*d);
  }
  Fail("Niezgodność typów: właściwość " + std::string(member) + " wymaga liczby całkowitej");
}

// A stored value handed back through the interface.
Variant ToVariant(const std::string& member, const Json& value) {
  if (value.is_string()) return Utf8ToCp1250(value.get_ref<const std::string&>());
  if (value.is_number_integer()) {
    const std::int64_t i = value.get<std::int64_t>();
    if (i >= std::numeric_limits<std::int32_t>::min() && i <= std::numeric_limits<std::int32_t>::max())
      return static_cast<std::int32_t>(i);
  } else if (value.is_number_float()) {
    return value.get<double>();
  } else if (value.is_boolean()) {
    return static_cast<std::int32_t>(value.get<bool>() ? 1 : 0);
  }
  Fail("Nieprawidłowa wartość właściwości " + member + " w pliku " + kStateFile);
}

Variant ReadMember(const Json& data, const Member& member) {
  const auto it = data.find(member.name);
  if (it == data.end() || it->is_null()) {
    // A group without a number cannot be referred to: never hand out a made-up one.
    if (std::string_view(member.name) == "GIDNumer") Fail("Grupa towarowa nie ma numeru GIDNumer");
    if (member.type == MemberType::Integer) return std::int32_t{0};
    return std::string();
  }
  return ToVariant(member.name, *it);
}

// ---------------------------------------------------------------------------
// Journal text

void AppendEscaped(std::string& line, std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      line += "\\r";
    } else if (c == '\n') {
      line += "\\n";
    } else if (byte < 0x20 && c != '\t') {
      line += "\\x";
      line += kHex[byte >> 4];
      line += kHex[byte & 15];
    } else {
      line += c;
    }
  }
}

// A variant as journal text (Windows-1250); empty for a missing argument.
std::string VariantText(const Variant& value) {
  struct Visitor {
    std::string operator()(std::monostate) const { return "Empty"; }
    std::string operator()(optima::Null) const { return "Null"; }
    std::string operator()(optima::Missing) const { return "Missing"; }
    std::string operator()(std::int32_t i) const { return std::to_string(i); }
    std::string operator()(double d) const {
      char buf[64];
      const auto result = std::to_chars(buf, buf + sizeof buf, d);
      return std::string(buf, result.ptr);
    }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const std::shared_ptr<optima::IDispatchObject>&) const { return "Object"; }
  };
  return std::visit(Visitor{}, value);
}

// ---------------------------------------------------------------------------
// The state of one ERP directory

class Record;

class DirState {
 public:
  explicit DirState(fs::path dir)
      : dir_(std::move(dir)),
        stateFile_(dir_ / kStateFile),
        journal_(dir_ / kJournalFile),
        documents_(dir_ / kDocumentsFile) {}

  const fs::path& Dir() const { return dir_; }

  // Reads the state file again when it changed since it was last read;
  // raises when it is missing or unreadable.
  void Refresh() {
    const std::optional<FileId> id = StatFile(stateFile_);
    if (id && loaded_ && *id == *loaded_) return;
    Clear();
    if (!id) {
      journal_.Close();
      documents_.Close();
      Fail("Comarch ERP Optima nie jest zainstalowana w katalogu " + PathUtf8(dir_) + " (brak pliku " +
           kStateFile + ")");
    }
    Load();
  }

  // Lets outside tools remove or replace the journal and documents files.
  void RecheckFiles() {
    journal_.Recheck();
    documents_.Recheck();
  }

  // One journal line: the call's name, then a blank before each argument.
  void Journal(std::string_view name, std::initializer_list<std::string_view> args) {
    std::string line(name);
    for (const std::string_view arg : args) {
      line += ' ';
      AppendEscaped(line, arg);
    }
    std::string utf8 = Cp1250ToUtf8(line);
    utf8 += '\n';
    journal_.Append(utf8);
  }

  void CheckFail(const std::string& call) const {
    const auto it = fail_.find(call);
    if (it != fail_.end()) throw EOleException(it->second);
  }

  bool OperatorAccepted(const std::string& login, const std::string& password,
                        const std::string& server) const {
    const auto it = doc_.find("operators");
    if (it == doc_.end()) return true;
    const std::string l = Cp1250ToUtf8(login), p = Cp1250ToUtf8(password), s = Cp1250ToUtf8(server);
    return std::any_of(it->begin(), it->end(), [&](const Json& op) {
      return op.value("login", "") == l && op.value("password", "") == p && op.value("server", "") == s;
    });
  }

  // The saved record of `kind` whose code is `code` (UTF-8), or nullptr.
  const Json* Find(Kind kind, const std::string& code) const {
    const auto& index = index_[static_cast<int>(kind)];
    const auto it = index.find(code);
    if (it == index.end()) return nullptr;
    return &doc_[InfoOf(kind).listKey][it->second];
  }

  // Stores the records (session save) and rewrites the state file.
  void Commit(const std::vector<std::shared_ptr<Record>>& records);

  // Appends the lines of imported documents in one write.
  void AppendDocuments(const std::string& lines) { documents_.Append(lines); }

 private:
  using Index = std::unordered_map<std::string, std::size_t>;

  void Clear() {
    doc_ = Json::object();
    for (Index& index : index_) index.clear();
    fail_.clear();
    loaded_.reset();
  }

  [[noreturn]] void Corrupt(std::string_view why) const {
    Fail("Plik " + PathUtf8(stateFile_) + " jest uszkodzony: " + std::string(why));
  }

  void Load() {
    UniqueFd fd(::open(stateFile_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
      Fail("Nie można odczytać pliku " + PathUtf8(stateFile_) + ": " + ErrnoText(errno));
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("Nie można odczytać pliku " + PathUtf8(stateFile_) + ": " + ErrnoText(errno));
      }
      text.append(buf, static_cast<std::size_t>(n));
    }
    Json doc;
    try {
      doc = Json::parse(text);
    } catch (const Json::exception& e) {
      Corrupt(e.what());
    }
    if (!doc.is_object()) Corrupt("oczekiwano obiektu JSON");

    if (const auto it = doc.find("operators"); it != doc.end()) {
      if (!it->is_array()) Corrupt("\"operators\" nie jest listą");
      for (const Json& op : *it) {
        if (!op.is_object()) Corrupt("element \"operators\" nie jest obiektem");
        for (const char* key : {"login", "password", "server"}) {
          const auto field = op.find(key);
          if (field == op.end() || !field->is_string())
            Corrupt(std::string("operator bez tekstu \"") + key + "\"");
        }
      }
    }
    Index index[3];
    for (const Kind kind : {Kind::Customer, Kind::Product, Kind::Group}) {
      const KindInfo& info = InfoOf(kind);
      const auto it = doc.find(info.listKey);
      if (it == doc.end()) continue;
      if (!it->is_array()) Corrupt(std::string("\"") + info.listKey + "\" nie jest listą");
      index[static_cast<int>(kind)] = BuildIndex(*it, info);
    }
    std::unordered_map<std::string, std::string> fail;
    if (const auto it = doc.find("fail"); it != doc.end()) {
      if (!it->is_object()) Corrupt("\"fail\" nie jest obiektem");
      for (const auto& [call, text] : it->items()) {
        if (!text.is_string()) Corrupt("wartość \"fail\" nie jest tekstem");
        fail.emplace(call, Utf8ToCp1250(text.get_ref<const std::string&>()));
      }
    }
    doc_ = std::move(doc);
    for (int i = 0; i < 3; ++i) index_[i] = std::move(index[i]);
    fail_ = std::move(fail);
    loaded_ = IdOf(st);
  }

  Index BuildIndex(const Json& list, const KindInfo& info) const {
    Index index;
    index.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (!list[i].is_object())
        Corrupt(std::string("element \"") + info.listKey + "\" nie jest obiektem");
      const auto code = list[i].find(info.codeMember);
      // The first record of a code wins, as a look-up by code finds one record.
      if (code != list[i].end() && code->is_string()) index.emplace(code->get<std::string>(), i);
    }
    return index;
  }

  // Writes the whole state through a temporary file and a rename, so that the
  // file is never seen half written, even after a crash.
  void WriteStateFile(const std::string& text) {
    std::string tmpl = (dir_ / (std::string(kStateFile) + ".XXXXXX")).native();
    UniqueFd fd(::mkstemp(tmpl.data()));
    if (fd.Get() < 0) Fail("Nie można zapisać pliku " + PathUtf8(stateFile_) + ": " + ErrnoText(errno));
    struct stat old {};
    const mode_t mode = ::stat(stateFile_.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    if (::fchmod(fd.Get(), mode) != 0 || !WriteAll(fd.Get(), text) || ::fsync(fd.Get()) != 0 ||
        !fd.Close() || ::rename(tmpl.c_str(), stateFile_.c_str()) != 0) {
      const int error = errno;
      ::unlink(tmpl.c_str());
      Fail("Nie można zapisać pliku " + PathUtf8(stateFile_) + ": " + ErrnoText(error));
    }
  }

  fs::path dir_;
  fs::path stateFile_;
  Json doc_ = Json::object();
  Index index_[3];
  std::unordered_map<std::string, std::string> fail_;  // texts in Windows-1250
  std::optional<FileId> loaded_;
  AppendFile journal_;
  AppendFile documents_;
};

// ---------------------------------------------------------------------------
// Document import files

constexpr const char* kDocumentNamespace = "http://www.cdn.com.pl/optima/dokument";

// What an import takes from one document of the file (texts in UTF-8).
struct ImportedDocument {
  std::string number;
  std::string payer;
  std::vector<std::string> products;
};

// The encoding named by the file's XML declaration, in lower case; empty
// when the file has no declaration or names none. The parser checks the
// declaration itself; this only chooses how the bytes are read.
std::string DeclaredEncoding(const std::string& content) {
  if (content.compare(0, 5, "<?xml") != 0) return {};
  const std::size_t end = content.find("?>");
  if (end == std::string::npos) return {};
  const std::string decl = content.substr(0, end);
  std::size_t at = decl.find("encoding");
  if (at == std::string::npos) return {};
  at = decl.find_first_of("\"'", at);
  if (at == std::string::npos) return {};
  const std::size_t close = decl.find(decl[at], at + 1);
  if (close == std::string::npos) return {};
  std::string name = decl.substr(at + 1, close - at - 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// The text inside an element (its character data, entities resolved), in
// UTF-8.
std::string ElementText(const pugi::xml_node& node, bool cp1250) {
  std::string text;
  for (const pugi::xml_node& child : node.children())
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
  return cp1250 ? Cp1250ToUtf8(text) : text;
}

// Reads an import file: well-formed XML in the encoding it declares, with the
// document format's root; the payer's code and the items' product codes of
// every document in it. Elements count when they are in the document
// namespace: the root's default namespace, or the root's own prefix bound to
// it.
std::vector<ImportedDocument> ReadDocumentFile(const fs::path& file) {
  const std::string name = PathUtf8(file);
  std::string content;
  {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) Fail("Nie można otworzyć pliku " + name + ": " + ErrnoText(errno));
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("Nie można odczytać pliku " + name + ": " + ErrnoText(errno));
      }
      content.append(buf, static_cast<std::size_t>(n));
    }
  }

  // Windows-1250 text is parsed as it stands: the markup is ASCII, so only
  // the few texts taken out of the file need converting.
  const std::string encoding = DeclaredEncoding(content);
  const bool cp1250 = encoding == "windows-1250" || encoding == "cp1250";
  pugi::xml_encoding parseAs = pugi::encoding_utf8;
  if (encoding == "iso-8859-1" || encoding == "latin1") {
    parseAs = pugi::encoding_latin1;
  } else if (!cp1250 && !encoding.empty() && encoding != "utf-8" && encoding != "utf8") {
    Fail("Plik " + name + " nie jest poprawnym dokumentem XML: nieobsługiwane kodowanie " + encoding);
  }

  // Only the predefined entities and character references are resolved; a
  // document type is skipped, so nothing outside the file is ever read.
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer_inplace(
      content.data(), content.size(), pugi::parse_default | pugi::parse_declaration, parseAs);
  if (!parsed) {
    Fail("Plik " + name + " nie jest poprawnym dokumentem XML: " + parsed.description() + " (bajt " +
         std::to_string(parsed.offset) + ")");
  }
  // One root element, and nothing but markup around it.
  int roots = 0;
  for (const pugi::xml_node& top : doc.children()) {
    if (top.type() == pugi::node_element) ++roots;
    if (top.type() == pugi::node_pcdata || top.type() == pugi::node_cdata)
      Fail("Plik " + name + " nie jest poprawnym dokumentem XML: tekst poza elementem głównym");
  }
  if (roots != 1) Fail("Plik " + name + " nie jest poprawnym dokumentem XML: oczekiwano jednego elementu głównego");

  const pugi::xml_node root = doc.document_element();
  const std::string rootName = root.name();
  const std::size_t colon = rootName.find(':');
  const std::string prefix = colon == std::string::npos ? std::string() : rootName.substr(0, colon + 1);
  const std::string binding = prefix.empty() ? "xmlns" : "xmlns:" + prefix.substr(0, prefix.size() - 1);
  if (rootName != prefix + "ROOT" || std::string(root.attribute(binding.c_str()).value()) != kDocumentNamespace)
    Fail("Plik " + name + " nie jest dokumentem Optimy: oczekiwano elementu ROOT w przestrzeni nazw " +
         kDocumentNamespace);
  // Element names with the root's prefix; kept as named strings, since the
  // parser's child ranges hold on to the name they were given.
  const std::string kDokument = prefix + "DOKUMENT", kNaglowek = prefix + "NAGLOWEK",
                    kNumer = prefix + "NUMER_PELNY", kPlatnik = prefix + "PLATNIK", kKod = prefix + "KOD",
                    kPozycje = prefix + "POZYCJE", kPozycja = prefix + "POZYCJA", kTowar = prefix + "TOWAR";

  std::vector<ImportedDocument> documents;
  for (const pugi::xml_node& d : root.children(kDokument.c_str())) {
    ImportedDocument document;
    const pugi::xml_node header = d.child(kNaglowek.c_str());
    if (const pugi::xml_node number = header.child(kNumer.c_str())) document.number = ElementText(number, cp1250);
    const pugi::xml_node payerCode = header.child(kPlatnik.c_str()).child(kKod.c_str());
    if (!payerCode) Fail("Plik " + name + ": dokument bez kodu płatnika (NAGLOWEK/PLATNIK/KOD)");
    document.payer = ElementText(payerCode, cp1250);
    for (const pugi::xml_node& item : d.child(kPozycje.c_str()).children(kPozycja.c_str())) {
      const pugi::xml_node code = item.child(kTowar.c_str()).child(kKod.c_str());
      if (!code) Fail("Plik " + name + ": pozycja dokumentu bez kodu towaru (TOWAR/KOD)");
      document.products.push_back(ElementText(code, cp1250));
    }
    documents.push_back(std::move(document));
  }
  if (documents.empty()) Fail("Plik " + name + " nie zawiera dokumentu (ROOT/DOKUMENT)");
  return documents;
}

// ---------------------------------------------------------------------------
// Login, session and business objects

struct AppState {
  bool closed = false;
};

struct LoginState {
  std::shared_ptr<DirState> dir;
  std::shared_ptr<AppState> app;
  bool Active() const { return !app->closed; }
};

// What a session holds until it is saved: records added and records changed.
struct SessionCore {
  std::shared_ptr<LoginState> login;
  std::vector<std::shared_ptr<Record>> pending;
};

void RequireActive(const LoginState& login) {
  if (!login.Active()) Fail("Sesja została zamknięta: aplikacja nie jest otwarta");
}

// The journal line of a late-bound call: the member, then the arguments
// given (a missing optional argument is left out).
void JournalCall(DirState& dir, const std::string& member, const std::vector<Variant>& args) {
  std::string line = member;
  for (const Variant& arg : args) {
    if (std::holds_alternative<optima::Missing>(arg)) continue;
    line += ' ';
    line += VariantText(arg);
  }
  dir.Journal("Call", {line});
}

class Record : public optima::IDispatchObject, public std::enable_shared_from_this<Record> {
 public:
  Record(Kind kind, Json data, bool isNew, std::string code, std::shared_ptr<DirState> dir,
         const std::shared_ptr<SessionCore>& session)
      : kind(kind),
        data(std::move(data)),
        isNew(isNew),
        savedCode(std::move(code)),
        dir_(std::move(dir)),
        session_(session) {}

  Variant Call(const std::string& member, const std::vector<Variant>& args) override {
    JournalCall(*dir_, member, args);
    const Member& m = FindMember(MembersOf(kind), member);
    dir_->CheckFail(m.name);
    if (m.type == MemberType::Address) return AddressObject();
    return ReadMember(data, m);
  }

  void Put(const std::string& member, const Variant& value) override {
    dir_->Journal("Put", {member, VariantText(value)});
    const Member& m = FindMember(MembersOf(kind), member);
    dir_->CheckFail(m.name);
    if (m.type == MemberType::Address) Fail("Właściwość Adres jest tylko do odczytu");
    data[m.name] = m.type == MemberType::Text ? TextValue(m.name, value) : IntegerValue(m.name, value);
    Changed();
  }

  // Puts on the address object land in the customer's "Adres".
  void PutAddress(const std::string& member, const Variant& value) {
    dir_->Journal("Put", {member, VariantText(value)});
    const Member& m = FindMember(kAddressMembers, member);
    dir_->CheckFail(m.name);
    Json& address = data["Adres"];
    if (!address.is_object()) address = Json::object();
    address[m.name] = TextValue(m.name, value);
    Changed();
  }

  Variant CallAddress(const std::string& member) {
    dir_->Journal("Call", {member});
    const Member& m = FindMember(kAddressMembers, member);
    dir_->CheckFail(m.name);
    const auto it = data.find("Adres");
    return it != data.end() && it->is_object() ? ReadMember(*it, m) : Variant(std::string());
  }

  // Queues the record for the session's next save.
  void Queue() {
    if (queued) return;
    const std::shared_ptr<SessionCore> session = session_.lock();
    if (!session) Fail("Sesja została zamknięta");
    session->pending.push_back(shared_from_this());
    queued = true;
  }

  Kind kind;
  Json data;
  bool isNew;
  std::string savedCode;  // the code it is stored under (UTF-8), when not new
  bool queued = false;

 private:
  Variant AddressObject();
  void Changed() { Queue(); }

  std::shared_ptr<DirState> dir_;
  std::weak_ptr<SessionCore> session_;
};

class Address : public optima::IDispatchObject {
 public:
  explicit Address(std::shared_ptr<Record> customer) : customer_(std::move(customer)) {}
  Variant Call(const std::string& member, const std::vector<Variant>&) override {
    return customer_->CallAddress(member);
  }
  void Put(const std::string& member, const Variant& value) override {
    customer_->PutAddress(member, value);
  }

 private:
  std::shared_ptr<Record> customer_;
};

Variant Record::AddressObject() {
  return std::shared_ptr<optima::IDispatchObject>(std::make_shared<Address>(shared_from_this()));
}

class Collection : public optima::IDispatchObject {
 public:
  Collection(Kind kind, std::shared_ptr<DirState> dir, const std::shared_ptr<SessionCore>& session)
      : kind_(kind), dir_(std::move(dir)), session_(session) {}

  Variant Call(const std::string& member, const std::vector<Variant>& args) override {
    JournalCall(*dir_, member, args);
    if (!EqualsNoCase(member, "AddNew"))
      Fail("Obiekt nie obsługuje właściwości ani metody " + Cp1250ToUtf8(member));
    dir_->CheckFail("AddNew");
    const std::shared_ptr<SessionCore> session = session_.lock();
    if (!session) Fail("Sesja została zamknięta");
    RequireActive(*session->login);
    auto record = std::make_shared<Record>(kind_, Json::object(), true, std::string(), dir_, session);
    record->Queue();
    return std::shared_ptr<optima::IDispatchObject>(record);
  }

  void Put(const std::string& member, const Variant& value) override {
    dir_->Journal("Put", {member, VariantText(value)});
    Fail("Obiekt nie obsługuje właściwości " + Cp1250ToUtf8(member));
  }

 private:
  Kind kind_;
  std::shared_ptr<DirState> dir_;
  std::weak_ptr<SessionCore> session_;
};

void DirState::Commit(const std::vector<std::shared_ptr<Record>>& records) {
  Refresh();
  if (records.empty()) return;  // nothing to store: the file stays as it is
  Json next = doc_;
  Index index[3] = {index_[0], index_[1], index_[2]};
  std::vector<std::string> codes;
  for (const std::shared_ptr<Record>& record : records) {
    const KindInfo& info = InfoOf(record->kind);
    Index& byCode = index[static_cast<int>(record->kind)];
    const auto codeIt = record->data.find(info.codeMember);
    if (codeIt == record->data.end() || !codeIt->is_string())
      Fail(std::string("Nie można zapisać ") + info.what + ": brak kodu (" + info.codeMember + ")");
    const std::string code = codeIt->get<std::string>();

    std::optional<std::size_t> slot;
    if (!record->isNew) {
      if (const auto it = byCode.find(record->savedCode); it != byCode.end()) slot = it->second;
    }
    if (const auto dup = byCode.find(code); dup != byCode.end() && (!slot || dup->second != *slot))
      Fail(std::string("Nie można zapisać ") + info.what + ": kod " + code + " już istnieje");

    Json& list = next[info.listKey];
    if (!list.is_array()) list = Json::array();
    Json data = record->data;
    if (record->kind == Kind::Group && !data.contains("GIDNumer")) {
      std::int64_t highest = 0;
      for (const Json& group : list) {
        const auto gid = group.find("GIDNumer");
        if (gid != group.end() && gid->is_number_integer()) highest = std::max(highest, gid->get<std::int64_t>());
      }
      data["GIDNumer"] = highest + 1;
    }
    if (slot) {
      if (record->savedCode != code) byCode.erase(record->savedCode);
      list[*slot] = data;
      byCode[code] = *slot;
    } else {
      list.push_back(data);
      byCode[code] = list.size() - 1;
    }
    codes.push_back(code);
  }

  WriteStateFile(next.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
  doc_ = std::move(next);
  for (int i = 0; i < 3; ++i) index_[i] = std::move(index[i]);
  loaded_ = StatFile(stateFile_);

  for (std::size_t i = 0; i < records.size(); ++i) {
    Record& record = *records[i];
    if (record.kind == Kind::Group) {
      if (const Json* saved = Find(Kind::Group, codes[i])) record.data["GIDNumer"] = (*saved)["GIDNumer"];
    }
    record.isNew = false;
    record.savedCode = codes[i];
    record.queued = false;
  }
}

// Reads a filter of the form column='value', a doubled quote inside standing
// for one; blanks may surround the column and the equals sign.
std::optional<std::pair<std::string, std::string>> ParseFilter(std::string_view filter) {
  const std::size_t eq = filter.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view column = filter.substr(0, eq);
  while (!column.empty() && column.front() == ' ') column.remove_prefix(1);
  while (!column.empty() && column.back() == ' ') column.remove_suffix(1);
  if (column.empty()) return std::nullopt;
  std::size_t pos = eq + 1;
  while (pos < filter.size() && filter[pos] == ' ') ++pos;
  if (pos >= filter.size() || filter[pos] != '\'') return std::nullopt;
  ++pos;
  std::string value;
  for (;;) {
    if (pos >= filter.size()) return std::nullopt;  // no closing quote
    if (filter[pos] == '\'') {
      if (pos + 1 < filter.size() && filter[pos + 1] == '\'') {
        value += '\'';
        pos += 2;
        continue;
      }
      ++pos;
      break;
    }
    value += filter[pos++];
  }
  while (pos < filter.size() && filter[pos] == ' ') ++pos;
  if (pos != filter.size()) return std::nullopt;
  return std::make_pair(std::string(column), std::move(value));
}

class Session : public optima::ISession {
 public:
  explicit Session(std::shared_ptr<LoginState> login)
      : core_(std::make_shared<SessionCore>(SessionCore{std::move(login), {}})) {}

  std::shared_ptr<optima::IDispatchObject> OpenObject(const std::string& progId,
                                                      const std::string& filter) override {
    DirState& dir = *core_->login->dir;
    dir.Journal("OpenObject", {progId, filter});
    dir.CheckFail("OpenObject:" + progId);
    RequireActive(*core_->login);
    const auto info = std::find_if(std::begin(kKinds), std::end(kKinds),
                                   [&](const KindInfo& k) { return progId == k.progId; });
    if (info == std::end(kKinds)) Fail("Nie można utworzyć obiektu " + Cp1250ToUtf8(progId));
    const auto kind = static_cast<Kind>(info - std::begin(kKinds));

    if (filter.find_first_not_of(' ') == std::string::npos)
      return std::make_shared<Collection>(kind, core_->login->dir, core_);
    const auto parsed = ParseFilter(filter);
    if (!parsed || !EqualsNoCase(parsed->first, info->column))
      Fail("Nieprawidłowy filtr " + Cp1250ToUtf8(filter) + " dla obiektu " + info->progId +
           " (oczekiwano " + info->column + "='...')");
    const std::string code = Cp1250ToUtf8(parsed->second);
    const Json* found = dir.Find(kind, code);
    if (!found) Fail("Nie znaleziono " + std::string(info->what) + " spełniającego warunek " + Cp1250ToUtf8(filter));
    return std::make_shared<Record>(kind, *found, false, code, core_->login->dir, core_);
  }

  void Save() override {
    DirState& dir = *core_->login->dir;
    dir.Journal("Save", {});
    dir.Refresh();
    dir.CheckFail("Save");
    RequireActive(*core_->login);
    // A refused save leaves the records pending, as they were.
    dir.Commit(core_->pending);
    core_->pending.clear();
  }

 private:
  std::shared_ptr<SessionCore> core_;
};

class Login : public optima::ILogin {
 public:
  explicit Login(std::shared_ptr<LoginState> state) : state_(std::move(state)) {}

  std::unique_ptr<optima::ISession> Session() override {
    state_->dir->Journal("Session", {});
    state_->dir->CheckFail("Session");
    RequireActive(*state_);
    return std::make_unique<class Session>(state_);
  }

  const std::shared_ptr<LoginState>& State() const { return state_; }

 private:
  std::shared_ptr<LoginState> state_;
};

class Handle : public optima::IHandle {};

class Application : public optima::IApplication {
 public:
  explicit Application(std::shared_ptr<DirState> dir)
      : dir_(std::move(dir)), app_(std::make_shared<AppState>()) {}
  // Releasing the application ends its logins, closed or not.
  ~Application() override { app_->closed = true; }

  std::unique_ptr<optima::IHandle> Open(std::int32_t a, std::int32_t b) override {
    dir_->Journal("Open", {std::to_string(a), std::to_string(b)});
    dir_->CheckFail("Open");
    return std::make_unique<Handle>();
  }

  std::unique_ptr<optima::ILogin> Login(const std::string& login, const std::string& password,
                                        const std::string& server, const optima::LoginFlags&) override {
    dir_->Journal("Login", {login, password, server});
    dir_->CheckFail("Login");
    if (app_->closed) Fail("Aplikacja została zamknięta");
    if (!dir_->OperatorAccepted(login, password, server))
      Fail("Logowanie nie powiodło się: nieprawidłowy operator, hasło lub serwer");
    return std::make_unique<class Login>(std::make_shared<LoginState>(LoginState{dir_, app_}));
  }

  void Close() override {
    dir_->Journal("Close", {});
    dir_->CheckFail("Close");
    app_->closed = true;
  }

 private:
  std::shared_ptr<DirState> dir_;
  std::shared_ptr<AppState> app_;
};

class Import : public optima::IImport {
 public:
  explicit Import(std::shared_ptr<DirState> dir) : dir_(std::move(dir)) {}

  void Login(optima::ILogin& login) override {
    dir_->Journal("ImportLogin", {});
    dir_->CheckFail("ImportLogin");
    const auto* ours = dynamic_cast<const class Login*>(&login);
    if (!ours) Fail("Nieprawidłowy obiekt logowania");
    RequireActive(*ours->State());
    login_ = ours->State();
  }

  void ImportFromFile(const std::string& path, std::int32_t) override {
    dir_->Journal("Import", {path});
    dir_->CheckFail("Import");
    if (!login_ || !login_->Active()) Fail("Import wymaga zalogowania (brak wywołania Login importu)");
    DirState& erp = *login_->dir;
    if (&erp != dir_.get()) erp.Refresh();

    std::error_code ec;
    fs::path file = fs::absolute(PathFromText(path), ec);
    if (ec) file = PathFromText(path);
    const std::vector<ImportedDocument> documents = ReadDocumentFile(file);

    std::string lines;
    for (const ImportedDocument& doc : documents) {
      if (!erp.Find(Kind::Customer, doc.payer))
        Fail("Nie znaleziono kontrahenta o kodzie " + doc.payer + " (płatnik dokumentu " + doc.number + ")");
      for (const std::string& product : doc.products) {
        if (!erp.Find(Kind::Product, product))
          Fail("Nie znaleziono towaru o kodzie " + product + " (dokument " + doc.number + ")");
      }
      Json line = Json::object();
      line["file"] = PathUtf8(file);
      line["NUMER_PELNY"] = doc.number;
      line["PLATNIK"] = doc.payer;
      line["TOWARY"] = doc.products;
      lines += line.dump(-1, ' ', false, Json::error_handler_t::replace);
      lines += '\n';
    }
    erp.AppendDocuments(lines);
  }

 private:
  std::shared_ptr<DirState> dir_;
  std::shared_ptr<LoginState> login_;
};

class Automation : public optima::IAutomation {
 public:
  std::unique_ptr<optima::IApplication> CreateApplication() override {
    const std::shared_ptr<DirState> dir = Current();
    dir->RecheckFiles();
    dir->Journal("CreateApplication", {});
    dir->CheckFail("CreateApplication");
    return std::make_unique<Application>(dir);
  }

  std::unique_ptr<optima::IImport> CreateImport() override {
    const std::shared_ptr<DirState> dir = Current();
    dir->Journal("CreateImport", {});
    dir->CheckFail("CreateImport");
    return std::make_unique<Import>(dir);
  }

 private:
  // The state of the current directory, read again if its file changed. The
  // state is checked once per call of the automation object (once per order,
  // and again at session save), not at every look-up.
  std::shared_ptr<DirState> Current() {
    std::error_code ec;
    fs::path dir = fs::current_path(ec);
    if (ec) Fail("Nie można ustalić bieżącego katalogu: " + ec.message());
    std::shared_ptr<DirState>& state = dirs_[dir.native()];
    if (!state) state = std::make_shared<DirState>(dir);
    state->Refresh();
    return state;
  }

  std::unordered_map<std::string, std::shared_ptr<DirState>> dirs_;
};

}  // namespace

std::unique_ptr<optima::IAutomation> CreateOptimaStandIn() { return std::make_unique<Automation>(); }

}  // namespace trelvex::posix
