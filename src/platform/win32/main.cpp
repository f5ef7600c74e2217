// Process entry of the Windows build: the COM apartment, the worker window,
// one export pass inside the window's creation, then the message loop.
#include <windows.h>
#include <objbase.h>

#include "export/eksporter.h"
#include "platform/win32/host_link.h"
#include "platform/win32/optima_com.h"
#include "platform/win32/worker_window.h"
#include "shell/ewform.h"
#include "shell/switches.h"

namespace {

// The main thread is the single-threaded apartment of the ERP's objects.
class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
  ~ComApartment() {
    if (ok_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool ok_;
};

void Run() {
  using namespace trelvex;
  // Only the exact value 1 shows the window.
  const bool show = SwitchValue("SHOW") == "1";

  win32::ApplicationWindow application("Trelvex");
  win32::WorkerWindow window;
  win32::HostLink host(application.hwnd());
  std::unique_ptr<optima::IAutomation> automation = win32::CreateOptimaAutomation();
  TEWForm form(window, host, [&automation](TDM& dm) { return CreateRequestExporter(dm, *automation); });
  window.SetTerminateHandler([&form] { form.AppTerminate(); });
  window.SetToolButton1Handler([&form] { form.ToolButton1Click(); });

  window.RunPass([&form] { form.FormCreate(); });  // the first pass, window hidden
  if (show) window.Show();
  window.RunMessageLoop();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ComApartment apartment;
  try {
    Run();
  } catch (...) {
    // The outcome reaches the host through its notifications, never through
    // the exit code; nothing may leave the process as a crash.
  }
  return 0;
}
