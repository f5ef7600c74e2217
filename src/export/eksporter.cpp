#include "export/eksporter.h"

#include <exception>

#include "common/datetime.h"
#include "common/error.h"
#include "common/platform.h"
#include "common/text.h"
#include "export/dokument_xml.h"
#include "export/rejestracja.h"

namespace trelvex {

namespace {

// Outcomes of a request and results of an order.
constexpr std::int32_t kExported = 2;
constexpr std::int32_t kFailed = 3;
constexpr std::int32_t kRefused = 5;
constexpr std::int32_t kLocked = 6;
constexpr std::int32_t kArchived = 7;
constexpr std::int32_t kDeleted = 8;

// Item statuses written besides the order results.
constexpr std::int32_t kItemInProgress = 1;
constexpr std::int32_t kItemOrderMissing = 4;

// The ERP's application open and its arguments.
constexpr std::int32_t kOpenMode = 513;
constexpr std::int32_t kOpenTimeout = 10000;

// "Zamówienie "
const std::string kOrder = "Zam\xF3wienie ";
const std::string kCancelled = " Eksport zam\xF3wienia anulowany.";

std::string IntegerText(const db::Value& v) {
  return v.IsNull() ? std::string() : std::to_string(v.AsInt64());
}

std::string Field(const db::Query& q, std::string_view name) { return q.FieldByName(name).AsString(); }

std::int32_t IntField(const db::Query& q, std::string_view name) {
  return q.FieldByName(name).AsInteger();
}

// Closes the line query when an order's export ends, whatever happened.
class CloseOnExit {
 public:
  explicit CloseOnExit(db::Query& q) : q_(q) {}
  ~CloseOnExit() {
    try {
      q_.Close();
    } catch (...) {
    }
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  db::Query& q_;
};

template <typename T>
T NotNull(T object, const char* what) {
  if (!object) throw EOleException(std::string(what) + ": brak obiektu");
  return object;
}

}  // namespace

// Working state of one order's export; the ERP objects still held are
// released when it ends (business objects first, the application last).
struct TdmEksporter::OrderExport {
  std::int32_t step = 0;
  LineCodeMap lineCodes;
  std::int32_t lockId = -1;
  std::unique_ptr<optima::IApplication> application;
  std::unique_ptr<optima::IHandle> opened;
  std::unique_ptr<optima::ILogin> login;
  std::unique_ptr<optima::ISession> session;
  std::unique_ptr<optima::IImport> import;
  RegistrationObjects objects;
};

TdmEksporter::TdmEksporter(TDM& dm, optima::IAutomation& automation)
    : ZamT(dm.BazaDanych),
      ZamHeadQ(ZamT, kZamHeadSql),
      ZamDetailQ(ZamT, kZamDetailSql),
      ZamHeadUpdateQ(ZamT, kZamHeadUpdateSql),
      dm_(dm),
      automation_(automation) {}

TdmEksporter::~TdmEksporter() = default;

std::unique_ptr<IRequestExporter> CreateRequestExporter(TDM& dm, optima::IAutomation& automation) {
  return std::make_unique<TdmEksporter>(dm, automation);
}

void AppendLogLine(std::string& log, std::string_view line) {
  const bool wasEmpty = log.empty();
  log += "\r\n";
  log += line;
  std::size_t end = log.size();
  while (end > 0 && static_cast<unsigned char>(log[end - 1]) <= 32) --end;
  log.resize(end);
  // A trimmed log starts with a printable byte; only a first line can bring
  // leading blanks and the line break before it.
  if (wasEmpty) {
    std::size_t begin = 0;
    while (begin < log.size() && static_cast<unsigned char>(log[begin]) <= 32) ++begin;
    log.erase(0, begin);
  }
}

std::int32_t TdmEksporter::PEH(std::int32_t requestId, std::string& summary, std::string& log) {
  summary.clear();
  log.clear();
  std::int32_t outcome = 1;
  std::int32_t counter = 0;
  std::int32_t exported = 0;

  dm_.StartTr(ZamT);
  try {
    ZamHeadQ.Close();
    ZamHeadQ.SetInteger("IDEKSPHEAD", requestId);
    ZamHeadQ.Open();
    ZamHeadQ.First();
    const std::int32_t total = ZamHeadQ.RecordCount();
    if (total <= 0 || ZamHeadQ.Eof()) {
      throw Exception("Nie znaleziono zam\xF3wienia dla EKSPHEAD.ID=" + std::to_string(requestId));
    }
    // Every row belongs to the same request.
    const std::string requestDate = DateTimeToText(ZamHeadQ.FieldByName("DATA").AsDateTime());
    const std::string requester = Field(ZamHeadQ, "EKSPOPERATOR");
    const std::string ofTotal = "/" + std::to_string(total) + " \"";

    std::string line;
    for (; !ZamHeadQ.Eof(); ZamHeadQ.Next()) {
      ++counter;
      std::int32_t result = kFailed;
      std::string message;
      std::string documentNumber;
      const std::int32_t itemId = IntField(ZamHeadQ, "ID");
      const db::Value& orderId = ZamHeadQ.FieldByName("IDZAMHEAD");

      if (orderId.IsNull()) {
        message = "Nie znaleziono zam\xF3wienia EKSPDETAIL.IDREKORDU=" + Field(ZamHeadQ, "IDREKORDU");
        dm_.SetDetailStatus(itemId, kItemOrderMissing, message, documentNumber);
        outcome = 3;
      } else {
        dm_.SetDetailStatus(itemId, kItemInProgress, "", "");
        result = EZ(orderId.AsInteger(), message, documentNumber);
        switch (result) {
          case kExported:
            dm_.SetDetailStatus(itemId, kExported, message, documentNumber);
            ++exported;
            break;
          case kFailed:
            dm_.SetDetailStatus(itemId, kFailed, message, documentNumber);
            outcome = 3;
            break;
          case kRefused:
          case kLocked:
          case kArchived:
          case kDeleted:
            dm_.SetDetailStatus(itemId, result, message, documentNumber);
            if (outcome == 1) outcome = 2;
            break;
          default:
            break;
        }
      }

      const std::string numerStr = Field(ZamHeadQ, "NUMERSTR");
      line = std::to_string(counter);
      line += ofTotal;
      line += numerStr;
      line += "\" ";
      line += message;
      AppendLogLine(log, line);

      // The operator who queued the request hears of the item when the
      // configuration asks for this kind of outcome.
      const std::string quoted = "\"" + numerStr + "\" dla \"" + Field(ZamHeadQ, "SKROTNAZWY") + "\"";
      std::string subject;
      std::uint8_t bit = 1;
      std::int32_t priority = 0;
      if (result == kExported) {
        subject = "Eksport zam\xF3wienia " + quoted + " zako\xF1" "czono powodzeniem";
        bit = 2;
      } else if (result == kFailed) {
        subject = "B\xB3\xB9" "d przy eksporcie zam\xF3wienia " + quoted + " (nie wyeksportowano)";
        bit = 0;
        priority = 1;
      } else {
        subject = "Problem przy eksporcie zam\xF3wienia " + quoted + " (nie wyeksportowano)";
      }
      if (IsBitSet(bit, dm_.Konf.OPCJE)) {
        dm_.AddMessage(1, -1, IntField(ZamHeadQ, "EIDOPERATORA"), -1, IntField(ZamHeadQ, "IDREKORDU"),
                       priority, Now(), subject, message, kOrderTable);
      }
    }

    static const char* const kWording[] = {
        "",
        "zako\xF1" "czono powodzeniem. ",
        "zako\xF1" "czono z ostrzerzeniami. ",
        "zako\xF1" "czono z b\xB3\xEA" "dami. ",
    };
    summary = "Zlecenie z " + requestDate + " od " + requester + " " + kWording[outcome] +
              "Przetworzono " + std::to_string(exported) + " z " + std::to_string(total) +
              " pozycji.";
    ZamHeadQ.Close();
  } catch (const std::exception& e) {
    outcome = 3;
    summary = "TdmEksporter.PEH " + ExceptionMessage(e);
    try {
      ZamHeadQ.Close();
    } catch (...) {
    }
  }
  dm_.CommitTr(ZamT);
  return outcome;
}

std::int32_t TdmEksporter::EZ(std::int32_t orderId, std::string& message,
                              std::string& documentNumber) {
  message.clear();
  documentNumber.clear();
  OrderExport ox;
  CloseOnExit closeLines(ZamDetailQ);
  try {
    // Checks on the header as fetched when the request's walk began.
    const db::Query& h = ZamHeadQ;
    const std::string refused = kOrder + Field(h, "NUMERSTR");
    const db::Value& count = h.FieldByName("ILOSCPOZYCJI");
    const db::Value& count2 = h.FieldByName("ILOSCPOZYCJI2");
    if (IntField(h, "ARC") == 1) {
      message = refused + " zosta\xB3o przeniesione do archiwum." + kCancelled;
      return kArchived;
    }
    if (IntField(h, "USUNIETY") == 1) {
      message = refused + " zosta\xB3o usuni\xEAte." + kCancelled;
      return kDeleted;
    }
    if (count.AsInteger() != count2.AsInteger()) {
      message = refused + " ma niezgodn\xB9 ilo\x9C\xE6 pozycji (" + IntegerText(count) + "/" +
                IntegerText(count2) + ")." + kCancelled;
      return kRefused;
    }
    if (count.AsInteger() == 0) {
      message = refused + " nie posiada specyfikacji." + kCancelled;
      return kRefused;
    }
    if (IntField(h, "STATUS") >= 2) {
      message = refused + " zosta\xB3o anulowane lub wstrzymane." + kCancelled;
      return kRefused;
    }
    if (IntField(h, "STAN") > 0) {
      message = refused + " ma stan inny ni\xBF \"Przyj\xEAte\"." + kCancelled;
      return kRefused;
    }

    ox.step = 1;
    bool locked = false;
    try {
      locked = dm_.SetObjectLock(kOrderTable, orderId, -1, ox.lockId, true);
    } catch (const std::exception&) {
      locked = false;  // a lock that cannot be taken is a refusal, never a failure
    }
    if (!locked) {
      message = refused + " jest w trakcie edycji." + kCancelled;
      return kLocked;
    }

    try {
      ExportInOptima(orderId, ox, message);
    } catch (...) {
      dm_.ReleaseObjectLock(ox.lockId, true);
      throw;
    }
    dm_.ReleaseObjectLock(ox.lockId, true);
    ox.step = 80;
    return kExported;
  } catch (const std::exception& e) {
    message = "TdmEksporter.EZ (" + std::to_string(ox.step) + ") " + ExceptionMessage(e);
    return kFailed;
  }
}

void TdmEksporter::ExportInOptima(std::int32_t orderId, OrderExport& ox, std::string& message) {
  const TKonfEksport& konf = dm_.Konf;
  ox.step = 2;
  ZamDetailQ.Close();
  ZamDetailQ.SetInteger("IDHEAD", orderId);
  ZamDetailQ.Open();
  ox.step = 3;
  platform::SetCurrentDir(konf.SCIEZKA);
  ox.step = 4;
  ox.application = NotNull(automation_.CreateApplication(), "CoApplication");
  ox.step = 5;
  ox.opened = ox.application->Open(kOpenMode, kOpenTimeout);
  ox.step = 6;

  // Session, login and application are released and the ERP closed whether
  // or not the steps inside the login succeed; a failing close replaces the
  // failure being handled.
  auto closeErp = [&ox] {
    std::unique_ptr<optima::IApplication> application = std::move(ox.application);
    ox.session.reset();
    ox.login.reset();
    application->Close();
  };
  try {
    ox.login = NotNull(
        ox.application->Login(konf.LOGIN, konf.HASLO, konf.SERWER, optima::DefaultLoginFlags()),
        "Login");
    ox.step = 7;
    ox.session = NotNull(ox.login->Session(), "Session");
    ox.step = 8;
    if (konf.Option("DODAJ_KONTRAHENTA") == "1") {
      RegisterCustomer(*ox.session, ZamHeadQ, ox.objects, ox.step);
    }
    if (konf.Option("DODAJ_TOWARY") == "1") {
      RegisterProducts(*ox.session, ZamHeadQ, ZamDetailQ, ox.lineCodes, ox.objects, ox.step);
    }
    WriteDocumentXml(ZamHeadQ, ZamDetailQ, ox.lineCodes, konf.KATALOG, message, ox.step);
    ox.step = 70;
    ox.import = NotNull(automation_.CreateImport(), "CoDokumentHaMagXml");
    ox.step = 71;
    ox.import->Login(*ox.login);
    ox.step = 72;
    ox.import->ImportFromFile(message, 0);
    ox.step = 73;
  } catch (...) {
    closeErp();
    throw;
  }
  closeErp();

  UpdateOrderHeader(orderId, ox.step);
  message = "Eksport zam\xF3wienia \"" + Field(ZamHeadQ, "NUMERSTR") + "\" dla \"" +
            Field(ZamHeadQ, "SKROTNAZWY") + "\" do Optimy zako\xF1" "czono powodzeniem.";
  ox.step = 79;
}

void TdmEksporter::UpdateOrderHeader(std::int32_t orderId, std::int32_t& step) {
  ZamHeadUpdateQ.Close();
  step = 74;
  ZamHeadUpdateQ.SetInteger("ID", orderId);
  step = 75;
  ZamHeadUpdateQ.SetInteger("STATUS", 1);
  ZamHeadUpdateQ.SetInteger("STAN", 1);
  step = 76;
  // An order accepted before keeps its acceptance date; an offer is accepted
  // today. A null date is written as the zero date.
  const TDateTime accepted = IntField(ZamHeadQ, "STATUS") != 0
                                 ? ZamHeadQ.FieldByName("DATAAKCEPTACJI").AsDateTime()
                                 : Today();
  ZamHeadUpdateQ.SetDateTime("DATAAKCEPTACJI", accepted);
  step = 78;
  ZamHeadUpdateQ.ExecSQL();
}

}  // namespace trelvex
