// The in-process Windows tests: platform services, worker window, host link
// and the ERP automation adapter. An argument limits the run to the cases
// whose name contains it.
#include <windows.h>
#include <objbase.h>

#include "check.h"

int main(int argc, char** argv) {
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("CoInitialize failed\n0 passed, 1 failed\n");
    return 1;
  }
  const int code = check::RunAll(argc > 1 ? argv[1] : "");
  CoUninitialize();
  return code;
}
