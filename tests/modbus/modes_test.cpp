// ModbusMaster in ASCII on a pseudo-terminal and in Modbus TCP and RTU over TCP on a loopback
// connection: the test plays the device, sending the bytes of each tick before the master
// reads them.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "support/Hex.h"
#include "support/Pty.h"
#include "support/TcpPeer.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::HexOf;
using vantrel::test::Pty;
using vantrel::test::TcpListener;

namespace {

// Slave 1, function 3, two registers; the reply carries 10 and 11.
const auto kRead = Bytes("01 03 00 00 00 02 C4 0B");
const auto kWrite = Bytes("11 06 00 01 00 03 9A 9B");
// Requests of other functions, slave 0x11; their CRC, which these modes do not send, is left 0.
const auto kReadWrite = Bytes("11 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF 00 00");
const auto kDiagnostics = Bytes("11 08 00 00 A5 37 00 00");
const auto kOwnFunction = Bytes("11 41 01 02 00 00");  // a function the program does not know
const std::string kReadWriteReply = "11 17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF";

struct Row {
  const char* what;
  std::vector<std::string> ticks;
  std::vector<int> results;
  int notes = 0;  // debug lines naming noise or skipped frames
  const std::vector<std::uint8_t>* request = &kRead;
};

// Rows run one after the other on one master, as polls do.
class Modes : public ::testing::Test {
 protected:
  void Run(const Row& row) {
    SCOPED_TRACE(row.what);
    notes_.clear();
    ASSERT_EQ(master_.SendRequest(row.request->data(), static_cast<int>(row.request->size())), 1);
    Sent(*row.request);
    ASSERT_EQ(row.ticks.size(), row.results.size());
    for (std::size_t t = 0; t < row.ticks.size(); ++t) {
      Device(Fill(row.ticks[t]));
      EXPECT_EQ(master_.ReadResponse(), row.results[t]) << "tick " << t;
    }
    EXPECT_EQ(static_cast<int>(notes_.size()), row.notes) << (notes_.empty() ? "" : notes_.back());
    if (row.results.back() == MB_RESPONCE_OK && row.request == &kRead) {
      EXPECT_EQ(HexOf(master_.data, master_.byte_count), "00 0A 00 0B");
    }
  }
  // Takes the request off the line and checks its framing.
  virtual void Sent(const std::vector<std::uint8_t>& request) = 0;
  // The device writes these bytes; returns once the master's link has them.
  virtual void Device(const std::vector<std::uint8_t>& bytes) = 0;
  virtual std::vector<std::uint8_t> Fill(const std::string& tick) { return Bytes(tick); }

  Line line_;
  ModbusMaster& master_ = line_.master();
  std::vector<std::string> notes_;
};

class Ascii : public Modes {
 protected:
  void SetUp() override {
    line_.SetMode(ModbusMode::Ascii);
    ASSERT_EQ(line_.serial().OpenDevice(pty_.path(), 115200, 'N', 8, 1), 1);
    master_.note = [this](const std::string& line) { notes_.push_back(line); };
  }
  void Sent(const std::vector<std::uint8_t>& request) override {
    char line[64] = {};
    const ssize_t n = read(pty_.master(), line, sizeof line);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(line, static_cast<std::size_t>(n)),
              EncodeAscii(request.data(), static_cast<int>(request.size()) - 2));
  }
  // Ticks are text here: the characters on the line.
  std::vector<std::uint8_t> Fill(const std::string& tick) override { return {tick.begin(), tick.end()}; }
  void Device(const std::vector<std::uint8_t>& bytes) override {
    if (bytes.empty()) return;
    ASSERT_EQ(write(pty_.master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    for (int i = 0; i < 200 && master_.link().WaitReadable(10) != 1; ++i) {
    }
  }
  Pty pty_;
};

TEST_F(Ascii, frames_from_colon_to_cr_lf_with_their_lrc) {
  const std::string reply = ":010304000A000BE3\r\n";
  const Row rows[] = {
      {"whole", {reply}, {MB_RESPONCE_OK}},
      {"straddling two ticks", {":010304000A", "000BE3\r\n"}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}},
      {"in lower case", {":010304000a000be3\r\n"}, {MB_RESPONCE_OK}},
      {"nothing yet", {""}, {MB_RESPONCE_EMPTY}},
      {"noise before it", {"\x7f\x00" + reply}, {MB_RESPONCE_OK}, 1},
      {"a frame cut short and started afresh", {":0103" + reply}, {MB_RESPONCE_OK}, 1},
      {"noise only", {"garbage\r\n"}, {MB_RESPONCE_INCOMPLETE}, 1},
      {"a bad LRC", {":010304000A000BE4\r\n"}, {MB_RESPONCE_INVALID_LRC}},
      {"no hex digits", {":01030400ZA000BE3\r\n"}, {MB_RESPONCE_INVALID_LRC}},
      {"another device's good reply, then ours", {":020304000A000BE2\r\n", reply},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"the reply to another read", {":010404000A000BE2\r\n" + reply}, {MB_RESPONCE_OK}, 1},
      {"too short a reply", {":01030200" "0AF0\r\n"}, {MB_RESPONCE_INCOMPLETE}, 1},
      {"an exception", {":0183027A\r\n"}, {MB_RESPONCE_EXCEPTION}},
      {"a function code the utility has no use for", {":016602000097\r\n"}, {MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE}},
      {"the echo of a write", {":110600010003E5\r\n"}, {MB_RESPONCE_OK}, 0, &kWrite},
      {"the echo of another address", {":110600020003E4\r\n"}, {MB_RESPONCE_WRITE_ECHO_MISMATCH}, 0, &kWrite},
  };
  for (const Row& row : rows) Run(row);
  // the binary frame that the characters carry is what request and response hold
  Run(rows[0]);
  EXPECT_EQ(HexOf(master_.request, master_.request_size), "01 03 00 00 00 02 FA");
  EXPECT_EQ(HexOf(master_.response, master_.response_size), "01 03 04 00 0A 00 0B E3");
  Run({"short again", {":010302000AF0\r\n"}, {MB_RESPONCE_INCOMPLETE}, 1});
  EXPECT_TRUE(master_.SawShortReply());
  EXPECT_EQ(notes_[0], "Skipped a frame that does not answer the request (2 data bytes, not the 4 asked for): "
                       ":010302000AF0\\r\\n ");
  EXPECT_EQ(master_.ReceivedText(), ":010302000AF0\\r\\n ");
}

// The characters of an ASCII frame carrying these bytes.
std::string AsciiLine(const std::string& hex) {
  const auto b = Bytes(hex);
  return EncodeAscii(b.data(), static_cast<int>(b.size()));
}

TEST_F(Ascii, replies_of_the_other_functions_and_of_one_it_does_not_know) {
  std::string badLrc = AsciiLine(kReadWriteReply);
  badLrc[badLrc.size() - 3] = badLrc[badLrc.size() - 3] == '0' ? '1' : '0';
  const Row rows[] = {
      {"23", {AsciiLine(kReadWriteReply)}, {MB_RESPONCE_OK}, 0, &kReadWrite},
      {"23 after another device's", {AsciiLine("12 17 02 00 01") + AsciiLine(kReadWriteReply)}, {MB_RESPONCE_OK}, 1, &kReadWrite},
      {"23 with a bad LRC", {badLrc}, {MB_RESPONCE_INVALID_LRC}, 0, &kReadWrite},
      {"23 with two registers of six", {AsciiLine("11 17 04 00 FE 0A CD")}, {MB_RESPONCE_REPLY_MISMATCH}, 0, &kReadWrite},
      {"08 with other data echoed", {AsciiLine("11 08 00 00 A5 38")}, {MB_RESPONCE_REPLY_MISMATCH}, 0, &kDiagnostics},
      {"another function's frame, then the reply", {AsciiLine("11 03 02 00 01"), AsciiLine("11 41 0A 0B 0C")},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1, &kOwnFunction},
      {"its exception", {AsciiLine("11 C1 01")}, {MB_RESPONCE_EXCEPTION}, 0, &kOwnFunction},
      {"the reply of any size", {AsciiLine("11 41 0A 0B 0C")}, {MB_RESPONCE_OK}, 0, &kOwnFunction},
  };
  for (const Row& row : rows) Run(row);
  EXPECT_EQ(HexOf(master_.ResponsePdu(), static_cast<std::size_t>(master_.ResponsePduSize())), "41 0A 0B 0C");
  Run(rows[0]);
  EXPECT_EQ(HexOf(master_.data, master_.byte_count), "00 FE 0A CD 00 01 00 03 00 0D 00 FF");
}

class Tcp : public Modes {
 protected:
  void SetUp() override {
    line_.SetMode(ModbusMode::Tcp);
    master_.note = [this](const std::string& line) { notes_.push_back(line); };
    Connect();
  }
  void TearDown() override {
    if (peer_ >= 0) close(peer_);
  }
  void Connect() {
    if (peer_ >= 0) close(peer_);
    ASSERT_EQ(line_.tcp().Connect("127.0.0.1", listener_.port(), 5000), 1);
    peer_ = listener_.Accept();
    ASSERT_GE(peer_, 0);
  }
  void Sent(const std::vector<std::uint8_t>& request) override {
    std::uint8_t got[64];
    ASSERT_EQ(recv(peer_, got, sizeof got, 0), static_cast<ssize_t>(request.size() + 4));
    tid_ = static_cast<std::uint16_t>(got[0] << 8 | got[1]);
    // protocol 0, the length of the unit id and the PDU, the slave id as unit id; then the
    // PDU, without the CRC
    char header[32];
    std::snprintf(header, sizeof header, "00 00 00 %02X %02X", static_cast<unsigned>(request.size() - 2), request[0]);
    EXPECT_EQ(HexOf(got + 2, 5), header);
    EXPECT_EQ(HexOf(got + 7, request.size() - 3), HexOf(request.data() + 1, request.size() - 3));
  }
  // "TT TT" stands for the request's transaction id, "UU UU" for the one before it.
  std::vector<std::uint8_t> Fill(const std::string& tick) override {
    std::string hex = tick;
    char id[8];
    for (auto [mark, value] : {std::pair{"TT TT", tid_}, std::pair{"UU UU", static_cast<std::uint16_t>(tid_ - 1)}}) {
      std::snprintf(id, sizeof id, "%02X %02X", value >> 8, value & 0xFF);
      for (std::size_t at; (at = hex.find(mark)) != std::string::npos;) hex.replace(at, 5, id);
    }
    return Bytes(hex);
  }
  void Device(const std::vector<std::uint8_t>& bytes) override {
    if (bytes.empty()) return;
    ASSERT_TRUE(vantrel::test::SendAll(peer_, bytes.data(), static_cast<int>(bytes.size())));
    for (int i = 0; i < 200 && master_.link().WaitReadable(10) != 1; ++i) {
    }
  }

  TcpListener listener_;
  int peer_ = -1;
  std::uint16_t tid_ = 0;
};

TEST_F(Tcp, mbap_frames_of_this_transaction_only) {
  const std::string reply = "TT TT 00 00 00 07 01 03 04 00 0A 00 0B";
  const Row rows[] = {
      {"whole", {reply}, {MB_RESPONCE_OK}},
      {"split over three segments", {"TT TT 00", "00 00 07 01 03", "04 00 0A 00 0B"},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}},
      {"a late reply, then ours", {"UU UU 00 00 00 07 01 03 04 00 01 00 02", reply},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"a late reply and ours in one segment", {"UU UU 00 00 00 07 01 03 04 00 01 00 02 " + reply}, {MB_RESPONCE_OK}, 1},
      {"only another transaction: the wait goes on", {"UU UU 00 00 00 07 01 03 04 00 0A 00 0B"},
       {MB_RESPONCE_INCOMPLETE}, 1},
      {"another protocol", {"TT TT 00 01 00 07 01 03 04 00 01 00 02", reply}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"another unit", {"TT TT 00 00 00 07 02 03 04 00 01 00 02", reply}, {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"too short a reply", {"TT TT 00 00 00 05 01 03 02 00 0A"}, {MB_RESPONCE_INCOMPLETE}, 1},
      {"an exception", {"TT TT 00 00 00 03 01 83 02"}, {MB_RESPONCE_EXCEPTION}},
      {"a function code the utility has no use for", {"TT TT 00 00 00 05 01 66 02 00 00"},
       {MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE}},
      {"a byte count that its length does not fit", {"TT TT 00 00 00 06 01 03 04 00 0A 00", reply},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1},
      {"the echo of a write", {"TT TT 00 00 00 06 11 06 00 01 00 03"}, {MB_RESPONCE_OK}, 0, &kWrite},
      {"the echo of another value", {"TT TT 00 00 00 06 11 06 00 01 00 04"}, {MB_RESPONCE_WRITE_ECHO_MISMATCH}, 0, &kWrite},
  };
  for (const Row& row : rows) Run(row);
  EXPECT_EQ(HexOf(master_.response, master_.response_size), HexOf(Fill("TT TT 00 00 00 06 11 06 00 01 00 04")));
  EXPECT_EQ(HexOf(master_.request, master_.request_size), HexOf(Fill("TT TT 00 00 00 06 11 06 00 01 00 03")));
}

TEST_F(Tcp, replies_of_the_other_functions_and_of_one_it_does_not_know) {
  const Row rows[] = {
      {"23", {"TT TT 00 00 00 0F " + kReadWriteReply}, {MB_RESPONCE_OK}, 0, &kReadWrite},
      {"23 a late one first", {"UU UU 00 00 00 0F " + kReadWriteReply + " TT TT 00 00 00 0F " + kReadWriteReply},
       {MB_RESPONCE_OK}, 1, &kReadWrite},
      {"23 with two registers of six", {"TT TT 00 00 00 07 11 17 04 00 FE 0A CD"}, {MB_RESPONCE_REPLY_MISMATCH}, 0,
       &kReadWrite},
      {"08 echo", {"TT TT 00 00 00 06 11 08 00 00 A5 37"}, {MB_RESPONCE_OK}, 0, &kDiagnostics},
      {"another unit, then the reply", {"TT TT 00 00 00 05 12 41 0A 0B 0C", "TT TT 00 00 00 03 11 41 0A"},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1, &kOwnFunction},
      {"the reply of any size", {"TT TT 00 00 00 05 11 41 0A 0B 0C"}, {MB_RESPONCE_OK}, 0, &kOwnFunction},
  };
  for (const Row& row : rows) Run(row);
  EXPECT_EQ(HexOf(master_.ResponsePdu(), static_cast<std::size_t>(master_.ResponsePduSize())), "41 0A 0B 0C");
}

// The transaction id goes up by one a request; a late reply's bytes are never cut from the
// stream, so that the frames after it are still found.
TEST_F(Tcp, a_reply_given_up_half_way_does_not_break_the_stream) {
  Run({"the first half arrives, then the time-out", {"TT TT 00 00 00 07 01 03"}, {MB_RESPONCE_INCOMPLETE}});
  const std::uint16_t first = tid_;
  master_.AbandonExchange(5000);
  Run({"its second half, then the next reply", {"04 00 01 00 02", "TT TT 00 00 00 07 01 03 04 00 0A 00 0B"},
       {MB_RESPONCE_INCOMPLETE, MB_RESPONCE_OK}, 1});
  EXPECT_EQ(tid_, first + 1);
  const std::string skipped = "Skipped a reply to another transaction (" + std::to_string(first) + ", not " +
                              std::to_string(tid_) + "), a late one: ";
  EXPECT_EQ(notes_[0].substr(0, skipped.size()), skipped);
}

TEST_F(Tcp, an_impossible_length_ends_the_connection) {
  for (const char* header : {"TT TT 00 00 FF FF 01", "TT TT 00 00 00 01 01", "TT TT 00 00 00 FF 01 03"}) {
    SCOPED_TRACE(header);
    Run({"", {header}, {MB_RESPONCE_BAD_MBAP_LENGTH}, 1});
    EXPECT_EQ(master_.IsOpen(), 0) << "the stream can no longer be followed";
    EXPECT_FALSE(master_.link().DeviceLost()) << "closed on purpose, not lost";
    EXPECT_NE(notes_[0].find("no frame can have; the connection is closed"), std::string::npos) << notes_[0];
    std::uint8_t byte;
    EXPECT_EQ(recv(peer_, &byte, 1, 0), 0) << "the device sees the connection closed";
    Connect();
    Run({"and on a new connection all is well", {"TT TT 00 00 00 07 01 03 04 00 0A 00 0B"}, {MB_RESPONCE_OK}});
  }
}

TEST(RtuOverTcp, rtu_frames_over_a_tcp_connection) {
  TcpListener listener;
  Line line;
  ModbusMaster& master = line.master();
  line.SetMode(ModbusMode::RtuOverTcp);
  EXPECT_EQ(&master.link(), &line.tcp());
  ASSERT_EQ(line.tcp().Connect("127.0.0.1", listener.port(), 5000), 1);
  const int peer = listener.Accept();
  ASSERT_EQ(master.SendRequest(kRead.data(), 8), 1);
  std::uint8_t got[16];
  ASSERT_EQ(recv(peer, got, sizeof got, 0), 8);
  EXPECT_EQ(HexOf(got, 8), HexOf(kRead)) << "the RTU frame as it is";
  const auto reply = Bytes("00 01 03 04 00 0A 00 0B 9B F6");  // after a noise byte
  ASSERT_TRUE(vantrel::test::SendAll(peer, reply.data(), static_cast<int>(reply.size())));
  ASSERT_EQ(master.link().WaitReadable(5000), 1);
  EXPECT_EQ(master.ReadResponse(), MB_RESPONCE_OK);
  EXPECT_EQ(HexOf(master.data, master.byte_count), "00 0A 00 0B");
  // a change of mode closes the link in use
  line.SetMode(ModbusMode::Rtu);
  EXPECT_EQ(line.tcp().IsOpen(), 0);
  EXPECT_EQ(&master.link(), &line.serial());
  close(peer);
}

}  // namespace

// A peer that sends frames of other transactions without a pause cannot hold a caller of
// ReadResponse: each call takes a bounded number of bytes, and the frames skipped are named
// for the first few, then summed up in one note for the exchange, in every mode.
TEST(Flood, each_read_is_bounded_and_the_skipped_frames_are_summed_up) {
  const std::string ascii = ":020304000100" "02F4\r\n";  // slave 2's reply
  const struct {
    ModbusMode mode;
    std::vector<std::uint8_t> frame;
  } rows[] = {
      {ModbusMode::Rtu, Bytes("02 03 04 00 01 00 02 19 32")},
      {ModbusMode::Ascii, {ascii.begin(), ascii.end()}},
      {ModbusMode::Tcp, Bytes("77 77 00 00 00 07 01 03 04 00 01 00 02")},  // not transaction 1
      {ModbusMode::RtuOverTcp, Bytes("02 03 04 00 01 00 02 19 32")},
  };
  constexpr long long kFrames = 3000;
  for (const auto& row : rows) {
    SCOPED_TRACE(ModeName(row.mode));
    Line line;
    ModbusMaster& master = line.master();
    std::vector<std::string> notes;
    master.note = [&](const std::string& line) { notes.push_back(line); };
    line.SetMode(row.mode);
    Pty pty;
    TcpListener listener;
    int peer = pty.master();
    if (IsNetworkMode(row.mode)) {
      ASSERT_EQ(line.tcp().Connect("127.0.0.1", listener.port(), 5000), 1);
      peer = listener.Accept();
    } else {
      ASSERT_EQ(line.serial().OpenDevice(pty.path(), 115200, 'N', 8, 1), 1);
    }
    ASSERT_EQ(master.SendRequest(kRead.data(), static_cast<int>(kRead.size())), 1);
    std::uint8_t request[64];
    ASSERT_GT(read(peer, request, sizeof request), 0);
    std::atomic<bool> stop{false};
    long long sent = 0;
    std::thread flood([&] { sent = vantrel::test::Flood(peer, row.frame, stop, kFrames); });
    // A TCP connection holds the whole flood before the first read: a read that took all
    // there is would take it at once.
    if (IsNetworkMode(row.mode)) flood.join();
    const long long total = kFrames * static_cast<long long>(row.frame.size());
    for (int calls = 0; master.ReceivedBytes() < total && calls < 10000; ++calls) {
      const long long before = master.ReceivedBytes();
      const int result = master.ReadResponse();
      EXPECT_TRUE(ReplyPending(result)) << result;
      EXPECT_LE(master.ReceivedBytes() - before, ModbusMaster::kReadBudget);
      if (!ReplyPending(result)) break;
      if (master.ReceivedBytes() == before) master.link().WaitReadable(1000);
    }
    if (flood.joinable()) flood.join();
    EXPECT_EQ(sent, kFrames);
    EXPECT_EQ(master.ReceivedBytes(), total);
    EXPECT_EQ(master.UnexplainedBytes(), 0) << "every frame skipped whole";
    master.AbandonExchange(0);
    EXPECT_EQ(notes.size(), static_cast<std::size_t>(ModbusMaster::kNamedPerExchange + 1));
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0].rfind("Skipped a ", 0), 0u) << notes[0];
    EXPECT_EQ(notes.back(), "Skipped 3000 frames of other transactions in this exchange, the first 5 named above");
    if (peer != pty.master()) close(peer);
  }
}
