#pragma once
// A private Firebird server on loopback (scripts/fbserver.sh) for tests that
// need real passwords. Users SYSDBA and PLANER exist with the passwords below;
// database names are written HostPrefix() + a local path.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace trelvex::test {

class FbServer {
 public:
  static constexpr const char* kSysdbaPassword = "Trelvex.Sys7";
  static constexpr const char* kPlanerPassword = "vemtux7390";

  // Starts the server (raises trelvex::Exception with the script's text on
  // failure); Stop is safe to call when it is not running.
  static void Start();
  static void Stop();
  static bool Running();

  static int Port();
  // "127.0.0.1/<port>:"
  static std::string HostPrefix();
  // The server's root folder (configuration, security database, logs).
  static const std::filesystem::path& Root();
};

// Test suite base: the server runs for the whole suite.
class FbServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
};

}  // namespace trelvex::test
