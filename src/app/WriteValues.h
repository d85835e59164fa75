// Values to write: the formats a technician gives them in, the registers each becomes, and
// the write requests for a run of consecutive items. Pure, shared by the Write dialog and
// the command-line poller so that both take the same texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// The formats of the response table's columns, and on/off for a coil. The 32-bit formats
// take a pair of registers with the first as the low-order word, as the table pairs them.
enum class WriteFormat { Coil, Uint16, Int16, Hex, Uint32, Int32, Float32 };

// 2 for the 32-bit formats, else 1.
int RegistersPerValue(WriteFormat format);
// "on/off", "uint16", "int16", "hex", "uint32", "int32", "float32".
const char* FormatName(WriteFormat format);
// What may be entered, as the messages say it: "a whole number from 0 to 65535".
std::string AllowedValues(WriteFormat format);

// Parses one value (blanks around it are ignored). On success words holds its register
// values (one, or two with the low-order word first; 0 or 1 for a coil) and error is
// empty; on failure error says why and names the allowed range.
bool ParseWriteValue(const std::string& text, WriteFormat format, std::vector<std::uint16_t>& words,
                     std::string& error);

// The value held in words (RegistersPerValue of them) as ParseWriteValue takes it back.
std::string FormatWriteValue(const std::uint16_t* words, WriteFormat format);

struct WriteFrame {
  std::vector<std::uint8_t> bytes;
  int function = 0;  // 5, 6, 15 or 16
  int offset = 0;    // the first item written, counted from 1
  int count = 0;     // items written
};

// "Writing 10 holding registers from offset 1 (function 16)", as the activity log names a
// request.
std::string DescribeWrite(const WriteFrame& request);

// The requests that write words to consecutive coils (values 0 or 1) or holding registers
// from offset (counted from 1): one item with 05 or 06 unless alwaysMultiple, else 15 or
// 16, as many requests as the quantity limits need; a register run is cut only between
// values of wordsPerValue registers. Empty, with error set, when a request check fails.
std::vector<WriteFrame> FrameWrites(int slaveId, bool coils, int offset, const std::vector<std::uint16_t>& words,
                                    bool alwaysMultiple, int wordsPerValue, std::string& error);

}  // namespace vantrel
