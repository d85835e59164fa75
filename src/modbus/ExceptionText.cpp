#include "modbus/ExceptionText.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace vantrel {
namespace {

struct Entry {
  std::uint8_t code;
  std::initializer_list<const char*> lines;
};

// The exception codes of the Modbus application protocol, in the standard's words.
const Entry kEntries[] = {
    {0x01,
     {"0x01 - ILLEGAL FUNCTION\n",
      "The function code received in the query is not an allowable action for \n",
      "the server (or slave). This may be because the function code is only \n",
      "applicable to newer devices, and was not implemented in the unit selected. \n",
      "It could also indicate that the server (or slave) is in the wrong state to \n",
      "process a request of this type, for example because it is unconfigured and \n",
      "is being asked to return register values. \n"}},
    {0x02,
     {"0x02 - ILLEGAL DATA ADDRESS\n",
      "The data address received in the query is not an allowable address for \n",
      "the server (or slave). More specifically, the combination of reference \n",
      "number and transfer length is invalid. For a controller with 100 \n",
      "registers, a request with offset 96 and length 4 would succeed, offset \n",
      "96 and length 5 will generate exception 02.\n"}},
    {0x03,
     {"0x03 - ILLEGAL DATA VALUE\n",
      "A value contained in the query data field is not an allowable value for \n",
      "the server (or slave). This indicates a fault in the structure of the \n",
      "remainder of a complex request, such as that the implied length is \n",
      "incorrect. It specifically does NOT mean that a data item submitted for \n",
      "storage in a register has a value outside the expectation of the \n",
      "application program, since the MODBUS protocol is unaware of the \n",
      "significance of any particular value of any particular register. \n"}},
    {0x04,
     {"0x04 - SLAVE DEVICE FAILURE\n",
      "An unrecoverable error occurred while the server (or slave) was \n",
      "attempting to perform the requested action. \n"}},
    {0x05,
     {"0x05 - ACKNOWLEDGE \n",
      "Specialized use in conjunction with programming commands. \n",
      "The server (or slave) has accepted the request and is processing it, \n",
      "but a long duration of time will be required to do so. This response \n",
      "is returned to prevent a timeout error from occurring in the client \n",
      "(or master). The client (or master) can next issue a Poll Program \n",
      "Complete message to determine if processing is \n",
      "completed.  \n"}},
    {0x06,
     {"0x06 - SLAVE DEVICE BUSY\n",
      "Specialized use in conjunction with programming commands. \n",
      "The server (or slave) is engaged in processing a long-duration program \n",
      "command. The client (or master) should retransmit the message later \n",
      "when the server (or slave) is free. \n"}},
    {0x08,
     {"0x08 - MEMORY PARITY ERROR \n",
      "Specialized use in conjunction with function codes 20 and 21 and \n",
      "reference type 6, to indicate that the extended file area failed to \n",
      "pass a consistency check. \n",
      "The server (or slave) attempted to read a record file, but detected a \n",
      "parity error in the memory. The client (or master) can retry the \n",
      "request, but service may be required on the server (or slave) device. \n"}},
    {0x0A,
     {"0x0A - GATEWAY PATH UNAVAILABLE  \n",
      "Specialized use in conjunction with gateways, indicates that the \n",
      "gateway was unable to allocate an internal communication path from \n",
      "the input port to the output port for processing the request. Usually \n",
      "means that the gateway is misconfigured or overloaded. \n"}},
    {0x0B,
     {"0x0B - GATEWAY TARGET DEVICE FAILED TO RESPOND \n",
      "Specialized use in conjunction with gateways, indicates that no \n",
      "response was obtained from the target device. Usually means that \n",
      "the device is not present on the network. \n"}},
};

}  // namespace

void ExplainException(std::uint8_t errorCode, std::uint8_t exceptionCode, std::string& text) {
  text.clear();
  for (const Entry& entry : kEntries) {
    if (entry.code != exceptionCode) continue;
    for (const char* line : entry.lines) text += line;
    return;
  }
  char buf[160];
  std::snprintf(buf, sizeof buf,
                "Error. Unknown Modbus exception error \n   Modbus Error code: 0x%02X\n   Modbus "
                "Exception code: 0x%02X\n",
                errorCode, exceptionCode);
  text = buf;
}

std::string ExceptionTitle(std::uint8_t exceptionCode) {
  std::string text;
  ExplainException(0x80, exceptionCode, text);
  text.erase(std::min(text.find('\n'), text.size()));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace vantrel
