#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>

#include "platform/posix/host_link.h"
#include "session/host_notice.h"

namespace trelvex {
namespace {

TEST(HostNotice, RecordLayout) {
  EXPECT_EQ(sizeof(HostNotice), 264u);
  EXPECT_EQ(offsetof(HostNotice, Code), 0u);
  EXPECT_EQ(offsetof(HostNotice, Value), 4u);
  EXPECT_EQ(offsetof(HostNotice, TextLength), 8u);
  EXPECT_EQ(offsetof(HostNotice, Text), 9u);
}

TEST(HostNotice, TextCutTo255AndZeroFilled) {
  const std::string longText = std::string(254, 'a') + "bcdef";  // 259 bytes
  const struct {
    std::string text;
    std::size_t length;
  } cases[] = {{"", 0}, {"Rozpocz\xEA" "cie pracy", 17}, {std::string(255, 'x'), 255},
               {longText, 255}, {std::string(300, 'y'), 255}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.size());
    HostNotice n = MakeHostNotice(kNoticeLog, -3, c.text);
    EXPECT_EQ(n.Code, 5);
    EXPECT_EQ(n.Value, -3);
    EXPECT_EQ(n.TextLength, c.length);
    EXPECT_EQ(std::string(n.Text, n.TextLength), c.text.substr(0, c.length));
    for (std::size_t i = c.length; i < sizeof n.Text; ++i) ASSERT_EQ(n.Text[i], 0) << i;
  }
  // Bytes 0 inside the text are text, not an end.
  HostNotice n = MakeHostNotice(kNoticeLog, 0, std::string("a\0b", 3));
  EXPECT_EQ(n.TextLength, 3);
}

TEST(HostNotice, EventNames) {
  const char* names[] = {"", "", "START", "PRACUJE", "POST\xCAP", "LOG", "WARNING", "ERROR", "KONIEC"};
  for (int code = 0; code < 9; ++code) EXPECT_EQ(EventName(code), names[code]) << code;
  EXPECT_EQ(EventName(-1), "");
  EXPECT_EQ(EventName(9), "");
}

// A connected socket pair whose far end plays the host.
class SocketPair {
 public:
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0); }
  ~SocketPair() {
    CloseWorker();
    CloseHost();
  }
  int worker() const { return fds_[0]; }
  int host() const { return fds_[1]; }
  void CloseWorker() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    fds_[0] = -1;
  }
  void CloseHost() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

bool ReadExactly(int fd, unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::read(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

TEST(SocketHostLink, WritesTheRecordAndReturnsTheAnswer) {
  for (std::int32_t reply : {1, -7, 0, 0x01020304}) {
    SCOPED_TRACE(reply);
    SocketPair pair;
    std::array<unsigned char, 264> record{};
    bool got = false;
    std::thread host([&] {
      got = ReadExactly(pair.host(), record.data(), record.size());
      unsigned char answer[4];
      for (int i = 0; i < 4; ++i) answer[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(reply) >> (8 * i));
      (void)!::write(pair.host(), answer, 4);
    });
    posix::SocketHostLink link;
    EXPECT_EQ(link.Send(pair.worker(), MakeHostNotice(kNoticeStart, 0x11223344, "1.0.0.1")), reply);
    host.join();
    ASSERT_TRUE(got);
    const unsigned char head[] = {2, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 7, '1', '.', '0', '.', '0', '.', '1'};
    EXPECT_EQ(std::memcmp(record.data(), head, sizeof head), 0);
    for (std::size_t i = sizeof head; i < record.size(); ++i) ASSERT_EQ(record[i], 0) << i;
  }
}

TEST(SocketHostLink, AGoneOrSilentHostCountsAsZero) {
  posix::SocketHostLink link;
  const HostNotice notice = MakeHostNotice(kNoticeLog, 0, "x");
  {
    SocketPair pair;  // host closed before the send: the write fails, no SIGPIPE
    pair.CloseHost();
    EXPECT_EQ(link.Send(pair.worker(), notice), 0);
  }
  {
    SocketPair pair;  // host reads the record, then closes without answering
    std::thread host([&] {
      unsigned char record[264];
      ReadExactly(pair.host(), record, sizeof record);
      pair.CloseHost();
    });
    EXPECT_EQ(link.Send(pair.worker(), notice), 0);
    host.join();
  }
  {
    SocketPair pair;  // a short answer
    std::thread host([&] {
      unsigned char record[264];
      ReadExactly(pair.host(), record, sizeof record);
      (void)!::write(pair.host(), "\x01\x00", 2);
      pair.CloseHost();
    });
    EXPECT_EQ(link.Send(pair.worker(), notice), 0);
    host.join();
  }
  {
    SocketPair pair;  // a closed descriptor
    const int fd = pair.worker();
    pair.CloseWorker();
    EXPECT_EQ(link.Send(fd, notice), 0);
  }
  EXPECT_EQ(link.Send(-1, notice), 0);
  EXPECT_EQ(link.Send(0x100000000LL, notice), 0);
}

TEST(SocketHostLink, NothingIsWrittenToADescriptorThatIsNoSocket) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  posix::SocketHostLink link;
  EXPECT_EQ(link.Send(pipeFds[1], MakeHostNotice(kNoticeLog, 0, "x")), 0);
  ::close(pipeFds[1]);
  char byte;
  EXPECT_EQ(::read(pipeFds[0], &byte, 1), 0);  // end of file: nothing was written
  ::close(pipeFds[0]);
}

}  // namespace
}  // namespace trelvex
