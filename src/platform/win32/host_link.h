#pragma once
// Host notifications of the Windows build: WM_COPYDATA sent to the host window.
#include <windows.h>

#include "session/host_notice.h"

namespace trelvex::win32 {

class HostLink : public IHostLink {
 public:
  // `sender` is the worker's top-level window that the host sees as wParam.
  explicit HostLink(HWND sender) : sender_(sender) {}

  std::int32_t Send(std::int64_t hostWnd, const HostNotice& notice) override;

 private:
  HWND sender_;
};

}  // namespace trelvex::win32
