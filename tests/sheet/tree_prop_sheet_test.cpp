// The tree property sheet offscreen: its tree from the page captions, choosing pages by
// mouse and keyboard, refusals, the caption bar, and the plain tabbed mode.
#include "sheet/TreePropSheet.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>

#include "sheet/PageFrame.h"
#include "sheet/PropertyPage.h"

using namespace vantrel;

namespace {

const std::vector<QString> kProgramCaptions = {"Connection", "About::Contact us", "About",
                                               "Auto Update", "Request",           "Polling frequency"};

// A page with an edit to type into, which can be told to refuse being left.
class TestPage : public CPropertyPage {
 public:
  explicit TestPage(const QString& caption) : CPropertyPage(0, caption) {
    edit = new QLineEdit(this);
    (new QVBoxLayout(this))->addWidget(edit);
  }
  bool OnKillActive() override {
    ++leaveRequests;
    return !refuse;
  }
  QLineEdit* edit;
  bool refuse = false;
  int leaveRequests = 0;
};

class Sheet : public ::testing::Test {
 protected:
  void Build(const std::vector<QString>& captions, bool treeMode = true) {
    sheet_ = std::make_unique<CTreePropSheet>(QStringLiteral("Preferences"));
    sheet_->EnableTreeMode(treeMode, true, false);
    for (const QString& c : captions) {
      pages_.push_back(new TestPage(c));
      sheet_->AddPage(pages_.back());
    }
  }
  void Show() {
    sheet_->show();
    QApplication::processEvents();
  }
  QTreeWidget* tree() const { return sheet_->pageTree(); }
  QString Current() const { return tree()->currentItem() ? tree()->currentItem()->text(0) : QString(); }
  QTreeWidgetItem* Item(const QString& text) const {
    const auto found = tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
  }
  void Click(const QString& text) {
    QTreeWidgetItem* item = Item(text);
    ASSERT_NE(item, nullptr) << text.toStdString();
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(item).center());
  }
  // Keys go to whatever has the focus inside the page on show, as a user's would.
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(pages_[static_cast<std::size_t>(sheet_->GetActiveIndex())]->edit, key, modifiers);
  }
  QWidget* ShownPage() const { return sheet_->findChild<QStackedWidget*>("pageArea")->currentWidget(); }

  std::unique_ptr<CTreePropSheet> sheet_;
  std::vector<TestPage*> pages_;  // owned by the sheet
};

QColor Pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

// Each item as "text:page", "+" when expanded, two blanks deeper per level, in order.
QString TreeText(const QTreeWidgetItem* parent, int depth = 0) {
  QString out;
  for (int i = 0; i < parent->childCount(); ++i) {
    const QTreeWidgetItem* item = parent->child(i);
    out += QString(depth * 2, QLatin1Char(' ')) + item->text(0) + ":" +
           QString::number(item->data(0, Qt::UserRole + 1).toInt()) + (item->isExpanded() ? "+" : "") + "\n";
    out += TreeText(item, depth + 1);
  }
  return out;
}

}  // namespace

TEST_F(Sheet, tree_from_the_programs_six_captions) {
  Build(kProgramCaptions);
  Show();
  // the top level expanded, and About with its own page, not -1
  EXPECT_EQ(TreeText(tree()->invisibleRootItem()),
            "Connection:0+\nAbout:2+\n  Contact us:1\nAuto Update:3+\nRequest:4+\nPolling frequency:5+\n");
  EXPECT_EQ(sheet_->FindPageItem(1), Item("Contact us"));
  EXPECT_EQ(Current(), "Connection");
  EXPECT_EQ(ShownPage(), pages_[0]);
  EXPECT_EQ(sheet_->windowTitle(), "Preferences");
  EXPECT_EQ(tree()->width(), 145) << "150 with the gap to the frame";
  ASSERT_TRUE(sheet_->SetActivePage(1));
  EXPECT_EQ(Current(), "Contact us");
  EXPECT_EQ(sheet_->pageFrame()->CaptionText(), "Contact us") << "the item's own text, not the path";
}

TEST_F(Sheet, clicking_an_item_shows_its_page) {
  Build(kProgramCaptions);
  Show();
  Click("Request");
  EXPECT_EQ(sheet_->GetActiveIndex(), 4);
  EXPECT_EQ(ShownPage(), pages_[4]);
  EXPECT_EQ(Current(), "Request");
  EXPECT_EQ(sheet_->pageFrame()->CaptionText(), "Request");
  EXPECT_EQ(pages_[0]->leaveRequests, 1) << "the page left was asked first";
  EXPECT_FALSE(pages_[1]->IsInitialised()) << "a page never shown is never set up";
  EXPECT_TRUE(pages_[4]->IsInitialised());
}

TEST_F(Sheet, grouping_item_refuses_the_selection) {
  Build({"A::B"});
  Show();
  ASSERT_EQ(TreeText(tree()->invisibleRootItem()), "A:-1+\n  B:0\n");
  EXPECT_EQ(Current(), "B");
  Click("A");
  EXPECT_EQ(Current(), "B");
  EXPECT_EQ(tree()->selectedItems(), QList<QTreeWidgetItem*>{Item("B")});
  EXPECT_EQ(sheet_->GetActiveIndex(), 0);
  EXPECT_EQ(sheet_->pageFrame()->CaptionText(), "B");
  // nor by keyboard, inside the tree or with Ctrl+Tab
  tree()->setFocus();
  QTest::keyClick(tree(), Qt::Key_Up);
  EXPECT_EQ(Current(), "B");
  Key(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(Current(), "B");
}

TEST_F(Sheet, escaped_separators_in_the_tree) {
  Build({R"(A\::B)", R"(A\::B::C)", R"(A\\::B)"});
  Show();
  // escapes are undone only in a component that a separator follows
  EXPECT_EQ(TreeText(tree()->invisibleRootItem()), QString(R"(A\::B:0+
A::B:-1+
  C:1
A\:-1+
  B:2
)"));
}

TEST_F(Sheet, ctrl_tab_walks_the_tree_and_wraps_from_the_last_item) {
  Build(kProgramCaptions);
  Show();
  QStringList seen;
  for (int i = 0; i < 6; ++i) {
    Key(Qt::Key_Tab, Qt::ControlModifier);
    seen << Current();
  }
  EXPECT_EQ(seen, (QStringList{"About", "Contact us", "Auto Update", "Request", "Polling frequency", "Connection"}));
  EXPECT_EQ(ShownPage(), pages_[0]);
  EXPECT_EQ(sheet_->pageFrame()->CaptionText(), "Connection");
}

TEST_F(Sheet, ctrl_shift_tab_walks_back_and_wraps_from_the_first_item) {
  Build({"Connection", "About", "About::Contact us", "Last::Deep"});
  Show();
  ASSERT_EQ(Current(), "Connection");
  Key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Current(), "Deep") << "the last item of the whole tree";
  ASSERT_TRUE(sheet_->SetActivePage(1));  // About: its previous sibling is a leaf
  Key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Current(), "Connection");
  ASSERT_TRUE(sheet_->SetActivePage(3));
  Key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Current(), "Deep") << "its parent has no page";
}

TEST_F(Sheet, a_page_that_refuses_to_be_left_keeps_the_sheet) {
  Build(kProgramCaptions);
  Show();
  pages_[0]->refuse = true;
  Click("Request");
  EXPECT_EQ(Current(), "Connection");
  EXPECT_EQ(ShownPage(), pages_[0]);
  Key(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(Current(), "Connection");
  sheet_->okButton()->click();
  EXPECT_TRUE(sheet_->isVisible()) << "OK asks the page too";
  EXPECT_NE(sheet_->result(), QDialog::Accepted);
  pages_[0]->refuse = false;
  sheet_->okButton()->click();
  EXPECT_FALSE(sheet_->isVisible());
  EXPECT_EQ(sheet_->result(), QDialog::Accepted);
}

TEST_F(Sheet, enable_tree_mode_only_before_the_window_exists) {
  sheet_ = std::make_unique<CTreePropSheet>(QStringLiteral("Preferences"));
  EXPECT_TRUE(sheet_->IsTreeMode());
  EXPECT_FALSE(sheet_->HasPageCaption());
  EXPECT_TRUE(sheet_->EnableTreeMode(false, true, true));
  EXPECT_FALSE(sheet_->HasPageCaption()) << "the other flags count only in tree mode";
  EXPECT_FALSE(sheet_->HasTreeImages());
  EXPECT_TRUE(sheet_->EnableTreeMode(true, true, false));
  sheet_->AddPage(new TestPage("Only"));
  Show();
  EXPECT_FALSE(sheet_->EnableTreeMode(false, false, true));
  EXPECT_TRUE(sheet_->IsTreeMode());
  EXPECT_TRUE(sheet_->HasPageCaption());
  EXPECT_FALSE(sheet_->HasTreeImages());
}

TEST_F(Sheet, empty_page_message_names_the_item) {
  Build(kProgramCaptions);
  sheet_->emptyPageFormat = QStringLiteral("No page for %s (100%%) %d %s");
  Show();
  ASSERT_TRUE(sheet_->SetActivePage(4));
  EXPECT_TRUE(sheet_->pageFrame()->MessageText().isEmpty()) << "a page on show covers the message";
  pages_[4]->hide();
  sheet_->RefreshCaption();
  EXPECT_EQ(sheet_->pageFrame()->MessageText(), "No page for Request (100%) %d %s")
      << "only the one item text is substituted";
}

TEST_F(Sheet, tabbed_mode_has_tabs_and_wraps_by_page_index) {
  Build(kProgramCaptions, false);
  Show();
  EXPECT_EQ(tree(), nullptr);
  EXPECT_EQ(sheet_->pageFrame(), nullptr);
  QTabBar* tabs = sheet_->tabBar();
  ASSERT_TRUE(tabs->isVisible());
  ASSERT_EQ(tabs->count(), 6);
  EXPECT_EQ(tabs->tabText(1), "About::Contact us") << "a tab shows the whole caption";
  Key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(sheet_->GetActiveIndex(), 5);
  EXPECT_EQ(tabs->currentIndex(), 5);
  Key(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(sheet_->GetActiveIndex(), 0);
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(4).center());
  EXPECT_EQ(sheet_->GetActiveIndex(), 4);
  EXPECT_EQ(ShownPage(), pages_[4]);
  pages_[4]->refuse = true;
  QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(2).center());
  EXPECT_EQ(sheet_->GetActiveIndex(), 4);
  EXPECT_EQ(tabs->currentIndex(), 4) << "the tab goes back to the page that refused";
}

TEST(page_frame, gradient_over_zero_width_draws_one_column_in_the_left_colour) {
  QImage image(6, 4, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    FillHorizontalGradient(painter, QRect(2, 0, 0, 4), QColor(10, 20, 30), QColor(200, 200, 200));
  }
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(Pixel(image, 2, y), QColor(10, 20, 30)) << y;
    EXPECT_EQ(Pixel(image, 1, y), QColor(Qt::white));
    EXPECT_EQ(Pixel(image, 3, y), QColor(Qt::white));
  }
}

TEST_F(Sheet, caption_bar_is_a_tab_header_high_and_fades_into_the_frame) {
  Build(kProgramCaptions);
  Show();
  CPageFrame* frame = sheet_->pageFrame();
  QTabBar probe;
  probe.addTab(QString());
  EXPECT_EQ(frame->CaptionBarHeight(), probe.sizeHint().height());
  QWidget* window = frame->FrameWindow();
  EXPECT_EQ(frame->CaptionArea(), QRect(0, 0, window->width(), frame->CaptionBarHeight()));
  EXPECT_EQ(frame->MessageArea().top(), frame->CaptionBarHeight() + 1);
  EXPECT_GE(ShownPage()->mapTo(window, QPoint(0, 0)).y(), frame->CaptionBarHeight() + 1) << "the page sits below";
  const QImage image = window->grab().toImage();
  const QPalette& pal = window->palette();
  EXPECT_EQ(Pixel(image, 0, frame->CaptionBarHeight() - 1), pal.color(QPalette::Inactive, QPalette::Highlight));
  const QColor right = Pixel(image, image.width() - 1, 0);
  EXPECT_LE(std::abs(right.red() - pal.color(QPalette::Window).red()), 3);
  EXPECT_LE(std::abs(right.blue() - pal.color(QPalette::Window).blue()), 3);
  frame->SetCaptionVisible(false);
  EXPECT_EQ(frame->CaptionArea().height(), 0);
  EXPECT_EQ(frame->MessageArea().top(), 0);
}
