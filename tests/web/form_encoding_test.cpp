#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "web/Product.h"
#include "web/WebServices.h"

using namespace vantrel;

TEST(EncodeFormValue, each_character_of_the_table_gets_its_replacement) {
  const std::vector<std::pair<std::string, std::string>> table = {
      {"%", "%25"}, {"$", "%24"}, {"&", "%26"}, {"+", "%2B"},  {",", "%2C"},
      {"/", "%2F"}, {":", "%3A"}, {";", "%3B"}, {"=", "%3D"},  {"?", "%3f"},
      {"@", "%40"}, {" ", "%20"}, {"\"", "%22"}, {"<", "%3C"}, {">", "%3E"},
      {"#", "%23"}, {"{", "%7B"}, {"}", "%7D"}, {"|", "%7C"},  {"\\", "%5C"},
      {"^", "%5E"}, {"~", "%7E"}, {"[", "%5B"}, {"]", "%5D"},  {"`", "%60"},
  };
  for (const auto& [from, to] : table) EXPECT_EQ(EncodeFormValue(from), to) << from;
}

TEST(EncodeFormValue, other_bytes_go_unchanged) {
  const std::string plain = "AZaz09-_.!*'()\r\n\t\x7f\x80\xc3\xa9\xff";
  EXPECT_EQ(EncodeFormValue(plain), plain);
}

TEST(EncodeFormValue, every_occurrence_is_replaced) {
  EXPECT_EQ(EncodeFormValue("a b&c"), "a%20b%26c");
  EXPECT_EQ(EncodeFormValue("100%"), "100%25");
  EXPECT_EQ(EncodeFormValue("why??"), "why%3f%3f");
  EXPECT_EQ(EncodeFormValue("  "), "%20%20");
}

TEST(EncodeFormValue, percent_goes_first_so_replacements_are_not_encoded_again) {
  EXPECT_EQ(EncodeFormValue("%20 "), "%2520%20");
  EXPECT_EQ(EncodeFormValue("50% off?"), "50%25%20off%3f");
}

TEST(WithCrLfLineEnds, every_line_feed_goes_out_after_a_carriage_return) {
  const std::vector<std::pair<std::string, std::string>> table = {
      {"a\nb", "a\r\nb"},     {"a\r\nb", "a\r\nb"},         {"\n\n", "\r\n\r\n"},
      {"\n", "\r\n"},         {"x\r\n\ny\n", "x\r\n\r\ny\r\n"}, {"a\rb\r", "a\rb\r"},
      {"\r\r\n", "\r\r\n"}, {"", ""},                    {"plain", "plain"},
  };
  for (const auto& [typed, sent] : table) EXPECT_EQ(WithCrLfLineEnds(typed), sent) << typed;
}

TEST(Product, version_text_is_the_number_and_the_release_letters) {
  EXPECT_EQ(VersionText(), "1.00bD");
  EXPECT_STREQ(kProductName, "Vantrel Modbus Scanner");
}

TEST(VendorUrl, a_root_set_from_code_gets_its_closing_slash) {
  SetVendorRootUrl("http://127.0.0.1:8765");
  EXPECT_EQ(VendorRootUrl(), "http://127.0.0.1:8765/");
  EXPECT_EQ(VendorUrl("/script/tattler.php"), "http://127.0.0.1:8765/script/tattler.php");
  SetVendorRootUrl("");
}

TEST(VendorUrl, an_empty_root_restores_the_build_setting) {
  SetVendorRootUrl("http://127.0.0.1:1/");
  SetVendorRootUrl("");
  const std::string root = VendorRootUrl();
  EXPECT_EQ(root.rfind("http", 0), 0u) << root;
  EXPECT_EQ(root.back(), '/');
  EXPECT_NE(root, "http://127.0.0.1:1/");
}

TEST(VendorUrl, pages_join_the_root_with_one_slash) {
  EXPECT_EQ(JoinUrl("http://h/", "/forums/"), "http://h/forums/");
  EXPECT_EQ(JoinUrl("http://h", "forums/"), "http://h/forums/");
  EXPECT_EQ(WithReferral("http://h/forums/", "Vantrel Modbus Scanner", "1.00bD"),
            "http://h/forums/?ref=Vantrel Modbus Scanner(1.00bD)");
}
