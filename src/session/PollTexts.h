// The texts with which the poll cycle explains a failure, shared by the main window and
// the command-line poller so that both say the same.
#pragma once

#include <cstdint>
#include <string>

#include "modbus/Framing.h"
#include "modbus/ModbusFrame.h"  // HexBytes

namespace vantrel {

// The line settings as the messages show them: "COM %d:%d,%c,%d,%d".
std::string ConnectionText(int comPort, int baudRate, char parity, int dataBits, int stopBits);
// The same for a port given by its device path: "/dev/ttyUSB0:9600,N,8,1".
std::string DeviceConnectionText(const std::string& device, int baudRate, char parity, int dataBits, int stopBits);
// A network mode's connection as the messages show it: "TCP 192.168.1.20:502",
// "RTU over TCP 10.0.0.7:4001".
std::string NetworkConnectionText(ModbusMode mode, const std::string& host, int port);

// "Error - Can not connect to the serial port ..." ending in the serial post settings.
std::string CannotConnectText(const std::string& connection);
// "Error - Can not poll device ..." ending in the serial post settings.
std::string CannotPollText(const std::string& connection);
// "Error - Can not write to the device ..." ending in the serial port settings.
std::string CannotWriteText(const std::string& connection);
// "Error - Can not connect to the device ..." for a network connection that failed: the
// cause in plain words (error: TcpConnection::LastError; timeoutMs: the time it was given),
// ending in the connection.
std::string CannotConnectNetworkText(const std::string& connection, int error, int timeoutMs);
// "Error - The connection has been lost ...": the device closed (error EPIPE, or 0 when
// nothing more is known) or reset the connection, or it failed otherwise, during what
// ("reads", "writes").
std::string ConnectionLostText(const std::string& connection, int error, const char* what);
// "Error - RS-485 mode is not available ...": the driver of device refused it (error:
// SerialPort::LastError).
std::string Rs485ErrorText(const std::string& device, int error);
// "Error - Can not generate read message ...".
std::string CannotGenerateText();
// "Error - Timeout ..." ending in "Poll: " and the request bytes; a write's says that the
// write got no answer and ends in "Write: " and its bytes.
std::string TimeoutText(const std::uint8_t* request, int requestSize);
std::string WriteTimeoutText(const std::uint8_t* request, int requestSize);
// The same for a request of any function (the Test center, Diagnostics, vantrel-poll --raw).
std::string RequestTimeoutText(const std::uint8_t* request, int requestSize);
// The message for a reply check result other than OK, exception and "not complete yet".
std::string ReplyErrorText(int result);
// The request check's message for MB_REQUEST_OUT_OF_RANGE, MB_REQUEST_TOO_LONG and the
// MB_REQUEST_BAD_ codes (a slave id, offset or length that does not fit the frame); empty for
// any other code.
std::string RequestErrorText(int check);
// The write check's message for a code of CheckWriteRequest other than OK.
std::string WriteRequestErrorText(int check);
// The message for a request PDU refused by CheckRequest (modbus/Functions.h) or by one of its
// builders, a raw request's among them; empty for MB_REQUEST_OK and codes they do not give.
std::string PduRequestErrorText(int check);
// Why an item that the read function reads cannot be written: discrete inputs (2) and
// input registers (4) are read-only in Modbus. Empty for coils and holding registers.
std::string ReadOnlyText(int readFunction);

inline constexpr char kUnknownFunctionCodePanic[] = "Unknown function code ";
inline constexpr char kUnknownValidationPanic[] = "Unknown request validation response";

}  // namespace vantrel
