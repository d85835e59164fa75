// CWriteDlg, the Write dialog: the value (or one per row) for the coils or holding
// registers chosen in the response table, to the poll's slave id or another (0 broadcasts);
// for one register, a bit set or cleared by the device (22); for a run of registers, the
// write read back in the same request (23). A thin view over WritePlan; Write keeps the
// dialog open with a message while a value is refused.
#pragma once

#include <QDialog>

#include <vector>

#include "session/WritePlan.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

namespace vantrel {

class CWriteDlg : public QDialog {
  Q_OBJECT

 public:
  CWriteDlg(WriteTarget target, bool alwaysMultiple, QWidget* parent = nullptr);

  // The Write button: plans the write from what is entered; accepts, or shows why not.
  void OnWrite();
  // "Set bit" and "Clear bit": the bit of the bit field, by the device itself (22); accepts,
  // or shows why not.
  void OnBit(bool set);

  // After acceptance: the requests to send, and the "always use 15/16" choice.
  const std::vector<WriteFrame>& requests() const { return requests_; }
  bool alwaysMultiple() const;

  WriteFormat format() const;
  QComboBox* formatBox() const { return formatBox_; }
  QRadioButton* allButton() const { return allButton_; }
  QRadioButton* perRowButton() const { return perRowButton_; }
  QRadioButton* onButton() const { return onButton_; }
  QRadioButton* offButton() const { return offButton_; }
  QLineEdit* valueEdit() const { return valueEdit_; }
  QTableWidget* valueTable() const { return valueTable_; }
  QCheckBox* multipleBox() const { return multipleBox_; }
  // "Write and read back in one request (23)": enabled for what CanReadBack takes.
  QCheckBox* readBackBox() const { return readBackBox_; }
  QSpinBox* slaveIdBox() const { return slaveIdBox_; }
  // "Broadcast to every device: no reply is awaited", shown for slave id 0.
  QLabel* broadcastLabel() const { return broadcastLabel_; }
  // The bit number and its buttons: one holding register only.
  QSpinBox* bitBox() const { return bitBox_; }
  QPushButton* setBitButton() const { return setBitButton_; }
  QPushButton* clearBitButton() const { return clearBitButton_; }
  QLabel* messageLabel() const { return messageLabel_; }
  // What Write would send now: the addresses, their new registers (in the table's word
  // order) and the function, kept up to date as the values are entered.
  QLabel* planLabel() const { return planLabel_; }

 private:
  // The values entered: one for all items, or one per item.
  std::vector<std::string> EnteredValues() const;
  void ShowPlan();
  // Fills the value fields with the current values in the chosen format.
  void ShowCurrentValues();
  void ShowMode();
  // The slave id chosen: the target's, the broadcast note, and what 23 may do.
  void ShowSlaveId();

  WriteTarget target_;
  std::vector<WriteFormat> formats_;
  std::vector<WriteFrame> requests_;
  QLabel* currentLabel_ = nullptr;
  QComboBox* formatBox_ = nullptr;
  QRadioButton* allButton_ = nullptr;
  QRadioButton* perRowButton_ = nullptr;
  QRadioButton* onButton_ = nullptr;
  QRadioButton* offButton_ = nullptr;
  QWidget* coilRow_ = nullptr;
  QLineEdit* valueEdit_ = nullptr;
  QTableWidget* valueTable_ = nullptr;
  QCheckBox* multipleBox_ = nullptr;
  QCheckBox* readBackBox_ = nullptr;
  QSpinBox* slaveIdBox_ = nullptr;
  QLabel* broadcastLabel_ = nullptr;
  QSpinBox* bitBox_ = nullptr;
  QPushButton* setBitButton_ = nullptr;
  QPushButton* clearBitButton_ = nullptr;
  QLabel* messageLabel_ = nullptr;
  QLabel* planLabel_ = nullptr;
};

}  // namespace vantrel
