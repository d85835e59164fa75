// The INI reader on any file. The invariants: entries and comments land only in the first
// section of a name, each key once; whatever a read makes of a file can be saved unless a
// text holds a carriage return (which would not read back), and the saved file reads back
// to the same document and saves to the same bytes.
//
// Input: the file's bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzInput.h"
#include "diag/Diagnostics.h"
#include "ini_invariants.h"
#include "settings/IniDocument.h"

using namespace vantrel;
using vantrel::fuzz::Require;

namespace {

std::filesystem::path g_folder;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Same(const IniDocument& a, const IniDocument& b) {
  if (a.header_comments != b.header_comments || a.section_names != b.section_names ||
      a.sections.size() != b.sections.size()) {
    return false;
  }
  for (std::size_t s = 0; s < a.sections.size(); ++s) {
    const IniSection &x = a.sections[s], &y = b.sections[s];
    if (x.keys != y.keys || x.values != y.values || x.comments != y.comments) return false;
  }
  return true;
}

}  // namespace

// A folder of its own for the files, in memory where there is such a file system: a save
// flushes to the disk twice, which on a disk would be most of the time. No debug log, where
// every refused save would add a line.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  debug_log_enabled = false;
  std::error_code error;
  const std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::string pattern = (base / "vantrel-ini-fuzz-XXXXXX").string();
  Require(mkdtemp(pattern.data()) != nullptr, "no temporary folder");
  g_folder = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path in = g_folder / "in.ini", out = g_folder / "out.ini";
  std::ofstream(in, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                               static_cast<std::streamsize>(size));
  IniDocument first(in.string());
  first.Load();
  Require(testing::IllFormed(first).empty(), "a document read ill-formed");
  first.path = out.string();
  const bool writable = !testing::HoldsCarriageReturn(first);
  Require(first.Save() == writable, "a document that Save refuses though it reads back, or the other way");
  if (!writable) return 0;
  const std::string written = ReadFile(out);
  IniDocument second(out.string());
  Require(second.Load() == !first.section_names.empty(), "a saved document that does not load");
  Require(Same(first, second), "a saved document that reads back otherwise");
  Require(second.Save() && ReadFile(out) == written, "a document that saves to other bytes the second time");
  return 0;
}
