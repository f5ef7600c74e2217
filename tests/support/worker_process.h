#pragma once
// Runs the worker program as a child process, with a test host on the far end
// of the socket whose descriptor the worker inherits for -HANDLE, and collects
// what it said: the host records, standard output and its exit.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/host_notice.h"

namespace trelvex::test {

// The descriptor number the worker inherits its host socket as, by default.
constexpr int kHostFd = 3;

// The built worker program (TRELVEX_BINARY).
std::filesystem::path WorkerBinary();
// Copies the worker program into `dir` as "trelvex" (for tests that need its
// Log/ folder to be their own); returns the copy's path.
std::filesystem::path CopyWorkerBinary(const std::filesystem::path& dir);
// "-HANDLE=<fd>".
std::string HandleSwitch(int fd = kHostFd);

// A fresh empty directory under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "trelvex-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

struct WorkerOptions {
  std::filesystem::path binary;    // empty: WorkerBinary()
  std::vector<std::string> args;   // parameters 1..n, passed as they are
  // Descriptor number of the host socket in the worker; nullopt: no socket.
  std::optional<int> hostFd = kHostFd;
  // The host's answer to record `index` (0-based); empty: always 1.
  std::function<std::int32_t(const HostNotice&, std::size_t index)> answer;
  // The host closes its end, unanswered, after this many records.
  std::optional<std::size_t> closeHostAfter;
  std::string stdinText;           // written to standard input, which is then closed
  std::vector<std::pair<std::string, std::string>> env;  // set or replaced
  std::vector<std::string> unsetEnv;                     // removed
  std::filesystem::path workDir;   // empty: the test's current directory
  std::chrono::milliseconds timeout{60'000};
};

struct WorkerResult {
  int pid = 0;         // the worker's process id
  int exitCode = -1;   // -1 when the worker did not exit normally
  int signal = 0;      // the signal that ended it, if any
  bool timedOut = false;  // killed after the timeout
  std::vector<HostNotice> records;  // every record exactly as received
  std::string stdoutText;  // UTF-8, as the worker echoed its log
  std::string stderrText;

  std::vector<std::string> StdoutLines() const;
  // Records with this code.
  std::vector<HostNotice> RecordsWithCode(std::int32_t code) const;
};

WorkerResult RunWorker(const WorkerOptions& options);

// The text of a record as std::string (Windows-1250 bytes).
std::string RecordText(const HostNotice& notice);
// The record's text bytes from offset 9 on, all 255 of them.
std::string RecordRawText(const HostNotice& notice);

}  // namespace trelvex::test
