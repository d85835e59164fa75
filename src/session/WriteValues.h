// Values to write: the formats a technician gives them in, the registers each becomes, and
// the write requests for a run of consecutive items. Pure, shared by the Write dialog and
// the command-line poller so that both take the same texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// How a value wider than one register lies over consecutive registers. The integers are
// what settings.ini keeps, so they never change; LowFirst is the program's first order.
enum class WordOrder : int {
  LowFirst = 0,          // the first register is the least significant word
  HighFirst = 1,         // the first register is the most significant word (mbpoll's -B)
  LowFirstSwapped = 2,   // LowFirst with the two bytes of each register swapped
  HighFirstSwapped = 3,  // HighFirst with the two bytes of each register swapped
};
inline constexpr WordOrder kWordOrders[] = {WordOrder::LowFirst, WordOrder::HighFirst,
                                            WordOrder::LowFirstSwapped, WordOrder::HighFirstSwapped};

// "low word first", "high word first", "low word first, bytes swapped", "high word first,
// bytes swapped".
const char* WordOrderCaption(WordOrder order);
// The order with that stored integer; false (order unchanged) for any other.
bool WordOrderFromInt(int value, WordOrder& order);

// The value of count registers (1 to 4) given as wire bytes, high byte of each register
// first, in that order.
std::uint64_t JoinRegisters(const std::uint8_t* wire, int count, WordOrder order);
// The count register values (1 to 4) that hold value in that order.
void SplitRegisters(std::uint64_t value, int count, WordOrder order, std::uint16_t* words);

// The formats of the response table's columns, and on/off for a coil. The 32-bit formats
// take a pair of registers in a word order, by default the first as the low-order word.
enum class WriteFormat { Coil, Uint16, Int16, Hex, Uint32, Int32, Float32 };

// 2 for the 32-bit formats, else 1.
int RegistersPerValue(WriteFormat format);
// "on/off", "uint16", "int16", "hex", "uint32", "int32", "float32".
const char* FormatName(WriteFormat format);
// What may be entered, as the messages say it: "a whole number from 0 to 65535".
std::string AllowedValues(WriteFormat format);

// Parses one value (blanks around it are ignored). On success words holds its register
// values (one, or two in the word order; 0 or 1 for a coil) and error is empty; on
// failure error says why and names the allowed range.
bool ParseWriteValue(const std::string& text, WriteFormat format, std::vector<std::uint16_t>& words,
                     std::string& error, WordOrder order = WordOrder::LowFirst);

// The value held in words (RegistersPerValue of them, in the word order) as
// ParseWriteValue takes it back.
std::string FormatWriteValue(const std::uint16_t* words, WriteFormat format,
                             WordOrder order = WordOrder::LowFirst);

struct WriteFrame {
  std::vector<std::uint8_t> bytes;
  int function = 0;  // 5, 6, 15 or 16; 22 (a bit set or cleared), 23 (written and read back)
  int offset = 0;    // the first item written, counted from 1
  int count = 0;     // items written
};

// "coil", "coils", "holding register" or "holding registers", for count items.
const char* ItemNoun(bool coils, int count);

// "Writing 10 holding registers from offset 1 (function 16)", as the activity log names a
// request.
std::string DescribeWrite(const WriteFrame& request);
// The write in full, as a failure names it: "1 holding register at offset 10 (40010) with
// function 06: 1234", "3 coils from offset 5 (00005) with function 15: 1 0 1"; the values
// as the request carries them (registers as uint16, coils as 0 or 1); for 22 its masks,
// "AND 0xFFF7 OR 0x0008".
std::string WriteText(const WriteFrame& request);

// The requests that write words to consecutive coils (values 0 or 1) or holding registers
// from offset (counted from 1): one item with 05 or 06 unless alwaysMultiple, else 15 or
// 16, as many requests as the quantity limits need; a register run is cut only between
// values of wordsPerValue registers. The words are already in their word order, so the
// order plays no part here. Empty, with error set, when a request check fails.
std::vector<WriteFrame> FrameWrites(int slaveId, bool coils, int offset, const std::vector<std::uint16_t>& words,
                                    bool alwaysMultiple, int wordsPerValue, std::string& error);

}  // namespace vantrel
