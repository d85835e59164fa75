// "Traffic": the main window's own exchanges as they go over its link, bytes out and in with
// their times (ms since the window opened), the noise, other exchanges' frames and late
// replies the master read and skipped, and its notes on them. Non-modal; one at a time.
#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include <cstdint>
#include <string>

#include "session/TrafficLog.h"

class QPlainTextEdit;

namespace vantrel {

class CTrafficDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr std::size_t kKeptLines = 5000;

  explicit CTrafficDlg(QWidget* parent = nullptr);
  void AddBytes(bool sent, const std::uint8_t* bytes, int size, bool ascii);
  void AddNote(const std::string& text);
  void ClearLines();
  const TrafficLog& log() const { return log_; }
  QPlainTextEdit* lines() const { return text_; }

 private:
  void Show(const TrafficEntry& entry);

  TrafficLog log_{kKeptLines};
  QElapsedTimer clock_;
  QPlainTextEdit* text_ = nullptr;
};

}  // namespace vantrel
