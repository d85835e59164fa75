#include "app/ScannerApp.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>
#include <QUrl>

#include "app/MainDlg.h"
#include "app/QtPresenter.h"
#include "diag/Diagnostics.h"
#include "session/Line.h"
#include "settings/ScannerSettings.h"
#include "web/Tattler.h"
#include "web/WebCall.h"
#include "web/WebServices.h"

namespace vantrel {
namespace {
// The program's one line (its links and its master), built before the window as the settings
// and the usage store are.
Line g_line;
// The save-file dialog, proposing name in folder; a name typed without a suffix gets the
// proposed name's. A file to be replaced asks first; one that is appended to does not.
std::string SaveFileName(QWidget* parent, const std::string& folder, const std::string& name, bool replaced) {
  const QString proposed = QString::fromStdString(folder + "/" + name);
  const QString suffix = QFileInfo(proposed).suffix();
  QString path = QFileDialog::getSaveFileName(
      parent, QString(), proposed, suffix.toUpper() + QStringLiteral(" files (*.") + suffix + QStringLiteral(");;All files (*)"),
      nullptr, replaced ? QFileDialog::Options() : QFileDialog::DontConfirmOverwrite);
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += QLatin1Char('.') + suffix;
  return path.toStdString();
}

}  // namespace

CScannerApp::CScannerApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Vantrel Modbus Scanner"));
  const QStringList args = arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (!args[i].startsWith(QLatin1Char('-'))) {
      workspacePath = QFileInfo(args[i]).absoluteFilePath().toStdString();
      break;
    }
  }
}

int CScannerApp::InitInstance() {
  QtPresenter presenter;
  SetMessagePresenter(&presenter);
  // A web call's wait: window events for up to 5 ms at a time, sleeping when there are none.
  SetPumpFunction([] {
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  });
  SetBrowserOpener([](const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
  });
  {
    CMainDlg dlg(scannerSettings, g_line, TheTattler());
    dlg.chooseLogFile = [&dlg](const std::string& folder, const std::string& name) {
      return SaveFileName(&dlg, folder, name, false);  // a log is appended to, never replaced
    };
    dlg.chooseExportFile = [&dlg](const std::string& folder, const std::string& name) {
      return SaveFileName(&dlg, folder, name, true);
    };
    dlg.chooseWorkspace = [&dlg](const std::string& folder, bool save) {
      if (save) return SaveFileName(&dlg, folder, "workspace.vantrel.json", true);
      return QFileDialog::getOpenFileName(&dlg, QString(), QString::fromStdString(folder),
                                          QStringLiteral("Workspaces (*.vantrel.json *.json);;All files (*)"))
          .toStdString();
    };
    dlg.askText = [&dlg](const std::string& question, const std::string& proposed) {
      return QInputDialog::getText(&dlg, QStringLiteral("Vantrel Modbus Scanner"), QString::fromStdString(question),
                                   QLineEdit::Normal, QString::fromStdString(proposed))
          .toStdString();
    };
    dlg.workspaceAtStartUp = workspacePath;
    dlg.exec();  // the result is of no interest: the program ends either way
  }
  SetBrowserOpener(nullptr);
  SetPumpFunction(nullptr);
  SetMessagePresenter(nullptr);
  return 0;
}

}  // namespace vantrel
