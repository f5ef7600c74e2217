#pragma once
// Texts that come from the Windows API, as Windows-1250 text of the worker.
#include <cstdint>
#include <string>

namespace trelvex::win32 {

// The system's message for an error code (GetLastError value or HRESULT),
// trimmed of the trailing line break; empty when the system has none.
std::string SystemErrorText(std::uint32_t code);

}  // namespace trelvex::win32
