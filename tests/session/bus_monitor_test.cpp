// The bus monitor over byte vectors: every function's request and reply form, exceptions,
// noise around and inside frames, frames split over reads, resynchronising, ASCII, broadcasts,
// pairing, unanswered requests and the turnaround figures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/Framing.h"
#include "modbus/ModbusFrame.h"
#include "session/BusMonitor.h"
#include "session/MonitorTexts.h"
#include "support/Frames.h"
#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::Ascii;
using vantrel::test::Rtu;
using vantrel::test::HexOf;

namespace {

std::vector<std::uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }
std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A read of bytes, the last of which arrived at ms.
struct Read {
  std::vector<std::uint8_t> bytes;
  double ms;
};

std::vector<MonitorFrame> Monitor(BusMonitor& monitor, const std::vector<Read>& reads, double endMs = -1) {
  std::vector<MonitorFrame> frames;
  for (const Read& r : reads) monitor.Feed(r.bytes.data(), r.bytes.size(), r.ms, frames);
  if (endMs >= 0) monitor.Finish(endMs, frames);
  return frames;
}

// "request 1 03: ref 1 (wire 0) count 2", "noise: AA BB", "crc-error 1 03: 01 03 ...".
std::string Describe(const MonitorFrame& f) {
  if (f.kind == FrameKind::Noise) {
    return std::string(f.crcError ? "crc-error" : "noise") + ": " + HexOf(f.bytes);
  }
  char head[32];
  std::snprintf(head, sizeof head, "%s %d %02X: ", FrameKindName(f.kind), f.slaveId, f.function);
  return head + f.detail;
}
std::vector<std::string> Describe(const std::vector<MonitorFrame>& frames) {
  std::vector<std::string> out;
  for (const MonitorFrame& f : frames) out.push_back(Describe(f));
  return out;
}

MonitorOptions Rtu9600() { return MonitorOptions{}; }
MonitorOptions Ascii9600() {
  MonitorOptions o;
  o.mode = ModbusMode::Ascii;
  return o;
}

// --- each function, request then reply ------------------------------------------------------

struct Exchange {
  const char* name;
  std::string request;  // without CRC
  std::string reply;
  std::string requestText;
  std::string replyText;
};

void PrintTo(const Exchange& e, std::ostream* os) { *os << e.name; }

class Forms : public ::testing::TestWithParam<Exchange> {};

TEST_P(Forms, request_then_reply_are_framed_told_apart_paired_and_decoded) {
  const Exchange& e = GetParam();
  for (const MonitorOptions& options : {Rtu9600(), Ascii9600()}) {
    BusMonitor monitor(options);
    const bool ascii = options.mode == ModbusMode::Ascii;
    const auto frame = [&](const std::string& hex) { return ascii ? Ascii(hex) : Rtu(hex); };
    const auto frames = Monitor(monitor, {{frame(e.request), 10}, {frame(e.reply), 200}});
    ASSERT_EQ(Describe(frames), (std::vector<std::string>{e.requestText, e.replyText})) << (ascii ? "ASCII" : "RTU");
    EXPECT_EQ(frames[1].exchange, frames[0].exchange);
    EXPECT_GT(frames[1].turnaroundMs, 0);
    EXPECT_EQ(frames[0].checkSize, ascii ? 1 : 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachFunction, Forms,
    ::testing::Values(
        Exchange{"read_coils", "01 01 00 13 00 0A", "01 01 02 CD 01", "request 1 01: ref 20 (wire 19) count 10",
                 "reply 1 01: 10 bits: 1 0 1 1 0 0 1 1 1 0"},
        Exchange{"read_inputs", "11 02 00 C4 00 03", "11 02 01 05", "request 17 02: ref 197 (wire 196) count 3",
                 "reply 17 02: 3 bits: 1 0 1"},
        Exchange{"read_holding", "01 03 00 00 00 02", "01 03 04 10 00 FF FF",
                 "request 1 03: ref 1 (wire 0) count 2", "reply 1 03: 2 registers: 4096 (0x1000) 65535 (0xFFFF)"},
        Exchange{"read_input_registers", "F7 04 FF FE 00 01", "F7 04 02 00 0A",
                 "request 247 04: ref 65535 (wire 65534) count 1", "reply 247 04: 1 registers: 10 (0x000A)"},
        Exchange{"write_coil", "01 05 00 AC FF 00", "01 05 00 AC FF 00", "request 1 05: ref 173 (wire 172) = ON",
                 "reply 1 05: ref 173 (wire 172) = ON (echo)"},
        Exchange{"write_register", "01 06 00 01 00 03", "01 06 00 01 00 03",
                 "request 1 06: ref 2 (wire 1) = 3 (0x0003)", "reply 1 06: ref 2 (wire 1) = 3 (0x0003) (echo)"},
        Exchange{"write_coils", "01 0F 00 13 00 0A 02 CD 01", "01 0F 00 13 00 0A",
                 "request 1 0F: ref 20 (wire 19) count 10: 1 0 1 1 0 0 1 1 1 0",
                 "reply 1 0F: ref 20 (wire 19) count 10 (echo)"},
        Exchange{"write_registers", "01 10 00 01 00 02 04 00 0A 01 02", "01 10 00 01 00 02",
                 "request 1 10: ref 2 (wire 1) count 2: 10 (0x000A) 258 (0x0102)",
                 "reply 1 10: ref 2 (wire 1) count 2 (echo)"},
        Exchange{"exception_status", "01 07", "01 07 6D", "request 1 07: ", "reply 1 07: status 6D"},
        Exchange{"diagnostics", "01 08 00 00 A5 37", "01 08 00 00 A5 37", "request 1 08: sub-function 0 data 0xA537",
                 "reply 1 08: sub-function 0 data 0xA537"},
        Exchange{"event_counter", "01 0B", "01 0B FF FF 01 08", "request 1 0B: ",
                 "reply 1 0B: status 0xFFFF events 264"},
        Exchange{"event_log", "01 0C", "01 0C 08 00 00 01 08 01 21 20 00", "request 1 0C: ",
                 "reply 1 0C: 8 bytes: 00 00 01 08 01 21 20 00"},
        Exchange{"report_server_id", "01 11", "01 11 03 2A FF 56", "request 1 11: ", "reply 1 11: 3 bytes: 2A FF 56"},
        Exchange{"read_file_record", "01 14 07 06 00 04 00 01 00 02", "01 14 06 05 06 0D FE 00 20",
                 "request 1 14: 7 bytes: 06 00 04 00 01 00 02", "reply 1 14: 6 bytes: 05 06 0D FE 00 20"},
        Exchange{"mask_write", "01 16 00 04 00 F2 00 25", "01 16 00 04 00 F2 00 25",
                 "request 1 16: ref 5 (wire 4) and 0x00F2 or 0x0025",
                 "reply 1 16: ref 5 (wire 4) and 0x00F2 or 0x0025 (echo)"},
        Exchange{"read_write_registers", "01 17 00 03 00 02 00 0E 00 01 02 00 FF", "01 17 04 00 FE 0A CD",
                 "request 1 17: read ref 4 (wire 3) count 2, write ref 15 (wire 14) count 1: 255 (0x00FF)",
                 "reply 1 17: 2 registers: 254 (0x00FE) 2765 (0x0ACD)"},
        Exchange{"read_fifo", "01 18 04 DE", "01 18 00 06 00 02 01 B8 12 84", "request 1 18: ref 1247 (wire 1246)",
                 "reply 1 18: 2 queued: 440 (0x01B8) 4740 (0x1284)"},
        Exchange{"device_identification", "01 2B 0E 01 00", "01 2B 0E 01 01 00 00 02 00 03 41 42 43 01 02 56 31",
                 "request 1 2B: read code 1 from object 0",
                 "reply 1 2B: conformity 01; VendorName: ABC; ProductCode: V1"},
        Exchange{"exception", "01 03 23 27 00 01", "01 83 02", "request 1 03: ref 9000 (wire 8999) count 1",
                 "exception 1 83: 0x02 - ILLEGAL DATA ADDRESS"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- streams: noise, splits, resynchronising ----------------------------------------------

struct Stream {
  const char* name;
  MonitorOptions options;
  std::vector<Read> reads;
  std::vector<std::string> expected;
};

void PrintTo(const Stream& s, std::ostream* os) { *os << s.name; }

class Streams : public ::testing::TestWithParam<Stream> {};

TEST_P(Streams, frame_as_the_line_carried_them) {
  BusMonitor monitor(GetParam().options);
  EXPECT_EQ(Describe(Monitor(monitor, GetParam().reads, 10000)), GetParam().expected);
}

const auto kRead = Rtu("01 03 00 00 00 02");
const auto kReply = Rtu("01 03 04 00 01 00 02");
const std::string kReadText = "request 1 03: ref 1 (wire 0) count 2";
const std::string kReplyText = "reply 1 03: 2 registers: 1 (0x0001) 2 (0x0002)";

INSTANTIATE_TEST_SUITE_P(
    Rtu, Streams,
    ::testing::Values(
        Stream{"noise_before_a_frame", Rtu9600(), {{Cat({Bytes("AA BB"), kRead}), 5}}, {"noise: AA BB", kReadText}},
        Stream{"noise_between_request_and_reply",
               Rtu9600(),
               {{kRead, 5}, {Bytes("FF 00 FF"), 10}, {kReply, 30}},
               {kReadText, "noise: FF 00 FF", kReplyText}},
        Stream{"noise_after_the_last_frame", Rtu9600(), {{Cat({kRead, Bytes("07")}), 5}}, {kReadText, "noise: 07"}},
        Stream{"a_frame_split_over_three_reads",
               Rtu9600(),
               {{{kRead.begin(), kRead.begin() + 1}, 1}, {{kRead.begin() + 1, kRead.begin() + 5}, 3}, {{kRead.begin() + 5, kRead.end()}, 5}},
               {kReadText}},
        Stream{"a_reply_split_by_a_long_pause_still_frames_by_its_crc",
               Rtu9600(),
               {{kRead, 5}, {{kReply.begin(), kReply.begin() + 4}, 20}, {{kReply.begin() + 4, kReply.end()}, 320}},
               {kReadText, kReplyText}},
        // 01 10 looks like the start of a long write; the request after it completes first.
        Stream{"resync_after_noise_in_one_read",
               Rtu9600(),
               {{Cat({Bytes("01 10 00"), kRead}), 5}},
               {"noise: 01 10 00", kReadText}},
        Stream{"resync_after_noise_and_a_silence",
               Rtu9600(),
               {{Bytes("01 10 00"), 5}, {kRead, 50}},
               {"noise: 01 10 00", kReadText}},
        Stream{"noise_inside_a_reply_makes_a_crc_error",
               Rtu9600(),
               {{kRead, 5}, {Cat({Bytes("01 03 04 00 01 EE 00 02"), {kReply.end() - 2, kReply.end()}}), 30}},
               {kReadText, "crc-error: " + HexOf(Cat({Bytes("01 03 04 00 01 EE 00 02"), {kReply[7]}})),
                "noise: " + HexOf(std::vector<std::uint8_t>{kReply[8]})}},
        Stream{"a_reply_with_a_bad_crc",
               Rtu9600(),
               {{kRead, 5}, {Bytes("01 03 04 00 01 00 02 00 00"), 30}, {kRead, 100}},
               {kReadText, "crc-error: 01 03 04 00 01 00 02 00 00", kReadText}},
        Stream{"a_write_echo_without_its_request_is_a_request",
               Rtu9600(),
               {{Rtu("01 06 00 01 00 03"), 5}},
               {"request 1 06: ref 2 (wire 1) = 3 (0x0003)"}},
        Stream{"a_broadcast_is_a_request_that_nobody_answers",
               Rtu9600(),
               {{Rtu("00 06 00 01 00 03"), 5}, {kRead, 20}, {kReply, 40}},
               {"request 0 06: ref 2 (wire 1) = 3 (0x0003)", kReadText, kReplyText}},
        Stream{"back_to_back_frames_in_one_read",
               Rtu9600(),
               {{Cat({kRead, kReply, kRead, Rtu("01 83 02")}), 5}},
               {kReadText, kReplyText, kReadText, "exception 1 83: 0x02 - ILLEGAL DATA ADDRESS"}},
        Stream{"bytes_of_no_function", Rtu9600(), {{Bytes("01 63 00 00"), 5}}, {"noise: 01 63 00 00"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ascii, Streams,
    ::testing::Values(
        Stream{"request_and_reply", Ascii9600(), {{Ascii("01 03 00 00 00 02"), 5}, {Ascii("01 03 04 00 01 00 02"), 30}},
               {kReadText, kReplyText}},
        Stream{"characters_outside_frames_are_noise", Ascii9600(), {{Cat({Text("xy"), Ascii("01 03 00 00 00 02")}), 5}},
               {"noise: 78 79", kReadText}},
        Stream{"a_new_colon_ends_a_broken_frame", Ascii9600(), {{Cat({Text(":0103"), Ascii("01 03 00 00 00 02")}), 5}},
               {"noise: 3A 30 31 30 33", kReadText}},
        Stream{"a_bad_lrc", Ascii9600(), {{Text(":010300000002FB\r\n"), 5}}, {"crc-error: 01 03 00 00 00 02 FB"}},
        Stream{"a_frame_split_over_reads", Ascii9600(), {{Text(":0103000"), 2}, {Text("00002FA\r"), 4}, {Text("\n"), 5}},
               {kReadText}},
        Stream{"no_hex_between_colon_and_crlf", Ascii9600(), {{Text(":01zz\r\n"), 5}}, {"noise: 3A 30 31 7A 7A 0D 0A"}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- pairing and figures ----------------------------------------------------------------------

TEST(BusMonitorPairing, turnaround_runs_from_the_request_end_to_the_reply_start) {
  BusMonitor monitor(Rtu9600());
  // 8 bytes whose last arrived at 10 ms; 9 reply bytes whose last arrived at 30 ms, the first
  // 8 characters (10 bits at 9600 baud) earlier.
  const auto frames = Monitor(monitor, {{kRead, 10}, {kReply, 30}});
  ASSERT_EQ(frames.size(), 2u);
  const double ch = 10.0 / 9.6;
  EXPECT_NEAR(frames[0].timeMs, 10 - 7 * ch, 1e-9);
  EXPECT_NEAR(frames[1].timeMs, 30 - 8 * ch, 1e-9);
  EXPECT_NEAR(frames[1].turnaroundMs, 20 - 8 * ch, 1e-9);
  EXPECT_NEAR(frames[1].gapMs, frames[1].turnaroundMs, 1e-9);
  EXPECT_LT(frames[0].turnaroundMs, 0);
}

TEST(BusMonitorPairing, figures_per_slave) {
  MonitorOptions options;
  options.replyWindowMs = 100;
  BusMonitor monitor(options);
  const auto read2 = Rtu("02 03 00 00 00 02");
  std::vector<MonitorFrame> frames = Monitor(monitor, {
      {kRead, 0}, {kReply, 20},                          // turnaround 20 - 8 ch
      {kRead, 100}, {kReply, 140},                       // 40 - 8 ch
      {kRead, 200}, {Rtu("01 83 02"), 210},              // exception, 10 - 4 ch
      {read2, 300},                                      // unanswered: the window passes
      {read2, 500}, {Bytes("02 03 04 00 01 00 02 00 00"), 520},  // a CRC error
      {kRead, 600}, {read2, 610},                        // the master moved on: unanswered
      {Rtu("00 06 00 01 00 03"), 700},                   // broadcast
  }, 2000);
  const double ch = 10.0 / 9.6;
  const SlaveFigures one = monitor.Figures().at(1);
  EXPECT_EQ(one.requests, 4);
  EXPECT_EQ(one.replies, 2);
  EXPECT_EQ(one.exceptions, 1);
  EXPECT_EQ(one.unanswered, 1);
  EXPECT_EQ(one.turnarounds, 3);
  EXPECT_NEAR(one.minTurnaroundMs, 10 - 4 * ch, 1e-9);
  EXPECT_NEAR(one.maxTurnaroundMs, 40 - 8 * ch, 1e-9);
  EXPECT_NEAR(one.AverageTurnaroundMs(), (20 - 8 * ch + 40 - 8 * ch + 10 - 4 * ch) / 3, 1e-9);
  const SlaveFigures two = monitor.Figures().at(2);
  EXPECT_EQ(two.requests, 3);
  EXPECT_EQ(two.crcErrors, 1);
  EXPECT_EQ(two.unanswered, 2);  // the one at 300, and the last (its window passed at Finish)
  EXPECT_EQ(two.turnarounds, 0);
  const SlaveFigures broadcast = monitor.Figures().at(0);
  EXPECT_EQ(broadcast.requests, 1);
  EXPECT_EQ(broadcast.unanswered, 0);
  EXPECT_EQ(monitor.FrameCount(), 11);  // requests, replies and exceptions
}

TEST(BusMonitorPairing, a_late_reply_is_not_paired_and_its_request_is_unanswered) {
  MonitorOptions options;
  options.replyWindowMs = 50;
  BusMonitor monitor(options);
  const auto frames = Monitor(monitor, {{kRead, 0}, {kReply, 200}});
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].kind, FrameKind::Reply);
  EXPECT_LT(frames[1].turnaroundMs, 0);
  EXPECT_EQ(frames[1].exchange, 0u);
  EXPECT_EQ(monitor.Figures().at(1).unanswered, 1);
}

TEST(BusMonitorPairing, a_reply_of_another_slave_or_function_is_not_paired) {
  BusMonitor monitor(Rtu9600());
  const auto frames = Monitor(monitor, {{kRead, 0}, {Rtu("02 03 04 00 01 00 02"), 20}, {Rtu("01 04 02 00 01"), 40}}, 50);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_LT(frames[1].turnaroundMs, 0);
  EXPECT_LT(frames[2].turnaroundMs, 0);
}

TEST(BusMonitorPairing, waiting_bytes_become_noise_once_the_line_stays_quiet) {
  BusMonitor monitor(Rtu9600());
  std::vector<MonitorFrame> frames;
  const auto start = Bytes("01 10 00 01");
  monitor.Feed(start.data(), start.size(), 0, frames);
  monitor.Tick(500, frames);
  EXPECT_TRUE(frames.empty());
  monitor.Tick(1001, frames);
  ASSERT_EQ(Describe(frames), std::vector<std::string>{"noise: 01 10 00 01"});
}

// --- texts ------------------------------------------------------------------------------------

TEST(MonitorTexts, json_csv_and_summary_of_a_reply) {
  BusMonitor monitor(Rtu9600());
  const auto frames = Monitor(monitor, {{Cat({Bytes("AA"), kRead}), 10}, {kReply, 30}});
  ASSERT_EQ(frames.size(), 3u);
  const std::string reply = FrameJson(frames[2]);
  for (const char* part : {"\"kind\":\"reply\"", "\"slave_id\":1", "\"function\":3", "\"registers\":[1,2]",
                           "\"turnaround_ms\":", "\"hex\":\"01 03 04 00 01 00 02 "}) {
    EXPECT_NE(reply.find(part), std::string::npos) << part << " in " << reply;
  }
  const std::string request = FrameJson(frames[1]);
  EXPECT_NE(request.find("\"address\":1,\"wire_address\":0,\"quantity\":2"), std::string::npos) << request;
  EXPECT_EQ(request.find("turnaround_ms"), std::string::npos);
  EXPECT_NE(FrameJson(frames[0]).find("\"kind\":\"noise\",\"slave_id\":null"), std::string::npos);

  const auto columns = [](const std::string& line) { return std::count(line.begin(), line.end(), ','); };
  EXPECT_EQ(columns(FrameCsvLine(frames[1])), columns(FrameCsvHeader()));
  EXPECT_EQ(columns(FrameCsvLine(frames[0])), columns(FrameCsvHeader()));
  EXPECT_NE(FrameCsvLine(frames[2]).find(",reply,1,3,Read Holding Registers,,,2,"), std::string::npos)
      << FrameCsvLine(frames[2]);

  // The summary's columns line up whatever the frame.
  const std::string a = FrameSummaryLine(frames[1]), b = FrameSummaryLine(frames[2]);
  EXPECT_EQ(a.find("ref 1"), b.find("2 registers")) << a << "\n" << b;
  EXPECT_NE(b.find("ta "), std::string::npos);
}

TEST(MonitorTexts, figures_table_has_a_row_per_slave) {
  BusMonitor monitor(Rtu9600());
  Monitor(monitor, {{kRead, 0}, {kReply, 20}, {Rtu("05 03 00 00 00 01"), 40}}, 3000);
  const std::string table = FiguresTable(monitor.Figures());
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3);
  EXPECT_NE(table.find("       1         1         1          0          0          0  "), std::string::npos) << table;
  EXPECT_NE(table.find("       5         1         0          0          0          1  -"), std::string::npos) << table;
}

}  // namespace
