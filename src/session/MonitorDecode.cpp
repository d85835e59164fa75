#include "session/MonitorDecode.h"

#include <cstdio>

#include "modbus/ExceptionText.h"
#include "modbus/Functions.h"

namespace vantrel {
namespace {

constexpr int kMaxPdu = 253;

int Word(const std::uint8_t* p) { return (p[0] << 8) | p[1]; }

// A length counted from a byte count field, refused beyond what a PDU holds.
int Counted(int length) { return length > kMaxPdu ? -1 : length; }

std::string Hex4(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFF);
  return text;
}

std::string RefText(int wire, int quantity) {
  std::string text = "ref " + std::to_string(wire + 1) + " (wire " + std::to_string(wire) + ")";
  if (quantity >= 0) text += " count " + std::to_string(quantity);
  return text;
}

std::string RegistersText(const std::vector<std::uint16_t>& values) {
  std::string text;
  for (std::uint16_t v : values) {
    if (!text.empty()) text += ' ';
    text += std::to_string(v) + " (" + Hex4(v) + ")";
  }
  return text;
}

std::string BitsText(const std::vector<std::uint8_t>& bits) {
  std::string text;
  for (std::uint8_t b : bits) {
    if (!text.empty()) text += ' ';
    text += b ? '1' : '0';
  }
  return text;
}

std::vector<std::uint16_t> Words(const std::uint8_t* p, int count) {
  std::vector<std::uint16_t> words;
  for (int i = 0; i + 1 < count; i += 2) words.push_back(static_cast<std::uint16_t>(Word(p + i)));
  return words;
}

std::vector<std::uint8_t> Bits(const std::uint8_t* p, int bytes, int count) {
  std::vector<std::uint8_t> bits;
  for (int i = 0; i < count && i / 8 < bytes; ++i) bits.push_back((p[i / 8] >> (i % 8)) & 1);
  return bits;
}

std::string HexData(const std::uint8_t* p, int count) {
  std::string text;
  char b[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
    text += b;
  }
  return text;
}

}  // namespace

const char* FrameKindName(FrameKind kind) {
  switch (kind) {
    case FrameKind::Request: return "request";
    case FrameKind::Reply: return "reply";
    case FrameKind::Exception: return "exception";
    case FrameKind::Noise: break;
  }
  return "noise";
}

int PduLength(FrameForm form, const std::uint8_t* pdu, int size) {
  if (size < 1) return 0;
  const std::uint8_t f = pdu[0];
  if (f & 0x80) {
    if (form == FrameForm::Request) return -1;
    return FindFunction(f & 0x7F) != nullptr ? 2 : -1;
  }
  if (form == FrameForm::Request) {
    switch (f) {
      case 1: case 2: case 3: case 4: case 5: case 6: case 8: return 5;
      case 7: case 0x0B: case 0x0C: case 0x11: return 1;
      case 0x0F: case 0x10: {
        if (size < 6) return 0;
        const int quantity = Word(pdu + 3);
        const int bytes = f == 0x0F ? (quantity + 7) / 8 : 2 * quantity;
        if (quantity == 0 || pdu[5] != bytes) return -1;
        return Counted(6 + pdu[5]);
      }
      case 0x14: case 0x15:
        if (size < 2) return 0;
        return Counted(2 + pdu[1]);
      case 0x16: return 7;
      case 0x17:
        if (size < 10) return 0;
        if (pdu[9] != 2 * Word(pdu + 7) || pdu[9] == 0) return -1;
        return Counted(10 + pdu[9]);
      case 0x18: return 3;
      case kEncapsulatedInterface:
        if (size < 2) return 0;
        return pdu[1] == kMeiReadDeviceId ? 4 : -1;
      default: return -1;
    }
  }
  switch (f) {
    case 1: case 2: case 3: case 4:
    case 0x0C: case 0x11: case 0x14: case 0x15: case 0x17:
      if (size < 2) return 0;
      if (pdu[1] == 0) return -1;
      if ((f == 3 || f == 4 || f == 0x17) && pdu[1] % 2 != 0) return -1;
      return Counted(2 + pdu[1]);
    case 5: case 6: case 8: case 0x0B: case 0x0F: case 0x10: return 5;
    case 7: return 2;
    case 0x16: return 7;
    case 0x18:
      if (size < 3) return 0;
      return Counted(3 + Word(pdu + 1));
    case kEncapsulatedInterface: return DeviceIdReplySize(pdu, size);
    default: return -1;
  }
}

void DecodeFrame(MonitorFrame& frame, int readQuantity) {
  const int checkSize = frame.checkSize;
  if (frame.kind == FrameKind::Noise || frame.bytes.size() < static_cast<std::size_t>(2 + checkSize)) return;
  const std::uint8_t* p = frame.bytes.data() + 1;  // the PDU
  const int n = static_cast<int>(frame.bytes.size()) - 1 - checkSize;
  const std::uint8_t f = p[0];
  std::string& d = frame.detail;
  if (frame.kind == FrameKind::Exception) {
    frame.exceptionCode = n >= 2 ? p[1] : -1;
    std::string text;
    ExplainException(f, static_cast<std::uint8_t>(frame.exceptionCode), text);
    const std::size_t end = text.find('\n');
    frame.exceptionTitle = text.substr(0, end);
    while (!frame.exceptionTitle.empty() && frame.exceptionTitle.back() == ' ') frame.exceptionTitle.pop_back();
    d = frame.exceptionTitle;
    return;
  }
  const bool request = frame.kind == FrameKind::Request;
  switch (f) {
    case 1: case 2: case 3: case 4:
      if (request) {
        frame.wireAddress = Word(p + 1);
        frame.quantity = Word(p + 3);
        d = RefText(frame.wireAddress, frame.quantity);
      } else {
        frame.byteCount = p[1];
        if (f <= 2) {
          const int count = readQuantity > 0 && readQuantity <= 8 * p[1] ? readQuantity : 8 * p[1];
          frame.bits = Bits(p + 2, p[1], count);
          frame.quantity = count;
          d = std::to_string(count) + " bits: " + BitsText(frame.bits);
        } else {
          frame.registers = Words(p + 2, p[1]);
          frame.quantity = static_cast<int>(frame.registers.size());
          d = std::to_string(frame.quantity) + " registers: " + RegistersText(frame.registers);
        }
      }
      break;
    case 5: case 6:
      frame.wireAddress = Word(p + 1);
      frame.quantity = 1;
      frame.registers = {static_cast<std::uint16_t>(Word(p + 3))};
      if (f == 5) {
        frame.bits = {static_cast<std::uint8_t>(Word(p + 3) == 0xFF00 ? 1 : 0)};
        d = RefText(frame.wireAddress, -1) + " = " + (Word(p + 3) == 0xFF00 ? "ON" : Word(p + 3) == 0 ? "OFF" : Hex4(Word(p + 3)));
      } else {
        d = RefText(frame.wireAddress, -1) + " = " + RegistersText(frame.registers);
      }
      if (!request) d += " (echo)";
      break;
    case 0x0F: case 0x10:
      frame.wireAddress = Word(p + 1);
      frame.quantity = Word(p + 3);
      d = RefText(frame.wireAddress, frame.quantity);
      if (request) {
        frame.byteCount = p[5];
        if (f == 0x0F) {
          frame.bits = Bits(p + 6, p[5], frame.quantity);
          d += ": " + BitsText(frame.bits);
        } else {
          frame.registers = Words(p + 6, p[5]);
          d += ": " + RegistersText(frame.registers);
        }
      } else {
        d += " (echo)";
      }
      break;
    case 0x16:
      frame.wireAddress = Word(p + 1);
      frame.quantity = 1;
      frame.registers = {static_cast<std::uint16_t>(Word(p + 3)), static_cast<std::uint16_t>(Word(p + 5))};
      d = RefText(frame.wireAddress, -1) + " and " + Hex4(Word(p + 3)) + " or " + Hex4(Word(p + 5));
      if (!request) d += " (echo)";
      break;
    case 0x17:
      if (request) {
        frame.wireAddress = Word(p + 1);
        frame.quantity = Word(p + 3);
        frame.byteCount = p[9];
        frame.registers = Words(p + 10, p[9]);
        d = "read " + RefText(frame.wireAddress, frame.quantity) + ", write " + RefText(Word(p + 5), Word(p + 7)) +
            ": " + RegistersText(frame.registers);
      } else {
        frame.byteCount = p[1];
        frame.registers = Words(p + 2, p[1]);
        frame.quantity = static_cast<int>(frame.registers.size());
        d = std::to_string(frame.quantity) + " registers: " + RegistersText(frame.registers);
      }
      break;
    case 0x07:
      if (!request) d = "status " + HexData(p + 1, 1);
      break;
    case 0x08:
      frame.subFunction = Word(p + 1);
      frame.registers = {static_cast<std::uint16_t>(Word(p + 3))};
      d = "sub-function " + std::to_string(frame.subFunction) + " data " + Hex4(Word(p + 3));
      break;
    case 0x0B:
      if (!request) {
        frame.registers = Words(p + 1, 4);
        d = "status " + Hex4(Word(p + 1)) + " events " + std::to_string(Word(p + 3));
      }
      break;
    case 0x0C: case 0x11: case 0x14: case 0x15:
      if (n >= 2) {
        frame.byteCount = p[1];
        d = std::to_string(p[1]) + " bytes: " + HexData(p + 2, p[1]);
      }
      break;
    case 0x18:
      if (request) {
        frame.wireAddress = Word(p + 1);
        d = RefText(frame.wireAddress, -1);
      } else {
        frame.byteCount = Word(p + 1);
        frame.quantity = Word(p + 3);
        frame.registers = Words(p + 5, n - 5);
        d = std::to_string(frame.quantity) + " queued: " + RegistersText(frame.registers);
      }
      break;
    case kEncapsulatedInterface:
      frame.meiType = p[1];
      frame.readDeviceIdCode = p[2];
      if (request) {
        frame.objectId = p[3];
        d = "read code " + std::to_string(p[2]) + " from object " + std::to_string(p[3]);
      } else {
        DeviceIdReply reply;
        if (ParseDeviceIdReply(p, n, reply)) {
          frame.objects = reply.objects;
          d = "conformity " + HexData(&reply.conformity, 1) + (reply.moreFollows ? ", more follows" : "");
          for (const DeviceIdObject& o : reply.objects) d += "; " + DeviceIdObjectName(o.id) + ": " + PrintableText(o.value);
        } else {
          d = "unreadable objects";
        }
      }
      break;
    default: break;
  }
}

}  // namespace vantrel
