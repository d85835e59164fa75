// Register maps end to end: vantrel-slave serving a map's values, and vantrel-poll reading
// and writing by item name, against vantrel-slave and against libmodbus.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/MbpollOutput.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::PollBinary;
using vantrel::test::RunResult;
using vantrel::test::SlaveProcess;
using vantrel::test::TempDir;

namespace {

const std::string kExampleMap = VANTREL_DOCS_DIR "/example-map.csv";

// mbpoll, a master of its own, reads what vantrel-slave serves.
std::vector<std::string> Mbpoll(const SlaveProcess& slave, const std::vector<std::string>& args) {
  std::vector<std::string> argv{"mbpoll", "-m", "rtu", "-a", "1", "-b", "115200", "-P", "none", "-1", "-o", "2"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(slave.linkPath());
  const RunResult r = vantrel::test::Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  return vantrel::test::MbpollValues(r.out);
}

}  // namespace

TEST(slave_map, serves_the_example_map_values) {
  TempDir dir;
  // The image sets what the map then overrides.
  std::ofstream(dir / "image.txt") << "holding 100 999\ninput 300 0x0012\n";
  SlaveProcess slave(dir.path(), "COM3",
                     {"-a", "1", "-b", "115200", "-i", dir / "image.txt", "--map", kExampleMap});
  ASSERT_TRUE(slave.ready());
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> values;
  } reads[] = {
      {{"-t", "3:float", "-B", "-r", "1", "-c", "3"}, {"230.1", "229.8", "231.4"}},
      {{"-t", "3:float", "-B", "-r", "13"}, {"50"}},
      // "VM3-004217", two characters a register, NUL-padded.
      {{"-t", "3:hex", "-r", "201", "-c", "6"}, {"0x564D", "0x332D", "0x3030", "0x3432", "0x3137", "0x0000"}},
      // Status 5, then bits 0 and 2 set and 15 clear over it.
      {{"-t", "3", "-r", "301"}, {"5"}},
      {{"-t", "4", "-r", "101", "-c", "2"}, {"450", "1"}},
      {{"-t", "0", "-r", "1", "-c", "2"}, {"0", "0"}},  // the alarm relay off; coil 2 the pattern's
  };
  for (const auto& r : reads) EXPECT_EQ(Mbpoll(slave, r.args), r.values) << r.args[1] << " " << r.args[3];
}

TEST(slave_map, a_map_that_cannot_be_loaded_is_a_usage_error) {
  TempDir dir;
  std::ofstream(dir / "bad.csv") << "name,table,address,type\nA,holding,1,uint16\nB,holding,2,flaot32\n";
  const RunResult r = vantrel::test::Run({vantrel::test::SlaveBinary(), "--map", dir / "bad.csv", dir / "COM3"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad.csv: line 3: column type:"), std::string::npos) << r.err;
}
