#pragma once
// The ERP's document-import file for one order (document type 308, kind
// 308000): fixed layout, Windows-1250, CR LF after every entry.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "common/datetime.h"
#include "db/database.h"

namespace trelvex {

// Order line number (decimal text) -> product code under which the line's
// product is known in the ERP; filled by product registration.
using LineCodeMap = std::map<std::string, std::string>;

// The order header values the document uses (a null reads as "", 0 or the
// zero date).
struct DocumentHeader {
  std::int32_t IDZAMHEAD = 0;
  std::string NUMERSTR;
  TDateTime DATAAKCEPTACJI = 0;
  double RABATPROC = 0;
  std::string UWAGI;
  std::string OPIS;
  std::string SKROTNAZWY;
  std::string PROSTYNIP;
  std::string KATEGORIA;
  std::string FORMAPLATNOSCI;
  TDateTime DATAPRZYJECIA = 0;
  std::int32_t TERMINPLATNOSCI = 0;
  double NETTO = 0;
  double RABAT = 0;
  double VAT = 0;
  std::string KODMAGAZYN;
};

// One order line as the document uses it.
struct DocumentLine {
  std::string LP;  // decimal; empty for a null line number
  std::string SKROTNAZWY;
  std::string NAZWA;
  std::string MODYFIKATOR;
  std::int32_t VATPROC = 0;
  double CENANETTO = 0;
  double CENANETTOPORABACIE = 0;
  double RABATPROC = 0;
  double WARTOSCNETTO = 0;
  double WARTOSCVAT = 0;
  double ILOSC = 0;
  std::string JEDNOSTKA;
};

DocumentHeader ReadDocumentHeader(const db::Query& head);
DocumentLine ReadDocumentLine(const db::Query& lines);

// Builds the document text in one buffer: the header, then one item per
// line, then the trailer.
class DocumentXmlBuilder {
 public:
  explicit DocumentXmlBuilder(std::size_t expectedLines = 0);
  void AddHeader(const DocumentHeader& h);
  void AddLine(const DocumentLine& line, const LineCodeMap& lineCodes);
  // Adds the trailer and hands the whole text over.
  std::string Finish();

 private:
  void Entry(int blanks, std::string_view a, std::string_view b = {}, std::string_view c = {});
  std::string text_;
};

// The description of the header: trimmed remarks after "Uwagi: " and the
// trimmed description after "Opis: ", CR LF between them, escaped.
std::string DocumentDescription(std::string_view uwagi, std::string_view opis);

// Full path of an order's file: the directory, the platform's separator
// unless the directory ends with one, the order id and ".xml".
std::string DocumentXmlPath(const std::string& katalog, std::int32_t orderId);

// Writes the order's document into `katalog`: reads the header row and every
// line row (the line query is left past its last row), leaves the file's path
// in `path`, and moves `step` to 60 while building, 61 while writing and 62
// when done. Raises on any failure.
void WriteDocumentXml(const db::Query& head, db::Query& lines, const LineCodeMap& lineCodes,
                      const std::string& katalog, std::string& path, std::int32_t& step);

// Creates (or replaces) the file at `path` (Windows-1250 text) with `bytes`.
void SaveTextFile(const std::string& path, const std::string& bytes);

}  // namespace trelvex
