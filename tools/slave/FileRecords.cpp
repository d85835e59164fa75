#include "FileRecords.h"

namespace vantrel::slave {
namespace {

constexpr std::uint8_t kReadFileRecord = 20;
constexpr std::uint8_t kReferenceType = 6;
constexpr std::size_t kMaxPdu = 253;
// Reference type, file number, record number and record length.
constexpr std::size_t kSubRequestHeader = 7;

unsigned Word(const std::uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }

}  // namespace

int CheckFileRequest(const Files& files, const std::uint8_t* pdu, std::size_t size, std::vector<RecordRange>& ranges) {
  ranges.clear();
  const bool read = pdu[0] == kReadFileRecord;
  if (size < 2) return 0x03;
  const std::size_t count = pdu[1];
  // A read's sub-requests are 7 bytes each; a write's carry their values as well.
  const bool countFits = read ? count >= 0x07 && count <= 0xF5 && count % kSubRequestHeader == 0
                              : count >= 0x09 && count <= 0xFB;
  if (!countFits || size != 2 + count) return 0x03;
  std::vector<std::uint8_t> types;
  std::size_t replySize = 2;  // the function and the response data length
  for (std::size_t at = 2; at < size;) {
    if (size - at < kSubRequestHeader) return 0x03;
    RecordRange r;
    r.file = Word(pdu + at + 1);
    r.record = Word(pdu + at + 3);
    r.length = Word(pdu + at + 5);
    r.values = at + kSubRequestHeader;
    if (r.length == 0) return 0x03;
    types.push_back(pdu[at]);
    at += kSubRequestHeader;
    if (!read) {
      if (size - at < 2 * r.length) return 0x03;
      at += 2 * r.length;
    }
    replySize += 2 + 2 * r.length;  // a read's: its length, its reference type, its records
    ranges.push_back(r);
  }
  if (read && replySize > kMaxPdu) return 0x03;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const RecordRange& r = ranges[i];
    if (types[i] != kReferenceType || r.file < 1 || r.file > files.size()) return 0x02;
    if (r.record + r.length > files[r.file - 1].size()) return 0x02;
  }
  return 0;
}

std::vector<std::uint8_t> ReadFileRecords(const Files& files, const std::vector<RecordRange>& ranges) {
  std::vector<std::uint8_t> pdu{kReadFileRecord, 0};
  for (const RecordRange& r : ranges) {
    pdu.push_back(static_cast<std::uint8_t>(1 + 2 * r.length));
    pdu.push_back(kReferenceType);
    for (unsigned i = 0; i < r.length; ++i) {
      const std::uint16_t v = files[r.file - 1][r.record + i];
      pdu.push_back(static_cast<std::uint8_t>(v >> 8));
      pdu.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
  }
  pdu[1] = static_cast<std::uint8_t>(pdu.size() - 2);
  return pdu;
}

std::string WriteFileRecords(Files& files, const std::uint8_t* pdu, const std::vector<RecordRange>& ranges) {
  std::string what;
  for (const RecordRange& r : ranges) {
    std::vector<std::uint16_t>& records = files[r.file - 1];
    for (unsigned i = 0; i < r.length; ++i) {
      records[r.record + i] = static_cast<std::uint16_t>(Word(pdu + r.values + 2 * i));
    }
    what += what.empty() ? "wrote " : ", ";
    const std::string file = " of file " + std::to_string(r.file);
    what += r.length == 1 ? std::to_string(records[r.record]) + " to record " + std::to_string(r.record) + file
                          : std::to_string(r.length) + " records" + file + " from record " + std::to_string(r.record);
  }
  return what;
}

}  // namespace vantrel::slave
