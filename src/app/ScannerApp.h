// CScannerApp: the application object. Runs the main window and ends with it.
#pragma once

#include <QApplication>

namespace vantrel {

class CScannerApp : public QApplication {
 public:
  CScannerApp(int& argc, char** argv);
  // Runs CMainDlg modally; the program ends when it closes.
  int InitInstance();
};

}  // namespace vantrel
