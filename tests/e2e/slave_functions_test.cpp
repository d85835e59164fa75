// libmodbus as the master of the real vantrel-slave, on a pseudo-terminal and over Modbus
// TCP, for functions beside the reads and writes: Report Server ID, Mask Write Register and
// Read/Write Multiple Registers, with mbpoll reading back what they wrote; and the bus
// message count over two connections.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "support/Hex.h"
#include "support/MbpollOutput.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TcpPeer.h"

using vantrel::test::HexOf;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;
using Values = std::vector<std::string>;

namespace {

constexpr int kSlaveId = 17;

// A libmodbus master of slave 17, connected once made; closed when destroyed.
class Master {
 public:
  explicit Master(modbus_t* ctx) : ctx_(ctx) {
    if (ctx_ == nullptr) return;
    modbus_set_slave(ctx_, kSlaveId);
    modbus_set_response_timeout(ctx_, 2, 0);
    connected_ = modbus_connect(ctx_) == 0;
  }
  ~Master() {
    if (ctx_ == nullptr) return;
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
  Master(const Master&) = delete;
  Master& operator=(const Master&) = delete;

  bool connected() const { return connected_; }
  modbus_t* ctx() const { return ctx_; }

  // Report Server ID: the bytes after the byte count, or nothing when it failed.
  std::string ServerId() const {
    std::uint8_t bytes[MODBUS_MAX_PDU_LENGTH];
    const int n = modbus_report_slave_id(ctx_, sizeof bytes, bytes);
    return n < 0 ? "failed: " + std::string(modbus_strerror(errno)) : HexOf(bytes, static_cast<std::size_t>(n));
  }
  std::vector<std::uint16_t> Registers(int address, int count) const {
    std::vector<std::uint16_t> values(static_cast<std::size_t>(count));
    if (modbus_read_registers(ctx_, address, count, values.data()) != count) values.clear();
    return values;
  }

 private:
  modbus_t* ctx_;
  bool connected_ = false;
};

std::string TextHex(const std::string& text) {
  return HexOf(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// mbpoll's values of holding registers from offset (address + 1), count of them.
Values MbpollHolding(std::vector<std::string> target, int offset, int count) {
  std::vector<std::string> argv{"mbpoll", "-a", std::to_string(kSlaveId), "-1", "-o", "2", "-t", "4",
                                "-r", std::to_string(offset), "-c", std::to_string(count)};
  argv.insert(argv.end(), target.begin(), target.end());
  const RunResult r = vantrel::test::Run(argv);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  return vantrel::test::MbpollValues(r.out);
}

// One Modbus TCP exchange of the test's own on a connection of its own: the reply's bytes.
std::string TcpExchange(int port, const std::string& adu) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  std::vector<std::uint8_t> got;
  const auto request = vantrel::test::Bytes(adu);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      vantrel::test::SendAll(fd, request.data(), static_cast<int>(request.size()))) {
    // the header, then as many bytes as it says follow
    for (int turn = 0; turn < 100 && (got.size() < 6 || got.size() < 6U + (got[4] << 8 | got[5])); ++turn) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 30) <= 0) continue;
      std::uint8_t chunk[300];
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
  }
  close(fd);
  return HexOf(got);
}

}  // namespace

// On a pseudo-terminal in RTU: the server id, run indicator and data set by options, the
// protocol's examples of Mask Write Register and Read/Write Multiple Registers, and mbpoll
// reading back what they wrote.
TEST(slave_functions, libmodbus_on_a_pseudo_terminal) {
  TempDir dir;
  std::ofstream(dir / "image.txt") << "holding 3 0xFE\nholding 4 0x12\nholding 5 1\nholding 6 3\n"
                                      "holding 7 0xD\nholding 8 0xFF\n";
  SlaveProcess slave(dir.path(), "COM3",
                     {"-a", "17", "-b", "115200", "-i", dir / "image.txt", "--server-id", "0x2A", "--run-indicator",
                      "off", "--server-data", "Pump 7"});
  ASSERT_TRUE(slave.ready());
  {
    Master master(modbus_new_rtu(slave.linkPath().c_str(), 115200, 'N', 8, 1));
    ASSERT_TRUE(master.connected()) << modbus_strerror(errno);
    EXPECT_EQ(master.ServerId(), "2A 00 " + TextHex("Pump 7"));

    ASSERT_EQ(modbus_mask_write_register(master.ctx(), 4, 0x00F2, 0x0025), 1) << modbus_strerror(errno);
    EXPECT_EQ(master.Registers(4, 1), std::vector<std::uint16_t>{0x17});

    const std::uint16_t written[] = {0xFF, 0xFF, 0xFF};
    std::vector<std::uint16_t> read(6);
    ASSERT_EQ(modbus_write_and_read_registers(master.ctx(), 14, 3, written, 3, 6, read.data()), 6)
        << modbus_strerror(errno);
    EXPECT_EQ(read, (std::vector<std::uint16_t>{0xFE, 0x17, 1, 3, 0xD, 0xFF}));
    // the write goes before the read: a register both written and read reads the new value
    const std::uint16_t overlap[] = {7, 8};
    ASSERT_EQ(modbus_write_and_read_registers(master.ctx(), 100, 2, overlap, 99, 4, read.data()), 4);
    EXPECT_EQ(std::vector<std::uint16_t>(read.begin(), read.begin() + 4), (std::vector<std::uint16_t>{100, 7, 8, 103}));
  }
  const std::vector<std::string> line{"-m", "rtu", "-b", "115200", "-P", "none", slave.linkPath()};
  EXPECT_EQ(MbpollHolding(line, 5, 1), Values{"23"});
  EXPECT_EQ(MbpollHolding(line, 15, 3), (Values{"255", "255", "255"}));
  EXPECT_EQ(MbpollHolding(line, 100, 4), (Values{"100", "7", "8", "103"}));
  const std::string log = slave.Log();
  EXPECT_NE(log.find("  (wrote 23 to holding register 4 (was 18; AND 0x00F2, OR 0x0025))\n"), std::string::npos) << log;
  EXPECT_NE(log.find("  (wrote 3 holding registers from address 14)\n"), std::string::npos) << log;
}

// Over Modbus TCP: the default server data names the program and its version, a mask write
// and a read/write that mbpoll reads back, and the bus message count of every connection's
// requests.
TEST(slave_functions, libmodbus_over_modbus_tcp) {
  TempDir dir;
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{}, {"-a", "17", "--tcp", "0"});
  ASSERT_TRUE(slave.ready());
  const RunResult version = vantrel::test::Run({vantrel::test::SlaveBinary(), "--version"});
  ASSERT_EQ(version.status, 0);
  {
    Master master(modbus_new_tcp("127.0.0.1", slave.port()));
    ASSERT_TRUE(master.connected()) << modbus_strerror(errno);
    EXPECT_EQ(master.ServerId(), "11 FF " + TextHex(version.out.substr(0, version.out.find('\n'))));
    ASSERT_EQ(modbus_mask_write_register(master.ctx(), 9, 0xFF00, 0x0034), 1) << modbus_strerror(errno);
    const std::uint16_t written[] = {0xBEEF};
    std::vector<std::uint16_t> read(2);
    ASSERT_EQ(modbus_write_and_read_registers(master.ctx(), 10, 1, written, 9, 2, read.data()), 2);
    EXPECT_EQ(read, (std::vector<std::uint16_t>{0x34, 0xBEEF}));  // register 9 held 10
    // the three requests of this connection, and the count's own on another
    EXPECT_EQ(TcpExchange(slave.port(), "00 05 00 00 00 06 11 08 00 0B 00 00"), "00 05 00 00 00 06 11 08 00 0B 00 04");
  }
  EXPECT_EQ(MbpollHolding({"-m", "tcp", "-p", std::to_string(slave.port()), "127.0.0.1"}, 10, 2),
            (Values{"52", "48879"}));
}
