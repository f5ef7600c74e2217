#include "support/fb_server.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "common/error.h"
#include "support/test_db.h"

namespace trelvex::test {
namespace {

struct ServerState {
  std::filesystem::path root;
  int port = 0;
  std::string startError;
};

ServerState& State() {
  static ServerState s;
  return s;
}

std::filesystem::path Script() { return std::filesystem::path(TRELVEX_SOURCE_DIR) / "scripts" / "fbserver.sh"; }

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void StopScript(const std::filesystem::path& root) {
  std::string cmd = "bash '" + Script().string() + "' stop '" + (root / "server").string() + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) {
    // nothing more to do: the script already escalated to SIGKILL
  }
}

}  // namespace

void FbServer::Start() {
  ServerState& s = State();
  if (s.port != 0) return;
  s.root = MakeTempDir("trelvex-fbserver-");
  const std::filesystem::path out = s.root / "start.out";
  std::string cmd = "bash '" + Script().string() + "' start '" + (s.root / "server").string() + "' '" +
                    kSysdbaPassword + "' '" + kPlanerPassword + "' >'" + out.string() + "' 2>&1";
  int rc = std::system(cmd.c_str());
  std::string text = ReadFile(out);
  if (rc != 0) {
    StopScript(s.root);
    throw Exception("private Firebird server did not start: " + text);
  }
  s.port = std::atoi(ReadFile(s.root / "server" / "port").c_str());
  if (s.port <= 0) throw Exception("private Firebird server gave no port: " + text);
}

void FbServer::Stop() {
  ServerState& s = State();
  if (s.root.empty()) return;
  StopScript(s.root);
  std::error_code ec;
  std::filesystem::remove_all(s.root, ec);
  s.root.clear();
  s.port = 0;
}

bool FbServer::Running() { return State().port != 0; }
int FbServer::Port() { return State().port; }
std::string FbServer::HostPrefix() { return "127.0.0.1/" + std::to_string(State().port) + ":"; }
const std::filesystem::path& FbServer::Root() { return State().root; }

void FbServerTest::SetUpTestSuite() {
  try {
    FbServer::Start();
    State().startError.clear();
  } catch (const std::exception& e) {
    State().startError = e.what();
  }
}

void FbServerTest::TearDownTestSuite() { FbServer::Stop(); }

void FbServerTest::SetUp() {
  if (!FbServer::Running()) FAIL() << State().startError;
}

}  // namespace trelvex::test
