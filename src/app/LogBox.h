// The activity log's box: the newest entry on top, and a bounded number of entries kept, so
// that an entry costs the same after a week of polling as after a minute (the log file
// keeps them all). Read-only: select and copy as usual; Enter is left to the window.
#pragma once

#include <QPlainTextEdit>

#include <deque>
#include <string>

namespace vantrel {

class LogBox : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit LogBox(int maxEntries, QWidget* parent = nullptr);
  // Puts an entry (its lines separated by '\n') on top, and lets the oldest go.
  void Prepend(const std::string& entry);
  void Clear();

 private:
  int maxEntries_;
  std::deque<int> entryLines_;  // lines of each entry on screen, newest first
};

}  // namespace vantrel
