#include "worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace trelvex::test {

namespace fs = std::filesystem;

fs::path WorkerBinary() { return fs::path(TRELVEX_BINARY); }

fs::path CopyWorkerBinary(const fs::path& dir) {
  const fs::path copy = dir / "trelvex";
  fs::copy_file(WorkerBinary(), copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                  fs::perm_options::replace);
  return copy;
}

std::string HandleSwitch(int fd) { return "-HANDLE=" + std::to_string(fd); }

TempDir::TempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<std::string> WorkerResult::StdoutLines() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < stdoutText.size()) {
    std::size_t end = stdoutText.find('\n', start);
    if (end == std::string::npos) end = stdoutText.size();
    lines.push_back(stdoutText.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<HostNotice> WorkerResult::RecordsWithCode(std::int32_t code) const {
  std::vector<HostNotice> out;
  for (const auto& r : records) {
    if (r.Code == code) out.push_back(r);
  }
  return out;
}

std::string RecordText(const HostNotice& notice) { return std::string(notice.Text, notice.TextLength); }
std::string RecordRawText(const HostNotice& notice) { return std::string(notice.Text, sizeof notice.Text); }

namespace {

// Closes a descriptor once.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

void MakePipe(Fd& readEnd, Fd& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  readEnd.reset(fds[0]);
  writeEnd.reset(fds[1]);
}

std::vector<std::string> BuildEnvironment(const WorkerOptions& o) {
  std::vector<std::string> env;
  auto removed = [&o](const std::string& entry) {
    std::string name = entry.substr(0, entry.find('='));
    for (const auto& u : o.unsetEnv) {
      if (u == name) return true;
    }
    for (const auto& [k, v] : o.env) {
      if (k == name) return true;
    }
    return false;
  };
  for (char** e = environ; e && *e; ++e) {
    if (!removed(*e)) env.emplace_back(*e);
  }
  for (const auto& [k, v] : o.env) env.push_back(k + "=" + v);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void ExecChild(int in, int out, int err, int sock, int hostFd, const char* dir,
                            const char* path, char* const* argv, char* const* envp) {
  // Move the sources out of the way of the target numbers first.
  in = ::fcntl(in, F_DUPFD_CLOEXEC, 64);
  out = ::fcntl(out, F_DUPFD_CLOEXEC, 64);
  err = ::fcntl(err, F_DUPFD_CLOEXEC, 64);
  if (sock >= 0) sock = ::fcntl(sock, F_DUPFD_CLOEXEC, 64);
  if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) _exit(126);
  if (sock >= 0 && ::dup2(sock, hostFd) < 0) _exit(126);
  // Nothing else of the test process reaches the worker.
  if (sock >= 0) {
    if (hostFd > 3) ::close_range(3, static_cast<unsigned>(hostFd - 1), 0);
    ::close_range(static_cast<unsigned>(hostFd + 1), ~0U, 0);
  } else {
    ::close_range(3, ~0U, 0);
  }
  if (dir && ::chdir(dir) != 0) _exit(126);
  ::execve(path, argv, envp);
  _exit(127);
}

}  // namespace

WorkerResult RunWorker(const WorkerOptions& o) {
  ::signal(SIGPIPE, SIG_IGN);  // a worker that does not read its input must not end the test
  if (o.hostFd && *o.hostFd < 3) throw std::invalid_argument("host descriptor must be 3 or above");

  const fs::path binary = o.binary.empty() ? WorkerBinary() : o.binary;
  std::vector<std::string> argStrings{binary.string()};
  argStrings.insert(argStrings.end(), o.args.begin(), o.args.end());
  std::vector<std::string> envStrings = BuildEnvironment(o);
  std::vector<char*> argv = Pointers(argStrings);
  std::vector<char*> envp = Pointers(envStrings);
  const std::string binaryText = binary.string();
  const std::string dirText = o.workDir.string();

  Fd inR, inW, outR, outW, errR, errW, hostEnd, workerEnd;
  MakePipe(inR, inW);
  MakePipe(outR, outW);
  MakePipe(errR, errW);
  if (o.hostFd) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) throw std::runtime_error("socketpair failed");
    hostEnd.reset(fds[0]);
    workerEnd.reset(fds[1]);
  }

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ExecChild(inR.get(), outW.get(), errW.get(), workerEnd.get(), o.hostFd.value_or(-1),
              dirText.empty() ? nullptr : dirText.c_str(), binaryText.c_str(), argv.data(), envp.data());
  }
  inR.Close();
  outW.Close();
  errW.Close();
  workerEnd.Close();

  WorkerResult result;
  result.pid = static_cast<int>(pid);
  std::string hostBuffer;
  std::size_t stdinWritten = 0;
  if (o.stdinText.empty()) inW.Close();
  else ::fcntl(inW.get(), F_SETFL, O_NONBLOCK);

  const auto deadline = std::chrono::steady_clock::now() + o.timeout;
  while (outR.open() || errR.open() || hostEnd.open()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[4];
    int n = 0;
    auto add = [&](Fd& fd, short events) {
      if (fd.open()) fds[n++] = pollfd{fd.get(), events, 0};
    };
    add(outR, POLLIN);
    add(errR, POLLIN);
    add(hostEnd, POLLIN);
    add(inW, POLLOUT);
    int ready = ::poll(fds, static_cast<nfds_t>(n), static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      const int fd = fds[i].fd;
      if (fd == inW.get()) {
        ssize_t w = ::write(fd, o.stdinText.data() + stdinWritten, o.stdinText.size() - stdinWritten);
        if (w > 0) stdinWritten += static_cast<std::size_t>(w);
        if (w < 0 && errno != EAGAIN && errno != EINTR) inW.Close();
        if (stdinWritten >= o.stdinText.size()) inW.Close();
        continue;
      }
      char buf[4096];
      ssize_t r = ::read(fd, buf, sizeof buf);
      if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (fd == outR.get()) {
        if (r <= 0) outR.Close();
        else result.stdoutText.append(buf, static_cast<std::size_t>(r));
      } else if (fd == errR.get()) {
        if (r <= 0) errR.Close();
        else result.stderrText.append(buf, static_cast<std::size_t>(r));
      } else if (fd == hostEnd.get()) {
        if (r <= 0) {
          hostEnd.Close();
          continue;
        }
        hostBuffer.append(buf, static_cast<std::size_t>(r));
        while (hostBuffer.size() >= sizeof(HostNotice)) {
          HostNotice notice;
          std::memcpy(&notice, hostBuffer.data(), sizeof notice);
          hostBuffer.erase(0, sizeof notice);
          const std::size_t index = result.records.size();
          result.records.push_back(notice);
          if (o.closeHostAfter && result.records.size() >= *o.closeHostAfter) {
            hostEnd.Close();
            break;
          }
          const std::int32_t answer = o.answer ? o.answer(notice, index) : 1;
          unsigned char bytes[4];
          for (int b = 0; b < 4; ++b) bytes[b] = static_cast<unsigned char>(static_cast<std::uint32_t>(answer) >> (8 * b));
          if (::send(hostEnd.get(), bytes, sizeof bytes, MSG_NOSIGNAL) != sizeof bytes) {
            hostEnd.Close();
            break;
          }
        }
      }
    }
  }
  inW.Close();

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace trelvex::test
