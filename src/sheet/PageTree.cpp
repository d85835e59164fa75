#include "sheet/PageTree.h"

namespace vantrel {
namespace {

constexpr char kSeparator[] = "::";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string SplitPagePath(std::string& rest) {
  std::size_t p = rest.find(kSeparator);
  while (p != std::string::npos && p > 0) {
    std::size_t backslashes = 0;
    while (backslashes < p && rest[p - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 0) break;  // an even run escapes itself, not the separator
    p = rest.find(kSeparator, p + 1);
  }
  if (p == std::string::npos) {
    std::string whole;
    whole.swap(rest);
    return whole;
  }
  std::string component = rest.substr(0, p);
  ReplaceAll(component, "\\::", "::");
  ReplaceAll(component, "\\\\", "\\");
  rest.erase(0, p + 2);
  return component;
}

PageTree::PageTree() { Clear(); }

void PageTree::Clear() {
  items_.assign(1, Item{});
  pageCount_ = 0;
}

int PageTree::InsertPagePath(const std::string& path, int parent) {
  if (parent != kRoot && !IsItem(parent)) return kNoItem;
  std::string rest = path;
  const std::string component = SplitPagePath(rest);
  int found = kNoItem;
  for (int child : items_[static_cast<std::size_t>(parent)].children) {
    if (items_[static_cast<std::size_t>(child)].text == component) {
      found = child;
      break;
    }
  }
  if (found == kNoItem) {
    found = static_cast<int>(items_.size());
    items_.push_back(Item{component, -1, parent, {}});
    items_[static_cast<std::size_t>(parent)].children.push_back(found);
  }
  return rest.empty() ? found : InsertPagePath(rest, found);
}

void PageTree::Rebuild(const std::vector<std::string>& captions) {
  Clear();
  pageCount_ = static_cast<int>(captions.size());
  for (int page = 0; page < pageCount_; ++page) {
    const int id = InsertPagePath(captions[static_cast<std::size_t>(page)]);
    if (id != kNoItem) items_[static_cast<std::size_t>(id)].page = page;
  }
}

int PageTree::FindPageItem(int page) const { return FindPageItem(page, FirstItem()); }

int PageTree::FindPageItem(int page, int start) const {
  if (page < 0 || page >= pageCount_ || !IsItem(start)) return kNoItem;
  for (int id = start; id != kNoItem; id = NextSibling(id)) {
    const Item& it = items_[static_cast<std::size_t>(id)];
    if (it.page == page) return id;
    if (!it.children.empty()) {
      const int hit = FindPageItem(page, it.children.front());
      if (hit != kNoItem) return hit;
    }
  }
  return kNoItem;
}

int PageTree::NextItem(int item) const {
  if (!IsItem(item)) return kNoItem;
  if (const int child = FirstChild(item); child != kNoItem) return child;
  for (int id = item; id != kNoItem; id = Parent(id)) {
    if (const int next = NextSibling(id); next != kNoItem) return next;
  }
  return FirstItem();
}

int PageTree::PreviousItem(int item) const {
  if (!IsItem(item)) return kNoItem;
  if (const int previous = PreviousSibling(item); previous != kNoItem) return LastDescendant(previous);
  if (const int parent = Parent(item); parent != kNoItem) return parent;
  return LastItem();
}

int PageTree::FirstItem() const { return FirstChild(kRoot); }

int PageTree::LastItem() const {
  const auto& top = items_[kRoot].children;
  return top.empty() ? kNoItem : LastDescendant(top.back());
}

int PageTree::LastDescendant(int item) const {
  while (!items_[static_cast<std::size_t>(item)].children.empty()) {
    item = items_[static_cast<std::size_t>(item)].children.back();
  }
  return item;
}

int PageTree::Parent(int item) const {
  if (!IsItem(item)) return kNoItem;
  const int parent = items_[static_cast<std::size_t>(item)].parent;
  return parent == kRoot ? kNoItem : parent;
}

int PageTree::FirstChild(int item) const {
  if (item != kRoot && !IsItem(item)) return kNoItem;
  const auto& children = items_[static_cast<std::size_t>(item)].children;
  return children.empty() ? kNoItem : children.front();
}

int PageTree::NextSibling(int item) const {
  if (!IsItem(item)) return kNoItem;
  const auto& siblings = items_[static_cast<std::size_t>(items_[static_cast<std::size_t>(item)].parent)].children;
  for (std::size_t i = 0; i + 1 < siblings.size(); ++i) {
    if (siblings[i] == item) return siblings[i + 1];
  }
  return kNoItem;
}

int PageTree::PreviousSibling(int item) const {
  if (!IsItem(item)) return kNoItem;
  const auto& siblings = items_[static_cast<std::size_t>(items_[static_cast<std::size_t>(item)].parent)].children;
  for (std::size_t i = 1; i < siblings.size(); ++i) {
    if (siblings[i] == item) return siblings[i - 1];
  }
  return kNoItem;
}

}  // namespace vantrel
