// mbpoll, an independent master, reads vantrel-slave.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

// The values of mbpoll's "[ref]: <tab>value" lines.
std::vector<std::string> Values(const std::string& out) {
  std::vector<std::string> values;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] != '[' || line.find("]:") == std::string::npos) continue;
    std::istringstream rest(line.substr(line.find("]:") + 2));
    std::string value;
    if (rest >> value) values.push_back(value);
  }
  return values;
}

class Mbpoll : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ / "image.txt") << "# test image\nholding 100 0xFFFE\nholding 101-102 7\ninput 5 i16 -300\n";
    slave_ = std::make_unique<SlaveProcess>(
        dir_.path(), "COM3",
        std::vector<std::string>{"-a", "1", "-b", "115200", "-i", dir_ / "image.txt"});
    ASSERT_TRUE(slave_->ready());
  }
  RunResult Mb(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"mbpoll", "-m", "rtu", "-a", "1", "-b", "115200", "-P", "none", "-1", "-o", "2"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(slave_->linkPath());
    return vantrel::test::Run(argv);
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
