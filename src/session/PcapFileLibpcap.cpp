#include <pcap/pcap.h>

#include "session/PcapFile.h"

namespace vantrel {

struct PcapFile::Handle {
  pcap_t* pcap = nullptr;
  pcap_dumper_t* dumper = nullptr;
  ~Handle() {
    if (dumper != nullptr) pcap_dump_close(dumper);
    if (pcap != nullptr) pcap_close(pcap);
  }
};

PcapFile::PcapFile() = default;
PcapFile::~PcapFile() = default;

bool PcapFile::Open(const std::string& path, std::string& error) {
  Close();
  auto handle = std::make_unique<Handle>();
  handle->pcap = pcap_open_dead(DLT_RAW, 65535);
  if (handle->pcap == nullptr) {
    error = "cannot start a capture file";
    return false;
  }
  handle->dumper = pcap_dump_open(handle->pcap, path.c_str());
  if (handle->dumper == nullptr) {
    error = pcap_geterr(handle->pcap);
    return false;
  }
  // The header reaches the disk now, so that a reader started at once finds a capture.
  pcap_dump_flush(handle->dumper);
  handle_ = std::move(handle);
  return true;
}

bool PcapFile::Write(std::uint32_t seconds, std::uint32_t micros, const std::vector<std::uint8_t>& packet) {
  if (!handle_) return false;
  pcap_pkthdr header{};
  header.ts.tv_sec = static_cast<time_t>(seconds);
  header.ts.tv_usec = static_cast<suseconds_t>(micros);
  header.caplen = header.len = static_cast<bpf_u_int32>(packet.size());
  pcap_dump(reinterpret_cast<u_char*>(handle_->dumper), &header, packet.data());
  return pcap_dump_flush(handle_->dumper) == 0;
}

void PcapFile::Close() { handle_.reset(); }

}  // namespace vantrel
