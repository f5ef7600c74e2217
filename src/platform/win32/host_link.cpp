#include "platform/win32/host_link.h"

#include <cstdint>

namespace trelvex::win32 {

std::int32_t HostLink::Send(std::int64_t hostWnd, const HostNotice& notice) {
  // A value that is no handle of this platform cannot name a window.
  if (hostWnd == 0 || hostWnd < INTPTR_MIN || hostWnd > static_cast<std::int64_t>(UINTPTR_MAX)) {
    return 0;
  }
  HWND target = reinterpret_cast<HWND>(static_cast<std::intptr_t>(hostWnd));
  if (!IsWindow(target)) return 0;

  // The host reads the record only while it handles the message.
  HostNotice record = notice;
  COPYDATASTRUCT data{};
  data.dwData = 0;
  data.cbData = sizeof(HostNotice);
  data.lpData = &record;
  const LRESULT answer = SendMessageW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(sender_),
                                      reinterpret_cast<LPARAM>(&data));
  if (answer == 0) return 0;
  const auto value = static_cast<std::int32_t>(answer);
  return value != 0 ? value : 1;  // a nonzero answer stays nonzero
}

}  // namespace trelvex::win32
