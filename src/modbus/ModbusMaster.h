// The Modbus master: the framing of the mode in use over the link it is given (a serial
// port, a TCP connection, a fake in a test), and the buffers of the last exchange.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "modbus/Framing.h"
#include "modbus/Link.h"
#include "modbus/ModbusFrame.h"

namespace vantrel {

class ModbusMaster {
 public:
  explicit ModbusMaster(Link& link) : link_(&link) {}
  ModbusMaster(const ModbusMaster&) = delete;
  ModbusMaster& operator=(const ModbusMaster&) = delete;

  // Bytes taken from the port in one read.
  static constexpr int kReadChunk = 1024;
  // Bytes one ReadResponse takes from the link at most: a peer that never stops sending
  // cannot keep the caller, whose own clock decides the time-out.
  static constexpr int kReadBudget = 16 * kReadChunk;
  // Noise and skipped frames named one by one in an exchange; the rest are counted, and
  // summed up in one note when the exchange ends.
  static constexpr int kNamedPerExchange = 5;

  // The mode: how requests and replies are framed. RTU until set. A change of mode closes
  // the link in use and drops what was gathered.
  void SetMode(ModbusMode mode);
  ModbusMode Mode() const { return mode_; }
  // The link the exchanges go over; opening it is its own business.
  Link& link() { return *link_; }
  const Link& link() const { return *link_; }
  // Every exchange from now on goes over link (the one of another mode); what was gathered
  // over the one before is dropped.
  void SetLink(Link& link);

  // Closes the link.
  int Close();
  int IsOpen() const { return link().IsOpen(); }

  // A serial line just opened may carry traffic already: another master's, or the rest of
  // a reply that an earlier program gave up on. Before the first request the line is let
  // go quiet as after an abandoned exchange (see AbandonExchange), for at most boundMs, and
  // what arrives meanwhile is dropped. Nothing to wait for on Modbus TCP.
  void AwaitQuietLine(int boundMs);

  // Sends a request and starts a new exchange. frame is the request as BuildReadRequest,
  // BuildWriteRequest and FrameRequest make it, the RTU frame (slave id, PDU, CRC), of any
  // function, known to the program (Functions.h) or not; the mode frames its slave
  // id and PDU: RTU and RTU over TCP as they are, ASCII as hex pairs between ':' and CR LF
  // with the LRC, TCP behind an MBAP header with the next transaction id and the slave id as
  // unit id. request then holds the request as the mode frames it (see LayoutOf; for ASCII
  // the bytes that its characters carry) and every decoded field is cleared. On the serial
  // line and RTU over TCP, bytes left over from the previous exchange (queued at the link or
  // gathered so far) are dropped, after an abandoned exchange or on a line just opened once
  // the line has gone quiet (see AbandonExchange, AwaitQuietLine); a Modbus TCP connection
  // is one stream whose late replies are told by their transaction id, so its bytes are
  // kept. 1 if the link took the bytes, else 0; the request is stored even when the link is
  // closed. Nothing happens for a missing frame, size 0, a frame without a PDU outside RTU,
  // a framed size above 260, or a request to slave id 0 (broadcast) of a function that may
  // not be broadcast (MayBroadcast). A request that no device answers (ExpectsReply: a
  // broadcast, 08 Force Listen Only Mode) ends its exchange as it goes: nothing is read for
  // it, and ReadResponse returns 0.
  int SendRequest(const std::uint8_t* frame, int size);
  // Whether the last request sent awaits a reply.
  bool AwaitsReply() const { return awaits_reply_; }

  // Takes what is queued at the link and adds it to the bytes gathered since the last send,
  // then looks in them for the reply to the request: a frame from the request's slave id
  // with its function (or the exception form of it) and, for a normal reply to a read, the
  // byte count that the quantity asked for needs (a write's reply is always 8 bytes in RTU),
  // whose check is right. A write's reply that echoes another address, value or quantity is
  // MB_RESPONCE_WRITE_ECHO_MISMATCH. Bytes before it are line noise;
  // frames that answer another question (another device, a late reply to an earlier
  // request) are skipped. Both are named through note. While no such frame is complete it
  // returns 0 (nothing yet) or MB_RESPONCE_INCOMPLETE; when none can come of the bytes
  // there are, the reply check of the first frame decides (an invalid CRC, say). After a
  // final result the exchange is over: later calls return 0 until the next send.
  // ASCII: frames run from ':' to CR LF; one with a bad LRC is MB_RESPONCE_INVALID_LRC.
  // TCP: a frame of another transaction (a late reply) is skipped; an MBAP length that no
  // frame can have closes the connection: MB_RESPONCE_BAD_MBAP_LENGTH.
  // The other functions of Functions.h are sized by ReplyPduSize: in RTU the first frame of
  // the request's slave id and function (or its exception) with a right CRC is the reply,
  // and CheckResponse has the last word on it; other devices' frames are skipped. A function
  // the program does not know has a reply of any size: in RTU the bytes there are once the
  // line has been quiet for the link's IdleGapMs, from the request's slave id and function
  // and with a right CRC (its exception, 5 bytes, is taken at once). ReadResponse never
  // waits, so that reply is taken on the first call after the quiet gap.
  int ReadResponse();

  // The caller gave up waiting for the reply (a time-out). Nothing more is read for this
  // exchange, and before the next request goes out the line is let go quiet (nothing
  // received for the link's IdleGapMs), for at most boundMs, so that the rest of a late
  // reply is not taken for the next answer (Modbus TCP needs no wait: its transaction id
  // tells a late reply).
  void AbandonExchange(int boundMs);

  // Frames of this exchange from the right slave id and function with a good CRC whose
  // byte count was smaller than the quantity needs: a device that answers too short.
  bool SawShortReply() const { return short_replies_ > 0; }
  // Every byte received since the last send, in hex as frames are logged (ASCII: as text),
  // the first kFrameCapacity bytes and a count of the rest, for explaining a failure.
  std::string ReceivedText() const;
  // Every byte received since the last send.
  long long ReceivedBytes() const { return received_count_; }
  // Bytes received since the last send that were not whole frames of other exchanges (another
  // device's reply, a late one): noise, or a frame that is no frame, or one not complete.
  long long UnexplainedBytes() const { return received_count_ - skipped_bytes_; }
  // The PDU of the last reply checked (function code and data), as every mode carries it.
  const std::uint8_t* ResponsePdu() const { return response + LayoutOf(mode_).header; }
  int ResponsePduSize() const {
    const FrameLayout l = LayoutOf(mode_);
    return std::max(0, static_cast<int>(response_size) - l.header - l.check);
  }

  // Where ReadResponse names the noise and the frames it skips, one line each for the first
  // kNamedPerExchange of an exchange, then one line for the whole exchange when it ends
  // ("Skipped 846 frames of other transactions ..."), and where the bytes dropped before a
  // request are named; unset, they are not named.
  std::function<void(const std::string&)> note;
  // Every byte the master writes to the link (sent) and reads from it, as it goes: the
  // requests as framed, the replies, and the noise, other exchanges' frames and late replies
  // it reads and skips or drops; unset, nothing. Bytes the driver discards unread before a
  // request are not among them.
  std::function<void(bool sent, const std::uint8_t* bytes, int size)> traffic;

  // Classifies reply against request (a read, a write or a device identification request,
  // 43/14), both framed as the mode frames them (without ASCII's characters), and fills the
  // decoded fields; a write's reply leaves byte_count 0, and request_quantity is 1 for 05
  // and 06. Any other request (Functions.h, or a function the program does not know): a
  // reply from another slave id or of another function is MB_RESPONCE_UNKOWN, a wrong check
  // MB_RESPONCE_INVALID_CRC or _LRC, then CheckReplyPdu decides; a function the program does
  // not know takes any normal reply, and an exception of 2 PDU bytes. Their replies fill
  // byte_count and data with the values that follow a byte count (12, 17, 20, 23) or the
  // FIFO's registers (24); request_address and request_quantity are those of the registers
  // read by 23, the address of 22 (quantity 1) and of 24's FIFO. A known function's request
  // that CheckRequestPdu refuses is MB_RESPONCE_UNSUPPORTED_REQUEST.
  int CheckResponse(const std::uint8_t* req, int reqSize, const std::uint8_t* reply,
                    int replySize);

  std::uint8_t request[kFrameCapacity] = {};
  // Sizes up to 260 do not fit a byte, so these are 16 bits wide.
  std::uint16_t request_size = 0;
  std::uint8_t response[kFrameCapacity] = {};
  std::uint16_t response_size = 0;
  std::uint8_t data[kFrameCapacity] = {};
  std::uint8_t byte_count = 0;
  std::uint8_t response_function = 0;
  std::uint8_t exception_function = 0;
  std::uint8_t exception_code = 0;
  std::uint8_t request_function = 0;
  std::uint8_t request_slave_id = 0;
  std::uint16_t request_address = 0;
  std::uint16_t request_quantity = 0;

 private:
  // Bytes kept while looking for the reply: more than a frame, so that noise or a skipped
  // frame before it does not push it out.
  static constexpr int kGatherCapacity = 4 * static_cast<int>(kFrameCapacity);

  // Reads what the link has and looks for the reply among the bytes gathered, as the mode
  // frames it.
  int GatherRtu();
  int GatherDelimited();
  int FindRtuReply();
  int FindAsciiReply();
  int FindMbapReply();
  // Whether one whole frame of a delimited framing, its check passed, answers the request:
  // a final result, or kNotTheReply with why.
  int JudgeFrame(const std::uint8_t* frame, int size, std::string& why);
  bool CheckBytesMatch(const std::uint8_t* frame, int size) const;
  // Bytes as notes show them: hex, or for ASCII the characters.
  std::string Shown(const std::uint8_t* bytes, int size) const;
  void NoteReceived(const std::uint8_t* bytes, int size);
  // Writes to the link, telling traffic what went.
  int Send(const std::uint8_t* bytes, int size);
  // Removes the first count gathered bytes, naming them with what they were; wholeFrame: a
  // frame of another exchange, not noise.
  void Drop(int count, const std::string& what, bool wholeFrame = false);
  // The note that sums up what the exchange skipped beyond the ones named.
  void SumUpSkipped();
  // Waits until nothing has come for the link's IdleGapMs, at most the bound that
  // AbandonExchange or AwaitQuietLine set, dropping whatever arrives.
  void DrainLine();
  // Read Device Identification (43/14): the reply's size comes from its objects.
  int FindDeviceIdReply();
  int CheckDeviceIdResponse(int replySize);
  // The other functions of Functions.h, whose replies ReplyPduSize sizes, and those the
  // program does not know, whose replies end in a quiet line.
  int FindSizedReply();
  int FindUnsizedReply();
  int CheckPduResponse(int reqSize, int replySize);

  std::uint8_t pending_[kGatherCapacity] = {};
  int pending_size_ = 0;
  bool exchange_over_ = true;  // no request sent yet, or a final result given
  bool awaits_reply_ = false;
  std::chrono::steady_clock::time_point last_arrival_{};  // of the newest bytes gathered
  int short_replies_ = 0;
  std::string received_;  // the first bytes since the send
  long long received_count_ = 0;
  long long skipped_bytes_ = 0;
  // What the exchange skipped: each Drop, and the frames and noise bytes among them.
  long long drops_ = 0;
  long long skipped_frames_ = 0;
  long long noise_bytes_ = 0;
  int drain_bound_ms_ = -1;  // >= 0: let the line go quiet before the next request
  const char* drain_what_ = "";  // what the bytes dropped then are
  ModbusMode mode_ = ModbusMode::Rtu;
  Link* link_;
  std::uint16_t transaction_ = 0;  // of the last Modbus TCP request
  unsigned stream_ = 0;            // the connection that the gathered bytes came over
};

// Size of the complete frame that starts with these bytes: byte count + 5 for a normal
// reply, 5 for an exception, 0 when not known yet, -1 when the function code names no
// frame we can measure (the check then decides on the bytes there are).
int ExpectedReplySize(const std::uint8_t* reply, int size);

// Whether a device answers the request frame (slave id, PDU, CRC, as SendRequest takes it):
// not for a broadcast (slave id 0), nor for 08 Force Listen Only Mode.
bool ExpectsReply(const std::uint8_t* frame, int size);

}  // namespace vantrel
