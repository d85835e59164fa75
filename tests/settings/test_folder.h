// Temporary folders and document comparison for the settings tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "diag/Diagnostics.h"
#include "settings/IniDocument.h"

namespace vantrel::testing {

// A fresh folder below the system's temporary folder, removed with all it holds.
class TempFolder {
 public:
  TempFolder() : path_((std::filesystem::temp_directory_path() / "vantrel-XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ostringstream text;
    text << std::ifstream(File(name), std::ios::binary).rdbuf();
    return text.str();
  }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path_)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }

 private:
  std::string path_;
};

// A temporary folder as working directory (and so home of the debug log) while it lives.
class WorkingFolder : public TempFolder {
 public:
  WorkingFolder() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path());
    ResetLogPathsForTesting();
  }
  ~WorkingFolder() {
    std::filesystem::current_path(previous_);
    ResetLogPathsForTesting();
  }

 private:
  std::filesystem::path previous_;
};

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
