#include "sheet/Settings_aboutDlg.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>

#include "Artwork.h"
#include "web/Product.h"
#include "web/WebServices.h"

namespace vantrel {
namespace {

constexpr char kLastUpdated[] = "Jul 03 2007";

// The site's host, as the button's label: "www.vantrel.example".
QString SiteName() {
  std::string root = VendorRootUrl();
  if (const auto scheme = root.find("://"); scheme != std::string::npos) root.erase(0, scheme + 3);
  while (!root.empty() && root.back() == '/') root.pop_back();
  return QString::fromStdString(root);
}

}  // namespace

std::string AboutVersionText() {
  char text[160];
  std::snprintf(text, sizeof text, "%s %s%c%c\r\nLast Updated %s", kProductName, kVersion, 'b', 'D',
                kLastUpdated);
  return text;
}

CSettings_aboutDlg::CSettings_aboutDlg(QWidget* parent)
    : CPropertyPage(kDialogId, QStringLiteral("About"), parent) {
  setObjectName(QStringLiteral("aboutPage"));
  InitArtwork();
  auto* picture = new QLabel;
  picture->setObjectName(QStringLiteral("aboutPicture"));
  picture->setAlignment(Qt::AlignCenter);
  picture->setPixmap(QPixmap(QStringLiteral(":/about.png")));

  webSite_ = new QPushButton(SiteName());
  webSite_->setObjectName(QStringLiteral("webSiteButton"));
  webSite_->setCursor(Qt::PointingHandCursor);

  versionEdit_ = new QPlainTextEdit;
  versionEdit_->setObjectName(QStringLiteral("versionEdit"));
  versionEdit_->setReadOnly(true);
  versionEdit_->setFixedHeight(versionEdit_->fontMetrics().lineSpacing() * 3 + 8);
  auto* group = new QGroupBox(QStringLiteral("Version info"));
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(versionEdit_);

  auto* buttonRow = new QHBoxLayout;
  buttonRow->addStretch();
  buttonRow->addWidget(webSite_);
  buttonRow->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picture);
  layout->addLayout(buttonRow);
  layout->addWidget(group);
  layout->addStretch();

  connect(webSite_, &QPushButton::clicked, this, [this] { OnWebSite(); });
}

void CSettings_aboutDlg::OnInitDialog() {
  version_text = AboutVersionText();
  // The edit shows lines, not carriage returns.
  QString shown = QString::fromStdString(version_text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  versionEdit_->setPlainText(shown);
}

void CSettings_aboutDlg::OnWebSite() { Referral(kProductName, VersionText()); }

}  // namespace vantrel
