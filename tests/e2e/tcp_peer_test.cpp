// The network modes against peers really started on 127.0.0.1: vantrel-poll against the
// libmodbus TCP server and against vantrel-slave --tcp and --rtu-over-tcp, mbpoll against
// vantrel-slave --tcp, and vantrel-slave's limits on connections.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>

#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "support/LibmodbusSlave.h"
#include "support/MbpollOutput.h"
#include "support/Process.h"
#include "support/TcpPeer.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::LibmodbusSlave;
using vantrel::test::MbpollValues;
using vantrel::test::PollBinary;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TcpListener;
using vantrel::test::TempDir;
using Clock = std::chrono::steady_clock;

namespace {

RunResult Poll(const std::vector<std::string>& args) {
  std::vector<std::string> argv{PollBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return vantrel::test::Run(argv);
}

// CSV rows without the header.
std::string Rows(const RunResult& r) { return r.out.substr(r.out.find('\n') + 1); }

std::string At(int port) { return "127.0.0.1:" + std::to_string(port); }

}  // namespace

// Code that nobody here wrote serves the reads and takes the writes.
TEST(LibmodbusTcp, vantrel_poll_reads_and_writes_it) {
  LibmodbusSlave server(LibmodbusSlave::Tcp{});
  ASSERT_GT(server.port(), 0);
  const std::string host = At(server.port());
  struct Read {
    std::vector<std::string> args;
    const char* rows;
  };
  const Read reads[] = {
      {{"-t", "4", "-r", "1", "-c", "2"},
       "1,40001,400001,0x1000,4096,4096,,,\n2,40002,400002,0x1001,4097,4097,268505088,268505088,0.000000\n"},
      {{"-t", "3", "-r", "11", "-c", "1"}, "11,30011,300011,0xEFF6,61430,-4106,incomplete,incomplete,incomplete\n"},
      {{"-t", "0", "-r", "5", "-c", "3"}, "5,00005,000005,0\n6,00006,000006,1\n7,00007,000007,0\n"},
      {{"-t", "1", "-r", "1", "-c", "2"}, "1,10001,100001,0\n2,10002,100002,1\n"},
  };
  for (const Read& read : reads) {
    std::vector<std::string> args{"-m", "tcp", "-a", "1", "-o", "5", "--csv"};
    args.insert(args.end(), read.args.begin(), read.args.end());
    args.push_back(host);
    const RunResult r = Poll(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Rows(r), read.rows) << read.args[1];
  }
  // 06, 16, 05 and 15, then what the server's map holds
  EXPECT_EQ(Poll({"-m", "tcp", "-a", "1", "-t", "4", "-r", "10", host, "5555"}).status, 0);
  EXPECT_EQ(Poll({"-m", "tcp", "-a", "1", "-t", "4", "-r", "20", host, "1", "2", "3"}).status, 0);
  EXPECT_EQ(Poll({"-m", "tcp", "-a", "1", "-t", "0", "-r", "7", host, "1"}).status, 0);
  const RunResult coils = Poll({"-m", "tcp", "-a", "1", "-t", "0", "-r", "1", "-p", std::to_string(server.port()),
                                "127.0.0.1", "0", "1", "1"});
  EXPECT_EQ(coils.out, "Wrote 3 coils from offset 1 (00001) with function 15: 0 1 1\n") << coils.err;
  EXPECT_EQ(server.Registers(9, 1), std::vector<std::uint16_t>{5555});
  EXPECT_EQ(server.Registers(19, 3), (std::vector<std::uint16_t>{1, 2, 3}));
  EXPECT_EQ(server.Coils(0, 3), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(server.Coils(6, 1), std::vector<int>{1});
  // past the end of its map: its exception, explained
  const RunResult beyond = Poll({"-m", "tcp", "-a", "1", "-t", "4", "-r", "199", "-c", "5", host});
  EXPECT_EQ(beyond.status, 8);
  EXPECT_NE(beyond.err.find("0x02 - ILLEGAL DATA ADDRESS"), std::string::npos) << beyond.err;
  EXPECT_GE(server.Served(), 9);
}

class SlaveOverTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "image.txt") << "holding 100 0xFFFE\n";
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), SlaveProcess::OverTcp{},
                                            std::vector<std::string>{"-a", "1", "--tcp", "0", "-i", dir_ / "image.txt"});
    ASSERT_TRUE(slave_->ready());
    ASSERT_GT(slave_->port(), 0);
  }
  RunResult Mb(const std::vector<std::string>& args, const std::vector<std::string>& values = {}) {
    std::vector<std::string> argv{"mbpoll", "-m", "tcp", "-a", "1", "-p", std::to_string(slave_->port()), "-1", "-o", "2"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("127.0.0.1");
    argv.insert(argv.end(), values.begin(), values.end());
    return vantrel::test::Run(argv);
  }
  RunResult PollIt(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"-m", "tcp", "-a", "1", "-o", "2"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(At(slave_->port()));
    return Poll(argv);
  }

  TempDir dir_;
  std::unique_ptr<SlaveProcess> slave_;
};

TEST_F(SlaveOverTcp, mbpoll_reads_and_writes_it) {
  RunResult r = Mb({"-t", "4", "-r", "1", "-c", "5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(MbpollValues(r.out), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  r = Mb({"-t", "4:hex", "-r", "101", "-c", "1"});
  EXPECT_EQ(MbpollValues(r.out), std::vector<std::string>{"0xFFFE"}) << "from the image file";
  r = Mb({"-t", "3", "-r", "2", "-c", "3"});
  EXPECT_EQ(MbpollValues(r.out), (std::vector<std::string>{"20", "30", "40"}));
  r = Mb({"-t", "0", "-r", "1", "-c", "4"});
  EXPECT_EQ(MbpollValues(r.out), (std::vector<std::string>{"1", "0", "1", "0"}));
  r = Mb({"-t", "4", "-r", "1", "-c", "125"});
  ASSERT_EQ(MbpollValues(r.out).size(), 125u);
  EXPECT_EQ(MbpollValues(r.out)[124], "125");

  struct Write {
    std::vector<std::string> write, values, read;
    const char* rows;
  };
  const Write writes[] = {
      {{"-t", "4", "-r", "10"}, {"1234"}, {"-t", "4", "-r", "10", "-c", "1"},
       "10,40010,400010,0x04D2,1234,1234,incomplete,incomplete,incomplete\n"},
      {{"-t", "0", "-r", "7"}, {"0", "1", "0"}, {"-t", "0", "-r", "7", "-c", "3"},
       "7,00007,000007,0\n8,00008,000008,1\n9,00009,000009,0\n"},
      {{"-t", "4:float", "-r", "30"}, {"3.5"}, {"-t", "4", "-r", "30", "-c", "2"},
       "30,40030,400030,0x0000,0,0,,,\n31,40031,400031,0x4060,16480,16480,1080033280,1080033280,3.500000\n"},
  };
  for (const Write& w : writes) {
    const RunResult wrote = Mb(w.write, w.values);
    EXPECT_EQ(wrote.status, 0) << wrote.out << wrote.err;
    std::vector<std::string> read = w.read;
    read.push_back("--csv");
    const RunResult back = PollIt(read);
    EXPECT_EQ(Rows(back), w.rows) << back.err;
  }
  r = Mb({"-t", "4", "-r", "9002", "-c", "1"});
  EXPECT_NE((r.out + r.err).find("Illegal data address"), std::string::npos) << r.out << r.err;
  EXPECT_NE(slave_->Log().find(" -> 00 "), std::string::npos) << "each frame logged with its client";
}

// Every network fault ends with its own status and message, well within the time-out given.
TEST_F(SlaveOverTcp, each_fault_gives_its_message_and_never_hangs) {
  struct Case {
    const char* what;
    int offset;
    int status;
    const char* text;
  };
  const Case cases[] = {
      {"an exception", 9002, 8, "0x02 - ILLEGAL DATA ADDRESS"},
      {"silence", 9021, 6, "Error - Timeout\n"},
      {"a reply split over two segments", 9023, 0, ""},
      {"another transaction id: skipped, the wait goes on", 9030, 6,
       "vantrel-poll: Skipped a reply to another transaction ("},
      {"an MBAP length of 65535", 9031, 14, "Error - Invalid Modbus TCP header\n"},
      {"the connection closed in the middle of the reply", 9032, 12,
       "closed the connection during reads: it may have restarted"},
      {"a bad CRC, which Modbus TCP has not", 9020, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = Clock::now();
    const RunResult r = PollIt({"-t", "4", "-c", "1", "-r", std::to_string(c.offset)});
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8)) << "2 s time-out";
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    if (c.status != 0) {
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_NE(slave_->Log().find("closed half way through the reply"), std::string::npos) << slave_->Log();
}

TEST(PollOverTcp, connection_failures_name_host_and_port_and_never_hang) {
  TcpListener gone;
  const int refusedPort = gone.port();
  gone.Close();
  TcpListener silent;    // accepts (the system does) and never answers
  TcpListener full(0);   // its one place taken: further connects get no answer
  TcpConnection filler;
  ASSERT_EQ(filler.Connect("127.0.0.1", full.port(), 5000), 1);
  struct Case {
    const char* what;
    int port;
    int status;
    const char* text;
  };
  const Case cases[] = {
      {"nothing listening", refusedPort, 4, "nothing accepts connections on that port"},
      {"no answer to the connect", full.port(), 4, "No answer came within 0.5 seconds"},
      {"connected, but no reply", silent.port(), 6, "Error - Timeout\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto start = Clock::now();
    const RunResult r = Poll({"-m", "tcp", "-o", "0.5", "-t", "4", At(c.port)});
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    if (c.status == 4) {
      EXPECT_NE(r.err.find("\nConnection: TCP " + At(c.port)), std::string::npos) << r.err;
    }
  }
}

TEST(PollOverTcp, rtu_over_tcp_against_the_simulator) {
  TempDir dir;
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{}, {"-a", "1", "--rtu-over-tcp", "127.0.0.1:0"});
  ASSERT_TRUE(slave.ready());
  const std::string host = At(slave.port());
  RunResult r = Poll({"-m", "rtutcp", "-a", "1", "-t", "3", "-r", "4", "-c", "1", "--csv", host});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Rows(r), "4,30004,300004,0x0028,40,40,incomplete,incomplete,incomplete\n");
  r = Poll({"-m", "rtutcp", "-a", "1", "-t", "4:int16", "-r", "3", host, "--", "-2"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Poll({"-m", "rtutcp", "-a", "1", "-t", "4", "-r", "3", "-c", "1", "--csv", host});
  EXPECT_EQ(Rows(r), "3,40003,400003,0xFFFE,65534,-2,incomplete,incomplete,incomplete\n");
  r = Poll({"-m", "rtutcp", "-a", "1", "-o", "2", "-t", "4", "-r", "9020", "-c", "1", host});
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_NE(r.err.find("MB_RESPONCE_INVALID_CRC"), std::string::npos) << r.err;
  EXPECT_NE(slave.Log().find("-> 01 03 00 02 00 01 25 CA"), std::string::npos) << "RTU frames, CRC and all";
}

namespace {

// A master of its own for each of several clients of vantrel-slave --tcp.
struct Client {
  Line line;
  ModbusMaster& master = line.master();
  Client(int port) {
    line.SetMode(ModbusMode::Tcp);
    line.tcp().Connect("127.0.0.1", port, 5000);
  }
  bool Read(int offset) {
    std::uint8_t frame[8];
    BuildReadRequest(3, 1, static_cast<std::uint16_t>(offset), 1, frame);
    return master.SendRequest(frame, 8) == 1;
  }
  // The register's value, or -1.
  int Reply() {
    for (int i = 0; i < 100; ++i) {
      const int r = master.ReadResponse();
      if (r == MB_RESPONCE_OK) return master.data[0] << 8 | master.data[1];
      if (!ReplyPending(r) || master.link().WaitReadable(50) < 0) return -1;
    }
    return -1;
  }
};

}  // namespace

// Each client on its own connection, up to 32; one more is closed at once, and may come
// back once a place is free.
TEST(SlaveLimits, thirty_two_clients_at_once_and_no_more) {
  TempDir dir;
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{}, {"-a", "1", "--tcp", "0"});
  ASSERT_TRUE(slave.ready());
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 32; ++i) {
    clients.push_back(std::make_unique<Client>(slave.port()));
    ASSERT_EQ(clients.back()->master.IsOpen(), 1) << i;
  }
  // every request out before any reply is taken: the replies keep to their connections
  for (int i = 0; i < 32; ++i) ASSERT_TRUE(clients[static_cast<std::size_t>(i)]->Read(100 + i));
  for (int i = 31; i >= 0; --i) EXPECT_EQ(clients[static_cast<std::size_t>(i)]->Reply(), 100 + i) << i;

  Client extra(slave.port());  // the system accepts it; the simulator closes it
  ASSERT_EQ(extra.master.IsOpen(), 1);
  EXPECT_EQ(extra.master.link().WaitReadable(5000), -1) << "closed by the simulator";
  EXPECT_TRUE(extra.master.link().DeviceLost());
  EXPECT_NE(slave.Log().find(" refused: 32 connections are open"), std::string::npos) << slave.Log();

  clients.pop_back();  // one place free again, once the simulator has seen it go
  const auto closed = [&] {
    const std::string log = slave.Log();
    return log.find("closed the connection", log.find(" refused: ")) != std::string::npos;
  };
  for (int i = 0; i < 500 && !closed(); ++i) usleep(10000);
  ASSERT_TRUE(closed()) << slave.Log();
  Client again(slave.port());
  ASSERT_TRUE(again.Read(7));
  EXPECT_EQ(again.Reply(), 7);
}

TEST(SlaveLimits, idle_connections_and_impossible_lengths_are_closed) {
  TempDir dir;
  SlaveProcess slave(dir.path(), SlaveProcess::OverTcp{}, {"-a", "1", "--tcp", "0", "--idle-timeout", "1"});
  ASSERT_TRUE(slave.ready());
  Client idle(slave.port());
  Client wrong(slave.port());
  ASSERT_EQ(idle.master.IsOpen(), 1);
  ASSERT_EQ(wrong.master.IsOpen(), 1);
  const std::uint8_t impossible[] = {0x00, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x01, 0x03};
  ASSERT_EQ(wrong.master.link().Write(impossible, 8), 8);
  EXPECT_EQ(wrong.master.link().WaitReadable(5000), -1) << "disconnected at once";
  const auto start = Clock::now();
  EXPECT_EQ(idle.master.link().WaitReadable(10000), -1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300)) << "not before its time";
  const std::string log = slave.Log();
  EXPECT_NE(log.find("sent an MBAP header with a length no request can have (00 01 00 00 FF FF): disconnected"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("no whole request in 1 s: closed"), std::string::npos) << log;
}
