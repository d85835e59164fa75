#include "session/TableText.h"

#include <gtest/gtest.h>

using namespace vantrel;

namespace {

ResponseTable Table() {
  ResponseTable t;
  t.fill = TableFill::Filled;
  t.columns = {{"Write", 40}, {"Offset", 40}, {"Standard address", 100}, {"float32", 80}};
  t.rows = {{"Write", "1", "40001", ""}, {"Write", "2", "40002", "1,5"}, {"Write", "3", "40003", "a\"b\tc"}};
  return t;
}

}  // namespace

// The captions first, then the rows asked for (all when none), without the Write column
// unless the window's cells are asked for; CSV quotes as RFC 4180 asks, tabs keep one cell
// per column, aligned columns are as wide as their widest text and two blanks.
TEST(table_text, rows_as_tabs_csv_or_aligned_without_the_write_column) {
  const struct {
    std::vector<int> rows;
    TextFormat format;
    bool windowCells;
    const char* text;
  } cases[] = {
      {{}, TextFormat::Tabs, false,
       "Offset\tStandard address\tfloat32\n1\t40001\t\n2\t40002\t1,5\n3\t40003\ta\"b c\n"},
      {{}, TextFormat::Csv, false,
       "Offset,Standard address,float32\n1,40001,\n2,40002,\"1,5\"\n3,40003,\"a\"\"b\tc\"\n"},
      {{2, 0}, TextFormat::Tabs, false, "Offset\tStandard address\tfloat32\n3\t40003\ta\"b c\n1\t40001\t\n"},
      {{1, 7, -1}, TextFormat::Tabs, false, "Offset\tStandard address\tfloat32\n2\t40002\t1,5\n"},
      {{}, TextFormat::Aligned, false,
       "Offset  Standard address  float32\n"
       "1       40001\n"
       "2       40002             1,5\n"
       "3       40003             a\"b c\n"},
      {{1}, TextFormat::Aligned, true,
       "Write  Offset  Standard address  float32\n"
       "Write  2       40002             1,5\n"},
      {{0}, TextFormat::Csv, true, "Write,Offset,Standard address,float32\nWrite,1,40001,\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(TableAsText(Table(), c.rows, c.format, c.windowCells), c.text) << c.text;
  EXPECT_EQ(TableAsText(ResponseTable{}, {}, TextFormat::Csv), "");
  EXPECT_EQ(TextColumns(Table()), (std::vector<std::size_t>{1, 2, 3}));
}
