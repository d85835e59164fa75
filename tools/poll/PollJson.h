// vantrel-poll --json: one JSON object per poll, each on a line of its own, for jq and other
// programs. Written by hand: a few flat objects need no library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "PollOptions.h"
#include "session/MapReads.h"
#include "session/ResponseTable.h"

namespace vantrel::poll {

// The text as a JSON string, quotes included: quotes, backslashes and control characters
// escaped, and each byte that is no part of well-formed UTF-8 replaced by U+FFFD, so that
// the output is valid JSON whatever the text holds.
std::string JsonString(std::string_view text);

// The line alone, for a failure that is no definition's: {"mode":"rtu","connection":"..."}.
std::string LineJson(ModbusMode mode, const std::string& connection);
// What a poll asks: {"mode":"rtu","connection":"COM 3:9600,N,8,1","slave_id":11,
// "function":3,"offset":1,"count":20,"word_order":"low-first"}; the connection only once
// it is known (empty: left out). By map, "merge_gap" takes the place of function, offset
// and count, which the map gives per item.
std::string RequestJson(const PollConfig& cfg, const std::string& connection);

// The items of a filled table, one object each, without the Write column: "offset", the
// 5- and 6-digit addresses as the table writes them ("address": "40001", "address6"),
// "value" (0 or 1, or the register), then the table's other cells under their captions
// ("hex", "uint16", "int16", "uint32", "int32", "float32", "uint64", ...; a word order
// is named in the request, not in the keys). A cell that holds a number is a JSON number,
// another one (incomplete, nan) the table's text, and a blank one is left out.
std::string ItemsJson(const ResponseTable& table);

// The items of a cycle read by map, by name in the map's order: {"Voltage L1":{"value":
// 230.1,"unit":"V","raw":[17254,26214]},...}. The value as the table shows it, a JSON
// number for the numeric types, bits and bools, a string for string items and for what is
// no number (nan); null, without raw, for an item not read. No unit: no "unit".
std::string MapValuesJson(const RegisterMap& map, const MapReading& reading, WordOrder viewOrder);

// A good poll: {"time":...,"request":...,"values":[...]}; time as ZonedIsoTime gives it.
std::string PollJson(const std::string& time, const std::string& request, const ResponseTable& table);
// A good cycle by map: {"time":...,"request":...,"values":{...}}, values as MapValuesJson.
std::string MapPollJson(const std::string& time, const std::string& request, const std::string& values);
// A failure: {"time":...,"request":...,"error":{"status":6,"text":"Error - Timeout..."}}.
std::string FailureJson(const std::string& time, const std::string& request, int status, const std::string& text);
// A request of any function: {"mode":"rtu","connection":"...","slave_id":11,"pdu":"08 00 00 A5 37"},
// the PDU in hex.
std::string PduRequestJson(const PollConfig& cfg, const std::string& connection, const std::vector<std::uint8_t>& pdu);
// Its reply: {"time":...,"request":...,"reply":"08 00 00 A5 37","fields":{"Function":"08
// Diagnostics",...},"response_ms":12.5}, the fields by name as DecodeReplyPdu gives them (a
// name given twice gets " (2)"); with status other than 0 (an exception) an "error" after
// them, as FailureJson's.
std::string PduReplyJson(const std::string& time, const std::string& request, const std::vector<std::uint8_t>& reply,
                         const PduFields& fields, double ms, int status, const std::string& text);
// A broadcast: {"time":...,"request":...,"broadcast":true}, since no reply comes.
std::string BroadcastJson(const std::string& time, const std::string& request);

// The object of a workspace definition's poll or failure, with its name first:
// {"poll":"Voltages","time":...}.
std::string NamedJson(const std::string& poll, const std::string& object);

}  // namespace vantrel::poll
