#include "session/TableText.h"

#include <algorithm>
#include <cstring>

#include "session/DataLog.h"

namespace vantrel {
namespace {

// A cell as the format needs it: CSV quotes where RFC 4180 asks; a tab or line break in a
// cell would break a tab-separated or aligned row, so it becomes a blank (no cell the table
// makes has one, but the text must stay a table whatever it holds).
std::string Field(const std::string& text, TextFormat format) {
  if (format == TextFormat::Csv) return CsvField(text);
  std::string field = text;
  std::replace_if(field.begin(), field.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return field;
}

// The columns a cell takes on a terminal: its characters, not its bytes, so that a unit
// such as °C lines up (UTF-8 continuation bytes take none).
std::size_t Shown(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

std::vector<std::size_t> TextColumns(const ResponseTable& table, bool windowCells) {
  std::vector<std::size_t> columns;
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    if (windowCells || std::strcmp(table.columns[c].caption, "Write") != 0) columns.push_back(c);
  }
  return columns;
}

std::string TableAsText(const ResponseTable& table, const std::vector<int>& rows, TextFormat format,
                        bool windowCells) {
  const std::vector<std::size_t> columns = TextColumns(table, windowCells);
  if (columns.empty()) return {};
  // The lines as fields: the captions, then the rows asked for.
  std::vector<std::vector<std::string>> lines(1);
  for (std::size_t c : columns) lines[0].push_back(Field(table.columns[c].caption, format));
  auto addRow = [&](std::size_t r) {
    const auto& row = table.rows[r];
    auto& line = lines.emplace_back();
    for (std::size_t c : columns) line.push_back(Field(c < row.size() ? row[c] : std::string(), format));
  };
  if (rows.empty()) {
    for (std::size_t r = 0; r < table.rows.size(); ++r) addRow(r);
  } else {
    for (int r : rows) {
      if (r >= 0 && static_cast<std::size_t>(r) < table.rows.size()) addRow(static_cast<std::size_t>(r));
    }
  }

  std::vector<std::size_t> width(columns.size());
  if (format == TextFormat::Aligned) {
    for (const auto& line : lines) {
      for (std::size_t i = 0; i < line.size(); ++i) width[i] = std::max(width[i], Shown(line[i]));
    }
  }
  std::string text;
  for (const auto& line : lines) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (format == TextFormat::Aligned) {
        out += line[i];
        if (i + 1 < line.size()) out.append(width[i] + 2 - Shown(line[i]), ' ');
      } else {
        if (i > 0) out += format == TextFormat::Csv ? ',' : '\t';
        out += line[i];
      }
    }
    if (format == TextFormat::Aligned) out.erase(out.find_last_not_of(' ') + 1);
    text += out + '\n';
  }
  return text;
}

}  // namespace vantrel
