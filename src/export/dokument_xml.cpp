#include "export/dokument_xml.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/encoding.h"
#include "common/error.h"
#include "common/platform.h"
#include "common/text.h"

namespace trelvex {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// Rough size of one item in bytes, without its texts.
constexpr std::size_t kLineBytes = 1700;
constexpr std::size_t kHeaderBytes = 2200;

std::string Number(double v) { return FormatXmlNumber(v); }

std::string IntegerText(const db::Value& v) {
  return v.IsNull() ? std::string() : std::to_string(v.AsInt64());
}

}  // namespace

DocumentHeader ReadDocumentHeader(const db::Query& head) {
  DocumentHeader h;
  h.IDZAMHEAD = head.FieldByName("IDZAMHEAD").AsInteger();
  h.NUMERSTR = head.FieldByName("NUMERSTR").AsString();
  h.DATAAKCEPTACJI = head.FieldByName("DATAAKCEPTACJI").AsDateTime();
  h.RABATPROC = head.FieldByName("RABATPROC").AsFloat();
  h.UWAGI = head.FieldByName("UWAGI").AsString();
  h.OPIS = head.FieldByName("OPIS").AsString();
  h.SKROTNAZWY = head.FieldByName("SKROTNAZWY").AsString();
  h.PROSTYNIP = head.FieldByName("PROSTYNIP").AsString();
  h.KATEGORIA = head.FieldByName("KATEGORIA").AsString();
  h.FORMAPLATNOSCI = head.FieldByName("FORMAPLATNOSCI").AsString();
  h.DATAPRZYJECIA = head.FieldByName("DATAPRZYJECIA").AsDateTime();
  h.TERMINPLATNOSCI = head.FieldByName("TERMINPLATNOSCI").AsInteger();
  h.NETTO = head.FieldByName("NETTO").AsFloat();
  h.RABAT = head.FieldByName("RABAT").AsFloat();
  h.VAT = head.FieldByName("VAT").AsFloat();
  h.KODMAGAZYN = head.FieldByName("KODMAGAZYN").AsString();
  return h;
}

DocumentLine ReadDocumentLine(const db::Query& lines) {
  DocumentLine l;
  l.LP = IntegerText(lines.FieldByName("LP"));
  l.SKROTNAZWY = lines.FieldByName("SKROTNAZWY").AsString();
  l.NAZWA = lines.FieldByName("NAZWA").AsString();
  l.MODYFIKATOR = lines.FieldByName("MODYFIKATOR").AsString();
  l.VATPROC = lines.FieldByName("VATPROC").AsInteger();
  l.CENANETTO = lines.FieldByName("CENANETTO").AsFloat();
  l.CENANETTOPORABACIE = lines.FieldByName("CENANETTOPORABACIE").AsFloat();
  l.RABATPROC = lines.FieldByName("RABATPROC").AsFloat();
  l.WARTOSCNETTO = lines.FieldByName("WARTOSCNETTO").AsFloat();
  l.WARTOSCVAT = lines.FieldByName("WARTOSCVAT").AsFloat();
  l.ILOSC = lines.FieldByName("ILOSC").AsFloat();
  l.JEDNOSTKA = lines.FieldByName("JEDNOSTKA").AsString();
  return l;
}

std::string DocumentDescription(std::string_view uwagi, std::string_view opis) {
  std::string text;
  std::string u = Trim(uwagi);
  if (!u.empty()) {
    text += kCrLf;
    text += "Uwagi: ";
    text += u;
  }
  std::string o = Trim(opis);
  if (!o.empty()) {
    text += kCrLf;
    text += "Opis: ";
    text += o;
  }
  return Trim(XmlEscape(text));
}

DocumentXmlBuilder::DocumentXmlBuilder(std::size_t expectedLines) {
  text_.reserve(kHeaderBytes + expectedLines * kLineBytes);
}

void DocumentXmlBuilder::Entry(int blanks, std::string_view a, std::string_view b,
                               std::string_view c) {
  text_.append(static_cast<std::size_t>(blanks), ' ');
  text_.append(a);
  text_.append(b);
  text_.append(c);
  text_.append(kCrLf);
}

void DocumentXmlBuilder::AddHeader(const DocumentHeader& h) {
  const std::string accepted = FormatIsoDate(h.DATAAKCEPTACJI);
  const std::string code = XmlEscape(h.SKROTNAZWY);
  const std::string nip = XmlEscape(h.PROSTYNIP);
  const double net = h.NETTO + h.RABAT;

  Entry(0, "<?xml version=\"1.0\" encoding=\"windows-1250\"?>");
  Entry(0, "<ROOT xmlns=\"http://www.cdn.com.pl/optima/dokument\">");
  Entry(2, "<DOKUMENT>");
  Entry(4, "<NAGLOWEK>");
  Entry(6, "<TYP_DOKUMENTU>308</TYP_DOKUMENTU>");
  Entry(6, "<RODZAJ_DOKUMENTU>308000</RODZAJ_DOKUMENTU>");
  Entry(6, "<NUMER_PELNY>Z:", XmlEscape(h.NUMERSTR), "</NUMER_PELNY>");
  Entry(6, "<DATA_DOKUMENTU>", accepted, "</DATA_DOKUMENTU>");
  Entry(6, "<DATA_WYSTAWIENIA>", accepted, "</DATA_WYSTAWIENIA>");
  Entry(6, "<DATA_OPERACJI>", accepted, "</DATA_OPERACJI>");
  Entry(6, "<KOREKTA>0</KOREKTA>");
  Entry(6, "<DETAL>0</DETAL>");
  Entry(6, "<TYP_NETTO_BRUTTO>1</TYP_NETTO_BRUTTO>");
  Entry(6, "<RABAT>", Number(-100 * h.RABATPROC), "</RABAT>");
  Entry(6, "<OPIS>", DocumentDescription(h.UWAGI, h.OPIS), "</OPIS>");
  Entry(6, "<PLATNIK>");
  Entry(8, "<KOD>", code, "</KOD>");
  Entry(8, "<NIP>", nip, "</NIP>");
  Entry(8, "<GLN/>");
  Entry(6, "</PLATNIK>");
  Entry(6, "<ODBIORCA>");
  Entry(8, "<KOD>", code, "</KOD>");
  Entry(8, "<NIP>", nip, "</NIP>");
  Entry(8, "<GLN/>");
  Entry(6, "</ODBIORCA>");
  Entry(6, "<KATEGORIA>");
  Entry(8, "<KOD>", XmlEscape(h.KATEGORIA), "</KOD>");
  Entry(8, "<OPIS/>");
  Entry(6, "</KATEGORIA>");
  Entry(6, "<PLATNOSC>");
  Entry(8, "<FORMA>", h.FORMAPLATNOSCI, "</FORMA>");
  // Calendar days: the day count carries across month and year ends.
  Entry(8, "<TERMIN>", FormatIsoDate(h.DATAPRZYJECIA + h.TERMINPLATNOSCI), "</TERMIN>");
  Entry(6, "</PLATNOSC>");
  Entry(6, "<WALUTA>");
  Entry(8, "<SYMBOL>PLN</SYMBOL>");
  Entry(8, "<KURS_L>1.00</KURS_L>");
  Entry(8, "<KURS_M>1</KURS_M>");
  Entry(8, "<PLAT_WAL_OD_PLN>0</PLAT_WAL_OD_PLN>");
  Entry(8, "<KURS_NUMER></KURS_NUMER>");
  Entry(8, "<KURS_DATA></KURS_DATA>");
  Entry(6, "</WALUTA>");
  Entry(6, "<KWOTY>");
  Entry(8, "<RAZEM_NETTO_WAL>", Number(net), "</RAZEM_NETTO_WAL>");
  Entry(8, "<RAZEM_NETTO>", Number(net), "</RAZEM_NETTO>");
  Entry(8, "<RAZEM_BRUTTO>", Number(net + h.VAT), "</RAZEM_BRUTTO>");
  Entry(8, "<RAZEM_VAT>", Number(h.VAT), "</RAZEM_VAT>");
  Entry(6, "</KWOTY>");
  Entry(6, "<MAGAZYN_ZRODLOWY>", XmlEscape(h.KODMAGAZYN), " </MAGAZYN_ZRODLOWY>");
  Entry(6, "<MAGAZYN_DOCELOWY/>");
  Entry(6, "<KAUCJE_PLATNOSCI>0</KAUCJE_PLATNOSCI>");
  Entry(6, "<BLOKADA_PLATNOSCI>1</BLOKADA_PLATNOSCI>");
  Entry(6, "<VAT_DLA_DOK_WAL>0</VAT_DLA_DOK_WAL>");
  Entry(4, "</NAGLOWEK>");
  Entry(4, "<POZYCJE>");
}

void DocumentXmlBuilder::AddLine(const DocumentLine& l, const LineCodeMap& lineCodes) {
  std::string_view code = l.SKROTNAZWY;
  if (auto it = lineCodes.find(l.LP); it != lineCodes.end() && !it->second.empty()) {
    code = it->second;
  }
  const std::string price = Number(l.CENANETTO);
  const std::string discounted = Number(l.CENANETTOPORABACIE);
  const std::string net = Number(l.WARTOSCNETTO);
  const std::string gross = Number(l.WARTOSCNETTO + l.WARTOSCVAT);

  Entry(6, "<POZYCJA>");
  Entry(8, "<LP>", l.LP, "</LP>");
  Entry(8, "<TOWAR>");
  Entry(10, "<KOD>", XmlEscape(code), "</KOD>");
  Entry(10, "<NAZWA>", XmlEscape(l.NAZWA), "</NAZWA>");
  Entry(10, "<OPIS>", XmlEscape(l.MODYFIKATOR), "</OPIS>");
  Entry(10, "<EAN/>");
  Entry(10, "<SWW/>");
  Entry(10, "<NUMER_KATALOGOWY/>");
  Entry(8, "</TOWAR>");
  Entry(8, "<STAWKA_VAT>");
  Entry(10, "<STAWKA>", Number(l.VATPROC), "</STAWKA>");
  Entry(10, "<FLAGA>2</FLAGA>");
  Entry(10, "<ZRODLOWA>0.00</ZRODLOWA>");
  Entry(8, "</STAWKA_VAT>");
  Entry(8, "<CENY>");
  Entry(10, "<POCZATKOWA_WAL_CENNIKA>", price, "</POCZATKOWA_WAL_CENNIKA>");
  Entry(10, "<POCZATKOWA_WAL_DOKUMENTU>", price, "</POCZATKOWA_WAL_DOKUMENTU>");
  Entry(10, "<PO_RABACIE_WAL_CENNIKA>", discounted, "</PO_RABACIE_WAL_CENNIKA>");
  Entry(10, "<PO_RABACIE_PLN>", discounted, "</PO_RABACIE_PLN>");
  Entry(10, "<PO_RABACIE_WAL_DOKUMENTU>", discounted, "</PO_RABACIE_WAL_DOKUMENTU>");
  Entry(8, "</CENY>");
  Entry(8, "<WALUTA>");
  Entry(10, "<SYMBOL>PLN</SYMBOL>");
  Entry(10, "<KURS_L>1.00</KURS_L>");
  Entry(10, "<KURS_M>1</KURS_M>");
  Entry(8, "</WALUTA>");
  Entry(8, "<RABAT>", Number(-100 * l.RABATPROC), "</RABAT>");
  Entry(8, "<WARTOSC_NETTO>", net, "</WARTOSC_NETTO>");
  Entry(8, "<WARTOSC_BRUTTO>", gross, "</WARTOSC_BRUTTO>");
  Entry(8, "<WARTOSC_NETTO_WAL>", net, "</WARTOSC_NETTO_WAL>");
  Entry(8, "<WARTOSC_BRUTTO_WAL>", gross, "</WARTOSC_BRUTTO_WAL>");
  Entry(8, "<ILOSC>", Number(l.ILOSC), "</ILOSC>");
  Entry(8, "<JM>", XmlEscape(l.JEDNOSTKA), "</JM>");
  Entry(8, "<JM_CALKOWITE>0.00</JM_CALKOWITE>");
  Entry(8, "<JM_ZLOZONA>");
  Entry(10, "<JMZ/>");
  Entry(10, "<JM_PRZELICZNIK_L>1.00</JM_PRZELICZNIK_L>");
  Entry(10, "<JM_PRZELICZNIK_M>1</JM_PRZELICZNIK_M>");
  Entry(8, "</JM_ZLOZONA>");
  Entry(6, "</POZYCJA>");
}

std::string DocumentXmlBuilder::Finish() {
  Entry(4, "</POZYCJE>");
  Entry(4, "<KAUCJE/>");
  Entry(4, "<PLATNOSCI/>");
  Entry(4, "<PLATNOSCI_KAUCJE/>");
  Entry(4, "<TABELKA_VAT/>");
  Entry(4, "<ATRYBUTY/>");
  Entry(2, "</DOKUMENT>");
  Entry(0, "</ROOT>");
  return std::move(text_);
}

std::string DocumentXmlPath(const std::string& katalog, std::int32_t orderId) {
  const char sep = platform::PathSeparator();
  std::string path = katalog;
  if (path.empty() || path.back() != sep) path += sep;
  path += std::to_string(orderId);
  path += ".xml";
  return path;
}

void SaveTextFile(const std::string& path, const std::string& bytes) {
  errno = 0;
  std::ofstream out(PathFromText(path), std::ios::binary | std::ios::trunc);
  if (!out) {
    const int err = errno;
    throw Exception("Nie mo\xBF" "na utworzy\xE6 pliku " + path +
                    (err != 0 ? ": " + std::string(std::strerror(err)) : std::string()));
  }
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    throw Exception("B\xB3\xB9" "d zapisu pliku " + path);
  }
}

void WriteDocumentXml(const db::Query& head, db::Query& lines, const LineCodeMap& lineCodes,
                      const std::string& katalog, std::string& path, std::int32_t& step) {
  step = 60;
  const DocumentHeader header = ReadDocumentHeader(head);
  DocumentXmlBuilder builder(static_cast<std::size_t>(std::max(lines.RecordCount(), 0)));
  builder.AddHeader(header);
  lines.First();
  while (!lines.Eof()) {
    builder.AddLine(ReadDocumentLine(lines), lineCodes);
    lines.Next();
  }
  const std::string text = builder.Finish();
  path = DocumentXmlPath(katalog, header.IDZAMHEAD);
  step = 61;
  SaveTextFile(path, text);
  step = 62;
}

}  // namespace trelvex
