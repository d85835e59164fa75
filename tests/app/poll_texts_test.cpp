#include "app/PollTexts.h"

#include <gtest/gtest.h>

#include "modbus/ModbusFrame.h"

using namespace vantrel;

TEST(poll_texts, reply_errors_carry_their_code) {
  EXPECT_EQ(ReplyErrorText(MB_RESPONCE_INVALID_CRC),
            "Error - invalid CRC check\n\nThe response from your device contains an invalid CRC "
            "check. \nCheck your connection and request settings and try again \n"
            "mb_responce_code=-7 - MB_RESPONCE_INVALID_CRC");
  const std::string unsupported = ReplyErrorText(MB_RESPONCE_UNSUPPORTED_REQUEST);
  EXPECT_NE(unsupported.find("mb_responce_code=-3 - MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE"),
            std::string::npos);
  EXPECT_NE(ReplyErrorText(-5).find("mb_responce_code=-5 - MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE"),
            std::string::npos);
  EXPECT_NE(ReplyErrorText(-4).find("Error - Invalid function code \n\n"), std::string::npos);
  EXPECT_NE(ReplyErrorText(-8).find("mb_responce_code=-8 - MB_RESPONCE_UNKOWN"), std::string::npos);
  EXPECT_NE(ReplyErrorText(42).find("mb_responce_code=42 - MB_RESPONCE_UNKOWN"), std::string::npos);
}

TEST(poll_texts, timeout_ends_with_the_request_bytes) {
  const std::uint8_t req[] = {0x0B, 0x01, 0x00, 0x00, 0x00, 0x14, 0x3D, 0x6F};
  const std::string text = TimeoutText(req, 8);
  EXPECT_EQ(text.rfind("Error - Timeout\n\nThis device has taken too long", 0), 0u);
  const std::string tail = "once again.\n\nPoll: 0B 01 00 00 00 14 3D 6F ";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(poll_texts, connection_failures_name_the_settings) {
  const std::string c = ConnectionText(3, 9600, 'N', 8, 1);
  EXPECT_EQ(c, "COM 3:9600,N,8,1");
  const std::string connect = CannotConnectText(c);
  EXPECT_EQ(connect.rfind("Error - Can not connect to the serial port\n\nThis problem", 0), 0u);
  EXPECT_NE(connect.find("- The serial post does not exist \n"), std::string::npos);
  EXPECT_EQ(connect.substr(connect.size() - 38), "Serial post settings: COM 3:9600,N,8,1");
  EXPECT_EQ(CannotPollText(c).rfind("Error - Can not poll device \n\n", 0), 0u);
}

TEST(poll_texts, request_check_messages) {
  EXPECT_EQ(RequestErrorText(MB_REQUEST_OUT_OF_RANGE).rfind("Error - Request is out of range\n", 0), 0u);
  EXPECT_NE(RequestErrorText(MB_REQUEST_TOO_LONG).find("03 read holding registers max request length is 125 \n"),
            std::string::npos);
  EXPECT_EQ(RequestErrorText(MB_REQUEST_UNKNOWN_FUNCTION_CODE), "");
  // each field's message names the range it allows
  EXPECT_NE(RequestErrorText(MB_REQUEST_BAD_SLAVE_ID).find("from 1 to 255"), std::string::npos);
  EXPECT_NE(RequestErrorText(MB_REQUEST_BAD_OFFSET).find("offset 65536"), std::string::npos);
  EXPECT_NE(RequestErrorText(MB_REQUEST_BAD_LENGTH).find("at least 1"), std::string::npos);
}

TEST(poll_texts, hex_bytes_each_followed_by_a_blank) {
  const std::uint8_t b[] = {0x01, 0xAB, 0x0F};
  EXPECT_EQ(HexBytes(b, 3), "01 AB 0F ");
  EXPECT_EQ(HexBytes(b, 0), "");
}
