// One INI-style text file held in memory: ordered sections of ordered key/value entries
// and comments, plus the comments before the first section.
//
// The reader is strict in one place only: every non-empty line must begin with a
// printable character (0x20 to 0x7E), else the whole read fails. Everything else is taken
// as it stands: no trimming, no quoting, no escapes, no inline comments. Section names and
// keys compare without regard to ASCII letter case.
//
// Sections and entries are addressed by 0-based position; -1 means nothing was found.
// Nothing is ever sorted or removed; a repeated section name makes a second section, and
// every lookup returns the first match.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

struct IniSection {
  std::vector<std::string> keys;      // as first written, case included
  std::vector<std::string> values;    // index-aligned with keys
  std::vector<std::string> comments;  // without their ';' or '#'
};

class IniDocument {
 public:
  explicit IniDocument(std::string file);
  virtual ~IniDocument();

  // Reads path into the document. False when the file cannot be opened (the document is
  // unchanged), when a non-empty line starts with a non-printable character (the message
  // "Failing on char %d\n" goes to standard output; what was read before stays), or when
  // the file held no section (what was read, e.g. header comments, stays). Lines end at
  // LF or CR LF; in a file without any LF, at CR.
  bool Load();
  // Writes the whole document to path in normal form, lines ended as the platform ends
  // them (platform::kLineEnd: LF, CR LF on Windows, where Notepad wants it). The old file is
  // replaced atomically: on false it is untouched and the reason is in the debug log.
  // A document that would not read back as written is refused before anything is
  // written: a line feed or carriage return in any section name, comment, key or value,
  // or a key that holds one of ; # [ = or starts with a non-printable character.
  // A save also removes the temporary files that saves of processes no longer running
  // left beside the file (each with a debug-log line).
  bool Save();

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& def) const;
  // The value read by the atoi rule: leading white space, an optional sign, the decimal
  // digits up to the first non-digit; no digits give 0. Outside the 32-bit range the
  // result saturates at INT_MIN or INT_MAX.
  int GetInt(const std::string& section, const std::string& key, int def) const;
  // GetInt with 1 or 0 as default; non-zero is true.
  bool GetBool(const std::string& section, const std::string& key, bool def) const;

  // Adds or replaces an entry; a missing section or key is created unless create is
  // false, in which case the result is false. A replaced key keeps its first form.
  bool SetString(const std::string& section, const std::string& key, const std::string& value,
                 bool create = true);
  bool SetInt(const std::string& section, const std::string& key, int value, bool create = true);
  bool SetBool(const std::string& section, const std::string& key, bool value, bool create = true);

  int FindSection(const std::string& name) const;
  int FindEntry(int section, const std::string& key) const;
  // Always appends, even when a section of that name exists.
  int AddSection(const std::string& name);
  void AddHeaderComment(const std::string& text);
  // To the first section of that name; false if there is none.
  bool AddSectionComment(const std::string& section, const std::string& text);
  bool AddSectionComment(int section, const std::string& text);

  // The form in which names and keys are compared: ASCII A-Z lowered when fold_case is
  // on, every other byte unchanged.
  std::string FoldCase(const std::string& text) const;

  bool fold_case = true;
  std::string path;
  std::vector<IniSection> sections;
  std::vector<std::string> section_names;  // index-aligned with sections
  std::vector<std::string> header_comments;

 private:
  bool SameName(const std::string& a, const std::string& b) const;
  // Names the first text that Save would refuse, with the reason; "" when there is none.
  std::string FirstUnwritable() const;
};

}  // namespace vantrel
