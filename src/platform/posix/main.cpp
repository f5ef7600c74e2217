// Entry point of the Linux build: the worker window, the host link and the ERP
// stand-in, one pass while the window is created, then the message loop.
#include <cstdio>
#include <iostream>
#include <memory>

#include "export/eksporter.h"
#include "platform/posix/console_window.h"
#include "platform/posix/host_link.h"
#include "platform/posix/optima_sim.h"
#include "platform/posix/process.h"
#include "shell/ewform.h"
#include "shell/switches.h"

#if defined(__SANITIZE_ADDRESS__)
// In a sanitizer build the leak check at exit must not scan thread-local
// storage: the Firebird engine's dynamic TLS blocks are reported with bogus
// bounds and the check itself crashes. The Firebird libraries' own memory is
// suppressed separately.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }
#endif

namespace {

// The application title; the Linux build has no task bar to show it in.
std::string ApplicationTitle;

}  // namespace

int main(int argc, char** argv) {
  try {
    trelvex::posix::InitProcess(argc, argv);
    const bool shown = trelvex::SwitchValue("SHOW") == "1";
    ApplicationTitle = "Trelvex";

    trelvex::posix::ConsoleWindow window;
    trelvex::posix::SocketHostLink host;
    std::unique_ptr<trelvex::optima::IAutomation> automation = trelvex::posix::CreateOptimaStandIn();
    trelvex::TEWForm form(window, host, [&](trelvex::TDM& dm) {
      return trelvex::CreateRequestExporter(dm, *automation);
    });
    form.FormCreate();
    window.Run(form, shown, std::cin);
  } catch (...) {
    // The outcome reaches the host and the database, never the exit code.
  }
  std::fflush(stdout);
  return 0;
}
