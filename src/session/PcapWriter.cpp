#include "session/PcapWriter.h"

#include <cmath>
#include <vector>

#include "modbus/Framing.h"

namespace vantrel {
namespace {

constexpr std::uint32_t kMasterAddress = 0x7F000001;  // 127.0.0.1
constexpr std::uint32_t kSlaveAddress = 0x7F000002;   // 127.0.0.2
constexpr std::uint16_t kMasterPort = 50200;
constexpr std::uint16_t kModbusPort = 502;
constexpr int kIpHeader = 20;
constexpr int kTcpHeader = 20;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v >> 16);
  Put16(p + 2, v & 0xFFFF);
}

// The Internet checksum (one's complement of the one's complement sum of 16-bit words),
// over a start value for the TCP pseudo header.
std::uint16_t Checksum(const std::uint8_t* p, std::size_t n, std::uint32_t sum = 0) {
  for (std::size_t i = 0; i + 1 < n; i += 2) sum += static_cast<std::uint32_t>((p[i] << 8) | p[i + 1]);
  if (n % 2) sum += static_cast<std::uint32_t>(p[n - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

}  // namespace

bool PcapWriter::Open(const std::string& path, double originEpochMs, std::string& error) {
  if (!file_.Open(path, error)) return false;
  originEpochMs_ = originEpochMs;
  masterSeq_ = slaveSeq_ = 1;
  packets_ = 0;
  return true;
}

bool PcapWriter::Write(const MonitorFrame& frame) {
  if (!file_.IsOpen() || frame.kind == FrameKind::Noise || frame.bytes.size() < 3) return false;
  // The PDU: the frame without its slave id and its check bytes.
  const int pdu = static_cast<int>(frame.bytes.size()) - 1 - frame.checkSize;
  if (pdu < 1) return false;
  const bool request = frame.kind == FrameKind::Request;
  const int payload = kMbapHeaderSize + pdu;
  const int total = kIpHeader + kTcpHeader + payload;
  std::vector<std::uint8_t> packet(static_cast<std::size_t>(total), 0);
  std::uint8_t* ip = packet.data();
  ip[0] = 0x45;
  Put16(ip + 2, static_cast<std::uint32_t>(total));
  Put16(ip + 4, ++ipId_);
  Put16(ip + 6, 0x4000);  // do not fragment
  ip[8] = 64;
  ip[9] = 6;  // TCP
  const std::uint32_t src = request ? kMasterAddress : kSlaveAddress;
  const std::uint32_t dst = request ? kSlaveAddress : kMasterAddress;
  Put32(ip + 12, src);
  Put32(ip + 16, dst);
  Put16(ip + 10, Checksum(ip, kIpHeader));
  std::uint8_t* tcp = ip + kIpHeader;
  Put16(tcp, request ? kMasterPort : kModbusPort);
  Put16(tcp + 2, request ? kModbusPort : kMasterPort);
  std::uint32_t& seq = request ? masterSeq_ : slaveSeq_;
  Put32(tcp + 4, seq);
  Put32(tcp + 8, request ? slaveSeq_ : masterSeq_);  // the next byte expected from the other side
  seq += static_cast<std::uint32_t>(payload);
  tcp[12] = (kTcpHeader / 4) << 4;
  tcp[13] = 0x18;  // PSH, ACK
  Put16(tcp + 14, 65535);
  std::uint8_t* mbap = tcp + kTcpHeader;
  PutMbap(mbap, static_cast<std::uint16_t>(frame.exchange), frame.slaveId, pdu);
  std::copy(frame.bytes.begin() + 1, frame.bytes.begin() + 1 + pdu, mbap + kMbapHeaderSize);
  // The pseudo header: addresses, protocol, TCP length.
  const std::uint32_t tcpLength = static_cast<std::uint32_t>(kTcpHeader + payload);
  const std::uint32_t pseudo = (src >> 16) + (src & 0xFFFF) + (dst >> 16) + (dst & 0xFFFF) + 6 + tcpLength;
  Put16(tcp + 16, Checksum(tcp, tcpLength, pseudo));

  const double ms = originEpochMs_ + frame.timeMs;
  const double seconds = std::floor(ms / 1000);
  const auto micros = static_cast<std::uint32_t>(std::lround((ms - seconds * 1000) * 1000) % 1000000);
  if (!file_.Write(static_cast<std::uint32_t>(seconds), micros, packet)) return false;
  ++packets_;
  return true;
}

void PcapWriter::Close() { file_.Close(); }

}  // namespace vantrel
