#include "session/PollTexts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "modbus/ModbusFrame.h"
#include "net/TcpConnection.h"
#include "platform/Platform.h"

namespace vantrel {
namespace {

const char kCausesAndSettings[] =
    "This problem could have been because\n"
    "- The serial port is already in use\n"
    "- The serial post does not exist \n"
    "- The serial port settings are out of range\n"
    "\n"
    "Please check your connection settings and try again. \n"
    "Serial post settings: ";

std::string WithCode(const char* format, int code) {
  char buf[512];
  std::snprintf(buf, sizeof buf, format, code);
  return buf;
}

}  // namespace

std::string DeviceConnectionText(const std::string& device, int baudRate, char parity, int dataBits, int stopBits) {
  char buf[64];
  std::snprintf(buf, sizeof buf, ":%d,%c,%d,%d", baudRate, parity, dataBits, stopBits);
  return device + buf;
}

std::string ConnectionText(int comPort, int baudRate, char parity, int dataBits, int stopBits) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "COM %d:%d,%c,%d,%d", comPort, baudRate, parity, dataBits,
                stopBits);
  return buf;
}

std::string NetworkConnectionText(ModbusMode mode, const std::string& host, int port) {
  return std::string(ModeName(mode)) + " " + HostPortText(host, port);
}

std::string CannotConnectNetworkText(const std::string& connection, int error, int timeoutMs) {
  std::string cause;
  switch (error) {
    case ECONNREFUSED:
      cause = "The host answered, but nothing accepts connections on that port. Check the port "
              "(502 is Modbus TCP's own), and that the device or gateway serves Modbus TCP on it.";
      break;
    case ETIMEDOUT: {
      char text[200];
      std::snprintf(text, sizeof text,
                    "No answer came within %g seconds: the host may be switched off or out of reach, its "
                    "address may be wrong, or a firewall drops the connection.",
                    timeoutMs / 1000.0);
      cause = text;
      break;
    }
    case EHOSTUNREACH:
    case ENETUNREACH:
      cause = "There is no route to that host. Check its address and this computer's network connection.";
      break;
    case kHostNotFound:
      cause = "The host name could not be found. Check its spelling, or give its IP address.";
      break;
    default:
      cause = std::string("The connection failed: ") + platform::ErrorText(error) + ".";
      break;
  }
  return "Error - Can not connect to the device\n\n" + cause +
         "\n\nPlease check your connection settings and try again. \nConnection: " + connection;
}

std::string ConnectionLostText(const std::string& connection, int error, const char* what) {
  const std::string how = error == EPIPE || error == 0 ? "closed the connection"
                          : error == ECONNRESET ? "reset the connection"
                                                : std::string("lost the connection (") + platform::ErrorText(error) + ")";
  return "Error - The connection has been lost\n\nThe device at " + connection + " " + how + " during " + what +
         ": it may have restarted, or the network between was interrupted.";
}

std::string Rs485ErrorText(const std::string& device, int error) {
  return "Error - RS-485 mode is not available\n\nThe driver of " + device + " has no RS-485 mode (" +
         platform::ErrorText(error) +
         "), so it cannot raise RTS while sending. \n"
         "- Use an adapter that switches the line's direction by itself, and turn RS-485 off \n"
         "- Or use a port whose driver offers RS-485 mode";
}

std::string CannotConnectText(const std::string& connection) {
  return std::string("Error - Can not connect to the serial port\n\n") + kCausesAndSettings +
         connection;
}

std::string CannotPollText(const std::string& connection) {
  return std::string("Error - Can not poll device \n\n") + kCausesAndSettings + connection;
}

std::string CannotWriteText(const std::string& connection) {
  return std::string("Error - Can not write to the device \n\n") + kCausesAndSettings + connection;
}

std::string CannotGenerateText() {
  return "Error - Can not generate read message\n"
         "There was an error while attempting to generate the read message.\n"
         "Check your connection and request settings and try again";
}

namespace {

std::string TimeoutWithFrame(const char* what, const char* again, const char* label, const std::uint8_t* request,
                             int requestSize) {
  return std::string("Error - Timeout\n"
                     "\n"
                     "This device has taken too long to respond to ") +
         what +
         ". \n"
         "The device may have gone off line since the last poll. \n"
         "- Check that the device is online. \n"
         "- Check the connection to the device \n"
         "- Check the connection string \n"
         "\n" +
         again + "\n\n" + label + HexBytes(request, requestSize);
}

}  // namespace

std::string TimeoutText(const std::uint8_t* request, int requestSize) {
  return TimeoutWithFrame("one of the polls", "Try to poll the device once again.", "Poll: ", request, requestSize);
}

std::string WriteTimeoutText(const std::uint8_t* request, int requestSize) {
  // The write may or may not have been made: the device's values tell.
  return TimeoutWithFrame("the write", "Read the values back, then try the write again.", "Write: ", request,
                          requestSize);
}

std::string RequestTimeoutText(const std::uint8_t* request, int requestSize) {
  return TimeoutWithFrame("the request", "Check the function and its data, then send it again.", "Request: ", request,
                          requestSize);
}

std::string ReplyErrorText(int result) {
  switch (result) {
    case MB_RESPONCE_UNSUPPORTED_REQUEST:
    case MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE:
      return WithCode(
          "Error - Non supported function code\n\nThe response contained a function code that "
          "is not currently supported by this utility. \nCheck your request settings and try "
          "again \n\nmb_responce_code=%d - MB_RESPONCE_UNSUPPORTED_MESSAGE_TYPE",
          result);
    case MB_RESPONCE_INVALID_FUNCTION_CODE:
      return WithCode(
          "Error - Invalid function code \n\nThe response from your device seems to be "
          "invalid. \nCheck your connection and request settings and try again "
          "\n\nmb_responce_code=%d - MB_RESPONCE_INVALID_FUNCTION_CODE",
          result);
    case MB_RESPONCE_INVALID_CRC:
      return WithCode(
          "Error - invalid CRC check\n\nThe response from your device contains an invalid CRC "
          "check. \nCheck your connection and request settings and try again "
          "\nmb_responce_code=%d - MB_RESPONCE_INVALID_CRC",
          result);
    case MB_RESPONCE_INVALID_LRC:
      return WithCode(
          "Error - invalid LRC check\n\nThe response from your device contains an invalid LRC "
          "check. \nCheck your connection and request settings and try again "
          "\nmb_responce_code=%d - MB_RESPONCE_INVALID_LRC",
          result);
    case MB_RESPONCE_BAD_MBAP_LENGTH:
      return WithCode(
          "Error - Invalid Modbus TCP header\n\nThe device sent a reply whose header gives a length that "
          "no Modbus frame can have (2 to 254 bytes). The replies after it could not be told apart, so "
          "the connection was closed; it is made again for the next request. \nCheck that the host and "
          "port are a Modbus TCP device's (a gateway that passes RTU frames on needs RTU over TCP) and "
          "try again \nmb_responce_code=%d - MB_RESPONCE_BAD_MBAP_LENGTH",
          result);
    case MB_RESPONCE_REPLY_MISMATCH:
      return WithCode(
          "Error - The reply does not answer the request\n\nThe device answered with a good check, but with "
          "fields that do not fit the request: another sub-function or other data echoed, another number of "
          "registers or records than were asked for, or a count that its bytes do not fill. \nCheck your "
          "request and the device and try again \nmb_responce_code=%d - MB_RESPONCE_REPLY_MISMATCH",
          result);
    case MB_RESPONCE_WRITE_ECHO_MISMATCH:
      return WithCode(
          "Error - The write was not confirmed\n\nThe device answered with another address or quantity "
          "(or, for one item, another value) than the write asked for, so the values may not have been "
          "written. \nRead the values back, check your request and try again "
          "\nmb_responce_code=%d - MB_RESPONCE_WRITE_ECHO_MISMATCH",
          result);
    default:
      return WithCode(
          "Error - Unknown\n\nAn unknown error has occurred \nCheck your connection and request "
          "settings and try again \nmb_responce_code=%d - MB_RESPONCE_UNKOWN",
          result);
  }
}

std::string RequestErrorText(int check) {
  switch (check) {
    case MB_REQUEST_OUT_OF_RANGE:
      return "Error - Request is out of range\nThe request asks for a value that is out of "
             "range in the Modbus spec\n\nCheck your offset and length and try again. \n";
    case MB_REQUEST_TOO_LONG:
      return "Error - The message is too long\nThe requested length is longer then the max "
             "request length defined in the Modbus spec\n\n01 read coil status max request "
             "length is 2000\n02 read input status max request length is 2000\n03 read holding "
             "registers max request length is 125 \n04 read input registers max request length "
             "is 125 \n\nShorten the request length and try again \n";
    case MB_REQUEST_BAD_SLAVE_ID:
      return "Error - The slave id is out of range\nA request goes to one slave id from 1 to 255; 0 "
             "is the broadcast address, which no device answers.\n\nCheck your slave id and try "
             "again. \n";
    case MB_REQUEST_BAD_OFFSET:
      return "Error - The offset is out of range\nThe offset counts from 1: the first value is "
             "offset 1, the last there can be is offset 65536.\n\nCheck your offset and try again. \n";
    case MB_REQUEST_BAD_LENGTH:
      return "Error - The length is out of range\nA request asks for at least 1 value: up to 2000 "
             "coils or inputs, or up to 125 registers.\n\nCheck your length and try again. \n";
    default:
      return "";
  }
}

std::string WriteRequestErrorText(int check) {
  switch (check) {
    case MB_REQUEST_WRITE_BAD_QUANTITY:
      return "Error - Too many values for one write\nOne request writes 1 coil or register with "
             "function 05 or 06, up to 1968 coils with function 15, or up to 123 registers with "
             "function 16.\n\nWrite fewer values and try again. \n";
    case MB_REQUEST_WRITE_OUT_OF_RANGE:
      return "Error - The write is out of range\nThe values written would go past the last address "
             "there is, 65535 (offset 65536).\n\nCheck your offset and the number of values and try "
             "again. \n";
    case MB_REQUEST_UNKNOWN_FUNCTION_CODE:
      return "Error - Only coils and holding registers can be written\nThe write functions are 05, "
             "06, 15 and 16.\n";
    default:
      return RequestErrorText(check);
  }
}

std::string PduRequestErrorText(int check) {
  switch (check) {
    case MB_REQUEST_BAD_PDU_SIZE:
      return "Error - The request does not fit its function\nA request is a function code and up to 252 "
             "data bytes, laid out as its function has them: 07, 11, 12 and 17 carry no data; 08 a "
             "sub-function and data words (one word for all sub-functions but 00); 20 and 21 a byte count "
             "and the references it counts; 15, 16 and 23 a byte count that the values written fill."
             "\n\nCheck the request's bytes and try again. \n";
    case MB_REQUEST_BAD_QUANTITY:
      return "Error - The quantity is out of range\nOne request reads up to 2000 coils or inputs or up to "
             "125 registers (23 too), and writes up to 1968 coils, up to 123 registers, or up to 121 with "
             "23; each file record reference asks for at least one register, and the records read must "
             "fit in one reply.\n\nCheck the quantities and try again. \n";
    case MB_REQUEST_BAD_FIELD:
      return "Error - A field of the request is out of range\nThe function does not take that value: a "
             "coil is written with FF00 (on) or 0000 (off); file records have reference type 6, file "
             "numbers 1 to 65535 and record numbers 0 to 9999; diagnostics sub-functions other than 00 "
             "carry 0000 (01 also FF00, which clears the event log); device identification read codes are "
             "1 to 4.\n\nCheck the request's fields and try again. \n";
    case MB_REQUEST_NO_BROADCAST:
      return "Error - This request cannot be broadcast\nSlave id 0 is the broadcast address: every device "
             "takes the request and no device answers a broadcast, so a request that reads has no use "
             "there. Only writes may be broadcast: functions 05, 06, 15, 16, 21 and 22.\n\nChoose a slave "
             "id from 1 to 255 and try again. \n";
    case MB_REQUEST_UNKNOWN_FUNCTION_CODE:
      return "Error - Invalid function code\nA request's function code is 1 to 127: 0 is no function, and "
             "128 and up are the codes of exception replies.\n\nCheck the function code and try again. \n";
    case MB_REQUEST_BAD_SLAVE_ID:
      return "Error - The slave id is out of range\nA request goes to one slave id from 1 to 255, or a "
             "write to 0, the broadcast address.\n\nCheck your slave id and try again. \n";
    case MB_REQUEST_OUT_OF_RANGE:
    case MB_REQUEST_WRITE_OUT_OF_RANGE:
      return "Error - The request goes past the last address\nWhat it reads or writes would go past "
             "address 65535 (offset 65536), or past record 9999 of a file.\n\nCheck the address and the "
             "quantity and try again. \n";
    default:
      return "";
  }
}

std::string ReadOnlyText(int readFunction) {
  switch (readFunction) {
    case 2:
      return "Discrete inputs are read-only\n\nModbus has no function to write a discrete input: "
             "the device sets it from what it senses. Only coils (function 01) and holding "
             "registers (function 03) can be written.";
    case 4:
      return "Input registers are read-only\n\nModbus has no function to write an input "
             "register: the device sets it from what it measures. Only coils (function 01) and "
             "holding registers (function 03) can be written.";
    default:
      return "";
  }
}

}  // namespace vantrel
