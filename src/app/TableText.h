// The response table as text for other programs: tab-separated for the clipboard (a
// spreadsheet takes it as rows and columns), CSV for a file. The "Write" column is a click
// target of the window and is left out.
#pragma once

#include <string>
#include <vector>

#include "app/ResponseTable.h"

namespace vantrel {

enum class TextFormat { Tabs, Csv };

// The captions, then the rows given (indices into table.rows, in the order given; out of
// range ones are skipped), or every row when none are given; each line ends in '\n'.
// Empty for a table without columns.
std::string TableAsText(const ResponseTable& table, const std::vector<int>& rows, TextFormat format);

}  // namespace vantrel
