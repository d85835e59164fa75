#include "app/TrafficDlg.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel {

CTrafficDlg::CTrafficDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("traffic"));
  setWindowTitle(QStringLiteral("Traffic"));
  setModal(false);
  resize(820, 420);
  text_ = new QPlainTextEdit;
  text_->setReadOnly(true);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setMaximumBlockCount(static_cast<int>(kKeptLines));  // the window keeps what the log does
  auto* clear = new QPushButton(QStringLiteral("Clear"));
  connect(clear, &QPushButton::clicked, this, [this] { ClearLines(); });
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(new QLabel(QStringLiteral("ms since this window opened; \"in\" shows the time since the request went. "
                                              "The last %1 lines are kept.")
                                   .arg(kKeptLines)),
                    1);
  bottom->addWidget(clear);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_, 1);
  layout->addLayout(bottom);
  clock_.start();
}

void CTrafficDlg::AddBytes(bool sent, const std::uint8_t* bytes, int size, bool ascii) {
  Show(log_.AddBytes(clock_.nsecsElapsed() / 1e6, sent, bytes, size, ascii));
}

void CTrafficDlg::AddNote(const std::string& text) { Show(log_.AddNote(clock_.nsecsElapsed() / 1e6, text)); }

void CTrafficDlg::Show(const TrafficEntry& entry) { text_->appendPlainText(QString::fromStdString(TrafficLine(entry))); }

void CTrafficDlg::ClearLines() {
  log_.Clear();
  text_->clear();
}

}  // namespace vantrel
