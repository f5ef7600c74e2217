#pragma once
// Host notifications: a fixed 264-byte record sent to the host window.
#include <cstdint>
#include <string>
#include <string_view>

namespace trelvex {

enum NoticeCode : std::int32_t {
  kNoticeStart = 2,
  kNoticeWorking = 3,
  kNoticeProgress = 4,
  kNoticeLog = 5,
  kNoticeWarning = 6,
  kNoticeError = 7,
  kNoticeEnd = 8,
};

#pragma pack(push, 1)
struct HostNotice {
  std::int32_t Code;
  std::int32_t Value;
  std::uint8_t TextLength;
  char Text[255];
};
#pragma pack(pop)
static_assert(sizeof(HostNotice) == 264, "host record is 264 bytes");

// A record with the first 255 bytes of `text`; the bytes after it are zero.
HostNotice MakeHostNotice(std::int32_t code, std::int32_t value, std::string_view text);
// Event name of a code for the log ("START", "POSTĘP" ...); empty for codes
// outside 0..8.
std::string_view EventName(std::int32_t code);
// The log line that mirrors a notification: the event name, then the value
// and the record's text in parentheses, e.g. LOG(0, "Koniec pracy").
std::string NoticeLogText(const HostNotice& notice);

// The link to the host window; each platform implements it.
class IHostLink {
 public:
  virtual ~IHostLink() = default;
  // Sends the record synchronously to the host window `hostWnd`; the host's
  // answer, 0 when the send failed or the host is gone.
  virtual std::int32_t Send(std::int64_t hostWnd, const HostNotice& notice) = 0;
};

}  // namespace trelvex
