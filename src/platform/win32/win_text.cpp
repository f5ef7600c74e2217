#include "platform/win32/win_text.h"

#include <windows.h>

#include "common/encoding.h"
#include "common/text.h"

namespace trelvex::win32 {

std::string SystemErrorText(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return {};
  std::string text = WideToCp1250(std::wstring_view(buffer, length));
  LocalFree(buffer);
  return Trim(text);
}

}  // namespace trelvex::win32
