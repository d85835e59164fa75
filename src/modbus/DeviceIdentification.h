// Read Device Identification (function 43, MEI type 14) as the Modbus application protocol
// defines it: the request, how long a reply is, and its objects. On PDU bytes (function code
// first), whatever frame carries them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

inline constexpr std::uint8_t kEncapsulatedInterface = 0x2B;  // function 43
inline constexpr std::uint8_t kMeiReadDeviceId = 0x0E;        // MEI type 14

// The read device id codes: the basic objects (00 to 02) or the regular ones (03 to 06)
// as a stream; extended (0x80 and up) and one object by id are not asked for here.
enum : std::uint8_t {
  kDeviceIdBasic = 1,
  kDeviceIdRegular = 2,
  kDeviceIdExtended = 3,
  kDeviceIdSpecific = 4,
};

// 2B 0E code objectId: 4 bytes.
std::vector<std::uint8_t> DeviceIdRequestPdu(std::uint8_t readCode, std::uint8_t objectId);

// Size of the complete reply PDU that starts with these bytes: the header of 7 bytes
// (function, MEI type, code, conformity, more follows, next object id, object count), then
// id, length and value of each object; 2 for an exception (0xAB and its code). 0 while it
// is not known yet, -1 when the bytes are no such reply (another function or MEI type, or
// more than 253 bytes, the most a PDU holds).
int DeviceIdReplySize(const std::uint8_t* pdu, int size);

struct DeviceIdObject {
  std::uint8_t id = 0;
  std::string value;
};

struct DeviceIdReply {
  std::uint8_t readCode = 0;
  std::uint8_t conformity = 0;  // 0x01 basic, 0x02 regular, 0x03 extended; +0x80 if single objects may be asked for
  bool moreFollows = false;     // the objects go on from nextObjectId in another request
  std::uint8_t nextObjectId = 0;
  std::vector<DeviceIdObject> objects;
};

// Decodes a complete normal reply (DeviceIdReplySize of it is its size); false when it is
// not one.
bool ParseDeviceIdReply(const std::uint8_t* pdu, int size, DeviceIdReply& reply);
// Encodes a normal reply, the inverse of ParseDeviceIdReply: the header (more follows as FF
// or 00, the object count) and each object's id, length and value. Values are cut at 255
// bytes, the most a length byte tells; keeping the whole within a PDU is the caller's part.
std::vector<std::uint8_t> DeviceIdReplyPdu(const DeviceIdReply& reply);

// "VendorName", "ProductCode", "MajorMinorRevision", "VendorUrl", "ProductName",
// "ModelName", "UserApplicationName"; "Reserved 0x07" up to 0x7F; "Private 0x80" above.
std::string DeviceIdObjectName(std::uint8_t id);

// A device's object value for a log or a terminal: control characters as '.', so that its
// bytes cannot break a line.
std::string PrintableText(const std::string& value);

// Whether a device of this conformity level has the regular objects.
constexpr bool HasRegularObjects(std::uint8_t conformity) { return (conformity & 0x7F) >= kDeviceIdRegular; }

// The objects, gathered over several replies: the requests to send next and the objects so
// far. Asks for the basic objects; when the device says it has regular ones too, for
// those; a reply with "more follows" asks again from its next object id. Bounded, so that a
// device that always says "more follows" cannot keep the caller forever.
class DeviceIdReader {
 public:
  // The next request PDU, empty when done.
  std::vector<std::uint8_t> NextRequest() const;
  // A normal reply to the last request; false (and done) when it does not fit the question.
  bool Take(const DeviceIdReply& reply);
  bool Done() const { return done_; }
  // No more requests (the device answered the last one with an exception, or not at all):
  // the objects so far are all there is.
  void Stop() { done_ = true; }
  const std::vector<DeviceIdObject>& objects() const { return objects_; }
  // "VendorName: Vantrel; ProductCode: VS-1; ..." in the order received; control
  // characters in a value show as '.', so that a device's bytes cannot break a log line.
  std::string Text() const;

  static constexpr int kMaxRequests = 16;

 private:
  std::uint8_t code_ = kDeviceIdBasic;
  std::uint8_t next_ = 0;
  int requests_ = 0;
  bool done_ = false;
  std::vector<DeviceIdObject> objects_;
};

}  // namespace vantrel
