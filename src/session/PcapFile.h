// A capture file in libpcap's format: microsecond time stamps, and packets that begin with
// their IP header (raw IP). Written through libpcap where the platform has it; the Windows
// build, for which no libpcap is at hand, writes the same bytes itself. One byte vector in
// the tests holds both to the format.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel {

class PcapFile {
 public:
  PcapFile();
  ~PcapFile();
  PcapFile(const PcapFile&) = delete;
  PcapFile& operator=(const PcapFile&) = delete;

  // Creates or empties the file and writes its header. False with error set when it cannot.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return handle_ != nullptr; }
  // Appends a packet stamped `seconds`.`micros` since 1970, and flushes the file, so that a
  // reader sees it at once. False when not open or not written.
  bool Write(std::uint32_t seconds, std::uint32_t micros, const std::vector<std::uint8_t>& packet);
  void Close();

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace vantrel
