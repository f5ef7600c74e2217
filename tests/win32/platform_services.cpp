// Process services of the Windows build: program file, version resource,
// current directory and run-time libraries.
#include <windows.h>
#include <ibase.h>

#include <filesystem>
#include <type_traits>
#include <fstream>

#include "check.h"
#include "common/encoding.h"
#include "common/error.h"
#include "common/platform.h"
#include "platform/win32/win_text.h"

// The Firebird client header, taken from the Linux package, declares the
// client's functions with the Windows calling convention for this build.
static_assert(std::is_same_v<decltype(&isc_detach_database),
                             ISC_STATUS(__stdcall*)(ISC_STATUS*, isc_db_handle*)>);
static_assert(!std::is_same_v<decltype(&isc_detach_database),
                              ISC_STATUS(__cdecl*)(ISC_STATUS*, isc_db_handle*)>);
static_assert(sizeof(ISC_STATUS) == 4 && sizeof(ISC_LONG) == 4);

namespace fs = std::filesystem;
using namespace trelvex;

namespace {

std::wstring ModuleFile() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
  return std::wstring(buffer, n);
}

fs::path TempFolder(const wchar_t* name) {
  wchar_t buffer[MAX_PATH];
  GetTempPathW(MAX_PATH, buffer);
  fs::path dir = fs::path(buffer) / name;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  return dir;
}

}  // namespace

TEST_CASE("program file is the module's full path, parameter 0 the same") {
  const fs::path program = platform::ProgramFile();
  CHECK(program.is_absolute());
  CHECK(program.wstring() == ModuleFile());
  CHECK(program.filename() == fs::path(L"win32_tests.exe"));
  const std::vector<std::string> params = platform::CommandLineParams();
  REQUIRE(!params.empty());
  CHECK_EQ(params[0], TextFromPath(program));
  CHECK_EQ(platform::PathSeparator(), '\\');
}

TEST_CASE("file version from the fixed part of the version resource") {
  // The test program's own resource: 65535,2,300,40000.
  CHECK_EQ(platform::FileVersionText(platform::ProgramFile()), std::string("65535.2.300.40000"));

  const fs::path dir = TempFolder(L"trelvex-version");
  const fs::path plain = dir / L"plain.exe";
  std::ofstream(plain) << "MZ not really a program";
  CHECK_EQ(platform::FileVersionText(plain), std::string());
  CHECK_EQ(platform::FileVersionText(dir / L"missing.exe"), std::string());
  // A system library without our resource still reads.
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  CHECK(!platform::FileVersionText(fs::path(system) / L"kernel32.dll").empty());
}

TEST_CASE("current directory from Windows-1250 text; failure with the system's text") {
  const fs::path dir = TempFolder(L"trelvex-cwd");
  const fs::path polish = dir / L"Za\u017C\u00F3\u0142\u0107 \u0144";  // Zażółć ń
  fs::create_directory(polish);
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);

  platform::SetCurrentDir(TextFromPath(polish));
  CHECK(fs::equivalent(fs::current_path(), polish));
  // The same through the text as the database holds it.
  SetCurrentDirectoryW(before);
  platform::SetCurrentDir(TextFromPath(dir) + "\\Za\xBF\xF3\xB3\xE6 \xF1");
  CHECK(fs::equivalent(fs::current_path(), polish));

  std::string text;
  CHECK_THROWS_TEXT(platform::SetCurrentDir(TextFromPath(dir) + "\\missing"), Exception, text);
  CHECK(!text.empty());
  CHECK(text == win32::SystemErrorText(ERROR_FILE_NOT_FOUND) ||
        text == win32::SystemErrorText(ERROR_PATH_NOT_FOUND));
  CHECK(text.back() != '\n' && text.back() != '\r');
  // A failed change leaves the current directory as it was.
  CHECK(fs::equivalent(fs::current_path(), polish));
  SetCurrentDirectoryW(before);
}

TEST_CASE("shared library: first one that loads; the error names every library tried") {
  CHECK(platform::FirebirdClientLibraryNames() ==
        (std::vector<std::string>{"fbclient.dll", "gds32.dll"}));

  std::string error = "old";
  auto none = platform::LoadSharedLibrary({"trelvex-none-1.dll", "trelvex-none-2.dll"}, error);
  CHECK(none == nullptr);
  const std::string reason = win32::SystemErrorText(ERROR_MOD_NOT_FOUND);
  CHECK_EQ(error, "trelvex-none-1.dll: " + reason + "; trelvex-none-2.dll: " + reason);

  auto kernel = platform::LoadSharedLibrary({"trelvex-none.dll", "kernel32.dll"}, error);
  REQUIRE(kernel != nullptr);
  CHECK_EQ(error, std::string());
  CHECK(kernel->Symbol("GetTickCount") != nullptr);
  CHECK(kernel->Symbol("TrelvexNoSuchFunction") == nullptr);

  auto empty = platform::LoadSharedLibrary({}, error);
  CHECK(empty == nullptr);
  CHECK(!error.empty());
}

TEST_CASE("system error texts have no line break at the end") {
  const std::string text = win32::SystemErrorText(ERROR_ACCESS_DENIED);
  CHECK(!text.empty());
  CHECK(text.find('\n') == std::string::npos);
  CHECK_EQ(win32::SystemErrorText(0x2BADF00Du), std::string());
}
