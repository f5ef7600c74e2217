// The ERP document file: byte for byte against hand-written expected files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/datetime.h"
#include "common/error.h"
#include "common/platform.h"
#include "export/dokument_xml.h"

namespace trelvex {
namespace {

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Expected(const char* name) {
  return ReadBytes(std::filesystem::path(TRELVEX_SOURCE_DIR) / "tests" / "data" / "xml" / name);
}

TDateTime At(int y, int m, int d, int hh = 0, int mm = 0) {
  CivilDateTime c;
  c.year = y;
  c.month = m;
  c.day = d;
  c.hour = hh;
  c.minute = mm;
  return EncodeDateTime(c);
}

// Compares line by line first so that a failure names the first wrong line.
void ExpectSameBytes(const std::string& expected, const std::string& actual) {
  std::size_t pos = 0;
  int line = 1;
  while (pos < expected.size() && pos < actual.size()) {
    std::size_t e = expected.find("\r\n", pos);
    std::size_t a = actual.find("\r\n", pos);
    ASSERT_EQ(expected.substr(pos, e - pos), actual.substr(pos, a - pos)) << "line " << line;
    if (e == std::string::npos) break;
    pos = e + 2;
    ++line;
  }
  EXPECT_EQ(expected, actual);
}

TEST(XmlDocument, HeaderItemsAndTrailerMatchTheExpectedFile) {
  DocumentHeader h;
  h.IDZAMHEAD = 12345;
  h.NUMERSTR = "A&B/2024";
  h.DATAAKCEPTACJI = At(2024, 1, 30, 14, 30);  // the time of day is dropped
  h.RABATPROC = -0.1;
  h.UWAGI = "  Pilne  ";
  h.OPIS = "Dostawa <rano> \xB3ukiem\r\n";
  h.SKROTNAZWY = "KOWAL & SYN";
  h.PROSTYNIP = "1234567890";
  h.KATEGORIA = "Hurt";
  h.FORMAPLATNOSCI = "PRZELEW   ";  // fixed width, written as read
  h.DATAPRZYJECIA = At(2024, 1, 30, 9, 15);
  h.TERMINPLATNOSCI = 30;  // across the end of a leap February
  h.NETTO = 20.04;
  h.RABAT = -2.0;
  h.VAT = 4.14;
  h.KODMAGAZYN = "MAG1";

  DocumentLine l1;
  l1.LP = "1";
  l1.SKROTNAZWY = "PL";
  l1.NAZWA = "Kabel <2m> & wtyk \"F\"";
  l1.MODYFIKATOR = "czerwony\r\n\xB3ukowy";
  l1.VATPROC = 23;
  l1.CENANETTO = 10.0;
  l1.CENANETTOPORABACIE = 9.0;
  l1.RABATPROC = -0.10;
  l1.WARTOSCNETTO = 18.0;
  l1.WARTOSCVAT = 4.14;
  l1.ILOSC = 2;
  l1.JEDNOSTKA = "szt.";

  DocumentLine l2;
  l2.LP = "2";
  l2.SKROTNAZWY = "ABC";
  l2.NAZWA = "\x8Cruba M4 'x'";
  l2.CENANETTO = 0.125;
  l2.CENANETTOPORABACIE = 0.13125;
  l2.RABATPROC = 0.05;  // a surcharge
  l2.WARTOSCNETTO = 0.04;
  l2.ILOSC = 1.0 / 3.0;
  l2.JEDNOSTKA = "kg";

  // Line 1 is known under its numbered code; an empty value and a line that
  // does not exist change nothing.
  LineCodeMap codes{{"1", "A&B/2024/1"}, {"2", ""}, {"3", "ZAM/7/3"}};

  DocumentXmlBuilder b(2);
  b.AddHeader(h);
  b.AddLine(l1, codes);
  b.AddLine(l2, codes);
  ExpectSameBytes(Expected("order_full.xml"), b.Finish());
}

TEST(XmlDocument, OrderWithoutLinesAndNullValues) {
  DocumentXmlBuilder b;
  b.AddHeader(DocumentHeader{});
  ExpectSameBytes(Expected("order_empty.xml"), b.Finish());
}

TEST(XmlDocument, DescriptionOfRemarksAndDescription) {
  struct Case {
    const char* uwagi;
    const char* opis;
    const char* expected;
  } cases[] = {
      {"", "", ""},
      {"  ", "\t \r\n", ""},
      {"Pilne", "", "Uwagi: Pilne"},
      {"", " Opis\r\n", "Opis: Opis"},
      {"Pilne", "Szybko & tanio", "Uwagi: Pilne\r\nOpis: Szybko &amp; tanio"},
      {"a\r\nb", "", "Uwagi: a\r\nb"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, DocumentDescription(c.uwagi, c.opis)) << c.uwagi << "|" << c.opis;
  }
}

TEST(XmlDocument, PathGetsOneSeparator) {
  const std::string sep(1, platform::PathSeparator());
  const std::string dir = sep + "srv" + sep + "Import";
  EXPECT_EQ(dir + sep + "12345.xml", DocumentXmlPath(dir, 12345));
  EXPECT_EQ(dir + sep + "12345.xml", DocumentXmlPath(dir + sep, 12345));
  EXPECT_EQ(sep + "7.xml", DocumentXmlPath("", 7));
}

class XmlFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("trelvex-xml-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(XmlFileTest, ExistingFileIsReplacedWithTheExactBytes) {
  const std::string path = (dir_ / "1.xml").string();
  std::ofstream(path) << std::string(10000, 'x');
  const std::string bytes = "<a>\xB3\xF3</a>\r\n";
  SaveTextFile(path, bytes);
  EXPECT_EQ(bytes, ReadBytes(path));
}

TEST_F(XmlFileTest, MissingDirectoryRaisesAndCreatesNothing) {
  const std::filesystem::path missing = dir_ / "nie_ma";
  EXPECT_THROW(SaveTextFile((missing / "1.xml").string(), "x"), Exception);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
}  // namespace trelvex
