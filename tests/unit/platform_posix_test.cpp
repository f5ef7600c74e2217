#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "common/encoding.h"
#include "common/error.h"
#include "common/platform.h"
#include "common/version.h"
#include "platform/posix/console_window.h"
#include "support/worker_process.h"

namespace trelvex {
namespace {

namespace fs = std::filesystem;

TEST(PosixPlatform, ProgramFileAndItsVersion) {
  const fs::path self = platform::ProgramFile();
  EXPECT_TRUE(self.is_absolute());
  EXPECT_TRUE(fs::is_regular_file(self));
  EXPECT_EQ(platform::FileVersionText(self), TRELVEX_VERSION_TEXT);
  EXPECT_EQ(platform::FileVersionText("/bin/sh"), "");
  EXPECT_EQ(platform::FileVersionText("/no/such/file"), "");
  const auto params = platform::CommandLineParams();
  ASSERT_FALSE(params.empty());
  EXPECT_EQ(params[0], TextFromPath(self));
  EXPECT_EQ(platform::PathSeparator(), '/');
}

TEST(PosixPlatform, SetCurrentDirChangesOrRaises) {
  const fs::path before = fs::current_path();
  test::TempDir dir;
  const fs::path polish = dir.path() / fs::path(u8"Zam\u00F3wienia");
  fs::create_directory(polish);
  platform::SetCurrentDir(TextFromPath(polish));
  EXPECT_EQ(fs::current_path(), polish);
  fs::current_path(before);
  try {
    platform::SetCurrentDir(TextFromPath(dir.path() / "missing"));
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_FALSE(e.Message().empty());
  }
  EXPECT_EQ(fs::current_path(), before);
}

TEST(ConsoleWindow, EchoesLinesAsUtf8AndKeepsThem) {
  std::FILE* echo = std::tmpfile();
  ASSERT_NE(echo, nullptr);
  {
    posix::ConsoleWindow window(echo);
    window.AddLine("Rozpocz\xEA" "cie pracy");
    window.AddLine("");
    window.SetProgress(140);
    EXPECT_EQ(window.Progress(), 100);
    window.SetProgress(-1);
    EXPECT_EQ(window.Progress(), 0);
    ASSERT_EQ(window.Memo().size(), 2u);
    EXPECT_EQ(window.Memo()[0], "Rozpocz\xEA" "cie pracy");
    EXPECT_FALSE(window.TerminatePosted());
    window.PostTerminate();
    EXPECT_TRUE(window.TerminatePosted());
  }
  std::rewind(echo);
  char buf[128] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, echo);
  std::fclose(echo);
  EXPECT_EQ(std::string(buf, n), "Rozpocz\xC4\x99" "cie pracy\n\n");
}

}  // namespace
}  // namespace trelvex
