#include "sheet/TreePropSheet.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>
#include <new>

#include "sheet/PageFrame.h"
#include "sheet/PropertyPage.h"

namespace vantrel {
namespace {

constexpr int kItemIdRole = Qt::UserRole;
constexpr int kPageRole = Qt::UserRole + 1;  // the item data: page index, -1 for a group

// The tree's selection with a veto: a move of the current item can be refused before it
// happens, so the previous item stays selected. An item other than the current one is
// selected only by becoming current, which passes the veto.
class VetoSelectionModel final : public QItemSelectionModel {
 public:
  VetoSelectionModel(QAbstractItemModel* model, QObject* parent, std::function<bool(const QModelIndex&)> allow)
      : QItemSelectionModel(model, parent), allow_(std::move(allow)) {}

  void setCurrentIndex(const QModelIndex& index, SelectionFlags command) override {
    if (index.isValid() && index != currentIndex() && !allow_(index)) return;
    const QPersistentModelIndex outer = pending_;
    pending_ = index;  // the base selects before it moves the current index
    QItemSelectionModel::setCurrentIndex(index, command);
    pending_ = outer;
  }

  using QItemSelectionModel::select;
  void select(const QItemSelection& selection, SelectionFlags command) override {
    if (command & (Select | Toggle)) {
      for (const QModelIndex& i : selection.indexes()) {
        if (i != currentIndex() && i != pending_) return;
      }
    }
    QItemSelectionModel::select(selection, command);
  }

 private:
  std::function<bool(const QModelIndex&)> allow_;
  QPersistentModelIndex pending_;
};

}  // namespace

CTreePropSheet::CTreePropSheet(const QString& title, QWidget* parent, int startPage)
    : QDialog(parent), current_(startPage) {
  setWindowTitle(title);
  setObjectName(QStringLiteral("treePropSheet"));
}

CTreePropSheet::~CTreePropSheet() { qApp->removeEventFilter(this); }

bool CTreePropSheet::EnableTreeMode(bool treeMode, bool pageCaption, bool treeImages) {
  if (created_) return false;
  treeMode_ = treeMode;
  if (treeMode) {
    pageCaption_ = pageCaption;
    treeImages_ = treeImages;
  }
  return true;
}

// --- pages --------------------------------------------------------------------------

void CTreePropSheet::AddPage(CPropertyPage* page) {
  if (page == nullptr || GetPageIndex(page) >= 0) return;
  pages_.push_back(page);
  if (!created_) {
    page->setParent(this);
    page->hide();
    return;
  }
  pageArea_->addWidget(page);
  syncingTabs_ = true;
  tabBar_->addTab(page->Caption());
  syncingTabs_ = false;
  if (current_ < 0) ShowPage(0);
  if (treeMode_) {
    RebuildPageTree();
    SelectCurrentPageItem();
  }
}

CPropertyPage* CTreePropSheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

int CTreePropSheet::GetPageIndex(const CPropertyPage* page) const {
  for (int i = 0; i < GetPageCount(); ++i) {
    if (pages_[static_cast<std::size_t>(i)] == page) return i;
  }
  return -1;
}

bool CTreePropSheet::SetActivePage(CPropertyPage* page) { return SetActivePage(GetPageIndex(page)); }

bool CTreePropSheet::SetActivePage(int index) {
  if (index < 0 || index >= GetPageCount()) return false;
  if (!created_) {
    current_ = index;  // the start page
    return true;
  }
  if (index != current_) {
    CPropertyPage* leaving = GetActivePage();
    if (leaving != nullptr && !leaving->OnKillActive()) return false;
    ShowPage(index);
  }
  if (treeMode_) {
    SelectCurrentPageItem();
    RefreshCaption();
  }
  return true;
}

void CTreePropSheet::ShowPage(int index) {
  CPropertyPage* page = GetPage(index);
  if (page == nullptr) return;
  current_ = index;
  page->EnsureInitialised();  // its controls are set up before it is seen
  pageArea_->setCurrentWidget(page);
  syncingTabs_ = true;
  tabBar_->setCurrentIndex(index);
  syncingTabs_ = false;
  page->OnSetActive();
}

void CTreePropSheet::accept() {
  CPropertyPage* page = GetActivePage();
  if (created_ && page != nullptr && !page->OnKillActive()) return;
  QDialog::accept();
}

// --- window -------------------------------------------------------------------------

void CTreePropSheet::setVisible(bool visible) {
  if (visible && !created_) CreateSheet();  // before the first show sizes the window
  if (visible) {
    qApp->installEventFilter(this);
  } else {
    qApp->removeEventFilter(this);
  }
  QDialog::setVisible(visible);
}

void CTreePropSheet::CreateSheet() {
  created_ = true;

  tabBar_ = new QTabBar;
  tabBar_->setObjectName(QStringLiteral("pageTabs"));
  tabBar_->setExpanding(false);
  tabBar_->setDrawBase(false);
  pageArea_ = new QStackedWidget;
  pageArea_->setObjectName(QStringLiteral("pageArea"));
  for (CPropertyPage* page : pages_) {
    pageArea_->addWidget(page);
    tabBar_->addTab(page->Caption());
  }
  connect(tabBar_, &QTabBar::currentChanged, this, [this](int index) {
    if (syncingTabs_) return;
    if (!SetActivePage(index)) {
      syncingTabs_ = true;  // the page on show refused: the tab goes back to it
      tabBar_->setCurrentIndex(current_);
      syncingTabs_ = false;
    }
  });

  okButton_ = new QPushButton(QStringLiteral("OK"));
  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setDefault(true);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"));
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  cancelButton_->setAutoDefault(false);
  connect(okButton_, &QPushButton::clicked, this, &CTreePropSheet::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &CTreePropSheet::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(okButton_);
  buttons->addWidget(cancelButton_);

  if (current_ < 0 || current_ >= GetPageCount()) current_ = GetPageCount() > 0 ? 0 : -1;
  const int start = current_;
  current_ = -1;

  if (!treeMode_) {
    auto* panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->addWidget(pageArea_);
    auto* root = new QVBoxLayout(this);
    root->setSpacing(0);
    root->addWidget(tabBar_);
    root->addWidget(panel, 1);
    root->addSpacing(8);
    root->addLayout(buttons);
    ShowPage(start);
    return;
  }

  // The tab row stays, hidden and disabled: the pages keep their order and captions there.
  tabBar_->setParent(this);
  tabBar_->hide();
  tabBar_->setEnabled(false);

  frame_ = MakePageFrame();
  if (frame_ == nullptr) throw std::bad_alloc();
  frame_->CreateFrame(this);
  frame_->SetCaptionVisible(pageCaption_);
  {
    // The caption bar is as high as a tab header with an empty label.
    QTabBar probe(this);
    probe.addTab(QString());
    frame_->SetCaptionBarHeight(probe.sizeHint().height());
  }
  QWidget* frameWindow = frame_->FrameWindow();
  auto* frameLayout = new QVBoxLayout(frameWindow);
  frameLayout->setContentsMargins(0, pageCaption_ ? frame_->CaptionBarHeight() + 1 : 0, 0, 0);
  frameLayout->addWidget(pageArea_);

  tree_ = MakePageTree();
  if (tree_ == nullptr) throw std::bad_alloc();
  tree_->setParent(this);
  tree_->setObjectName(QStringLiteral("pageTree"));
  tree_->setColumnCount(1);
  tree_->header()->hide();
  tree_->setRootIsDecorated(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setFocusPolicy(Qt::StrongFocus);
  tree_->setFixedWidth(treeWidth - 5);
  auto* veto = new VetoSelectionModel(tree_->model(), tree_, [this](const QModelIndex& i) { return OnSelectionChanging(i); });
  QItemSelectionModel* old = tree_->selectionModel();
  tree_->setSelectionModel(veto);
  delete old;
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { RefreshCaption(); });

  auto* root = new QGridLayout(this);
  root->setHorizontalSpacing(5);
  root->addWidget(tree_, 0, 0);
  root->addWidget(frameWindow, 0, 1);
  root->setRowStretch(0, 1);
  root->setColumnStretch(1, 1);
  root->setRowMinimumHeight(1, 8);
  root->addLayout(buttons, 2, 1);

  ShowPage(start);
  RebuildPageTree();
  if (current_ >= 0) SelectPageItem(current_);
  RefreshCaption();
}

QTreeWidget* CTreePropSheet::MakePageTree() { return new QTreeWidget; }

CPageFrame* CTreePropSheet::MakePageFrame() { return new CPageFrameWnd; }

// --- tree ---------------------------------------------------------------------------

QTreeWidgetItem* CTreePropSheet::ItemOf(int id) const {
  return id > 0 && id < static_cast<int>(items_.size()) ? items_[static_cast<std::size_t>(id)] : nullptr;
}

int CTreePropSheet::ItemId(const QTreeWidgetItem* item) const {
  return item != nullptr ? item->data(0, kItemIdRole).toInt() : PageTree::kNoItem;
}

QIcon CTreePropSheet::ItemIcon(int id) const {
  const int page = model_.item(id).page;
  if (page < 0) return defaultNodeIcon;
  const QIcon& own = GetPage(page)->icon;
  return own.isNull() ? defaultPageIcon : own;
}

void CTreePropSheet::RebuildPageTree() {
  if (!created_ || tree_ == nullptr) return;
  const bool wasBusy = selectionBusy_;
  selectionBusy_ = true;  // emptying and refilling the tree moves no page
  tree_->clear();
  items_.clear();
  std::vector<std::string> captions;
  for (const CPropertyPage* page : pages_) captions.push_back(page->Caption().toStdString());
  model_.Rebuild(captions);
  items_.assign(static_cast<std::size_t>(model_.itemCount()) + 1, nullptr);
  for (int id = 1; id <= model_.itemCount(); ++id) {
    const PageTree::Item& it = model_.item(id);
    QTreeWidgetItem* parent = ItemOf(it.parent);
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
    item->setText(0, QString::fromStdString(it.text));
    item->setData(0, kItemIdRole, id);
    item->setData(0, kPageRole, it.page);
    if (treeImages_) item->setIcon(0, ItemIcon(id));
    items_[static_cast<std::size_t>(id)] = item;
  }
  // The top level stays open, also when a page added later rebuilds the tree.
  for (int id = model_.FirstItem(); id != PageTree::kNoItem; id = model_.NextSibling(id)) {
    ItemOf(id)->setExpanded(true);
  }
  selectionBusy_ = wasBusy;
}

QTreeWidgetItem* CTreePropSheet::FindPageItem(int page) const { return ItemOf(model_.FindPageItem(page)); }

void CTreePropSheet::SelectPageItem(int page) {
  QTreeWidgetItem* item = FindPageItem(page);
  if (item == nullptr || tree_->currentItem() == item) return;
  const bool wasBusy = selectionBusy_;
  selectionBusy_ = true;  // the page is already the one on show
  tree_->setCurrentItem(item);
  selectionBusy_ = wasBusy;
}

void CTreePropSheet::SelectCurrentPageItem() {
  if (tree_ != nullptr && current_ >= 0) SelectPageItem(current_);
}

bool CTreePropSheet::OnSelectionChanging(const QModelIndex& index) {
  if (selectionBusy_) return true;
  selectionBusy_ = true;
  const int page = index.data(kPageRole).toInt();
  const bool allowed = index.data(kPageRole).isValid() && page >= 0 && page < GetPageCount() && SetActivePage(page);
  // A page that refused to be left has put the focus on its failed field: leave it there.
  if (allowed) tree_->setFocus(Qt::OtherFocusReason);
  selectionBusy_ = false;
  return allowed;
}

void CTreePropSheet::RefreshCaption() {
  if (tree_ == nullptr || frame_ == nullptr) return;
  const CPropertyPage* page = GetActivePage();
  const bool real = page != nullptr && page->isVisibleTo(this);
  const QTreeWidgetItem* selected = tree_->currentItem();
  if (selected == nullptr) return;
  const QString caption = selected->text(0);
  if (!real) frame_->SetMessageText(FormatEmptyPageMessage(emptyPageFormat, caption));
  if (!frame_->IsCaptionVisible()) return;
  QIcon icon;
  if (treeImages_) {
    icon = selected->icon(0);
  } else if (real) {
    if (const CPropertyPage* own = GetPage(selected->data(0, kPageRole).toInt())) icon = own->icon;
  }
  frame_->SetCaptionText(caption, icon);
}

QString CTreePropSheet::FormatEmptyPageMessage(const QString& format, const QString& itemText) const {
  // Formatted by hand: a format given from outside must not be able to read arguments
  // that are not there.
  QString text;
  bool substituted = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('%') && i + 1 < format.size()) {
      if (format[i + 1] == QLatin1Char('%')) {
        text += QLatin1Char('%');
        ++i;
        continue;
      }
      if (format[i + 1] == QLatin1Char('s') && !substituted) {
        text += itemText;
        substituted = true;
        ++i;
        continue;
      }
    }
    text += format[i];
  }
  return text;
}

// --- keyboard -----------------------------------------------------------------------

void CTreePropSheet::GoToNextPage() {
  if (!created_) return;
  if (!treeMode_) {
    if (current_ >= 0 && current_ < GetPageCount()) SetActivePage((current_ + 1) % GetPageCount());
    return;
  }
  const int next = model_.NextItem(ItemId(tree_->currentItem()));
  if (QTreeWidgetItem* item = ItemOf(next)) tree_->setCurrentItem(item);
}

void CTreePropSheet::GoToPreviousPage() {
  if (!created_) return;
  if (!treeMode_) {
    if (current_ >= 0 && current_ < GetPageCount()) SetActivePage((current_ + GetPageCount() - 1) % GetPageCount());
    return;
  }
  const int previous = model_.PreviousItem(ItemId(tree_->currentItem()));
  if (QTreeWidgetItem* item = ItemOf(previous)) tree_->setCurrentItem(item);
}

bool CTreePropSheet::IsDialogMessage(const QKeyEvent& event) {
  if (event.type() != QEvent::KeyPress || !(event.modifiers() & Qt::ControlModifier)) return false;
  if (event.key() == Qt::Key_Backtab || (event.key() == Qt::Key_Tab && (event.modifiers() & Qt::ShiftModifier))) {
    GoToPreviousPage();
    return true;
  }
  if (event.key() == Qt::Key_Tab) {
    GoToNextPage();
    return true;
  }
  return false;
}

bool CTreePropSheet::eventFilter(QObject* watched, QEvent* event) {
  // Every key press meant for a widget of this sheet passes here first, so Ctrl+Tab works
  // wherever the focus is, edits and lists included.
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    auto* w = static_cast<QWidget*>(watched);
    if ((w == this || isAncestorOf(w)) && IsDialogMessage(*static_cast<QKeyEvent*>(event))) return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vantrel
