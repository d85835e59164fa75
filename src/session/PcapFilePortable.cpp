#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Platform.h"
#include "session/PcapFile.h"

namespace vantrel {
namespace {

// The file's header: magic, version 2.4, zone and accuracy 0, the longest packet kept, and
// the link type of packets that begin with their IP header (LINKTYPE_RAW).
constexpr std::uint32_t kMagic = 0xA1B2C3D4;  // microsecond stamps, in the writer's byte order
constexpr std::uint32_t kSnapLength = 65535;
constexpr std::uint32_t kLinkTypeRaw = 101;

// A field of the file's headers, in this machine's byte order, as the magic tells readers.
template <typename T>
void PutNative(std::vector<std::uint8_t>& out, T value) {
  std::uint8_t bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  out.insert(out.end(), bytes, bytes + sizeof value);
}

bool WriteAll(std::FILE* file, const std::vector<std::uint8_t>& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
}

}  // namespace

struct PcapFile::Handle {
  std::FILE* file = nullptr;
  ~Handle() {
    if (file != nullptr) std::fclose(file);
  }
};

PcapFile::PcapFile() = default;
PcapFile::~PcapFile() = default;

bool PcapFile::Open(const std::string& path, std::string& error) {
  Close();
  auto handle = std::make_unique<Handle>();
  handle->file = std::fopen(path.c_str(), "wb");
  if (handle->file == nullptr) {
    error = path + ": " + platform::ErrorText(errno);
    return false;
  }
  std::vector<std::uint8_t> header;
  PutNative<std::uint32_t>(header, kMagic);
  PutNative<std::uint16_t>(header, 2);
  PutNative<std::uint16_t>(header, 4);
  PutNative<std::int32_t>(header, 0);
  PutNative<std::uint32_t>(header, 0);
  PutNative<std::uint32_t>(header, kSnapLength);
  PutNative<std::uint32_t>(header, kLinkTypeRaw);
  if (!WriteAll(handle->file, header)) {
    error = path + ": " + platform::ErrorText(errno);
    return false;
  }
  handle_ = std::move(handle);
  return true;
}

bool PcapFile::Write(std::uint32_t seconds, std::uint32_t micros, const std::vector<std::uint8_t>& packet) {
  if (!handle_) return false;
  std::vector<std::uint8_t> record;
  PutNative<std::uint32_t>(record, seconds);
  PutNative<std::uint32_t>(record, micros);
  PutNative<std::uint32_t>(record, static_cast<std::uint32_t>(packet.size()));  // the bytes kept
  PutNative<std::uint32_t>(record, static_cast<std::uint32_t>(packet.size()));  // of the packet's
  record.insert(record.end(), packet.begin(), packet.end());
  return WriteAll(handle_->file, record);
}

void PcapFile::Close() { handle_.reset(); }

}  // namespace vantrel
