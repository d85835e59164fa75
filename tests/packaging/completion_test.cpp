// The bash completion of vantrel-poll and vantrel-slave, sourced in bash and driven as
// bash drives it: COMP_WORDS and COMP_CWORD set, the function called, COMPREPLY read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include "HelpOptions.h"
#include "support/Process.h"
#include "support/TempDir.h"

using vantrel::test::HelpOptions;
using vantrel::test::Run;
using vantrel::test::TempDir;

namespace {

// What the completion offers for the words (the last one is the word being completed),
// in the folder, one a line in the order given.
std::vector<std::string> Complete(const std::string& dir, const std::vector<std::string>& words) {
  std::vector<std::string> argv{"bash", "--norc", "-c",
                                "source \"$1\" && cd \"$2\" && shift 2 && COMP_WORDS=(\"$@\") && "
                                "COMP_CWORD=$(($# - 1)) && _vantrel_tool && printf '%s\\n' \"${COMPREPLY[@]}\"",
                                "bash", VANTREL_COMPLETION, dir};
  argv.insert(argv.end(), words.begin(), words.end());
  const auto r = vantrel::test::Run(argv);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> offered;
  std::istringstream out(r.out);
  for (std::string line; std::getline(out, line);) {
    if (!line.empty()) offered.push_back(line);
  }
  return offered;
}

const std::string kPoll = std::string(VANTREL_BIN_DIR) + "/vantrel-poll";
const std::string kSlave = std::string(VANTREL_BIN_DIR) + "/vantrel-slave";

}  // namespace

TEST(completion, options_values_and_devices) {
  TempDir dir;
  ASSERT_EQ(symlink("/dev/null", (dir / "COM3").c_str()), 0);
  std::ofstream(dir / "site.vantrel.json") << "{}";
  using Words = std::vector<std::string>;
  const struct {
    Words words;
    Words offered;  // all of it, in order; the ones of a "+" row must be among what is offered
  } cases[] = {
      {{kPoll, "--word"}, {"--word-order"}},
      {{kPoll, "--wo"}, {"--word-order", "--workspace"}},
      {{kPoll, "-m", "a"}, {"ascii"}},
      {{kPoll, "-m", ""}, {"rtu", "ascii", "tcp", "rtutcp"}},
      {{kPoll, "-t", ""}, {"0", "1", "3", "4"}},
      {{kPoll, "-a", "1", "-P", ""}, {"none", "even", "odd", "mark", "space"}},
      {{kPoll, "--word-order", "=", "high"}, {"high-first", "high-first-swapped"}},
      {{kPoll, "-o", ""}, {}},  // a number: nothing to offer
      {{kPoll, "-a", "1", "CO"}, {"COM3"}},
      {{kPoll, "--workspace", "si"}, {"site.vantrel.json"}},
      {{kPoll, "--save-workspace", "si"}, {"site.vantrel.json"}},
      {{kPoll, "--map", "si"}, {"site.vantrel.json"}},  // any file: a map is a CSV file
      {{kSlave, "--map", "si"}, {"site.vantrel.json"}},
      {{kPoll, "--mon"}, {"--monitor"}},
      {{kPoll, "--ev"}, {"--event-counter", "--event-log"}},
      {{kPoll, "--diag", ""}, {}},  // SUB[:DATA]: nothing to offer
      {{kPoll, "--monitor", "--pcap", "si"}, {"site.vantrel.json"}},
      {{kPoll, "--monitor", "--count", ""}, {}},
      {{kSlave, "-m", ""}, {"rtu", "ascii"}},  // as its --help names them
      {{kSlave, "--data-bits", ""}, {"7", "8"}},
      {{kSlave, "--fault-a"}, {"--fault-at"}},
      {{kSlave, "--run-indicator", ""}, {"on", "off"}},
      {{kSlave, "--fi"}, {"--files", "--file-records", "--fifo"}},
      {{kSlave, "-q", "CO"}, {"COM3"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Complete(dir.path(), c.words), c.offered) << c.words[1];

  // the serial devices, for the poller
  const auto devices = Complete(dir.path(), {kPoll, "/dev/tt"});
  EXPECT_NE(std::find(devices.begin(), devices.end(), "/dev/tty"), devices.end());
}

// Every option that --help lists, and no other: a new one is completed without a change.
TEST(completion, offers_every_option_of_help) {
  TempDir dir;
  for (const std::string& program : {kPoll, kSlave}) {
    const auto offered = Complete(dir.path(), {program, "-"});
    EXPECT_EQ(std::set<std::string>(offered.begin(), offered.end()), HelpOptions(program)) << program;
  }
}
