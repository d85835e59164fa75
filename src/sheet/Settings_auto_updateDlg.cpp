#include "sheet/Settings_auto_updateDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

#include "diag/Diagnostics.h"
#include "settings/ScannerSettings.h"
#include "web/Product.h"
#include "web/WebServices.h"

namespace vantrel {

std::string CompileNotes() {
  char notes[96];
  std::snprintf(notes, sizeof notes, "Last Compile date: %s %s", __DATE__, __TIME__);
  return notes;
}

CSettings_auto_updateDlg::CSettings_auto_updateDlg(const ScannerSettings& settings, QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("Auto Update"), parent),
      auto_check(settings.check_for_updates ? 1 : 0),
      settings_(settings) {
  setObjectName(QStringLiteral("autoUpdatePage"));
  check_ = new QPushButton(QStringLiteral("Check for updates"));
  check_->setObjectName(QStringLiteral("checkForUpdatesButton"));
  autoCheck_ = new QCheckBox(QStringLiteral("Automatically check for updates on start."));
  autoCheck_->setObjectName(QStringLiteral("autoCheckBox"));

  auto* buttonRow = new QHBoxLayout;
  buttonRow->addWidget(check_);
  buttonRow->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttonRow);
  layout->addWidget(autoCheck_);
  layout->addStretch();

  connect(check_, &QPushButton::clicked, this, [this] { OnCheckForUpdates(); });
  connect(autoCheck_, &QCheckBox::toggled, this, [this](bool on) { auto_check = on ? 1 : 0; });
}

void CSettings_auto_updateDlg::OnInitDialog() {
  auto_check = settings_.check_for_updates ? 1 : 0;
  autoCheck_->setChecked(auto_check != 0);
}

bool CSettings_auto_updateDlg::OnKillActive() {
  auto_check = autoCheck_->isChecked() ? 1 : 0;
  return true;
}

void CSettings_auto_updateDlg::OnCheckForUpdates() {
  const std::string version = VersionText();
  const std::string notes = CompileNotes();
  check_->setText(QStringLiteral("Please wait..."));
  const int code = CheckVersion(kProductName, version, notes);
  if (code == 0) {
    ShowMessage("No update available");
  } else if (code < 0) {
    ShowMessage(
        "There was an error while attempting to check for a new version. \nPlease try again "
        "later. Error Code: %d",
        code);
  } else if (MessageAndLog(kBoxYesNo, "There is a newer version, would you like to download it") ==
             IDYES) {
    OpenInBrowser(VendorUrl("/files/resources/Installer_Vantrel Modbus Scanner.exe"));
  }
  check_->setText(QStringLiteral("Check for updates"));
}

}  // namespace vantrel
