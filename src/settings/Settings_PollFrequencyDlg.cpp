#include "settings/Settings_PollFrequencyDlg.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "settings/PageRules.h"
#include "settings/ScannerSettings.h"

namespace vantrel {

CSettings_PollFrequencyDlg::CSettings_PollFrequencyDlg(const ScannerSettings& s, QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("Polling frequency"), parent), poll_frequency(s.poll_frequency) {
  setObjectName(QStringLiteral("pollFrequencyPage"));
  combo_ = new QComboBox;
  combo_->setObjectName(QStringLiteral("pollCombo"));
  edit_ = new QLineEdit;
  edit_->setObjectName(QStringLiteral("pollEdit"));
  edit_->setMaximumWidth(edit_->fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));

  auto* label = new QLabel(QStringLiteral("Poll frequency "));
  label->setBuddy(combo_);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(combo_, 1);
  row->addWidget(edit_);
  row->addWidget(new QLabel(QStringLiteral("seconds")));
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addStretch(1);

  connect(combo_, &QComboBox::currentIndexChanged, this, [this] {
    if (!loading_ && IsInitialised()) ReadBack();
  });
}

void CSettings_PollFrequencyDlg::OnInitDialog() {
  loading_ = true;
  for (const PollEntry& e : kPollEntries) combo_->addItem(QString::fromLatin1(e.text));
  combo_->addItem(QString::fromLatin1(kCustomPollText));
  combo_->setCurrentIndex(PollEntryFor(poll_frequency));
  ShowInEdit(edit_, poll_frequency);
  loading_ = false;
  ReadBack();
}

bool CSettings_PollFrequencyDlg::ReadBack() {
  int typed = poll_frequency;
  if (!ReadEdit(edit_, CheckPollEdit, typed)) return false;
  const PollReadBack r = ReadPoll(combo_->currentIndex(), typed);
  poll_frequency = r.poll_frequency;
  edit_->setEnabled(r.editEnabled);
  ShowInEdit(edit_, poll_frequency);
  return true;
}

bool CSettings_PollFrequencyDlg::OnKillActive() { return ReadBack(); }

}  // namespace vantrel
