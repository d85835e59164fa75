// The page tree without a window: splitting caption paths with their escapes, finding a
// page's item, and the order Ctrl+Tab and Ctrl+Shift+Tab walk. The sheet's own tests
// cover the tree the program builds.
#include "sheet/PageTree.h"

#include <gtest/gtest.h>

using vantrel::PageTree;

namespace {

using Split = std::pair<std::string, std::string>;  // first component, rest

Split SplitOff(std::string path) {
  std::string first = vantrel::SplitPagePath(path);
  return {first, path};
}

PageTree Built(const std::vector<std::string>& captions) {
  PageTree tree;
  tree.Rebuild(captions);
  return tree;
}

// Item texts visited from the first item on, n steps of step.
std::vector<std::string> Walk(const PageTree& tree, int (PageTree::*step)(int) const, int n) {
  std::vector<std::string> seen;
  for (int id = tree.FirstItem(); n-- > 0; id = (tree.*step)(id)) seen.push_back(tree.item(id).text);
  return seen;
}

}  // namespace

TEST(split_page_path, separators_and_escapes) {
  EXPECT_EQ(SplitOff("About::Contact us"), (Split{"About", "Contact us"}));
  EXPECT_EQ(SplitOff("A::B::C"), (Split{"A", "B::C"}));
  EXPECT_EQ(SplitOff(R"(A\::B::C)"), (Split{"A::B", "C"})) << "one backslash escapes";
  EXPECT_EQ(SplitOff(R"(A\\::B)"), (Split{R"(A\)", "B"})) << "two are a backslash and a separator";
  // three: "\::" becomes "::" first, then the remaining pair one backslash
  EXPECT_EQ(SplitOff(R"(A\\\::B::C)"), (Split{R"(A\::B)", "C"}));
  EXPECT_EQ(SplitOff("::A"), (Split{"", "A"}));
}

TEST(split_page_path, last_component_is_taken_verbatim) {
  EXPECT_EQ(SplitOff("Polling frequency"), (Split{"Polling frequency", ""}));
  EXPECT_EQ(SplitOff(R"(A\::B)"), (Split{R"(A\::B)", ""}));
  EXPECT_EQ(SplitOff(R"(A\\B)"), (Split{R"(A\\B)", ""}));
}

TEST(page_tree, components_match_exactly_and_a_later_page_takes_the_item) {
  const PageTree tree = Built({"a::x", "A::y", "a::z", "A::y"});
  ASSERT_EQ(tree.item(tree.FirstItem()).text, "a");
  EXPECT_EQ(tree.item(tree.FirstItem()).children.size(), 2u);
  EXPECT_EQ(tree.item(tree.NextSibling(tree.FirstItem())).text, "A");
  EXPECT_EQ(tree.FindPageItem(1), PageTree::kNoItem) << "page 3 took the item over";
  EXPECT_EQ(tree.item(tree.FindPageItem(3)).text, "y");
}

TEST(page_tree, find_page_item_walks_depth_first) {
  const PageTree tree = Built({"Connection", "About::Contact us", "About", "Request"});
  EXPECT_EQ(tree.item(tree.FindPageItem(1)).text, "Contact us");
  EXPECT_EQ(tree.item(tree.FindPageItem(3)).text, "Request");
  EXPECT_EQ(tree.FindPageItem(-1), PageTree::kNoItem);
  EXPECT_EQ(tree.FindPageItem(4), PageTree::kNoItem) << "not a page";
  EXPECT_EQ(tree.FindPageItem(0, tree.FindPageItem(2)), PageTree::kNoItem) << "only from start on";
  EXPECT_EQ(PageTree().FindPageItem(0), PageTree::kNoItem);
}

TEST(page_tree, next_walks_pre_order_and_wraps) {
  const PageTree tree = Built({"A", "B::C::D", "B::E", "F"});
  EXPECT_EQ(Walk(tree, &PageTree::NextItem, 7), (std::vector<std::string>{"A", "B", "C", "D", "E", "F", "A"}));
}

TEST(page_tree, previous_walks_back_and_wraps) {
  const PageTree tree = Built({"A", "B::C", "B::D::E", "F::G"});
  EXPECT_EQ(Walk(tree, &PageTree::PreviousItem, 8),
            (std::vector<std::string>{"A", "G", "F", "E", "D", "C", "B", "A"}));
}

TEST(page_tree, navigation_needs_an_item) {
  EXPECT_EQ(PageTree().NextItem(PageTree::kNoItem), PageTree::kNoItem);
  EXPECT_EQ(PageTree().PreviousItem(PageTree::kRoot), PageTree::kNoItem);
  const PageTree one = Built({"Only"});
  EXPECT_EQ(one.NextItem(one.FirstItem()), one.FirstItem());
  EXPECT_EQ(one.PreviousItem(one.FirstItem()), one.FirstItem());
}
