#pragma once
// The host link of the Linux build: the host's "window handle" is the number
// of an inherited file descriptor of a connected stream socket.
#include "session/host_notice.h"

namespace trelvex::posix {

class SocketHostLink : public IHostLink {
 public:
  SocketHostLink();
  // Writes the 264-byte record and waits for the host's 4-byte little-endian
  // answer; 0 when the descriptor is not a connected stream socket, the write
  // or the read fails, or the host answers 0.
  std::int32_t Send(std::int64_t hostWnd, const HostNotice& notice) override;
};

}  // namespace trelvex::posix
