// What holds of every document that IniDocument::Load makes of a file, whatever the file:
// checked by the seeded load-save-load test and by the INI reader's fuzz target.
#pragma once

#include <string>
#include <vector>

#include "settings/IniDocument.h"

namespace vantrel::testing {

// Whether any text of the document holds a carriage return: Save refuses to write one,
// since it would not read back. (Load never stores a line feed.)
inline bool HoldsCarriageReturn(const IniDocument& doc) {
  auto in = [](const std::vector<std::string>& texts) {
    for (const auto& t : texts) {
      if (t.find('\r') != std::string::npos) return true;
    }
    return false;
  };
  if (in(doc.header_comments) || in(doc.section_names)) return true;
  for (const IniSection& s : doc.sections) {
    if (in(s.comments) || in(s.keys) || in(s.values)) return true;
  }
  return false;
}

// Entries and comments only in the first section of a name, each key once under folding:
// "" when so, else what is wrong.
inline std::string IllFormed(const IniDocument& doc) {
  if (doc.sections.size() != doc.section_names.size()) return "sections and their names out of step";
  for (std::size_t s = 0; s < doc.sections.size(); ++s) {
    const IniSection& section = doc.sections[s];
    if (section.keys.size() != section.values.size()) return "keys and values out of step";
    const bool first = doc.FindSection(doc.section_names[s]) == static_cast<int>(s);
    if (!first && (!section.keys.empty() || !section.comments.empty())) {
      return "repeated section " + std::to_string(s) + " is not empty";
    }
    for (std::size_t e = 0; e < section.keys.size(); ++e) {
      if (doc.FindEntry(static_cast<int>(s), section.keys[e]) != static_cast<int>(e)) {
        return "key [" + section.keys[e] + "] repeats";
      }
    }
  }
  return "";
}

}  // namespace vantrel::testing
