#include "session/host_notice.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace trelvex {

HostNotice MakeHostNotice(std::int32_t code, std::int32_t value, std::string_view text) {
  HostNotice notice;
  std::memset(&notice, 0, sizeof notice);
  notice.Code = code;
  notice.Value = value;
  std::size_t length = std::min<std::size_t>(text.size(), sizeof notice.Text);
  notice.TextLength = static_cast<std::uint8_t>(length);
  if (length > 0) std::memcpy(notice.Text, text.data(), length);
  return notice;
}

std::string_view EventName(std::int32_t code) {
  static constexpr std::array<std::string_view, 9> kNames = {
      "", "", "START", "PRACUJE", "POST\xCAP", "LOG", "WARNING", "ERROR", "KONIEC"};
  if (code < 0 || code >= static_cast<std::int32_t>(kNames.size())) return {};
  return kNames[static_cast<std::size_t>(code)];
}

std::string NoticeLogText(const HostNotice& notice) {
  return std::string(EventName(notice.Code)) + "(" + std::to_string(notice.Value) + ", \"" +
         std::string(notice.Text, notice.TextLength) + "\")";
}

}  // namespace trelvex
