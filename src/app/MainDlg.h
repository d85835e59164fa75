// CMainDlg, the main window: four numbered steps, the poll cycle on window timers, the
// response table and the activity log.
#pragma once

#include <QDialog>
#include <QPointer>

#include <array>
#include <chrono>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "session/LineSession.h"
#include "session/Workspace.h"
#include "settings/ScannerSettings.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTimer;

namespace vantrel {

class CTreePropSheet;
class CTrendChartDlg;
class CWriteDlg;
class CFindDevicesDlg;
class CBusMonitorDlg;
class CTrafficDlg;
class CDiagnosticsDlg;
class CTestCenterDlg;
struct LineSettings;
class DataLogBar;
class LinkWatch;
class LogBox;
class PollTab;
class Line;
class ModbusMaster;
class ResponseModel;
struct ResponseTable;

class Tattler;

// Window timers, by id.
enum TimerId : int {
  TIMER_STARTUP = 0,
  TIMER_REPLY = 1,
  TIMER_VERSION_CHECK = 2,
  TIMER_POLL = 3,
  TIMER_STATUS = 4,
  TIMER_BANNER = 5,
  TIMER_CHANGES = 6,  // the mark on changed values goes
  kTimerCount = 7,
};

// The new-version question is on screen (one at a time).
extern bool versionPromptOpen;

// Start pages of the settings sheet, as the buttons and the menu ask for them.
enum SheetPage : int {
  kPageConnection = 0,
  kPageAbout = 2,
  kPageRequest = 3,
  kPagePollFrequency = 4,
};

// A settings sheet is on screen: a second one is not opened on top of it (except the one
// that ValidateRequest forces).
extern bool settingsSheetOpen;

// The main window drives a line session (its timers and the socket notifier only tell the
// session that time has passed or the link is readable) and shows what the session reports.
// Its one poll definition is the request of settings.ini.
class CMainDlg : public QDialog, private LineObserver {
  Q_OBJECT

 public:
  CMainDlg(ScannerSettings& settings, Line& line, Tattler& tattler,
           QWidget* parent = nullptr);
  ~CMainDlg() override;

  // Window timers: arming a running timer restarts its period.
  void SetTimer(int id, int periodMs);
  void KillTimer(int id);
  bool IsTimerArmed(int id) const;
  int TimerPeriod(int id) const;
  void OnTimer(int id);

  // Start-up and the poll cycle.
  void StartUp();
  // A poll of the request is due now: it goes at once when the line is free, else right
  // after the exchange on it.
  void Poll();
  // Polling falls back to once: the period is 0 and the summary says "Once".
  void StopPolling();
  // The Stop button: polling at a frequency pauses (the frequency set stays), and an
  // exchange awaiting its reply is given up at once, as are the writes still waiting.
  void Stop();
  // The Start button: polls now; after Stop, polling at the frequency set goes on.
  void OnStartClicked();
  void UpdateStartButton();
  void ValidateRequest();
  // Opens the link of the connection settings, explaining a failure in a box: the serial
  // port at once; a network connection is made without blocking the window, its outcome
  // logged (and a failure explained) when it comes. 1 when open now.
  int ConnectSerialPort();
  // The reply wait counted so far (0 until the first reply tick that finds no complete
  // reply): the Start button reads "Polling" while it is above 0.
  unsigned ReplyWaitMs() const;

  // The three summary buttons.
  void UpdateRequestSummary();
  void UpdateConnectionSummary();
  void UpdatePollFrequencySummary();

  // The activity log: one time-stamped entry, newest on top on screen, appended to the
  // log file. The text is formatted once for the screen (cut at 4095) and once, whole,
  // for the file.
  void AddLogLine(const char* format, ...) VANTREL_PRINTF(2, 3);
  void OnBrowseLogFile();
  void OnClearLog();

  // The response table of a poll (of the one in front when none is named). While the
  // request stays the same, a reply updates the rows in place (the view keeps its scroll
  // position, selection and column widths) and marks the values that changed for a moment;
  // the table is emptied when the request changes.
  void DisplayResponse(const ModbusMaster* master);
  void DisplayResponse(int poll, const ModbusMaster* master);
  void EmptyResponseList();
  // Whether a point of the response list's viewport is over the "Write" cell of a row.
  bool IsCursorOnWriteColumn(const QPoint& viewportPos) const;
  // A click on "Write": the Write dialog for the rows chosen (the clicked one, or the
  // selection it belongs to); for discrete inputs and input registers, why they cannot be
  // written.
  void OnResponseListClick(const QPoint& viewportPos);
  void OpenWriteDialog(std::vector<int> rows);
  // Sends the write now when the line is free, else when the exchange on it ends.
  void QueueWrite(std::vector<WriteFrame> requests);
  // "Chart" (View menu, the table's context menu): the selected rows, or all when none is,
  // as lines of the trend chart window, which every good reply feeds. One window at a time.
  void OpenChart();
  CTrendChartDlg* trendChart() const;

  // Several polls on the line, one tab each; the first is settings.ini's request, and the
  // steps (Request, Poll frequency, Start, Stop) act on the one in front.
  int CurrentPoll() const;
  PollTab* pollTab(int poll) const { return tabs_.at(static_cast<std::size_t>(poll)); }
  int PollCount() const { return static_cast<int>(tabs_.size()); }
  QTabWidget* pollTabs() const { return tabWidget_; }
  // The name a tab and the log lines give a poll: its own, else "Poll n".
  std::string PollName(int poll) const;
  // Adds a poll definition as a tab (not brought to front); its index.
  int AddPoll(const PollDefinition& definition);
  // "New poll" (Ctrl+N): a block of the same device, in a tab of its own, its Request page
  // open; "Duplicate poll"; "Rename poll..."; "Close poll" (not the last one).
  void NewPoll();
  void DuplicatePoll();
  void RenamePoll();
  void ClosePoll(int poll);
  void StartAll();
  void StopAll();
  // Asks for a text (the program: an input dialog): question and proposed text in, the
  // answer out ("" when cancelled).
  std::function<std::string(const std::string& question, const std::string& proposed)> askText;

  // Workspace files: the connection and every poll. Opened (false with a box saying why
  // when it cannot be), saved (under its name, or one asked for), started afresh.
  bool OpenWorkspace(const std::string& path);
  void OpenWorkspaceFile();
  bool SaveWorkspaceFile(bool askName);
  void NewWorkspace();
  Workspace CurrentWorkspace() const;
  const std::string& workspacePath() const { return workspacePath_; }
  // A workspace to open at start-up (the command line's), instead of settings.ini's line:
  // its own line is the one opened. One that cannot be opened leaves settings.ini's.
  std::string workspaceAtStartUp;
  // Asks for a workspace file to open (save false) or to save as (true), from a folder
  // ("" when cancelled). The program shows a file dialog.
  std::function<std::string(const std::string& folder, bool save)> chooseWorkspace;
  static constexpr std::size_t kRecentWorkspaces = 4;

  // Register maps of the poll in front (see MapActions.cpp). "Import register map...": a
  // CSV map (one refused is explained in a box, and nothing changes), read by map from then
  // on; "Export register map...": its map as CSV; "Read by map": by its map or by its
  // block request.
  void ImportMap();
  void ExportMap();
  void SetReadByMap(bool on);
  // "Show names": every reply's table gets an editable Name column, whose names are the
  // items of its definition's map.
  void SetShowNames(bool on);
  bool namesShown() const { return showNames_; }
  // "Show register formats": the tables read by map show each item's offset, 6-digit
  // address and first registers in every format of a block table, after Raw.
  void SetShowFormats(bool on);
  // A row of a table read by map clicked: asks for the item's new value in its shown units
  // (askText) and writes it; a value the item cannot take is explained, nothing sent.
  void WriteMapItem(int row);
  // Asks for a map file to import (save false) or to export to (true), from a folder (""
  // when cancelled). The program shows a file dialog.
  std::function<std::string(const std::string& folder, bool save)> chooseMapFile;

  // Close button, Enter and the menu's "Close": report, save, end; once per run, however
  // often it is asked for while the report is on its way.
  void OnCloseRequest();
  // Escape and the close box: end without report or save (nothing once closing has begun).
  void reject() override;

  // The banner and the version check.
  void RotateBanner();
  void OnBannerClick();
  void CheckForNewVersion();

  // The settings sheet with its six pages, opened on startPage (kPage...); on OK the
  // pages' values are applied and saved. Ignored while a sheet is open unless forced.
  void OpenSettingsSheet(int startPage, bool force);

  // Runs the settings sheet modally and returns QDialog::Accepted or Rejected; unset, the
  // sheet's exec(). Tests drive the sheet without blocking.
  std::function<int(CTreePropSheet& sheet)> runSettingsSheet;
  // Runs the Write dialog modally, as runSettingsSheet runs the sheet.
  std::function<int(CWriteDlg& dialog)> runWriteDialog;
  // Runs the Find devices dialog modally, likewise.
  std::function<int(CFindDevicesDlg& dialog)> runFindDevices;

  // "Find devices": polling pauses, the dialog scans; a device double-clicked there is
  // taken into the connection and request, saved, and polled once. Polling goes on after.
  void OpenFindDevices();
  // "Bus monitor...": a window of its own, not modal (one per line, several at once), that
  // proposes the connection's line and refuses the one this window has open.
  CBusMonitorDlg* OpenBusMonitor();
  // "Traffic" (View menu): the window of this window's own bytes out and in; one at a time.
  CTrafficDlg* OpenTraffic();
  // "Diagnostics...": the current slave's counters and its 08 commands; one window, raised
  // when open.
  CDiagnosticsDlg* OpenDiagnostics();
  // "Test center...": requests of any function through SendPdu, with their history (kept in
  // the workspace); one window, raised when open already.
  CTestCenterDlg* OpenTestCenter();
  // A request of any function (the Test center, Diagnostics) through the line session, after
  // the writes waiting and before the next poll; done is told its outcome once, unless the
  // window goes first. Callers that may close before the reply guard themselves (QPointer).
  void SendPdu(int slaveId, std::vector<std::uint8_t> pdu, std::function<void(const PduOutcome&)> done);
  // SendPdu for a dialog that makes requests of any function.
  PduSender PduSenderOfLine();
  // The line as the Connection page sets it: the mode and line settings a frame preview uses.
  LineConnection Connection() const { return ConnectionFromSettings(); }
  // The slave id of the poll in front.
  int CurrentSlaveId() const;
  // "Device identification": the current slave's objects (43/14) in a box.
  void ShowDeviceIdentification();
  // Asks for a file that is appended to (the activity log, the data log): folder and
  // proposed name in, chosen path out ("" when cancelled). The program shows a save-file
  // dialog.
  std::function<std::string(const std::string& folder, const std::string& name)> chooseLogFile;
  // Asks for a file to write anew (a saved table): as chooseLogFile, but an existing file is
  // replaced, so the program asks before overwriting one.
  std::function<std::string(const std::string& folder, const std::string& name)> chooseExportFile;

  // What the log box shows, newest entry first.
  QString LogText() const;
  // Entries kept on screen; older ones stay in the file only.
  static constexpr int kMaxLogEntries = 1000;
  // How long a changed value stays marked.
  static constexpr int kChangeMarkMs = 1500;
  // The clock of the change marks, in milliseconds; unset, the steady clock.
  std::function<std::int64_t()> markClock;
  // The line session's clock; unset, the steady clock.
  std::function<TimePoint()> lineClock;

  // The reply tick's period: it counts the reply time-out. A reply is taken as soon as its
  // bytes arrive, whatever the tick.
  int m_replyTickMs = 100;
  int m_pollCount = 0;
  int m_respCount = 0;
  std::string m_logFilePath;
  bool m_logSaveFailed = false;
  int m_bannerIndex = 0;

  QPushButton* startButton() const { return startButton_; }
  QPushButton* stopButton() const { return stopButton_; }
  QPushButton* connectionButton() const { return connectionButton_; }
  QPushButton* requestButton() const { return requestButton_; }
  QPushButton* pollFrequencyButton() const { return pollFrequencyButton_; }
  // The poll in front's.
  QTableView* responseList() const;
  ResponseModel* responseModel() const;
  QLabel* statusLine() const;
  QLineEdit* logPathEdit() const { return logPathEdit_; }
  DataLogBar* dataLogBar() const { return dataLogBar_; }
  // The counters of the polls and writes of the poll in front.
  const PollStatistics& statistics() const { return session_->Statistics(CurrentPoll()); }
  LineSession& session() { return *session_; }
  // The Reset button of the status line.
  void ResetStatistics();
  // The View menu: the word order of the 32-bit cells (a WordOrder's integer) and the
  // 64-bit columns (0 or 1); saved, and the table is read again in the new format.
  void SetTableFormat(int wordOrder, int show64bit);
  // The same, with the wire-address column (0 or 1).
  void SetTableFormat(int wordOrder, int show64bit, int wireAddress);
  // The table's rows selected, in order.
  std::vector<int> SelectedRows() const;
  // Ctrl+C and the context menu: the selected rows (or all of them) with the captions, as
  // tab-separated text on the clipboard.
  void CopyRows(bool all);
  // "Save table as CSV": every row with the captions, to a file the user chooses.
  void SaveTableAsCsv();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void AddLogText(const std::string& screenText, const std::string& fileText);
  void ShowLogFilePath();
  // The settings' word order for the table's cells.
  WordOrder TableWordOrder() const;
  // Widens the columns to their designed widths, captions and longest texts; with
  // widenOnly, a column that is wide enough keeps the width it has (the user's, say).
  void FitColumns(const ResponseTable& table, bool widenOnly);
  std::int64_t MarkClockMs() const;
  std::string CurrentConnectionText() const;
  // The session's definition and connection, as the settings have them now: a changed
  // request empties the table; only a changed link closes what is open.
  PollDefinition DefinitionFromSettings() const;
  LineConnection ConnectionFromSettings() const;
  void SyncDefinition();
  void SyncConnection();
  // Only the reply time-out: a poll reads it as it stands, and nothing reopens.
  void SyncTimeout();
  // After the session was driven: the timers and the watch follow what it waits for, and
  // the Start button what it does.
  void AfterSession();
  void UpdateTimers();
  // A scan takes the line: polling pauses and an exchange on the line is given up;
  // afterwards the connection's own line settings come back and polling goes on.
  void PauseForScan();
  void ResumeAfterScan(bool lineChanged);
  bool SetScanLine(const LineSettings& line);
  bool SetSummary(QPushButton* button, const std::string& text);
  void ShowStatistics(int poll);
  PollTab* CurrentTab() const;
  const PollDefinition& CurrentDefinition() const;
  PollTab* AddTab();
  void ShowCurrentPoll();
  void OnTabMoved(int from, int to);
  // The first poll changed (closed, moved): settings.ini takes the new first one.
  void FirstPollChanged();
  // The request shown for a poll: the rows of another question go.
  void ShowRequest(int poll, const PollDefinition& definition);
  // What the Request and Poll frequency pages edit, and taking their values back.
  ScannerSettings& RequestSettings();
  void StoreRequest(const ScannerSettings& request);
  std::string RequestText() const;
  int PeriodShown() const;
  void ApplyWorkspace(const Workspace& workspace, const std::string& path);
  // A reply's table, or a map's: shown, logged and charted.
  void ShowTable(int poll, ResponseTable table, int device);
  // The map's part of the window: its menu entries, a tab's name edits, the Name column
  // and Read by map following the definition, a definition's map changed.
  void BuildMapMenus(QMenu* polls, QMenu* view);
  void WireMapTab(PollTab* tab);
  void RefreshNames(int poll);
  void UpdateMapActions();
  void ChangeMap(int poll, const PollDefinition& definition, bool readNow);
  void NameRow(PollTab* tab, int row, const std::string& name);
  void RememberWorkspace(const std::string& path);
  void FillRecentMenu();

  // What the session reports.
  void OnLog(int poll, const std::string& text) override;
  void OnPollAttempt(int poll) override;
  void OnSent(int poll) override;
  void OnReply(int poll, const ModbusMaster& master) override;
  void OnMapValues(int poll, const MapReading& reading) override;
  void OnPollFailed(int poll, const LineFailure& failure) override;
  void OnWriteFailed(int poll, const WriteFrame& write, const LineFailure& failure) override;
  void OnLineLost() override;
  void OnPduDone(const PduOutcome& outcome) override;
  void OnConnectFailed(const std::string& text) override;
  void OnConnectWarning(const std::string& text, bool box) override;

  ScannerSettings& settings_;
  Line& line_;
  ModbusMaster& master_;  // the line's
  Tattler& tattler_;

  std::array<QTimer*, kTimerCount> timers_{};
  QLabel* banner_ = nullptr;
  QPushButton* connectionButton_ = nullptr;
  QPushButton* requestButton_ = nullptr;
  QPushButton* pollFrequencyButton_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QTabWidget* tabWidget_ = nullptr;
  std::vector<PollTab*> tabs_;     // one per poll definition, in the session's order
  QList<QAction*> tableActions_;   // each table's context menu
  QMenu* recentMenu_ = nullptr;
  ScannerSettings pollSettings_;   // what the sheet's pages edit for a poll other than the first
  Workspace workspace_;            // the one open, for its members this version does not know
  std::string workspacePath_;
  LogBox* logEdit_ = nullptr;
  QLineEdit* logPathEdit_ = nullptr;
  std::unique_ptr<LineSession> session_;
  LinkWatch* watch_ = nullptr;  // on what the session waits for
  DataLogBar* dataLogBar_ = nullptr;
  QAction* show64_ = nullptr;
  QAction* readByMap_ = nullptr;
  QAction* showNamesAction_ = nullptr;
  QAction* showFormatsAction_ = nullptr;
  bool showNames_ = false;
  bool showFormats_ = false;
  QPointer<CTrendChartDlg> chart_;  // null until Chart, and again once closed
  QPointer<CTrafficDlg> traffic_;   // null until Traffic, and again once closed
  QPointer<CDiagnosticsDlg> diagnostics_;
  QPointer<CTestCenterDlg> testCenter_;  // null until first opened; hidden, not deleted, when closed
  std::map<int, std::function<void(const PduOutcome&)>> pduDone_;  // by the request's tag
  int nextPduTag_ = 1;
  bool closing_ = false;           // Close has begun: the report is on its way
  bool scanning_ = false;          // a scan has the line: no poll, write or countdown meanwhile
};

}  // namespace vantrel
