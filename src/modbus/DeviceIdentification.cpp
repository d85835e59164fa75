#include "modbus/DeviceIdentification.h"

#include <algorithm>
#include <cstdio>

namespace vantrel {
namespace {

constexpr int kHeaderSize = 7;
constexpr int kMaxPduSize = 253;

}  // namespace

std::vector<std::uint8_t> DeviceIdRequestPdu(std::uint8_t readCode, std::uint8_t objectId) {
  return {kEncapsulatedInterface, kMeiReadDeviceId, readCode, objectId};
}

int DeviceIdReplySize(const std::uint8_t* pdu, int size) {
  if (size < 1) return 0;
  if (pdu[0] == (kEncapsulatedInterface | 0x80)) return 2;
  if (pdu[0] != kEncapsulatedInterface) return -1;
  if (size < 2) return 0;
  if (pdu[1] != kMeiReadDeviceId) return -1;
  if (size < kHeaderSize) return 0;
  int at = kHeaderSize;
  for (int object = 0; object < pdu[6]; ++object) {
    if (size < at + 2) return at + 2 > kMaxPduSize ? -1 : 0;
    at += 2 + pdu[at + 1];
    if (at > kMaxPduSize) return -1;
  }
  return at;
}

bool ParseDeviceIdReply(const std::uint8_t* pdu, int size, DeviceIdReply& reply) {
  if (size < kHeaderSize || DeviceIdReplySize(pdu, size) != size) return false;
  // More follows is 00 or FF; anything else is no reply the protocol knows.
  if (pdu[4] != 0x00 && pdu[4] != 0xFF) return false;
  DeviceIdReply r;
  r.readCode = pdu[2];
  r.conformity = pdu[3];
  r.moreFollows = pdu[4] == 0xFF;
  r.nextObjectId = pdu[5];
  for (int at = kHeaderSize, object = 0; object < pdu[6]; ++object) {
    const int length = pdu[at + 1];
    r.objects.push_back({pdu[at], std::string(reinterpret_cast<const char*>(pdu + at + 2), static_cast<std::size_t>(length))});
    at += 2 + length;
  }
  reply = std::move(r);
  return true;
}

std::vector<std::uint8_t> DeviceIdReplyPdu(const DeviceIdReply& reply) {
  std::vector<std::uint8_t> pdu{kEncapsulatedInterface,
                                kMeiReadDeviceId,
                                reply.readCode,
                                reply.conformity,
                                static_cast<std::uint8_t>(reply.moreFollows ? 0xFF : 0x00),
                                reply.nextObjectId,
                                static_cast<std::uint8_t>(reply.objects.size())};
  for (const DeviceIdObject& o : reply.objects) {
    const std::size_t length = std::min<std::size_t>(o.value.size(), 255);
    pdu.push_back(o.id);
    pdu.push_back(static_cast<std::uint8_t>(length));
    pdu.insert(pdu.end(), o.value.begin(), o.value.begin() + static_cast<long>(length));
  }
  return pdu;
}

std::string DeviceIdObjectName(std::uint8_t id) {
  static const char* const kNames[] = {"VendorName", "ProductCode", "MajorMinorRevision", "VendorUrl",
                                       "ProductName", "ModelName",  "UserApplicationName"};
  if (id < sizeof kNames / sizeof kNames[0]) return kNames[id];
  char text[24];
  std::snprintf(text, sizeof text, "%s 0x%02X", id < 0x80 ? "Reserved" : "Private", id);
  return text;
}

std::string PrintableText(const std::string& value) {
  std::string text;
  for (char c : value) text += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '.' : c;
  return text;
}

std::vector<std::uint8_t> DeviceIdReader::NextRequest() const {
  if (done_) return {};
  return DeviceIdRequestPdu(code_, next_);
}

bool DeviceIdReader::Take(const DeviceIdReply& reply) {
  if (done_) return false;
  ++requests_;
  if (reply.readCode != code_) {
    done_ = true;
    return false;
  }
  objects_.insert(objects_.end(), reply.objects.begin(), reply.objects.end());
  if (reply.moreFollows && reply.nextObjectId > next_) {
    next_ = reply.nextObjectId;
  } else if (code_ == kDeviceIdBasic && HasRegularObjects(reply.conformity)) {
    code_ = kDeviceIdRegular;
    next_ = 3;  // the first regular object
  } else {
    done_ = true;
  }
  if (requests_ >= kMaxRequests) done_ = true;
  return true;
}

std::string DeviceIdReader::Text() const {
  std::string text;
  for (const DeviceIdObject& o : objects_) {
    if (!text.empty()) text += "; ";
    text += DeviceIdObjectName(o.id) + ": " + PrintableText(o.value);
  }
  return text;
}

}  // namespace vantrel
