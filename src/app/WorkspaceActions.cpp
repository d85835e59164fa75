// The main window's workspace files: the connection and every poll definition in one
// file, opened, saved, started afresh, and the recent ones in the File menu.
#include <algorithm>

#include "app/MainDlg.h"
#include "app/PollTab.h"
#include "app/TestCenterDlg.h"
#include "diag/Diagnostics.h"
#include "session/Workspace.h"
#include "settings/ScannerSettings.h"

#include <QMenu>
#include <QTabWidget>

namespace vantrel {

// --- workspaces -------------------------------------------------------------------------

Workspace CMainDlg::CurrentWorkspace() const {
  Workspace ws = workspace_;  // its members that this version does not know stay
  ws.connection = ConnectionFromSettings();
  ws.polls.clear();
  for (int i = 0; i < session_->Count(); ++i) ws.polls.push_back(session_->Definition(i));
  if (testCenter_) ws.testCenter = testCenter_->SavedHistory();
  return ws;
}

void CMainDlg::ApplyWorkspace(const Workspace& ws, const std::string& path) {
  workspace_ = ws;
  workspacePath_ = path;
  if (testCenter_) testCenter_->LoadHistory(ws.testCenter);
  // The first poll and the connection are settings.ini's; the others are tabs beside it.
  StoreInSettings(ws, settings_);
  while (session_->Count() > 1) {
    session_->Remove(session_->Count() - 1);
    tabs_.back()->deleteLater();
    tabs_.pop_back();
    tabWidget_->removeTab(static_cast<int>(tabs_.size()));
  }
  tabWidget_->setCurrentIndex(0);
  if (!ws.polls.empty()) {
    session_->Change(0, ws.polls.front());
    ShowRequest(0, ws.polls.front());
    tabWidget_->setTabText(0, QString::fromStdString(PollName(0)));
  }
  for (std::size_t i = 1; i < ws.polls.size(); ++i) AddPoll(ws.polls[i]);
  settings_.Save();
  UpdateConnectionSummary();
  UpdateRequestSummary();
  UpdatePollFrequencySummary();
  UpdateMapActions();
  ConnectSerialPort();
  AfterSession();
}

bool CMainDlg::OpenWorkspace(const std::string& path) {
  if (session_->Count() == 0) OnTimer(TIMER_STARTUP);  // asked for before start-up ran: it runs first
  Workspace ws;
  std::string error;
  if (!LoadWorkspace(path, ws, error)) {
    MessageAndLog(kBoxStop, "Error - Can not open the workspace\n\n%s\n\nThe program goes on with its settings as "
                  "they were.", error.c_str());
    return false;
  }
  AddLogLine("Workspace opened: %s (%zu polls)", path.c_str(), ws.polls.size());
  ApplyWorkspace(ws, path);
  RememberWorkspace(path);
  return true;
}

void CMainDlg::OpenWorkspaceFile() {
  const std::string path = chooseWorkspace ? chooseWorkspace(settings_.startup_path, false) : std::string();
  if (!path.empty()) OpenWorkspace(path);
}

bool CMainDlg::SaveWorkspaceFile(bool askName) {
  std::string path = workspacePath_;
  if (askName || path.empty()) path = chooseWorkspace ? chooseWorkspace(settings_.startup_path, true) : std::string();
  if (path.empty()) return false;
  std::string error;
  if (!SaveWorkspace(path, CurrentWorkspace(), error)) {
    ShowMessage("Error - The workspace could not be saved\n\n%s\n\nChoose another folder or name and try again.",
                error.c_str());
    return false;
  }
  workspacePath_ = path;
  AddLogLine("Workspace saved: %s", path.c_str());
  RememberWorkspace(path);
  return true;
}

void CMainDlg::NewWorkspace() {
  // A fresh start on the same line: one poll with the first release's request.
  Workspace ws;
  ws.connection = ConnectionFromSettings();
  ws.polls.push_back(WorkspaceFromSettings(ScannerSettings(settings_.startup_path)).polls.front());
  AddLogLine("New workspace");
  ApplyWorkspace(ws, "");
}

void CMainDlg::RememberWorkspace(const std::string& path) {
  std::vector<std::string>& recent = settings_.recent_workspaces;
  std::erase(recent, path);
  recent.insert(recent.begin(), path);
  if (recent.size() > kRecentWorkspaces) recent.resize(kRecentWorkspaces);
  settings_.Save();
}

void CMainDlg::FillRecentMenu() {
  recentMenu_->clear();
  for (const std::string& path : settings_.recent_workspaces) {
    recentMenu_->addAction(QString::fromStdString(path), this, [this, path] { OpenWorkspace(path); });
  }
  if (settings_.recent_workspaces.empty()) recentMenu_->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

}  // namespace vantrel
