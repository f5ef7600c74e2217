// The worker program end to end without a database: start-up, the failing
// session start, the host records, the message loop and the log file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "common/encoding.h"
#include "common/version.h"
#include "support/worker_process.h"

namespace trelvex::test {
namespace {

namespace fs = std::filesystem;

const std::regex kStamped(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:\d{3} ([\s\S]*))");

// The text of a log line after its time stamp ("" for an empty line).
std::string Text(const std::string& line) {
  std::smatch m;
  return std::regex_match(line, m, kStamped) ? m[1].str() : line;
}

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const auto& l : lines) n += Text(l).rfind(prefix, 0) == 0;
  return n;
}

// Byte for byte: code, value, text length, text, and zeros after the text.
void ExpectRecord(const HostNotice& r, std::int32_t code, std::int32_t value, const std::string& text) {
  EXPECT_EQ(r.Code, code);
  EXPECT_EQ(r.Value, value);
  EXPECT_EQ(r.TextLength, text.size());
  EXPECT_EQ(RecordText(r), text);
  const std::string raw = RecordRawText(r);
  EXPECT_EQ(raw.find_first_not_of('\0', text.size()), std::string::npos) << "bytes after the text are not zero";
}

TEST(WorkerE2E, NoParametersLogsTheErrorAndEndsByItself) {
  WorkerOptions o;
  o.hostFd.reset();
  WorkerResult r = RunWorker(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_TRUE(r.records.empty());
  const auto lines = r.StdoutLines();
  ASSERT_GE(lines.size(), 8u) << r.stdoutText;
  EXPECT_EQ(Text(lines[0]), "Uruchomienie aplikacji");
  EXPECT_EQ(Text(lines[1]), fs::canonical(WorkerBinary()).string());
  EXPECT_EQ(lines[2], "");  // the empty caption: no time stamp
  EXPECT_EQ(lines[3], "");  // the pass begins with an empty line
  EXPECT_EQ(Text(lines[4]), "START(" + std::to_string(r.pid) + ", \"" TRELVEX_VERSION_TEXT "\")");
  // The error text may run over several lines; the pass ends after it.
  EXPECT_EQ(Text(lines[5]).rfind("ERROR(0, \"TEWForm.Go Exception \"TDM.Init.Connect ", 0), 0u) << lines[5];
  EXPECT_EQ(Text(lines[lines.size() - 2]), "KONIEC(2, \"\")");
  EXPECT_EQ(Text(lines.back()), "Otrzymano komunikat \"APP_TERMINATE\"");
}

TEST(WorkerE2E, HostGetsStartErrorAndKoniecRecords) {
  WorkerOptions o;
  o.args = {HandleSwitch()};
  WorkerResult r = RunWorker(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  ASSERT_EQ(r.records.size(), 3u) << r.stdoutText;
  ExpectRecord(r.records[0], 2, r.pid, TRELVEX_VERSION_TEXT);
  // The ERROR record carries what the log shows between the quotes.
  const std::string errorText = RecordText(r.records[1]);
  EXPECT_EQ(errorText.rfind("TEWForm.Go Exception \"TDM.Init.Connect ", 0), 0u) << errorText;
  EXPECT_NE(Utf8ToCp1250(r.stdoutText).find("ERROR(0, \"" + errorText + "\")\n"), std::string::npos);
  ExpectRecord(r.records[1], 7, 0, errorText);
  ExpectRecord(r.records[2], 8, 2, "");
}

TEST(WorkerE2E, AHostThatAnswersZeroStillSeesTheWholePass) {
  WorkerOptions o;
  o.args = {HandleSwitch()};
  o.answer = [](const HostNotice&, std::size_t) { return 0; };
  WorkerResult r = RunWorker(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  ASSERT_EQ(r.records.size(), 3u);
  EXPECT_EQ(r.records[0].Code, 2);
  EXPECT_EQ(r.records[1].Code, 7);
  ExpectRecord(r.records[2], 8, 2, "");
  EXPECT_EQ(Count(r.StdoutLines(), "Otrzymano komunikat"), 1);
}

TEST(WorkerE2E, HandlesThatNameNoHostSocketAreIgnored) {
  // A closed descriptor, the worker's own standard output, a value that is
  // not a number, and a negative one: no record anywhere, the pass still ends.
  for (const char* handle : {"-HANDLE=900", "-HANDLE=1", "-HANDLE=abc", "-HANDLE=-5"}) {
    SCOPED_TRACE(handle);
    WorkerOptions o;
    o.args = {handle};
    WorkerResult r = RunWorker(o);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.records.empty());
    EXPECT_TRUE(IsValidUtf8(r.stdoutText));
    EXPECT_EQ(r.stdoutText.find('\0'), std::string::npos);  // no record went to stdout
    EXPECT_EQ(Count(r.StdoutLines(), "KONIEC(2, \"\")"), 1);
  }
}

TEST(WorkerE2E, AHostThatGoesAwayDoesNotKillTheWorker) {
  WorkerOptions o;
  o.args = {HandleSwitch()};
  o.closeHostAfter = 1;  // START arrives, is never answered, the socket closes
  WorkerResult r = RunWorker(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 0);
  ASSERT_EQ(r.records.size(), 1u);
  EXPECT_EQ(r.records[0].Code, 2);
  EXPECT_EQ(Count(r.StdoutLines(), "KONIEC(2, \"\")"), 1);
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(WorkerE2E, LogFileBesideTheProgramWithLogLevel) {
  TempDir dir;
  WorkerOptions o;
  o.binary = CopyWorkerBinary(dir.path());
  o.args = {"-LOGLEVEL=1", "-NAZWA=\xC5\x81\xC3\xB3" "d\xC5\xBA"};  // -NAZWA=Łódź in UTF-8
  WorkerResult r = RunWorker(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;

  const fs::path logDir = dir.path() / "Log";
  ASSERT_TRUE(fs::is_directory(logDir));
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(logDir)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  const std::string name = files[0].filename().string();
  EXPECT_TRUE(std::regex_match(name, std::regex(R"(\d{4}\.\d\d\.\d\d \d\d\.\d\d\.\d\d_trelvex\.log)"))) << name;

  // The file holds the lines the window showed, in Windows-1250, each ended
  // by CR LF (a line may hold a line feed of its own, from a database error).
  const std::string content = ReadFile(files[0]);
  std::string expected;
  for (char c : Utf8ToCp1250(r.stdoutText)) {
    if (c == '\n' && !expected.ends_with('\r')) expected += '\r';
    expected += c;
  }
  EXPECT_EQ(content, expected);
  EXPECT_TRUE(content.ends_with("\"APP_TERMINATE\"\r\n"));
  EXPECT_EQ(content.rfind("Uruchomienie aplikacji\r\n", 40), 24u);
  EXPECT_NE(content.find("-LOGLEVEL=1 -NAZWA=\xA3\xF3" "d\x9F\r\n"), std::string::npos);
  EXPECT_NE(content.find("Otrzymano komunikat \"APP_TERMINATE\"\r\n"), std::string::npos);
}

TEST(WorkerE2E, NoLogFileWithoutLogLevel) {
  for (const char* level : {"", "-LOGLEVEL=0", "-LOGLEVEL=x"}) {
    SCOPED_TRACE(level);
    TempDir dir;
    WorkerOptions o;
    o.binary = CopyWorkerBinary(dir.path());
    if (*level) o.args = {level};
    WorkerResult r = RunWorker(o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_FALSE(fs::exists(dir.path() / "Log"));
  }
}

TEST(WorkerE2E, ALogFolderThatCannotBeMadeIsIgnored) {
  TempDir dir;
  std::ofstream(dir.path() / "Log") << "a file where the folder should be";
  WorkerOptions o;
  o.binary = CopyWorkerBinary(dir.path());
  o.args = {"-LOGLEVEL=2"};
  WorkerResult r = RunWorker(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.signal, 0);
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "Log"));
  EXPECT_EQ(Count(r.StdoutLines(), "Otrzymano komunikat"), 1);
}

TEST(WorkerE2E, ShownWindowRunsAPassPerCommandUntilQuit) {
  TempDir dir;
  WorkerOptions o;
  o.binary = CopyWorkerBinary(dir.path());
  o.args = {"-SHOW=1", HandleSwitch(), "-LOGLEVEL=1"};
  o.stdinText = "r\nq\nr\n";  // the pass after "q" never runs
  WorkerResult r = RunWorker(o);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.RecordsWithCode(8).size(), 2u);
  EXPECT_EQ(r.RecordsWithCode(2).size(), 2u);
  const auto lines = r.StdoutLines();
  EXPECT_EQ(Count(lines, "KONIEC(2"), 2);
  EXPECT_EQ(Count(lines, "Uruchomienie aplikacji"), 1);
  // A shown window is closed by the user: no terminate message, no log file.
  EXPECT_EQ(Count(lines, "Otrzymano komunikat"), 0);
  EXPECT_FALSE(fs::exists(dir.path() / "Log"));
}

TEST(WorkerE2E, ShownWindowClosesAtTheEndOfInput) {
  for (const char* input : {"", "\n\n", "x\n"}) {
    SCOPED_TRACE(input);
    WorkerOptions o;
    o.args = {"-show=1"};
    o.stdinText = input;
    WorkerResult r = RunWorker(o);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0);
    const int passes = std::string(input) == "\n\n" ? 3 : 1;
    EXPECT_EQ(Count(r.StdoutLines(), "KONIEC(2"), passes);
  }
}

TEST(WorkerE2E, OnlyTheExactValueOneShowsTheWindow) {
  for (const char* show : {"-SHOW=yes", "-SHOW=01", "-SHOW=1 ", "/SHOW=1"}) {
    SCOPED_TRACE(show);
    WorkerOptions o;
    o.args = {show};
    o.stdinText = "r\n";  // a hidden window reads nothing
    WorkerResult r = RunWorker(o);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(Count(r.StdoutLines(), "KONIEC(2"), 1);
    EXPECT_EQ(Count(r.StdoutLines(), "Otrzymano komunikat"), 1);
  }
}

}  // namespace
}  // namespace trelvex::test
