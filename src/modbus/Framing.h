// The framings of the Modbus modes around the part that every mode carries alike, the slave
// id and the PDU (function code and data). RTU appends the CRC (ModbusFrame.h); ASCII writes
// the bytes as hex pairs between ':' and CR LF with an LRC; Modbus TCP puts the MBAP header in
// front and no check after. Pure functions over byte buffers, shared by the master and the
// simulator.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

// The modes, numbered as the Connection page's Mode list stores them (modbus_mode).
enum class ModbusMode : int { Ascii = 0, Rtu = 1, Tcp = 2, RtuOverTcp = 3 };

constexpr bool IsNetworkMode(ModbusMode mode) { return mode == ModbusMode::Tcp || mode == ModbusMode::RtuOverTcp; }
// "ASCII", "RTU", "TCP", "RTU over TCP".
const char* ModeName(ModbusMode mode);
// The mode at a stored position; false (mode untouched) for a position that names none.
bool ModeFromInt(int position, ModbusMode& mode);

// How a mode's frame lies in the master's request and response buffers: a header ending in
// the slave id (RTU and ASCII: the slave id alone; TCP: the 7-byte MBAP header, whose last
// byte is the unit id), the PDU, and the check bytes (RTU: the CRC; ASCII: the LRC, as its
// characters carry it; TCP: none).
struct FrameLayout {
  int header;
  int check;
};
FrameLayout LayoutOf(ModbusMode mode);

// A frame as it goes on the wire, for the log: the bytes as "%02X " each; for ASCII, whose
// frame is held as the bytes its characters carry (slave id, PDU, LRC), the characters
// between ':' and CR LF ("010300000002FA").
std::string WireText(ModbusMode mode, const std::uint8_t* frame, int size);

// --- ASCII (MODBUS over serial line guide) -----------------------------------------------

// The LRC: the two's complement of the 8-bit sum of the bytes (slave id and PDU).
std::uint8_t Lrc(const std::uint8_t* bytes, int size);
// The longest ASCII frame: ':', 2 x (slave id, 253 PDU bytes, LRC), CR LF.
inline constexpr int kMaxAsciiFrame = 1 + 2 * 255 + 2;
// ':', the bytes and their LRC as upper-case hex pairs, CR LF.
std::string EncodeAscii(const std::uint8_t* bytes, int size);
// The bytes written as hex pairs in chars (either letter case), into out (capacity bytes at
// most): their count, or -1 for an odd count, a character that is no hex digit or too many.
int DecodeAsciiHex(const std::uint8_t* chars, int count, std::uint8_t* out, int capacity);

// --- MBAP header (MODBUS messaging on TCP/IP guide) --------------------------------------

inline constexpr int kMbapHeaderSize = 7;
struct MbapHeader {
  std::uint16_t transaction = 0;
  std::uint16_t protocol = 0;  // 0 for Modbus
  std::uint16_t length = 0;    // the bytes that follow it: the unit id and the PDU
  std::uint8_t unit = 0;
};
// The header at bytes (at least kMbapHeaderSize of them).
MbapHeader ParseMbap(const std::uint8_t* bytes);
// Writes the header for a PDU of pduSize bytes (protocol 0) into out.
void PutMbap(std::uint8_t* out, std::uint16_t transaction, std::uint8_t unit, int pduSize);
// A length that a frame can have: the unit id and a PDU of 1 to 253 bytes.
constexpr bool MbapLengthPossible(unsigned length) { return length >= 2 && length <= 254; }

}  // namespace vantrel
