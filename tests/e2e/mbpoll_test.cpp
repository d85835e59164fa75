// mbpoll, an independent master, reads and writes vantrel-slave.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "support/MbpollOutput.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::BackgroundProcess;
using vantrel::test::PollBinary;
using vantrel::test::ReadFile;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

std::vector<std::string> Values(const std::string& out) { return vantrel::test::MbpollValues(out); }

class Mbpoll : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "image.txt") << "# test image\nholding 100 0xFFFE\nholding 101-102 7\ninput 5 i16 -300\n";
    slave_ = std::make_unique<SlaveProcess>(
        dir_.path(), "COM3",
        std::vector<std::string>{"-a", "1", "-b", "115200", "-i", dir_ / "image.txt"});
    ASSERT_TRUE(slave_->ready());
  }
  // mbpoll writes when values follow the device.
  RunResult Mb(const std::vector<std::string>& args, const std::vector<std::string>& values = {},
               const std::string& link = "") {
    std::vector<std::string> argv{"mbpoll", "-m", "rtu", "-a", "1", "-b", "115200", "-P", "none", "-1", "-o", "2"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(link.empty() ? slave_->linkPath() : link);
    argv.insert(argv.end(), values.begin(), values.end());
    return vantrel::test::Run(argv);
  }
  // vantrel-poll's CSV rows, without the header.
  std::string Poll(std::vector<std::string> args, const std::string& link = "") {
    args.insert(args.begin(), {PollBinary(), "-a", "1", "-b", "115200", "--csv"});
    args.push_back(link.empty() ? slave_->linkPath() : link);
    const RunResult r = vantrel::test::Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out.substr(r.out.find('\n') + 1);
  }

  TempDir dir_;
  std::unique_ptr<SlaveProcess> slave_;
};

}  // namespace

TEST_F(Mbpoll, reads_each_table_of_the_default_pattern) {
  RunResult r = Mb({"-t", "4", "-r", "1", "-c", "5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Values(r.out), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  r = Mb({"-t", "3", "-r", "2", "-c", "3"});
  EXPECT_EQ(Values(r.out), (std::vector<std::string>{"20", "30", "40"}));
  r = Mb({"-t", "0", "-r", "1", "-c", "4"});
  EXPECT_EQ(Values(r.out), (std::vector<std::string>{"1", "0", "1", "0"}));
  r = Mb({"-t", "1", "-r", "1", "-c", "4"});
  EXPECT_EQ(Values(r.out), (std::vector<std::string>{"1", "0", "0", "1"}));
}

TEST_F(Mbpoll, reads_values_from_an_image_file) {
  const RunResult r = Mb({"-t", "4:hex", "-r", "101", "-c", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Values(r.out), (std::vector<std::string>{"0xFFFE", "0x0007", "0x0007"}));
  const RunResult in = Mb({"-t", "3:hex", "-r", "6", "-c", "1"});
  EXPECT_EQ(Values(in.out), (std::vector<std::string>{"0xFED4"}));
}

TEST_F(Mbpoll, full_length_reads) {
  RunResult r = Mb({"-t", "4", "-r", "1", "-c", "125"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto values = Values(r.out);
  ASSERT_EQ(values.size(), 125u);
  EXPECT_EQ(values[124], "125");
  r = Mb({"-t", "0", "-r", "1", "-c", "125"});  // mbpoll reads at most 125 values
  const auto coils = Values(r.out);
  ASSERT_EQ(coils.size(), 125u);
  EXPECT_EQ(coils[124], "1");
}

TEST_F(Mbpoll, sees_the_injected_exception_and_silence) {
  RunResult r = Mb({"-t", "4", "-r", "9002", "-c", "1"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE((r.out + r.err).find("Illegal data address"), std::string::npos) << r.out << r.err;
  r = Mb({"-t", "4", "-r", "9021", "-c", "1", "-o", "0.3"});
  EXPECT_NE((r.out + r.err).find("timed out"), std::string::npos) << r.out << r.err;
  // the simulator logged what it saw, in hex
  EXPECT_NE(slave_->Log().find("-> 01 03 23 29 00 01"), std::string::npos) << slave_->Log();
}

// mbpoll's default word order for 32-bit values (its "little endian") is the simulator's,
// low-order word first; -B would send the high-order word first.
TEST_F(Mbpoll, writes_that_vantrel_poll_reads_back) {
  struct Case {
    std::vector<std::string> write, values, read;
    std::string rows;
  };
  const Case cases[] = {
      {{"-t", "4", "-r", "10"}, {"1234"}, {"-t", "4", "-r", "10", "-c", "1"},  // 06
       "10,40010,400010,0x04D2,1234,1234,incomplete,incomplete,incomplete\n"},
      {{"-t", "4", "-r", "20"}, {"5", "6", "7"}, {"-t", "4", "-r", "20", "-c", "3"},  // 16
       "20,40020,400020,0x0005,5,5,,,\n21,40021,400021,0x0006,6,6,393221,393221,0.000000\n"
       "22,40022,400022,0x0007,7,7,incomplete,incomplete,incomplete\n"},
      {{"-t", "0", "-r", "5"}, {"0"}, {"-t", "0", "-r", "5", "-c", "1"}, "5,00005,000005,0\n"},  // 05
      {{"-t", "0", "-r", "7"}, {"0", "1", "0", "1", "1"}, {"-t", "0", "-r", "7", "-c", "5"},  // 15
       "7,00007,000007,0\n8,00008,000008,1\n9,00009,000009,0\n"
       "10,00010,000010,1\n11,00011,000011,1\n"},
      {{"-t", "4:float", "-r", "30"}, {"3.5"}, {"-t", "4", "-r", "30", "-c", "2"},
       "30,40030,400030,0x0000,0,0,,,\n31,40031,400031,0x4060,16480,16480,1080033280,1080033280,3.500000\n"},
      {{"-t", "4:int", "-r", "40"}, {"--", "-1000000000"}, {"-t", "4", "-r", "40", "-c", "2"},
       "40,40040,400040,0x3600,13824,13824,,,\n"
       "41,40041,400041,0xC465,50277,-15259,3294967296,-1000000000,-916.843750\n"},
  };
  for (const Case& c : cases) {
    const RunResult w = Mb(c.write, c.values);
    EXPECT_EQ(w.status, 0) << w.out << w.err;
    EXPECT_EQ(Poll(c.read), c.rows) << c.write[1] << " " << c.write[3];
  }
  EXPECT_NE(slave_->Log().find("-> 01 06 00 09 04 D2 DB 55  (wrote 1234 to holding register 9)\n"), std::string::npos)
      << slave_->Log();
}

TEST_F(Mbpoll, a_read_only_slave_refuses_writes) {
  SlaveProcess readOnly(dir_.path(), "COM4", {"-a", "1", "-b", "115200", "--read-only"});
  ASSERT_TRUE(readOnly.ready());
  const RunResult w = Mb({"-t", "4", "-r", "10"}, {"1234"}, readOnly.linkPath());
  EXPECT_NE(w.status, 0);
  EXPECT_NE((w.out + w.err).find("Illegal function"), std::string::npos) << w.out << w.err;
  EXPECT_EQ(Poll({"-t", "4", "-r", "10", "-c", "1"}, readOnly.linkPath()),
            "10,40010,400010,0x000A,10,10,incomplete,incomplete,incomplete\n");
}

TEST_F(Mbpoll, a_saved_image_keeps_written_values_across_a_restart) {
  const std::string saved = dir_ / "saved.txt";
  auto first = std::make_unique<SlaveProcess>(dir_.path(), "COM4",
                                              std::vector<std::string>{"-a", "1", "-b", "115200", "--save", saved});
  ASSERT_TRUE(first->ready());
  const RunResult w = Mb({"-t", "4:float", "-r", "50"}, {"2.25"}, first->linkPath());
  ASSERT_EQ(w.status, 0) << w.err;
  first->Stop();  // SIGTERM
  EXPECT_NE(ReadFile(saved).find("\nholding 49 0\nholding 50 16400\n"), std::string::npos) << ReadFile(saved);
  SlaveProcess second(dir_.path(), "COM4", {"-a", "1", "-b", "115200", "-i", saved});
  ASSERT_TRUE(second.ready());
  EXPECT_EQ(Poll({"-t", "4", "-r", "50", "-c", "2"}, second.linkPath()),
            "50,40050,400050,0x0000,0,0,,,\n51,40051,400051,0x4010,16400,16400,1074790400,1074790400,2.250000\n");

  // a save that cannot be done is said, with its own exit status
  BackgroundProcess lost({vantrel::test::SlaveBinary(), "--save", dir_ / "gone/saved.txt", dir_ / "COM5"}, "", {},
                         dir_ / "COM5.log");
  for (int i = 0; i < 600 && access((dir_ / "COM5").c_str(), F_OK) != 0; ++i) usleep(50000);
  ASSERT_EQ(access((dir_ / "COM5").c_str(), F_OK), 0) << ReadFile(dir_ / "COM5.log");
  lost.Kill();
  EXPECT_EQ(lost.Wait(0), 1);
  EXPECT_NE(ReadFile(dir_ / "COM5.log").find("cannot save the image to"), std::string::npos);
}
