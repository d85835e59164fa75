// Read Device Identification (function 43, MEI type 14) as vantrel-slave answers it: the
// objects it offers and its reply to each request, as a device of that conformity level
// gives it under the Modbus application protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vantrel::slave {

struct DeviceIdentity {
  // Object id -> value, sent in the order of the ids. The basic objects 0x00 to 0x02 are
  // always there; regular ones (0x03 to 0x06) and private ones (0x80 to 0xFF) where given.
  std::map<std::uint8_t, std::string> objects;
  bool offered = true;      // false: every 43/14 request gets exception 01
  int objectsPerReply = 0;  // at most this many objects per reply; 0: as many as fit a PDU

  // One object alone in a reply PDU of 253 bytes: its 7-byte header, the object's id and
  // length, and the value.
  static constexpr std::size_t kMaxValueSize = 253 - 7 - 2;

  // VendorName "Vantrel", ProductCode "vantrel-slave", MajorMinorRevision the project's
  // version, VendorUrl the vendor's web root, ProductName "Vantrel Modbus slave simulator",
  // ModelName "Simulator".
  static DeviceIdentity Defaults();
  // 0x81 with the basic objects only, 0x82 with regular ones, 0x83 with private ones: the
  // level, with single objects to be asked for too (+0x80).
  std::uint8_t Conformity() const;
  // Sets (or, for an empty value of an object above 0x02, removes) an object: false with a
  // reason for a reserved id (0x07 to 0x7F) or a value longer than kMaxValueSize.
  bool Set(std::uint8_t id, const std::string& value, std::string& error);
};

// The reply PDU to a request PDU of function 43 (function code first): a normal reply, or
// an exception (AB and its code): 01 for another MEI type than 14 or an identity not
// offered, 03 for a request of another length or a read device id code other than 01 to
// 04, 02 for one object (code 04) that is not there. A stream (codes 01 basic, 02 regular,
// 03 extended, each with the categories below it) goes on from the object asked for, or
// from the beginning when that object is not in it; what does not fit one reply (or
// objectsPerReply) follows in the next, "more follows" naming the object to ask from.
std::vector<std::uint8_t> AnswerDeviceId(const DeviceIdentity& identity, const std::uint8_t* pdu, std::size_t size);

}  // namespace vantrel::slave
