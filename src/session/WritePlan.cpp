#include "session/WritePlan.h"

#include <algorithm>
#include <cstdio>

#include "modbus/Functions.h"
#include "session/PollTexts.h"

namespace vantrel {
namespace {

bool Coils(const WriteTarget& t) { return t.function == 1; }

bool Consecutive(const WriteTarget& t) {
  for (std::size_t i = 1; i < t.offsets.size(); ++i) {
    if (t.offsets[i] != t.offsets[i - 1] + 1) return false;
  }
  return true;
}

bool WholePairs(const WriteTarget& t) {
  if (t.rows.empty() || t.rows.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < t.rows.size(); i += 2) {
    if (t.rows[i] % 2 != 0 || t.rows[i + 1] != t.rows[i] + 1) return false;
  }
  return true;
}

std::string FirstPart(const std::string& address) { return address.substr(0, address.find(',')); }

// The most registers one 23 writes.
constexpr std::size_t kMaxReadBackRegisters = 121;

// A request of the codec as one write of the session: framed for the slave id, or the
// request check's text.
bool FrameCodecWrite(int slaveId, const RequestPdu& request, int offset, int count, WriteFrame& frame,
                     std::string& error) {
  const int check = request.ok() ? FrameRequest(slaveId, request.pdu, frame.bytes) : request.check;
  if (check != MB_REQUEST_OK) {
    error = PduRequestErrorText(check);
    return false;
  }
  frame.function = request.pdu.front();
  frame.offset = offset;
  frame.count = count;
  return true;
}

}  // namespace

WriteTarget MakeWriteTarget(const ResponseTable& table, std::vector<int> rows, int slaveId, WordOrder order) {
  WriteTarget t;
  t.order = order;
  t.function = table.function;
  t.slaveId = slaveId;
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (int r : rows) {
    if (r < 0 || r >= static_cast<int>(table.rows.size()) || r >= static_cast<int>(table.values.size())) continue;
    const auto& cells = table.rows[static_cast<std::size_t>(r)];
    t.rows.push_back(r);
    t.offsets.push_back(table.firstOffset + r);
    t.addresses.push_back(cells.size() > 3 ? cells[2] + ", " + cells[3] : "");
    t.current.push_back(table.values[static_cast<std::size_t>(r)]);
  }
  return t;
}

std::vector<WriteFormat> FormatsFor(const WriteTarget& target) {
  if (Coils(target)) return {WriteFormat::Coil};
  std::vector<WriteFormat> formats = {WriteFormat::Uint16, WriteFormat::Int16, WriteFormat::Hex};
  if (WholePairs(target)) formats.insert(formats.end(), {WriteFormat::Uint32, WriteFormat::Int32, WriteFormat::Float32});
  return formats;
}

int ItemCount(const WriteTarget& target, WriteFormat format) {
  return static_cast<int>(target.rows.size()) / RegistersPerValue(format);
}

std::string ItemLabel(const WriteTarget& target, WriteFormat format, int item) {
  const std::size_t first = static_cast<std::size_t>(item * RegistersPerValue(format));
  if (first >= target.offsets.size()) return "";
  if (RegistersPerValue(format) == 2 && first + 1 < target.offsets.size()) {
    return "Offsets " + std::to_string(target.offsets[first]) + "-" + std::to_string(target.offsets[first + 1]) +
           " (" + target.addresses[first] + ")";
  }
  return "Offset " + std::to_string(target.offsets[first]) + " (" + target.addresses[first] + ")";
}

std::string CurrentValue(const WriteTarget& target, WriteFormat format, int item) {
  const std::size_t first = static_cast<std::size_t>(item * RegistersPerValue(format));
  if (first + static_cast<std::size_t>(RegistersPerValue(format)) > target.current.size()) return "";
  return FormatWriteValue(target.current.data() + first, format, target.order);
}

std::string DescribeTarget(const WriteTarget& target) {
  const std::size_t n = target.offsets.size();
  if (n == 0) return "";
  if (n == 1) {
    return std::string(Coils(target) ? "Coil" : "Holding register") + " at offset " +
           std::to_string(target.offsets[0]) + " (" + target.addresses[0] + ")";
  }
  std::string text = std::to_string(n) + " " + ItemNoun(Coils(target), static_cast<int>(n));
  if (Consecutive(target)) {
    return text + ", offsets " + std::to_string(target.offsets.front()) + " to " +
           std::to_string(target.offsets.back()) + " (" + FirstPart(target.addresses.front()) + " to " +
           FirstPart(target.addresses.back()) + ")";
  }
  text += " at offsets ";
  for (std::size_t i = 0; i < n; ++i) text += (i ? ", " : "") + std::to_string(target.offsets[i]);
  return text;
}

WritePlanResult PlanWrite(const WriteTarget& target, WriteFormat format, const std::vector<std::string>& values,
                          bool alwaysMultiple, bool readBack) {
  WritePlanResult result;
  const int items = ItemCount(target, format);
  const int per = RegistersPerValue(format);
  if (items == 0 || (values.size() != 1 && static_cast<int>(values.size()) != items)) {
    result.error = "Nothing to write.";
    return result;
  }
  std::vector<std::uint16_t> words;
  std::vector<std::uint16_t> one;
  for (int i = 0; i < items; ++i) {
    const std::string& text = values.size() == 1 ? values[0] : values[static_cast<std::size_t>(i)];
    std::string why;
    if (!ParseWriteValue(text, format, one, why, target.order)) {
      result.error = (values.size() == 1 ? std::string() : ItemLabel(target, format, i) + ": ") + why;
      result.badItem = values.size() == 1 ? 0 : i;
      return result;
    }
    words.insert(words.end(), one.begin(), one.end());
  }
  result.words = words;
  if (readBack && CanReadBack(target)) {
    const auto address = static_cast<std::uint16_t>(WireAddress(target.offsets.front()));
    WriteFrame frame;
    if (!FrameCodecWrite(target.slaveId, ReadWriteRegistersPdu(address, static_cast<int>(words.size()), address, words),
                         target.offsets.front(), static_cast<int>(words.size()), frame, result.error)) {
      return result;
    }
    result.requests.push_back(std::move(frame));
    return result;
  }
  // One request per run of consecutive offsets.
  std::size_t start = 0;
  while (start < target.offsets.size()) {
    std::size_t end = start + 1;
    while (end < target.offsets.size() && target.offsets[end] == target.offsets[end - 1] + 1) ++end;
    const std::vector<std::uint16_t> run(words.begin() + static_cast<long>(start), words.begin() + static_cast<long>(end));
    std::string error;
    auto requests = FrameWrites(target.slaveId, Coils(target), target.offsets[start], run, alwaysMultiple, per, error);
    if (!error.empty()) {
      result.error = error;
      result.requests.clear();
      return result;
    }
    for (auto& r : requests) result.requests.push_back(std::move(r));
    start = end;
  }
  return result;
}

bool CanReadBack(const WriteTarget& target) {
  return !Coils(target) && target.slaveId != 0 && !target.offsets.empty() &&
         target.offsets.size() <= kMaxReadBackRegisters && Consecutive(target);
}

BitMasks BitWriteMasks(int bit, bool set) {
  const auto mask = static_cast<std::uint16_t>(1u << (bit & kMaxBitNumber));
  return {static_cast<std::uint16_t>(~mask), set ? mask : std::uint16_t{0}};
}

std::uint16_t MaskedRegister(std::uint16_t current, BitMasks m) {
  return static_cast<std::uint16_t>((current & m.andMask) | (m.orMask & ~m.andMask));
}

WritePlanResult PlanBitWrite(const WriteTarget& target, int bit, bool set) {
  WritePlanResult result;
  if (Coils(target) || target.offsets.size() != 1) {
    result.error = "A bit is set or cleared in one holding register: choose one row.";
    return result;
  }
  if (bit < 0 || bit > kMaxBitNumber) {
    result.error = "The bit number is 0 (the lowest) to 15 (the highest), not " + std::to_string(bit) + ".";
    return result;
  }
  const BitMasks masks = BitWriteMasks(bit, set);
  WriteFrame frame;
  if (!FrameCodecWrite(target.slaveId,
                       MaskWriteRegisterPdu(static_cast<std::uint16_t>(WireAddress(target.offsets[0])), masks.andMask,
                                            masks.orMask),
                       target.offsets[0], 1, frame, result.error)) {
    return result;
  }
  result.words = {MaskedRegister(target.current.at(0), masks)};
  result.requests.push_back(std::move(frame));
  return result;
}

std::string DescribePlan(const WriteTarget& target, WriteFormat format, const WritePlanResult& plan) {
  if (!plan.error.empty() || plan.requests.empty() || plan.words.size() != target.addresses.size()) return "";
  std::string text = "Writes ";
  const std::size_t shown = std::min(plan.words.size(), kPlanShown);
  for (std::size_t i = 0; i < shown; ++i) {
    char value[16];
    if (Coils(target)) {
      std::snprintf(value, sizeof value, "%s", plan.words[i] != 0 ? "On" : "Off");
    } else {
      std::snprintf(value, sizeof value, "0x%04X", unsigned{plan.words[i]});
    }
    text += (i ? ", " : "") + FirstPart(target.addresses[i]) + " = " + value;
  }
  if (shown < plan.words.size()) {
    text += ", ... (" + std::to_string(plan.words.size()) + " " +
            ItemNoun(Coils(target), static_cast<int>(plan.words.size())) + ")";
  }
  if (RegistersPerValue(format) == 2) {
    text += std::string(" (") + FormatName(format) + ", " + WordOrderCaption(target.order) + ")";
  }
  // The functions as the requests use them, each once: "06", or "06 and 16".
  std::string functions;
  for (const WriteFrame& request : plan.requests) {
    char code[8];
    std::snprintf(code, sizeof code, "%02d", request.function);
    if (functions.find(code) == std::string::npos) functions += (functions.empty() ? "" : " and ") + std::string(code);
  }
  const bool several = functions.size() > 2;
  if (plan.requests.size() == 1) return text + " with function " + functions;
  return text + " in " + std::to_string(plan.requests.size()) + " requests, function" + (several ? "s " : " ") +
         functions;
}

}  // namespace vantrel
