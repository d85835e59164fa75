// ASCII between vantrel-poll and vantrel-slave -m ascii on a pseudo-terminal, at 8N1 and at
// 7E1, the framing ASCII is most often used with.
//
// A pseudo-terminal carries no parity and takes no character size: whatever both ends set,
// the bytes pass as they are. A program that set one to 7E1 has been seen to lose replies;
// here, on Linux 6.18, 7E1 set by both ends (the poller on its side, the simulator pacing
// 10-bit characters) carries requests and replies whole both ways, as the rows below check:
// ASCII's characters are all 7-bit, so nothing is lost to the eighth bit.
#include <gtest/gtest.h>

#include <memory>

#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::PollBinary;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

struct Framing {
  const char* name;
  const char* dataBits;
  const char* parity;
};

class AsciiLine : public ::testing::TestWithParam<Framing> {
 protected:
  void SetUp() override {
    slave_ = std::make_unique<SlaveProcess>(
        dir_.path(), "COM3",
        std::vector<std::string>{"-m", "ascii", "-a", "1", "-b", "115200", "-d", GetParam().dataBits, "-P",
                                 GetParam().parity});
    ASSERT_TRUE(slave_->ready());
  }
  RunResult Poll(const std::vector<std::string>& args) {
    std::vector<std::string> argv{PollBinary(), "-m", "ascii", "-a", "1", "-b", "115200", "-d", GetParam().dataBits,
                                  "-P", GetParam().parity, "-o", "2"};
    argv.insert(argv.end(), args.begin(), args.end());
    return vantrel::test::Run(argv);
  }

  TempDir dir_;
  std::unique_ptr<SlaveProcess> slave_;
};

}  // namespace

TEST_P(AsciiLine, reads_writes_and_faults) {
  const std::string link = slave_->linkPath();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // standard output, or a part of standard error for a failure
  };
  const Case cases[] = {
      {{"-t", "4", "-r", "1", "-c", "2", "--csv", link},
       0, "Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
          "1,40001,400001,0x0001,1,1,,,\n2,40002,400002,0x0002,2,2,131073,131073,0.000000\n"},
      {{"-t", "0", "-r", "1", "-c", "3", "--csv", link},
       0, "Offset,Standard address,6 digit address,Value\n"
          "1,00001,000001,1\n2,00002,000002,0\n3,00003,000003,1\n"},
      {{"-t", "4", "-r", "20", link, "300", "400"}, 0,
       "Wrote 2 holding registers from offset 20 (40020) with function 16: 300 400\n"},
      {{"-t", "4", "-r", "20", "-c", "2", "--csv", link},
       0, "Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
          "20,40020,400020,0x012C,300,300,,,\n21,40021,400021,0x0190,400,400,26214700,26214700,0.000000\n"},
      {{"-t", "0", "-r", "2", link, "1"}, 0, "Wrote 1 coil from offset 2 (00002) with function 05: 1\n"},
      {{"-t", "4", "-r", "9023", "-c", "1", "--csv", link}, 0,  // split in two with a pause
       "Offset,Standard address,6 digit address,Hex,uint16,int16,uint32,int32,float32\n"
       "9023,49023,409023,0x233F,9023,9023,incomplete,incomplete,incomplete\n"},
      {{"-t", "4", "-r", "9020", "-c", "1", link}, 7, "mb_responce_code=-10 - MB_RESPONCE_INVALID_LRC"},
      {{"-t", "4", "-r", "9002", "-c", "1", link}, 8, "0x02 - ILLEGAL DATA ADDRESS"},
      {{"-t", "4", "-r", "9025", "-c", "1", "-o", "0.5", link}, 6, "(from slave 2, not 1)"},
  };
  for (const Case& c : cases) {
    const RunResult r = Poll(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[3] << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.out, c.out) << c.args[3];
    } else {
      EXPECT_NE(r.err.find(c.out), std::string::npos) << r.err;
    }
  }
  // the simulator logs the characters of each frame
  EXPECT_NE(slave_->Log().find("-> :010300000002FA\n"), std::string::npos) << slave_->Log();
  EXPECT_NE(slave_->Log().find("<- :01030400010002F5\n"), std::string::npos) << slave_->Log();
}

INSTANTIATE_TEST_SUITE_P(framing, AsciiLine,
                         ::testing::Values(Framing{"8N1", "8", "none"}, Framing{"7E1", "7", "even"}),
                         [](const auto& info) { return std::string(info.param.name); });
