#include "session/ResponseTable.h"

#include <gtest/gtest.h>

#include "support/DetachedMaster.h"

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
std::unique_ptr<vantrel::test::DetachedMaster> Reply(int function, int address, int quantity,
                                    const std::string& dataHex) {
  auto m = std::make_unique<vantrel::test::DetachedMaster>();
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
  EXPECT_EQ(t.rows[2], (Texts{"Read-only", "3", "30003", "300003", "0x1234", "4660", "4660",
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

namespace {

struct OrderedPair {
  WordOrder order;
  const char* wire;  // two registers
  const char* uint32;
  const char* int32;
  const char* float32;
};

}  // namespace

TEST(response_table, each_word_order_reads_its_own_byte_vectors) {
  const OrderedPair cases[] = {
      {WordOrder::LowFirst, "00 00 3F 80", "1065353216", "1065353216", "1.000000"},
      {WordOrder::HighFirst, "3F 80 00 00", "1065353216", "1065353216", "1.000000"},
      {WordOrder::LowFirstSwapped, "00 00 80 3F", "1065353216", "1065353216", "1.000000"},
      {WordOrder::HighFirstSwapped, "80 3F 00 00", "1065353216", "1065353216", "1.000000"},
      {WordOrder::LowFirst, "00 00 C0 20", "3223322624", "-1071644672", "-2.500000"},
      {WordOrder::HighFirst, "C0 20 00 00", "3223322624", "-1071644672", "-2.500000"},
      {WordOrder::LowFirstSwapped, "00 00 20 C0", "3223322624", "-1071644672", "-2.500000"},
      {WordOrder::HighFirstSwapped, "20 C0 00 00", "3223322624", "-1071644672", "-2.500000"},
      // four distinct bytes tell every order apart: 0x12345678 wherever it lands
      {WordOrder::LowFirst, "56 78 12 34", "305419896", "305419896", "0.000000"},
      {WordOrder::HighFirst, "12 34 56 78", "305419896", "305419896", "0.000000"},
      {WordOrder::LowFirstSwapped, "78 56 34 12", "305419896", "305419896", "0.000000"},
      {WordOrder::HighFirstSwapped, "34 12 78 56", "305419896", "305419896", "0.000000"},
      // and the same bytes read in another order are another value
      {WordOrder::HighFirst, "56 78 12 34", "1450709556", "1450709556", "68189266378752.000000"},
  };
  for (const OrderedPair& c : cases) {
    SCOPED_TRACE(c.wire);
    const auto m = Reply(3, 0, 2, c.wire);
    const ResponseTable t = MakeResponseTable(m.get(), c.order);
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0], (Texts{"Write", "1", "40001", "400001", t.rows[0][4], t.rows[0][5], t.rows[0][6], "", "", ""}));
    EXPECT_EQ(Texts(t.rows[1].begin() + 7, t.rows[1].end()), (Texts{c.uint32, c.int32, c.float32}));
    // the 16-bit cells are the registers as they come, whatever the order
    EXPECT_EQ(t.rows[1][4], "0x" + std::string(c.wire).substr(6, 2) + std::string(c.wire).substr(9, 2));
  }
}

TEST(response_table, captions_name_the_order_unless_it_is_the_first) {
  const struct {
    WordOrder order;
    Texts captions;
  } cases[] = {
      {WordOrder::LowFirst, {"uint32", "int32", "float32"}},
      {WordOrder::HighFirst, {"uint32 (high word first)", "int32 (high word first)", "float32 (high word first)"}},
      {WordOrder::LowFirstSwapped,
       {"uint32 (low word first, bytes swapped)", "int32 (low word first, bytes swapped)",
        "float32 (low word first, bytes swapped)"}},
      {WordOrder::HighFirstSwapped,
       {"uint32 (high word first, bytes swapped)", "int32 (high word first, bytes swapped)",
        "float32 (high word first, bytes swapped)"}},
  };
  const auto m = Reply(4, 0, 4, "00 00 00 00 00 00 00 00");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.captions[0]);
    const ResponseTable t = MakeResponseTable(m.get(), c.order);
    ASSERT_EQ(t.columns.size(), 10u);
    Texts captions;
    for (std::size_t i = 7; i < 10; ++i) captions.push_back(t.columns[i].caption);
    EXPECT_EQ(captions, c.captions);
    EXPECT_STREQ(t.columns[6].caption, "int16");
    // a named order is wide enough for its caption; the first keeps today's widths
    const int least = c.order == WordOrder::LowFirst ? 50 : 7 * static_cast<int>(c.captions[0].size());
    EXPECT_EQ(t.columns[7].width, least);
    const ResponseTable wide = MakeResponseTable(m.get(), c.order, true);
    ASSERT_EQ(wide.columns.size(), 13u);
    std::string suffix = c.captions[0].substr(6);
    EXPECT_EQ(std::string(wide.columns[10].caption), "uint64" + suffix);
    EXPECT_EQ(std::string(wide.columns[11].caption), "int64" + suffix);
    EXPECT_EQ(std::string(wide.columns[12].caption), "float64" + suffix);
  }
  // an integer that names no order shows as the first one
  EXPECT_STREQ(MakeResponseTable(m.get(), static_cast<WordOrder>(7)).columns[7].caption, "uint32");
}

TEST(response_table, the_default_order_gives_todays_cells) {
  // every argument left out, the first order named, and 64-bit columns off: one table
  const char* replies[] = {"00 01 80 00 12 34", "3F 80 00 00 FF FF", "00 00 C0 20 00 07"};
  for (const char* hex : replies) {
    SCOPED_TRACE(hex);
    const auto m = Reply(3, 0, 3, hex);
    const ResponseTable today = MakeResponseTable(m.get());
    const ResponseTable named = MakeResponseTable(m.get(), WordOrder::LowFirst, false);
    EXPECT_EQ(named.rows, today.rows);
    ASSERT_EQ(named.columns.size(), today.columns.size());
    for (std::size_t i = 0; i < today.columns.size(); ++i) {
      EXPECT_STREQ(named.columns[i].caption, today.columns[i].caption);
      EXPECT_EQ(named.columns[i].width, today.columns[i].width);
    }
    // the first order is the one WordSwap32 gives
    std::uint32_t v;
    std::memcpy(&v, m->data, 4);
    WordSwap32(&v);
    EXPECT_EQ(today.rows[1][7], std::to_string(v));
  }
}

namespace {

struct OrderedGroup {
  WordOrder order;
  const char* wire;  // four registers
  const char* uint64;
  const char* int64;
  const char* float64;  // the text's start
  std::size_t float64Size;  // and its whole length: a large double prints over 300 digits
};

}  // namespace

TEST(response_table, sixty_four_bit_values_in_each_order_on_the_fourth_row) {
  const OrderedGroup cases[] = {
      // 0xFEDCBA9876543210, about -1.23e303 as a double
      {WordOrder::LowFirst, "32 10 76 54 BA 98 FE DC", "18364758544493064720", "-81985529216486896",
       "-12313300687736945819589034823", 312},
      {WordOrder::HighFirst, "FE DC BA 98 76 54 32 10", "18364758544493064720", "-81985529216486896",
       "-12313300687736945819589034823", 312},
      {WordOrder::LowFirstSwapped, "10 32 54 76 98 BA DC FE", "18364758544493064720", "-81985529216486896",
       "-12313300687736945819589034823", 312},
      {WordOrder::HighFirstSwapped, "DC FE 98 BA 54 76 10 32", "18364758544493064720", "-81985529216486896",
       "-12313300687736945819589034823", 312},
      // -2.5 as a double: 0xC004000000000000
      {WordOrder::LowFirst, "00 00 00 00 00 00 C0 04", "13836183955189006336", "-4610560118520545280", "-2.500000", 9},
      {WordOrder::HighFirst, "C0 04 00 00 00 00 00 00", "13836183955189006336", "-4610560118520545280", "-2.500000", 9},
      {WordOrder::LowFirstSwapped, "00 00 00 00 00 00 04 C0", "13836183955189006336", "-4610560118520545280",
       "-2.500000", 9},
      {WordOrder::HighFirstSwapped, "04 C0 00 00 00 00 00 00", "13836183955189006336", "-4610560118520545280",
       "-2.500000", 9},
      // 1.0: 0x3FF0000000000000
      {WordOrder::LowFirst, "00 00 00 00 00 00 3F F0", "4607182418800017408", "4607182418800017408", "1.000000", 8},
      {WordOrder::HighFirst, "3F F0 00 00 00 00 00 00", "4607182418800017408", "4607182418800017408", "1.000000", 8},
      {WordOrder::LowFirstSwapped, "00 00 00 00 00 00 F0 3F", "4607182418800017408", "4607182418800017408",
       "1.000000", 8},
      {WordOrder::HighFirstSwapped, "F0 3F 00 00 00 00 00 00", "4607182418800017408", "4607182418800017408",
       "1.000000", 8},
  };
  for (const OrderedGroup& c : cases) {
    SCOPED_TRACE(c.wire);
    const auto m = Reply(3, 0, 4, c.wire);
    const ResponseTable t = MakeResponseTable(m.get(), c.order, true);
    ASSERT_EQ(t.rows.size(), 4u);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(Texts(t.rows[r].begin() + 10, t.rows[r].end()), (Texts{"", "", ""}));
    EXPECT_EQ(t.rows[3][10], c.uint64);
    EXPECT_EQ(t.rows[3][11], c.int64);
    EXPECT_EQ(t.rows[3][12].rfind(c.float64, 0), 0u) << t.rows[3][12];
    EXPECT_EQ(t.rows[3][12].size(), c.float64Size);
    // the 32-bit cells stay on the second row of each pair
    EXPECT_NE(t.rows[1][7], "");
    EXPECT_NE(t.rows[3][7], "");
    EXPECT_EQ(t.rows[0].size(), 13u);
  }
}

TEST(response_table, sixty_four_bit_groups_past_the_reply_are_incomplete) {
  // six registers: one whole group, then two registers of the next
  const auto m = Reply(4, 0, 6, "00 01 00 00 00 00 00 00 00 02 00 03");
  const ResponseTable t = MakeResponseTable(m.get(), WordOrder::LowFirst, true);
  ASSERT_EQ(t.rows.size(), 6u);
  const Texts expected[] = {{"", "", ""}, {"", "", ""}, {"", "", ""}, {"1", "1", "0.000000"},
                            {"incomplete", "incomplete", "incomplete"}, {"", "", ""}};
  for (std::size_t r = 0; r < 6; ++r) EXPECT_EQ(Texts(t.rows[r].begin() + 10, t.rows[r].end()), expected[r]) << r;
  EXPECT_EQ(t.rows[5][7], "196610") << "the last pair is whole";
  // a group that starts past the reply's last register is never begun
  const auto three = Reply(4, 0, 3, "00 01 00 02 00 03");
  const ResponseTable s = MakeResponseTable(three.get(), WordOrder::HighFirst, true);
  EXPECT_EQ(s.rows[0][10], "incomplete");
  EXPECT_EQ(s.rows[2][7], "incomplete");
  EXPECT_EQ(s.rows[2][10], "");
  // coils never get 64-bit columns
  const auto coils = Reply(1, 0, 3, "05");
  EXPECT_EQ(MakeResponseTable(coils.get(), WordOrder::HighFirst, true).columns.size(), 5u);
}

// The wire-address column: after the 6-digit address, the frame's 0-based address in
// decimal and hex; every other column keeps its text.
TEST(response_table, wire_address_column_names_the_address_in_the_frame) {
  const struct {
    int function, address, quantity;
    const char* data;
    Texts wire;
  } cases[] = {{3, 9, 2, "00 01 00 02", {"9 (0x0009)", "10 (0x000A)"}},
               {1, 0, 3, "05", {"0 (0x0000)", "1 (0x0001)", "2 (0x0002)"}},
               {4, 65534, 2, "00 01 00 02", {"65534 (0xFFFE)", "65535 (0xFFFF)"}}};
  for (const auto& c : cases) {
    const auto m = Reply(c.function, c.address, c.quantity, c.data);
    const ResponseTable plain = MakeResponseTable(m.get());
    const ResponseTable t = MakeResponseTable(m.get(), WordOrder::LowFirst, false, true);
    ASSERT_EQ(t.columns.size(), plain.columns.size() + 1) << c.address;
    EXPECT_STREQ(t.columns[4].caption, "Wire address");
    EXPECT_EQ(Column(t, 4), c.wire);
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      Texts rest = t.rows[r];
      rest.erase(rest.begin() + 4);
      EXPECT_EQ(rest, plain.rows[r]) << c.address << " row " << r;
    }
  }
}
