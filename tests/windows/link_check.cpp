// The Windows links checked end to end, under wine until the programs themselves run
// there: reads holding registers from a Modbus slave over a COM port (RTU) or TCP, through
// nothing but the Link interface and the codec's frames, and says what came back.
//
//   link_check serial PORT BAUD PARITY DATA STOP ID FIRST COUNT
//   link_check tcp HOST:PORT ID FIRST COUNT
//
// Exit 0 when the reply is whole and answers the request (each register printed as
// "REGISTER=VALUE"); 3 on a time-out; 4 on a lost device or connection; 1 on anything else.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "modbus/Link.h"
#include "modbus/ModbusFrame.h"
#include "net/TcpConnection.h"
#include "platform/Platform.h"
#include "serial/SerialPort.h"

namespace {

using namespace vantrel;
using Clock = std::chrono::steady_clock;

constexpr int kReplyTimeoutMs = 2000;

int Usage() {
  std::fprintf(stderr,
               "usage: link_check serial PORT BAUD PARITY DATA STOP ID FIRST COUNT\n"
               "       link_check tcp HOST:PORT ID FIRST COUNT\n");
  return 1;
}

// Takes bytes until want of them are there, the time-out passes or the link fails.
int Gather(Link& link, std::vector<std::uint8_t>& reply, std::size_t want) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
  while (reply.size() < want) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 3;
    const int ready = link.WaitReadable(static_cast<int>(left));
    if (ready < 0 || link.DeviceLost()) return 4;
    if (ready == 0) continue;
    std::uint8_t chunk[512];
    const int n = link.Read(chunk, static_cast<int>(sizeof chunk));
    if (link.DeviceLost()) return 4;
    reply.insert(reply.end(), chunk, chunk + n);
  }
  return 0;
}

int Report(const std::uint8_t* pdu, int first, int count) {
  if (pdu[0] != 0x03) {
    std::fprintf(stderr, "reply: function %02X, exception %02X\n", pdu[0], pdu[1]);
    return 1;
  }
  if (pdu[1] != 2 * count) {
    std::fprintf(stderr, "reply: %d bytes of registers, %d asked for\n", pdu[1], 2 * count);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    std::printf("%d=%d\n", first + i, (pdu[2 + 2 * i] << 8) | pdu[3 + 2 * i]);
  }
  return 0;
}

int ReadSerial(int port, int baud, char parity, int data, int stop, int id, int first, int count) {
  SerialPort link;
  if (!link.Open(port, baud, parity, data, stop)) {
    std::fprintf(stderr, "COM%d: cannot be opened: %s\n", port, platform::ErrorText(link.LastError()).c_str());
    return 1;
  }
  std::uint8_t request[8];
  if (BuildReadRequest(0x03, static_cast<std::uint8_t>(id), static_cast<std::uint16_t>(first),
                       static_cast<std::uint16_t>(count), request) != 8) {
    return Usage();
  }
  link.Write(request, 8);
  if (link.LastError() != 0) {
    std::fprintf(stderr, "COM%d: the request was not sent: %s\n", port, platform::ErrorText(link.LastError()).c_str());
    return link.DeviceLost() ? 4 : 1;
  }
  std::vector<std::uint8_t> reply;
  const std::size_t whole = 5 + 2 * static_cast<std::size_t>(count);
  const int gathered = Gather(link, reply, whole);
  if (gathered != 0) {
    std::fprintf(stderr, "COM%d: %zu of %zu bytes of the reply%s%s\n", port, reply.size(), whole,
                 gathered == 3 ? " before the time-out" : ", then the device was gone: ",
                 gathered == 3 ? "" : platform::ErrorText(link.LastError()).c_str());
    return gathered;
  }
  if (reply[0] != id || Crc16(reply.data(), static_cast<std::uint16_t>(whole - 2)) !=
                            ((reply[whole - 2] << 8) | reply[whole - 1])) {
    std::fprintf(stderr, "COM%d: a reply of another id or with a bad CRC: %s\n", port,
                 HexBytes(reply.data(), static_cast<int>(reply.size())).c_str());
    return 1;
  }
  return Report(reply.data() + 1, first, count);
}

int ReadTcp(const std::string& where, int id, int first, int count) {
  std::string host;
  int portNumber = 0;
  if (!ParseHostPort(where, kModbusTcpPort, host, portNumber)) return Usage();
  TcpConnection link;
  if (!link.Connect(host, portNumber, kReplyTimeoutMs)) {
    std::fprintf(stderr, "%s: no connection: %s\n", where.c_str(), platform::ErrorText(link.LastError()).c_str());
    return link.LastError() == ETIMEDOUT ? 3 : 1;
  }
  std::uint8_t rtu[8];
  if (BuildReadRequest(0x03, static_cast<std::uint8_t>(id), static_cast<std::uint16_t>(first),
                       static_cast<std::uint16_t>(count), rtu) != 8) {
    return Usage();
  }
  // The MBAP header in place of the CRC: transaction 1, protocol 0, length of id and PDU.
  const std::uint8_t request[12] = {0, 1, 0, 0, 0, 6, rtu[0], rtu[1], rtu[2], rtu[3], rtu[4], rtu[5]};
  link.Write(request, 12);
  std::vector<std::uint8_t> reply;
  const std::size_t whole = 9 + 2 * static_cast<std::size_t>(count);
  const int gathered = Gather(link, reply, whole);
  if (gathered != 0) {
    std::fprintf(stderr, "%s: %zu of %zu bytes of the reply%s%s\n", where.c_str(), reply.size(), whole,
                 gathered == 3 ? " before the time-out" : ", then the connection was closed: ",
                 gathered == 3 ? "" : platform::ErrorText(link.LastError()).c_str());
    return gathered;
  }
  if (reply[0] != 0 || reply[1] != 1 || reply[6] != id) {
    std::fprintf(stderr, "%s: a reply to another request: %s\n", where.c_str(),
                 HexBytes(reply.data(), static_cast<int>(reply.size())).c_str());
    return 1;
  }
  return Report(reply.data() + 7, first, count);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 10 && std::strcmp(argv[1], "serial") == 0) {
    return ReadSerial(std::atoi(argv[2]), std::atoi(argv[3]), argv[4][0], std::atoi(argv[5]),
                      std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8]), std::atoi(argv[9]));
  }
  if (argc == 6 && std::strcmp(argv[1], "tcp") == 0) {
    return ReadTcp(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  }
  return Usage();
}
