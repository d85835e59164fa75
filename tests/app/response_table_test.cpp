#include "app/ResponseTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/Hex.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::Bytes;
using vantrel::test::RecordingPresenter;

namespace {

// A master as the reply check leaves it after a good reply.
std::unique_ptr<ModbusMaster> Reply(int function, int address, int quantity,
                                    const std::string& dataHex) {
  auto m = std::make_unique<ModbusMaster>();
  const auto d = Bytes(dataHex);
  m->response_function = static_cast<std::uint8_t>(function);
  m->request_function = static_cast<std::uint8_t>(function);
  m->request_address = static_cast<std::uint16_t>(address);
  m->request_quantity = static_cast<std::uint16_t>(quantity);
  m->byte_count = static_cast<std::uint8_t>(d.size());
  if (!d.empty()) std::memcpy(m->data, d.data(), d.size());
  return m;
}

std::vector<std::string> Column(const ResponseTable& t, std::size_t c) {
  std::vector<std::string> v;
  for (const auto& row : t.rows) v.push_back(row.at(c));
  return v;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(response_table, register_columns_captions_and_widths) {
  const auto m = Reply(3, 0, 2, "00 00 3F 80");
  const ResponseTable t = MakeResponseTable(m.get());
  ASSERT_EQ(t.columns.size(), 10u);
  const std::pair<const char*, int> expected[] = {
      {"Write", 40}, {"Offset", 40}, {"Standard address", 100}, {"6 digit address", 80},
      {"Hex", 50},   {"uint16", 50}, {"int16", 50},             {"uint32", 50},
      {"int32", 50}, {"float32", 80}};
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_STREQ(t.columns[i].caption, expected[i].first);
    EXPECT_EQ(t.columns[i].width, expected[i].second);
  }
}

TEST(response_table, holding_pair_shows_32_bit_values_on_its_second_row) {
  const auto m = Reply(3, 0, 2, "00 00 3F 80");
  const ResponseTable t = MakeResponseTable(m.get());
  ASSERT_EQ(t.fill, TableFill::Filled);
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.rows[0], (Texts{"Write", "1", "40001", "400001", "0x0000", "0", "0", "", "", ""}));
  EXPECT_EQ(t.rows[1], (Texts{"Write", "2", "40002", "400002", "0x3F80", "16256", "16256",
                              "1065353216", "1065353216", "1.000000"}));
}

TEST(response_table, first_register_is_the_low_order_word) {
  // registers 0x0001, 0x8000: value 0x80000001
  const auto m = Reply(4, 0, 2, "00 01 80 00");
  const ResponseTable t = MakeResponseTable(m.get());
  EXPECT_EQ(t.rows[1][7], "2147483649");
  EXPECT_EQ(t.rows[1][8], "-2147483647");
}

TEST(response_table, signed_and_unsigned_16_bit) {
  const auto m = Reply(3, 0, 1, "FF FE");
  const ResponseTable t = MakeResponseTable(m.get());
  EXPECT_EQ(t.rows[0][4], "0xFFFE");
  EXPECT_EQ(t.rows[0][5], "65534");
  EXPECT_EQ(t.rows[0][6], "-2");
}

TEST(response_table, odd_register_count_leaves_the_last_row_incomplete) {
  const auto m = Reply(4, 0, 3, "00 00 3F 80 12 34");
  const ResponseTable t = MakeResponseTable(m.get());
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0][2], "30001");
  EXPECT_EQ(t.rows[1][3], "300002");
  EXPECT_EQ(t.rows[1][9], "1.000000");
  EXPECT_EQ(t.rows[2], (Texts{"Write", "3", "30003", "300003", "0x1234", "4660", "4660",
                              "incomplete", "incomplete", "incomplete"}));
}

TEST(response_table, coils_are_bits_least_significant_first) {
  const auto m = Reply(1, 0, 3, "05");
  const ResponseTable t = MakeResponseTable(m.get());
  ASSERT_EQ(t.columns.size(), 5u);
  EXPECT_STREQ(t.columns[4].caption, "Value");
  EXPECT_EQ(t.columns[4].width, 100);
  EXPECT_EQ(Column(t, 4), (Texts{"1", "0", "1"}));
  EXPECT_EQ(Column(t, 2), (Texts{"00001", "00002", "00003"}));
  EXPECT_EQ(Column(t, 3), (Texts{"000001", "000002", "000003"}));
}

TEST(response_table, discrete_inputs_need_whole_bytes) {
  const auto shortReply = Reply(2, 0, 9, "FF");
  EXPECT_EQ(MakeResponseTable(shortReply.get()).fill, TableFill::ColumnsOnly);
  const auto m = Reply(2, 0, 9, "00 01");
  const ResponseTable t = MakeResponseTable(m.get());
  ASSERT_EQ(t.rows.size(), 9u);
  EXPECT_EQ(t.rows[8][4], "1");
  EXPECT_EQ(t.rows[8][2], "10009");
  EXPECT_EQ(t.rows[8][3], "100009");
}

TEST(response_table, registers_need_two_bytes_each) {
  const auto shortReply = Reply(3, 0, 10, "00 01 00 02 00 03 00 04 00 05");
  const ResponseTable s = MakeResponseTable(shortReply.get());
  EXPECT_EQ(s.fill, TableFill::ColumnsOnly);
  EXPECT_EQ(s.columns.size(), 10u);
  EXPECT_TRUE(s.rows.empty());
  const auto m = Reply(3, 0, 10, "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 0A");
  EXPECT_EQ(MakeResponseTable(m.get()).rows.size(), 10u);
}

TEST(response_table, more_bytes_than_needed_still_gives_the_quantity) {
  const auto m = Reply(3, 0, 1, "00 01 00 02 00 03");
  const ResponseTable t = MakeResponseTable(m.get());
  ASSERT_EQ(t.rows.size(), 1u);
  // the pair check looks at the bytes there are, so a lone first row stays blank
  EXPECT_EQ(t.rows[0][7], "");
}

TEST(response_table, addresses_beyond_five_digits) {
  const auto m = Reply(4, 65000, 1, "00 07");
  const ResponseTable t = MakeResponseTable(m.get());
  EXPECT_EQ(t.rows[0][1], "65001");
  EXPECT_EQ(t.rows[0][2], "95001");
  EXPECT_EQ(t.rows[0][3], "365001");
}

TEST(response_table, nothing_to_show_leaves_the_view_alone) {
  EXPECT_EQ(MakeResponseTable(nullptr).fill, TableFill::Unchanged);
  const auto m = Reply(3, 0, 2, "");
  const ResponseTable t = MakeResponseTable(m.get());
  EXPECT_EQ(t.fill, TableFill::Unchanged);
  EXPECT_TRUE(t.columns.empty());
}

TEST(response_table, full_reads_of_2000_coils_and_125_registers) {
  std::string coils, regs;
  for (int i = 0; i < 250; ++i) coils += "A5 ";
  for (int i = 0; i < 125; ++i) regs += "12 34 ";
  const auto c = Reply(1, 0, 2000, coils);
  const ResponseTable tc = MakeResponseTable(c.get());
  ASSERT_EQ(tc.rows.size(), 2000u);
  EXPECT_EQ(tc.rows[1999][1], "2000");
  EXPECT_EQ(tc.rows[1999][4], "1");  // bit 7 of 0xA5
  const auto r = Reply(3, 0, 125, regs);
  const ResponseTable tr = MakeResponseTable(r.get());
  ASSERT_EQ(tr.rows.size(), 125u);
  EXPECT_EQ(tr.rows[124][7], "incomplete");
  EXPECT_EQ(tr.rows[123][7], "305402420");  // 0x12341234
}

TEST(response_table, short_data_raises_the_panic) {
  vantrel::test::TempDir dir;
  vantrel::test::ScopedCwd cwd(dir.path());
  ResetLogPathsForTesting();
  RecordingPresenter box;
  const auto m = Reply(3, 0, 10, "00 01");
  const ResponseTable t = MakeResponseTableOrPanic(m.get());
  EXPECT_EQ(t.fill, TableFill::ColumnsOnly);
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text.rfind("PANIC!\r\n\r\nFile=[Vantrel Modbus TestDlg] \r\n", 0), 0u);
  EXPECT_NE(box.boxes[0].text.find("Message=[Not enugh data to cover the request lenght]"),
            std::string::npos);
  const auto good = Reply(3, 0, 1, "00 01");
  MakeResponseTableOrPanic(good.get());
  EXPECT_EQ(box.boxes.size(), 1u);
  ResetLogPathsForTesting();
}

TEST(word_swap32, first_register_becomes_the_low_word) {
  const std::uint8_t wire[4] = {0x00, 0x01, 0x80, 0x00};
  std::uint32_t v;
  std::memcpy(&v, wire, 4);
  WordSwap32(&v);
  EXPECT_EQ(v, 0x80000001u);
}
