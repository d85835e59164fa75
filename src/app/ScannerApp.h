// CScannerApp: the application object. Runs the main window and ends with it.
#pragma once

#include <QApplication>
#include <string>

namespace vantrel {

class CScannerApp : public QApplication {
 public:
  // Takes Qt's own options (-platform NAME, ...) out of the command line; the first
  // argument left that is no option is a workspace file to open (workspacePath).
  CScannerApp(int& argc, char** argv);
  // Runs CMainDlg modally; the program ends when it closes.
  int InitInstance();

  // The workspace file named on the command line, as an absolute path; "" for none. The
  // desktop entry passes the file that a file manager opens with the program.
  // The window opens it at start-up, on its own line.
  std::string workspacePath;
};

}  // namespace vantrel
