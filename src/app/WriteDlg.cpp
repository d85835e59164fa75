#include "app/WriteDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vantrel {

CWriteDlg::CWriteDlg(WriteTarget target, bool alwaysMultiple, QWidget* parent)
    : QDialog(parent), target_(std::move(target)), formats_(FormatsFor(target_)) {
  setWindowTitle(QStringLiteral("Write"));
  setObjectName(QStringLiteral("writeDialog"));
  const bool coils = target_.function == 1;
  const bool several = target_.rows.size() > 1;

  auto* heading = new QLabel(QString::fromStdString(DescribeTarget(target_)));
  heading->setObjectName(QStringLiteral("targetLabel"));
  heading->setWordWrap(true);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  currentLabel_ = new QLabel;
  currentLabel_->setObjectName(QStringLiteral("currentLabel"));

  // Owned by the dialog from the start: for coils the format box and the value field, for
  // registers the On/Off row, stay out of the layout, hidden.
  formatBox_ = new QComboBox(this);
  formatBox_->setObjectName(QStringLiteral("formatBox"));
  for (WriteFormat f : formats_) formatBox_->addItem(QString::fromLatin1(FormatName(f)));

  allButton_ = new QRadioButton(QStringLiteral("One value for all rows"));
  perRowButton_ = new QRadioButton(QStringLiteral("One value per row"));
  allButton_->setChecked(true);
  auto* modeGroup = new QButtonGroup(this);
  modeGroup->addButton(allButton_);
  modeGroup->addButton(perRowButton_);
  auto* modeRow = new QWidget;
  auto* modeLayout = new QHBoxLayout(modeRow);
  modeLayout->setContentsMargins(0, 0, 0, 0);
  modeLayout->addWidget(allButton_);
  modeLayout->addWidget(perRowButton_);
  modeLayout->addStretch();
  modeRow->setVisible(several);

  onButton_ = new QRadioButton(QStringLiteral("On"));
  offButton_ = new QRadioButton(QStringLiteral("Off"));
  auto* coilGroup = new QButtonGroup(this);
  coilGroup->addButton(onButton_);
  coilGroup->addButton(offButton_);
  coilRow_ = new QWidget(this);
  auto* coilLayout = new QHBoxLayout(coilRow_);
  coilLayout->setContentsMargins(0, 0, 0, 0);
  coilLayout->addWidget(onButton_);
  coilLayout->addWidget(offButton_);
  coilLayout->addStretch();

  valueEdit_ = new QLineEdit(this);
  valueEdit_->setObjectName(QStringLiteral("valueEdit"));

  valueTable_ = new QTableWidget(0, 3);
  valueTable_->setObjectName(QStringLiteral("valueTable"));
  valueTable_->setHorizontalHeaderLabels({QStringLiteral("Item"), QStringLiteral("Current"), QStringLiteral("New value")});
  valueTable_->verticalHeader()->hide();
  valueTable_->horizontalHeader()->setStretchLastSection(true);
  valueTable_->setMinimumHeight(160);

  slaveIdBox_ = new QSpinBox;
  slaveIdBox_->setObjectName(QStringLiteral("slaveIdBox"));
  slaveIdBox_->setRange(0, 255);
  slaveIdBox_->setValue(target_.slaveId);
  slaveIdBox_->setToolTip(QStringLiteral("0 broadcasts the write: every device carries it out, none answers"));
  broadcastLabel_ = new QLabel(QStringLiteral("Broadcast to every device: no reply is awaited"));
  broadcastLabel_->setObjectName(QStringLiteral("broadcastLabel"));
  auto* slaveRow = new QWidget;
  auto* slaveLayout = new QHBoxLayout(slaveRow);
  slaveLayout->setContentsMargins(0, 0, 0, 0);
  slaveLayout->addWidget(slaveIdBox_);
  slaveLayout->addWidget(broadcastLabel_, 1);

  // One register: a bit of it, set or cleared by the device, so that the other bits keep
  // what it holds then, whatever the table last showed.
  bitBox_ = new QSpinBox;
  bitBox_->setObjectName(QStringLiteral("bitBox"));
  bitBox_->setRange(0, kMaxBitNumber);
  bitBox_->setToolTip(QStringLiteral("0 is the lowest bit, 15 the highest"));
  setBitButton_ = new QPushButton(QStringLiteral("Set bit"));
  setBitButton_->setObjectName(QStringLiteral("setBitButton"));
  setBitButton_->setAutoDefault(false);
  clearBitButton_ = new QPushButton(QStringLiteral("Clear bit"));
  clearBitButton_->setObjectName(QStringLiteral("clearBitButton"));
  clearBitButton_->setAutoDefault(false);
  setBitButton_->setToolTip(QStringLiteral("Function 22 (Mask Write Register): the device sets the bit and keeps the others"));
  clearBitButton_->setToolTip(setBitButton_->toolTip().replace(QStringLiteral("sets"), QStringLiteral("clears")));
  connect(setBitButton_, &QPushButton::clicked, this, [this] { OnBit(true); });
  connect(clearBitButton_, &QPushButton::clicked, this, [this] { OnBit(false); });
  auto* bitRow = new QWidget;
  auto* bitLayout = new QHBoxLayout(bitRow);
  bitLayout->setContentsMargins(0, 0, 0, 0);
  bitLayout->addWidget(bitBox_);
  bitLayout->addWidget(setBitButton_);
  bitLayout->addWidget(clearBitButton_);
  bitLayout->addStretch();

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Slave ID:"), slaveRow);
  if (!coils) form->addRow(QStringLiteral("Format:"), formatBox_);
  form->addRow(QString(), modeRow);
  form->addRow(QStringLiteral("Value:"), coils ? coilRow_ : static_cast<QWidget*>(valueEdit_));
  (coils ? static_cast<QWidget*>(valueEdit_) : coilRow_)->hide();
  formatBox_->setVisible(!coils);
  if (!coils && !several) {
    form->addRow(QStringLiteral("Bit:"), bitRow);
  } else {
    bitRow->setParent(this);
    bitRow->hide();
  }

  multipleBox_ = new QCheckBox(QStringLiteral("Always use function %1 (for devices without function %2)")
                                   .arg(coils ? 15 : 16)
                                   .arg(coils ? QStringLiteral("05") : QStringLiteral("06")));
  multipleBox_->setObjectName(QStringLiteral("multipleBox"));
  multipleBox_->setChecked(alwaysMultiple);
  readBackBox_ = new QCheckBox(QStringLiteral("Write and read back in one request (23)"));
  readBackBox_->setObjectName(QStringLiteral("readBackBox"));
  readBackBox_->setToolTip(QStringLiteral("Function 23 writes the registers and returns what the device then holds"));
  readBackBox_->setVisible(!coils);

  planLabel_ = new QLabel;
  planLabel_->setObjectName(QStringLiteral("planLabel"));
  planLabel_->setWordWrap(true);
  planLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  messageLabel_ = new QLabel;
  messageLabel_->setObjectName(QStringLiteral("messageLabel"));
  messageLabel_->setWordWrap(true);
  messageLabel_->setStyleSheet(QStringLiteral("color: #b00020;"));

  auto* buttons = new QDialogButtonBox;
  QPushButton* write = buttons->addButton(QStringLiteral("Write"), QDialogButtonBox::AcceptRole);
  write->setObjectName(QStringLiteral("writeButton"));
  write->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnWrite(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* root = new QVBoxLayout(this);
  root->addWidget(heading);
  root->addWidget(currentLabel_);
  root->addLayout(form);
  root->addWidget(valueTable_, 1);
  root->addWidget(multipleBox_);
  root->addWidget(readBackBox_);
  root->addWidget(planLabel_);
  root->addWidget(messageLabel_);
  root->addWidget(buttons);

  connect(formatBox_, &QComboBox::currentIndexChanged, this, [this] {
    ShowCurrentValues();
    ShowMode();
  });
  connect(allButton_, &QRadioButton::toggled, this, [this] { ShowMode(); });
  // The plan follows every change of what would be written.
  connect(valueEdit_, &QLineEdit::textChanged, this, [this] { ShowPlan(); });
  connect(onButton_, &QRadioButton::toggled, this, [this] { ShowPlan(); });
  connect(valueTable_, &QTableWidget::itemChanged, this, [this] { ShowPlan(); });
  connect(multipleBox_, &QCheckBox::toggled, this, [this] { ShowPlan(); });
  connect(readBackBox_, &QCheckBox::toggled, this, [this] { ShowPlan(); });
  connect(slaveIdBox_, &QSpinBox::valueChanged, this, [this] { ShowSlaveId(); });
  ShowCurrentValues();
  ShowSlaveId();
  ShowMode();
  resize(460, several ? 420 : 220);
}

WriteFormat CWriteDlg::format() const {
  const int i = formatBox_->currentIndex();
  return i >= 0 && i < static_cast<int>(formats_.size()) ? formats_[static_cast<std::size_t>(i)] : formats_.front();
}

bool CWriteDlg::alwaysMultiple() const { return multipleBox_->isChecked(); }

void CWriteDlg::ShowCurrentValues() {
  const WriteFormat f = format();
  const int items = ItemCount(target_, f);
  const std::string first = CurrentValue(target_, f, 0);
  currentLabel_->setText(QString::fromStdString("Current value: " + first));
  currentLabel_->setVisible(items == 1);
  valueEdit_->setText(QString::fromStdString(first));
  (first == "1" ? onButton_ : offButton_)->setChecked(true);
  valueTable_->setRowCount(items);
  for (int i = 0; i < items; ++i) {
    auto* label = new QTableWidgetItem(QString::fromStdString(ItemLabel(target_, f, i)));
    label->setFlags(Qt::ItemIsEnabled);
    auto* current = new QTableWidgetItem(QString::fromStdString(CurrentValue(target_, f, i)));
    current->setFlags(Qt::ItemIsEnabled);
    valueTable_->setItem(i, 0, label);
    valueTable_->setItem(i, 1, current);
    valueTable_->setItem(i, 2, new QTableWidgetItem(current->text()));
  }
  valueTable_->resizeColumnsToContents();
  messageLabel_->clear();
}

void CWriteDlg::ShowMode() {
  const bool perRow = perRowButton_->isChecked() && ItemCount(target_, format()) > 1;
  valueTable_->setVisible(perRow);
  valueEdit_->setEnabled(!perRow);
  coilRow_->setEnabled(!perRow);
  ShowPlan();
}

std::vector<std::string> CWriteDlg::EnteredValues() const {
  std::vector<std::string> values;
  if (perRowButton_->isChecked() && ItemCount(target_, format()) > 1) {
    for (int i = 0; i < valueTable_->rowCount(); ++i) {
      const QTableWidgetItem* item = valueTable_->item(i, 2);
      values.push_back(item != nullptr ? item->text().toStdString() : std::string());
    }
  } else if (format() == WriteFormat::Coil) {
    values.push_back(onButton_->isChecked() ? "1" : "0");
  } else {
    values.push_back(valueEdit_->text().toStdString());
  }
  return values;
}

void CWriteDlg::ShowSlaveId() {
  target_.slaveId = slaveIdBox_->value();
  broadcastLabel_->setVisible(target_.slaveId == 0);
  readBackBox_->setEnabled(CanReadBack(target_));
  ShowPlan();
}

void CWriteDlg::ShowPlan() {
  const WriteFormat f = format();
  const bool readBack = readBackBox_->isEnabled() && readBackBox_->isChecked();
  planLabel_->setText(QString::fromStdString(
      DescribePlan(target_, f, PlanWrite(target_, f, EnteredValues(), alwaysMultiple(), readBack))));
}

void CWriteDlg::OnWrite() {
  const WriteFormat f = format();
  const std::vector<std::string> values = EnteredValues();
  const bool readBack = readBackBox_->isEnabled() && readBackBox_->isChecked();
  WritePlanResult plan = PlanWrite(target_, f, values, alwaysMultiple(), readBack);
  if (!plan.error.empty()) {
    messageLabel_->setText(QString::fromStdString(plan.error));
    if (values.size() > 1 && plan.badItem >= 0) {
      valueTable_->setCurrentCell(plan.badItem, 2);
      valueTable_->setFocus();
    } else {
      valueEdit_->setFocus();
      valueEdit_->selectAll();
    }
    return;
  }
  requests_ = std::move(plan.requests);
  accept();
}

void CWriteDlg::OnBit(bool set) {
  WritePlanResult plan = PlanBitWrite(target_, bitBox_->value(), set);
  if (!plan.error.empty()) {
    messageLabel_->setText(QString::fromStdString(plan.error));
    return;
  }
  requests_ = std::move(plan.requests);
  accept();
}

}  // namespace vantrel
