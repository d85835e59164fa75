#include "app/FindDevicesDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>


#include "app/ScanDriver.h"
#include "modbus/ModbusMaster.h"
#include "sheet/PageRules.h"

namespace vantrel {
namespace {

constexpr int kSweepBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr char kSweepParities[] = {'N', 'E', 'O'};
constexpr int kSweepStopBits[] = {1, 2};
constexpr int kValueColumn = 3;  // "Value or reply"

QSpinBox* Spin(const char* name, int low, int high, int value) {
  auto* spin = new QSpinBox;
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(low, high);
  spin->setValue(value);
  return spin;
}

QString Duration(long long ms) {
  const long long s = (ms + 999) / 1000;
  return s >= 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'))
                 : QStringLiteral("%1 s").arg(s);
}

}  // namespace

CFindDevicesDlg::CFindDevicesDlg(ModbusMaster& master, bool network, std::string where, const LineSettings& line,
                                 QWidget* parent)
    : QDialog(parent), master_(master), network_(network), where_(std::move(where)) {
  setWindowTitle(QStringLiteral("Find devices"));
  setObjectName(QStringLiteral("findDevicesDialog"));
  driver_ = new ScanDriver(master_, this);
  driver_->progressed = [this] { ShowProgress(); };
  driver_->finished = [this] { Finished(); };

  firstId_ = Spin("firstIdSpin", 1, 247, 1);
  lastId_ = Spin("lastIdSpin", 1, 247, 247);
  function_ = new QComboBox;
  function_->setObjectName(QStringLiteral("scanFunctionCombo"));
  for (const char* text : kFunctionEntries) function_->addItem(QString::fromLatin1(text));
  function_->setCurrentIndex(2);  // 03: a holding register is what nearly every device has
  offset_ = Spin("scanOffsetSpin", 1, kMaxOffset, 1);
  length_ = Spin("scanLengthSpin", 1, 125, 1);
  timeout_ = Spin("scanTimeoutSpin", kMinScanTimeoutMs, kMaxScanTimeoutMs, 100);
  timeout_->setSuffix(QStringLiteral(" ms"));
  timeout_->setToolTip(QStringLiteral("How long each id is given to answer"));

  auto* ids = new QHBoxLayout;
  ids->addWidget(firstId_);
  ids->addWidget(new QLabel(QStringLiteral("to")));
  ids->addWidget(lastId_);
  ids->addStretch(1);
  auto* read = new QHBoxLayout;
  read->addWidget(function_, 1);
  read->addWidget(new QLabel(QStringLiteral("offset")));
  read->addWidget(offset_);
  read->addWidget(new QLabel(QStringLiteral("length")));
  read->addWidget(length_);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Slave ids"), ids);
  form->addRow(QStringLiteral("Request"), read);
  form->addRow(QStringLiteral("Time-out per id"), timeout_);
  identify_ = new QCheckBox(QStringLiteral("Ask each device found for its identification (function 43/14)"));
  identify_->setObjectName(QStringLiteral("identifyCheck"));
  identify_->setChecked(true);
  form->addRow(QString(), identify_);

  sweep_ = new QGroupBox(QStringLiteral("Sweep line settings: every combination for the whole id range"));
  sweep_->setObjectName(QStringLiteral("sweepGroup"));
  sweep_->setCheckable(true);
  sweep_->setChecked(false);
  sweep_->setEnabled(!network_);
  if (network_) sweep_->setToolTip(QStringLiteral("A TCP connection has no line settings to sweep"));
  auto* grid = new QGridLayout(sweep_);
  grid->addWidget(new QLabel(QStringLiteral("Baud rates")), 0, 0);
  int column = 1;
  for (int baud : kSweepBauds) {
    auto* check = new QCheckBox(QString::number(baud));
    check->setChecked(true);
    bauds_.push_back(check);
    grid->addWidget(check, 0, column++);
  }
  grid->addWidget(new QLabel(QStringLiteral("Parity")), 1, 0);
  column = 1;
  for (char parity : kSweepParities) {
    auto* check = new QCheckBox(QString::fromLatin1(parity == 'N' ? "None" : parity == 'E' ? "Even" : "Odd"));
    check->setChecked(parity == line.parity || parity == 'N' || parity == 'E');
    parities_.push_back(check);
    grid->addWidget(check, 1, column++);
  }
  grid->addWidget(new QLabel(QStringLiteral("Stop bits")), 2, 0);
  column = 1;
  for (int stop : kSweepStopBits) {
    auto* check = new QCheckBox(QString::number(stop));
    check->setChecked(stop == 1 || stop == line.stopBits);
    stopBits_.push_back(check);
    grid->addWidget(check, 2, column++);
  }

  start_ = new QPushButton(QStringLiteral("Start"));
  start_->setObjectName(QStringLiteral("scanStartButton"));
  start_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"));
  cancel_->setObjectName(QStringLiteral("scanCancelButton"));
  cancel_->setEnabled(false);
  auto* close = new QPushButton(QStringLiteral("Close"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(cancel_);
  buttons->addStretch(1);
  buttons->addWidget(close);

  progress_ = new QProgressBar;
  progress_->setObjectName(QStringLiteral("scanProgress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  status_ = new QLabel(QStringLiteral("Nothing scanned yet."));
  status_->setObjectName(QStringLiteral("scanStatus"));
  status_->setWordWrap(true);

  found_ = new QTableWidget(0, 5);
  found_->setObjectName(QStringLiteral("foundTable"));
  found_->setHorizontalHeaderLabels(
      {QStringLiteral("Slave id"), QStringLiteral("Line settings"), QStringLiteral("Found"),
       QStringLiteral("Value or reply"), QStringLiteral("Identification")});
  found_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  found_->setSelectionBehavior(QAbstractItemView::SelectRows);
  found_->verticalHeader()->hide();
  // One line a find, each column as wide as its texts (the identification whole, with a
  // scroll bar when the window is narrower); a row's tooltip has all of it.
  found_->setWordWrap(false);
  found_->horizontalHeader()->setStretchLastSection(false);
  found_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  found_->setToolTip(QStringLiteral("Double-click a device to take its id (and line settings) and poll it"));
  // A device found may be polled beside the polls there are, in a tab of its own.
  openAsPoll_ = new QPushButton(QStringLiteral("Open as a new poll"));
  openAsPoll_->setObjectName(QStringLiteral("openAsPollButton"));
  openAsPoll_->setToolTip(QStringLiteral("Poll the device selected in a tab of its own, beside the polls there are"));
  buttons->addWidget(openAsPoll_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(sweep_);
  layout->addLayout(buttons);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addWidget(found_, 1);
  resize(980, 560);

  connect(start_, &QPushButton::clicked, this, [this] { StartScan(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { CancelScan(); });
  connect(close, &QPushButton::clicked, this, [this] { reject(); });
  connect(found_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { ChooseRow(row); });
  connect(openAsPoll_, &QPushButton::clicked, this, [this] { ChooseRow(found_->currentRow(), true); });
}

CFindDevicesDlg::~CFindDevicesDlg() { driver_->Cancel(); }

ScanOptions CFindDevicesDlg::Options() const {
  ScanOptions o;
  o.firstId = firstId_->value();
  o.lastId = lastId_->value();
  o.function = function_->currentIndex() + 1;
  o.offset = offset_->value();
  o.length = length_->value();
  o.timeoutMs = timeout_->value();
  o.identify = identify_->isChecked();
  if (!network_ && sweep_->isChecked()) {
    std::vector<int> bauds, stops;
    std::string parities;
    for (std::size_t i = 0; i < bauds_.size(); ++i) {
      if (bauds_[i]->isChecked()) bauds.push_back(kSweepBauds[i]);
    }
    for (std::size_t i = 0; i < parities_.size(); ++i) {
      if (parities_[i]->isChecked()) parities += kSweepParities[i];
    }
    for (std::size_t i = 0; i < stopBits_.size(); ++i) {
      if (stopBits_[i]->isChecked()) stops.push_back(kSweepStopBits[i]);
    }
    o.lines = SweepLines(bauds, parities, stops, 8);
  }
  return o;
}

bool CFindDevicesDlg::Scanning() const { return driver_->Running(); }

const DeviceScan* CFindDevicesDlg::scan() const { return driver_->scan(); }

void CFindDevicesDlg::StartScan() {
  const ScanOptions o = Options();
  std::string why = CheckScanOptions(o);
  if (why.empty() && sweep_->isChecked() && !network_ && o.lines.empty()) {
    why = "Tick at least one baud rate, parity and number of stop bits to sweep.";
  }
  if (why.empty() && !master_.IsOpen()) why = "The connection is not open: check it on the Connection page.";
  if (!why.empty()) {
    status_->setText(QString::fromStdString(why));
    return;
  }
  found_->setRowCount(0);
  shown_ = 0;
  rowFinds_.clear();
  devicesShown_ = 0;
  start_->setEnabled(false);
  cancel_->setEnabled(true);
  progress_->setRange(0, DeviceScan(o).ProbesTotal());
  progress_->setValue(0);
  driver_->Start(o, setLine);
}

void CFindDevicesDlg::CancelScan() { driver_->Cancel(); }

void CFindDevicesDlg::reject() {
  // Closing ends a scan under way; the window's polling goes on.
  driver_->Cancel();
  QDialog::reject();
}

void CFindDevicesDlg::ShowProgress() {
  const DeviceScan* scan = driver_->scan();
  progress_->setValue(scan->ProbesDone());
  ShowFinds();
  if (scan->Done()) return;
  const DeviceScan::Step step = scan->Next();
  const std::string line = step.line >= 0 ? LineSettingsText(scan->options().lines[static_cast<std::size_t>(step.line)])
                                          : where_;
  status_->setText(QStringLiteral("Slave %1 at %2%3; found %4 so far; %5 left")
                       .arg(step.id)
                       .arg(QString::fromStdString(line))
                       .arg(step.identify ? QStringLiteral(", asking for its identification") : QString())
                       .arg(scan->DevicesFound())
                       .arg(Duration(scan->MsLeft(driver_->runner()->ElapsedMs()))));
}

void CFindDevicesDlg::ShowFinds() {
  const DeviceScan* scan = driver_->scan();
  // A find gets its row once its identification is in.
  const std::size_t complete = scan->finds().size() - (!scan->Done() && scan->Next().identify ? 1 : 0);
  for (; shown_ < complete; ++shown_) {
    const ScanFind& f = scan->finds()[shown_];
    // Devices first, in the order found; below them what is there but no device, which a
    // sweep finds at every wrong speed and would otherwise push the devices out of sight.
    const bool device = f.kind != FindKind::SomethingThere;
    const int row = device ? devicesShown_++ : found_->rowCount();
    found_->insertRow(row);
    rowFinds_.insert(rowFinds_.begin() + row, shown_);
    const std::string line = f.line >= 0 ? LineSettingsText(scan->options().lines[static_cast<std::size_t>(f.line)])
                                         : where_;
    const QString texts[] = {QString::number(f.id), QString::fromStdString(line),
                             QString::fromLatin1(FindKindText(f.kind)), QString::fromStdString(f.what),
                             QString::fromStdString(f.identified ? f.identification : std::string())};
    const QString details = QString::fromStdString(scan->FindDetails(f, line));
    for (int c = 0; c < 5; ++c) {
      auto* item = new QTableWidgetItem(texts[c]);
      item->setToolTip(details);
      // Something that is not a device is shown as such: greyed, never taken for one.
      if (!device) item->setForeground(QColor(0x80, 0x80, 0x80));
      found_->setItem(row, c, item);
    }
  }
  found_->resizeColumnsToContents();
  // The bytes of a broken reply can be long; the row's tooltip has them whole, and the
  // identification after them stays in view.
  const int widest = found_->fontMetrics().horizontalAdvance(QString(40, QLatin1Char('0')));
  if (found_->columnWidth(kValueColumn) > widest) found_->setColumnWidth(kValueColumn, widest);
}

void CFindDevicesDlg::Finished() {
  const DeviceScan* scan = driver_->scan();
  ShowFinds();
  start_->setEnabled(true);
  cancel_->setEnabled(false);
  const long long ms = driver_->runner()->ElapsedMs();
  QString text = QStringLiteral("%1: %2 %3 found in %4")
                     .arg(scan->ProbesDone() < scan->ProbesTotal() ? QStringLiteral("Stopped") : QStringLiteral("Done"))
                     .arg(scan->DevicesFound())
                     .arg(scan->DevicesFound() == 1 ? QStringLiteral("device") : QStringLiteral("devices"))
                     .arg(Duration(ms));
  if (!driver_->runner()->failure().empty()) text += QStringLiteral(". ") + QString::fromStdString(driver_->runner()->failure());
  status_->setText(text);
}

void CFindDevicesDlg::ChooseRow(int row, bool newPoll) {
  const DeviceScan* scan = driver_->scan();
  if (scan == nullptr || row < 0 || static_cast<std::size_t>(row) >= rowFinds_.size() || !chosen) return;
  const ScanFind& f = scan->finds()[rowFinds_[static_cast<std::size_t>(row)]];
  if (f.kind == FindKind::SomethingThere) {
    status_->setText(QStringLiteral("That row is no device: its reply did not check out. Try other line settings."));
    return;
  }
  driver_->Cancel();
  chosen(f.id, f.line >= 0 ? &scan->options().lines[static_cast<std::size_t>(f.line)] : nullptr, newPoll);
  accept();
}

}  // namespace vantrel
