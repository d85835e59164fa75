// CScannerApp: the application object. Runs the main window and ends with it.
#pragma once

#include <QApplication>
#include <string>

namespace vantrel {

class CMainDlg;

class CScannerApp : public QApplication {
 public:
  // Takes Qt's own options (-platform NAME, ...) out of the command line; the first
  // argument left that is no option is a workspace file to open (workspacePath).
  CScannerApp(int& argc, char** argv);
  // Runs CMainDlg modally; the program ends when it closes.
  int InitInstance();

  // The workspace file named on the command line, as an absolute path; "" for none. The
  // desktop entry passes the file that a file manager opens with the program.
  std::string workspacePath;

 private:
  // Opens workspacePath once the window is up: for now it is read, and a file that cannot
  // be (missing, unreadable, refused) is explained in a box; the window then goes on with
  // the settings it has.
  void OpenWorkspaceArgument(CMainDlg& dlg);
};

}  // namespace vantrel
