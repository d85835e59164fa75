// Plain-words explanations of Modbus exception codes.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// Empties text and fills it with the explanation of exceptionCode. errorCode (the reply's
// function code with its top bit set) only appears in the text for an unknown code.
void ExplainException(std::uint8_t errorCode, std::uint8_t exceptionCode, std::string& text);
// The explanation's first line, without its trailing blanks: "0x02 - ILLEGAL DATA ADDRESS".
std::string ExceptionTitle(std::uint8_t exceptionCode);

}  // namespace vantrel
