#include "app/TableText.h"

#include <algorithm>
#include <cstring>

#include "app/DataLog.h"

namespace vantrel {
namespace {

// A cell as the format needs it: CSV quotes where RFC 4180 asks; a tab or line break in a
// cell would break a tab-separated row, so it becomes a blank (no cell the table makes has
// one, but the text must stay a table whatever it holds).
std::string Field(const std::string& text, TextFormat format) {
  if (format == TextFormat::Csv) return CsvField(text);
  std::string field = text;
  std::replace_if(field.begin(), field.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return field;
}

}  // namespace

std::string TableAsText(const ResponseTable& table, const std::vector<int>& rows, TextFormat format) {
  const char separator = format == TextFormat::Csv ? ',' : '\t';
  std::vector<std::size_t> columns;
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    if (std::strcmp(table.columns[c].caption, "Write") != 0) columns.push_back(c);
  }
  if (columns.empty()) return {};
  auto line = [&](auto cell) {
    std::string text;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (i > 0) text += separator;
      text += Field(cell(columns[i]), format);
    }
    return text + '\n';
  };
  std::string text = line([&](std::size_t c) { return std::string(table.columns[c].caption); });
  auto addRow = [&](std::size_t r) {
    const auto& row = table.rows[r];
    text += line([&](std::size_t c) { return c < row.size() ? row[c] : std::string(); });
  };
  if (rows.empty()) {
    for (std::size_t r = 0; r < table.rows.size(); ++r) addRow(r);
  } else {
    for (int r : rows) {
      if (r >= 0 && static_cast<std::size_t>(r) < table.rows.size()) addRow(static_cast<std::size_t>(r));
    }
  }
  return text;
}

}  // namespace vantrel
