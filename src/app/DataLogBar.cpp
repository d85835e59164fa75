#include "app/DataLogBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "diag/Diagnostics.h"
#include "settings/ScannerSettings.h"

namespace vantrel {

DataLogBar::DataLogBar(ScannerSettings& settings, QWidget* parent) : QWidget(parent), settings_(settings) {
  setObjectName(QStringLiteral("dataLogBar"));
  on_ = new QCheckBox(QStringLiteral("Data log"));
  on_->setObjectName(QStringLiteral("dataLogCheck"));
  on_->setToolTip(QStringLiteral("Append every good reply's values, with the time, to a CSV file"));
  path_ = new QLineEdit;
  path_->setObjectName(QStringLiteral("dataLogPathEdit"));
  path_->setReadOnly(true);
  path_->setPlaceholderText(QStringLiteral("no file chosen"));
  browse_ = new QPushButton(QStringLiteral("Browse"));
  browse_->setObjectName(QStringLiteral("dataLogBrowseButton"));
  with32Bit_ = new QCheckBox(QStringLiteral("32-bit values too"));
  with32Bit_->setObjectName(QStringLiteral("dataLog32BitCheck"));
  with32Bit_->setToolTip(QStringLiteral("Each pair of registers also as uint32, int32 and float32, in the table's word order"));

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(on_);
  row->addWidget(path_, 1);
  row->addWidget(browse_);
  row->addWidget(with32Bit_);

  connect(on_, &QCheckBox::toggled, this, [this](bool on) { SetOn(on); });
  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
  connect(with32Bit_, &QCheckBox::toggled, this, [this](bool on) {
    settings_.data_log_32bit = on ? 1 : 0;
    dataLog_.SetWith32Bit(on);
    settings_.Save();
  });
}

void DataLogBar::Load() {
  dataLog_.SetWith32Bit(settings_.data_log_32bit != 0);
  dataLog_.SetPath(settings_.data_log != 0 ? settings_.data_log_path : std::string());
  Show();
}

void DataLogBar::Show() {
  const QSignalBlocker quietOn(on_), quiet32(with32Bit_);
  on_->setChecked(!dataLog_.path().empty());
  with32Bit_->setChecked(dataLog_.with32Bit());
  path_->setText(QString::fromStdString(settings_.data_log_path));
}

void DataLogBar::SetOn(bool on) {
  if (on && settings_.data_log_path.empty()) Browse();
  on = on && !settings_.data_log_path.empty();
  if (on != (settings_.data_log != 0)) {
    settings_.data_log = on ? 1 : 0;
    settings_.Save();
    if (log) log(on ? "Data log on: " + settings_.data_log_path : "Data log off");
  }
  dataLog_.SetPath(on ? settings_.data_log_path : std::string());
  Show();
}

void DataLogBar::Browse() {
  const std::string path = chooseFile ? chooseFile(settings_.startup_path, "datalog.csv") : "";
  if (path.empty()) return;
  if (!StorableInSettings(path)) {
    ShowMessage("Error - The data log file name can not be used\n\nThe name chosen contains a line break or "
                "another control character, which the settings file can not keep.\n\n"
                "Choose a name without such characters and try again.");
    return;
  }
  settings_.data_log_path = path;
  settings_.Save();
  if (settings_.data_log != 0) {
    dataLog_.SetPath(path);
    if (log) log("Data log file: " + path);
  }
  Show();
}

void DataLogBar::Append(const ResponseTable& table, const std::string& poll) {
  errno = 0;
  const DataLogStatus status = dataLog_.Append(table, LocalIsoTime(std::chrono::system_clock::now()), poll);
  if (status != DataLogStatus::FirstFailure) return;
  const int error = errno;
  MessageAndLog(kBoxOk,
                "Error - Can not save to the data log\n\nThe file %s could not be written (%s).\n"
                "Polling goes on; the rows are written again as soon as the file can be written, and "
                "until then this is not shown again.",
                dataLog_.path().c_str(), error != 0 ? std::strerror(error) : "the disk may be full");
}

}  // namespace vantrel
