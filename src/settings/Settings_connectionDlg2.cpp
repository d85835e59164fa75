#include "settings/Settings_connectionDlg2.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "serial/PortMap.h"
#include "settings/PageRules.h"
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
      recv_time_out(s.recv_time_out) {
  setObjectName(QStringLiteral("connectionPage"));
  mode_ = MakeCombo("modeCombo");
  mode_->setEnabled(false);  // RTU is the one mode spoken; the value still travels
  port_ = MakeCombo("portCombo");
  port_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  port_->setMinimumContentsLength(22);
  baud_ = MakeCombo("baudCombo");
  dataBits_ = MakeCombo("dataBitsCombo");
  stopBits_ = MakeCombo("stopBitsCombo");
  parity_ = MakeCombo("parityCombo");
  timeout_ = new QLineEdit;
  timeout_->setObjectName(QStringLiteral("timeoutEdit"));

  auto* group = new QGroupBox(QStringLiteral("Serial Connection"));
  auto* grid = new QGridLayout(group);
  const std::pair<const char*, QWidget*> rows[] = {
      {"Mode", mode_},           {"Serial Port", port_}, {"Baud Rate", baud_},         {"Data Bits", dataBits_},
      {"Stop Bits", stopBits_}, {"Parity", parity_},    {"Timeout (Sec)", timeout_},
  };
  int row = 0;
  for (const auto& [label, control] : rows) {
    auto* l = new QLabel(QString::fromLatin1(label));
    l->setBuddy(control);
    grid->addWidget(l, row, 0);
    grid->addWidget(control, row, 1);
    ++row;
  }
  grid->setColumnStretch(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addStretch(1);

  for (QComboBox* combo : {mode_, port_, baud_, dataBits_, stopBits_, parity_}) {
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { OnChange(); });
  }
  connect(timeout_, &QLineEdit::textChanged, this, [this] { OnChange(); });
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
  baud_->setCurrentIndex(s.baud);
  dataBits_->setCurrentIndex(s.dataBits);
  stopBits_->setCurrentIndex(s.stopBits);
  parity_->setCurrentIndex(s.parity);
  timeout_seconds = TimeoutSecondsFor(recv_time_out);
  ShowInEdit(timeout_, timeout_seconds);
  loading_ = false;
  ReadBack();
}

void CSettings_connectionDlg2::OnChange() {
  if (!loading_ && IsInitialised()) ReadBack();
}

bool CSettings_connectionDlg2::ReadBack() {
  if (!ReadEdit(timeout_, CheckUnsignedEdit, timeout_seconds)) return false;
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
  com_port = v.com_port;
  buad_rate = v.buad_rate;
  data_bits = v.data_bits;
  stop_bits = v.stop_bits;
  parity = v.parity;
  return true;
}

bool CSettings_connectionDlg2::OnKillActive() { return ReadBack(); }

}  // namespace vantrel
