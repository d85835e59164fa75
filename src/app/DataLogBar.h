// The data log's row in the main window: on or off, the file (chosen with Browse), and
// whether each row also holds the 32-bit values. A thin view over DataLog; the choices are
// kept in settings.ini.
#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "session/DataLog.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace vantrel {

class ScannerSettings;

class DataLogBar : public QWidget {
  Q_OBJECT

 public:
  explicit DataLogBar(ScannerSettings& settings, QWidget* parent = nullptr);

  // Takes the settings' choices (after they are loaded).
  void Load();
  // Appends the row of a good reply's table (of the poll named, with several on the line)
  // when the log is on; a file that cannot be written is explained once, until a row gets
  // through again.
  void Append(const ResponseTable& table, const std::string& poll = "");
  // Switching on without a file asks for one first; no file chosen leaves the log off.
  void SetOn(bool on);
  // Asks for the file and, when one is chosen, keeps it.
  void Browse();

  // Asks for the file: folder and proposed name in, chosen path out ("" when cancelled).
  std::function<std::string(const std::string& folder, const std::string& name)> chooseFile;
  // An activity-log line about the data log.
  std::function<void(const std::string& line)> log;

  const DataLog& dataLog() const { return dataLog_; }
  QCheckBox* onCheck() const { return on_; }
  QCheckBox* with32BitCheck() const { return with32Bit_; }
  QLineEdit* pathEdit() const { return path_; }

 private:
  void Show();

  ScannerSettings& settings_;
  DataLog dataLog_;
  QCheckBox* on_;
  QLineEdit* path_;
  QPushButton* browse_;
  QCheckBox* with32Bit_;
};

}  // namespace vantrel
