// Read File Record (20) and Write File Record (21) on the files of a memory image: reference
// type 6, files numbered from 1, records from 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::slave {

using Files = std::vector<std::vector<std::uint16_t>>;

// The records one sub-request names; for a write, where its values lie in the request PDU.
struct RecordRange {
  unsigned file = 0;
  unsigned record = 0;
  unsigned length = 0;
  std::size_t values = 0;
};

// Checks a request PDU of function 20 or 21 (function code first) against the files: 0, with
// the ranges it names in order, or the exception code: 03 for a byte count out of its range
// or that does not match the sub-requests, a sub-request of no records, or a read whose reply
// would not fit a PDU; then 02 for a reference type other than 6, a file that is not there, or
// records past the end of their file.
int CheckFileRequest(const Files& files, const std::uint8_t* pdu, std::size_t size, std::vector<RecordRange>& ranges);
// The reply PDU of a read that checked out.
std::vector<std::uint8_t> ReadFileRecords(const Files& files, const std::vector<RecordRange>& ranges);
// Carries out a write that checked out: what it changed, for the log.
std::string WriteFileRecords(Files& files, const std::uint8_t* pdu, const std::vector<RecordRange>& ranges);

}  // namespace vantrel::slave
