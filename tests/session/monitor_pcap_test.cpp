// The monitor's capture file read back by tshark, Wireshark's command line: each frame a
// Modbus/TCP packet whose function, references and values Wireshark's dissector finds, with
// every reply paired with its request.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "modbus/ModbusFrame.h"
#include "session/BusMonitor.h"
#include "session/PcapWriter.h"
#include "support/Frames.h"
#include "support/Hex.h"
#include "support/Process.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::Rtu;
using vantrel::test::TempDir;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(MonitorPcap, tshark_decodes_functions_references_values_and_pairs) {
  TempDir dir;
  const std::string path = dir / "bus.pcap";
  BusMonitor monitor;
  PcapWriter pcap;
  std::string error;
  ASSERT_TRUE(pcap.Open(path, 1.7e12, error)) << error;
  const std::vector<std::pair<std::vector<std::uint8_t>, double>> reads = {
      {Rtu("01 03 00 09 00 02"), 10},             // holding registers 10-11
      {Rtu("01 03 04 04 D2 FF FE"), 40},          // 1234, 65534
      {Bytes("AA 55"), 50},                       // noise: not written
      {Rtu("07 06 00 63 00 2A"), 60},             // register 100 = 42
      {Rtu("07 06 00 63 00 2A"), 80},
      {Rtu("01 04 00 00 00 01"), 100},
      {Rtu("01 84 02"), 120},                     // exception
      {Rtu("00 10 00 04 00 02 04 00 01 00 02"), 140},  // broadcast write
  };
  std::vector<MonitorFrame> frames;
  for (const auto& [bytes, ms] : reads) monitor.Feed(bytes.data(), bytes.size(), ms, frames);
  monitor.Finish(1000, frames);
  for (const MonitorFrame& f : frames) pcap.Write(f);
  pcap.Close();
  EXPECT_EQ(pcap.Packets(), 7);

  const auto r = vantrel::test::Run({"tshark", "-r", path, "-T", "fields", "-E", "separator=|", "-e", "tcp.dstport",
                                     "-e", "mbtcp.trans_id", "-e", "mbtcp.unit_id", "-e", "modbus.func_code", "-e",
                                     "modbus.reference_num", "-e", "modbus.regval_uint16", "-e", "modbus.exception_code",
                                     "-e", "modbus.request_frame"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Replies name their request's packet (modbus.request_frame), which needs the pairing by
  // transaction id and port 502; an exception reply shows its function without the top bit.
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{
                              "502|1|1|3|9|||",
                              "50200|1|1|3||1234,65534||1",
                              "502|2|7|6|99|||",
                              "50200|2|7|6|99|||3",
                              "502|3|1|4|0|||",
                              "50200|3|1|4|||2|",
                              "502|4|0|16|4|1,2||",
                          }))
      << r.out;
  // The packets keep the frames' times: the first at origin + its first byte.
  const auto times = vantrel::test::Run({"tshark", "-r", path, "-T", "fields", "-e", "frame.time_epoch"});
  ASSERT_FALSE(Lines(times.out).empty());
  EXPECT_NEAR(std::stod(Lines(times.out)[0]), 1.7e9 + frames[0].timeMs / 1000, 1e-5);
}

}  // namespace
