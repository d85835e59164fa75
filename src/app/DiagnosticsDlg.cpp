#include "app/DiagnosticsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace vantrel {
namespace {

enum Column { kName, kValue, kChange, kColumns };

// A failure's text as one line of the status line: its paragraphs joined.
QString OneLine(const std::string& text) {
  return QString::fromStdString(text).simplified();
}

}  // namespace

CDiagnosticsDlg::CDiagnosticsDlg(PduSender send, std::function<int()> slaveId, QWidget* parent)
    : QDialog(parent), send_(std::move(send)), slaveId_(std::move(slaveId)) {
  setObjectName(QStringLiteral("diagnostics"));
  setWindowTitle(QStringLiteral("Diagnostics"));
  setModal(false);

  table_ = new QTableWidget(static_cast<int>(read_.rows().size()), kColumns);
  table_->setObjectName(QStringLiteral("diagnosticsTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Counter"), QStringLiteral("Value"), QStringLiteral("Change")});
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int r = 0; r < table_->rowCount(); ++r) {
    table_->setItem(r, kName, new QTableWidgetItem(QString::fromStdString(read_.rows()[static_cast<std::size_t>(r)].name)));
    for (int c : {kValue, kChange}) {
      auto* item = new QTableWidgetItem;
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table_->setItem(r, c, item);
    }
  }
  table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
  table_->setColumnWidth(kValue, 90);
  table_->setColumnWidth(kChange, 90);

  readButton_ = new QPushButton(QStringLiteral("Read"));
  readButton_->setObjectName(QStringLiteral("readButton"));
  connect(readButton_, &QPushButton::clicked, this, [this] { Read(); });
  period_ = new QComboBox;
  period_->setObjectName(QStringLiteral("periodBox"));
  for (int ms : kPeriodsMs) period_->addItem(ms == 0 ? QStringLiteral("Off") : QStringLiteral("Every %1 s").arg(ms / 1000));
  period_->setToolTip(QStringLiteral("Read again at this period, between the polls"));
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] { Read(); });
  connect(period_, &QComboBox::currentIndexChanged, this, [this](int i) {
    const int ms = i >= 0 && i < static_cast<int>(std::size(kPeriodsMs)) ? kPeriodsMs[i] : 0;
    if (ms > 0) {
      timer_->start(ms);
    } else {
      timer_->stop();
    }
  });
  auto* clear = new QPushButton(QStringLiteral("Clear counters"));
  clear->setObjectName(QStringLiteral("clearCountersButton"));
  clear->setToolTip(QStringLiteral("Function 08/0A: the device sets its counters and diagnostic register to 0"));
  connect(clear, &QPushButton::clicked, this, [this] { ClearCounters(); });
  auto* restart = new QPushButton(QStringLiteral("Restart communications..."));
  restart->setObjectName(QStringLiteral("restartButton"));
  restart->setToolTip(QStringLiteral("Function 08/01: the device restarts its communications port"));
  connect(restart, &QPushButton::clicked, this, [this] { RestartCommunications(); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(readButton_);
  buttons->addWidget(new QLabel(QStringLiteral("Read again:")));
  buttons->addWidget(period_);
  buttons->addStretch(1);
  buttons->addWidget(clear);
  buttons->addWidget(restart);

  status_ = new QLabel(QStringLiteral("Not read yet: press Read."));
  status_->setObjectName(QStringLiteral("statusLabel"));
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  layout->addWidget(status_);
  resize(520, 380);
}

void CDiagnosticsDlg::Read() {
  if (read_.Reading()) return;  // a period that comes round before the read ends waits for the next
  readSlave_ = slaveId_();
  read_.Begin();
  ShowRows();
  ShowStatus("Reading slave " + std::to_string(readSlave_) + "...");
  SendNext();
}

void CDiagnosticsDlg::SendNext() {
  std::vector<std::uint8_t> pdu;
  if (!read_.Next(pdu)) {
    ShowRows();
    const std::string when = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
    ShowStatus(read_.failure().empty() ? "Slave " + std::to_string(readSlave_) + ", read at " + when
                                       : read_.failure());
    return;
  }
  QPointer<CDiagnosticsDlg> self(this);
  send_(readSlave_, std::move(pdu), [self](const PduOutcome& outcome) {
    if (!self) return;  // closed meanwhile
    self->read_.Take(outcome);
    self->ShowRows();
    self->SendNext();
  });
}

void CDiagnosticsDlg::ClearCounters() { Command("Counters cleared", DiagnosticsRead::ClearCountersPdu()); }

void CDiagnosticsDlg::RestartCommunications() {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Restart communications"),
                  QStringLiteral("Restart the communications of slave %1?\n\nThe device restarts its communications "
                                 "port: it answers this request, then may miss requests while it restarts, and "
                                 "it leaves listen-only mode.")
                      .arg(slaveId_()),
                  QMessageBox::Yes | QMessageBox::Cancel, this);
  box.setObjectName(QStringLiteral("restartBox"));
  box.setDefaultButton(QMessageBox::Cancel);
  auto* clearLog = new QCheckBox(QStringLiteral("Clear the event log too"));
  box.setCheckBox(clearLog);
  if ((runBox ? runBox(box) : box.exec()) != QMessageBox::Yes) return;
  const bool clear = clearLog->isChecked();
  Command(clear ? "Communications restarted, event log cleared" : "Communications restarted",
          DiagnosticsRead::RestartCommunicationsPdu(clear));
}

void CDiagnosticsDlg::Command(const char* done, std::vector<std::uint8_t> pdu) {
  const int slave = slaveId_();
  ShowStatus("Sending to slave " + std::to_string(slave) + "...");
  QPointer<CDiagnosticsDlg> self(this);
  send_(slave, std::move(pdu), [self, done, slave](const PduOutcome& outcome) {
    if (!self) return;
    const std::string failure = self->read_.TakeCommand(outcome);
    self->ShowStatus(failure.empty() ? std::string(done) + " (slave " + std::to_string(slave) + ")" : failure);
  });
}

void CDiagnosticsDlg::ShowRows() {
  for (std::size_t r = 0; r < read_.rows().size(); ++r) {
    const DiagnosticsRow& row = read_.rows()[r];
    table_->item(static_cast<int>(r), kValue)->setText(QString::fromStdString(DiagnosticsValueText(row)));
    table_->item(static_cast<int>(r), kChange)->setText(QString::fromStdString(DiagnosticsChangeText(row)));
  }
}

void CDiagnosticsDlg::ShowStatus(const std::string& text) { status_->setText(OneLine(text)); }

}  // namespace vantrel
