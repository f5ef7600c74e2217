// The platform functions of the Linux build (process, files, version).
#include "platform/posix/process.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/encoding.h"
#include "common/error.h"
#include "common/platform.h"
#include "common/version.h"

namespace trelvex {
namespace {

std::vector<std::string>& SavedArgs() {
  static std::vector<std::string> args;
  return args;
}
bool& ArgsSaved() {
  static bool saved = false;
  return saved;
}

// Arguments arrive as the user's bytes; UTF-8 ones become Windows-1250 here,
// anything else is taken as it stands.
std::string ArgText(const std::string& arg) {
  return IsValidUtf8(arg) ? Utf8ToCp1250(arg) : arg;
}

// Without InitProcess (a test program) the kernel's copy of the command line.
std::vector<std::string> ProcCmdline() {
  std::vector<std::string> args;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

}  // namespace

namespace posix {

void InitProcess(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  auto& args = SavedArgs();
  args.clear();
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  ArgsSaved() = true;
}

}  // namespace posix

namespace platform {

std::vector<std::string> CommandLineParams() {
  std::vector<std::string> raw = ArgsSaved() ? SavedArgs() : ProcCmdline();
  std::vector<std::string> params;
  params.reserve(raw.size() + 1);
  // Parameter 0 is the full path of the program file, however it was started.
  params.push_back(TextFromPath(ProgramFile()));
  for (std::size_t i = 1; i < raw.size(); ++i) params.push_back(ArgText(raw[i]));
  return params;
}

std::filesystem::path ProgramFile() {
  std::error_code ec;
  std::filesystem::path file = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return file;
  const auto& args = SavedArgs();
  if (!args.empty()) return std::filesystem::absolute(args[0], ec);
  return {};
}

std::string FileVersionText(const std::filesystem::path& programFile) {
  // Only our own program carries a version; the build states it.
  std::error_code ec;
  if (std::filesystem::equivalent(programFile, ProgramFile(), ec) && !ec) {
    return TRELVEX_VERSION_TEXT;
  }
  return {};
}

void SetCurrentDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::current_path(PathFromText(dir), ec);
  if (ec) throw Exception(Utf8ToCp1250(ec.message()));
}

char PathSeparator() { return '/'; }

}  // namespace platform
}  // namespace trelvex
