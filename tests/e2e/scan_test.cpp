// Finding devices with vantrel-poll against peers nobody here wrote: a libmodbus slave on a
// pseudo-terminal (no device identification, so 43/14 is answered with exception 01) and
// libmodbus's Modbus TCP server.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LibmodbusSlave.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/TempDir.h"

using vantrel::test::LibmodbusSlave;
using vantrel::test::PollBinary;
using vantrel::test::Pty;


namespace {

// vantrel-poll run once against a fresh libmodbus slave 17 on a pseudo-terminal (whose near
// end stays open meanwhile, as a line to a device does). Fresh each time: libmodbus's RTU
// server takes whatever follows a request for another id as that device's reply, however
// long it waits, so one silent id before its own leaves it deaf to the next request; and
// it cannot frame a function it does not know, such as the identification request.
vantrel::test::RunResult PollLibmodbus(std::vector<std::string> args, std::string& path) {
  Pty pty;
  const int near = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  LibmodbusSlave slave{pty.master(), 17};
  std::vector<std::string> argv{PollBinary(), "-b", "115200", "-P", "none", "-d", "8", "-s", "1"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(pty.path());
  auto r = vantrel::test::Run(argv);
  if (near >= 0) close(near);
  path = pty.path();
  return r;
}

}  // namespace

// The scan finds the libmodbus slave with its value, or its exception, and without
// identification, which libmodbus does not have; a range without it finds nothing and says
// so in its status. --id-info says that the device did not answer.
TEST(LibmodbusLine, scan_finds_the_libmodbus_slave_and_its_missing_identification) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{"--scan", "17-19", "-o", "0.2"}, 0,
       "COM 3:115200,N,8,1 RTU, slave 17: holding register 40001 = 4096; no device identification\n"},
      {{"--scan", "17-18", "-o", "0.2", "--csv", "-t", "4", "-r", "5000"}, 0,
       "id,settings,found,what,identification\n17,\"COM 3:115200,N,8,1 RTU\",exception,0x02 - ILLEGAL DATA "
       "ADDRESS,no device identification\n"},
      {{"--scan", "1-2", "-o", "0.2"}, 15, ""},
  };
  for (const auto& c : cases) {
    std::string path;
    const auto r = PollLibmodbus(c.args, path);
    EXPECT_EQ(r.status, c.status) << r.err;
    // The device path stands where the program's COM name would.
    std::string out = r.out;
    path += ":115200,N,8,1";
    for (auto at = out.find(path); at != std::string::npos; at = out.find(path)) out.replace(at, path.size(), "COM 3:115200,N,8,1");
    EXPECT_EQ(out, c.out) << c.args[1];
  }
  std::string path;
  const auto id = PollLibmodbus({"--id-info", "-a", "17", "-o", "0.3"}, path);
  EXPECT_EQ(id.status, 6);
  EXPECT_EQ(id.err, "Error - Timeout\n\nThe device did not answer the request for its identification.\n");
}

// Over Modbus TCP, libmodbus's server answers the identification request with exception 01
// (illegal function): found, with no identification.
TEST(LibmodbusTcp, scan_shows_the_missing_identification) {
  LibmodbusSlave slave{LibmodbusSlave::Tcp{}};
  ASSERT_GT(slave.port(), 0);
  const std::string host = "127.0.0.1:" + std::to_string(slave.port());
  const auto r = vantrel::test::Run({PollBinary(), "-m", "tcp", "--scan", "5-5", "-o", "0.5", "--csv", host});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "id,settings,found,what,identification\n5,TCP " + host + ",device,4096,no device identification\n");
}

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

}  // namespace

// vantrel-slave's ids 3, 17 and 200 at 19200 baud among silence, with --strict-line: a sweep
// finds them as "something is there" at the wrong speed, and as devices, with their
// identification, at the right one; the id that answers with an exception is found as such.
TEST(SlaveScan, a_sweep_finds_the_ids_at_their_line_settings) {
  vantrel::test::TempDir dir;
  vantrel::test::SlaveProcess slave(dir.path(), "COM3",
                                    {"-a", "3,17,200", "-b", "19200", "-P", "even", "--strict-line", "--fault-id",
                                     "200=exception=1", "--basic-id-only", "--vendor", "ACME", "-q"});
  ASSERT_TRUE(slave.ready());
  const auto r = vantrel::test::Run({PollBinary(), "--scan", "1-210", "--sweep", "--bauds", "19200,9600", "--parities",
                                     "E", "--stop-bits", "1", "-o", "0.02", "--csv", slave.linkPath()});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 7u) << r.out;
  EXPECT_EQ(lines[0], "id,settings,found,what,identification");
  for (int i = 0; i < 3; ++i) {
    const std::string id = i == 0 ? "3" : i == 1 ? "17" : "200";
    EXPECT_EQ(lines[static_cast<std::size_t>(1 + i)].rfind(id + ",9600 8E1 RTU,something is there,", 0), 0u)
        << lines[static_cast<std::size_t>(1 + i)];
  }
  const std::string id = "VendorName: ACME; ProductCode: vantrel-slave; MajorMinorRevision: ";
  EXPECT_EQ(lines[4].rfind("3,19200 8E1 RTU,device,1," + id, 0), 0u) << lines[4];
  EXPECT_EQ(lines[5].rfind("17,19200 8E1 RTU,device,1," + id, 0), 0u) << lines[5];
  EXPECT_EQ(lines[6], "200,19200 8E1 RTU,exception,0x01 - ILLEGAL FUNCTION,no device identification");
  EXPECT_NE(r.err.find("Scanned slave ids 1 to 210 at 2 line settings in "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": 3 devices found, 3 ids where something else answered"), std::string::npos) << r.err;
}

// Over Modbus TCP the unit ids are scanned on one connection to the simulator's port.
TEST(SlaveScan, the_unit_ids_on_a_tcp_port) {
  vantrel::test::TempDir dir;
  vantrel::test::SlaveProcess slave(dir.path(), vantrel::test::SlaveProcess::OverTcp{},
                                    {"-a", "3,17", "--tcp", "0", "--vendor", "ACME", "--basic-id-only", "-q"});
  ASSERT_TRUE(slave.ready());
  const std::string host = "127.0.0.1:" + std::to_string(slave.port());
  const auto r = vantrel::test::Run({PollBinary(), "-m", "tcp", "--scan", "1-20", "-o", "0.05", host});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{
                              "TCP " + host + ", slave 3: holding register 40001 = 1; VendorName: ACME; ProductCode: "
                                              "vantrel-slave; MajorMinorRevision: 1.0.0",
                              "TCP " + host + ", slave 17: holding register 40001 = 1; VendorName: ACME; ProductCode: "
                                              "vantrel-slave; MajorMinorRevision: 1.0.0"}));
}
