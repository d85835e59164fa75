// The Test center: a request of any function, chosen from the codec's list with a small form
// of its fields or typed as a raw PDU, sent to a slave id through the main window's line
// session; the frame as the line's mode puts it on the wire, the reply decoded or the failure
// explained, and a history of the requests sent that can be sent again and goes into the
// workspace. Non-modal; one at a time. The logic is TestCenter's (session/TestCenter.h).
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "session/TestCenter.h"

class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace vantrel {

class CTestCenterDlg : public QDialog {
  Q_OBJECT

 public:
  // connection: the line as the Connection page sets it now, for the frame shown; send: how
  // its requests go (CMainDlg::SendPdu); slaveId: the one proposed (the poll in front's).
  CTestCenterDlg(std::function<LineConnection()> connection, PduSender send, int slaveId, QWidget* parent = nullptr);

  // Chooses the function of the list whose code this is; false when the list has none.
  bool ChooseFunction(std::uint8_t code);
  // Send: the request of the raw field to the slave id; false (nothing sent) when it is refused.
  bool Send();
  // Sends the history's request at that row again; false when there is none.
  bool SendAgain(int row);
  void ClearHistory();
  // The workspace's form of the history, and a workspace's history taken in its place.
  std::vector<SavedTestRequest> SavedHistory() const { return history_.Saved(); }
  void LoadHistory(const std::vector<SavedTestRequest>& saved);
  // The preview follows the fields, and the Connection page when the window is activated.
  void UpdatePreview();

  // For the tests and the screenshot.
  QListWidget* functionList() const { return functions_; }
  QSpinBox* slaveBox() const { return slave_; }
  QLineEdit* paramEdit(TestParam param) const { return params_[static_cast<std::size_t>(param)]; }
  QLineEdit* rawEdit() const { return raw_; }
  QLineEdit* frameEdit() const { return frame_; }
  QLabel* noteLabel() const { return note_; }
  QPushButton* sendButton() const { return send_; }
  QPlainTextEdit* replyPane() const { return reply_; }
  QTableWidget* historyTable() const { return table_; }
  const TestHistory& history() const { return history_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void OnFunctionChosen();
  // The form made a request: the raw field shows it.
  void FillRaw();
  void SendRequest(int slaveId, std::vector<std::uint8_t> pdu);
  void Done(int id, const std::vector<std::uint8_t>& pdu, const PduOutcome& outcome);
  void ShowHistory();
  void SelectExchange(int id);
  void ShowSelected();

  std::function<LineConnection()> connection_;
  PduSender sendPdu_;
  TestPdu request_;  // what the raw field holds
  TestHistory history_;

  QListWidget* functions_ = nullptr;
  QSpinBox* slave_ = nullptr;
  QFormLayout* form_ = nullptr;
  std::array<QLineEdit*, kTestParamCount> params_{};
  std::array<QLabel*, kTestParamCount> labels_{};
  QLineEdit* raw_ = nullptr;
  QLabel* frameLabel_ = nullptr;
  QLineEdit* frame_ = nullptr;
  QLabel* note_ = nullptr;
  QPushButton* send_ = nullptr;
  QPlainTextEdit* reply_ = nullptr;
  QTableWidget* table_ = nullptr;
  QPushButton* again_ = nullptr;
};

}  // namespace vantrel
