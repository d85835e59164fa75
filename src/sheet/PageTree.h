// The page tree of the settings sheet, without a window.
//
// Page captions are paths whose components are separated by "::" ("About::Contact us"
// puts "Contact us" under "About"); the tree holds one item per component, in order of
// first mention. An item that a caption names as a whole carries that page's index; an
// item made only for a path component carries -1 and groups the items under it.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

// Splits the first component off a caption path: returns it and leaves the rest in rest.
// A "::" preceded by an odd number of backslashes is escaped and does not separate. In a
// component that a separator follows, "\::" becomes "::" and then "\\" becomes "\"; a
// last component is taken verbatim, escapes and all. A separator at the very start
// separates an empty component.
std::string SplitPagePath(std::string& rest);

class PageTree {
 public:
  static constexpr int kNoItem = -1;
  // The invisible root: its children are the top level.
  static constexpr int kRoot = 0;

  struct Item {
    std::string text;  // one path component
    int page = -1;     // the page it shows, -1 for an item that only groups others
    int parent = kNoItem;
    std::vector<int> children;
  };

  PageTree();

  // Removes every item and forgets the page count.
  void Clear();
  // The item for the whole path under parent, creating the items that are missing. A
  // component matches an existing child only byte for byte (case counts).
  int InsertPagePath(const std::string& path, int parent = kRoot);
  // Clear, then one path per page in page order; each caption's item gets its page
  // index (a later page with the same caption takes the item over).
  void Rebuild(const std::vector<std::string>& captions);

  // The first item showing page in a depth-first pre-order walk from start along its
  // siblings (default: the first top-level item); kNoItem for a page that is not one.
  int FindPageItem(int page) const;
  int FindPageItem(int page, int start) const;

  // Ctrl+Tab order: first child, else next sibling, else the next sibling of the nearest
  // ancestor that has one, else the first top-level item.
  int NextItem(int item) const;
  // Ctrl+Shift+Tab order: the previous sibling's last descendant, else the parent, else
  // the last item of the whole tree.
  int PreviousItem(int item) const;

  int FirstItem() const;  // first top-level item, kNoItem when empty
  int LastItem() const;   // last item of the tree in pre-order, kNoItem when empty
  int Parent(int item) const;  // kNoItem for a top-level item
  int FirstChild(int item) const;
  int NextSibling(int item) const;
  int PreviousSibling(int item) const;

  const Item& item(int id) const { return items_.at(static_cast<std::size_t>(id)); }
  // Items without the root.
  int itemCount() const { return static_cast<int>(items_.size()) - 1; }
  int pageCount() const { return pageCount_; }

 private:
  bool IsItem(int id) const { return id > kRoot && id < static_cast<int>(items_.size()); }
  int LastDescendant(int item) const;

  std::vector<Item> items_;  // items_[0] is the root
  int pageCount_ = 0;
};

}  // namespace vantrel
