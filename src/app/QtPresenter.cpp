#include "app/QtPresenter.h"

#include <QApplication>
#include <QMessageBox>

namespace vantrel {

int QtPresenter::Present(const std::string& text, int type) {
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(QStringLiteral("Vantrel Modbus Scanner"));
  box.setText(QString::fromLocal8Bit(text.c_str()));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if (type == kBoxYesNo) {
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  } else {
    box.setIcon(type == kBoxStop ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return IDOK;
  }
}

}  // namespace vantrel
