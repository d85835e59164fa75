#include "sheet/Settings_connectionDlg2.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "diag/Diagnostics.h"
#include "serial/PortMap.h"
#include "sheet/PageRules.h"
#include "settings/ScannerSettings.h"

namespace vantrel {
namespace {

QComboBox* MakeCombo(const char* objectName) {
  auto* combo = new QComboBox;
  combo->setObjectName(QString::fromLatin1(objectName));
  return combo;
}

template <typename Entries>
void Fill(QComboBox* combo, const Entries& entries) {
  for (const char* text : entries) combo->addItem(QString::fromLatin1(text));
}

}  // namespace

CSettings_connectionDlg2::CSettings_connectionDlg2(const ScannerSettings& s, QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("Connection"), parent),
      modbus_mode(s.modbus_mode),
      com_port(s.com_port),
      buad_rate(s.buad_rate),
      data_bits(s.data_bits),
      stop_bits(s.stop_bits),
      parity(s.parity),
      recv_time_out(s.recv_time_out),
      device_path(s.device_path),
      rs485(s.rs485),
      tcp_host(s.tcp_host),
      tcp_port(s.tcp_port),
      turnaround_ms(s.turnaround_ms) {
  setObjectName(QStringLiteral("connectionPage"));
  mode_ = MakeCombo("modeCombo");
  port_ = MakeCombo("portCombo");
  port_->setEditable(true);  // a device path may be typed in
  port_->setInsertPolicy(QComboBox::NoInsert);
  port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  port_->setMinimumContentsLength(22);
  port_->setToolTip(QStringLiteral("A port from the list, or the path of a serial device: /dev/ttyUSB0, /dev/serial/by-id/..."));
  baud_ = MakeCombo("baudCombo");
  dataBits_ = MakeCombo("dataBitsCombo");
  stopBits_ = MakeCombo("stopBitsCombo");
  parity_ = MakeCombo("parityCombo");
  rs485_ = new QCheckBox(QStringLiteral("RS-485 (the driver raises RTS while sending)"));
  rs485_->setObjectName(QStringLiteral("rs485Check"));
  rs485_->setToolTip(QStringLiteral("For adapters whose driver switches the line's direction; most switch it by themselves"));
  host_ = new QLineEdit;
  host_->setObjectName(QStringLiteral("hostEdit"));
  host_->setPlaceholderText(QStringLiteral("192.168.1.20"));
  tcpPort_ = new QLineEdit;
  tcpPort_->setObjectName(QStringLiteral("tcpPortEdit"));
  timeout_ = new QLineEdit;
  timeout_->setObjectName(QStringLiteral("timeoutEdit"));
  turnaround_ = new QLineEdit;
  turnaround_->setObjectName(QStringLiteral("turnaroundEdit"));
  turnaround_->setToolTip(QStringLiteral("After a broadcast (a write to slave id 0), which no device answers, the line "
                                         "is left quiet this long so that every device has carried it out"));

  group_ = new QGroupBox(QStringLiteral("Serial Connection"));
  auto* grid = new QGridLayout(group_);
  AddLabelledRows(grid, {{"Mode", mode_}});
  // The serial and the network settings take the same place in one grid, so that every
  // label lines up; the mode shows one kind or the other.
  const auto rowsFrom = [grid](int first) {
    std::vector<QWidget*> widgets;
    for (int r = first; r < grid->rowCount(); ++r) {
      for (int c = 0; c < 2; ++c) {
        if (QLayoutItem* item = grid->itemAtPosition(r, c); item != nullptr && item->widget() != nullptr) {
          widgets.push_back(item->widget());
        }
      }
    }
    return widgets;
  };
  const int serialRows = grid->rowCount();
  AddLabelledRows(grid, {{"Serial Port", port_}, {"Baud Rate", baud_}, {"Data Bits", dataBits_},
                         {"Stop Bits", stopBits_}, {"Parity", parity_}});
  grid->addWidget(rs485_, grid->rowCount(), 1);
  serialWidgets_ = rowsFrom(serialRows);
  const int networkRows = grid->rowCount();
  AddLabelledRows(grid, {{"Host", host_}, {"TCP Port", tcpPort_}});
  networkWidgets_ = rowsFrom(networkRows);
  AddLabelledRows(grid, {{"Timeout (Sec)", timeout_}, {"Turnaround (ms)", turnaround_}});
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group_);
  layout->addStretch(1);

  for (QComboBox* combo : {mode_, port_, baud_, dataBits_, stopBits_, parity_}) {
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { OnChange(); });
  }
  connect(mode_, &QComboBox::currentIndexChanged, this, [this](int mode) {
    ShowModeSettings();
    emit modeChanged(mode);
  });
  connect(rs485_, &QCheckBox::toggled, this, [this] { OnChange(); });
  connect(timeout_, &QLineEdit::textChanged, this, [this] { OnChange(); });
  connect(turnaround_, &QLineEdit::textChanged, this, [this] { OnChange(); });
}

void CSettings_connectionDlg2::OnInitDialog() {
  loading_ = true;
  Fill(mode_, kModeEntries);
  // Each port with what stands behind it on this machine, so the user sees which
  // adapter "COM3" is before choosing it.
  for (int n = 1; n <= kPortCount; ++n) {
    port_->addItem(QString::fromStdString(PortEntryText(n, DescribePort(n), PortFolder())));
  }
  port_->view()->setMinimumWidth(port_->view()->sizeHintForColumn(0) + 8);
  for (int rate : kBaudRates) baud_->addItem(QString::number(rate));
  Fill(dataBits_, kDataBitsEntries);
  Fill(stopBits_, kStopBitsEntries);
  Fill(parity_, kParityEntries);

  const ConnectionSelection s = SelectConnection(
      {modbus_mode, com_port, buad_rate, data_bits, stop_bits, parity, recv_time_out});
  mode_->setCurrentIndex(s.mode);
  port_->setCurrentIndex(s.port);
  if (!device_path.empty()) port_->setEditText(QString::fromStdString(device_path));
  baud_->setCurrentIndex(s.baud);
  dataBits_->setCurrentIndex(s.dataBits);
  stopBits_->setCurrentIndex(s.stopBits);
  parity_->setCurrentIndex(s.parity);
  rs485_->setChecked(rs485 != 0);
  host_->setText(QString::fromStdString(tcp_host));
  ShowInEdit(tcpPort_, tcp_port);
  timeout_seconds = TimeoutSecondsFor(recv_time_out);
  ShowInEdit(timeout_, timeout_seconds);
  ShowInEdit(turnaround_, turnaround_ms);
  ShowModeSettings();
  loading_ = false;
  ReadBack();
}

bool CSettings_connectionDlg2::IsNetwork() const { return modbus_mode == 2 || modbus_mode == 3; }

void CSettings_connectionDlg2::ShowModeSettings() {
  const bool network = mode_->currentIndex() == 2 || mode_->currentIndex() == 3;
  for (QWidget* w : serialWidgets_) w->setVisible(!network);
  for (QWidget* w : networkWidgets_) w->setVisible(network);
  group_->setTitle(network ? QStringLiteral("Network Connection") : QStringLiteral("Serial Connection"));
}

void CSettings_connectionDlg2::OnChange() {
  if (!loading_ && IsInitialised()) ReadBack(false);
}

bool CSettings_connectionDlg2::ReadBack(bool strict) {
  if (!ReadEdit(timeout_, CheckUnsignedEdit, timeout_seconds)) return false;
  if (!ReadEdit(turnaround_, CheckUnsignedEdit, turnaround_ms)) return false;
  ConnectionSelection s;
  s.mode = mode_->currentIndex();
  s.port = port_->currentIndex();
  s.baud = baud_->currentIndex();
  s.dataBits = dataBits_->currentIndex();
  s.stopBits = stopBits_->currentIndex();
  s.parity = parity_->currentIndex();
  const ConnectionValues v = ReadConnection(s, timeout_seconds);
  recv_time_out = v.recv_time_out;
  modbus_mode = v.modbus_mode;
  buad_rate = v.buad_rate;
  data_bits = v.data_bits;
  stop_bits = v.stop_bits;
  parity = v.parity;
  rs485 = rs485_->isChecked() ? 1 : 0;
  // Only the settings the mode shows are checked: a network mode does not need a port, nor
  // a serial one a host. They are refused when the page is left, not while a choice is made
  // (switching to TCP does not complain of the host not yet typed).
  if (IsNetwork()) {
    if (!strict) {
      CheckHostEdit(host_->text().toStdString(), tcp_host);
      CheckTcpPortEdit(tcpPort_->text().toStdString(), tcp_port);
      return true;
    }
    if (!ReadText(host_, CheckHostEdit, tcp_host)) return false;
    return ReadEdit(tcpPort_, CheckTcpPortEdit, tcp_port);
  }
  // The entry's own text is a choice from the list; anything else was typed.
  const int chosen = port_->currentIndex();
  if (chosen >= 0 && port_->currentText() == port_->itemText(chosen)) {
    com_port = chosen + 1;
    device_path.clear();
    return true;
  }
  if (port_->currentText().isEmpty() && chosen < 0) {
    com_port = 0;  // nothing chosen, as a stored port outside the list shows
    return true;
  }
  const std::string message = CheckPortText(port_->currentText().toStdString(), com_port, device_path);
  if (message.empty() || !strict) return true;
  ShowUnloggedBox(message, kBoxOk);
  port_->setFocus(Qt::OtherFocusReason);
  return false;
}

bool CSettings_connectionDlg2::OnKillActive() { return ReadBack(); }

bool CSettings_connectionDlg2::Matches(const ScannerSettings& s) const {
  return modbus_mode == s.modbus_mode && com_port == s.com_port && buad_rate == s.buad_rate &&
         data_bits == s.data_bits && stop_bits == s.stop_bits && parity == s.parity &&
         recv_time_out == s.recv_time_out && device_path == s.device_path && rs485 == s.rs485 &&
         tcp_host == s.tcp_host && tcp_port == s.tcp_port && turnaround_ms == s.turnaround_ms;
}

void CSettings_connectionDlg2::StoreIn(ScannerSettings& s) const {
  s.modbus_mode = modbus_mode;
  s.com_port = com_port;
  s.buad_rate = buad_rate;
  s.data_bits = data_bits;
  s.stop_bits = stop_bits;
  s.parity = parity;
  s.recv_time_out = recv_time_out;
  s.device_path = device_path;
  s.rs485 = rs485;
  s.tcp_host = tcp_host;
  s.tcp_port = tcp_port;
  s.turnaround_ms = turnaround_ms;
}

}  // namespace vantrel
