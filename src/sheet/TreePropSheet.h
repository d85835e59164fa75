// CTreePropSheet: a modal property sheet whose pages are chosen from a tree on the left
// instead of a row of tabs, with a caption bar above the page that names it.
//
// Page captions are paths ("About::Contact us" sits under "About"); the tree follows
// them (see PageTree). Choosing an item shows its page, showing a page by any other means
// selects its item, and Ctrl+Tab / Ctrl+Shift+Tab walk the tree in order. With tree mode
// off it is a plain tabbed sheet. The sheet knows nothing about settings.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>

#include <vector>

#include "sheet/PageTree.h"

class QKeyEvent;
class QModelIndex;
class QPushButton;
class QStackedWidget;
class QTabBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantrel {

class CPageFrame;
class CPropertyPage;

class CTreePropSheet : public QDialog {
  Q_OBJECT

 public:
  explicit CTreePropSheet(const QString& title, QWidget* parent = nullptr, int startPage = 0);
  ~CTreePropSheet() override;

  // Fixes the mode before the sheet is first shown: false, with nothing changed, once it
  // has been. The two other flags count only in tree mode.
  bool EnableTreeMode(bool treeMode, bool pageCaption = false, bool treeImages = false);
  bool IsTreeMode() const { return treeMode_; }
  bool HasPageCaption() const { return pageCaption_; }
  bool HasTreeImages() const { return treeImages_; }
  // Whether the sheet's window has been set up (it is, on first show).
  bool IsCreated() const { return created_; }

  // The sheet takes the page over; pages keep the order in which they were added.
  void AddPage(CPropertyPage* page);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int index) const;
  int GetPageIndex(const CPropertyPage* page) const;
  int GetActiveIndex() const { return current_; }
  CPropertyPage* GetActivePage() const { return GetPage(current_); }
  // Shows a page (before the first show: chooses the start page). False when index is
  // not a page or the page on show refuses to be left.
  bool SetActivePage(int index);
  bool SetActivePage(CPropertyPage* page);

  // The tree, rebuilt from the page captions; nothing before the window exists.
  void RebuildPageTree();
  QTreeWidgetItem* FindPageItem(int page) const;
  void SelectPageItem(int page);
  void SelectCurrentPageItem();
  // The caption bar shows the selected item's own text (one path component); with no
  // page on show the frame shows the empty-page message instead.
  void RefreshCaption();
  void GoToNextPage();
  void GoToPreviousPage();
  // Ctrl+Tab and Ctrl+Shift+Tab, wherever the focus is in the sheet: true when handled.
  bool IsDialogMessage(const QKeyEvent& event);

  // OK: the page on show must let go first.
  void accept() override;
  void setVisible(bool visible) override;

  QTreeWidget* pageTree() const { return tree_; }
  CPageFrame* pageFrame() const { return frame_; }
  QTabBar* tabBar() const { return tabBar_; }
  const PageTree& pageTreeModel() const { return model_; }
  QPushButton* okButton() const { return okButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  // The page tree item's id in pageTreeModel().
  int ItemId(const QTreeWidgetItem* item) const;

  // Shown in the frame when no page is: one "%s" for the item text. Empty by default.
  QString emptyPageFormat;
  // Width the tree takes on the left, with 5 pixels of it between tree and frame.
  int treeWidth = 150;
  // With tree images: the icon of an item without a page, and of a page without its own.
  QIcon defaultNodeIcon;
  QIcon defaultPageIcon;

 protected:
  // The format with "%s" replaced by the item text ("%%" gives "%"); anything else in
  // the format is taken as it stands.
  virtual QString FormatEmptyPageMessage(const QString& format, const QString& itemText) const;
  virtual QTreeWidget* MakePageTree();
  virtual CPageFrame* MakePageFrame();

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateSheet();
  void ShowPage(int index);
  // The tree's selection is about to move to index: allowed only when its page can be
  // shown.
  bool OnSelectionChanging(const QModelIndex& index);
  QTreeWidgetItem* ItemOf(int id) const;
  QIcon ItemIcon(int id) const;

  bool treeMode_ = true;
  QTreeWidget* tree_ = nullptr;
  CPageFrame* frame_ = nullptr;
  bool selectionBusy_ = false;
  bool pageCaption_ = false;
  bool treeImages_ = false;

  bool created_ = false;
  bool syncingTabs_ = false;
  int current_ = -1;
  std::vector<CPropertyPage*> pages_;
  PageTree model_;
  std::vector<QTreeWidgetItem*> items_;  // by item id; [0] stands for the root
  QTabBar* tabBar_ = nullptr;
  QStackedWidget* pageArea_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
};

}  // namespace vantrel
