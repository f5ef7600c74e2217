// Host notifications as WM_COPYDATA, received by a window of this process.
#include <windows.h>

#include <cstring>
#include <vector>

#include "check.h"
#include "platform/win32/host_link.h"
#include "platform/win32/worker_window.h"

using namespace trelvex;

namespace {

struct Received {
  WPARAM sender;
  ULONG_PTR dwData;
  DWORD cbData;
  std::vector<unsigned char> bytes;
};
std::vector<Received> received;
LRESULT answer = 1;

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const auto* p = static_cast<const unsigned char*>(data->lpData);
    received.push_back({wParam, data->dwData, data->cbData, std::vector<unsigned char>(p, p + data->cbData)});
    return answer;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreateHost() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TrelvexTestHost";
    RegisterClassW(&wc);
    registered = true;
  }
  return CreateWindowW(L"TrelvexTestHost", L"host", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                       GetModuleHandleW(nullptr), nullptr);
}

std::int64_t AsValue(HWND hwnd) {
  return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(hwnd));
}

}  // namespace

TEST_CASE("host link: the 264-byte record, dwData 0, the sender as wParam, the answer") {
  win32::ApplicationWindow application("Trelvex");
  win32::HostLink link(application.hwnd());
  HWND host = CreateHost();
  REQUIRE(host != nullptr);
  received.clear();

  const HostNotice notice = MakeHostNotice(kNoticeLog, 17, "Rozpocz\xEA" "cie pracy");
  for (LRESULT a : {LRESULT(1), LRESULT(42), LRESULT(0)}) {
    answer = a;
    CHECK_EQ(link.Send(AsValue(host), notice), static_cast<std::int32_t>(a));
  }
  REQUIRE(received.size() == 3);
  const Received& r = received[0];
  CHECK(r.sender == reinterpret_cast<WPARAM>(application.hwnd()));
  CHECK_EQ(r.dwData, static_cast<ULONG_PTR>(0));
  CHECK_EQ(r.cbData, static_cast<DWORD>(264));
  CHECK(std::memcmp(r.bytes.data(), &notice, 264) == 0);
  std::int32_t code = 0, value = 0;
  std::memcpy(&code, r.bytes.data(), 4);
  std::memcpy(&value, r.bytes.data() + 4, 4);
  CHECK_EQ(code, 5);
  CHECK_EQ(value, 17);
  CHECK_EQ(static_cast<int>(r.bytes[8]), 17);
  CHECK_EQ(std::string(reinterpret_cast<const char*>(r.bytes.data()) + 9, 17),
           std::string("Rozpocz\xEA" "cie pracy"));
  DestroyWindow(host);
  answer = 1;
}

TEST_CASE("host link: no host, a closed window or a value that is no handle answers 0") {
  win32::ApplicationWindow application("Trelvex");
  win32::HostLink link(application.hwnd());
  const HostNotice notice = MakeHostNotice(kNoticeStart, 1, "1.0.0.1");
  HWND host = CreateHost();
  const std::int64_t closed = AsValue(host);
  DestroyWindow(host);
  received.clear();
  CHECK_EQ(link.Send(closed, notice), 0);
  CHECK_EQ(link.Send(0, notice), 0);
  CHECK_EQ(link.Send(std::int64_t{1} << 40, notice), 0);
  CHECK_EQ(link.Send(-1, notice), 0);
  CHECK_EQ(link.Send(0xFFFF, notice), 0);  // HWND_BROADCAST is no host
  CHECK(received.empty());
}

TEST_CASE("application window: hidden, top-level, titled Trelvex") {
  win32::ApplicationWindow application("Trelvex");
  CHECK(!IsWindowVisible(application.hwnd()));
  CHECK(GetParent(application.hwnd()) == nullptr);
  wchar_t title[32];
  GetWindowTextW(application.hwnd(), title, 32);
  CHECK(std::wstring(title) == L"Trelvex");
}
