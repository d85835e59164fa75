#include "session/DeviceScan.h"

#include <gtest/gtest.h>

#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;

// The scan's course over two line settings and ids 1 to 3: every id at each setting, a read
// each; a device found is asked for its identification (over two requests here) before the
// next id; an exception is a device too; a bad check or garbage is "something is there",
// never asked further; silence leaves no row.
TEST(device_scan, course_and_finds) {
  ScanOptions o;
  o.firstId = 1, o.lastId = 3, o.offset = 10, o.timeoutMs = 50;
  o.lines = SweepLines({19200, 9600, 9600}, "E", {1}, 8);
  ASSERT_EQ(o.lines.size(), 2u) << "slowest first, each rate once";
  EXPECT_EQ(LineSettingsText(o.lines[0]), "9600 8E1");
  DeviceScan scan(o);
  EXPECT_EQ(scan.ProbesTotal(), 6);
  EXPECT_EQ(scan.MsLeft(0), 300) << "before the first: the time-out each";

  const auto basic = Bytes("2B 0E 01 02 00 00 01 00 02 56 54");
  const auto regular = Bytes("2B 0E 02 02 00 00 01 04 02 50 31");
  const struct {
    int id, line;
    const char* pdu;  // the request expected
    ProbeEnd end;
    const char* what;
    const std::vector<std::uint8_t>* reply;
  } steps[] = {
      {1, 0, "03 00 09 00 01", ProbeEnd::Silence, "", nullptr},
      {2, 0, "03 00 09 00 01", ProbeEnd::Reply, "1234", nullptr},
      {2, 0, "2B 0E 01 00", ProbeEnd::Reply, "", &basic},
      {2, 0, "2B 0E 02 03", ProbeEnd::Reply, "", &regular},
      {3, 0, "03 00 09 00 01", ProbeEnd::BadCheck, "03 03 02 00 01 FF FF", nullptr},
      {1, 1, "03 00 09 00 01", ProbeEnd::Garbage, "7F 00", nullptr},
      {2, 1, "03 00 09 00 01", ProbeEnd::Exception, "0x02 - ILLEGAL DATA ADDRESS", nullptr},
      {2, 1, "2B 0E 01 00", ProbeEnd::Exception, "0x01 - ILLEGAL FUNCTION", nullptr},
      {3, 1, "03 00 09 00 01", ProbeEnd::Silence, "", nullptr},
  };
  for (const auto& s : steps) {
    ASSERT_FALSE(scan.Done());
    const DeviceScan::Step step = scan.Next();
    EXPECT_EQ(step.id, s.id) << s.pdu;
    EXPECT_EQ(step.line, s.line) << s.pdu;
    EXPECT_EQ(step.pdu, Bytes(s.pdu)) << s.id;
    scan.Record(s.end, s.what, s.reply ? s.reply->data() : nullptr, s.reply ? static_cast<int>(s.reply->size()) : 0);
  }
  EXPECT_TRUE(scan.Done());
  EXPECT_EQ(scan.ProbesDone(), 6);
  EXPECT_EQ(scan.DevicesFound(), 2);
  std::vector<std::string> rows;
  for (const ScanFind& f : scan.finds()) rows.push_back(scan.FindText(f, LineSettingsText(o.lines[f.line])));
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "9600 8E1, slave 2: holding register 40010 = 1234; VendorName: VT; ProductName: P1",
                      "9600 8E1, slave 3: something is there (a reply that fails its check: 03 03 02 00 01 FF FF), "
                      "probably at other line settings",
                      "19200 8E1, slave 1: something is there (7F 00), probably at other line settings",
                      "19200 8E1, slave 2: a device answers with exception 0x02 - ILLEGAL DATA ADDRESS; "
                      "no device identification",
                  }));
  // Whole, for a tooltip: the objects each on a line.
  EXPECT_EQ(scan.FindDetails(scan.finds()[0], "9600 8E1"),
            "9600 8E1, slave 2: holding register 40010 = 1234\nVendorName: VT\nProductName: P1");
  EXPECT_EQ(scan.FindDetails(scan.finds()[1], "9600 8E1"), rows[1]);
  EXPECT_EQ(scan.FindDetails(scan.finds()[3], "19200 8E1"),
            "19200 8E1, slave 2: a device answers with exception 0x02 - ILLEGAL DATA ADDRESS\nno device identification");
}

TEST(device_scan, options_checks_cancel_and_time_left) {
  const struct {
    int first, last, function, timeout;
    bool ok;
  } cases[] = {{1, 247, 3, 100, true},  {0, 5, 3, 100, false}, {5, 248, 3, 100, false}, {9, 8, 3, 100, false},
               {1, 1, 3, 9, false},     {1, 1, 3, 5001, false}, {1, 1, 5, 100, false},   {1, 1, 1, 10, true}};
  for (const auto& c : cases) {
    ScanOptions o;
    o.firstId = c.first, o.lastId = c.last, o.function = c.function, o.timeoutMs = c.timeout;
    EXPECT_EQ(CheckScanOptions(o).empty(), c.ok) << c.first << "-" << c.last << " f" << c.function << " " << c.timeout;
  }
  ScanOptions o;
  o.identify = false;
  DeviceScan scan(o);
  for (int i = 0; i < 10; ++i) scan.Record(i == 4 ? ProbeEnd::Reply : ProbeEnd::Silence, "7");
  EXPECT_EQ(scan.Next().id, 11);
  EXPECT_EQ(scan.MsLeft(1000), 237 * 100) << "from the mean so far";
  scan.Cancel();
  EXPECT_TRUE(scan.Done());
  EXPECT_TRUE(scan.Next().pdu.empty());
  ASSERT_EQ(scan.finds().size(), 1u);
  EXPECT_EQ(scan.finds()[0].id, 5);
  EXPECT_FALSE(scan.finds()[0].identified);
}
