// A Win32 host for Trelvex.exe: starts the worker with its own window as
// -HANDLE, records every WM_COPYDATA record it receives, and checks the
// records, the log file, the window and the process's end. Usage:
//   test_host.exe <path of Trelvex.exe> [case filter]
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"

namespace {

std::wstring workerExe;  // the program under test

struct Notice {
  HWND sender = nullptr;
  ULONG_PTR dwData = 0;
  DWORD cbData = 0;
  std::int32_t code = 0;
  std::int32_t value = 0;
  unsigned length = 0;
  std::string text;
  // What the host could see of the worker while the record arrived.
  bool windowValid = false;
  bool windowVisible = false;
  DWORD windowPid = 0;
  std::wstring windowClass, windowCaption;
  DWORD senderPid = 0;
  std::wstring senderClass, senderTitle;
};

std::vector<Notice> notices;
LRESULT answer = 1;

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = L"";
  GetClassNameW(hwnd, name, 128);
  return name;
}

std::wstring CaptionOf(HWND hwnd) {
  wchar_t text[1024] = L"";
  GetWindowTextW(hwnd, text, 1024);
  return text;
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_COPYDATA) return DefWindowProcW(hwnd, msg, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  Notice n;
  n.sender = reinterpret_cast<HWND>(wParam);
  n.dwData = data->dwData;
  n.cbData = data->cbData;
  if (data->cbData >= 9 && data->lpData != nullptr) {
    const auto* bytes = static_cast<const unsigned char*>(data->lpData);
    std::memcpy(&n.code, bytes, 4);
    std::memcpy(&n.value, bytes + 4, 4);
    n.length = bytes[8];
    const unsigned available = data->cbData - 9;
    n.text.assign(reinterpret_cast<const char*>(bytes) + 9, n.length < available ? n.length : available);
  }
  HWND window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(n.value));
  if (n.code == 2) {
    n.windowValid = IsWindow(window) != FALSE;
    n.windowVisible = IsWindowVisible(window) != FALSE;
    GetWindowThreadProcessId(window, &n.windowPid);
    n.windowClass = ClassOf(window);
    n.windowCaption = CaptionOf(window);
  }
  GetWindowThreadProcessId(n.sender, &n.senderPid);
  n.senderClass = ClassOf(n.sender);
  n.senderTitle = CaptionOf(n.sender);
  notices.push_back(n);
  return answer;
}

HWND CreateHostWindow() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TrelvexTestHostWindow";
    RegisterClassW(&wc);
    registered = true;
  }
  return CreateWindowW(L"TrelvexTestHostWindow", L"Trelvex test host", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                       100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

std::string ToCp1250(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(1250, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(1250, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                      nullptr);
  return bytes;
}

std::string SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = buffer ? buffer : L"";
  LocalFree(buffer);
  while (!text.empty() && static_cast<unsigned>(text.back()) <= 32) text.pop_back();
  return ToCp1250(text);
}


// A fresh folder holding a copy of the worker, so that its Log folder is its own.
std::wstring PrepareFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring root = std::wstring(temp) + L"trelvex-host";
  CreateDirectoryW(root.c_str(), nullptr);
  std::wstring dir = root + L"\\" + name;
  // Remove what an earlier run left (the copy and its log files).
  std::wstring logDir = dir + L"\\Log";
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((logDir + L"\\*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileW((logDir + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(logDir.c_str());
  DeleteFileW(logDir.c_str());  // a file in its place
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring exe = dir + L"\\Trelvex.exe";
  CopyFileW(workerExe.c_str(), exe.c_str(), FALSE);
  return exe;
}

class Worker {
 public:
  // Starts `exe` with the parameters as written after the program name.
  Worker(const std::wstring& exe, const std::wstring& params) {
    std::wstring commandLine = L"\"" + exe + L"\" " + params;
    std::wstring dir = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    started_ = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              dir.c_str(), &si, &pi_) != FALSE;
  }
  ~Worker() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  bool started() const { return started_; }
  DWORD pid() const { return pi_.dwProcessId; }

  // Handles the host window's messages until the worker ends or `ms` pass;
  // true when it ended.
  bool WaitForEnd(DWORD ms) {
    return PumpUntil(ms, [this] { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; });
  }
  DWORD ExitCode() const {
    DWORD code = 12345;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

  template <typename Done>
  bool PumpUntil(DWORD ms, Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
      const DWORD spent = GetTickCount() - start;
      if (spent >= ms) return false;
      MsgWaitForMultipleObjects(1, &pi_.hProcess, FALSE, ms - spent < 50 ? ms - spent : 50, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    return true;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION pi_{};
};

std::vector<std::string> ReadLog(const std::wstring& exe, std::wstring& fileName, std::string& raw) {
  const std::wstring logDir = exe.substr(0, exe.find_last_of(L'\\')) + L"\\Log";
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((logDir + L"\\*.log").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return {};
  fileName = found.cFileName;
  const bool more = FindNextFileW(find, &found) != FALSE;
  FindClose(find);
  if (more) fileName = L"(more than one log file)";
  HANDLE file = CreateFileW((logDir + L"\\" + fileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  char buffer[65536];
  DWORD read = 0;
  ReadFile(file, buffer, sizeof buffer, &read, nullptr);
  CloseHandle(file);
  raw.assign(buffer, read);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = raw.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(raw.substr(start, pos - start));
  }
  if (start != raw.size()) lines.push_back(raw.substr(start) + "(no CR LF at the end)");
  return lines;
}

bool LogFolderExists(const std::wstring& exe) {
  const DWORD a = GetFileAttributesW((exe.substr(0, exe.find_last_of(L'\\')) + L"\\Log").c_str());
  return a != INVALID_FILE_ATTRIBUTES;
}

bool IsDigits(const std::string& s, std::size_t pos, std::size_t count) {
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

// "dd.mm.yyyy hh:nn:ss:zzz " in front of the text.
bool Stamped(const std::string& line, const std::string& text) {
  if (line.size() != 24 + text.size()) return false;
  return IsDigits(line, 0, 2) && line[2] == '.' && IsDigits(line, 3, 2) && line[5] == '.' &&
         IsDigits(line, 6, 4) && line[10] == ' ' && IsDigits(line, 11, 2) && line[13] == ':' &&
         IsDigits(line, 14, 2) && line[16] == ':' && IsDigits(line, 17, 2) && line[19] == ':' &&
         IsDigits(line, 20, 3) && line[23] == ' ' && line.compare(24, std::string::npos, text) == 0;
}

// The ERROR text of a pass that finds no Firebird client library.
std::string NoClientError() {
  const std::string reason = SystemText(ERROR_MOD_NOT_FOUND);
  return "TEWForm.Go Exception \"TDM.Init.Connect .Auth Nie mo\xBFna za\xB3" "adowa\xE6 biblioteki "
         "klienta Firebird (fbclient.dll, gds32.dll): fbclient.dll: " + reason + "; gds32.dll: " +
         reason + "\"";
}

// Every record: dwData 0, 264 bytes, text length within the record.
void CheckRecords(const Worker& worker) {
  for (const Notice& n : notices) {
    CHECK_EQ(n.dwData, static_cast<ULONG_PTR>(0));
    CHECK_EQ(n.cbData, static_cast<DWORD>(264));
    CHECK(n.length <= 255);
    CHECK_EQ(n.senderPid, worker.pid());
    CHECK(n.senderClass == L"TApplication");
    CHECK(n.senderTitle == L"Trelvex");
  }
}

// START, ERROR of the missing client library, KONIEC 2, from `first` on.
void CheckFailedPass(const Worker& worker, std::size_t first) {
  REQUIRE(notices.size() >= first + 3);
  const Notice& start = notices[first];
  CHECK_EQ(start.code, 2);
  CHECK_EQ(start.text, std::string(TRELVEX_EXPECTED_VERSION));
  CHECK(start.windowValid);
  CHECK_EQ(start.windowPid, worker.pid());
  CHECK(start.windowClass == L"TEWForm");
  CHECK(start.sender != reinterpret_cast<HWND>(static_cast<std::intptr_t>(start.value)));
  CHECK_EQ(notices[first + 1].code, 7);
  CHECK_EQ(notices[first + 1].value, 0);
  CHECK_EQ(notices[first + 1].text, NoClientError());
  CHECK_EQ(notices[first + 2].code, 8);
  CHECK_EQ(notices[first + 2].value, 2);
  CHECK_EQ(notices[first + 2].text, std::string());
}

}  // namespace

TEST_CASE("hidden pass without a Firebird client: START, ERROR, KONIEC 2, log file, own end") {
  HWND host = CreateHostWindow();
  notices.clear();
  answer = 1;
  // A folder with Polish letters, and a quoted value ending in a backslash.
  const std::wstring exe = PrepareFolder(L"Pr\u00F3ba \u0142");
  const std::wstring params = L"-HANDLE=" + std::to_wstring(reinterpret_cast<std::intptr_t>(host)) +
                              L" -ID=5 -LOGLEVEL=1 -DBPATH=\"C:\\Program Files\\Data\\\" -DBHOST=srv:";
  Worker worker(exe, params);
  REQUIRE(worker.started());
  REQUIRE(worker.WaitForEnd(30000));
  CHECK_EQ(worker.ExitCode(), static_cast<DWORD>(0));
  CHECK_EQ(notices.size(), static_cast<std::size_t>(3));
  CheckRecords(worker);
  CheckFailedPass(worker, 0);

  const std::wstring caption = L"-HANDLE=" + std::to_wstring(reinterpret_cast<std::intptr_t>(host)) +
                               L" -ID=5 -LOGLEVEL=1 -DBPATH=C:\\Program Files\\Data\\ -DBHOST=srv:";
  REQUIRE(!notices.empty());
  CHECK(notices[0].windowCaption == caption);  // the worker's own splitting rule
  CHECK(!notices[0].windowVisible);

  std::wstring fileName;
  std::string raw;
  const std::vector<std::string> lines = ReadLog(exe, fileName, raw);
  // yyyy.mm.dd hh.nn.ss_Trelvex.exe.log
  const std::string name = ToCp1250(fileName);
  CHECK(name.size() == 35 && IsDigits(name, 0, 4) && name[4] == '.' && IsDigits(name, 5, 2) &&
        name[7] == '.' && IsDigits(name, 8, 2) && name[10] == ' ' && IsDigits(name, 11, 2) &&
        name[13] == '.' && IsDigits(name, 14, 2) && name[16] == '.' && IsDigits(name, 17, 2) &&
        name.compare(19, std::string::npos, "_Trelvex.exe.log") == 0);
  CHECK(raw.compare(0, 3, "\xEF\xBB\xBF") != 0);  // no byte-order mark
  CHECK(raw.find('\n') == raw.find("\r\n") + 1);  // CR LF only
  REQUIRE(lines.size() == 8);
  CHECK(Stamped(lines[0], "Uruchomienie aplikacji"));
  CHECK(Stamped(lines[1], ToCp1250(exe)));  // Windows-1250 bytes of the path
  CHECK(lines[1].find("Pr\xF3" "ba \xB3") != std::string::npos);
  CHECK(Stamped(lines[2], ToCp1250(caption)));
  CHECK_EQ(lines[3], std::string());
  const std::string window = std::to_string(notices[0].value);
  CHECK(Stamped(lines[4], "START(" + window + ", \"" TRELVEX_EXPECTED_VERSION "\")"));
  CHECK(Stamped(lines[5], "ERROR(0, \"" + NoClientError() + "\")"));
  CHECK(Stamped(lines[6], "KONIEC(2, \"\")"));
  CHECK(Stamped(lines[7], "Otrzymano komunikat \"APP_TERMINATE\""));
  DestroyWindow(host);
}

TEST_CASE("a host answering 0: the pass still ends with KONIEC; no log without LOGLEVEL") {
  HWND host = CreateHostWindow();
  notices.clear();
  answer = 0;
  const std::wstring exe = PrepareFolder(L"zero");
  Worker worker(exe, L"-HANDLE=" + std::to_wstring(reinterpret_cast<std::intptr_t>(host)) + L" -ID=1");
  REQUIRE(worker.started());
  REQUIRE(worker.WaitForEnd(30000));
  CHECK_EQ(worker.ExitCode(), static_cast<DWORD>(0));
  CHECK_EQ(notices.size(), static_cast<std::size_t>(3));
  CheckRecords(worker);
  CheckFailedPass(worker, 0);
  CHECK(!LogFolderExists(exe));
  answer = 1;
  DestroyWindow(host);
}

TEST_CASE("a Log folder that cannot be made: the log is skipped, the worker ends normally") {
  HWND host = CreateHostWindow();
  notices.clear();
  answer = 1;
  const std::wstring exe = PrepareFolder(L"nolog");
  const std::wstring blocker = exe.substr(0, exe.find_last_of(L'\\')) + L"\\Log";
  HANDLE file = CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  REQUIRE(file != INVALID_HANDLE_VALUE);
  CloseHandle(file);
  Worker worker(exe, L"-LOGLEVEL=1 -HANDLE=" + std::to_wstring(reinterpret_cast<std::intptr_t>(host)));
  REQUIRE(worker.started());
  CHECK(worker.WaitForEnd(30000));
  CHECK_EQ(worker.ExitCode(), static_cast<DWORD>(0));
  CheckFailedPass(worker, 0);
  CHECK((GetFileAttributesW(blocker.c_str()) & FILE_ATTRIBUTE_DIRECTORY) == 0);  // still the file
  DeleteFileW(blocker.c_str());
  DestroyWindow(host);
}

TEST_CASE("a HANDLE of a closed window, and SHOW other than 1: nothing sent, the worker ends") {
  HWND gone = CreateHostWindow();
  const std::wstring handle = std::to_wstring(reinterpret_cast<std::intptr_t>(gone));
  DestroyWindow(gone);
  notices.clear();
  const std::wstring exe = PrepareFolder(L"closed");
  Worker worker(exe, L"-HANDLE=" + handle + L" -SHOW=yes \"-SHOW=1 \"");
  REQUIRE(worker.started());
  CHECK(worker.WaitForEnd(30000));
  CHECK_EQ(worker.ExitCode(), static_cast<DWORD>(0));
  CHECK(notices.empty());
}

TEST_CASE("-Show=1 keeps the window open; the first tool button runs a pass; WM_CLOSE ends it") {
  HWND host = CreateHostWindow();
  notices.clear();
  answer = 1;
  const std::wstring exe = PrepareFolder(L"show");
  Worker worker(exe, L"-Show=1 -LOGLEVEL=1 -HANDLE=" + std::to_wstring(reinterpret_cast<std::intptr_t>(host)));
  REQUIRE(worker.started());
  REQUIRE(worker.PumpUntil(30000, [] { return notices.size() >= 3; }));
  CheckFailedPass(worker, 0);
  CHECK(!notices[0].windowVisible);  // the first pass runs before the window shows
  HWND window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(notices[0].value));
  CHECK(worker.PumpUntil(10000, [window] { return IsWindowVisible(window) != FALSE; }));
  CHECK(!worker.WaitForEnd(1500));  // stays open

  // A click on the first tool button: another pass in the same window.
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0);
  CHECK(worker.PumpUntil(30000, [] { return notices.size() >= 6; }));
  CheckFailedPass(worker, 3);
  CHECK_EQ(notices.size() >= 4 ? notices[3].value : 0, notices[0].value);
  CHECK(!worker.WaitForEnd(500));

  PostMessageW(window, WM_CLOSE, 0, 0);
  CHECK(worker.WaitForEnd(15000));
  CHECK_EQ(worker.ExitCode(), static_cast<DWORD>(0));
  CHECK_EQ(notices.size(), static_cast<std::size_t>(6));
  CheckRecords(worker);
  CHECK(!LogFolderExists(exe));  // no terminate message, no log file
  DestroyWindow(host);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: test_host <Trelvex.exe> [filter]\n0 passed, 1 failed\n");
    return 2;
  }
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  wchar_t full[MAX_PATH];
  GetFullPathNameW(wide[1], MAX_PATH, full, nullptr);
  workerExe = full;
  LocalFree(wide);
  if (GetFileAttributesW(workerExe.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::printf("no program at %s\n0 passed, 1 failed\n", argv[1]);
    return 2;
  }
  return check::RunAll(argc > 2 ? argv[2] : "");
}
