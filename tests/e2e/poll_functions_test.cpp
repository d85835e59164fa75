// vantrel-poll's requests of any function (--raw and the named options) and broadcasts, run
// as a user would: against vantrel-slave on a pseudo-terminal and over Modbus TCP, against
// libmodbus as the slave, and against a device the test plays for a function nobody knows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/Frames.h"
#include "support/LibmodbusSlave.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/TempDir.h"

using vantrel::test::LibmodbusSlave;
using vantrel::test::PollBinary;
using vantrel::test::Pty;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;
using Args = std::vector<std::string>;

namespace {

// vantrel-slave for ids 3 and 11 in one mode, and the poller's options that reach it.
struct Mode {
  const char* name;
  Args slave;
  bool tcp;
};

class Target {
 public:
  Target(const std::string& dir, const Mode& mode) {
    if (mode.tcp) {
      slave_ = std::make_unique<SlaveProcess>(dir, SlaveProcess::OverTcp{}, mode.slave);
      where_ = {"-m", "tcp", "-p", std::to_string(slave_->port()), "127.0.0.1"};
    } else {
      slave_ = std::make_unique<SlaveProcess>(dir, "COM3", mode.slave);
      where_ = {"-b", "115200", slave_->linkPath()};
    }
  }
  bool ready() const { return slave_->ready(); }
  std::string Log() const { return slave_->Log(); }
  // The poller with the options, the connection, then what goes after the device.
  RunResult Poll(const Args& options, const Args& after = {}) const {
    Args argv{PollBinary()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), where_.begin(), where_.end());
    argv.insert(argv.end(), after.begin(), after.end());
    return vantrel::test::Run(argv);
  }
  // Holding register at the reference (counted from 1) of the slave id, as the poller reads it.
  std::string Holding(const std::string& id, int reference) const {
    const RunResult r = Poll({"-a", id, "-t", "4", "-r", std::to_string(reference), "-c", "1", "--csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::size_t row = r.out.find('\n');
    const std::size_t hex = r.out.find(",0x", row);
    return hex == std::string::npos ? r.out : r.out.substr(hex + 1, 6);
  }

 private:
  std::unique_ptr<SlaveProcess> slave_;
  Args where_;
};

const Mode kModes[] = {
    {"rtu", {"-a", "3,11", "-b", "115200"}, false},
    {"tcp", {"-a", "3,11", "--tcp", "0"}, true},
};

struct Case {
  Args options;
  Args after;       // values after the device
  int status;
  Args out;         // pieces of standard output, in this order
  const char* err;  // a piece of standard error
};

// Each piece found in text after the one before.
void ExpectInOrder(const std::string& text, const Args& pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
    const std::size_t found = text.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "\"" << piece << "\" not in:\n" << text;
    at = found + piece.size();
  }
}

// Runs each case against slave id: its exit status, output pieces (nothing when none is
// expected) and a piece of its error output.
template <std::size_t N>
void RunCases(const Target& target, const std::string& id, const Case (&cases)[N]) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.back());
    Args options{"-a", id};
    options.insert(options.end(), c.options.begin(), c.options.end());
    const RunResult r = target.Poll(options, c.after);
    EXPECT_EQ(r.status, c.status) << r.err;
    ExpectInOrder(r.out, c.out);
    if (c.out.empty()) {
      EXPECT_EQ(r.out, "");
    }
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
}

}  // namespace

// Every named option and some raw PDUs to slave 11, in each mode; the slave's default tables:
// holding register at offset N holds N, record r of file f holds f * 10000 + r.
TEST(PollFunctions, named_options_and_raw_pdus_against_the_simulator) {
  const Case cases[] = {
      {{"--diag", "0:A537"}, {}, 0,
       {"08 00 00 A5 37\nFunction: 08 Diagnostics\nSub-function: 0x0000 Return Query Data\nData: A5 37\n"
        "Response time: ", " ms\n"}, ""},
      {{"--raw", "08 00 00 A5 37"}, {}, 0, {"08 00 00 A5 37\nFunction: 08 Diagnostics\n"}, ""},
      {{"--diag", "11"}, {}, 0, {"08 00 0B ", "\nCounter 11 Bus message count: "}, ""},
      {{"--exception-status"}, {}, 0, {"07 55\nFunction: 07 Read Exception Status\nException status: 0x55 (01010101)\n"}, ""},
      {{"--event-counter"}, {}, 0, {"0B 00 00 ", "\nStatus: 0x0000 (ready)\nEvent count: "}, ""},
      {{"--event-log"}, {}, 0, {"0C ", "Function: 12 Get Comm Event Log\n", "Message count: ", "Events: "}, ""},
      {{"--report-id"}, {}, 0,
       {"11 ", " 0B FF 76 61 6E 74 72 65 6C", "Function: 17 Report Server ID\n", "Server id: 0x0B\nRun indicator: ON\n"}, ""},
      {{"--fifo", "3"}, {}, 0, {"18 00 08 00 03 00 04 00 05 00 06\n", "FIFO count: 3\nFIFO values: 4, 5, 6\n"}, ""},
      {{"--file-read", "2:5:2"}, {}, 0, {"14 06 05 06 4E 25 4E 26\n", "Record 5 of file 2: 4E25 4E26\n"}, ""},
      // (0x32 AND 0x00F0) OR (0x0005 AND NOT 0x00F0)
      {{"--mask-write", "50:0x00F0:5"}, {}, 0, {"16 00 31 00 F0 00 05\n", "AND mask: 0x00F0\nOR mask: 0x0005\n"}, ""},
      {{"--read-write", "-t", "4", "-r", "60", "-c", "3", "--write-ref", "61"}, {"7", "8"}, 0,
       {"17 06 00 3C 00 07 00 08\n", "Registers read: 60, 7, 8\n"}, ""},
      // a function nobody serves: the slave's exception 01, shown, and its status
      {{"--raw", "41 01 02"}, {}, 8, {"C1 01\nFunction: 0xC1, exception of 0x41\nException code: 0x01\n"},
       "0x01 - ILLEGAL FUNCTION"},
      {{"--fifo", "9002"}, {}, 8, {"98 02\n"}, "0x02 - ILLEGAL DATA ADDRESS"},
      {{"-a", "5", "-o", "0.3", "--report-id"}, {}, 6, {}, "Error - Timeout\n"},
      // refused before the line
      {{"--raw", "08 01"}, {}, 3, {}, "Error - The request does not fit its function\n"},
      {{"--file-read", "0:0:1"}, {}, 3, {}, "Error - A field of the request is out of range\n"},
      {{"--read-write", "-t", "4", "-c", "126"}, {"1"}, 3, {}, "Error - The quantity is out of range\n"},
      {{"-a", "0", "--report-id"}, {}, 3, {}, "Error - This request cannot be broadcast\n"},
  };
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    TempDir dir;
    const Target target(dir.path(), mode);
    ASSERT_TRUE(target.ready());
    RunCases(target, "11", cases);
    // what the writes did, read back
    EXPECT_EQ(target.Holding("11", 50), "0x0035");
    EXPECT_EQ(target.Holding("11", 61), "0x0007");
    EXPECT_EQ(target.Holding("11", 62), "0x0008");
    EXPECT_EQ(target.Holding("3", 61), "0x003D") << "another id's tables are its own";
    // nothing refused reached the device
    EXPECT_EQ(target.Log().find("08 01"), std::string::npos) << target.Log();
  }
}

TEST(PollFunctions, json_gives_one_object_with_the_request_reply_and_fields) {
  TempDir dir;
  const Target target(dir.path(), kModes[0]);
  ASSERT_TRUE(target.ready());
  RunResult r = target.Poll({"-a", "11", "--diag", "0:BEEF", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectInOrder(r.out, {"{\"time\":\"", "\"request\":{\"mode\":\"rtu\",\"connection\":\"", "\"slave_id\":11,\"pdu\":\"08 00 00 BE EF\"},"
                        "\"reply\":\"08 00 00 BE EF\",\"fields\":{\"Function\":\"08 Diagnostics\",\"Sub-function\":"
                        "\"0x0000 Return Query Data\",\"Data\":\"BE EF\"},\"response_ms\":", "}\n"});
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  r = target.Poll({"-a", "11", "--raw", "41", "--json"});
  EXPECT_EQ(r.status, 8);
  ExpectInOrder(r.out, {"\"reply\":\"C1 01\"", "\"error\":{\"status\":8,\"text\":\"0x01 - ILLEGAL FUNCTION"});
}

// -a 0: writes go to every device and nobody answers; each id has taken them. Reads are
// refused before the line.
TEST(PollFunctions, broadcast_writes_reach_every_id_and_reads_are_refused) {
  TempDir dir;
  const Target target(dir.path(), kModes[0]);
  ASSERT_TRUE(target.ready());
  const std::string note = "Sent to slave id 0, the broadcast address: no device answers a broadcast, so none "
                           "confirms that it was carried out.\n";
  const Case cases[] = {
      {{"-t", "4", "-r", "10"}, {"1234"}, 0,
       {"Broadcast 1 holding register from offset 10 (40010) with function 06: 1234\n" + note}, ""},
      {{"-t", "4", "-r", "20", "--turnaround", "20"}, {"5", "6"}, 0,
       {"Broadcast 2 holding registers from offset 20 (40020) with function 16: 5 6\n" + note}, ""},
      {{"--mask-write", "30:0:0x77"}, {}, 0, {"Broadcast 16 00 1D 00 00 00 77 (Mask Write Register)\n" + note}, ""},
      {{"--raw", "06 00 27 00 2A"}, {}, 0, {"Broadcast 06 00 27 00 2A (Write Single Register)\n"}, ""},
      {{"-t", "4", "-r", "1", "-c", "1"}, {}, 3, {}, "Error - This request cannot be broadcast\n"},
      {{"--read-write", "-t", "4"}, {"1"}, 3, {}, "Error - This request cannot be broadcast\n"},
      {{"--raw", "03 00 00 00 01"}, {}, 3, {}, "Error - This request cannot be broadcast\n"},
      {{"--id-info"}, {}, 3, {}, "Error - This request cannot be broadcast\n"},
  };
  RunCases(target, "0", cases);
  for (const char* id : {"3", "11"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(target.Holding(id, 10), "0x04D2");
    EXPECT_EQ(target.Holding(id, 21), "0x0006");
    EXPECT_EQ(target.Holding(id, 30), "0x0077");
    EXPECT_EQ(target.Holding(id, 40), "0x002A");
  }
  EXPECT_EQ(target.Log().find("-> 00 03"), std::string::npos) << "a refused read went out:\n" << target.Log();
}

// A function the codec does not know has a reply that only the line falling quiet ends: it
// is taken then, not at the time-out.
TEST(PollFunctions, an_unknown_functions_reply_ends_when_the_line_falls_quiet) {
  Pty pty;
  const int near = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // the line stays up between opens
  ASSERT_GE(near, 0);
  std::thread device([&] {
    std::vector<std::uint8_t> request;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (request.size() < 6 && std::chrono::steady_clock::now() < until) {
      pollfd p{pty.master(), POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      std::uint8_t buffer[64];
      const ssize_t n = read(pty.master(), buffer, sizeof buffer);
      if (n > 0) request.insert(request.end(), buffer, buffer + n);
    }
    if (request == vantrel::test::Rtu("0B 41 01 02")) {
      const std::vector<std::uint8_t> reply = vantrel::test::Rtu("0B 41 DE AD BE EF");
      EXPECT_EQ(write(pty.master(), reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = vantrel::test::Run({PollBinary(), "-a", "11", "-b", "115200", "-o", "4", "--raw", "41 01 02", pty.path()});
  const auto took = std::chrono::steady_clock::now() - start;
  device.join();
  close(near);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("Response time")), "41 DE AD BE EF\nFunction: 0x41\nData: DE AD BE EF\n");
  EXPECT_LT(took, std::chrono::seconds(2)) << "taken at the time-out, not when the line fell quiet";
}

// libmodbus as the slave for 17, 22 and 23: what it holds afterwards. Its map starts with
// holding register i = 0x1000 + i.
TEST(PollFunctions, libmodbus_answers_report_id_mask_write_and_read_write) {
  Pty pty;
  const int near = open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(near, 0);
  {
    LibmodbusSlave slave(pty.master(), 17);
    const auto poll = [&](Args args, const Args& after = {}) {
      Args argv{PollBinary(), "-a", "17", "-b", "115200", "-o", "2"};
      argv.insert(argv.end(), args.begin(), args.end());
      argv.push_back(pty.path());
      argv.insert(argv.end(), after.begin(), after.end());
      return vantrel::test::Run(argv);
    };
    RunResult r = poll({"--report-id"});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectInOrder(r.out, {"11 ", "Function: 17 Report Server ID\n", "Run indicator: ON\n"});

    // (0x1004 AND 0x00FF) OR (0x1200 AND NOT 0x00FF)
    r = poll({"--mask-write", "5:0x00FF:0x1200"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "16 00 04 00 FF 12 00");
    EXPECT_EQ(slave.Registers(4, 1), (std::vector<std::uint16_t>{0x1204}));

    r = poll({"--read-write", "-t", "4:hex", "-r", "100", "-c", "3", "--write-ref", "101"}, {"0xBEEF", "0x0042"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Registers read: 4195, 48879, 66\n"), std::string::npos) << r.out;
    EXPECT_EQ(slave.Registers(99, 3), (std::vector<std::uint16_t>{0x1063, 0xBEEF, 0x0042}));
    EXPECT_EQ(slave.Served(), 3);
  }
  close(near);
}
