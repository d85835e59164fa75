#include "app/LogBox.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace vantrel {

LogBox::LogBox(int maxEntries, QWidget* parent) : QPlainTextEdit(parent), maxEntries_(maxEntries) {
  setObjectName(QStringLiteral("logEdit"));
  setUndoRedoEnabled(false);  // the log grows for days: keep no undo history
  // Read-only: the box is the program's record, so the entries it trims are always its own
  // (typed text was never kept anyway), and Enter is left to Close. Select and copy stay.
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setMinimumHeight(110);
}

void LogBox::Prepend(const std::string& entry) {
  QTextDocument* doc = document();
  QTextCursor top(doc);
  top.movePosition(QTextCursor::Start);
  top.insertText(QString::fromLocal8Bit(entry.c_str()) + QLatin1Char('\n'));
  entryLines_.push_front(static_cast<int>(std::count(entry.begin(), entry.end(), '\n')) + 1);
  while (static_cast<int>(entryLines_.size()) > maxEntries_) {
    const QTextBlock first = doc->findBlockByNumber(doc->blockCount() - 1 - entryLines_.back());
    QTextCursor old(doc);
    old.setPosition(first.position());
    old.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    old.removeSelectedText();
    entryLines_.pop_back();
  }
  verticalScrollBar()->setValue(0);
}

void LogBox::Clear() {
  clear();
  entryLines_.clear();
}

}  // namespace vantrel
