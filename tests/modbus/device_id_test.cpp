#include "modbus/DeviceIdentification.h"

#include <gtest/gtest.h>

#include "support/Hex.h"

using namespace vantrel;
using vantrel::test::Bytes;

namespace {

// 2B 0E code conformity more next count, then objects: "VT" (vendor), "P1" (product).
const std::string kBasic = "2B 0E 01 82 00 00 02 00 02 56 54 01 02 50 31";

}  // namespace

// The size is known once the last object's length has come; bytes that are no such reply
// are told at once.
TEST(device_id, reply_size_from_the_objects) {
  const auto full = Bytes(kBasic);
  for (int n = 0; n <= static_cast<int>(full.size()); ++n) {
    EXPECT_EQ(DeviceIdReplySize(full.data(), n), n < 13 ? 0 : 15) << n;
  }
  const struct {
    const char* hex;
    int size;
  } cases[] = {
      {"AB 01", 2},                                // exception: illegal function
      {"2B 0E 01 01 00 00 00", 7},                 // no objects
      {"03 02 00 01", -1},                         // another function
      {"2B 0D 01", -1},                            // another MEI type
      {"2B 0E 01 01 00 00 02 00 F0", 0},           // the second object's header is still to come
      {"2B 0E 01 01 00 00 02 00 F8", -1},          // objects longer than a PDU can be
  };
  for (const auto& c : cases) {
    const auto b = Bytes(c.hex);
    EXPECT_EQ(DeviceIdReplySize(b.data(), static_cast<int>(b.size())), c.size) << c.hex;
  }
}

// Basic objects, then the regular ones the conformity level promises, with "more follows"
// taken up from the next object id; the objects named, in the order received.
TEST(device_id, reader_gathers_basic_and_regular_objects) {
  DeviceIdReader reader;
  const struct {
    const char* request;  // expected next request
    const char* reply;
  } steps[] = {
      {"2B 0E 01 00", kBasic.c_str()},
      {"2B 0E 02 03", "2B 0E 02 82 FF 05 01 03 03 77 77 77"},  // more follows, from object 5
      {"2B 0E 02 05", "2B 0E 02 82 00 00 01 05 02 4D 0A"},     // a control character in a value
  };
  for (const auto& s : steps) {
    EXPECT_EQ(reader.NextRequest(), Bytes(s.request));
    const auto b = Bytes(s.reply);
    DeviceIdReply reply;
    ASSERT_TRUE(ParseDeviceIdReply(b.data(), static_cast<int>(b.size()), reply)) << s.reply;
    EXPECT_TRUE(reader.Take(reply));
  }
  EXPECT_TRUE(reader.Done());
  EXPECT_TRUE(reader.NextRequest().empty());
  EXPECT_EQ(reader.Text(), "VendorName: VT; ProductCode: P1; VendorUrl: www; ModelName: M.");

  // A basic-only device is done after one reply; one that says "more follows" without moving
  // on, or answers another code, is not asked again.
  for (const char* hex : {"2B 0E 01 01 00 00 01 00 01 41", "2B 0E 01 01 FF 00 01 00 01 41", "2B 0E 02 01 00 00 00"}) {
    DeviceIdReader once;
    const auto b = Bytes(hex);
    DeviceIdReply reply;
    ASSERT_TRUE(ParseDeviceIdReply(b.data(), static_cast<int>(b.size()), reply)) << hex;
    once.Take(reply);
    EXPECT_TRUE(once.Done()) << hex;
  }
  // "More follows" must be 00 or FF.
  const auto bad = Bytes("2B 0E 01 01 01 00 00");
  DeviceIdReply reply;
  EXPECT_FALSE(ParseDeviceIdReply(bad.data(), static_cast<int>(bad.size()), reply));
  EXPECT_EQ(DeviceIdObjectName(0x07), "Reserved 0x07");
  EXPECT_EQ(DeviceIdObjectName(0x80), "Private 0x80");
}

// Encoding is parsing's inverse: the same bytes back, more follows as FF.
TEST(device_id, reply_encoded_as_parsed) {
  for (const std::string& hex : {kBasic, std::string("2B 0E 02 82 FF 05 01 03 03 77 77 77"), std::string("2B 0E 04 81 00 00 00")}) {
    const auto b = Bytes(hex);
    DeviceIdReply reply;
    ASSERT_TRUE(ParseDeviceIdReply(b.data(), static_cast<int>(b.size()), reply)) << hex;
    EXPECT_EQ(DeviceIdReplyPdu(reply), b) << hex;
  }
}
