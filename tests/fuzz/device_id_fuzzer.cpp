// Read Device Identification (43/14): the size of a reply, its objects, and the reader that
// gathers them over several replies. The invariants: a size is never more than a PDU holds
// and does not change as the rest of the reply arrives; a reply that parses encodes back to
// the same bytes; the reader asks at most kMaxRequests times, each time 2B 0E and a read
// code, and its text holds no control character.
//
// Input: replies, each a length byte and its PDU bytes (function code first).
#include <cstdint>
#include <vector>

#include "FuzzInput.h"
#include "modbus/DeviceIdentification.h"

using namespace vantrel;
using vantrel::fuzz::FuzzInput;
using vantrel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  DeviceIdReader reader;
  int taken = 0;
  while (!in.Done()) {
    const std::vector<std::uint8_t> pdu = in.Chunk();
    const int n = static_cast<int>(pdu.size());
    const int whole = DeviceIdReplySize(pdu.data(), n);
    Require(whole <= 253, "a reply size above the most a PDU holds");
    for (int part = 0; part < n && whole > 0; ++part) {
      const int known = DeviceIdReplySize(pdu.data(), part);
      Require(known == 0 || known == whole, "a reply size that changes as more bytes arrive");
    }
    DeviceIdReply reply;
    const bool parsed = ParseDeviceIdReply(pdu.data(), n, reply);
    if (parsed) {
      Require(whole == n, "a reply parsed that is not whole");
      Require(DeviceIdReplyPdu(reply) == pdu, "a parsed reply that does not encode back to its bytes");
    } else if (whole == n && n >= 7 && pdu[0] == kEncapsulatedInterface) {
      Require(pdu[4] != 0x00 && pdu[4] != 0xFF, "a whole reply refused for no reason");
    }

    const std::vector<std::uint8_t> next = reader.NextRequest();
    Require(reader.Done() == next.empty(), "a request asked for after the reader is done");
    if (reader.Done()) continue;
    Require(next.size() == 4 && next[0] == kEncapsulatedInterface && next[1] == kMeiReadDeviceId &&
                (next[2] == kDeviceIdBasic || next[2] == kDeviceIdRegular),
            "a request that is no read of the basic or regular objects");
    if (parsed) {
      reader.Take(reply);
      Require(++taken <= DeviceIdReader::kMaxRequests, "more replies taken than requests allowed");
    }
  }
  for (const char c : reader.Text()) {
    Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a control character in the objects' text");
  }
  return 0;
}
