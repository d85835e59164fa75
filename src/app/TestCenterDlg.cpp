#include "app/TestCenterDlg.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

CTestCenterDlg::CTestCenterDlg(std::function<LineConnection()> connection, PduSender send, int slaveId,
                               QWidget* parent)
    : QDialog(parent), connection_(std::move(connection)), sendPdu_(std::move(send)) {
  setObjectName(QStringLiteral("testCenter"));
  setWindowTitle(QStringLiteral("Test center"));
  setModal(false);
  resize(940, 720);
  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

  functions_ = new QListWidget;
  functions_->setObjectName(QStringLiteral("testFunctions"));
  for (const FunctionInfo& f : ModbusFunctions()) {
    auto* item = new QListWidgetItem(QString::fromStdString(FunctionLabel(f)), functions_);
    item->setData(Qt::UserRole, f.code);
  }
  functions_->setMaximumWidth(290);
  connect(functions_, &QListWidget::currentRowChanged, this, [this] { OnFunctionChosen(); });

  slave_ = new QSpinBox;
  slave_->setRange(0, 255);
  slave_->setValue(slaveId);
  slave_->setToolTip(QStringLiteral("0 broadcasts a write to every device"));
  connect(slave_, &QSpinBox::valueChanged, this, [this] { UpdatePreview(); });
  form_ = new QFormLayout;
  form_->addRow(QStringLiteral("Slave id"), slave_);
  const TestParamTexts initial = InitialTestParams();
  for (std::size_t i = 0; i < params_.size(); ++i) {
    params_[i] = new QLineEdit(QString::fromStdString(initial[i]));
    labels_[i] = new QLabel;
    form_->addRow(labels_[i], params_[i]);
    connect(params_[i], &QLineEdit::textEdited, this, [this] { FillRaw(); });
  }
  raw_ = new QLineEdit;
  raw_->setObjectName(QStringLiteral("rawPdu"));
  raw_->setFont(fixed);
  raw_->setPlaceholderText(QStringLiteral("Function code and data in hex: 08 00 00 A5 37"));
  connect(raw_, &QLineEdit::textEdited, this, [this] {
    request_ = ParseTestPdu(raw_->text().toStdString());
    UpdatePreview();
  });
  form_->addRow(QStringLiteral("Raw PDU"), raw_);
  frame_ = new QLineEdit;
  frame_->setReadOnly(true);
  frame_->setFont(fixed);
  frameLabel_ = new QLabel;
  form_->addRow(frameLabel_, frame_);
  note_ = new QLabel;
  note_->setWordWrap(true);
  note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  send_ = new QPushButton(QStringLiteral("Send"));
  send_->setDefault(true);
  connect(send_, &QPushButton::clicked, this, [this] { Send(); });
  auto* sendRow = new QHBoxLayout;
  sendRow->addWidget(note_, 1);
  sendRow->addWidget(send_, 0, Qt::AlignTop);
  auto* request = new QVBoxLayout;
  request->addLayout(form_);
  request->addLayout(sendRow);
  request->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(functions_);
  top->addLayout(request, 1);
  auto* topWidget = new QWidget;
  topWidget->setLayout(top);

  reply_ = new QPlainTextEdit;
  reply_->setReadOnly(true);
  reply_->setFont(fixed);
  reply_->setLineWrapMode(QPlainTextEdit::NoWrap);
  reply_->setPlaceholderText(QStringLiteral("The reply to the request selected below: its hex and decoded fields"));

  table_ = new QTableWidget(0, kTestHistoryColumns);
  table_->setObjectName(QStringLiteral("testHistory"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Slave"), QStringLiteral("Function"),
                                     QStringLiteral("PDU"), QStringLiteral("Outcome"), QStringLiteral("ms")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
  const int widths[kTestHistoryColumns] = {70, 45, 230, 200, 0, 60};
  for (int c = 0; c < kTestHistoryColumns; ++c) {
    if (widths[c]) table_->setColumnWidth(c, widths[c]);
  }
  connect(table_, &QTableWidget::currentCellChanged, this, [this] { ShowSelected(); });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row) { SendAgain(row); });
  again_ = new QPushButton(QStringLiteral("Send again"));
  connect(again_, &QPushButton::clicked, this, [this] { SendAgain(table_->currentRow()); });
  auto* clear = new QPushButton(QStringLiteral("Clear"));
  connect(clear, &QPushButton::clicked, this, [this] { ClearHistory(); });
  auto* historyButtons = new QHBoxLayout;
  historyButtons->addWidget(new QLabel(QStringLiteral("History: the last %1 requests, kept in the workspace; "
                                                      "double-click one to send it again.")
                                           .arg(kTestHistorySize)),
                            1);
  historyButtons->addWidget(again_);
  historyButtons->addWidget(clear);
  auto* history = new QVBoxLayout;
  history->setContentsMargins(0, 0, 0, 0);
  history->addWidget(table_, 1);
  history->addLayout(historyButtons);
  auto* historyWidget = new QWidget;
  historyWidget->setLayout(history);

  auto* split = new QSplitter(Qt::Vertical);
  split->addWidget(topWidget);
  split->addWidget(reply_);
  split->addWidget(historyWidget);
  // The function list whole, then the reply and the history alike.
  split->setSizes({290, 170, 220});
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(split);

  functions_->setCurrentRow(0);
  ShowHistory();
}

bool CTestCenterDlg::ChooseFunction(std::uint8_t code) {
  for (int row = 0; row < functions_->count(); ++row) {
    if (functions_->item(row)->data(Qt::UserRole).toInt() == code) {
      functions_->setCurrentRow(row);
      return true;
    }
  }
  return false;
}

void CTestCenterDlg::OnFunctionChosen() {
  const QListWidgetItem* item = functions_->currentItem();
  if (item == nullptr) return;
  const auto fields = TestFormOf(static_cast<std::uint8_t>(item->data(Qt::UserRole).toInt()));
  for (std::size_t i = 0; i < params_.size(); ++i) {
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [i](const TestField& f) { return static_cast<std::size_t>(f.param) == i; });
    form_->setRowVisible(params_[i], field != fields.end());
    if (field != fields.end()) labels_[i]->setText(QString::fromLatin1(field->label));
  }
  FillRaw();
}

void CTestCenterDlg::FillRaw() {
  const QListWidgetItem* item = functions_->currentItem();
  if (item == nullptr) return;
  TestParamTexts texts;
  for (std::size_t i = 0; i < params_.size(); ++i) texts[i] = params_[i]->text().toStdString();
  request_ = BuildTestPdu(static_cast<std::uint8_t>(item->data(Qt::UserRole).toInt()), texts);
  raw_->setText(QString::fromStdString(PduText(request_.pdu)));
  UpdatePreview();
}

void CTestCenterDlg::UpdatePreview() {
  const LineConnection line = connection_();
  const TestPreview preview = PreviewTestRequest(line.mode, slave_->value(), request_);
  frameLabel_->setText(QStringLiteral("Frame (%1)").arg(QString::fromLatin1(ModeName(line.mode))));
  frame_->setText(QString::fromStdString(preview.frame));
  note_->setText(QString::fromStdString(preview.note).trimmed());
  note_->setStyleSheet(preview.ok ? QString() : QStringLiteral("color: #b02020"));
  send_->setEnabled(preview.ok);
}

void CTestCenterDlg::changeEvent(QEvent* event) {
  // The Connection page may have changed the mode meanwhile.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) UpdatePreview();
  QDialog::changeEvent(event);
}

bool CTestCenterDlg::Send() {
  UpdatePreview();
  if (!send_->isEnabled()) return false;
  SendRequest(slave_->value(), request_.pdu);
  return true;
}

bool CTestCenterDlg::SendAgain(int row) {
  if (row < 0 || row >= static_cast<int>(history_.size())) return false;
  const TestExchange& e = history_.at(static_cast<std::size_t>(row));
  SendRequest(e.slaveId, e.pdu);
  return true;
}

void CTestCenterDlg::SendRequest(int slaveId, std::vector<std::uint8_t> pdu) {
  const int id = history_.Add(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString(), slaveId, pdu);
  ShowHistory();
  SelectExchange(id);
  // The outcome may come after this window is gone.
  QPointer<CTestCenterDlg> self(this);
  sendPdu_(slaveId, pdu, [self, id, pdu](const PduOutcome& outcome) {
    if (self) self->Done(id, pdu, outcome);
  });
}

void CTestCenterDlg::Done(int id, const std::vector<std::uint8_t>& pdu, const PduOutcome& outcome) {
  if (!history_.Complete(id, DescribeTestOutcome(pdu, outcome))) return;
  ShowHistory();
  SelectExchange(id);
}

void CTestCenterDlg::ClearHistory() {
  history_.Clear();
  ShowHistory();
}

void CTestCenterDlg::LoadHistory(const std::vector<SavedTestRequest>& saved) {
  history_.Load(saved);
  ShowHistory();
}

void CTestCenterDlg::ShowHistory() {
  const QSignalBlocker quiet(table_);
  table_->setRowCount(static_cast<int>(history_.size()));
  for (std::size_t row = 0; row < history_.size(); ++row) {
    const auto texts = TestHistoryRow(history_.at(row));
    for (int c = 0; c < kTestHistoryColumns; ++c) {
      auto* cell = new QTableWidgetItem(QString::fromStdString(texts[static_cast<std::size_t>(c)]));
      if (c == 1 || c == 5) cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table_->setItem(static_cast<int>(row), c, cell);
    }
  }
  again_->setEnabled(history_.size() > 0);
  ShowSelected();
}

void CTestCenterDlg::SelectExchange(int id) {
  const int row = history_.RowOf(id);
  if (row < 0) return;
  table_->setCurrentCell(row, 0);
  table_->scrollToItem(table_->item(row, 0));
  ShowSelected();
}

void CTestCenterDlg::ShowSelected() {
  const int row = table_->currentRow();
  if (row < 0 || row >= static_cast<int>(history_.size())) {
    reply_->clear();
    return;
  }
  const TestExchange& e = history_.at(static_cast<std::size_t>(row));
  QString head = QStringLiteral("Slave %1, %2: %3")
                     .arg(e.slaveId)
                     .arg(QString::fromStdString(RequestLabel(e.pdu)),
                          QString::fromStdString(e.outcome.empty() ? "not sent since the workspace was opened"
                                                                   : e.outcome));
  if (e.ms >= 0) head += QStringLiteral(", in %1 ms").arg(e.ms, 0, 'f', 1);
  reply_->setPlainText(head + QStringLiteral("\nRequest: ") + QString::fromStdString(PduText(e.pdu)) +
                       QStringLiteral("\n\n") + QString::fromStdString(e.details));
}

}  // namespace vantrel
