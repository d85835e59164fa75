#include "app/PollTab.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

#include "app/ResponseModel.h"
#include "session/TableText.h"

namespace vantrel {

PollTab::PollTab(QWidget* parent) : QWidget(parent) {
  model_ = new ResponseModel(this);
  view_ = new QTableView;
  view_->setObjectName(QStringLiteral("responseList"));
  view_->setModel(model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  // Only the Name column, while names are shown, takes edits.
  view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view_->horizontalHeader()->setHighlightSections(false);
  view_->setShowGrid(false);
  view_->setWordWrap(false);
  view_->setTabKeyNavigation(false);  // Tab leaves the table, as in any dialog
  view_->setMinimumHeight(200);
  // Always there, so that wider columns (another word order, the 64-bit ones) never bring
  // a scroll bar that takes a row's height from under the user.
  view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view_->viewport()->setMouseTracking(true);
  view_->viewport()->installEventFilter(this);
  // Copy takes whole rows with the captions; the key is taken here, before the view copies
  // its one current cell. The window adds the context menu's actions.
  view_->setContextMenuPolicy(Qt::ActionsContextMenu);
  view_->installEventFilter(this);
  // The same question in another format (word order, the 64-bit or wire-address columns)
  // comes as a new table, which a view shows with nothing selected: the selection stays, so
  // that a click on Write writes the rows it did before.
  struct Kept {
    int function = 0, firstOffset = 0;
    std::size_t rows = 0;
    std::vector<int> selected;
  };
  auto kept = std::make_shared<Kept>();
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this, kept] {
    const ResponseTable& table = model_->table();
    *kept = {table.function, table.firstOffset, table.rows.size(), SelectedRows()};
  });
  connect(model_, &QAbstractItemModel::modelReset, this, [this, kept] {
    const ResponseTable& table = model_->table();
    if (table.rows.empty() || table.function != kept->function || table.firstOffset != kept->firstOffset ||
        table.rows.size() != kept->rows) {
      return;
    }
    for (int row : kept->selected) {
      view_->selectionModel()->select(model_->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  });

  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("statusLine"));
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Never widens the window: a line longer than the window wraps, in a room of two lines
  // kept whatever the text, so that the rows above do not move as the figures grow.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  status_->setWordWrap(true);
  status_->setFixedHeight(2 * status_->fontMetrics().lineSpacing());
  auto* reset = new QPushButton(QStringLiteral("Reset"));
  reset->setObjectName(QStringLiteral("resetStatisticsButton"));
  reset->setToolTip(QStringLiteral("Start the counters and response times afresh"));
  connect(reset, &QPushButton::clicked, this, [this] {
    if (resetClicked) resetClicked();
  });
  auto* statusRow = new QHBoxLayout;
  statusRow->addWidget(status_, 1);
  statusRow->addWidget(reset);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_, 1);
  layout->addLayout(statusRow);
}

bool PollTab::Show(ResponseTable table, std::int64_t nowMs) {
  if (model_->Update(table, nowMs)) {
    FitColumns(table, true);
    return true;
  }
  model_->SetTable(std::move(table));
  FitColumns(model_->table(), false);  // the header's captions are the new table's now
  return false;
}

void PollTab::Clear() { model_->Clear(); }

void PollTab::ShowNames(bool on) {
  if (on == model_->NamesShown() || model_->table().rows.empty()) {
    model_->ShowNames(on);
    return;
  }
  model_->ShowNames(on);
  FitColumns(model_->table(), false);
  if (on) view_->setColumnWidth(ResponseModel::kNameColumn, 8 * view_->fontMetrics().averageCharWidth() + 40);
}

void PollTab::ShowStatistics(const std::string& line) {
  const QString text = QString::fromStdString(line);
  status_->setText(text);
  status_->setToolTip(text);  // whole, when a narrow window cuts the line
}

void PollTab::FitColumns(const ResponseTable& table, bool widenOnly) {
  const std::vector<ResponseColumn>& columns = table.columns;
  // The longest text of each column.
  std::vector<const std::string*> longest(columns.size(), nullptr);
  for (const auto& row : table.rows) {
    for (std::size_t c = 0; c < row.size() && c < columns.size(); ++c) {
      if (longest[c] == nullptr || row[c].size() > longest[c]->size()) longest[c] = &row[c];
    }
  }
  const QFontMetrics metrics = view_->fontMetrics();
  // The item delegate's margins on either side of the text, and a pixel for the grid.
  const int margin = 2 * (view_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 1;
  // The designed widths, for an 8-point dialog font, scaled to today's larger fonts, are the
  // least widths: a column widens to show its longest text and its caption whole.
  const double scale = std::max(1.0, metrics.averageCharWidth() / 5.0);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const int col = model_->ViewColumn(static_cast<int>(c));
    const int text =
        longest[c] != nullptr ? metrics.horizontalAdvance(QString::fromStdString(*longest[c])) + margin : 0;
    int width = std::max({static_cast<int>(columns[c].width * scale), text, view_->horizontalHeader()->sectionSizeHint(col)});
    if (widenOnly) {
      if (text <= view_->columnWidth(col)) continue;
      width = text;
    }
    view_->setColumnWidth(col, width);
  }
}

std::vector<int> PollTab::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : view_->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void PollTab::CopyRows(bool all) {
  const std::string text = TableAsText(model_->table(), all ? std::vector<int>{} : SelectedRows(), TextFormat::Tabs);
  if (!text.empty()) QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

bool PollTab::IsCursorOnWriteColumn(const QPoint& viewportPos) const {
  if (!view_->viewport()->rect().contains(viewportPos)) return false;
  if (model_->rowCount() == 0) return false;
  const QModelIndex index = view_->indexAt(viewportPos);
  return index.isValid() && index.column() == 0;
}

bool PollTab::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    CopyRows(false);
    return true;
  }
  if (watched == view_->viewport()) {
    if (event->type() == QEvent::MouseMove) {
      const auto* e = static_cast<QMouseEvent*>(event);
      view_->viewport()->setCursor(IsCursorOnWriteColumn(e->position().toPoint()) ? Qt::PointingHandCursor
                                                                                  : Qt::ArrowCursor);
    } else if (event->type() == QEvent::MouseButtonPress) {
      // A press on "Write" of a row in a selection of several keeps the selection: the
      // write is for all of them.
      const auto* e = static_cast<QMouseEvent*>(event);
      const QPoint at = e->position().toPoint();
      if (e->button() == Qt::LeftButton && e->modifiers() == Qt::NoModifier && IsCursorOnWriteColumn(at) &&
          view_->selectionModel()->isRowSelected(view_->indexAt(at).row()) &&
          view_->selectionModel()->selectedRows().size() > 1) {
        return true;
      }
    } else if (event->type() == QEvent::MouseButtonRelease) {
      const auto* e = static_cast<QMouseEvent*>(event);
      const QPoint at = e->position().toPoint();
      if (e->button() == Qt::LeftButton && IsCursorOnWriteColumn(at) && writeClicked) {
        const int clicked = view_->indexAt(at).row();
        std::vector<int> rows = SelectedRows();
        if (std::find(rows.begin(), rows.end(), clicked) == rows.end()) rows = {clicked};
        writeClicked(std::move(rows));
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace vantrel
