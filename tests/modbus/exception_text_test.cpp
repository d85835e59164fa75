#include "modbus/ExceptionText.h"

#include <gtest/gtest.h>

#include <sstream>

using vantrel::ExplainException;

namespace {

std::string Explain(int error, int code) {
  std::string text = "left over";
  ExplainException(static_cast<std::uint8_t>(error), static_cast<std::uint8_t>(code), text);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  EXPECT_EQ(start, text.size()) << "every line ends in a line feed";
  return lines;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(exception_text, every_entry_starts_with_its_exact_title) {
  const std::pair<int, const char*> titles[] = {
      {0x01, "0x01 - ILLEGAL FUNCTION\n"},
      {0x02, "0x02 - ILLEGAL DATA ADDRESS\n"},
      {0x03, "0x03 - ILLEGAL DATA VALUE\n"},
      {0x04, "0x04 - SLAVE DEVICE FAILURE\n"},
      {0x05, "0x05 - ACKNOWLEDGE \n"},
      {0x06, "0x06 - SLAVE DEVICE BUSY\n"},
      {0x08, "0x08 - MEMORY PARITY ERROR \n"},
      {0x0A, "0x0A - GATEWAY PATH UNAVAILABLE  \n"},
      {0x0B, "0x0B - GATEWAY TARGET DEVICE FAILED TO RESPOND \n"},
  };
  for (const auto& [code, title] : titles) {
    const std::string text = Explain(0x83, code);
    EXPECT_EQ(text.rfind(title, 0), 0u) << code;
    const auto lines = Lines(text);
    EXPECT_GE(lines.size(), 3u) << code;
    for (const auto& line : lines) EXPECT_LE(line.size(), 80u) << line;
  }
}

TEST(exception_text, description_line_counts_and_last_lines) {
  const std::pair<int, std::size_t> counts[] = {{1, 6}, {2, 5}, {3, 7}, {4, 2}, {5, 7},
                                                {6, 4}, {8, 6}, {10, 4}, {11, 3}};
  for (const auto& [code, n] : counts) EXPECT_EQ(Lines(Explain(0x83, code)).size(), n + 1) << code;
  EXPECT_TRUE(EndsWith(Explain(0x83, 2), "96 and length 5 will generate exception 02.\n"));
  EXPECT_TRUE(EndsWith(Explain(0x83, 5), "completed.  \n"));
  EXPECT_TRUE(EndsWith(Explain(0x83, 0x0B), "the device is not present on the network. \n"));
}

TEST(exception_text, speaks_of_both_roles) {
  EXPECT_NE(Explain(0x81, 1).find("server (or slave)"), std::string::npos);
  EXPECT_NE(Explain(0x81, 5).find("client (or master)"), std::string::npos);
  EXPECT_NE(Explain(0x81, 2).find("100"), std::string::npos);
}

TEST(exception_text, unknown_codes_fall_back_with_both_codes) {
  EXPECT_EQ(Explain(0x83, 0x07),
            "Error. Unknown Modbus exception error \n   Modbus Error code: 0x83\n   Modbus "
            "Exception code: 0x07\n");
  EXPECT_EQ(Lines(Explain(0x83, 0x07)).size(), 3u);
  for (int code : {0x00, 0x09, 0x0C, 0xFF}) {
    EXPECT_EQ(Explain(0x84, code).rfind("Error. Unknown Modbus exception error \n", 0), 0u) << code;
  }
  EXPECT_NE(Explain(0x84, 0xAB).find("0xAB"), std::string::npos);
}

TEST(exception_text, error_code_does_not_choose_the_entry) {
  EXPECT_EQ(Explain(0x81, 3), Explain(0x84, 3));
}
