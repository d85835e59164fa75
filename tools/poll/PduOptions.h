// The options of vantrel-poll that send a request of any function (--raw, --diag, ...): their
// values read into PollConfig::pdu, and the checks of what they go with.
#pragma once

#include <string>

#include "PollOptions.h"

namespace vantrel::poll {

// Whether name is one of the options that make the request ("--raw", "--report-id", ...),
// and whether it takes a value.
bool IsPduOption(const std::string& name, bool& takesValue);
// Reads the option's value (empty for one that takes none) into pdu; false with error set
// when it is not what the option takes, or when another such option was given before.
bool ParsePduOption(const std::string& name, const std::string& value, PduOption& pdu, std::string& error);
// Reads --write-ref's value into pdu.reference.
bool ParseWriteReference(const std::string& value, PduOption& pdu, std::string& error);

// The checks once every option is read: why the request cannot go with the other options
// given ("" when it can). typeGiven/requestOption: -t given, and the last of -t, -r, -c
// given. For --read-write it also takes the function (holding registers) and turns the
// values after the device into config.words.
std::string PreparePdu(PollConfig& config, bool typeGiven, const std::string& requestOption);

}  // namespace vantrel::poll
