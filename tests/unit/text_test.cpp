#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/text.h"

namespace trelvex {
namespace {

struct CutCase {
  std::string text, separator, token, rest;
};

TEST(CutToken, SplitsAtTheFirstSeparator) {
  const CutCase cases[] = {
      {"A;B;C", ";", "A", "B;C"}, {";B", ";", "", "B"},   {"A;", ";", "A", ""},
      {"AB", ";", "AB", ""},      {"A;B", "", "A;B", ""}, {"A, B", ", ", "A", "B"},
      {"", ";", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + c.separator);
    std::string peeked = c.text;
    EXPECT_EQ(PeekToken(peeked, c.separator), c.token);
    EXPECT_EQ(peeked, c.text);
    std::string text = c.text;
    EXPECT_EQ(CutToken(text, c.separator), c.token);
    EXPECT_EQ(text, c.rest);
  }
}

struct LineCase {
  std::string text;
  int max;
  std::string line, rest;
};

TEST(CutLine, JoinsTokensBelowTheLimitAndHardCutsLongOnes) {
  const LineCase cases[] = {
      {"Alpha Beta Gamma", 10, "Alpha", "Beta Gamma"},
      {"Beta Gamma", 10, "Beta Gamma", ""},
      {"Alpha Beta Gamma", 11, "Alpha Beta", "Gamma"},
      {"Supercalifragilistic rest", 10, "Supercalif", "ragilistic rest"},
      {"Alpha   ", 6, "Alpha", "  "},
      {"  short  ", 9, "  short  ", ""},
      {"", 5, "", ""},
      // Runs of separators make empty tokens that are joined back.
      {"A  B  C  D", 8, "A  B  C", " D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + std::to_string(c.max));
    std::string text = c.text;
    EXPECT_EQ(CutLine(text, c.max, " "), c.line);
    EXPECT_EQ(text, c.rest);
  }
}

TEST(CutLine, SplitsAWholeTextIntoLinesWithinTheLimit) {
  std::string text = "Przedsi\xEA" "biorstwo Handlowo Us\xB3ugowe Kowalski i Synowie sp. z o.o.";
  std::string joined;
  int lines = 0;
  while (!text.empty() && lines < 100) {
    std::string line = CutLine(text, 20, " ");
    EXPECT_LE(line.size(), 20u);
    joined += (joined.empty() ? "" : " ") + line;
    ++lines;
  }
  EXPECT_EQ(joined, "Przedsi\xEA" "biorstwo Handlowo Us\xB3ugowe Kowalski i Synowie sp. z o.o.");
}

TEST(CutLine, NonPositiveLimitStillMakesProgress) {
  std::string text = "abc";
  EXPECT_EQ(CutLine(text, 0, " "), "a");
  EXPECT_EQ(text, "bc");
}

TEST(XmlEscape, ReplacesTheFiveSpecialCharactersOnly) {
  EXPECT_EQ(XmlEscape("a<b>&'\""), "a&lt;b&gt;&amp;&apos;&quot;");
  EXPECT_EQ(XmlEscape(""), "");
  const std::string other = std::string("\xB1\xEA\xB3\r\n\t x", 9) + std::string(1, '\0');
  EXPECT_EQ(XmlEscape(other), other);
}

TEST(FormatXmlNumber, TwoDecimalsHalvesAwayFromZero) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1234.5, "1234.50"}, {-10, "-10.00"},     {0, "0.00"},          {-0.0, "0.00"},
      {0.004, "0.00"},     {-0.004, "0.00"},    {-0.006, "-0.01"},    {0.125, "0.13"},
      {-0.125, "-0.13"},   {1000000, "1000000.00"}, {23, "23.00"},    {0.995, "1.00"},
      {99.995, "100.00"},  {-99.995, "-100.00"},    {0.005, "0.01"},  {-0.005, "-0.01"},
      // Amounts as the database holds them: the decimal half counts.
      {1.005, "1.01"},     {0.285, "0.29"},     {2.675, "2.68"},      {12.3449, "12.34"},
      {123456789012.345, "123456789012.35"},    {0.1 + 0.2, "0.30"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(FormatXmlNumber(c.value), c.text);
  }
}

TEST(FormatXmlNumber, NonFiniteValuesDoNotBreakTheText) {
  EXPECT_EQ(FormatXmlNumber(std::numeric_limits<double>::quiet_NaN()), "0.00");
  EXPECT_EQ(FormatXmlNumber(std::numeric_limits<double>::infinity()), "0.00");
}

TEST(IsBitSet, TestsOneBitOfTheMask) {
  EXPECT_TRUE(IsBitSet(2, 4));
  EXPECT_FALSE(IsBitSet(0, 4));
  EXPECT_TRUE(IsBitSet(34, 4));
  EXPECT_TRUE(IsBitSet(31, std::numeric_limits<std::int32_t>::min()));
  EXPECT_FALSE(IsBitSet(31, std::numeric_limits<std::int32_t>::max()));
  EXPECT_EQ(BitMask(0), 1u);
  EXPECT_EQ(BitMask(31), 0x80000000u);
  EXPECT_EQ(BitMask(32), 1u);
  EXPECT_EQ(BitMask(255), 0x80000000u);
}

TEST(Trim, RemovesBlanksAndControlBytesAtBothEnds) {
  const std::string text = std::string("\t \r\n a b \x01\0", 11);
  EXPECT_EQ(Trim(text), "a b");
  EXPECT_EQ(TrimLeft(text), std::string("a b \x01\0", 6));
  EXPECT_EQ(TrimRight(text), "\t \r\n a b");
  EXPECT_EQ(Trim("   "), "");
  // Bytes above 127 are letters, not blanks.
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(UpperCase, FoldsAsciiAndPolishLetters) {
  EXPECT_EQ(UpperCase("-show=1"), "-SHOW=1");
  // ą ć ę ł ń ó ś ź ż -> Ą Ć Ę Ł Ń Ó Ś Ź Ż
  EXPECT_EQ(UpperCase("\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF"), "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF");
  // Capitals, digits, signs and the division sign stay.
  EXPECT_EQ(UpperCase("\xA5Z9=\xF7\xDF"), "\xA5Z9=\xF7\xDF");
}

TEST(LeftStr, TakesAtMostCountBytes) {
  EXPECT_EQ(LeftStr("abcdef", 3), "abc");
  EXPECT_EQ(LeftStr("ab", 3), "ab");
  EXPECT_EQ(LeftStr(std::string(300, 'x'), 255).size(), 255u);
}

TEST(StrToIntDef, ReadsDecimalWholeNumbersOnly) {
  const struct {
    const char* text;
    std::int32_t value;
  } cases[] = {
      {"12", 12},           {"-7", -7},          {"+5", 5},           {"0", 0},
      {"", -1},             {"abc", -1},         {"12a", -1},         {" 12", -1},
      {"12 ", -1},          {"-", -1},           {"1.5", -1},         {"0x10", -1},
      {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},   {"2147483648", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StrToIntDef(c.text, -1), c.value);
  }
  EXPECT_EQ(StrToInt64Def("2147483648", -1), 2147483648LL);
  EXPECT_EQ(StrToInt64Def("99999999999999999999", -1), -1);
}

}  // namespace
}  // namespace trelvex
