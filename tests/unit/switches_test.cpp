#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/switches.h"

namespace trelvex {
namespace {

const std::vector<std::string> kParams = {
    "C:\\Trelvex\\Trelvex.exe",  // parameter 0 is never searched
    "/SHOW=1",                   // only a leading minus introduces a switch
    "-IDX=5",                    // not ID: the "=" belongs to the key
    "-SHOW",                     // not SHOW without "="
    "-Show=1",
    "-ID=12",
    "-ID=13",
    "-DBPATH=C:\\Program Files\\Data\\",
    "-DBFILE=a=b=c",
    "-LOGLEVEL=",
    "-\xA3\xD3" "D\xAF=1",  // -ŁÓDŻ=1
};

TEST(SwitchValue, FindsTheFirstSwitchInAnyCase) {
  const struct {
    const char* name;
    const char* value;
  } cases[] = {
      {"SHOW", "1"},         {"show", "1"},
      {"ID", "12"},          {"IDX", "5"},
      {"DBPATH", "C:\\Program Files\\Data\\"},
      {"DBFILE", "a=b=c"},   {"LOGLEVEL", ""},
      {"HANDLE", ""},        {"\xB3\xF3" "d\xBF", "1"},  // łódż
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SwitchValue(c.name, kParams), c.value);
  }
}

TEST(SwitchValue, SkipsParameterZeroAndKeepsTheValueAsWritten) {
  EXPECT_EQ(SwitchValue("ID", {"-ID=1"}), "");
  EXPECT_EQ(SwitchValue("DBHOST", {"prog", "-dbhost=Serwer:"}), "Serwer:");
  EXPECT_EQ(SwitchValue("SHOW", {"prog", "-SHOW=yes"}), "yes");
  EXPECT_EQ(SwitchValue("SHOW", {"prog", "-SHOW=1 "}), "1 ");
  EXPECT_EQ(SwitchValue("ID", {}), "");
}

TEST(SplitCommandLine, BlanksSeparateAndQuotesHoldBlanks) {
  const struct {
    std::string line;
    std::vector<std::string> params;
  } cases[] = {
      {"prog.exe -ID=1   -SHOW=1", {"prog.exe", "-ID=1", "-SHOW=1"}},
      {"\"C:\\Program Files\\T\\t.exe\" \"-DBPATH=C:\\Program Files\\Data\\\" -ID=2",
       {"C:\\Program Files\\T\\t.exe", "-DBPATH=C:\\Program Files\\Data\\", "-ID=2"}},
      {"t.exe -DBPATH=\"C:\\Program Files\\Data\\\" -ID=2",
       {"t.exe", "-DBPATH=C:\\Program Files\\Data\\", "-ID=2"}},
      {"t.exe \"-SHOW=1 \"", {"t.exe", "-SHOW=1 "}},
      {"t.exe a\"b c\"d \"\" e", {"t.exe", "ab cd", "", "e"}},
      {"t.exe \"unclosed quote", {"t.exe", "unclosed quote"}},
      {"  \t ", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(SplitCommandLine(c.line), c.params);
  }
}

TEST(SplitCommandLine, QuotedSwitchesReadLikePlainOnes) {
  auto params = SplitCommandLine("t.exe \"-DBPATH=C:\\Program Files\\Data\\\" -Show=1 \"-ID=1 \"");
  EXPECT_EQ(SwitchValue("DBPATH", params), "C:\\Program Files\\Data\\");
  EXPECT_EQ(SwitchValue("SHOW", params), "1");
  EXPECT_EQ(SwitchValue("ID", params), "1 ");
}

}  // namespace
}  // namespace trelvex
