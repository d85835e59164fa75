// vantrel-modbus-scanner: the desktop program.
#include <QApplication>
#include <QFileDialog>

#include "app/MainDlg.h"
#include "app/QtPresenter.h"
#include "modbus/ModbusMaster.h"
#include "settings/ScannerSettings.h"
#include "web/Tattler.h"

namespace {
// Built before the window, as the program's one master and usage store.
vantrel::ModbusMaster g_master;
vantrel::Tattler g_tattler;
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vantrel Modbus Scanner"));
  vantrel::QtPresenter presenter;
  vantrel::SetMessagePresenter(&presenter);

  vantrel::CMainDlg dlg(vantrel::scannerSettings, g_master, g_tattler);
  dlg.chooseLogFile = [&dlg](const std::string& folder, const std::string& name) {
    QString path = QFileDialog::getSaveFileName(
        &dlg, QString(), QString::fromStdString(folder + "/" + name), QString(), nullptr,
        QFileDialog::DontConfirmOverwrite);  // the log is appended to, never replaced
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".txt");
    return path.toStdString();
  };
  dlg.exec();
  vantrel::SetMessagePresenter(nullptr);
  return 0;
}
