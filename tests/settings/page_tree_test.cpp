// The page tree of the settings sheet: caption paths, their escapes, and the order in
// which Ctrl+Tab and Ctrl+Shift+Tab walk the tree.
#include "settings/PageTree.h"

#include <gtest/gtest.h>

using vantrel::PageTree;
using vantrel::SplitPagePath;

namespace {

// The first component and what is left.
std::pair<std::string, std::string> Split(std::string path) {
  std::string first = SplitPagePath(path);
  return {first, path};
}

// Every item as "text:page", indented two blanks per level, in pre-order.
std::string Dump(const PageTree& tree, int parent = PageTree::kRoot, int depth = 0) {
  std::string out;
  for (int id = tree.FirstChild(parent); id != PageTree::kNoItem; id = tree.NextSibling(id)) {
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + tree.item(id).text + ":" +
           std::to_string(tree.item(id).page) + "\n";
    out += Dump(tree, id, depth + 1);
  }
  return out;
}

PageTree Built(const std::vector<std::string>& captions) {
  PageTree tree;
  tree.Rebuild(captions);
  return tree;
}

}  // namespace

TEST(split_page_path, separator_splits_off_the_first_component) {
  EXPECT_EQ(Split("About::Contact us"), (std::pair<std::string, std::string>{"About", "Contact us"}));
  EXPECT_EQ(Split("A::B::C"), (std::pair<std::string, std::string>{"A", "B::C"}));
}

TEST(split_page_path, no_separator_takes_the_whole_text_verbatim) {
  EXPECT_EQ(Split("Polling frequency"), (std::pair<std::string, std::string>{"Polling frequency", ""}));
  EXPECT_EQ(Split(R"(A\::B)"), (std::pair<std::string, std::string>{R"(A\::B)", ""}))
      << "escapes are undone only in components that a separator follows";
  EXPECT_EQ(Split(R"(A\\B)"), (std::pair<std::string, std::string>{R"(A\\B)", ""}));
}

TEST(split_page_path, odd_backslashes_escape_the_separator) {
  EXPECT_EQ(Split(R"(A\::B::C)"), (std::pair<std::string, std::string>{"A::B", "C"}));
  // three backslashes: "\::" becomes "::" first, then the remaining pair becomes one
  EXPECT_EQ(Split(R"(A\\\::B::C)"), (std::pair<std::string, std::string>{R"(A\::B)", "C"}));
}

TEST(split_page_path, even_backslashes_leave_a_real_separator) {
  EXPECT_EQ(Split(R"(A\\::B)"), (std::pair<std::string, std::string>{R"(A\)", "B"}));
  EXPECT_EQ(Split(R"(A\\\\::B)"), (std::pair<std::string, std::string>{R"(A\\)", "B"}));
}

TEST(split_page_path, separator_at_the_start_separates_an_empty_component) {
  EXPECT_EQ(Split("::A"), (std::pair<std::string, std::string>{"", "A"}));
}

TEST(page_tree, the_programs_six_captions) {
  const PageTree tree = Built(
      {"Connection", "About::Contact us", "About", "Auto Update", "Request", "Polling frequency"});
  EXPECT_EQ(Dump(tree),
            "Connection:0\n"
            "About:2\n"
            "  Contact us:1\n"
            "Auto Update:3\n"
            "Request:4\n"
            "Polling frequency:5\n");
  EXPECT_EQ(tree.pageCount(), 6);
}

TEST(page_tree, a_path_alone_makes_a_grouping_item) {
  const PageTree tree = Built({"A::B"});
  EXPECT_EQ(Dump(tree), "A:-1\n  B:0\n");
}

TEST(page_tree, escaped_captions) {
  EXPECT_EQ(Dump(Built({R"(A\::B)"})), "A\\::B:0\n");
  EXPECT_EQ(Dump(Built({R"(A\::B::C)"})), "A::B:-1\n  C:0\n");
  EXPECT_EQ(Dump(Built({R"(A\\::B)"})), "A\\:-1\n  B:0\n");
}

TEST(page_tree, components_match_exactly) {
  EXPECT_EQ(Dump(Built({"a::x", "A::y", "a::z"})), "a:-1\n  x:0\n  z:2\nA:-1\n  y:1\n");
}

TEST(page_tree, a_later_page_with_the_same_caption_takes_the_item) {
  EXPECT_EQ(Dump(Built({"Same", "Same"})), "Same:1\n");
}

TEST(page_tree, find_page_item_walks_depth_first) {
  const PageTree tree = Built({"Connection", "About::Contact us", "About", "Request"});
  const int contact = tree.FindPageItem(1);
  ASSERT_NE(contact, PageTree::kNoItem);
  EXPECT_EQ(tree.item(contact).text, "Contact us");
  EXPECT_EQ(tree.item(tree.FindPageItem(3)).text, "Request");
  EXPECT_EQ(tree.FindPageItem(-1), PageTree::kNoItem);
  EXPECT_EQ(tree.FindPageItem(4), PageTree::kNoItem) << "not a page";
  EXPECT_EQ(tree.FindPageItem(0, tree.FindPageItem(2)), PageTree::kNoItem) << "only from start on";
  EXPECT_EQ(PageTree().FindPageItem(0), PageTree::kNoItem);
}

TEST(page_tree, next_walks_pre_order_and_wraps_from_the_last_item) {
  const PageTree tree = Built({"A", "B::C::D", "B::E", "F"});
  std::vector<std::string> order;
  int id = tree.FirstItem();
  for (int i = 0; i < 7; ++i, id = tree.NextItem(id)) order.push_back(tree.item(id).text);
  EXPECT_EQ(order, (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "A"}));
  // a leaf deep down goes on with the next sibling of its nearest ancestor that has one
  EXPECT_EQ(tree.item(tree.NextItem(tree.FindPageItem(1))).text, "E");
}

TEST(page_tree, previous_walks_back_and_wraps_from_the_first_item) {
  const PageTree tree = Built({"A", "B::C", "B::D::E", "F::G"});
  std::vector<std::string> order;
  int id = tree.FirstItem();
  for (int i = 0; i < 8; ++i, id = tree.PreviousItem(id)) order.push_back(tree.item(id).text);
  EXPECT_EQ(order, (std::vector<std::string>{"A", "G", "F", "E", "D", "C", "B", "A"}));
}

TEST(page_tree, navigation_needs_an_item) {
  const PageTree empty;
  EXPECT_EQ(empty.NextItem(PageTree::kNoItem), PageTree::kNoItem);
  EXPECT_EQ(empty.PreviousItem(PageTree::kRoot), PageTree::kNoItem);
  EXPECT_EQ(empty.LastItem(), PageTree::kNoItem);
  const PageTree one = Built({"Only"});
  EXPECT_EQ(one.NextItem(one.FirstItem()), one.FirstItem());
  EXPECT_EQ(one.PreviousItem(one.FirstItem()), one.FirstItem());
}
