#include "DeviceIdentity.h"

#include "Version.h"
#include "modbus/DeviceIdentification.h"

namespace vantrel::slave {
namespace {

constexpr int kMaxPduSize = 253;
constexpr int kReplyHeaderSize = 7;

std::vector<std::uint8_t> Exception(std::uint8_t code) { return {kEncapsulatedInterface | 0x80, code}; }

}  // namespace

DeviceIdentity DeviceIdentity::Defaults() {
  DeviceIdentity d;
  d.objects = {
      {0x00, "Vantrel"},
      {0x01, "vantrel-slave"},
      {0x02, kProjectVersion},
      {0x03, VANTREL_VENDOR_URL},
      {0x04, "Vantrel Modbus slave simulator"},
      {0x05, "Simulator"},
  };
  return d;
}

std::uint8_t DeviceIdentity::Conformity() const {
  const std::uint8_t highest = objects.empty() ? 0 : objects.rbegin()->first;
  return highest >= 0x80 ? 0x83 : highest >= 0x03 ? 0x82 : 0x81;
}

bool DeviceIdentity::Set(std::uint8_t id, const std::string& value, std::string& error) {
  if (id >= 0x07 && id < 0x80) {
    error = "object ids 0x07 to 0x7F are reserved (0 to 6 and 0x80 to 0xFF may be set)";
    return false;
  }
  if (value.size() > kMaxValueSize) {
    error = "an object's value is at most " + std::to_string(kMaxValueSize) + " bytes, to fit a reply";
    return false;
  }
  if (value.empty() && id > 0x02) {
    objects.erase(id);
  } else {
    objects[id] = value;
  }
  return true;
}

std::vector<std::uint8_t> AnswerDeviceId(const DeviceIdentity& identity, const std::uint8_t* pdu, std::size_t size) {
  if (size < 2 || pdu[1] != kMeiReadDeviceId || !identity.offered) return Exception(0x01);
  if (size != 4) return Exception(0x03);
  const std::uint8_t code = pdu[2];
  const std::uint8_t asked = pdu[3];
  if (code < kDeviceIdBasic || code > kDeviceIdSpecific) return Exception(0x03);

  DeviceIdReply reply;
  reply.readCode = code;
  reply.conformity = identity.Conformity();
  const auto& objects = identity.objects;
  if (code == kDeviceIdSpecific) {
    const auto it = objects.find(asked);
    if (it == objects.end()) return Exception(0x02);
    reply.objects.push_back({it->first, it->second});
    return DeviceIdReplyPdu(reply);
  }
  // Each stream holds the categories below it too: basic up to 0x02, regular up to 0x7F.
  const std::uint8_t last = code == kDeviceIdBasic ? 0x02 : code == kDeviceIdRegular ? 0x7F : 0xFF;
  auto from = objects.find(asked);
  if (from == objects.end() || asked > last) from = objects.begin();  // an unknown object: from the start
  int room = kMaxPduSize - kReplyHeaderSize;
  for (auto it = from; it != objects.end() && it->first <= last; ++it) {
    const int need = 2 + static_cast<int>(it->second.size());
    const bool full = (identity.objectsPerReply > 0 &&
                       static_cast<int>(reply.objects.size()) >= identity.objectsPerReply) ||
                      need > room;
    if (full && !reply.objects.empty()) {
      reply.moreFollows = true;
      reply.nextObjectId = it->first;
      break;
    }
    reply.objects.push_back({it->first, it->second});
    room -= need;
  }
  return DeviceIdReplyPdu(reply);
}

}  // namespace vantrel::slave
