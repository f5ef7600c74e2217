#include "platform/posix/host_link.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace trelvex::posix {

namespace {

void PutInt32(unsigned char* out, std::int32_t value) {
  auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::int32_t GetInt32(const unsigned char* in) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

// Only a stream socket may be written to: the number could name any other
// open file of the worker (its standard output, a database file).
bool IsStreamSocket(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
  int type = 0;
  socklen_t length = sizeof type;
  return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

SocketHostLink::SocketHostLink() { std::signal(SIGPIPE, SIG_IGN); }

std::int32_t SocketHostLink::Send(std::int64_t hostWnd, const HostNotice& notice) {
  if (hostWnd < 0 || hostWnd > INT_MAX) return 0;
  const int fd = static_cast<int>(hostWnd);
  if (!IsStreamSocket(fd)) return 0;

  std::array<unsigned char, sizeof(HostNotice)> record{};
  PutInt32(record.data(), notice.Code);
  PutInt32(record.data() + 4, notice.Value);
  const std::size_t length = notice.TextLength;
  record[8] = static_cast<unsigned char>(length);
  std::memcpy(record.data() + 9, notice.Text, length);  // the rest stays zero

  if (!WriteAll(fd, record.data(), record.size())) return 0;
  unsigned char answer[4];
  if (!ReadAll(fd, answer, sizeof answer)) return 0;
  return GetInt32(answer);
}

}  // namespace trelvex::posix
