#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "common/version.h"
#include "export/eksporter.h"
#include "session/dm.h"
#include "shell/ewform.h"

namespace trelvex {
namespace {

class FakeWindow : public IWorkerWindow {
 public:
  std::int64_t Handle() const override { return 4242; }
  void SetCaption(const std::string& text) override { caption = text; }
  void AddLine(const std::string& line) override {
    lines.push_back(line);
    if (onLine) onLine(line);
  }
  void SetProgress(int position) override { progress = position; }
  void PostTerminate() override { ++terminates; }
  void ProcessMessages() override {}

  std::string caption;
  std::vector<std::string> lines;
  int progress = -1;
  int terminates = 0;
  std::function<void(const std::string&)> onLine;
};

class CountingHost : public IHostLink {
 public:
  std::int32_t Send(std::int64_t, const HostNotice&) override {
    ++sends;
    return 1;
  }
  int sends = 0;
};

RequestExporterFactory NoExporter() {
  return [](TDM&) -> std::unique_ptr<IRequestExporter> { return nullptr; };
}

const std::regex kStamped(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:\d{3} ([\s\S]*))");

TEST(TEWFormLog, StampedLinesAndEmptyLinesForBlankTexts) {
  FakeWindow window;
  CountingHost host;
  TEWForm form(window, host, NoExporter());
  const struct {
    std::string text;
    bool stamped;
  } cases[] = {{"", false}, {"   ", false}, {"\t\r\n", false}, {"Koniec pracy", true},
               {"  wci\xEAty", true}, {"x  ", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    form.AddLog(c.text);
    const std::string& line = form.Lines().back();
    ASSERT_EQ(window.lines.back(), line);
    if (!c.stamped) {
      EXPECT_EQ(line, "");
      continue;
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, kStamped)) << line;
    EXPECT_EQ(m[1].str(), c.text);  // as passed, not trimmed
  }
  EXPECT_EQ(form.Lines().size(), std::size(cases));
}

TEST(TEWFormLog, ProgressIsKeptWithinZeroToHundred) {
  FakeWindow window;
  CountingHost host;
  TEWForm form(window, host, NoExporter());
  for (auto [in, out] : {std::pair{50, 50}, {-5, 0}, {250, 100}, {0, 0}, {100, 100}}) {
    form.SetProgress(in);
    EXPECT_EQ(window.progress, out);
  }
}

std::string Text(const std::string& line) {
  std::smatch m;
  return std::regex_match(line, m, kStamped) ? m[1].str() : line;
}

// The test program has no database switches: the session start fails, and the
// pass must still report it and end.
TEST(TEWFormGo, AFailedSessionStartEndsWithErrorAndKoniec) {
  FakeWindow window;
  CountingHost host;
  TEWForm form(window, host, NoExporter());
  StayOpen = false;
  form.Go();
  ASSERT_EQ(form.Lines().size(), 4u);
  EXPECT_EQ(form.Lines()[0], "");
  EXPECT_EQ(Text(form.Lines()[1]), "START(4242, \"" TRELVEX_VERSION_TEXT "\")");
  EXPECT_EQ(Text(form.Lines()[2]).rfind("ERROR(0, \"TEWForm.Go Exception \"TDM.Init.Connect ", 0), 0u)
      << form.Lines()[2];
  EXPECT_EQ(Text(form.Lines()[3]), "KONIEC(2, \"\")");
  EXPECT_EQ(window.terminates, 1);
  EXPECT_EQ(DM, nullptr);
  EXPECT_EQ(host.sends, 0);  // no HANDLE switch: no host
}

TEST(TEWFormGo, NoSecondPassStartsInsideTheFirst) {
  FakeWindow window;
  CountingHost host;
  TEWForm form(window, host, NoExporter());
  int clicks = 0;
  window.onLine = [&](const std::string&) {
    ++clicks;
    form.ToolButton1Click();
  };
  form.ToolButton1Click();
  EXPECT_GT(clicks, 0);
  int ends = 0;
  for (const auto& line : form.Lines()) ends += Text(line).rfind("KONIEC(", 0) == 0;
  EXPECT_EQ(ends, 1);

  window.onLine = nullptr;
  form.ToolButton1Click();  // after the pass another one runs
  ends = 0;
  for (const auto& line : form.Lines()) ends += Text(line).rfind("KONIEC(", 0) == 0;
  EXPECT_EQ(ends, 2);
}

TEST(TEWFormGo, AppTerminateLogsTheMessageAndSavesNothingAtLevelZero) {
  FakeWindow window;
  CountingHost host;
  TEWForm form(window, host, NoExporter());
  LogLevel = 0;
  form.AppTerminate();
  ASSERT_EQ(form.Lines().size(), 1u);
  EXPECT_EQ(Text(form.Lines()[0]), "Otrzymano komunikat \"APP_TERMINATE\"");
}

}  // namespace
}  // namespace trelvex
