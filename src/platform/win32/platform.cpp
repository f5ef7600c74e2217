// The platform services of the Windows build (see common/platform.h).
#include "common/platform.h"

#include <windows.h>

#include <cstdio>

#include "common/encoding.h"
#include "common/error.h"
#include "platform/win32/win_text.h"
#include "shell/switches.h"

namespace trelvex::platform {

std::vector<std::string> CommandLineParams() {
  // The wide command line converted to Windows-1250 keeps Polish letters
  // whatever the ANSI code page; the worker's own splitting rule applies
  // (not the C runtime's, which treats backslashes before quotes specially).
  std::vector<std::string> params = SplitCommandLine(WideToCp1250(GetCommandLineW()));
  // Parameter 0 is the full path of the program file, however it was started.
  const std::string program = TextFromPath(ProgramFile());
  if (params.empty()) {
    params.push_back(program);
  } else {
    params[0] = program;
  }
  return params;
}

std::filesystem::path ProgramFile() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);  // truncated: try a larger buffer
  }
}

std::string FileVersionText(const std::filesystem::path& programFile) {
  const std::wstring name = programFile.wstring();
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
  if (size == 0) return {};
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(name.c_str(), 0, size, data.data())) return {};
  void* block = nullptr;
  UINT blockSize = 0;
  if (!VerQueryValueW(data.data(), L"\\", &block, &blockSize) || block == nullptr ||
      blockSize < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(block);
  if (info->dwSignature != 0xFEEF04BD) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(info->dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(info->dwFileVersionMS)),
                static_cast<unsigned>(HIWORD(info->dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(info->dwFileVersionLS)));
  return text;
}

void SetCurrentDir(const std::string& dir) {
  const std::wstring wide = Cp1250ToWide(dir);
  if (!SetCurrentDirectoryW(wide.c_str())) {
    const DWORD error = GetLastError();
    std::string text = win32::SystemErrorText(error);
    if (text.empty()) text = "System error " + std::to_string(error);
    throw Exception(text);
  }
}

char PathSeparator() { return '\\'; }

namespace {

class Win32Library : public SharedLibrary {
 public:
  explicit Win32Library(HMODULE module) : module_(module) {}
  ~Win32Library() override { FreeLibrary(module_); }
  Win32Library(const Win32Library&) = delete;
  Win32Library& operator=(const Win32Library&) = delete;

  void* Symbol(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<SharedLibrary> LoadSharedLibrary(const std::vector<std::string>& names,
                                                 std::string& error) {
  error.clear();
  // No system dialog box for a library that cannot be opened: the worker runs
  // unattended.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::unique_ptr<SharedLibrary> library;
  for (const std::string& name : names) {
    HMODULE module = LoadLibraryA(name.c_str());
    if (module != nullptr) {
      library = std::make_unique<Win32Library>(module);
      break;
    }
    const DWORD code = GetLastError();
    std::string reason = win32::SystemErrorText(code);
    if (reason.empty()) reason = "System error " + std::to_string(code);
    if (!error.empty()) error += "; ";
    error += name + ": " + reason;
  }
  SetErrorMode(oldMode);
  if (library) {
    error.clear();
  } else if (names.empty()) {
    error = "No library names given";
  }
  return library;
}

std::vector<std::string> FirebirdClientLibraryNames() { return {"fbclient.dll", "gds32.dll"}; }

}  // namespace trelvex::platform
