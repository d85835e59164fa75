#include "settings/IniDocument.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fstream>
#include <unordered_map>
#include <utility>
#include <vector>

#include "diag/Diagnostics.h"
#include "platform/Platform.h"
#include "settings/AtomicFile.h"

namespace vantrel {

namespace {

// The first of these in a line decides what the line is.
constexpr const char* kSearchSet = ";#[=";

bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

// The "C" locale's tolower, spelled out: the process locale may be anything (Qt sets it
// from the environment), and names must compare the same everywhere.
char FoldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A line-by-line Load would otherwise scan every section and every key of its section for
// each line, which is quadratic in the file's size. This index answers the same
// first-match questions by hash, and lives for one Load only, so it never goes stale.
class LoadIndex {
 public:
  explicit LoadIndex(const IniDocument& doc) : doc_(doc) {
    for (std::size_t s = 0; s < doc.section_names.size(); ++s) {
      NoteSection(static_cast<int>(s));
    }
  }

  int Section(const std::string& name) const {
    const auto it = sections_.find(doc_.FoldCase(name));
    return it == sections_.end() ? -1 : it->second;
  }
  // Keeps the first position of a name, as the linear lookup finds it.
  void NoteSection(int s) {
    sections_.emplace(doc_.FoldCase(doc_.section_names[static_cast<std::size_t>(s)]), s);
  }

  int Entry(int s, const std::string& key) {
    const auto& entries = EntriesOf(s);
    const auto it = entries.find(doc_.FoldCase(key));
    return it == entries.end() ? -1 : it->second;
  }
  void NoteEntry(int s, int e) {
    const auto& keys = doc_.sections[static_cast<std::size_t>(s)].keys;
    EntriesOf(s).emplace(doc_.FoldCase(keys[static_cast<std::size_t>(e)]), e);
  }

 private:
  // Built on first use: entries only ever go to the first section of a name, so most
  // sections of a file with repeated headers never need one.
  std::unordered_map<std::string, int>& EntriesOf(int s) {
    auto [it, added] = entries_.try_emplace(s);
    if (added) {
      const auto& keys = doc_.sections[static_cast<std::size_t>(s)].keys;
      for (std::size_t e = 0; e < keys.size(); ++e) {
        it->second.emplace(doc_.FoldCase(keys[e]), static_cast<int>(e));
      }
    }
    return it->second;
  }

  const IniDocument& doc_;
  std::unordered_map<std::string, int> sections_;
  std::unordered_map<int, std::unordered_map<std::string, int>> entries_;
};

// The "atoi" rule without its undefined behaviour on overflow: white space, an optional
// sign, then decimal digits up to the first non-digit. A number beyond the int range
// saturates at INT_MIN or INT_MAX.
int ParseInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulated as a negative number, whose range reaches INT_MIN.
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 - (text[i] - '0');
    if (value < INT_MIN) return negative ? INT_MIN : INT_MAX;
  }
  if (negative) return static_cast<int>(value);
  return value < -INT_MAX ? INT_MAX : static_cast<int>(-value);
}

// A text as C notation would show it, so a debug-log line stays one line.
std::string Shown(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (IsPrintable(u)) {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  return out;
}

// What in text would not read back as written, or "" when nothing. A line feed ends the
// line early in any text; so may a carriage return, which at the end of a line is taken
// for part of the line end, and which editors take for a line end. A key ends at the
// first character of the search set, and its first character starts the line, where a
// non-printable one fails the whole read.
std::string Unwritable(const std::string& text, bool isKey) {
  if (text.find('\n') != std::string::npos) return "holds a line feed";
  if (text.find('\r') != std::string::npos) return "holds a carriage return";
  if (!isKey) return "";
  const std::size_t p = text.find_first_of(kSearchSet);
  if (p != std::string::npos) return std::string("holds '") + text[p] + "'";
  if (!text.empty() && !IsPrintable(static_cast<unsigned char>(text[0]))) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[0]));
    return std::string("starts with byte ") + byte;
  }
  return "";
}

}  // namespace

IniDocument::IniDocument(std::string file) : path(std::move(file)) {}

IniDocument::~IniDocument() = default;

std::string IniDocument::FoldCase(const std::string& text) const {
  if (!fold_case) return text;
  std::string folded = text;
  for (char& c : folded) c = FoldChar(c);
  return folded;
}

// The same answer as comparing FoldCase of both sides, without the two copies.
bool IniDocument::SameName(const std::string& a, const std::string& b) const {
  if (!fold_case) return a == b;
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldChar(a[i]) != FoldChar(b[i])) return false;
  }
  return true;
}

int IniDocument::FindSection(const std::string& name) const {
  for (std::size_t s = 0; s < section_names.size(); ++s) {
    if (SameName(section_names[s], name)) return static_cast<int>(s);
  }
  return -1;
}

int IniDocument::FindEntry(int section, const std::string& key) const {
  if (section < 0 || static_cast<std::size_t>(section) >= sections.size()) return -1;
  const auto& keys = sections[static_cast<std::size_t>(section)].keys;
  for (std::size_t e = 0; e < keys.size(); ++e) {
    if (SameName(keys[e], key)) return static_cast<int>(e);
  }
  return -1;
}

int IniDocument::AddSection(const std::string& name) {
  section_names.push_back(name);
  sections.emplace_back();
  return static_cast<int>(sections.size()) - 1;
}

void IniDocument::AddHeaderComment(const std::string& text) { header_comments.push_back(text); }

bool IniDocument::AddSectionComment(const std::string& section, const std::string& text) {
  const int s = FindSection(section);
  return s >= 0 && AddSectionComment(s, text);
}

bool IniDocument::AddSectionComment(int section, const std::string& text) {
  if (section < 0 || static_cast<std::size_t>(section) >= sections.size()) return false;
  sections[static_cast<std::size_t>(section)].comments.push_back(text);
  return true;
}

std::string IniDocument::GetString(const std::string& section, const std::string& key,
                                   const std::string& def) const {
  const int s = FindSection(section);
  const int e = FindEntry(s, key);
  if (e < 0) return def;
  return sections[static_cast<std::size_t>(s)].values[static_cast<std::size_t>(e)];
}

int IniDocument::GetInt(const std::string& section, const std::string& key, int def) const {
  return ParseInt(GetString(section, key, std::to_string(def)));
}

bool IniDocument::GetBool(const std::string& section, const std::string& key, bool def) const {
  return GetInt(section, key, def ? 1 : 0) != 0;
}

bool IniDocument::SetString(const std::string& section, const std::string& key,
                            const std::string& value, bool create) {
  int s = FindSection(section);
  if (s < 0) {
    if (!create) return false;
    s = AddSection(section);
  }
  IniSection& target = sections[static_cast<std::size_t>(s)];
  const int e = FindEntry(s, key);
  if (e >= 0) {
    target.values[static_cast<std::size_t>(e)] = value;
    return true;
  }
  if (!create) return false;
  target.keys.push_back(key);
  target.values.push_back(value);
  return true;
}

bool IniDocument::SetInt(const std::string& section, const std::string& key, int value,
                         bool create) {
  return SetString(section, key, std::to_string(value), create);
}

bool IniDocument::SetBool(const std::string& section, const std::string& key, bool value,
                          bool create) {
  return SetInt(section, key, value ? 1 : 0, create);
}

bool IniDocument::Load() {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  // Read whole first: whether the file has a line feed at all decides where lines end.
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  // A read error (the path is a folder, or the disk failed) is not the end of the file.
  if (in.bad()) return false;
  in.close();

  // Lines end at line feeds, a CR LF included. A file with carriage returns but no line
  // feed at all (as old Mac editors write it) would otherwise be one line: its header
  // would be found and every key lost, and the next save would write the defaults.
  const char lineEnd =
      text.find('\n') == std::string::npos && text.find('\r') != std::string::npos ? '\r' : '\n';

  LoadIndex index(*this);
  std::string current;  // the section that entries and comments go to
  for (std::size_t start = 0; start < text.size();) {
    std::size_t stop = text.find(lineEnd, start);
    const bool ended = stop != std::string::npos;
    if (!ended) stop = text.size();
    std::string line = text.substr(start, stop - start);
    start = stop + 1;
    // CR LF reads as LF; then one more carriage return goes, so a line that ends in two
    // of them before its line feed loses both.
    if (ended && !line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;

    const auto first = static_cast<unsigned char>(line[0]);
    if (!IsPrintable(first)) {
      // The code as a signed 8-bit number: a tab gives 9, byte 0xEF gives -17.
      std::printf("Failing on char %d\n", first < 0x80 ? first : first - 0x100);
      std::fflush(stdout);
      return false;
    }

    const std::size_t p = line.find_first_of(kSearchSet);
    if (p == std::string::npos) continue;

    if (line[p] == '[') {
      const std::size_t r = line.rfind(']');
      if (r == std::string::npos || r <= p) continue;
      current = line.substr(p + 1, r - p - 1);
      index.NoteSection(AddSection(current));
    } else if (line[p] == '=') {
      // What SetString(current, key, value) does, with the lookups answered by the index.
      int s = index.Section(current);
      if (s < 0) {
        s = AddSection(current);
        index.NoteSection(s);
      }
      IniSection& section = sections[static_cast<std::size_t>(s)];
      const int e = index.Entry(s, line.substr(0, p));
      if (e >= 0) {
        section.values[static_cast<std::size_t>(e)] = line.substr(p + 1);
      } else {
        section.keys.push_back(line.substr(0, p));
        section.values.push_back(line.substr(p + 1));
        index.NoteEntry(s, static_cast<int>(section.keys.size()) - 1);
      }
    } else if (section_names.empty()) {
      AddHeaderComment(line.substr(p + 1));
    } else {
      AddSectionComment(index.Section(current), line.substr(p + 1));
    }
  }
  return !section_names.empty();
}

std::string IniDocument::FirstUnwritable() const {
  for (std::size_t c = 0; c < header_comments.size(); ++c) {
    const std::string why = Unwritable(header_comments[c], false);
    if (!why.empty()) return "header comment " + std::to_string(c + 1) + " " + why;
  }
  for (std::size_t s = 0; s < sections.size(); ++s) {
    const auto name = [&] { return "[" + Shown(section_names[s]) + "]"; };
    std::string why = Unwritable(section_names[s], false);
    if (!why.empty()) return "the section name " + name() + " " + why;
    const IniSection& section = sections[s];
    for (std::size_t c = 0; c < section.comments.size(); ++c) {
      why = Unwritable(section.comments[c], false);
      if (!why.empty()) {
        return "comment " + std::to_string(c + 1) + " of section " + name() + " " + why;
      }
    }
    for (std::size_t e = 0; e < section.keys.size(); ++e) {
      const auto key = [&] { return "[" + Shown(section.keys[e]) + "] in section " + name(); };
      why = Unwritable(section.keys[e], true);
      if (!why.empty()) return "the key " + key() + " " + why;
      why = Unwritable(section.values[e], false);
      if (!why.empty()) return "the value of key " + key() + " " + why;
    }
  }
  return "";
}

bool IniDocument::Save() {
  // Written raw, such a text would break its line or end it early: the file would then
  // load as something else, or not at all.
  const std::string refused = FirstUnwritable();
  if (!refused.empty()) {
    WriteDebugLog("IniDocument::Save refused to write [%s]: %s, so it would not read back "
                  "as written",
                  path.c_str(), refused.c_str());
    return false;
  }
  const char* const end = platform::kLineEnd;
  std::string text;
  for (const auto& comment : header_comments) text.append(";").append(comment).append(end);
  if (!header_comments.empty()) text.append(end);
  for (std::size_t s = 0; s < sections.size(); ++s) {
    text.append("[").append(section_names[s]).append("]").append(end);
    const IniSection& section = sections[s];
    for (const auto& comment : section.comments) text.append(";").append(comment).append(end);
    for (std::size_t e = 0; e < section.keys.size(); ++e) {
      text.append(section.keys[e]).append("=").append(section.values[e]).append(end);
    }
    text.append(end);
  }
  return ReplaceFileAtomically(path, text, "IniDocument::Save");
}

}  // namespace vantrel
