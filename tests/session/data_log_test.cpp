#include "session/DataLog.h"

#include <gtest/gtest.h>

#include <cmath>

#include "session/MapTable.h"

#include "support/DetachedMaster.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "support/Hex.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::ReadFile;
using vantrel::test::TempDir;

namespace {

// The table of a good reply to a read of quantity items from the 0-based address.
ResponseTable Table(int function, int address, int quantity, const std::string& dataHex,
                    WordOrder order = WordOrder::LowFirst) {
  vantrel::test::DetachedMaster m;
  const auto d = Bytes(dataHex);
  m.response_function = static_cast<std::uint8_t>(function);
  m.request_function = static_cast<std::uint8_t>(function);
  m.request_address = static_cast<std::uint16_t>(address);
  m.request_quantity = static_cast<std::uint16_t>(quantity);
  m.byte_count = static_cast<std::uint8_t>(d.size());
  if (!d.empty()) std::memcpy(m.data, d.data(), d.size());
  return MakeResponseTable(&m, order);
}

// Runs the test in a time zone of its own, restoring the process's afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST(data_log, header_and_row_per_kind_of_table) {
  struct Case {
    const char* what;
    ResponseTable table;
    bool with32Bit;
    const char* header;
    const char* row;
  };
  const Case cases[] = {
      {"coils", Table(1, 0, 3, "05"), false, "time,00001,00002,00003", "T,1,0,1"},
      {"discrete inputs: no 32-bit columns for bits", Table(2, 9, 2, "02"), true, "time,10010,10011", "T,0,1"},
      {"holding registers as uint16", Table(3, 0, 2, "FF FE 00 02"), false, "time,40001,40002", "T,65534,2"},
      {"a pair: 1.0 with the low-order word first", Table(3, 0, 2, "00 00 3F 80"), true,
       "time,40001,40002,40001-40002 uint32,40001-40002 int32,40001-40002 float32",
       "T,0,16256,1065353216,1065353216,1.000000"},
      {"input registers, an odd count: the last register has no pair", Table(4, 99, 3, "FF FF FF FF 00 07"), true,
       "time,30100,30101,30102,30100-30101 uint32,30100-30101 int32,30100-30101 float32",
       "T,65535,65535,7,4294967295,-1,-nan"},
      {"one register: no pair at all", Table(3, 6, 1, "00 07"), true, "time,40007", "T,7"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.table.fill, TableFill::Filled) << c.what;
    EXPECT_EQ(DataLogHeader(c.table, c.with32Bit), c.header) << c.what;
    EXPECT_EQ(DataLogRow(c.table, c.with32Bit, "T"), c.row) << c.what;
  }
}

TEST(data_log, a_table_without_values_gives_nothing) {
  const ResponseTable none = Table(3, 0, 2, "");            // no data bytes
  const ResponseTable shortReply = Table(3, 0, 4, "00 01");  // fewer than asked for
  const ResponseTable unknown = Table(7, 0, 1, "00");
  std::string last = "time,40001";
  for (const ResponseTable* t : {&none, &shortReply, &unknown}) {
    EXPECT_EQ(DataLogHeader(*t, true), "");
    EXPECT_EQ(DataLogRow(*t, true, "T"), "");
    EXPECT_EQ(DataLogLines(*t, true, "T", last), "");
    EXPECT_EQ(last, "time,40001") << "the last header stays";
  }
}

TEST(data_log, a_changed_request_brings_a_new_header) {
  struct Step {
    const char* what;
    ResponseTable table;
    bool with32Bit;
    bool header;
  };
  const Step steps[] = {
      {"first row", Table(3, 0, 2, "00 01 00 02"), false, true},
      {"same request", Table(3, 0, 2, "00 03 00 04"), false, false},
      {"32-bit columns on", Table(3, 0, 2, "00 03 00 04"), true, true},
      {"same again", Table(3, 0, 2, "00 05 00 06"), true, false},
      {"other offset", Table(3, 1, 2, "00 05 00 06"), true, true},
      {"other count", Table(3, 1, 3, "00 05 00 06 00 07"), true, true},
      {"other function, same offset and count", Table(4, 1, 3, "00 05 00 06 00 07"), true, true},
      {"another word order", Table(4, 1, 3, "00 05 00 06 00 07", WordOrder::HighFirst), true, true},
      {"32-bit columns off", Table(4, 1, 3, "00 05 00 06 00 07"), false, true},
      {"coils", Table(1, 1, 3, "07"), false, true},
      {"the option means nothing to bits: same columns", Table(1, 1, 3, "07"), true, false},
  };
  std::string last;
  for (const Step& s : steps) {
    const std::string header = DataLogHeader(s.table, s.with32Bit);
    const std::string row = DataLogRow(s.table, s.with32Bit, "2026-12-08T14:03:07.250");
    const std::string lines = DataLogLines(s.table, s.with32Bit, "2026-12-08T14:03:07.250", last);
    EXPECT_EQ(lines, s.header ? header + "\n" + row + "\n" : row + "\n") << s.what;
    EXPECT_EQ(last, header) << s.what;
  }
  // A word order other than the default names itself in the header and keeps its values.
  const ResponseTable high = Table(3, 0, 2, "3F 80 00 00", WordOrder::HighFirst);
  EXPECT_EQ(DataLogHeader(high, true),
            "time,40001,40002,40001-40002 uint32 (high word first),40001-40002 int32 (high word first),"
            "40001-40002 float32 (high word first)");
  EXPECT_EQ(DataLogRow(high, true, "t"), "t,16256,0,1065353216,1065353216,1.000000");
}

TEST(data_log, iso_time_to_the_millisecond) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 8;
  t.tm_hour = 14;
  t.tm_min = 3;
  t.tm_sec = 7;
  EXPECT_EQ(IsoTime(t, 250), "2026-12-08T14:03:07.250");
  EXPECT_EQ(IsoTime(t, 5), "2026-12-08T14:03:07.005");

  using namespace std::chrono;
  // 2026-12-08T14:03:07 UTC
  const system_clock::time_point base{seconds{1796738587}};
  struct Case {
    const char* tz;
    milliseconds plus;
    const char* expected;
  };
  const Case cases[] = {
      {"UTC0", milliseconds{250}, "2026-12-08T14:03:07.250"},
      {"UTC0", milliseconds{0}, "2026-12-08T14:03:07.000"},
      {"UTC0", milliseconds{999}, "2026-12-08T14:03:07.999"},
      {"UTC0", milliseconds{-1}, "2026-12-08T14:03:06.999"},
      {"CET-1", milliseconds{250}, "2026-12-08T15:03:07.250"},     // local time, not UTC
      {"EST5", milliseconds{ -14 * 3600 * 1000 - 3 * 60 * 1000 - 7001}, "2026-12-07T18:59:59.999"},
  };
  for (const Case& c : cases) {
    ScopedTimeZone zone(c.tz);
    EXPECT_EQ(LocalIsoTime(base + c.plus), c.expected) << c.tz << " " << c.plus.count();
  }
  // below a millisecond is cut, not rounded up into the next second
  ScopedTimeZone utc("UTC0");
  EXPECT_EQ(LocalIsoTime(base + microseconds{999999}), "2026-12-08T14:03:07.999");
  // and before 1970 the second is the one before, not the one after
  EXPECT_EQ(LocalIsoTime(system_clock::time_point{milliseconds{-1}}), "1969-12-31T23:59:59.999");
}

TEST(data_log, zoned_iso_time_names_the_offset_from_utc) {
  using namespace std::chrono;
  const system_clock::time_point t{milliseconds{1796738587250}};  // 2026-12-08T14:03:07.250 UTC
  const struct {
    const char* tz;
    const char* expected;
  } cases[] = {
      {"UTC0", "2026-12-08T14:03:07.250+00:00"},
      {"CET-1", "2026-12-08T15:03:07.250+01:00"},
      {"EST5", "2026-12-08T09:03:07.250-05:00"},
      {"NST3:30", "2026-12-08T10:33:07.250-03:30"},
      {"IST-5:30", "2026-12-08T19:33:07.250+05:30"},
  };
  for (const auto& c : cases) {
    ScopedTimeZone zone(c.tz);
    EXPECT_EQ(ZonedIsoTime(t), c.expected) << c.tz;
  }
}

TEST(data_log, csv_fields_are_quoted_where_needed) {
  const std::pair<const char*, const char*> cases[] = {
      {"40001", "40001"},        {"40001-40002 float32", "40001-40002 float32"},
      {"", ""},                  {"1,5", "\"1,5\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""}, {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CsvField(in), out) << in;
}

TEST(data_log, appends_rows_with_a_header_per_run) {
  TempDir dir;
  const std::string path = dir / "data.csv";
  const ResponseTable a = Table(3, 0, 2, "00 01 00 02");
  const ResponseTable b = Table(3, 0, 2, "00 03 00 04");
  {
    DataLog log;
    EXPECT_EQ(log.Append(a, "t1"), DataLogStatus::Off);
    log.SetPath(path);
    EXPECT_EQ(log.Append(a, "t1"), DataLogStatus::Written);
    EXPECT_EQ(log.Append(b, "t2"), DataLogStatus::Written);
    EXPECT_EQ(log.Append(Table(3, 0, 2, ""), "t3"), DataLogStatus::Skipped);
    log.SetWith32Bit(true);
    EXPECT_EQ(log.Append(b, "t4"), DataLogStatus::Written);
  }
  {
    // another run on the same file: a header first, though the file's last one matches
    DataLog log;
    log.SetPath(path);
    log.SetWith32Bit(true);
    EXPECT_EQ(log.Append(b, "t5"), DataLogStatus::Written);
  }
  const std::string pair = "time,40001,40002,40001-40002 uint32,40001-40002 int32,40001-40002 float32\n";
  EXPECT_EQ(ReadFile(path), "time,40001,40002\nt1,1,2\nt2,3,4\n" + pair + "t4,3,4,262147,262147,0.000000\n" + pair +
                                "t5,3,4,262147,262147,0.000000\n");
}

// With several polls on the line, each row names its poll, and each poll's header is
// written once, however their replies take turns.
TEST(data_log, rows_of_several_polls_name_theirs) {
  TempDir dir;
  const std::string path = dir / "data.csv";
  DataLog log;
  log.SetPath(path);
  for (const char* time : {"t1", "t2"}) {
    EXPECT_EQ(log.Append(Table(3, 0, 2, "00 01 00 02"), time, "Voltages"), DataLogStatus::Written);
    EXPECT_EQ(log.Append(Table(4, 9, 1, "00 07"), time, "Flow, total"), DataLogStatus::Written);
  }
  EXPECT_EQ(ReadFile(path), "poll,time,40001,40002\nVoltages,t1,1,2\npoll,time,30010\n\"Flow, total\",t1,7\n"
                            "Voltages,t2,1,2\n\"Flow, total\",t2,7\n");
}

TEST(data_log, a_file_that_cannot_be_written_warns_once_then_recovers) {
  TempDir dir;
  const std::string folder = dir / "later";
  const std::string path = folder + "/data.csv";
  const ResponseTable t = Table(3, 0, 1, "00 09");
  DataLog log;
  log.SetPath(path);
  struct Step {
    const char* what;
    void (*before)(const std::string& folder);
    DataLogStatus expected;
  };
  const Step steps[] = {
      {"no folder yet", nullptr, DataLogStatus::FirstFailure},
      {"still none: no second warning", nullptr, DataLogStatus::Failed},
      {"again", nullptr, DataLogStatus::Failed},
      {"the folder is there", [](const std::string& f) { std::filesystem::create_directory(f); },
       DataLogStatus::Written},
      {"a good row after it", nullptr, DataLogStatus::Written},
      {"the folder went away: a new warning",
       [](const std::string& f) { std::filesystem::rename(f, f + ".old"); }, DataLogStatus::FirstFailure},
      {"and it is back", [](const std::string& f) { std::filesystem::create_directory(f); },
       DataLogStatus::Written},
  };
  for (const Step& s : steps) {
    if (s.before) s.before(folder);
    EXPECT_EQ(log.Append(t, "t"), s.expected) << s.what;
  }
  // each file starts with its header, also the one made after the failure
  EXPECT_EQ(ReadFile(folder + ".old/data.csv"), "time,40001\nt,9\nt,9\n");
  EXPECT_EQ(ReadFile(path), "time,40001\nt,9\n");

  // a path that is a folder cannot be written either
  DataLog onFolder;
  onFolder.SetPath(dir.path());
  EXPECT_EQ(onFolder.Append(t, "t"), DataLogStatus::FirstFailure);
  EXPECT_EQ(onFolder.Append(t, "t"), DataLogStatus::Failed);
  // choosing another file starts anew
  onFolder.SetPath(dir / "other.csv");
  EXPECT_EQ(onFolder.Append(t, "t"), DataLogStatus::Written);
  EXPECT_EQ(ReadFile(dir / "other.csv"), "time,40001\nt,9\n");
}

// A table read by register map: a row per item with its reference address, shown value and
// raw registers; the data log names each item with its unit and logs the shown values.
TEST(data_log, a_map_table_logs_items_by_name_and_shown_value) {
  RegisterMap map;
  std::string error;
  ASSERT_TRUE(ParseMap("name,table,address,type,word_order,scale,unit\n"
                       "\"Voltage, L1\",input,1,float32,high-first,,V\n"
                       "Energy,input,10000,int64,high-first,0.001,kWh\n"
                       "Alarm,holding,7,bit:3,,,\n"
                       "Relay,coil,1,bool,,,\n"
                       "Unread,holding,50,int16,,0.1,°C\n",
                       "meter.csv", map, error))
      << error;
  MapReading reading;
  reading.raw = {{0x4366, 0x199A}, {0x0000, 0x0000, 0x0012, 0xD687}, {0x0008}, {1}, {}};
  const ResponseTable table = MakeMapTable(map, reading, WordOrder::LowFirst);
  const std::vector<std::vector<std::string>> rows = {
      {"Voltage, L1", "30001-30002", "230.1", "V", "0x4366 0x199A"},
      {"Energy", "310000-310003", "1234.567", "kWh", "0x0000 0x0000 0x0012 0xD687"},
      {"Alarm", "40007.3", "1", "", "0x0008"},
      {"Relay", "00001", "1", "", "1"},
      {"Unread", "40050", "", "°C", ""},
  };
  EXPECT_EQ(table.rows, rows);
  EXPECT_EQ(DataLogHeader(table, true), "time,\"Voltage, L1 [V]\",Energy [kWh],Alarm,Relay,Unread [°C]");
  EXPECT_EQ(DataLogRow(table, true, "2026-12-09T10:00:00.000"), "2026-12-09T10:00:00.000,230.1,1234.567,1,1,");
  EXPECT_DOUBLE_EQ(table.numbers[0], 230.1000061035156);
  EXPECT_TRUE(std::isnan(table.numbers[4]));
}
