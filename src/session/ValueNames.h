// The names by which the command line and the workspace file spell a mode, a word order
// and a numbered port, so that both read and write the same words.
#pragma once

#include <string>

#include "modbus/Framing.h"
#include "session/WriteValues.h"

namespace vantrel {

// "rtu", "ascii", "tcp", "rtutcp" (vantrel-poll's -m, a workspace's connection.mode).
const char* ModeOptionName(ModbusMode mode);
// The mode of one of those names, exactly as written; false (mode untouched) for another.
bool ModeFromOptionName(const std::string& name, ModbusMode& mode);

// "low-first", "high-first", "low-first-swapped", "high-first-swapped" (vantrel-poll's
// --word-order, a workspace poll's word_order).
const char* WordOrderOptionName(WordOrder order);
// The order of one of those names, exactly as written; false (order untouched) for another.
bool WordOrderFromOptionName(const std::string& name, WordOrder& order);

// n for "COMn" (any letter case, n from 1 to 255); 0 when the text is no such name.
int ComPortNumber(const std::string& text);

}  // namespace vantrel
