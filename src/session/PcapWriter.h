// The bus monitor's frames as a capture file that Wireshark and tshark open (libpcap's
// format, written as the frames come and flushed after each).
//
// A serial line has no link type that Wireshark's Modbus dissector reads with requests and
// replies told apart: its RTU dissector guesses the direction from the lengths, and only over
// TCP or UDP. So each request, reply or exception goes out as one Modbus/TCP packet in IPv4
// and TCP between two fixed loopback addresses, the master (127.0.0.1, port 50200) to the
// slave (127.0.0.2, port 502) for a request and back for a reply: the dissector tells a
// query from a response by port 502, and the MBAP header's transaction id (the monitor's
// exchange number) pairs a reply with its request, so that a reply's registers show with
// their addresses. The unit id is the slave id; the CRC or LRC, already checked, is left
// out as Modbus/TCP has none. Sequence numbers run on in each direction as a real stream's
// would. Noise and frames that failed their check are not written: they are no Modbus PDU.
#pragma once

#include <cstdint>
#include <string>

#include "session/MonitorDecode.h"
#include "session/PcapFile.h"

namespace vantrel {

class PcapWriter {
 public:
  PcapWriter() = default;
  ~PcapWriter() { Close(); }
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  // Creates (or empties) the file at path. originEpochMs is the wall-clock time (ms since
  // 1970) of the monitor's time 0: a packet's time is originEpochMs + the frame's timeMs.
  // False with error set when the file cannot be written.
  bool Open(const std::string& path, double originEpochMs, std::string& error);
  bool IsOpen() const { return file_.IsOpen(); }
  // Writes a request, reply or exception as a packet, and flushes the file; noise is left
  // out. False when not open, or the frame is not written.
  bool Write(const MonitorFrame& frame);
  // Flushes and closes; nothing when not open.
  void Close();
  long Packets() const { return packets_; }

 private:
  PcapFile file_;
  double originEpochMs_ = 0;
  std::uint32_t masterSeq_ = 1;  // the next sequence number from the master
  std::uint32_t slaveSeq_ = 1;   // and from the slave
  std::uint16_t ipId_ = 0;
  long packets_ = 0;
};

}  // namespace vantrel
