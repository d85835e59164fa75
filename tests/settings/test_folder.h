// Temporary folders and document comparison for the settings tests.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "diag/Diagnostics.h"
#include "settings/IniDocument.h"
#include "support/TempDir.h"

namespace vantrel::testing {

// A temporary folder (support/TempDir.h) with the file helpers these tests use.
class TempFolder : public vantrel::test::TempDir {
 public:
  std::string File(const std::string& name) const { return *this / name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const { return vantrel::test::ReadFile(File(name)); }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path())) {
      names.insert(e.path().filename().string());
    }
    return names;
  }
};

// A temporary folder as working directory (and so home of the debug log) while it lives.
class WorkingFolder : public TempFolder {
 public:
  WorkingFolder() : cwd_(path()) { ResetLogPathsForTesting(); }
  ~WorkingFolder() { ResetLogPathsForTesting(); }

 private:
  vantrel::test::ScopedCwd cwd_;
};

// Runs f with the file-size limit lowered to bytes, so that a write past it fails part way
// (root is not exempt from it, as it is from permissions); the limit is restored after.
template <typename F>
auto WithFileSizeLimit(rlim_t bytes, F f) {
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit lowered = saved;
  lowered.rlim_cur = bytes;
  const auto handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &lowered);
  const auto result = f();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  return result;
}

// Every field of a document in order, so equal descriptions mean equal documents.
inline std::string Describe(const IniDocument& doc) {
  std::ostringstream out;
  for (const auto& c : doc.header_comments) out << ";[" << c << "]\n";
  for (std::size_t s = 0; s < doc.sections.size() && s < doc.section_names.size(); ++s) {
    out << "[" << doc.section_names[s] << "]\n";
    for (const auto& c : doc.sections[s].comments) out << "  ;[" << c << "]\n";
    const auto& keys = doc.sections[s].keys;
    for (std::size_t e = 0; e < keys.size() && e < doc.sections[s].values.size(); ++e) {
      out << "  [" << keys[e] << "]=[" << doc.sections[s].values[e] << "]\n";
    }
  }
  return out.str();
}

}  // namespace vantrel::testing
