// The response table as text for other programs: tab-separated for the clipboard (a
// spreadsheet takes it as rows and columns), CSV for a file, aligned columns for a terminal.
// The "Write" column is a click target of the window and is left out, unless the window's
// exact cells are asked for.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "session/ResponseTable.h"

namespace vantrel {

enum class TextFormat { Tabs, Csv, Aligned };

// The columns that text of the table holds, in order: every one but "Write", or with
// windowCells every one.
std::vector<std::size_t> TextColumns(const ResponseTable& table, bool windowCells = false);

// The captions, then the rows given (indices into table.rows, in the order given; out of
// range ones are skipped), or every row when none are given; each line ends in '\n'.
// Aligned pads each column with blanks to its widest text and two more, and leaves no
// blanks at a line's end. Empty for a table without columns.
std::string TableAsText(const ResponseTable& table, const std::vector<int>& rows, TextFormat format,
                        bool windowCells = false);

}  // namespace vantrel
