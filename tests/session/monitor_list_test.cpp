// The monitor window's list without the window: filters, unanswered requests found after the
// fact, the bound on what is kept and the changes a table model follows, the rows' texts
// and the file saved as frames come.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "modbus/ModbusFrame.h"
#include "serial/PortMap.h"
#include "session/BusMonitor.h"
#include "session/MonitorList.h"
#include "session/MonitorTexts.h"
#include "support/Frames.h"
#include "support/Hex.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::Rtu;
using vantrel::test::ReadFile;
using vantrel::test::TempDir;

namespace {

MonitorFrame F(FrameKind kind, int slave, int function, std::uint32_t exchange, double ms, bool crcError = false) {
  MonitorFrame f;
  f.kind = kind;
  f.slaveId = static_cast<std::uint8_t>(slave);
  f.function = static_cast<std::uint8_t>(function);
  f.exchange = exchange;
  f.timeMs = ms;
  f.endMs = ms + 1;
  f.broadcast = kind == FrameKind::Request && slave == 0;
  f.crcError = crcError;
  return f;
}

// A line's worth: an answered read, an exception, noise, a reply whose CRC failed, a request
// left unanswered (the next one comes first) and a broadcast write.
std::vector<MonitorFrame> Traffic() {
  return {F(FrameKind::Request, 1, 3, 1, 0),      F(FrameKind::Reply, 1, 3, 1, 10),
          F(FrameKind::Request, 2, 3, 2, 100),    F(FrameKind::Exception, 2, 0x83, 2, 110),
          F(FrameKind::Noise, 0, 0, 0, 150),      F(FrameKind::Request, 1, 6, 3, 200),
          F(FrameKind::Noise, 0, 0, 0, 210, true), F(FrameKind::Request, 2, 16, 4, 300),
          F(FrameKind::Request, 0, 6, 5, 400)};
}

// "R1/3 r1/3 ..." for the rows shown: kind initial (U for unanswered), slave id / function.
std::string Shown(const MonitorList& list) {
  std::string text;
  for (int row = 0; row < list.RowCount(); ++row) {
    const MonitorEntry& e = list.Row(row);
    const char* kinds[] = {"R", "r", "x", "n"};
    text += (text.empty() ? "" : " ") + std::string(e.unanswered ? "U" : kinds[static_cast<int>(e.frame.kind)]);
    if (e.frame.kind != FrameKind::Noise) text += std::to_string(e.frame.slaveId) + "/" + std::to_string(e.frame.function & 0x7F);
  }
  return text;
}

struct FilterCase {
  const char* name;
  MonitorFilter filter;
  const char* shown;
};

TEST(MonitorList, filters_show_what_they_name) {
  const FilterCase cases[] = {
      {"all", {}, "R1/3 r1/3 R2/3 x2/3 n R1/6 n U2/16 R0/6"},
      {"slave 2 (noise has no slave id)", {2, -1, false}, "R2/3 x2/3 U2/16"},
      {"function 3 takes its exception", {-1, 3, false}, "R1/3 r1/3 R2/3 x2/3"},
      {"errors: exception, noise, CRC error, unanswered", {-1, -1, true}, "x2/3 n n U2/16"},
      {"slave 1 errors: none yet", {1, -1, true}, ""},
      {"slave and function", {1, 6, false}, "R1/6"},
  };
  for (const FilterCase& c : cases) {
    MonitorList list;
    list.Add(Traffic());
    const MonitorListChange change = list.SetFilter(c.filter);
    EXPECT_TRUE(change.reset) << c.name;
    EXPECT_EQ(Shown(list), c.shown) << c.name;
  }
}

TEST(MonitorList, request_is_unanswered_once_its_window_passes_or_another_request_comes) {
  MonitorList list(100, 1000);
  list.Add({F(FrameKind::Request, 1, 3, 1, 0)});
  EXPECT_TRUE(list.Expire(1001).changedRows.empty()) << "still within the reply window";
  EXPECT_FALSE(list.Row(0).unanswered);
  MonitorListChange change = list.Expire(1002);
  EXPECT_EQ(change.changedRows, std::vector<int>{0});
  EXPECT_TRUE(list.Row(0).unanswered);
  EXPECT_TRUE(list.Expire(5000).changedRows.empty()) << "marked once";

  // The next request marks the one before it, the row shown already: a change, not a reset.
  change = list.Add({F(FrameKind::Request, 1, 3, 2, 2000), F(FrameKind::Request, 1, 3, 3, 2100),
                     F(FrameKind::Reply, 1, 3, 3, 2110)});
  EXPECT_FALSE(change.reset);
  EXPECT_EQ(change.appended, 3);
  EXPECT_EQ(Shown(list), "U1/3 U1/3 R1/3 r1/3");
  EXPECT_TRUE(list.Expire(9000).changedRows.empty()) << "the last one was answered";

  // A broadcast awaits nothing; a reply of another exchange answers nothing.
  list.Clear();
  list.Add({F(FrameKind::Request, 0, 6, 4, 10000), F(FrameKind::Request, 1, 3, 5, 10100), F(FrameKind::Reply, 1, 3, 4, 10110)});
  list.Expire(20000);
  EXPECT_EQ(Shown(list), "R0/6 U1/3 r1/3");
}

TEST(MonitorList, errors_filter_takes_a_request_found_unanswered_later_by_a_reset) {
  MonitorList list;
  list.SetFilter({-1, -1, true});
  EXPECT_EQ(list.Add({F(FrameKind::Request, 1, 3, 1, 0)}).appended, 0);
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_TRUE(list.Expire(2000).reset);
  EXPECT_EQ(Shown(list), "U1/3");
}

TEST(MonitorList, keeps_the_last_frames_and_says_which_rows_went) {
  MonitorList list(4);
  std::vector<MonitorFrame> frames = Traffic();  // 9 frames
  MonitorListChange change = list.Add({frames.begin(), frames.begin() + 3});
  EXPECT_EQ(change.appended, 3);
  EXPECT_EQ(change.removedFront, 0);
  change = list.Add({frames.begin() + 3, frames.begin() + 6});
  EXPECT_FALSE(change.reset);
  EXPECT_EQ(change.removedFront, 2);
  EXPECT_EQ(change.appended, 3);
  EXPECT_EQ(Shown(list), "R2/3 x2/3 n R1/6");
  EXPECT_EQ(list.Dropped(), 2);

  // With a filter, only rows shown count as removed.
  list.SetFilter({2, -1, false});
  EXPECT_EQ(Shown(list), "R2/3 x2/3");
  change = list.Add({frames.begin() + 6, frames.end()});
  EXPECT_FALSE(change.reset);
  EXPECT_EQ(change.removedFront, 2);
  EXPECT_EQ(change.appended, 1);
  EXPECT_TRUE(change.changedRows.empty()) << "the row marked unanswered is an appended one";
  EXPECT_EQ(Shown(list), "U2/16");
  EXPECT_EQ(list.entries().size(), 4u);

  // Rows appended and gone in one call are no rows to remove: the model reads afresh.
  MonitorList small(2);
  EXPECT_TRUE(small.Add(frames).reset);
  EXPECT_EQ(Shown(small), "U2/16 R0/6");
}

TEST(MonitorList, rows_and_details_of_a_decoded_exchange) {
  BusMonitor monitor({ModbusMode::Rtu, 9600, 10, 1000});
  std::vector<MonitorFrame> frames;
  const auto feed = [&](const std::vector<std::uint8_t>& b, double ms) { monitor.Feed(b.data(), b.size(), ms, frames); };
  feed(Rtu("010300000002"), 10);
  feed(Rtu("01030400070008"), 30);
  monitor.Finish(600, frames);
  ASSERT_GE(frames.size(), 2u);

  const auto request = MonitorRowTexts({frames[0], false});
  EXPECT_EQ(request[kColKind], "request");
  EXPECT_EQ(request[kColSlave], "1");
  EXPECT_EQ(request[kColFunction], "0x03 Read Holding Registers");
  EXPECT_EQ(request[kColGap], "") << "the first frame has no gap";
  EXPECT_EQ(request[kColTurnaround], "");
  const auto reply = MonitorRowTexts({frames[1], false});
  EXPECT_EQ(reply[kColKind], "reply");
  EXPECT_FALSE(reply[kColTurnaround].empty());
  EXPECT_NE(reply[kColSummary].find('7'), std::string::npos) << reply[kColSummary];

  const std::string details = MonitorDetailsText({frames[1], false});
  for (const char* part : {"Registers: 7 8", "Function: 0x03 Read Holding Registers", "Hex: 01 03 04 00 07 00 08"}) {
    EXPECT_NE(details.find(part), std::string::npos) << part << " in\n" << details;
  }
  const auto unanswered = MonitorRowTexts({frames[0], true});
  EXPECT_EQ(unanswered[kColKind], "request (unanswered)");
  MonitorFrame noise = F(FrameKind::Noise, 0, 0, 0, 5, true);
  noise.bytes = {1, 2, 3};
  const auto bad = MonitorRowTexts({noise, false});
  EXPECT_EQ(bad[kColKind], "noise (CRC error)");
  EXPECT_EQ(bad[kColSlave], "");
  EXPECT_EQ(bad[kColFunction], "");
}

TEST(MonitorSaveFile, csv_and_pcap_by_name_written_as_frames_come) {
  const std::pair<const char*, MonitorSaveFile::Format> names[] = {
      {"a.csv", MonitorSaveFile::Format::Csv}, {"a.PCAP", MonitorSaveFile::Format::Pcap},
      {"a.pcapng.txt", MonitorSaveFile::Format::Csv}, {"pcap", MonitorSaveFile::Format::Csv}};
  for (const auto& [name, format] : names) EXPECT_EQ(MonitorSaveFile::FormatOf(name), format) << name;

  TempDir dir;
  MonitorSaveFile file;
  std::string error;
  ASSERT_TRUE(file.Open(dir / "line.csv", MonitorSaveFile::Format::Csv, 0, error)) << error;
  const std::vector<MonitorFrame> frames = Traffic();
  file.Write(frames[0]);
  // Readable while still open: each line goes out whole.
  EXPECT_EQ(ReadFile(dir / "line.csv"), FrameCsvHeader() + "\n" + FrameCsvLine(frames[0]) + "\n");
  file.Write(frames[4]);
  file.Close();
  EXPECT_EQ(file.Written(), 2);
  EXPECT_EQ(ReadFile(dir / "line.csv"), FrameCsvHeader() + "\n" + FrameCsvLine(frames[0]) + "\n" + FrameCsvLine(frames[4]) + "\n");

  EXPECT_FALSE(file.Open(dir / "no-such-folder/line.csv", MonitorSaveFile::Format::Csv, 0, error));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(error.empty());
}

TEST(MonitorDevicePath, links_resolve_so_two_names_of_one_port_match) {
  TempDir dir;
  const std::string target = dir / "ttyFAKE";
  { std::ofstream(target) << ""; }
  ASSERT_EQ(symlink(target.c_str(), (dir / "COM7").c_str()), 0);
  const std::string folder = PortFolder();
  SetPortFolder(dir.path());
  EXPECT_EQ(MonitorDevicePath("COM7"), MonitorDevicePath(target));
  EXPECT_EQ(MonitorDevicePath(dir / "COM7"), MonitorDevicePath(target));
  EXPECT_NE(MonitorDevicePath(target), "");
  SetPortFolder(folder);
}

}  // namespace
