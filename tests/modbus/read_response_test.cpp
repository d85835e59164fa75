// ModbusMaster::ReadResponse on a pseudo-terminal: the test plays the device and writes the
// bytes of each tick before the master reads them.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "support/Hex.h"
#include "support/Pty.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;
using vantrel::test::Pty;

namespace {

// Slave 1, function 3, two registers: the reply carries 4 data bytes.
const std::string kRequest = "01 03 00 00 00 02 C4 0B";
const std::string kReply = "01 03 04 00 0A 00 0B 9B F6";

// A frame with its CRC appended, for frames the tables below make up.
std::string WithCrc(const std::string& hex) {
  std::vector<std::uint8_t> f = Bytes(hex);
  const std::uint16_t crc = Crc16(f.data(), static_cast<std::uint16_t>(f.size()));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  return HexOf(f);
}

class ReadResponse : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(line_.serial().OpenDevice(pty_.path(), 115200, 'N', 8, 1), 1);
    master_.note = [this](const std::string& line) { notes_.push_back(line); };
  }
  void Send(const std::string& hex = kRequest) {
    const auto frame = Bytes(hex);
    ASSERT_EQ(master_.SendRequest(frame.data(), static_cast<int>(frame.size())), 1);
    std::uint8_t sent[kFrameCapacity];
    ASSERT_EQ(read(pty_.master(), sent, sizeof sent), static_cast<ssize_t>(frame.size()));
  }
  // The device sends these bytes; returns once the port has them all.
  void Device(const std::string& hex) {
    const auto bytes = Bytes(hex);
    if (bytes.empty()) return;
    ASSERT_EQ(write(pty_.master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    for (int i = 0; i < 200 && line_.serial().WaitReadable(10) != 1; ++i) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the whole write, not its start
  }

  Pty pty_;
  Line line_;
  ModbusMaster& master_ = line_.master();
  std::vector<std::string> notes_;
};

}  // namespace

// Each row: the bytes that arrive before each tick, and the result each tick gives.
TEST_F(ReadResponse, finds_the_reply_among_the_bytes_of_each_tick) {
  struct Row {
    const char* what;
    std::vector<std::string> ticks;
    std::vector<int> results;
    int notes;  // debug lines naming noise or skipped frames
  };
  const std::string otherSlave = WithCrc("02 03 04 12 34 56 78");
  const std::string lateReply = WithCrc("01 03 14 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 0A");
  const std::string shortReply = WithCrc("01 03 02 00 0A");
  const std::string otherException = WithCrc("02 83 02");
  const Row rows[] = {
      {"whole", {kReply}, {MB_RESPONCE_OK}, 0},
      {"straddling two ticks", {"01 03 04 00", "0A 00 0B 9B F6"}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 0},
      {"nothing yet", {""}, {MB_RESPONCE_EMPTY}, 0},
      {"a noise byte before it", {"00 " + kReply}, {MB_RESPONCE_OK}, 1},
      {"noise, then the reply straddling", {"FF 01 03", "04 00 0A 00 0B 9B F6"},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"noise shaped like the reply's start", {"01 03 " + kReply}, {MB_RESPONCE_OK}, 1},
      {"extra bytes after it", {kReply + " 00 00"}, {MB_RESPONCE_OK}, 0},
      {"a bad CRC", {"01 03 04 00 0A 00 0B 9B F7"}, {MB_RESPONCE_INVALID_CRC}, 0},
      {"noise and a bad CRC", {"00 01 03 04 00 0A 00 0B 9B F7"}, {MB_RESPONCE_INVALID_CRC}, 0},
      {"another device's reply, then ours", {otherSlave, kReply}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"a late reply of another size, then ours", {lateReply, kReply},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"a late reply and ours in one tick", {lateReply + " " + kReply}, {MB_RESPONCE_OK}, 1},
      {"too short a reply", {shortReply}, {MB_RESPONCE_INCOMPLETE}, 1},
      {"another device's exception", {otherException}, {MB_RESPONCE_INCOMPLETE}, 1},
      {"an exception", {"01 83 02 C0 F1"}, {MB_RESPONCE_EXCEPTION}, 0},
      {"noise before an exception", {"55 01 83 02 C0 F1"}, {MB_RESPONCE_EXCEPTION}, 1},
      {"the request's own exception with a bad CRC", {"01 83 02 00 00"}, {MB_RESPONCE_EXCEPTION}, 0},
      {"another's exception with a bad CRC", {"07 83 02 00 00"}, {MB_RESPONCE_INVALID_CRC}, 0},
      {"a function code the utility has no use for", {WithCrc("01 66 02 00 00")},
       {MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE}, 0},
      {"function code 0", {WithCrc("01 00 02 00 00")}, {MB_RESPONCE_INVALID_FUNCTION_CODE}, 0},
      {"garbage", {"DE AD BE EF 55 AA 00 FF"}, {MB_RESPONCE_UNKOWN}, 0},
      {"the reply again after it was taken", {kReply, kReply}, {MB_RESPONCE_OK, MB_RESPONCE_EMPTY}, 0},
      {"nothing more after a failure", {"01 03 04 00 0A 00 0B 9B F7", kReply},
       {MB_RESPONCE_INVALID_CRC, MB_RESPONCE_EMPTY}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    notes_.clear();
    Send();
    ASSERT_EQ(row.ticks.size(), row.results.size());
    for (std::size_t t = 0; t < row.ticks.size(); ++t) {
      Device(row.ticks[t]);
      EXPECT_EQ(master_.ReadResponse(), row.results[t]) << "tick " << t;
    }
    EXPECT_EQ(static_cast<int>(notes_.size()), row.notes) << (notes_.empty() ? "" : notes_[0]);
    if (row.results.front() == MB_RESPONCE_OK || row.results.back() == MB_RESPONCE_OK) {
      EXPECT_EQ(master_.byte_count, 4);
      EXPECT_EQ(HexOf(master_.data, 4), "00 0A 00 0B");
    }
    // What is still queued must not reach the next row.
    std::uint8_t rest[1024];
    while (line_.serial().Read(rest, sizeof rest) > 0) {
    }
  }
}

// A write's reply is gathered like a read's: its size is known from the request.
TEST_F(ReadResponse, finds_the_reply_to_a_write) {
  const std::string reg = "11 06 00 01 00 03 9A 9B";
  const std::string regs = "11 10 00 01 00 02 04 00 0A 01 02 C6 F0";
  const std::string regsReply = WithCrc("11 10 00 01 00 02");
  struct Row {
    const char* what;
    std::string request;
    std::vector<std::string> ticks;
    std::vector<int> results;
  };
  const Row rows[] = {
      {"the echo", reg, {reg}, {MB_RESPONCE_OK}},
      {"the echo straddling ticks", reg, {"11 06 00", "01 00 03 9A 9B"}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}},
      {"one byte short of the echo", reg, {"11 06 00 01 00 03 9A"}, {MB_RESPONCE_INCOMPLETE}},
      {"noise, then the reply to 16", regs, {"00 " + regsReply}, {MB_RESPONCE_OK}},
      {"another device's read reply first", regs, {WithCrc("02 03 02 00 01"), regsReply},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}},
      {"an echo of another address", reg, {WithCrc("11 06 00 02 00 03")}, {MB_RESPONCE_WRITE_ECHO_MISMATCH}},
      {"a damaged echo", reg, {"11 06 00 01 00 03 9A 9C"}, {MB_RESPONCE_INVALID_CRC}},
      {"an exception straddling ticks", regs, {"11 90", "02 CD C1"}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_EXCEPTION}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Send(row.request);
    for (std::size_t t = 0; t < row.ticks.size(); ++t) {
      Device(row.ticks[t]);
      EXPECT_EQ(master_.ReadResponse(), row.results[t]) << "tick " << t;
    }
    std::uint8_t rest[1024];
    while (line_.serial().Read(rest, sizeof rest) > 0) {
    }
  }
}

TEST_F(ReadResponse, names_the_noise_and_what_it_skipped) {
  Send();
  const std::string other = WithCrc("0C 03 04 00 01 00 02");
  Device("00 " + other);
  EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_INCOMPLETE);
  const std::string shortReply = WithCrc("01 03 02 00 0A");
  Device(shortReply + " 33 " + kReply);
  EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_OK);
  const std::vector<std::string> expected = {
      "Line noise, skipped: 00 ",
      "Skipped a frame that does not answer the request (from slave 12, not 1): " + other + " ",
      "Skipped a frame that does not answer the request (2 data bytes, not the 4 asked for): " + shortReply + " ",
      "Line noise before the reply, skipped: 33 ",
  };
  EXPECT_EQ(notes_, expected);
  EXPECT_TRUE(master_.SawShortReply());
  Send();
  EXPECT_FALSE(master_.SawShortReply()) << "counted for one exchange";
}

// The rest of a reply still on its way is dropped before the next request goes out: after
// a time-out, and on a line just opened, where an earlier program may have left it. 300
// baud: the quiet gap is 117 ms, the late bytes come 5 ms apart.
TEST_F(ReadResponse, the_line_goes_quiet_before_a_request_after_a_time_out_or_an_open) {
  const struct {
    const char* what;
    bool opened;  // else abandoned
    const char* note;
  } rows[] = {
      {"an abandoned exchange", false, "Bytes of the abandoned exchange, dropped: 01 03 14 "},
      {"a line just opened", true, "Bytes on the line before the first request, dropped: 01 03 14 "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    notes_.clear();
    line_.serial().Close();
    ASSERT_EQ(line_.serial().OpenDevice(pty_.path(), 300, 'N', 8, 1), 1);
    if (row.opened) {
      master_.AwaitQuietLine(5000);
    } else {
      Send();
      master_.AbandonExchange(5000);
      EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_EMPTY) << "the exchange is over";
    }
    std::atomic<bool> done{false};
    std::thread late([this, &done] {
      for (std::uint8_t b : Bytes("01 03 14 00 01 00 02 00 03 00 04 00 05 00 06 00 07")) {
        ASSERT_EQ(write(pty_.master(), &b, 1), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    Send();
    EXPECT_TRUE(done) << "the request went out while the late reply was still arriving";
    late.join();
    Device(kReply);
    EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_OK);
    ASSERT_FALSE(notes_.empty());
    EXPECT_EQ(notes_[0].rfind(row.note, 0), 0u) << notes_[0];
  }
}

// The other functions' replies are found by the size their function gives them, and must
// answer the request; 23, 24 and 08 from the protocol's examples, slave 0x11.
TEST_F(ReadResponse, finds_the_reply_of_the_other_functions_by_its_size) {
  const std::string rw = WithCrc("11 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF");
  const std::string rwReply = WithCrc("11 17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF");
  const std::string fifo = WithCrc("11 18 04 DE");
  const std::string diag = WithCrc("11 08 00 00 A5 37");
  std::string fifo32 = "11 18 00 42 00 20";  // 32 values: one more than a FIFO holds
  for (int i = 0; i < 64; ++i) fifo32 += " 11";
  struct Row {
    const char* what;
    std::string request;
    std::vector<std::string> ticks;
    std::vector<int> results;
    int notes = 0;
  };
  const Row rows[] = {
      {"23", rw, {rwReply}, {MB_RESPONCE_OK}},
      {"23 straddling two ticks", rw, {rwReply.substr(0, 9), rwReply.substr(9)}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}},
      {"noise and another device's reply first", rw, {"00 " + WithCrc("12 17 02 00 01"), rwReply},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 2},
      {"23 damaged", rw, {rwReply.substr(0, rwReply.size() - 2) + "00"}, {MB_RESPONCE_INVALID_CRC}},
      {"23 with two registers of six", rw, {WithCrc("11 17 04 00 FE 0A CD")}, {MB_RESPONCE_REPLY_MISMATCH}},
      {"23 exception straddling", rw, {"11 97", WithCrc("11 97 02").substr(6)}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_EXCEPTION}},
      {"a damaged exception", rw, {"11 97 02 00 00"}, {MB_RESPONCE_INVALID_CRC}},
      {"24", fifo, {WithCrc("11 18 00 06 00 02 01 B8 12 84")}, {MB_RESPONCE_OK}},
      {"24 with a FIFO count over 31", fifo, {WithCrc(fifo32)}, {MB_RESPONCE_REPLY_MISMATCH}},
      {"08 echo", diag, {diag}, {MB_RESPONCE_OK}},
      {"08 with other data echoed", diag, {WithCrc("11 08 00 00 A5 38")}, {MB_RESPONCE_REPLY_MISMATCH}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    notes_.clear();
    Send(row.request);
    EXPECT_TRUE(master_.AwaitsReply());
    for (std::size_t t = 0; t < row.ticks.size(); ++t) {
      Device(row.ticks[t]);
      EXPECT_EQ(master_.ReadResponse(), row.results[t]) << "tick " << t;
    }
    EXPECT_EQ(static_cast<int>(notes_.size()), row.notes) << (notes_.empty() ? "" : notes_.back());
    std::uint8_t rest[1024];
    while (line_.serial().Read(rest, sizeof rest) > 0) {
    }
  }
  // The registers read are the reply's data, as a read's are.
  Send(rw);
  Device(rwReply);
  ASSERT_EQ(master_.ReadResponse(), MB_RESPONCE_OK);
  EXPECT_EQ(master_.byte_count, 12);
  EXPECT_EQ(HexOf(master_.data, master_.byte_count), "00 FE 0A CD 00 01 00 03 00 0D 00 FF");
  EXPECT_EQ(master_.request_address, 3);
  EXPECT_EQ(master_.request_quantity, 6);
  EXPECT_EQ(HexOf(master_.ResponsePdu(), static_cast<std::size_t>(master_.ResponsePduSize())),
            "17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF");
}

// A function the program does not know says nothing of its reply's size: the reply is the
// bytes there are once the line has been quiet for the link's idle gap, from the request's
// slave id and function, with a right CRC. Its exception says its size, and is taken at once.
TEST_F(ReadResponse, takes_the_reply_to_a_function_it_does_not_know_once_the_line_is_quiet) {
  // 1200 baud: a gap of 134 ms, which a busy machine does not pass between two steps.
  line_.serial().Close();
  ASSERT_EQ(line_.serial().OpenDevice(pty_.path(), 1200, 'N', 8, 1), 1);
  const std::string request = WithCrc("11 41 01 02");
  const std::string reply = WithCrc("11 41 0A 0B 0C");
  const auto gap = std::chrono::milliseconds(master_.link().IdleGapMs());
  struct Row {
    const char* what;
    std::vector<std::string> parts;  // written with a pause shorter than the gap between them
    int result;
    int notes = 0;
  };
  const Row rows[] = {
      {"the reply", {reply}, MB_RESPONCE_OK},
      {"the reply in two parts", {reply.substr(0, 6), reply.substr(6)}, MB_RESPONCE_OK},
      {"noise before it", {"00 FF " + reply}, MB_RESPONCE_OK, 1},
      {"a damaged reply", {reply.substr(0, reply.size() - 2) + "00"}, MB_RESPONCE_INVALID_CRC},
      {"another device's frame: the wait goes on", {WithCrc("12 41 00")}, MB_RESPONCE_INCOMPLETE, 1},
      {"noise only: the wait goes on", {"55 AA 55"}, MB_RESPONCE_INCOMPLETE, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    notes_.clear();
    Send(request);
    for (const std::string& part : row.parts) {
      Device(part);
      EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_INCOMPLETE) << "taken before the line was quiet";
      std::this_thread::sleep_for(gap / 5);
    }
    int result = MB_RESPONCE_INCOMPLETE;
    for (int i = 0; i < 3 && ReplyPending(result); ++i) {
      std::this_thread::sleep_for(gap);
      result = master_.ReadResponse();
    }
    if (ReplyPending(row.result)) {
      EXPECT_TRUE(ReplyPending(result)) << result;
    } else {
      EXPECT_EQ(result, row.result);
    }
    EXPECT_EQ(static_cast<int>(notes_.size()), row.notes) << (notes_.empty() ? "" : notes_.back());
    if (row.result == MB_RESPONCE_OK) {
      EXPECT_EQ(HexOf(master_.ResponsePdu(), static_cast<std::size_t>(master_.ResponsePduSize())), "41 0A 0B 0C");
      EXPECT_EQ(master_.byte_count, 0);
    }
  }
  Send(request);
  Device(WithCrc("11 C1 01"));
  EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_EXCEPTION);
  EXPECT_EQ(master_.exception_code, 1);
}

// No device answers a broadcast, nor a device told to listen only: the exchange ends as the
// request goes. A read is never broadcast.
TEST_F(ReadResponse, a_request_that_no_device_answers_awaits_no_reply) {
  for (const std::string& hex : {WithCrc("00 06 00 01 00 03"), WithCrc("00 15 0D 06 00 04 00 07 00 03 06 AF 04 BE 10 0D"),
                                 WithCrc("11 08 00 04 00 00")}) {
    SCOPED_TRACE(hex);
    const auto frame = Bytes(hex);
    EXPECT_FALSE(ExpectsReply(frame.data(), static_cast<int>(frame.size())));
    Send(hex);
    EXPECT_FALSE(master_.AwaitsReply());
    Device(hex);  // whatever comes is no reply
    EXPECT_EQ(master_.ReadResponse(), MB_RESPONCE_EMPTY);
  }
  for (const std::string& hex : {WithCrc("00 03 00 00 00 01"), WithCrc("00 17 00 03 00 06 00 0E 00 01 02 00 FF")}) {
    SCOPED_TRACE(hex);
    const auto frame = Bytes(hex);
    EXPECT_FALSE(ExpectsReply(frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(master_.SendRequest(frame.data(), static_cast<int>(frame.size())), 0);
    pollfd p{pty_.master(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 50), 0) << "nothing went on the line";
  }
  const auto read = Bytes(kRequest);
  EXPECT_TRUE(ExpectsReply(read.data(), static_cast<int>(read.size())));
}
