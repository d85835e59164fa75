#include "sheet/PropertyPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "diag/Diagnostics.h"

namespace vantrel {

CPropertyPage::CPropertyPage(int dialogId, QString caption, QWidget* parent)
    : QWidget(parent), dialogId_(dialogId), caption_(std::move(caption)) {}

void CPropertyPage::EnsureInitialised() {
  if (initialised_) return;
  initialised_ = true;  // first: setting controls up fires their change handlers
  OnInitDialog();
}

bool CPropertyPage::ReadEdit(QLineEdit* edit, std::string (*check)(const std::string&, int&), int& field) {
  const std::string message = check(edit->text().toStdString(), field);
  return message.empty() || Refuse(edit, message);
}

bool CPropertyPage::ReadText(QLineEdit* edit, std::string (*check)(const std::string&, std::string&),
                             std::string& field) {
  const std::string message = check(edit->text().toStdString(), field);
  return message.empty() || Refuse(edit, message);
}

bool CPropertyPage::Refuse(QLineEdit* edit, const std::string& message) {
  // The platform's own validation message: shown, not logged.
  ShowUnloggedBox(message, kBoxOk);
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
  return false;
}

void CPropertyPage::AddLabelledRows(QGridLayout* grid, std::initializer_list<std::pair<const char*, QWidget*>> rows) {
  // An empty grid still counts one row.
  int row = grid->count() == 0 ? 0 : grid->rowCount();
  for (const auto& [label, control] : rows) {
    auto* l = new QLabel(QString::fromLatin1(label));
    l->setBuddy(control);
    grid->addWidget(l, row, 0);
    grid->addWidget(control, row, 1);
    ++row;
  }
  grid->setColumnStretch(1, 1);
}

void CPropertyPage::ShowInEdit(QLineEdit* edit, int value) { ShowInEdit(edit, QString::number(value)); }

void CPropertyPage::ShowInEdit(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

}  // namespace vantrel
