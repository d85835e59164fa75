#include "sheet/Settings_PollFrequencyDlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "session/Summaries.h"
#include "sheet/PageRules.h"
#include "settings/ScannerSettings.h"

namespace vantrel {

CSettings_PollFrequencyDlg::CSettings_PollFrequencyDlg(const ScannerSettings& s, QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("Polling frequency"), parent),
      poll_period_ms(s.PollPeriodMs()),
      keep_polling_on_failure(s.keep_polling_on_failure) {
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

  // Polling once always stops at a failure: there is nothing to go on with.
  auto* failure = new QGroupBox(QStringLiteral("On a failure while polling at a frequency"));
  stopOnFailure_ = new QRadioButton(QString::fromLatin1(kFailureEntries[0]));
  stopOnFailure_->setObjectName(QStringLiteral("stopOnFailureRadio"));
  stopOnFailure_->setToolTip(QStringLiteral("A box explains the failure and polling falls back to once"));
  keepPolling_ = new QRadioButton(QString::fromLatin1(kFailureEntries[1]));
  keepPolling_->setObjectName(QStringLiteral("keepPollingRadio"));
  keepPolling_->setToolTip(
      QStringLiteral("No box: the failure goes to the activity log and the counters under the table"));
  auto* failureLayout = new QVBoxLayout(failure);
  failureLayout->addWidget(stopOnFailure_);
  failureLayout->addWidget(keepPolling_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(failure);
  layout->addStretch(1);

  connect(combo_, &QComboBox::currentIndexChanged, this, [this] {
    if (!loading_ && IsInitialised()) ReadBack();
  });
  connect(keepPolling_, &QRadioButton::toggled, this, [this](bool on) { keep_polling_on_failure = on ? 1 : 0; });
}

void CSettings_PollFrequencyDlg::OnInitDialog() {
  loading_ = true;
  for (const PollEntry& e : kPollEntries) combo_->addItem(QString::fromLatin1(e.text));
  combo_->addItem(QString::fromLatin1(kCustomPollText));
  combo_->setCurrentIndex(PollEntryFor(poll_period_ms));
  ShowInEdit(edit_, QString::fromStdString(SecondsText(poll_period_ms)));
  (keep_polling_on_failure != 0 ? keepPolling_ : stopOnFailure_)->setChecked(true);
  loading_ = false;
  ReadBack();
}

bool CSettings_PollFrequencyDlg::ReadBack() {
  int typed = poll_period_ms;
  if (!ReadEdit(edit_, CheckPollEdit, typed)) return false;
  const PollReadBack r = ReadPoll(combo_->currentIndex(), typed);
  poll_period_ms = r.poll_period_ms;
  edit_->setEnabled(r.editEnabled);
  ShowInEdit(edit_, QString::fromStdString(SecondsText(poll_period_ms)));
  return true;
}

bool CSettings_PollFrequencyDlg::OnKillActive() { return ReadBack(); }

}  // namespace vantrel
