#include "sheet/Settings_requestDlg.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <string>

#include "session/PollTexts.h"
#include "modbus/ModbusFrame.h"
#include "sheet/PageRules.h"
#include "settings/ScannerSettings.h"

namespace vantrel {
namespace {

QLineEdit* MakeEdit(const char* objectName) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(objectName));
  return edit;
}

}  // namespace

CSettings_requestDlg::CSettings_requestDlg(const ScannerSettings& s, QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("Request"), parent),
      modbus_mode(s.modbus_mode),
      request_function_code(s.request_function_code),
      request_id(s.request_id),
      request_length(s.request_length),
      request_offset(s.request_offset) {
  setObjectName(QStringLiteral("requestPage"));
  slaveId_ = MakeEdit("slaveIdEdit");
  function_ = new QComboBox;
  function_->setObjectName(QStringLiteral("functionCombo"));
  offset_ = MakeEdit("offsetEdit");
  length_ = MakeEdit("lengthEdit");
  preview_ = MakeEdit("previewEdit");
  preview_->setReadOnly(true);
  preview_->setFocusPolicy(Qt::ClickFocus);  // Tab goes from edit to edit, past the preview
  preview_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  auto* grid = new QGridLayout;
  AddLabelledRows(grid, {{"Slave ID", slaveId_}, {"Function:", function_}, {"Offset", offset_}, {"Length", length_}});
  grid->addWidget(new QLabel(QStringLiteral("Offset of 1 is the first element in the data array ")), grid->rowCount(),
                  0, 1, 2);

  auto* group = new QGroupBox(QStringLiteral("Request"));
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(preview_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(group);
  layout->addStretch(1);

  for (QLineEdit* edit : {slaveId_, offset_, length_}) {
    connect(edit, &QLineEdit::textChanged, this, [this] { OnChange(); });
  }
  connect(function_, &QComboBox::currentIndexChanged, this, [this] { OnChange(); });
}

void CSettings_requestDlg::OnInitDialog() {
  loading_ = true;
  for (const char* text : kFunctionEntries) function_->addItem(QString::fromLatin1(text));
  function_->setCurrentIndex(FunctionIndexFor(request_function_code));
  ShowInEdit(slaveId_, request_id);
  ShowInEdit(offset_, request_offset);
  ShowInEdit(length_, request_length);
  loading_ = false;
  RebuildPreview();
}

void CSettings_requestDlg::OnChange() {
  if (!loading_ && IsInitialised()) RebuildPreview();
}

bool CSettings_requestDlg::RebuildPreview() {
  if (!ReadEdit(slaveId_, CheckSlaveIdEdit, request_id) || !ReadEdit(length_, CheckLengthEdit, request_length) ||
      !ReadEdit(offset_, CheckOffsetEdit, request_offset)) {
    // The fields no longer say what is typed: no frame is shown for them.
    preview.clear();
    preview_->clear();
    preview_->setPlaceholderText({});
    return false;
  }
  request_function_code = FunctionCodeFromIndex(function_->currentIndex());
  loading_ = true;  // showing the fields again must not start another rebuild
  ShowInEdit(slaveId_, request_id);
  ShowInEdit(length_, request_length);
  ShowInEdit(offset_, request_offset);
  loading_ = false;
  ShowPreview();
  return true;
}

void CSettings_requestDlg::ShowPreview() {
  std::string text;
  check_ = BuildRequestPreview(modbus_mode, request_function_code, request_id, request_offset, request_length, text);
  preview = QString::fromStdString(text);
  if (preview_->text() != preview) preview_->setText(preview);
  // Why there is no frame, in a word, while the user types; the whole text when the page
  // is left.
  const std::string why = RequestErrorText(check_);
  preview_->setPlaceholderText(QString::fromStdString(why.substr(0, why.find('\n'))));
}

void CSettings_requestDlg::SetMode(int modbusMode) {
  modbus_mode = modbusMode;
  if (IsInitialised()) ShowPreview();
}

bool CSettings_requestDlg::OnKillActive() {
  if (!RebuildPreview()) return false;
  if (check_ == MB_REQUEST_OK) return true;
  QLineEdit* field = check_ == MB_REQUEST_BAD_SLAVE_ID                                       ? slaveId_
                     : check_ == MB_REQUEST_OUT_OF_RANGE || check_ == MB_REQUEST_BAD_OFFSET ? offset_
                                                                                             : length_;
  return Refuse(field, RequestErrorText(check_));
}

}  // namespace vantrel
