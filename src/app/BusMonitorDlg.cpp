#include "app/BusMonitorDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>

#include "app/LinkWatch.h"
#include "session/MonitorTexts.h"
#include "session/ValueNames.h"

namespace vantrel {

QVariant MonitorModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= list_.RowCount()) return {};
  if (role == Qt::DisplayRole) {
    return QString::fromStdString(MonitorRowTexts(list_.Row(index.row()))[static_cast<std::size_t>(index.column())]);
  }
  if (role == Qt::ForegroundRole && IsErrorEntry(list_.Row(index.row()))) return QColor(0xB0, 0x20, 0x20);
  if (role == Qt::TextAlignmentRole && (index.column() <= kColGap || index.column() == kColSlave || index.column() == kColTurnaround)) {
    return int(Qt::AlignRight | Qt::AlignVCenter);
  }
  return {};
}

QVariant MonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  return QString::fromLatin1(MonitorColumnTitle(section));
}

void MonitorModel::Apply(const MonitorListChange& change) {
  if (change.reset) return Reset();
  // The list has changed already: the view is told the counts it went through.
  const int now = list_.RowCount();
  const int before = now - change.appended + change.removedFront;
  if (change.removedFront > 0) {
    beginRemoveRows({}, 0, change.removedFront - 1);
    endRemoveRows();
  }
  if (change.appended > 0) {
    beginInsertRows({}, before - change.removedFront, now - 1);
    endInsertRows();
  }
  for (int row : change.changedRows) emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void MonitorModel::Reset() {
  beginResetModel();
  endResetModel();
}

namespace {

QComboBox* Choices(std::initializer_list<const char*> items, const char* current) {
  auto* box = new QComboBox;
  for (const char* item : items) box->addItem(QString::fromLatin1(item));
  box->setCurrentText(QString::fromLatin1(current));
  return box;
}

}  // namespace

CBusMonitorDlg::CBusMonitorDlg(const LineConnection& line, std::function<std::string()> mainDevice, QWidget* parent)
    : QDialog(parent), mainDevice_(std::move(mainDevice)), list_(kKeptFrames) {
  setObjectName(QStringLiteral("busMonitor"));
  setWindowTitle(QStringLiteral("Bus monitor"));
  setModal(false);
  resize(980, 640);

  device_ = new QLineEdit(QString::fromStdString(line.device));
  device_->setToolTip(QStringLiteral("A device path, or COMn as on the Connection page"));
  baud_ = Choices({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}, "9600");
  baud_->setEditable(true);
  baud_->setCurrentText(QString::number(line.baud));
  dataBits_ = Choices({"7", "8"}, line.dataBits == 7 ? "7" : "8");
  const char parity[2] = {static_cast<char>(std::toupper(static_cast<unsigned char>(line.parity))), 0};
  parity_ = Choices({"N", "E", "O", "M", "S"}, parity);
  stopBits_ = Choices({"1", "2"}, line.stopBits == 1 ? "1" : "2");
  mode_ = Choices({"RTU", "ASCII"}, line.mode == ModbusMode::Ascii ? "ASCII" : "RTU");
  auto* lineRow = new QHBoxLayout;
  const auto field = [lineRow](const char* label, QWidget* w) {
    lineRow->addWidget(new QLabel(QString::fromLatin1(label)));
    lineRow->addWidget(w);
  };
  field("Device", device_);
  field("Baud", baud_);
  field("Data bits", dataBits_);
  field("Parity", parity_);
  field("Stop bits", stopBits_);
  field("Mode", mode_);

  start_ = new QPushButton(QStringLiteral("Start listening"));
  stop_ = new QPushButton(QStringLiteral("Stop"));
  pause_ = new QPushButton(QStringLiteral("Pause"));
  pause_->setCheckable(true);
  clear_ = new QPushButton(QStringLiteral("Clear"));
  save_ = new QPushButton(QStringLiteral("Save as CSV or pcap..."));
  connect(start_, &QPushButton::clicked, this, [this] { StartListening(); });
  connect(stop_, &QPushButton::clicked, this, [this] { StopListening(); });
  connect(pause_, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
  connect(clear_, &QPushButton::clicked, this, [this] { ClearList(); });
  connect(save_, &QPushButton::clicked, this, [this] {
    const std::string path = chooseSaveFile ? chooseSaveFile() : std::string();
    if (!path.empty()) SaveTo(path);
  });
  chooseSaveFile = [this] {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save the frames"), {},
                                        QStringLiteral("CSV (*.csv);;Capture for Wireshark (*.pcap)"))
        .toStdString();
  };
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {start_, stop_, pause_, clear_, save_}) buttons->addWidget(b);
  buttons->addStretch();

  slaveFilter_ = new QSpinBox;
  slaveFilter_->setRange(-1, 247);
  slaveFilter_->setSpecialValueText(QStringLiteral("All"));
  slaveFilter_->setValue(-1);
  functionFilter_ = new QSpinBox;
  functionFilter_->setRange(-1, 127);
  functionFilter_->setDisplayIntegerBase(16);
  functionFilter_->setPrefix(QStringLiteral("0x"));
  functionFilter_->setSpecialValueText(QStringLiteral("All"));
  functionFilter_->setValue(-1);
  errorsOnly_ = new QCheckBox(QStringLiteral("Errors only (exceptions, CRC errors, noise, unanswered)"));
  connect(slaveFilter_, &QSpinBox::valueChanged, this, [this] { ApplyFilter(); });
  connect(functionFilter_, &QSpinBox::valueChanged, this, [this] { ApplyFilter(); });
  connect(errorsOnly_, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
  auto* filters = new QHBoxLayout;
  filters->addWidget(new QLabel(QStringLiteral("Slave id")));
  filters->addWidget(slaveFilter_);
  filters->addWidget(new QLabel(QStringLiteral("Function")));
  filters->addWidget(functionFilter_);
  filters->addWidget(errorsOnly_);
  filters->addStretch();

  model_ = new MonitorModel(list_, this);
  view_ = new QTableView;
  view_->setObjectName(QStringLiteral("monitorList"));
  view_->setModel(model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
  view_->horizontalHeader()->setStretchLastSection(false);
  view_->horizontalHeader()->setSectionResizeMode(kColSummary, QHeaderView::Stretch);
  const int widths[kColumnCount] = {75, 65, 150, 45, 200, 0, 115};
  for (int c = 0; c < kColumnCount; ++c) {
    if (widths[c]) view_->setColumnWidth(c, widths[c]);
  }
  connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowDetails(); });

  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  details_ = new QPlainTextEdit;
  details_->setReadOnly(true);
  details_->setFont(fixed);
  details_->setLineWrapMode(QPlainTextEdit::NoWrap);
  details_->setPlaceholderText(QStringLiteral("The frame selected: its hex and decoded fields"));
  figures_ = new QPlainTextEdit;
  figures_->setReadOnly(true);
  figures_->setFont(fixed);
  figures_->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* panes = new QSplitter(Qt::Horizontal);
  panes->addWidget(details_);
  panes->addWidget(figures_);
  auto* split = new QSplitter(Qt::Vertical);
  split->addWidget(view_);
  split->addWidget(panes);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);

  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("monitorStatus"));
  status_->setWordWrap(true);
  count_ = new QLabel;
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(count_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(lineRow);
  layout->addLayout(buttons);
  layout->addLayout(filters);
  layout->addWidget(split, 1);
  layout->addLayout(bottom);

  watch_ = new LinkWatch([this] { OnReadable(); }, this);
  tick_ = new QTimer(this);
  tick_->setInterval(50);
  connect(tick_, &QTimer::timeout, this, [this] { OnTick(); });
  SetStatus(QStringLiteral("Not listening. The list keeps the last %1 frames; a saved file gets every frame.").arg(kKeptFrames),
            false);
  UpdateButtons();
}

CBusMonitorDlg::~CBusMonitorDlg() { StopListening(); }

void CBusMonitorDlg::SetStatus(const QString& text, bool error) {
  status_->setText(text);
  status_->setStyleSheet(error ? QStringLiteral("color: #b02020;") : QString());
}

void CBusMonitorDlg::UpdateButtons() {
  const bool on = Listening();
  start_->setEnabled(!on);
  stop_->setEnabled(on);
  for (QWidget* w : std::initializer_list<QWidget*>{device_, baud_, dataBits_, parity_, stopBits_, mode_}) w->setEnabled(!on);
  count_->setText(QStringLiteral("%1 frames kept, %2 shown").arg(list_.entries().size()).arg(list_.RowCount()));
}

bool CBusMonitorDlg::StartListening() {
  if (Listening()) return true;
  const std::string text = device_->text().trimmed().toStdString();
  const std::string device = MonitorDevicePath(text);
  if (device.empty()) {
    SetStatus(QStringLiteral("%1 is no serial port present.").arg(QString::fromStdString(text)), true);
    return false;
  }
  const std::string mine = mainDevice_ ? mainDevice_() : std::string();
  if (!mine.empty() && MonitorDevicePath(mine) == device) {
    SetStatus(QStringLiteral("%1 is the line the main window has open: the monitor listens on another port "
                             "wired to the same bus.")
                  .arg(QString::fromStdString(text)),
              true);
    return false;
  }
  const int baud = baud_->currentText().toInt();
  const char parity = parity_->currentText().toLatin1().at(0);
  const int dataBits = dataBits_->currentText().toInt();
  const int stopBits = stopBits_->currentText().toInt();
  if (baud <= 0) {
    SetStatus(QStringLiteral("The baud rate must be a number above 0."), true);
    return false;
  }
  port_.SetListenOnly(true);
  if (!port_.OpenDevice(device, baud, parity, dataBits, stopBits)) {
    SetStatus(QStringLiteral("%1 cannot be opened: %2.").arg(QString::fromStdString(text), QString::fromLocal8Bit(std::strerror(port_.LastError()))),
              true);
    return false;
  }
  MonitorOptions options;
  options.mode = mode_->currentText() == QStringLiteral("ASCII") ? ModbusMode::Ascii : ModbusMode::Rtu;
  options.baudRate = baud;
  options.bitsPerChar = BitsPerChar(dataBits, parity, stopBits);
  monitor_ = std::make_unique<BusMonitor>(options);
  list_ = MonitorList(kKeptFrames, options.replyWindowMs);
  list_.SetFilter({slaveFilter_->value(), functionFilter_->value(), errorsOnly_->isChecked()});
  held_.clear();
  model_->Reset();
  details_->clear();
  clock_.start();
  originEpochMs_ = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
  watch_->Watch(true, port_.Handle());
  tick_->start();
  setWindowTitle(QStringLiteral("Bus monitor - %1").arg(QString::fromStdString(text)));
  SetStatus(QStringLiteral("Listening on %1 (%2), nothing is sent. The list keeps the last %3 frames.")
                .arg(QString::fromStdString(text), QString::fromLatin1(ModeName(options.mode)))
                .arg(kKeptFrames),
            false);
  ShowFigures();
  UpdateButtons();
  return true;
}

void CBusMonitorDlg::StopListening() {
  if (!Listening()) return;
  tick_->stop();
  watch_->Stop();
  std::vector<MonitorFrame> frames;
  OnReadable();
  monitor_->Finish(NowMs(), frames);
  Take(frames);
  port_.Close();
  QString text = QStringLiteral("Stopped.");
  if (saveFile_.IsOpen()) {
    text += QStringLiteral(" %1 frames saved to %2.").arg(saveFile_.Written()).arg(QString::fromStdString(saveFile_.path()));
    saveFile_.Close();
  }
  SetStatus(text, false);
  UpdateButtons();
}

void CBusMonitorDlg::OnReadable() {
  if (!Listening()) return;
  std::vector<MonitorFrame> frames;
  std::uint8_t buffer[4096];
  for (;;) {
    const int n = port_.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    monitor_->Feed(buffer, static_cast<std::size_t>(n), NowMs(), frames);
  }
  Take(frames);
  if (port_.DeviceLost() && watch_->Active()) {
    StopListening();
    SetStatus(QStringLiteral("%1 went away.").arg(QString::fromStdString(port_.Device())), true);
  }
}

void CBusMonitorDlg::OnTick() {
  if (!Listening()) return;
  std::vector<MonitorFrame> frames;
  monitor_->Tick(NowMs(), frames);
  Take(frames);
  if (!paused_) model_->Apply(list_.Expire(NowMs()));
  ShowFigures();  // a request found unanswered changes them with no frame
}

void CBusMonitorDlg::Take(std::vector<MonitorFrame>& frames) {
  if (frames.empty()) return;
  for (const MonitorFrame& f : frames) saveFile_.Write(f);
  if (paused_) {
    held_.insert(held_.end(), frames.begin(), frames.end());
    while (held_.size() > kKeptFrames) held_.pop_front();
  } else {
    model_->Apply(list_.Add(frames));
  }
  ShowFigures();
  UpdateButtons();
}

void CBusMonitorDlg::SetPaused(bool paused) {
  if (pause_->isChecked() != paused) pause_->setChecked(paused);  // comes back here
  if (paused == paused_) return;
  paused_ = paused;
  if (!paused) {
    list_.Add({held_.begin(), held_.end()});
    held_.clear();
    model_->Reset();
    UpdateButtons();
  }
}

void CBusMonitorDlg::ClearList() {
  list_.Clear();
  held_.clear();
  model_->Reset();
  details_->clear();
  UpdateButtons();
}

bool CBusMonitorDlg::SaveTo(const std::string& path) {
  std::string error;
  if (!saveFile_.Open(path, MonitorSaveFile::FormatOf(path), originEpochMs_, error)) {
    SetStatus(QStringLiteral("%1: %2").arg(QString::fromStdString(path), QString::fromStdString(error)), true);
    return false;
  }
  for (const MonitorEntry& e : list_.entries()) saveFile_.Write(e.frame);
  for (const MonitorFrame& f : held_) saveFile_.Write(f);
  if (Listening()) {
    SetStatus(QStringLiteral("Saving to %1 until Stop.").arg(QString::fromStdString(path)), false);
  } else {
    SetStatus(QStringLiteral("%1 frames saved to %2.").arg(saveFile_.Written()).arg(QString::fromStdString(path)), false);
    saveFile_.Close();
  }
  return true;
}

void CBusMonitorDlg::ApplyFilter() {
  model_->Apply(list_.SetFilter({slaveFilter_->value(), functionFilter_->value(), errorsOnly_->isChecked()}));
  details_->clear();
  UpdateButtons();
}

void CBusMonitorDlg::ShowDetails() {
  const int row = view_->currentIndex().row();
  details_->setPlainText(row >= 0 && row < list_.RowCount() ? QString::fromStdString(MonitorDetailsText(list_.Row(row)))
                                                            : QString());
}

void CBusMonitorDlg::ShowFigures() {
  if (!monitor_) return;
  const QString text = QString::fromStdString(FiguresTable(monitor_->Figures()));
  if (text != figures_->toPlainText()) figures_->setPlainText(text);  // the pane keeps its scroll between changes
}

}  // namespace vantrel
