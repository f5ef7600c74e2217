#include <gtest/gtest.h>

#include <string>

#include "common/encoding.h"

namespace trelvex {
namespace {

std::string AllBytes() {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  return all;
}

TEST(Encoding, EveryByteSurvivesTheRoundTrips) {
  const std::string all = AllBytes();
  const std::string utf8 = Cp1250ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToCp1250(utf8), all);
  EXPECT_EQ(WideToCp1250(Cp1250ToWide(all)), all);
  EXPECT_EQ(TextFromPath(PathFromText("Zam\xF3wienia \xA3\xF3" "d\x9F")), "Zam\xF3wienia \xA3\xF3" "d\x9F");
}

TEST(Encoding, PolishLettersMapToTheirUnicodeForms) {
  // Ąą Ćć Ęę Łł Ńń Óó Śś Źź Żż, the euro sign and ť (0x9D, which 1252 lacks).
  const std::string cp1250 = "\xA5\xB9\xC6\xE6\xCA\xEA\xA3\xB3\xD1\xF1\xD3\xF3\x8C\x9C\x8F\x9F\xAF\xBF\x80\x9D";
  const std::string utf8 = "ĄąĆćĘęŁłŃńÓóŚśŹźŻż€ť";
  EXPECT_EQ(Cp1250ToUtf8(cp1250), utf8);
  EXPECT_EQ(Utf8ToCp1250(utf8), cp1250);
  EXPECT_EQ(Cp1250ToWide(cp1250), L"ĄąĆćĘęŁłŃńÓóŚśŹźŻż€ť");
  EXPECT_EQ(TextFromPath(std::filesystem::path(u8"/tmp/Łódź")), "/tmp/\xA3\xF3" "d\x9F");
}

TEST(Encoding, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1250("a\xE2\x82\xAC" "b"), "a\x80" "b");  // euro
  EXPECT_EQ(Utf8ToCp1250("ж😀ñ"), "???");
  EXPECT_EQ(WideToCp1250(L"жx"), "?x");
}

TEST(Encoding, MalformedUtf8IsRejectedAndReplaced) {
  const char* bad[] = {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE2\x82"};
  for (const char* text : bad) {
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    EXPECT_FALSE(IsValidUtf8(text));
    EXPECT_FALSE(Utf8ToCp1250(text).empty());
  }
  EXPECT_EQ(Utf8ToCp1250("a\xFF" "b"), "a?b");
  EXPECT_TRUE(IsValidUtf8(""));
}

}  // namespace
}  // namespace trelvex
