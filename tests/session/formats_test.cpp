// The CSV reader and the capture file, built twice: over libcsv and libpcap, and over our
// own code that the Windows build uses. Each build runs these same cases, so the two read
// every case alike and write the same bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "session/CsvParser.h"
#include "session/PcapFile.h"
#include "support/Hex.h"
#include "support/TempDir.h"

using namespace vantrel;

namespace {

// What a text reads as: each row's fields joined by '|', then '#' and the character that
// ended the row (-1: the end of the text); "error at N" for a refusal at position N, and
// "open quote" when the text ends inside quotes.
std::string Read(const std::string& text, std::size_t pieceSize) {
  std::string out;
  std::string row;
  CsvParser parser(
      [&](const std::string& field) { row += (row.empty() ? "[" : "|") + field; },
      [&](int ending) {
        out += row + "]#" + std::to_string(ending) + " ";
        row.clear();
      });
  for (std::size_t at = 0; at < text.size(); at += pieceSize) {
    const std::string piece = text.substr(at, pieceSize);
    const std::size_t taken = parser.Parse(piece);
    if (taken < piece.size()) return out + "error at " + std::to_string(at + taken);
  }
  return parser.Finish() ? out : out + "open quote";
}

TEST(Formats, csv_reads_each_case_alike_whole_and_a_character_at_a_time) {
  const struct {
    std::string text;
    std::string rows;
  } cases[] = {
      {"name,table\n1,2\n", "[name|table]#10 [1|2]#10 "},
      {"a,b\r\n1,2\r\n", "[a|b]#13 [1|2]#13 "},
      {"a,b", "[a|b]#-1 "},
      {"a\n\n\r\n\nb\n", "[a]#10 [b]#10 "},                          // blank lines are no rows
      {"a,,\n", "[a||]#10 "},                                        // empty fields are kept
      {"  a  ,\tb c\t\n", "[a|b c]#10 "},                            // blanks at the ends dropped
      {"\" a \",\"x,y\"\n", "[ a |x,y]#10 "},                        // but not inside quotes
      {"\"l1\nl2\",z\n", "[l1\nl2|z]#10 "},                          // a line break in quotes
      {"\"5\"\" display\"\n", "[5\" display]#10 "},                  // a doubled quote
      {"\"\"\"\"\n", "[\"]#10 "},
      {"\"a\"  ,b\n", "[a|b]#10 "},                                  // blanks after the closing quote
      {"\"a\"", "[a]#-1 "},
      {"ok\na\"b\n", "[ok]#10 error at 4"},                          // a quote inside a plain field
      {"\"a\"b,c\n", "error at 3"},                                  // text after the closing quote
      {"\"a\" b\n", "error at 4"},
      {"a,\"open\n", "open quote"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.text, c.text.size() + 1), c.rows) << "whole: " << c.text;
    EXPECT_EQ(Read(c.text, 1), c.rows) << "piecewise: " << c.text;
  }
  EXPECT_EQ(CsvQuoted("say \"hi\", twice"), "\"say \"\"hi\"\", twice\"");
  EXPECT_EQ(CsvQuoted(""), "\"\"");
}

TEST(Formats, capture_file_has_the_header_and_records_of_the_format) {
  test::TempDir dir;
  const std::string path = dir / "bus.pcap";
  PcapFile file;
  std::string error;
  EXPECT_FALSE(file.Write(1, 2, {0x45}));  // not open
  ASSERT_TRUE(file.Open(path, error)) << error;
  ASSERT_TRUE(file.Write(0x65A1B2C3, 999999, test::Bytes("45 00 00 03")));
  ASSERT_TRUE(file.Write(0x65A1B2C4, 0, test::Bytes("45")));
  // Written and flushed: a reader sees every record before the file is closed.
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  // Little-endian fields, as the machines we build for write them.
  EXPECT_EQ(bytes, test::Bytes("D4 C3 B2 A1 02 00 04 00 00 00 00 00 00 00 00 00 FF FF 00 00 65 00 00 00"
                               "C3 B2 A1 65 3F 42 0F 00 04 00 00 00 04 00 00 00 45 00 00 03"
                               "C4 B2 A1 65 00 00 00 00 01 00 00 00 01 00 00 00 45"));
  file.Close();
  EXPECT_FALSE(file.IsOpen());

  EXPECT_FALSE(file.Open(dir / "no-such-folder/bus.pcap", error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(file.IsOpen());
}

}  // namespace
