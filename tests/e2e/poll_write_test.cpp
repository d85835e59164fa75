// vantrel-poll writes, run as a user would, to a libmodbus slave over a pseudo-terminal;
// mbpoll reads the values back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <sstream>

#include "support/LibmodbusSlave.h"
#include "support/Process.h"
#include "support/Pty.h"

using vantrel::test::LibmodbusSlave;
using vantrel::test::PollBinary;
using vantrel::test::Pty;
using vantrel::test::RunResult;

namespace {

constexpr int kSlaveId = 17;

// The first word of each of mbpoll's "[ref]: <tab>value" lines.
std::vector<std::string> MbpollValues(const std::string& out) {
  std::vector<std::string> values;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto colon = line.find("]:");
    if (line.empty() || line[0] != '[' || colon == std::string::npos) continue;
    std::istringstream rest(line.substr(colon + 2));
    std::string value;
    if (rest >> value) values.push_back(value);
  }
  return values;
}

// A line whose far end the test plays; its near end stays open between the programs run
// against it, as a line to a device does.
class Line {
 public:
  Line() : near_(open(pty_.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Line() {
    if (near_ >= 0) close(near_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  const std::string& path() const { return pty_.path(); }
  int far() const { return pty_.master(); }

 private:
  Pty pty_;
  int near_;
};

RunResult PollOn(const std::vector<std::string>& args, const char* timeout = "2") {
  std::vector<std::string> argv{PollBinary(), "-a", std::to_string(kSlaveId), "-b", "115200", "-P", "none",
                                "-d", "8", "-s", "1", "-o", timeout};
  argv.insert(argv.end(), args.begin(), args.end());
  return vantrel::test::Run(argv);
}

class PollWrite : public ::testing::Test {
 protected:
  // vantrel-poll's options, then the device, then what follows it (values, "--").
  RunResult Write(const std::vector<std::string>& options, const std::vector<std::string>& after) {
    std::vector<std::string> args = options;
    args.push_back(line_.path());
    args.insert(args.end(), after.begin(), after.end());
    return PollOn(args);
  }
  RunResult Mbpoll(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"mbpoll", "-m", "rtu", "-a", std::to_string(kSlaveId), "-b", "115200",
                                  "-P", "none", "-1", "-o", "1"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(line_.path());
    return vantrel::test::Run(argv);
  }

  Line line_;
  LibmodbusSlave slave_{line_.far(), kSlaveId};
};

struct WriteCase {
  const char* name;
  std::vector<std::string> options;
  std::vector<std::string> after;  // the values, as typed after the device
  const char* printed;
  bool coils;
  int reference;
  std::vector<std::uint16_t> stored;  // what the slave's map holds from the reference on
  std::vector<std::string> readBack;  // mbpoll's type, reference and count
  std::vector<std::string> mbpollShows;
};

}  // namespace

// Every kind of write, each checked in the slave's map and read back by mbpoll. The map
// starts as coil i on for i % 5 == 0 and holding register i = 0x1000 + i (from 0).
TEST_F(PollWrite, every_type_reaches_the_slave_and_reads_back) {
  const WriteCase cases[] = {
      {"one coil", {"-t", "0", "-r", "6"}, {"0"}, "Wrote 1 coil from offset 6 (00006) with function 05: 0\n",
       true, 6, {0}, {"-t", "0", "-r", "6", "-c", "1"}, {"0"}},
      {"several coils", {"-t", "0", "-r", "11"}, {"0", "1", "1", "0", "1"},
       "Wrote 5 coils from offset 11 (00011) with function 15: 0 1 1 0 1\n", true, 11, {0, 1, 1, 0, 1},
       {"-t", "0", "-r", "11", "-c", "5"}, {"0", "1", "1", "0", "1"}},
      {"one register", {"-t", "4", "-r", "10"}, {"1234"},
       "Wrote 1 holding register from offset 10 (40010) with function 06: 1234\n", false, 10, {1234},
       {"-t", "4", "-r", "10", "-c", "1"}, {"1234"}},
      {"several registers", {"-t", "4", "-r", "20"}, {"1", "2", "65535"},
       "Wrote 3 holding registers from offset 20 (40020) with function 16: 1 2 65535\n", false, 20, {1, 2, 65535},
       {"-t", "4", "-r", "20", "-c", "3"}, {"1", "2", "65535"}},
      {"--multiple for one", {"-t", "4", "-r", "30", "--multiple"}, {"7"},
       "Wrote 1 holding register from offset 30 (40030) with function 16: 7\n", false, 30, {7},
       {"-t", "4", "-r", "30", "-c", "1"}, {"7"}},
      {"hex", {"-t", "4:hex", "-r", "40"}, {"0xBEEF", "12ab"},
       "Wrote 2 holding registers from offset 40 (40040) with function 16: 0xBEEF 0x12AB\n", false, 40,
       {0xBEEF, 0x12AB}, {"-t", "4:hex", "-r", "40", "-c", "2"}, {"0xBEEF", "0x12AB"}},
      {"int16 negative after the device", {"-t", "4:int16", "-r", "50"}, {"-5"},
       "Wrote 1 holding register from offset 50 (40050) with function 06: -5\n", false, 50, {0xFFFB},
       {"-t", "4", "-r", "50", "-c", "1"}, {"65531"}},
      {"int16 -1 after --", {"-t", "4:int16", "-r", "51"}, {"--", "-1", "-32768"},
       "Wrote 2 holding registers from offset 51 (40051) with function 16: -1 -32768\n", false, 51,
       {0xFFFF, 0x8000}, {"-t", "4", "-r", "51", "-c", "2"}, {"65535", "32768"}},
      {"int32, low-order word first", {"-t", "4:int", "-r", "60"}, {"-2", "100000"},
       "Wrote 4 holding registers from offset 60 (40060) with function 16, 2 int32 values: -2 100000\n", false, 60,
       {0xFFFE, 0xFFFF, 0x86A0, 0x0001}, {"-t", "4:int", "-r", "60", "-c", "2"}, {"-2", "100000"}},
      {"uint32", {"-t", "4:uint", "-r", "70"}, {"4000000000"},
       "Wrote 2 holding registers from offset 70 (40070) with function 16, 1 uint32 value: 4000000000\n", false, 70,
       {0x2800, 0xEE6B}, {"-t", "4:hex", "-r", "70", "-c", "2"}, {"0x2800", "0xEE6B"}},
      {"float32", {"-t", "4:float", "-r", "80"}, {"1.5", "-2.25"},
       "Wrote 4 holding registers from offset 80 (40080) with function 16, 2 float32 values: 1.5 -2.25\n", false,
       80, {0x0000, 0x3FC0, 0x0000, 0xC010}, {"-t", "4:float", "-r", "80", "-c", "2"}, {"1.5", "-2.25"}},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = Write(c.options, c.after);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.printed);
    const int n = static_cast<int>(c.stored.size());
    if (c.coils) {
      const std::vector<int> coils = slave_.Coils(c.reference - 1, n);
      EXPECT_EQ(std::vector<std::uint16_t>(coils.begin(), coils.end()), c.stored);
    } else {
      EXPECT_EQ(slave_.Registers(c.reference - 1, n), c.stored);
    }
    const RunResult back = Mbpoll(c.readBack);
    EXPECT_EQ(MbpollValues(back.out), c.mbpollShows) << back.out << back.err;
  }
  // the neighbours are untouched: register 9 (40009) and 11 (40011) around the one written
  EXPECT_EQ(slave_.Registers(8, 3), (std::vector<std::uint16_t>{0x1008, 1234, 0x100A}));
}

// More than one request holds: the writes follow each other, and each is reported.
TEST_F(PollWrite, a_long_run_is_cut_into_requests) {
  std::vector<std::string> values;
  for (int i = 0; i < 130; ++i) values.push_back(std::to_string(500 + i));
  const RunResult r = Write({"-t", "4", "-r", "71"}, values);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Wrote 123 holding registers from offset 71 (40071) with function 16: 500 501 ", 0), 0u)
      << r.out;
  EXPECT_NE(r.out.find(" 622\nWrote 7 holding registers from offset 194 (40194) with function 16: 623 624 625 626 "
                       "627 628 629\n"),
            std::string::npos)
      << r.out;
  const std::vector<std::uint16_t> stored = slave_.Registers(70, 130);
  for (int i = 0; i < 130; ++i) EXPECT_EQ(stored[i], 500 + i) << i;
  EXPECT_EQ(slave_.Served(), 2);
}

TEST_F(PollWrite, an_exception_reply_fails_with_its_explanation) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {{"-t", "4", "-r", "201"}, {"1"}},            // 06 beyond the 200 registers
      {{"-t", "4", "-r", "199"}, {"1", "2", "3"}},  // 16 running past the end
      {{"-t", "0", "-r", "2001"}, {"1"}},           // 05 beyond the 2000 coils
      {{"-t", "4:int", "-r", "200"}, {"5"}},        // a 32-bit value half outside
  };
  for (const Case& c : cases) {
    const RunResult r = Write(c.options, c.values);
    EXPECT_EQ(r.status, 8) << c.options[3] << r.err;
    EXPECT_NE(r.err.find("0x02 - ILLEGAL DATA ADDRESS\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // the second of two requests fails: the first is reported as written, and it was
  std::vector<std::string> values;
  for (int i = 0; i < 130; ++i) values.push_back("9");
  const RunResult r = Write({"-t", "4", "-r", "72"}, values);
  EXPECT_EQ(r.status, 8) << r.err;
  EXPECT_EQ(r.out.rfind("Wrote 123 holding registers from offset 72 (40072) with function 16: 9 ", 0), 0u) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  EXPECT_EQ(slave_.Registers(193, 1), (std::vector<std::uint16_t>{9}));
  EXPECT_EQ(slave_.Registers(194, 1), (std::vector<std::uint16_t>{0x1000 + 194}));
}

// The command line's refusals are told apart in the options' tests; here, that nothing
// refused reaches the line.
TEST_F(PollWrite, refusals_touch_nothing) {
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> values;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"-t", "3", "-r", "1"}, {"5"}, 2, "Input registers are read-only"},
      {{"-t", "1", "-r", "1"}, {"1"}, 2, "Discrete inputs are read-only"},
      {{"-t", "4", "-r", "1"}, {"65536"}, 2, "65536 is out of range for uint16: enter a whole number from 0 to 65535"},
      {{"-t", "4", "-r", "65536"}, {"1", "2"}, 3, "Error - The write is out of range\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = Write(c.options, c.values);
    EXPECT_EQ(r.status, c.status) << c.says << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(slave_.Served(), 0) << "nothing refused went out on the line";
  EXPECT_EQ(slave_.Registers(0, 1), (std::vector<std::uint16_t>{0x1000}));
}

// A bare -1 after the device still means "once": a read, not a write of -1.
TEST_F(PollWrite, a_bare_minus_one_still_polls_once) {
  const RunResult r = Write({"-t", "4:int16", "-r", "1", "-c", "1", "--csv"}, {"-1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "1,40001,400001,0x1000,4096,4096,incomplete,incomplete,incomplete\n");
  EXPECT_EQ(slave_.Registers(0, 1), (std::vector<std::uint16_t>{0x1000}));
}

TEST(PollWriteNoSlave, times_out_with_the_write_request) {
  Line line;  // nobody answers on it
  const RunResult r = PollOn({"-t", "4", "-r", "10", line.path(), "1234"}, "0.3");
  EXPECT_EQ(r.status, 6) << r.err;
  EXPECT_NE(r.err.find("Error - Timeout\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Write: 11 06 00 09 04 D2 "), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}
