#include "session/TestCenter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "modbus/DeviceIdentification.h"
#include "modbus/ExceptionText.h"
#include "session/PollTexts.h"

namespace vantrel {
namespace {

using P = TestParam;

struct Form {
  std::uint8_t function;
  std::vector<TestField> fields;
};

const std::vector<Form>& Forms() {
  static const std::vector<Form> forms = {
      {kReadCoils, {{P::Offset, "Offset"}, {P::Quantity, "Quantity"}}},
      {kReadDiscreteInputs, {{P::Offset, "Offset"}, {P::Quantity, "Quantity"}}},
      {kReadHoldingRegisters, {{P::Offset, "Offset"}, {P::Quantity, "Quantity"}}},
      {kReadInputRegisters, {{P::Offset, "Offset"}, {P::Quantity, "Quantity"}}},
      {kWriteSingleCoil, {{P::Offset, "Offset"}, {P::Values, "Value (1 on, 0 off)"}}},
      {kWriteSingleRegister, {{P::Offset, "Offset"}, {P::Values, "Value"}}},
      {kDiagnostics, {{P::SubFunction, "Sub-function"}, {P::Values, "Data words"}}},
      {kWriteMultipleCoils, {{P::Offset, "Offset"}, {P::Values, "Values (1 on, 0 off)"}}},
      {kWriteMultipleRegisters, {{P::Offset, "Offset"}, {P::Values, "Values"}}},
      {kReadFileRecord, {{P::File, "File"}, {P::Record, "Record"}, {P::Length, "Length (registers)"}}},
      {kWriteFileRecord, {{P::File, "File"}, {P::Record, "Record"}, {P::Values, "Values"}}},
      {kMaskWriteRegister, {{P::Offset, "Offset"}, {P::AndMask, "AND mask"}, {P::OrMask, "OR mask"}}},
      {kReadWriteMultipleRegisters,
       {{P::Offset, "Read offset"}, {P::Quantity, "Read quantity"}, {P::WriteOffset, "Write offset"},
        {P::Values, "Values written"}}},
      {kReadFifoQueue, {{P::Offset, "FIFO pointer offset"}}},
      {kEncapsulatedInterface, {{P::ReadCode, "Read code (1 to 4)"}, {P::ObjectId, "Object id"}}},
  };
  return forms;
}

std::string Trim(const std::string& text) {
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

// A whole number, decimal or hex after 0x; false for anything else or beyond 0xFFFFFFFF.
bool ParseUnsigned(const std::string& text, unsigned long& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return false;
  value = 0;
  for (const char c : digits) {
    const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : hex && std::isxdigit(static_cast<unsigned char>(c))
                      ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                      : -1;
    if (d < 0) return false;
    value = value * (hex ? 16 : 10) + static_cast<unsigned long>(d);
  }
  return value <= 0xFFFFFFFFUL;
}

// Reads the fields of one function's form; the first field at fault is named in problem.
class FormReader {
 public:
  FormReader(std::uint8_t function, const TestParamTexts& texts, std::string& problem)
      : form_(TestFormOf(function)), texts_(texts), problem_(problem) {}

  unsigned Number(P param, unsigned least, unsigned most) {
    std::string text = Trim(At(texts_, param));
    // A sub-function may be followed by its name, as the list offers it.
    if (param == P::SubFunction) text = text.substr(0, text.find(' '));
    unsigned long value = 0;
    if (!ParseUnsigned(text, value) || value < least || value > most) {
      Fail(param, "must be a whole number from " + std::to_string(least) + " to " + std::to_string(most) +
                      " (0x for hex), not \"" + text + "\"");
      return least;
    }
    return static_cast<unsigned>(value);
  }

  std::vector<std::uint16_t> Words(P param, unsigned most) {
    std::string text = At(texts_, param);
    std::replace(text.begin(), text.end(), ',', ' ');
    std::vector<std::uint16_t> words;
    std::size_t at = 0;
    while (problem_.empty()) {
      at = text.find_first_not_of(" \t", at);
      if (at == std::string::npos) break;
      const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
      const std::string word = text.substr(at, end - at);
      unsigned long value = 0;
      if (!ParseUnsigned(word, value) || value > most) {
        Fail(param, "each value must be a whole number from 0 to " + std::to_string(most) + " (0x for hex), not \"" +
                        word + "\"");
      }
      words.push_back(static_cast<std::uint16_t>(value));
      at = end;
    }
    return words;
  }

 private:
  void Fail(P param, const std::string& why) {
    if (!problem_.empty()) return;
    const auto field = std::find_if(form_.begin(), form_.end(), [param](const TestField& f) { return f.param == param; });
    problem_ = std::string(field == form_.end() ? "A field" : field->label) + ": " + why;
  }

  std::vector<TestField> form_;
  const TestParamTexts& texts_;
  std::string& problem_;
};

void PutWord(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

TestPdu FromCodec(const RequestPdu& request) {
  TestPdu out;
  out.check = request.check;
  out.pdu = request.pdu;
  return out;
}

TestPdu Checked(std::vector<std::uint8_t> pdu) {
  TestPdu out;
  out.check = CheckRequestPdu(pdu.data(), static_cast<int>(pdu.size()));
  if (out.check == MB_REQUEST_OK) out.pdu = std::move(pdu);
  return out;
}

// The refusal explained: the codec's, else the write builder's.
std::string RefusalText(int check) {
  std::string text = PduRequestErrorText(check);
  return text.empty() ? WriteRequestErrorText(check) : text;
}

// An explanation's first line without its "Error - ".
std::string Title(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (line.rfind("Error - ", 0) == 0) line.erase(0, 8);
  return Trim(line);
}

std::string Hex(const std::vector<std::uint8_t>& bytes) { return PduText(bytes); }

}  // namespace

std::vector<TestField> TestFormOf(std::uint8_t function) {
  for (const Form& form : Forms()) {
    if (form.function == function) return form.fields;
  }
  return {};
}

const char* TestParamInitial(TestParam param) {
  switch (param) {
    case P::Offset:
    case P::WriteOffset:
    case P::File:
    case P::ReadCode:
      return "1";
    case P::Quantity:
    case P::Length:
      return "10";
    case P::Values:
      return "1";
    case P::SubFunction:
      return "0x0000";
    case P::AndMask:
      return "0xFFFF";
    case P::Record:
    case P::OrMask:
    case P::ObjectId:
      return "0";
  }
  return "";
}

TestParamTexts InitialTestParams() {
  TestParamTexts texts;
  for (int i = 0; i < kTestParamCount; ++i) texts[static_cast<std::size_t>(i)] = TestParamInitial(static_cast<P>(i));
  return texts;
}

TestPdu BuildTestPdu(std::uint8_t function, const TestParamTexts& texts) {
  TestPdu out;
  if (FindFunction(function) == nullptr) {
    out.problem = FunctionName(function) + " has no form: type its PDU in Raw PDU";
    return out;
  }
  FormReader form(function, texts, out.problem);
  TestPdu made;
  switch (function) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters: {
      const unsigned address = form.Number(P::Offset, 1, 65536) - 1;
      const unsigned quantity = form.Number(P::Quantity, 0, 0xFFFF);
      std::vector<std::uint8_t> pdu{function};
      PutWord(pdu, address);
      PutWord(pdu, quantity);
      made = Checked(std::move(pdu));
      break;
    }
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters: {
      const int offset = static_cast<int>(form.Number(P::Offset, 1, 65536));
      const bool coils = IsCoilWrite(function);
      const std::vector<std::uint16_t> values = form.Words(P::Values, coils ? 1 : 0xFFFF);
      const std::uint16_t none = 0;  // no values: the builder refuses the quantity
      std::uint8_t frame[kFrameCapacity] = {};
      // The builder frames for slave id 1; the PDU lies between the slave id and the CRC.
      const int size = BuildWriteRequest(function, 1, offset, values.empty() ? &none : values.data(),
                                         static_cast<int>(values.size()), frame);
      if (size < 0) {
        made.check = size;
      } else {
        made.pdu.assign(frame + 1, frame + size - 2);
      }
      break;
    }
    case kReadExceptionStatus:
      made = FromCodec(ReadExceptionStatusPdu());
      break;
    case kGetCommEventCounter:
      made = FromCodec(CommEventCounterPdu());
      break;
    case kGetCommEventLog:
      made = FromCodec(CommEventLogPdu());
      break;
    case kReportServerId:
      made = FromCodec(ReportServerIdPdu());
      break;
    case kDiagnostics: {
      const auto sub = static_cast<std::uint16_t>(form.Number(P::SubFunction, 0, 0xFFFF));
      made = FromCodec(DiagnosticsPdu(sub, form.Words(P::Values, 0xFFFF)));
      break;
    }
    case kReadFileRecord: {
      FileRecordRef ref;
      ref.file = static_cast<std::uint16_t>(form.Number(P::File, 0, 0xFFFF));
      ref.record = static_cast<std::uint16_t>(form.Number(P::Record, 0, 0xFFFF));
      ref.length = static_cast<std::uint16_t>(form.Number(P::Length, 0, 0xFFFF));
      made = FromCodec(ReadFileRecordPdu({ref}));
      break;
    }
    case kWriteFileRecord: {
      FileRecordWrite write;
      write.file = static_cast<std::uint16_t>(form.Number(P::File, 0, 0xFFFF));
      write.record = static_cast<std::uint16_t>(form.Number(P::Record, 0, 0xFFFF));
      write.values = form.Words(P::Values, 0xFFFF);
      made = FromCodec(WriteFileRecordPdu({write}));
      break;
    }
    case kMaskWriteRegister: {
      const auto address = static_cast<std::uint16_t>(form.Number(P::Offset, 1, 65536) - 1);
      const auto andMask = static_cast<std::uint16_t>(form.Number(P::AndMask, 0, 0xFFFF));
      const auto orMask = static_cast<std::uint16_t>(form.Number(P::OrMask, 0, 0xFFFF));
      made = FromCodec(MaskWriteRegisterPdu(address, andMask, orMask));
      break;
    }
    case kReadWriteMultipleRegisters: {
      const auto readAddress = static_cast<std::uint16_t>(form.Number(P::Offset, 1, 65536) - 1);
      const auto quantity = static_cast<int>(form.Number(P::Quantity, 0, 0xFFFF));
      const auto writeAddress = static_cast<std::uint16_t>(form.Number(P::WriteOffset, 1, 65536) - 1);
      made = FromCodec(ReadWriteRegistersPdu(readAddress, quantity, writeAddress, form.Words(P::Values, 0xFFFF)));
      break;
    }
    case kReadFifoQueue:
      made = FromCodec(ReadFifoQueuePdu(static_cast<std::uint16_t>(form.Number(P::Offset, 1, 65536) - 1)));
      break;
    case kEncapsulatedInterface: {
      const auto code = static_cast<std::uint8_t>(form.Number(P::ReadCode, 0, 0xFF));
      const auto object = static_cast<std::uint8_t>(form.Number(P::ObjectId, 0, 0xFF));
      made = Checked(DeviceIdRequestPdu(code, object));
      break;
    }
    default:
      out.problem = FunctionName(function) + " has no form: type its PDU in Raw PDU";
      return out;
  }
  if (!out.problem.empty()) return out;
  made.problem.clear();
  return made;
}

TestPdu ParseTestPdu(const std::string& text) {
  TestPdu out;
  std::string digits;
  for (const char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c == ' ' || c == '\t' || c == ',') {
      if (digits.size() % 2 != 0) break;  // a blank inside a byte
    } else {
      out.problem = std::string("Raw PDU: \"") + c + "\" is no hex digit; type the bytes in hex, \"08 00 00 A5 37\"";
      return out;
    }
  }
  if (out.problem.empty() && digits.size() % 2 != 0) {
    out.problem = "Raw PDU: the hex digits do not make whole bytes; type two for each, \"08 00 00 A5 37\"";
    return out;
  }
  if (digits.empty()) {
    out.problem = "Raw PDU: empty; type the function code and its data in hex, \"08 00 00 A5 37\"";
    return out;
  }
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.pdu.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  out.check = CheckRequestPdu(out.pdu.data(), static_cast<int>(out.pdu.size()));
  return out;
}

std::string PduText(const std::vector<std::uint8_t>& pdu) {
  std::string text = HexBytes(pdu.data(), static_cast<int>(pdu.size()));
  if (!text.empty()) text.pop_back();  // HexBytes ends each byte with a blank
  return text;
}

std::string FunctionLabel(const FunctionInfo& function) {
  char code[8];
  std::snprintf(code, sizeof code, function.code == kEncapsulatedInterface ? "%02d/14 " : "%02d ", function.code);
  return code + std::string(function.name);
}

std::string RequestLabel(const std::vector<std::uint8_t>& pdu) {
  if (pdu.empty()) return "";
  const FunctionInfo* info = FindFunction(pdu[0]);
  return info != nullptr ? FunctionLabel(*info) : FunctionName(pdu[0]);
}

TestPreview PreviewTestRequest(ModbusMode mode, int slaveId, const TestPdu& request) {
  TestPreview preview;
  if (!request.problem.empty()) {
    preview.note = request.problem;
    return preview;
  }
  std::vector<std::uint8_t> frame;
  const int check = request.check != MB_REQUEST_OK ? request.check : FrameRequest(slaveId, request.pdu, frame);
  if (check != MB_REQUEST_OK) {
    preview.note = RefusalText(check);
    return preview;
  }
  preview.ok = true;
  preview.broadcast = slaveId == 0;
  const int pduSize = static_cast<int>(request.pdu.size());
  switch (mode) {
    case ModbusMode::Ascii: {
      // ':', the slave id, PDU and LRC as hex pairs, CR LF: the bytes before the CRC encoded.
      const std::string line = EncodeAscii(frame.data(), static_cast<int>(frame.size()) - 2);
      preview.frame = line.substr(0, line.size() - 2) + "<CR><LF>";
      break;
    }
    case ModbusMode::Tcp: {
      std::vector<std::uint8_t> adu(kMbapHeaderSize);
      PutMbap(adu.data(), 1, static_cast<std::uint8_t>(slaveId), pduSize);
      adu.insert(adu.end(), request.pdu.begin(), request.pdu.end());
      preview.frame = Hex(adu);
      break;
    }
    default:  // RTU, and RTU over TCP, which carries the same frame
      preview.frame = Hex(frame);
      break;
  }
  if (preview.broadcast) {
    preview.note = "Broadcast: every device carries it out and none answers; no reply is awaited.";
  } else if (!RequestExpectsReply(slaveId, request.pdu.data(), pduSize)) {
    preview.note = "No reply is awaited: the device listens only from then on, until 08 01 Restart Communications.";
  } else if (!KnownRequest(request.pdu.data(), pduSize)) {
    preview.note = RequestLabel(request.pdu) + " is not one the program knows: its reply is taken as the framing "
                   "delimits it.";
  } else {
    preview.note = "A reply is awaited.";
  }
  return preview;
}

TestResult DescribeTestOutcome(const std::vector<std::uint8_t>& requestPdu, const PduOutcome& outcome) {
  TestResult r;
  const std::vector<std::uint8_t>& reply = outcome.replyPdu;
  const auto decoded = [&] {
    return "Reply: " + Hex(reply) + "\n" +
           FieldsText(DecodeReplyPdu(requestPdu.data(), static_cast<int>(requestPdu.size()), reply.data(),
                                     static_cast<int>(reply.size())));
  };
  if (!outcome.sent) {
    r.summary = "Not sent: " + Title(outcome.text);
    r.details = outcome.text;
  } else if (outcome.broadcast) {
    r.summary = "Broadcast, no reply awaited";
    r.details = "Broadcast to every device (slave id 0): each carries it out and none answers, so no reply is "
                "awaited; the line was left quiet for the turnaround before the next request.";
  } else if (outcome.result == MB_RESPONCE_OK) {
    r.summary = "OK";
    r.details = decoded();
    r.ms = outcome.ms;
  } else if (outcome.result == MB_RESPONCE_EXCEPTION && reply.size() >= 2) {
    r.summary = "Exception " + ExceptionTitle(reply[1]);
    r.details = decoded() + "\n\n" + outcome.text;
    r.ms = outcome.ms;
  } else if (outcome.result == MB_RESPONCE_EMPTY && outcome.text.empty()) {
    r.summary = "Sent, no reply awaited";
    r.details = "The device was told to listen only: it answers nothing until 08 01 Restart Communications.";
  } else {
    r.summary = Title(outcome.text);
    r.details = outcome.text;
    if (!reply.empty()) r.details += "\n\nReply: " + Hex(reply);
    r.ms = outcome.ms;
  }
  return r;
}

int TestHistory::Add(const std::string& time, int slaveId, std::vector<std::uint8_t> pdu) {
  TestExchange& e = entries_.emplace_back();
  e.id = nextId_++;
  e.time = time;
  e.slaveId = slaveId;
  e.pdu = std::move(pdu);
  e.outcome = "waiting";
  while (entries_.size() > kTestHistorySize) entries_.pop_front();
  return entries_.back().id;
}

bool TestHistory::Complete(int id, const TestResult& result) {
  const int row = RowOf(id);
  if (row < 0) return false;
  TestExchange& e = entries_[static_cast<std::size_t>(row)];
  e.outcome = result.summary;
  e.details = result.details;
  e.ms = result.ms;
  return true;
}

int TestHistory::RowOf(int id) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

std::vector<SavedTestRequest> TestHistory::Saved() const {
  std::vector<SavedTestRequest> saved;
  for (const TestExchange& e : entries_) saved.push_back({e.slaveId, e.pdu, e.unknownFields});
  return saved;
}

void TestHistory::Load(const std::vector<SavedTestRequest>& saved) {
  entries_.clear();
  const std::size_t first = saved.size() > kTestHistorySize ? saved.size() - kTestHistorySize : 0;
  for (std::size_t i = first; i < saved.size(); ++i) {
    TestExchange& e = entries_.emplace_back();
    e.id = nextId_++;
    e.slaveId = saved[i].slaveId;
    e.pdu = saved[i].pdu;
    e.unknownFields = saved[i].unknownFields;
  }
}

std::array<std::string, kTestHistoryColumns> TestHistoryRow(const TestExchange& e) {
  char ms[32] = "";
  if (e.ms >= 0) std::snprintf(ms, sizeof ms, "%.1f", e.ms);
  return {e.time, std::to_string(e.slaveId), RequestLabel(e.pdu), PduText(e.pdu), e.outcome, ms};
}

}  // namespace vantrel
