// vantrel-slave as a scan meets it, really started: several ids over TCP, device
// identification on a pseudo-terminal, and --strict-line against a master of the test's
// own at other line settings.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "modbus/DeviceIdentification.h"
#include "modbus/Framing.h"
#include "modbus/ModbusFrame.h"
#include "support/Hex.h"
#include "support/Process.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::uint8_t> WithCrc(const std::string& hex) {
  auto frame = Bytes(hex);
  const std::uint16_t crc = Crc16(frame.data(), static_cast<std::uint16_t>(frame.size()));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return frame;
}

// Reads until complete(bytes) says the reply is whole, or 3 s have passed.
template <typename Complete>
std::vector<std::uint8_t> ReadReply(int fd, Complete complete) {
  std::vector<std::uint8_t> got;
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  while (!complete(got) && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (poll(&p, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) continue;
    std::uint8_t chunk[300];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    got.insert(got.end(), chunk, chunk + n);
  }
  return got;
}

// A master of the test's own on the pseudo-terminal: raw, at the speed and stop bits given.
class LineMaster {
 public:
  explicit LineMaster(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~LineMaster() {
    if (fd_ >= 0) close(fd_);
  }
  bool Set(speed_t speed, int stopBits) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    cfsetspeed(&t, speed);
    t.c_cflag = stopBits == 2 ? (t.c_cflag | CSTOPB) : (t.c_cflag & ~CSTOPB);
    return tcsetattr(fd_, TCSANOW, &t) == 0;
  }
  // An RTU exchange; size: the reply's length, or 0 for a device identification reply.
  std::vector<std::uint8_t> Exchange(const std::vector<std::uint8_t>& request, std::size_t size) {
    if (write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return {};
    return ReadReply(fd_, [size](const std::vector<std::uint8_t>& b) {
      if (size > 0) return b.size() >= size;
      const int pdu = b.size() < 2 ? 0 : DeviceIdReplySize(b.data() + 1, static_cast<int>(b.size()) - 1);
      return pdu < 0 || (pdu > 0 && b.size() >= static_cast<std::size_t>(pdu) + 3);
    });
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool CrcHolds(const std::vector<std::uint8_t>& frame) {
  if (frame.size() < 4) return false;
  const std::uint16_t crc = Crc16(frame.data(), static_cast<std::uint16_t>(frame.size() - 2));
  return frame[frame.size() - 2] == (crc >> 8) && frame.back() == (crc & 0xFF);
}

}  // namespace

// At 19200 baud, 1 stop bit, with --strict-line: a master at another speed or stop bits gets
// a broken reply (something is there), at the right ones a good one; each change is logged
// once, and a write sent at the wrong speed changes nothing.
TEST(slave_devices, strict_line_breaks_replies_at_other_settings) {
  TempDir dir;
  SlaveProcess slave(dir.path(), "COM3", {"-a", "3,17", "-b", "19200", "--strict-line"});
  ASSERT_TRUE(slave.ready());
  LineMaster master(slave.linkPath());
  ASSERT_GE(master.fd(), 0);
  const auto read = WithCrc("11 03 00 00 00 01");
  const auto good = WithCrc("11 03 02 00 01");
  const struct {
    speed_t speed;
    int stopBits;
    bool understood;
  } steps[] = {
      {B115200, 1, false}, {B115200, 1, false}, {B19200, 1, true},  {B19200, 2, false},
      {B9600, 1, false},   {B19200, 1, true},
  };
  for (const auto& s : steps) {
    ASSERT_TRUE(master.Set(s.speed, s.stopBits));
    const auto reply = master.Exchange(read, good.size());
    if (s.understood) {
      EXPECT_EQ(HexOf(reply), HexOf(good));
    } else {
      EXPECT_FALSE(reply.empty()) << "something is there";
      EXPECT_NE(HexOf(reply), HexOf(good));
      EXPECT_FALSE(CrcHolds(reply)) << HexOf(reply);
    }
  }
  ASSERT_TRUE(master.Set(B115200, 1));
  EXPECT_EQ(master.Exchange(WithCrc("11 06 00 00 00 63"), 8).size(), 8u);
  ASSERT_TRUE(master.Set(B19200, 1));
  EXPECT_EQ(HexOf(master.Exchange(read, good.size())), HexOf(good)) << "the write was not understood";
  slave.Stop();
  const std::string log = slave.Log();
  std::size_t changes = 0;
  for (std::size_t at = log.find("the far end is at"); at != std::string::npos; at = log.find("the far end is at", at + 1)) {
    ++changes;
  }
  EXPECT_EQ(changes, 7u) << log;  // 115200; 19200; 19200 2 stop bits; 9600; 19200; 115200; 19200
  EXPECT_NE(log.find("the far end is at 115200 baud, 1 stop bit, this slave at 19200 baud, 1 stop bit"), std::string::npos)
      << log;
}

// The identification objects set by options, gathered by the master's reader one object a
// reply (--id-chunk 1).
TEST(slave_devices, device_identification_by_options) {
  TempDir dir;
  SlaveProcess slave(dir.path(), "COM3",
                     {"-a", "5", "--no-pacing", "--vendor", "Acme", "--product", "PX-7", "--revision", "2.1",
                      "--model", "", "--id-object", "4=Pump", "--id-object", "0x80=serial 42", "--id-chunk", "1"});
  ASSERT_TRUE(slave.ready());
  LineMaster master(slave.linkPath());
  ASSERT_TRUE(master.Set(B115200, 1));
  DeviceIdReader reader;
  int replies = 0;
  for (auto pdu = reader.NextRequest(); !pdu.empty(); pdu = reader.NextRequest(), ++replies) {
    const auto reply = master.Exchange(WithCrc("05 " + HexOf(pdu)), 0);
    ASSERT_TRUE(CrcHolds(reply)) << HexOf(reply);
    DeviceIdReply objects;
    ASSERT_TRUE(ParseDeviceIdReply(reply.data() + 1, static_cast<int>(reply.size()) - 3, objects)) << HexOf(reply);
    EXPECT_EQ(objects.conformity, 0x83);
    reader.Take(objects);
  }
  EXPECT_EQ(reader.Text(),
            "VendorName: Acme; ProductCode: PX-7; MajorMinorRevision: 2.1; VendorUrl: http://www.vantrel.example/; "
            "ProductName: Pump");
  EXPECT_EQ(replies, 5);
  EXPECT_EQ(HexOf(master.Exchange(WithCrc("05 2B 0E 04 80"), 0)),
            HexOf(WithCrc("05 2B 0E 04 83 00 00 01 80 09 73 65 72 69 61 6C 20 34 32")));

}

namespace {

// One Modbus TCP exchange on a connection to 127.0.0.1:port (transaction 1).
std::string TcpExchange(int fd, const std::string& unitAndPdu) {
  const auto body = Bytes(unitAndPdu);
  std::vector<std::uint8_t> adu(kMbapHeaderSize);
  PutMbap(adu.data(), 1, body[0], static_cast<int>(body.size()) - 1);
  adu.insert(adu.end(), body.begin() + 1, body.end());
  if (send(fd, adu.data(), adu.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(adu.size())) return "not sent";
  const auto reply = ReadReply(fd, [](const std::vector<std::uint8_t>& b) {
    return b.size() >= 6 && b.size() >= 6u + (b[4] << 8 | b[5]);
  });
  return HexOf(reply);
}

}  // namespace

// Three unit ids on one TCP port, tables from an image file with a section per id; a write
// to one id leaves the others; --save writes each id's own under its "id" line.
TEST(slave_devices, several_unit_ids_over_tcp) {
  TempDir dir;
  std::ofstream(dir / "image.txt") << "holding 0 7\nid 17\nholding 0 1700\n";
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{},
                     {"-a", "3,17,200", "--tcp", "0", "-i", dir / "image.txt", "--save", dir / "saved.txt"});
  ASSERT_TRUE(slave.ready());
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(slave.port()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  EXPECT_EQ(TcpExchange(fd, "03 03 00 00 00 01"), "00 01 00 00 00 05 03 03 02 00 07");
  EXPECT_EQ(TcpExchange(fd, "11 03 00 00 00 01"), "00 01 00 00 00 05 11 03 02 06 A4");
  EXPECT_EQ(TcpExchange(fd, "C8 06 00 05 00 2A"), "00 01 00 00 00 06 C8 06 00 05 00 2A");
  EXPECT_EQ(TcpExchange(fd, "03 03 00 05 00 01"), "00 01 00 00 00 05 03 03 02 00 06");
  EXPECT_EQ(TcpExchange(fd, "C8 2B 0E 04 01"), "00 01 00 00 00 17 C8 2B 0E 04 82 00 00 01 01 0D 76 61 6E 74 72 65 6C 2D 73 6C 61 76 65");
  close(fd);
  slave.Stop();
  std::ifstream saved(dir / "saved.txt");
  std::string text((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.substr(text.find('\n') + 1),
            "id 3\nholding 0 7\nid 17\nholding 0 1700\nid 200\nholding 0 7\nholding 5 42\n");
}
