#include "session/PollTexts.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "modbus/ModbusFrame.h"
#include "net/TcpConnection.h"

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

TEST(poll_texts, the_new_reply_errors_carry_their_code) {
  EXPECT_EQ(ReplyErrorText(MB_RESPONCE_INVALID_LRC),
            "Error - invalid LRC check\n\nThe response from your device contains an invalid LRC "
            "check. \nCheck your connection and request settings and try again \n"
            "mb_responce_code=-10 - MB_RESPONCE_INVALID_LRC");
  const std::string mbap = ReplyErrorText(MB_RESPONCE_BAD_MBAP_LENGTH);
  EXPECT_EQ(mbap.rfind("Error - Invalid Modbus TCP header\n\n", 0), 0u);
  EXPECT_NE(mbap.find("(2 to 254 bytes)"), std::string::npos);
  EXPECT_NE(mbap.find("the connection was closed"), std::string::npos);
  const std::string code = "\nmb_responce_code=-11 - MB_RESPONCE_BAD_MBAP_LENGTH";
  EXPECT_EQ(mbap.substr(mbap.size() - code.size()), code);
}

// Network failures name host and port, and their cause in plain words.
TEST(poll_texts, network_connections_name_host_and_port) {
  EXPECT_EQ(NetworkConnectionText(ModbusMode::Tcp, "192.168.1.20", 502), "TCP 192.168.1.20:502");
  EXPECT_EQ(NetworkConnectionText(ModbusMode::RtuOverTcp, "fe80::7", 4001), "RTU over TCP [fe80::7]:4001");
  struct Row {
    int error;
    const char* cause;
  };
  const Row rows[] = {
      {ECONNREFUSED, "nothing accepts connections on that port"},
      {ETIMEDOUT, "No answer came within 2.5 seconds"},
      {EHOSTUNREACH, "There is no route to that host"},
      {ENETUNREACH, "There is no route to that host"},
      {kHostNotFound, "The host name could not be found"},
      {EACCES, "The connection failed: Permission denied."},
  };
  for (const Row& row : rows) {
    const std::string text = CannotConnectNetworkText("TCP 192.168.1.20:502", row.error, 2500);
    EXPECT_EQ(text.rfind("Error - Can not connect to the device\n\n", 0), 0u) << text;
    EXPECT_NE(text.find(row.cause), std::string::npos) << text;
    const std::string tail = "\nConnection: TCP 192.168.1.20:502";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
  }
  const Row lost[] = {{EPIPE, " closed the connection during reads:"},
                      {ECONNRESET, " reset the connection during reads:"},
                      {ETIMEDOUT, " lost the connection (Connection timed out) during reads:"}};
  for (const Row& row : lost) {
    const std::string text = ConnectionLostText("TCP 127.0.0.1:1502", row.error, "reads");
    EXPECT_EQ(text.rfind("Error - The connection has been lost\n\nThe device at TCP 127.0.0.1:1502", 0), 0u);
    EXPECT_NE(text.find(row.cause), std::string::npos) << text;
  }
}

TEST(poll_texts, rs485_refused_names_the_device_and_the_cause) {
  const std::string text = Rs485ErrorText("/dev/pts/4", ENOTTY);
  EXPECT_EQ(text.rfind("Error - RS-485 mode is not available\n\nThe driver of /dev/pts/4 has no RS-485 mode "
                       "(Inappropriate ioctl for device)",
                       0),
            0u)
      << text;
}

// A request refused by the codec of every function, a raw one among them, says why in its
// own words; so does a reply whose fields do not answer its request.
TEST(poll_texts, refused_requests_of_every_function_and_replies_that_do_not_answer) {
  const struct {
    int check;
    const char* title;
    const char* why;
  } rows[] = {
      {MB_REQUEST_BAD_PDU_SIZE, "Error - The request does not fit its function\n", "up to 252 data bytes"},
      {MB_REQUEST_BAD_QUANTITY, "Error - The quantity is out of range\n", "up to 121 with 23"},
      {MB_REQUEST_BAD_FIELD, "Error - A field of the request is out of range\n", "record numbers 0 to 9999"},
      {MB_REQUEST_NO_BROADCAST, "Error - This request cannot be broadcast\n", "no device answers a broadcast"},
      {MB_REQUEST_UNKNOWN_FUNCTION_CODE, "Error - Invalid function code\n", "1 to 127"},
      {MB_REQUEST_BAD_SLAVE_ID, "Error - The slave id is out of range\n", "from 1 to 255"},
      {MB_REQUEST_WRITE_OUT_OF_RANGE, "Error - The request goes past the last address\n", "record 9999"},
  };
  for (const auto& row : rows) {
    const std::string text = PduRequestErrorText(row.check);
    EXPECT_EQ(text.rfind(row.title, 0), 0u) << text;
    EXPECT_NE(text.find(row.why), std::string::npos) << text;
  }
  EXPECT_EQ(PduRequestErrorText(MB_REQUEST_OK), "");
  const std::string mismatch = ReplyErrorText(MB_RESPONCE_REPLY_MISMATCH);
  EXPECT_EQ(mismatch.rfind("Error - The reply does not answer the request\n\n", 0), 0u);
  const std::string code = "\nmb_responce_code=-12 - MB_RESPONCE_REPLY_MISMATCH";
  EXPECT_EQ(mismatch.substr(mismatch.size() - code.size()), code);
}
