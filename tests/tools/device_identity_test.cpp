#include "DeviceIdentity.h"

#include <gtest/gtest.h>

#include "modbus/DeviceIdentification.h"
#include "support/Hex.h"

using namespace vantrel::slave;
using vantrel::test::Bytes;
using vantrel::test::HexOf;

namespace {

// VendorName "VT", ProductCode "P1", MajorMinorRevision "R2", VendorUrl "U", ModelName "M".
DeviceIdentity Sample(int perReply = 0) {
  DeviceIdentity d;
  d.objects = {{0x00, "VT"}, {0x01, "P1"}, {0x02, "R2"}, {0x03, "U"}, {0x05, "M"}};
  d.objectsPerReply = perReply;
  return d;
}

std::string Answer(const DeviceIdentity& d, const std::string& request) {
  const auto pdu = Bytes(request);
  return HexOf(AnswerDeviceId(d, pdu.data(), pdu.size()));
}

const char kBasicReply[] = "2B 0E 01 82 00 00 03 00 02 56 54 01 02 50 31 02 02 52 32";
const char kRegularTail[] = "00 00 05 00 02 56 54 01 02 50 31 02 02 52 32 03 01 55 05 01 4D";

}  // namespace

// Header: function, MEI type, read code, conformity, more follows, next object, count.
TEST(device_identity, answers_each_read_code) {
  const struct {
    int perReply;
    const char* request;
    std::string reply;
  } cases[] = {
      {0, "2B 0E 01 00", kBasicReply},
      {0, "2B 0E 01 03", kBasicReply},  // not a basic object: the stream from its start
      {0, "2B 0E 01 09", kBasicReply},
      {0, "2B 0E 02 00", std::string("2B 0E 02 82 ") + kRegularTail},
      {0, "2B 0E 02 04", std::string("2B 0E 02 82 ") + kRegularTail},  // no object 4
      {0, "2B 0E 02 03", "2B 0E 02 82 00 00 02 03 01 55 05 01 4D"},
      {0, "2B 0E 03 00", std::string("2B 0E 03 82 ") + kRegularTail},
      {0, "2B 0E 04 05", "2B 0E 04 82 00 00 01 05 01 4D"},
      {0, "2B 0E 04 00", "2B 0E 04 82 00 00 01 00 02 56 54"},
      // "more follows", two objects a reply, asked on from the next object id
      {2, "2B 0E 02 00", "2B 0E 02 82 FF 02 02 00 02 56 54 01 02 50 31"},
      {2, "2B 0E 02 02", "2B 0E 02 82 FF 05 02 02 02 52 32 03 01 55"},
      {2, "2B 0E 02 05", "2B 0E 02 82 00 00 01 05 01 4D"},
      {1, "2B 0E 01 02", "2B 0E 01 82 00 00 01 02 02 52 32"},
      // exceptions: 02 no such object, 03 bad read code or length, 01 another MEI type
      {0, "2B 0E 04 04", "AB 02"},
      {0, "2B 0E 04 80", "AB 02"},
      {0, "2B 0E 00 00", "AB 03"},
      {0, "2B 0E 05 00", "AB 03"},
      {0, "2B 0E 01", "AB 03"},
      {0, "2B 0E 01 00 00", "AB 03"},
      {0, "2B 0D 01 00", "AB 01"},
      {0, "2B", "AB 01"},
  };
  for (const auto& c : cases) EXPECT_EQ(Answer(Sample(c.perReply), c.request), c.reply) << c.request;
}

TEST(device_identity, conformity_follows_the_objects) {
  DeviceIdentity d = Sample();
  std::string error;
  EXPECT_EQ(d.Conformity(), 0x82);
  ASSERT_TRUE(d.Set(0x80, "serial 7", error)) << error;
  EXPECT_EQ(d.Conformity(), 0x83);
  // the private object comes with the extended stream only
  EXPECT_EQ(Answer(d, "2B 0E 02 00"), std::string("2B 0E 02 83 ") + kRegularTail);
  EXPECT_EQ(Answer(d, "2B 0E 03 05"), "2B 0E 03 83 00 00 02 05 01 4D 80 08 73 65 72 69 61 6C 20 37");
  for (std::uint8_t id : {0x00, 0x03, 0x05, 0x80}) ASSERT_TRUE(d.Set(id, "", error));  // removed; a basic one empty
  EXPECT_EQ(Answer(d, "2B 0E 02 00"), "2B 0E 02 81 00 00 03 00 00 01 02 50 31 02 02 52 32");
  EXPECT_FALSE(d.Set(0x07, "x", error));
  EXPECT_FALSE(d.Set(0x04, std::string(DeviceIdentity::kMaxValueSize + 1, 'x'), error));
  d.offered = false;
  EXPECT_EQ(Answer(d, "2B 0E 01 00"), "AB 01");
  EXPECT_EQ(DeviceIdentity::Defaults().Conformity(), 0x82);
}

// Objects that outgrow one reply PDU (253 bytes) follow in the next; the master's reader
// gathers them all.
TEST(device_identity, long_streams_are_continued_to_the_end) {
  DeviceIdentity d = Sample();
  std::string error;
  ASSERT_TRUE(d.Set(0x04, std::string(120, 'p'), error));
  ASSERT_TRUE(d.Set(0x06, std::string(DeviceIdentity::kMaxValueSize, 'a'), error));
  vantrel::DeviceIdReader reader;
  std::vector<std::string> replies;
  for (auto request = reader.NextRequest(); !request.empty(); request = reader.NextRequest()) {
    const auto pdu = AnswerDeviceId(d, request.data(), request.size());
    vantrel::DeviceIdReply reply;
    ASSERT_TRUE(vantrel::ParseDeviceIdReply(pdu.data(), static_cast<int>(pdu.size()), reply)) << HexOf(pdu);
    ASSERT_TRUE(reader.Take(reply));
    replies.push_back(HexOf(pdu).substr(0, 20) + " " + std::to_string(pdu.size()));
  }
  // basic; regular from 3 to 5, more follows from 6; object 6 alone, a full PDU
  EXPECT_EQ(replies, (std::vector<std::string>{"2B 0E 01 82 00 00 03 19", "2B 0E 02 82 FF 06 03 135",
                                                "2B 0E 02 82 00 00 01 253"}));
  ASSERT_EQ(reader.objects().size(), 7u);
}
