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
#include <string>
#include <vector>

#include "session/ExchangeQueue.h"
#include "app/LinkConnector.h"
#include "session/PollStatistics.h"

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSocketNotifier;
class QTableView;
class QTimer;

namespace vantrel {

class CTreePropSheet;
class CTrendChartDlg;
class CWriteDlg;
class CFindDevicesDlg;
struct LineSettings;
class DataLogBar;
class Line;
class ModbusMaster;
class ResponseModel;
struct ResponseTable;
class ScannerSettings;
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

class CMainDlg : public QDialog {
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
  void Poll();
  void OnReplyTimer();
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
  // The port reported its device gone: end the exchange, close the port and say so once;
  // the next poll (or Start) opens it again.
  void OnPortLost();

  // The three summary buttons.
  void UpdateRequestSummary();
  void UpdateConnectionSummary();
  void UpdatePollFrequencySummary();

  // The activity log: one time-stamped entry, newest on top on screen, appended to the
  // log file. The text is formatted once for the screen (cut at 4095) and once, whole,
  // for the file.
  void AddLogLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void OnBrowseLogFile();
  void OnClearLog();

  // The response table. While the request stays the same, a reply updates the rows in
  // place (the view keeps its scroll position, selection and column widths) and marks the
  // values that changed for a moment; the table is emptied when the request changes.
  void DisplayResponse(const ModbusMaster* master);
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

  unsigned m_replyWaitMs = 0;
  // The reply tick's period: it counts the reply time-out. A reply is taken as soon as its
  // bytes arrive, whatever the tick.
  int m_replyTickMs = 100;
  std::time_t m_lastPollTime = 0;
  bool m_portLost = false;  // closed because its device went away; reopened by the next poll
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
  QTableView* responseList() const { return responseList_; }
  ResponseModel* responseModel() const { return model_; }
  QLineEdit* logPathEdit() const { return logPathEdit_; }
  QLabel* statusLine() const { return statusLine_; }
  DataLogBar* dataLogBar() const { return dataLogBar_; }
  const PollStatistics& statistics() const { return stats_; }
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
  // One line in the activity log for a failed exchange: the message's first line and the
  // bytes received.
  void LogFailure(const std::string& text);
  // Polling at a frequency, and not stopped.
  bool PollingAtFrequency() const;
  // Whether a failed poll is only logged and counted, polling going on: chosen so, and
  // polling at a frequency.
  bool KeepPollingOnFailure() const;
  // Polling falls back to once and nothing more polls: the timer stops and a poll waiting
  // for the line is forgotten. Before a failure's box, so that one failure gives one box.
  void StopPollingForBox();
  // A poll attempt, as the usage report counts them (PollCount).
  void CountPollAttempt();
  // A poll found no line (a device gone, a connection that cannot be made): counted as a
  // poll that failed, the values shown stale, and said once until the line is back.
  void ReconnectFailed();
  std::int64_t MarkClockMs() const;
  // A poll failed: its log line, and the values on screen shown as stale; unless polling
  // goes on, the cycle's timers stop, the text is shown in a box of that style (kPanicBox:
  // the panic report) and polling falls back to once.
  static constexpr int kPanicBox = -1;
  void PollFailed(const std::string& text, int boxType = 0);
  // A poll that could not be built or sent: box, log line, back to once.
  void FailPoll(const std::string& text);
  std::string CurrentConnectionText() const;
  // Opens the link with the connection settings and logs "Connected to ..." when it is
  // open; a connect under way is Pending. A failure shows nothing; a warning (RS-485
  // refused) is shown in a box when explain, else logged.
  LinkConnector::Result OpenPort(bool explain);
  void OnConnected(bool explain);
  // A connect under way ended: the poll waiting for it goes, or the failure is told (in a
  // box for Start or the settings, in the log while polling at a frequency).
  void OnConnectFinished(bool connected);
  void LogConnectFailure();
  void ExplainConnectFailure();
  // A scan takes the line: the poll timer stops and an exchange on the line is given up;
  // afterwards the connection's own line settings come back and polling goes on.
  void PauseForScan();
  void ResumeAfterScan(bool lineChanged);
  bool SetScanLine(const LineSettings& line);
  bool SetSummary(QPushButton* button, const std::string& text);
  // Writes: send the next, take its reply, report a failure without stopping the polls.
  void SendNextWrite();
  void OnWriteReply(int result);
  void FailWrite(const std::string& text, int boxType = 0);
  // Takes what the port has for the exchange awaiting its reply and acts on the result;
  // a tick also counts the wait.
  void TakeReply(bool tick);
  // Watches the port for bytes while an exchange awaits its reply; let go before the port
  // closes.
  void WatchPort();
  void StopWatchingPort();
  // A request went out, or could not: counted, and its response time starts.
  void CountSent(bool write);
  // How the exchange on the line ended, with its response time for a reply.
  void CountEnd(ExchangeClass how, bool write);
  void ShowStatistics();
  // The exchange on the line is over: starts what goes next (true) or nothing (false).
  bool ContinueLine(bool confirmed);

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
  QTableView* responseList_ = nullptr;
  ResponseModel* model_ = nullptr;
  QPlainTextEdit* logEdit_ = nullptr;
  QLineEdit* logPathEdit_ = nullptr;
  ExchangeQueue queue_;
  QSocketNotifier* portWatch_ = nullptr;
  PollStatistics stats_;
  std::chrono::steady_clock::time_point sentAt_{};
  QLabel* statusLine_ = nullptr;
  DataLogBar* dataLogBar_ = nullptr;
  QAction* show64_ = nullptr;
  QPointer<CTrendChartDlg> chart_;  // null until Chart, and again once closed
  std::vector<std::uint8_t> shownRequest_;  // the poll that the table's rows answer
  std::deque<int> logEntryLines_;  // lines of each entry on screen, newest first
  bool closing_ = false;           // Close has begun: the report is on its way
  LinkConnector* connector_ = nullptr;
  bool pollAfterConnect_ = false;  // a poll waits for the connect under way
  bool explainConnect_ = false;    // the connect under way was asked for by start-up or the sheet
  bool scanning_ = false;          // a scan has the line: no poll, write or countdown meanwhile
  bool stopped_ = false;           // Stop paused polling at a frequency; Start goes on
  bool lineDownTold_ = false;      // the line's loss (or a failed connect) is in the log already
  WriteFrame writeOnLine_;         // the write request on the line, for naming it when it fails
};

}  // namespace vantrel
