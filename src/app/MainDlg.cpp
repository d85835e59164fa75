#include "app/MainDlg.h"

#include <QEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QActionGroup>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>
#include <numeric>

#include "Artwork.h"
#include "app/BusMonitorDlg.h"
#include "app/CaptionButton.h"
#include "app/DataLogBar.h"
#include "app/DiagnosticsDlg.h"
#include "app/FindDevicesDlg.h"
#include "app/LinkWatch.h"
#include "app/LogBox.h"
#include "app/PollTab.h"
#include "app/ScanDriver.h"
#include "app/TestCenterDlg.h"
#include "app/TrafficDlg.h"
#include "session/MapEdits.h"
#include "session/PollTexts.h"
#include "app/ResponseModel.h"
#include "session/ResponseTable.h"
#include "session/Summaries.h"
#include "session/TableText.h"
#include "app/TrendChartDlg.h"
#include "app/WriteDlg.h"
#include "diag/Clock.h"
#include "diag/Diagnostics.h"
#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "session/Workspace.h"
#include "serial/PortMap.h"
#include "settings/ScannerSettings.h"
#include "sheet/Settings_PollFrequencyDlg.h"
#include "sheet/Settings_aboutDlg.h"
#include "sheet/Settings_auto_updateDlg.h"
#include "sheet/Settings_connectionDlg2.h"
#include "sheet/Settings_contact_usDlg.h"
#include "sheet/Settings_requestDlg.h"
#include "sheet/TreePropSheet.h"
#include "web/Product.h"
#include "web/Tattler.h"
#include "web/WebServices.h"

namespace vantrel {

bool versionPromptOpen = false;

namespace {

QPushButton* StepButton(const char* objectName, const char* text) {
  auto* b = new QPushButton(QString::fromLatin1(text));
  b->setObjectName(QString::fromLatin1(objectName));
  return b;  // a focused button takes Enter; otherwise Enter is Close's
}

// A step button whose caption changes while the window is open: it keeps its size.
QPushButton* CaptionStepButton(const char* objectName, const char* text) {
  auto* b = new CaptionButton(QString::fromLatin1(text));
  b->setObjectName(QString::fromLatin1(objectName));
  return b;
}

QGroupBox* StepGroup(const char* title, QPushButton* button) {
  auto* g = new QGroupBox(QString::fromLatin1(title));
  auto* l = new QHBoxLayout(g);
  l->setContentsMargins(5, 5, 5, 5);  // the room goes to the captions
  l->addWidget(button);
  return g;
}

// The banner slots' pictures.
const char* const kBannerPictures[4] = {":/banner0.png", ":/banner1.png", ":/banner2.png",
                                        ":/banner3.png"};
const QColor kBannerBackground(0x14, 0x2c, 0x4a);  // the pictures' own left edge

}  // namespace

CMainDlg::CMainDlg(ScannerSettings& settings, Line& line, Tattler& tattler, QWidget* parent)
    : QDialog(parent), settings_(settings), line_(line), master_(line.master()), tattler_(tattler) {
  setWindowTitle(QStringLiteral("Vantrel Modbus Scanner"));
  setObjectName(QStringLiteral("mainDialog"));
  for (int id = 0; id < kTimerCount; ++id) {
    auto* t = new QTimer(this);
    connect(t, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    timers_[static_cast<std::size_t>(id)] = t;
  }
  watch_ = new LinkWatch(
      [this] {
        session_->LinkReadable();
        AfterSession();
      },
      this);
  // The noise and the frames the master skips while looking for a reply go to the debug log.
  master_.note = [this](const std::string& line) {
    WriteDebugLogText(line);
    if (traffic_) traffic_->AddNote(line);
  };
  master_.traffic = [this](bool sent, const std::uint8_t* bytes, int size) {
    if (traffic_) traffic_->AddBytes(sent, bytes, size, master_.Mode() == ModbusMode::Ascii);
  };
  InitArtwork();
  setWindowIcon(QIcon(QStringLiteral(":/vantrel-modbus-scanner.png")));
  LineObserver& observer = *this;  // private: only the window tells its session what to report to
  session_ = std::make_unique<LineSession>(line_, observer, [this] { return lineClock ? lineClock() : SessionClock::now(); });
  BuildLayout();
  SetTimer(TIMER_BANNER, 5000);
  RotateBanner();
  SetTimer(TIMER_STARTUP, 1);  // start-up runs once the window is on screen
}

CMainDlg::~CMainDlg() {
  master_.note = nullptr;
  master_.traffic = nullptr;
}

void CMainDlg::BuildLayout() {
  auto* menuBar = new QMenuBar(this);
  QMenu* menu = menuBar->addMenu(QStringLiteral("Menu"));
  menu->addAction(QStringLiteral("About"), this, [this] { OpenSettingsSheet(kPageAbout, false); });
  menu->addAction(QStringLiteral("Save table as CSV..."), this, [this] { SaveTableAsCsv(); });
  menu->addAction(QStringLiteral("Find devices..."), this, [this] { OpenFindDevices(); })
      ->setObjectName(QStringLiteral("findDevicesAction"));
  menu->addAction(QStringLiteral("Device identification"), this, [this] { ShowDeviceIdentification(); })
      ->setObjectName(QStringLiteral("deviceIdAction"));
  menu->addAction(QStringLiteral("Bus monitor..."), this, [this] { OpenBusMonitor(); })
      ->setObjectName(QStringLiteral("busMonitorAction"));
  menu->addAction(QStringLiteral("Diagnostics..."), this, [this] { OpenDiagnostics(); })
      ->setObjectName(QStringLiteral("diagnosticsAction"));
  menu->addAction(QStringLiteral("Test center..."), this, [this] { OpenTestCenter(); })
      ->setObjectName(QStringLiteral("testCenterAction"));
  menu->addAction(QStringLiteral("Close"), this, [this] { OnCloseRequest(); });

  // After the first release's menu: the workspace files (the connection and every poll
  // definition in one file), and the polls on the line, each a tab.
  const auto add = [this](QMenu* to, const char* text, const char* name, std::function<void()> act,
                          QKeySequence key = {}) {
    QAction* a = to->addAction(QString::fromLatin1(text), this, std::move(act));
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(key);
    return a;
  };
  QMenu* file = menuBar->addMenu(QStringLiteral("File"));
  add(file, "New workspace", "newWorkspace", [this] { NewWorkspace(); });
  add(file, "Open workspace...", "openWorkspace", [this] { OpenWorkspaceFile(); }, QKeySequence::Open);
  add(file, "Save workspace", "saveWorkspace", [this] { SaveWorkspaceFile(false); }, QKeySequence::Save);
  add(file, "Save workspace as...", "saveWorkspaceAs", [this] { SaveWorkspaceFile(true); });
  recentMenu_ = file->addMenu(QStringLiteral("Recent workspaces"));
  connect(recentMenu_, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
  QMenu* polls = menuBar->addMenu(QStringLiteral("Poll"));
  add(polls, "New poll", "newPoll", [this] { NewPoll(); }, QKeySequence::New);
  add(polls, "Duplicate poll", "duplicatePoll", [this] { DuplicatePoll(); });
  add(polls, "Rename poll...", "renamePoll", [this] { RenamePoll(); });
  add(polls, "Close poll", "closePoll", [this] { ClosePoll(CurrentPoll()); });
  polls->addSeparator();
  add(polls, "Start all", "startAll", [this] { StartAll(); });
  add(polls, "Stop all", "stopAll", [this] { StopAll(); });

  // How 32- and 64-bit values lie over the registers; kept in settings.ini.
  QMenu* view = menuBar->addMenu(QStringLiteral("View"));
  QMenu* orders = view->addMenu(QStringLiteral("Word order of 32-bit values"));
  auto* orderGroup = new QActionGroup(this);
  for (WordOrder order : kWordOrders) {
    QAction* a = orders->addAction(QString::fromLatin1(WordOrderCaption(order)));
    a->setObjectName(QStringLiteral("wordOrder%1").arg(static_cast<int>(order)));
    a->setCheckable(true);
    orderGroup->addAction(a);
    connect(a, &QAction::triggered, this, [this, order] {
      const ViewOptions v = CurrentDefinition().view;
      SetTableFormat(static_cast<int>(order), v.show64 ? 1 : 0, v.wireAddress ? 1 : 0);
    });
  }
  show64_ = view->addAction(QStringLiteral("Show 64-bit columns"));
  show64_->setObjectName(QStringLiteral("show64Bit"));
  show64_->setCheckable(true);
  connect(show64_, &QAction::triggered, this, [this](bool on) {
    const ViewOptions v = CurrentDefinition().view;
    SetTableFormat(static_cast<int>(v.wordOrder), on ? 1 : 0, v.wireAddress ? 1 : 0);
  });
  QAction* wireAddress = view->addAction(QStringLiteral("Show addresses on the wire (0-based)"));
  wireAddress->setObjectName(QStringLiteral("showWireAddress"));
  wireAddress->setCheckable(true);
  connect(wireAddress, &QAction::triggered, this, [this](bool on) {
    const ViewOptions v = CurrentDefinition().view;
    SetTableFormat(static_cast<int>(v.wordOrder), v.show64 ? 1 : 0, on ? 1 : 0);
  });
  connect(view, &QMenu::aboutToShow, this, [this, orders, wireAddress] {
    const ViewOptions v = CurrentDefinition().view;
    for (QAction* a : orders->actions()) {
      a->setChecked(a->objectName() == QStringLiteral("wordOrder%1").arg(static_cast<int>(v.wordOrder)));
    }
    show64_->setChecked(v.show64);
    wireAddress->setChecked(v.wireAddress);
  });
  BuildMapMenus(polls, view);

  banner_ = new QLabel;
  banner_->setObjectName(QStringLiteral("banner"));
  banner_->setAlignment(Qt::AlignCenter);
  banner_->setFixedHeight(72);
  // The pictures are as wide as the window's default client area; a narrower window shows
  // their middle rather than being held wider by them.
  banner_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  banner_->setAutoFillBackground(true);
  QPalette bannerPalette = banner_->palette();
  bannerPalette.setColor(QPalette::Window, kBannerBackground);
  banner_->setPalette(bannerPalette);
  banner_->setCursor(Qt::PointingHandCursor);
  banner_->installEventFilter(this);

  connectionButton_ = CaptionStepButton("connectionButton", "Connection button");
  requestButton_ = CaptionStepButton("requestButton", "Request Button");
  pollFrequencyButton_ = CaptionStepButton("pollFrequencyButton", "Poll frequency");
  startButton_ = CaptionStepButton("startButton", "Start");
  closeButton_ = new QPushButton(QStringLiteral("Close"));
  closeButton_->setObjectName(QStringLiteral("closeButton"));
  closeButton_->setDefault(true);
  closeButton_->setMinimumHeight(44);

  // Each caption button gets room for its longest usual caption on two lines: an address
  // and port, the request with the function, a period, the countdown.
  auto* steps = new QHBoxLayout;
  steps->setSpacing(4);
  steps->addWidget(StepGroup("1. Connection", connectionButton_), 172);
  steps->addWidget(StepGroup("2. Request", requestButton_), 200);
  steps->addWidget(StepGroup("3. Poll frequency", pollFrequencyButton_), 90);
  // Stop ends polling at a frequency and gives up a reply still awaited, at once.
  stopButton_ = StepButton("stopButton", "Stop");
  stopButton_->setEnabled(false);
  stopButton_->setFixedWidth(stopButton_->fontMetrics().horizontalAdvance(stopButton_->text()) + 24);
  stopButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);  // as tall as Start
  auto* startGroup = StepGroup("4. Start", startButton_);
  startGroup->layout()->addWidget(stopButton_);
  steps->addWidget(startGroup, 150);
  steps->addWidget(closeButton_, 0, Qt::AlignVCenter);

  // The tables' context menu, the same on every tab, acts on the tab in front.
  auto* copyRows = new QAction(QStringLiteral("Copy selected rows\t") + QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText),
                               this);
  copyRows->setObjectName(QStringLiteral("copyRows"));
  connect(copyRows, &QAction::triggered, this, [this] { CopyRows(false); });
  auto* copyAll = new QAction(QStringLiteral("Copy all rows"), this);
  copyAll->setObjectName(QStringLiteral("copyAllRows"));
  connect(copyAll, &QAction::triggered, this, [this] { CopyRows(true); });
  auto* saveCsv = new QAction(QStringLiteral("Save table as CSV..."), this);
  connect(saveCsv, &QAction::triggered, this, [this] { SaveTableAsCsv(); });
  view->addAction(QStringLiteral("Traffic"), this, [this] { OpenTraffic(); })->setObjectName(QStringLiteral("trafficAction"));
  QAction* chart = view->addAction(QStringLiteral("Chart"), this, [this] { OpenChart(); });
  chart->setObjectName(QStringLiteral("chartAction"));
  tableActions_ = {copyRows, copyAll, saveCsv, chart};

  // One tab per poll definition; with one, no tab bar: the window is the first release's.
  tabWidget_ = new QTabWidget;
  tabWidget_->setObjectName(QStringLiteral("pollTabs"));
  tabWidget_->setTabBarAutoHide(true);
  tabWidget_->setMovable(true);
  tabWidget_->setDocumentMode(true);
  connect(tabWidget_, &QTabWidget::currentChanged, this, [this] { ShowCurrentPoll(); });
  connect(tabWidget_->tabBar(), &QTabBar::tabMoved, this, [this](int from, int to) { OnTabMoved(from, to); });
  connect(tabWidget_->tabBar(), &QTabBar::tabBarDoubleClicked, this, [this](int index) {
    if (index >= 0) RenamePoll();
  });
  AddTab();

  dataLogBar_ = new DataLogBar(settings_);
  dataLogBar_->chooseFile = [this](const std::string& folder, const std::string& name) {
    return chooseLogFile ? chooseLogFile(folder, name) : std::string();
  };
  dataLogBar_->log = [this](const std::string& line) { AddLogLine("%s", line.c_str()); };

  logPathEdit_ = new QLineEdit;
  logPathEdit_->setObjectName(QStringLiteral("logPathEdit"));
  logPathEdit_->setReadOnly(true);
  auto* browse = StepButton("browseButton", "Browse");
  auto* clear = StepButton("clearLogButton", "Clear Log");
  logEdit_ = new LogBox(kMaxLogEntries);

  auto* logGroup = new QGroupBox(QStringLiteral("Log"));
  auto* logLayout = new QVBoxLayout(logGroup);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(logPathEdit_, 1);
  pathRow->addWidget(browse);
  pathRow->addWidget(clear);
  logLayout->addLayout(pathRow);
  logLayout->addWidget(logEdit_, 1);

  auto* root = new QVBoxLayout(this);
  root->setMenuBar(menuBar);
  root->addWidget(banner_);
  root->addLayout(steps);
  root->addWidget(tabWidget_, 3);
  root->addWidget(dataLogBar_);
  root->addWidget(logGroup, 2);

  connect(connectionButton_, &QPushButton::clicked, this, [this] { OpenSettingsSheet(kPageConnection, false); });
  connect(requestButton_, &QPushButton::clicked, this, [this] { OpenSettingsSheet(kPageRequest, false); });
  connect(pollFrequencyButton_, &QPushButton::clicked, this,
          [this] { OpenSettingsSheet(kPagePollFrequency, false); });
  // Kept from the original layout but never shown; it opens the sheet like Connection.
  auto* openSettings = StepButton("openSettingsButton", "Open Settings");
  openSettings->setParent(this);
  openSettings->hide();
  connect(openSettings, &QPushButton::clicked, this, [this] { OpenSettingsSheet(kPageConnection, false); });
  connect(startButton_, &QPushButton::clicked, this, [this] { OnStartClicked(); });
  connect(stopButton_, &QPushButton::clicked, this, [this] { Stop(); });
  connect(closeButton_, &QPushButton::clicked, this, [this] { OnCloseRequest(); });
  connect(browse, &QPushButton::clicked, this, [this] { OnBrowseLogFile(); });
  connect(clear, &QPushButton::clicked, this, [this] { OnClearLog(); });

  resize(800, 760);
  ResetStatistics();
}

void CMainDlg::ResetStatistics() {
  if (CurrentPoll() < session_->Count()) session_->ResetStatistics(CurrentPoll());
  ShowStatistics(CurrentPoll());
}

void CMainDlg::ShowStatistics(int poll) {
  if (poll < 0 || poll >= static_cast<int>(tabs_.size())) return;
  tabs_[static_cast<std::size_t>(poll)]->ShowStatistics(
      (poll < session_->Count() ? session_->Statistics(poll) : PollStatistics()).StatusLine());
}

std::int64_t CMainDlg::MarkClockMs() const {
  if (markClock) return markClock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// --- timers -------------------------------------------------------------------------

void CMainDlg::SetTimer(int id, int periodMs) {
  QTimer* t = timers_.at(static_cast<std::size_t>(id));
  t->start(std::max(periodMs, 1));  // restarts a running timer
}

void CMainDlg::KillTimer(int id) { timers_.at(static_cast<std::size_t>(id))->stop(); }

bool CMainDlg::IsTimerArmed(int id) const { return timers_.at(static_cast<std::size_t>(id))->isActive(); }

int CMainDlg::TimerPeriod(int id) const { return timers_.at(static_cast<std::size_t>(id))->interval(); }

void CMainDlg::OnTimer(int id) {
  switch (id) {
    case TIMER_STARTUP:
      StartUp();
      break;
    case TIMER_REPLY:  // counts the reply wait, and takes what has come
    case TIMER_POLL:   // a poll falls due, or a connect's bound
      session_->TimePassed();
      AfterSession();
      break;
    case TIMER_STATUS:
      UpdateStartButton();
      break;
    case TIMER_VERSION_CHECK:
      CheckForNewVersion();
      break;
    case TIMER_BANNER:
      RotateBanner();
      break;
    case TIMER_CHANGES: {
      // Each mark lasts its own moment: the ones due go, and the timer waits for the next.
      KillTimer(TIMER_CHANGES);
      int next = -1;
      for (PollTab* tab : tabs_) {
        const int due = tab->model()->ExpireChanges(MarkClockMs(), kChangeMarkMs);
        if (due >= 0 && (next < 0 || due < next)) next = due;
      }
      if (next >= 0) SetTimer(TIMER_CHANGES, next);
      break;
    }
    default:
      break;
  }
}

// --- start-up -----------------------------------------------------------------------

void CMainDlg::StartUp() {
  KillTimer(TIMER_STARTUP);
  settings_.Load();
  SetPortFolder(settings_.startup_path);
  m_logSaveFailed = false;
  m_logFilePath = settings_.logfile_path;
  ShowLogFilePath();
  dataLogBar_->Load();
  WriteDebugLog("Log path %s", m_logFilePath.c_str());
  WriteDebugLog("Start up path %s", settings_.startup_path.c_str());
  AddLogLine("Starting up");
  SetTimer(TIMER_STATUS, 500);
  m_pollCount = 0;
  m_respCount = 0;
  // The line and its first poll, settings.ini's request. With a poll frequency, its first
  // poll comes a period from now; start-up sends none.
  session_->SetConnection(ConnectionFromSettings());
  tabs_.front()->shown = DefinitionFromSettings();
  tabs_.front()->lastPollTime = Now();
  session_->Add(tabs_.front()->shown);
  UpdateConnectionSummary();
  UpdateRequestSummary();
  ValidateRequest();
  UpdatePollFrequencySummary();
  UpdateStartButton();
  if (workspaceAtStartUp.empty() || !OpenWorkspace(std::exchange(workspaceAtStartUp, {}))) ConnectSerialPort();
  if (settings_.poll_frequency > 0) WriteDebugLog("Poll frequency: %d", settings_.poll_frequency);
  if (settings_.check_for_updates) SetTimer(TIMER_VERSION_CHECK, 100);
}

// --- summaries ----------------------------------------------------------------------

bool CMainDlg::SetSummary(QPushButton* button, const std::string& text) {
  const QString caption = QString::fromStdString(text);
  const bool changed = button->text().compare(caption, Qt::CaseInsensitive) != 0;
  button->setText(caption);  // wraps in the button's room, which it keeps
  return changed;
}

void CMainDlg::UpdateRequestSummary() {
  // The usage report keeps its own text, of the first poll; the button names the function
  // too, of the poll in front.
  tattler_.SetValue("RequestString",
                    RequestSummary(settings_.request_id, settings_.request_offset, settings_.request_length));
  if (SetSummary(requestButton_, RequestText())) {
    AddLogLine("Request string has been updated: %s ", RequestText().c_str());
  }
}

std::string CMainDlg::RequestText() const {
  if (const PollDefinition& m = CurrentDefinition(); m.byMap && !m.map.empty()) return MapRequestCaption(m);
  if (CurrentPoll() == 0) {
    return RequestCaption(settings_.request_function_code, settings_.request_id, settings_.request_offset,
                          settings_.request_length);
  }
  const PollDefinition& d = CurrentDefinition();
  return RequestCaption(d.function, d.slaveId, d.offset, d.length);
}

int CMainDlg::PeriodShown() const {
  return CurrentPoll() == 0 ? settings_.PollPeriodMs() : CurrentDefinition().periodMs;
}

void CMainDlg::UpdateConnectionSummary() {
  const std::string text = CurrentConnectionText();
  tattler_.SetValue("ConnectionString", text);
  if (SetSummary(connectionButton_, text)) {
    AddLogLine("Connection string has been updated: %s ", text.c_str());
  }
}

void CMainDlg::UpdatePollFrequencySummary() {
  const std::string text = PollFrequencySummary(PeriodShown());
  if (SetSummary(pollFrequencyButton_, text)) {
    AddLogLine("Frequency string has been updated: %s ", text.c_str());
    if (CurrentPoll() == 0) tattler_.SetValue("PollFrequency", text);
  }
}

// --- poll cycle ---------------------------------------------------------------------

PollDefinition CMainDlg::DefinitionFromSettings() const {
  PollDefinition d = WorkspaceFromSettings(settings_).polls.front();
  d.periodMs = std::max(d.periodMs, 0);  // a negative period polls once
  return d;
}

LineConnection CMainDlg::ConnectionFromSettings() const { return WorkspaceFromSettings(settings_).connection; }

void CMainDlg::SyncDefinition() {
  if (session_->Count() == 0) return;
  PollDefinition d = DefinitionFromSettings();
  const PollDefinition& now = session_->Definition(0);
  d.name = now.name;  // settings.ini keeps no name
  d.enabled = now.enabled;
  d.unknownFields = now.unknownFields;
  d.map = now.map, d.byMap = now.byMap, d.mergeGap = now.mergeGap;  // settings.ini keeps no map
  ShowRequest(0, d);
  if (!(d == now)) session_->Change(0, d);
}

void CMainDlg::ShowRequest(int poll, const PollDefinition& d) {
  // Rows that answer another question (another slave, function, offset or length) must not
  // stand beside the new one's: they go; the same question's rows stay until its reply.
  PollTab* tab = tabs_.at(static_cast<std::size_t>(poll));
  const PollDefinition& shown = tab->shown;
  if (d.slaveId != shown.slaveId || d.function != shown.function || d.offset != shown.offset ||
      d.length != shown.length || d.byMap != shown.byMap || (d.byMap && d.map != shown.map)) {
    tab->Clear();
  }
  tab->shown = d;
}

void CMainDlg::SyncConnection() { session_->SetConnection(ConnectionFromSettings()); }

void CMainDlg::SyncTimeout() {
  LineConnection c = session_->connection();
  c.timeoutMs = settings_.recv_time_out;
  session_->SetConnection(c);
}

void CMainDlg::Poll() {
  if (scanning_ || session_->Count() == 0) return;  // a scan has the line; polling goes on after it
  SyncTimeout();
  SyncDefinition();
  session_->PollDue(CurrentPoll());
  AfterSession();
}

void CMainDlg::OnStartClicked() {
  if (scanning_ || session_->Count() == 0) return;
  SyncTimeout();
  SyncDefinition();
  session_->Start(CurrentPoll());
  AfterSession();
}

void CMainDlg::Stop() {
  if (session_->Count() == 0) return;
  session_->Stop(CurrentPoll());
  AfterSession();
}

void CMainDlg::StartAll() {
  if (scanning_ || session_->Count() == 0) return;
  SyncTimeout();
  SyncDefinition();
  session_->StartAll();
  AfterSession();
}

void CMainDlg::StopAll() {
  session_->StopAll();
  AfterSession();
}

void CMainDlg::QueueWrite(std::vector<WriteFrame> requests) {
  session_->Write(CurrentPoll(), std::move(requests));
  AfterSession();
}

unsigned CMainDlg::ReplyWaitMs() const {
  return CurrentPoll() < session_->Count() && session_->OnLine(CurrentPoll()) ? session_->ReplyWaitMs() : 0;
}

std::string CMainDlg::CurrentConnectionText() const { return ConnectionSummary(ConnectionFromSettings()); }

void CMainDlg::AfterSession() {
  UpdateTimers();
  UpdateStartButton();
}

void CMainDlg::UpdateTimers() {
  // The watch: a connect under way, or the link while a reply is awaited.
  watch_->Watch(session_->Watching(), session_->WatchHandle());
  // The reply tick counts the wait while a reply is awaited; it keeps its phase.
  if (!session_->AwaitingReply()) {
    KillTimer(TIMER_REPLY);
  } else if (!IsTimerArmed(TIMER_REPLY)) {
    SetTimer(TIMER_REPLY, m_replyTickMs);
  }
  // The poll timer wakes the session when a poll falls due (or a connect's bound comes);
  // while a reply is awaited, the exchange's end starts what is due.
  const TimePoint now = session_->Now();
  TimePoint wake = session_->AwaitingReply() ? session_->NextPollDue() : session_->NextWake();
  if (wake == TimePoint::max()) {
    KillTimer(TIMER_POLL);
    return;
  }
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
  if (session_->AwaitingReply()) ms = std::max<long long>(ms, m_replyTickMs);
  SetTimer(TIMER_POLL, static_cast<int>(std::clamp<long long>(ms, 1, INT_MAX)));
}

void CMainDlg::StopPolling() {
  settings_.SetPollPeriodMs(0);
  UpdatePollFrequencySummary();
  SyncDefinition();
}

// --- what the session reports ---------------------------------------------------------

void CMainDlg::OnLog(int poll, const std::string& text) {
  UpdateTimers();  // the log file's box may run an event loop: the timers must be right by then
  // With more than one poll on the line, each line says whose it is.
  if (poll >= 0 && session_->Count() > 1) {
    AddLogLine("[%s] %s", PollName(poll).c_str(), text.c_str());
  } else {
    AddLogLine("%s", text.c_str());
  }
}

void CMainDlg::OnPollAttempt(int) {
  ++m_pollCount;
  tattler_.SetValue("PollCount", std::to_string(m_pollCount));
}

void CMainDlg::OnSent(int poll) {
  tabs_.at(static_cast<std::size_t>(poll))->lastPollTime = Now();
  ShowStatistics(poll);
}

void CMainDlg::OnReply(int poll, const ModbusMaster& master) {
  UpdateTimers();
  ShowStatistics(poll);
  ++m_respCount;
  tattler_.SetValue("RespCount", std::to_string(m_respCount));
  DisplayResponse(poll, &master);
}

void CMainDlg::OnPollFailed(int poll, const LineFailure& failure) {
  ShowStatistics(poll);
  tabs_.at(static_cast<std::size_t>(poll))->model()->SetStale(true);  // the last good values, no longer fresh
  if (!failure.explain) return;
  // The session has put polling back to once: the settings and the summary follow, and the
  // timers too, before the box, so that nothing polls while it is up.
  if (poll == 0 && session_->Definition(0).periodMs == 0 && settings_.PollPeriodMs() != 0) {
    settings_.SetPollPeriodMs(0);
  }
  if (poll == CurrentPoll()) UpdatePollFrequencySummary();
  AfterSession();
  if (failure.boxType == kPanicBox) {
    Panic(kMainDialogSource, __LINE__, __DATE__, __TIME__, failure.text.c_str());
  } else {
    MessageAndLog(failure.boxType, "%s", failure.text.c_str());
  }
}

void CMainDlg::OnWriteFailed(int poll, const WriteFrame&, const LineFailure& failure) {
  ShowStatistics(poll);
  AfterSession();  // polling goes on under the box
  MessageAndLog(failure.boxType, "%s", failure.text.c_str());
}

void CMainDlg::OnLineLost() {
  for (int i = 0; i < static_cast<int>(tabs_.size()); ++i) {
    ShowStatistics(i);
    tabs_[static_cast<std::size_t>(i)]->model()->SetStale(true);
  }
  UpdateStartButton();
}

void CMainDlg::SendPdu(int slaveId, std::vector<std::uint8_t> pdu, std::function<void(const PduOutcome&)> done) {
  const int tag = nextPduTag_++;
  pduDone_[tag] = std::move(done);
  session_->Send({slaveId, std::move(pdu), tag});
  AfterSession();
}

PduSender CMainDlg::PduSenderOfLine() {
  return [this](int slaveId, std::vector<std::uint8_t> pdu, std::function<void(const PduOutcome&)> done) {
    SendPdu(slaveId, std::move(pdu), std::move(done));
  };
}

void CMainDlg::OnPduDone(const PduOutcome& outcome) {
  const auto waiter = pduDone_.extract(outcome.tag);
  if (!waiter.empty() && waiter.mapped()) waiter.mapped()(outcome);
}

int CMainDlg::CurrentSlaveId() const { return CurrentDefinition().slaveId; }

void CMainDlg::OnConnectFailed(const std::string& text) {
  UpdateTimers();
  ShowMessage("%s", text.c_str());
}

void CMainDlg::OnConnectWarning(const std::string& text, bool box) {
  if (box) {
    ShowMessage("%s", text.c_str());
  } else {
    AddLogLine("%s", text.substr(0, text.find('\n')).c_str());
  }
}

// --- writes -------------------------------------------------------------------------

void CMainDlg::OpenWriteDialog(std::vector<int> rows) {
  const int poll = CurrentPoll();
  const ResponseTable& table = CurrentTab()->model()->table();
  if (!table.headings.empty()) return rows.empty() ? void() : WriteMapItem(rows.front());  // read by map
  if (const std::string readOnly = ReadOnlyText(table.function); !readOnly.empty()) {
    ShowMessage("%s", readOnly.c_str());
    return;
  }
  const PollDefinition& d = CurrentDefinition();
  CWriteDlg dialog(MakeWriteTarget(table, std::move(rows), d.slaveId, d.view.wordOrder),
                   settings_.always_write_multiple != 0, this);
  const int result = runWriteDialog ? runWriteDialog(dialog) : dialog.exec();
  if (result != QDialog::Accepted) return;
  if (dialog.alwaysMultiple() != (settings_.always_write_multiple != 0)) {
    settings_.always_write_multiple = dialog.alwaysMultiple() ? 1 : 0;
    settings_.Save();
  }
  session_->Write(poll, dialog.requests());
  AfterSession();
}

void CMainDlg::UpdateStartButton() {
  if (scanning_) {
    startButton_->setText(QStringLiteral("Scanning"));
    startButton_->setEnabled(false);
    stopButton_->setEnabled(false);
    return;
  }
  if (session_->Connecting()) {
    startButton_->setText(QStringLiteral("Connecting"));
    startButton_->setEnabled(false);
    stopButton_->setEnabled(true);
    return;
  }
  const int poll = CurrentPoll();
  if (poll >= session_->Count()) return;  // before start-up
  const PollDefinition& d = session_->Definition(poll);
  const std::time_t last = tabs_.at(static_cast<std::size_t>(poll))->lastPollTime;
  StartButtonState s = ComputeStartButton(session_->IsOpen(), ReplyWaitMs(), d.enabled ? d.periodMs : 0, last,
                                          Now(), session_->Stopped(poll));
  if (s.pollNow) {
    // The countdown ran out: a second trigger beside the poll timer, as the first release had.
    session_->PollDue(poll);
    UpdateTimers();
    s = ComputeStartButton(session_->IsOpen(), ReplyWaitMs(), d.periodMs, last, Now(), session_->Stopped(poll));
    if (s.pollNow) s.caption = "Polling";
  }
  startButton_->setText(QString::fromStdString(s.caption));
  startButton_->setEnabled(s.enabled);
  stopButton_->setEnabled(session_->Polling(poll) || session_->OnLine(poll));
}

ScannerSettings& CMainDlg::RequestSettings() {
  if (CurrentPoll() == 0 || CurrentPoll() >= session_->Count()) return settings_;
  pollSettings_ = settings_;
  const PollDefinition& d = CurrentDefinition();
  pollSettings_.request_id = d.slaveId;
  pollSettings_.request_function_code = d.function;
  pollSettings_.request_offset = d.offset;
  pollSettings_.request_length = d.length;
  pollSettings_.SetPollPeriodMs(d.periodMs);
  pollSettings_.keep_polling_on_failure = d.policy == FailurePolicy::KeepPolling ? 1 : 0;
  return pollSettings_;
}

void CMainDlg::StoreRequest(const ScannerSettings& req) {
  const int poll = CurrentPoll();
  if (&req == &settings_ || poll == 0) {
    SyncDefinition();
    return;
  }
  PollDefinition d = session_->Definition(poll);
  d.slaveId = req.request_id;
  d.function = req.request_function_code;
  d.offset = req.request_offset;
  d.length = req.request_length;
  d.periodMs = std::max(req.PollPeriodMs(), 0);
  d.policy = req.keep_polling_on_failure != 0 ? FailurePolicy::KeepPolling : FailurePolicy::StopAndExplain;
  ShowRequest(poll, d);
  if (!(d == session_->Definition(poll))) session_->Change(poll, d);
}

void CMainDlg::ValidateRequest() {
  const PollDefinition d = CurrentPoll() == 0 ? DefinitionFromSettings() : CurrentDefinition();
  const int check = CheckRequestSettings(d.function, d.slaveId, d.offset, d.length);
  if (check == MB_REQUEST_OK) return;
  if (const std::string text = RequestErrorText(check); !text.empty()) {
    ShowMessage("%s", text.c_str());
  } else if (check == MB_REQUEST_UNKNOWN_FUNCTION_CODE) {
    Panic(kMainDialogSource, __LINE__, __DATE__, __TIME__, kUnknownFunctionCodePanic);
  } else {
    Panic(kMainDialogSource, __LINE__, __DATE__, __TIME__, kUnknownValidationPanic);
  }
  OpenSettingsSheet(kPageRequest, true);
}

int CMainDlg::ConnectSerialPort() {
  SyncConnection();
  const LineSession::OpenResult result = session_->Connect();
  // The Start button follows at the next status refresh, as it always did ("Not connected"
  // until then at start-up); a connect under way says so at once.
  UpdateTimers();
  if (result == LineSession::OpenResult::Pending) UpdateStartButton();
  return result == LineSession::OpenResult::Open ? 1 : 0;
}

// --- activity log -------------------------------------------------------------------

void CMainDlg::AddLogLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const std::string screen = FormatLimited(format, args);
  va_end(args);
  const std::string file = FormatWhole(format, again);  // the file gets the message uncut
  va_end(again);
  AddLogText(screen, file);
}

void CMainDlg::AddLogText(const std::string& screenText, const std::string& fileText) {
  const std::string prefix = LogTimePrefix();

  logEdit_->Prepend(prefix + screenText);  // newest on top, a bounded number kept

  WriteDebugLogText(screenText);

  if (m_logFilePath.empty()) return;
  if (AppendLogRecord(m_logFilePath, prefix + fileText)) {
    m_logSaveFailed = false;
  } else if (!m_logSaveFailed) {
    m_logSaveFailed = true;  // set first: the box runs its own event loop
    ShowUnloggedBox("Can not save to log", kBoxOk);
  }
}

QString CMainDlg::LogText() const { return logEdit_->toPlainText(); }

void CMainDlg::ShowLogFilePath() { logPathEdit_->setText(QString::fromStdString(m_logFilePath)); }

void CMainDlg::OnClearLog() {
  logEdit_->Clear();
  AddLogLine("Log cleared");
}

void CMainDlg::OnBrowseLogFile() {
  const std::string path = chooseLogFile ? chooseLogFile(settings_.startup_path, "log.txt") : "";
  // Linux allows a line feed in a file name, but settings.ini cannot keep one.
  if (!StorableInSettings(path)) {
    ShowMessage("Error - The log file name can not be used\n\nThe name chosen contains a line break or another "
                "control character, which the settings file can not keep.\nThe log file stays %s\n\n"
                "Choose a name without such characters and try again.",
                m_logFilePath.c_str());
    ShowLogFilePath();
    return;
  }
  const auto slash = path.rfind('/');
  if (!path.empty() && slash != std::string::npos && slash > 0) {
    settings_.logfile_path = path;
    settings_.Save();
    m_logFilePath = settings_.logfile_path;
  }
  ShowLogFilePath();
}

// --- response table -----------------------------------------------------------------

void CMainDlg::EmptyResponseList() { CurrentTab()->Clear(); }

void CMainDlg::DisplayResponse(const ModbusMaster* master) { DisplayResponse(CurrentPoll(), master); }

void CMainDlg::DisplayResponse(int poll, const ModbusMaster* master) {
  const ViewOptions v = session_->Definition(poll).view;
  ResponseTable table = MakeResponseTableOrPanic(master, v.wordOrder, v.show64, v.wireAddress);
  if (table.fill == TableFill::Unchanged) return;
  ShowTable(poll, std::move(table), master->request_slave_id);
}

void CMainDlg::ShowTable(int poll, ResponseTable table, int device) {
  const std::string name = session_->Count() > 1 ? PollName(poll) : std::string();
  dataLogBar_->Append(table, name);
  PollTab* tab = tabs_.at(static_cast<std::size_t>(poll));
  // Armed for the oldest mark; marks made meanwhile are seen to when it ticks.
  if (tab->Show(std::move(table), MarkClockMs()) && tab->model()->HasChanges() && !IsTimerArmed(TIMER_CHANGES)) {
    SetTimer(TIMER_CHANGES, kChangeMarkMs);
  }
  RefreshNames(poll);
  if (chart_) chart_->AddReply(tab->model()->table(), device, name);
  ShowLogFilePath();
}

WordOrder CMainDlg::TableWordOrder() const {
  WordOrder order = WordOrder::LowFirst;
  WordOrderFromInt(settings_.word_order, order);
  return order;
}

void CMainDlg::SetTableFormat(int wordOrder, int show64bit) {
  SetTableFormat(wordOrder, show64bit, CurrentDefinition().view.wireAddress ? 1 : 0);
}

void CMainDlg::SetTableFormat(int wordOrder, int show64bit, int wireAddress) {
  const int poll = CurrentPoll();
  if (poll >= session_->Count()) return;
  PollDefinition d = session_->Definition(poll);
  ViewOptions v;
  WordOrderFromInt(wordOrder, v.wordOrder);
  v.show64 = show64bit != 0;
  v.wireAddress = wireAddress != 0;
  if (v == d.view) return;
  d.view = v;
  session_->Change(poll, d);
  if (poll == 0) {  // the first poll's are kept in settings.ini
    settings_.word_order = static_cast<int>(v.wordOrder);
    settings_.show_64bit = show64bit;
    settings_.show_wire_address = wireAddress;
    settings_.Save();
  }
  AddLogLine("Table format: %s%s%s", WordOrderCaption(v.wordOrder), v.show64 ? ", with 64-bit columns" : "",
             v.wireAddress ? ", with addresses on the wire" : "");
  // Read again at once, so that the cells show the new format (when the line is free).
  if (CurrentTab()->model()->rowCount() > 0 && !IsTimerArmed(TIMER_REPLY) && master_.IsOpen()) Poll();
}

std::vector<int> CMainDlg::SelectedRows() const { return CurrentTab()->SelectedRows(); }

void CMainDlg::CopyRows(bool all) { CurrentTab()->CopyRows(all); }

void CMainDlg::SaveTableAsCsv() {
  const ResponseModel* model = CurrentTab()->model();
  if (model->rowCount() == 0) {
    ShowMessage("There are no values to save yet: poll the device first.");
    return;
  }
  const std::string path = chooseExportFile ? chooseExportFile(settings_.startup_path, "table.csv") : "";
  if (path.empty()) return;
  const std::string text = TableAsText(model->table(), {}, TextFormat::Csv);
  bool written = false;
  errno = 0;
  if (std::FILE* f = std::fopen(path.c_str(), "w")) {
    written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    written = std::fclose(f) == 0 && written;
  }
  if (!written) {
    ShowMessage("Error - The table could not be saved\n\nThe file %s could not be written: %s.\n\n"
                "Choose another folder or name and try again.",
                path.c_str(), errno != 0 ? std::strerror(errno) : "the disk may be full");
    return;
  }
  AddLogLine("Table saved as %s", path.c_str());
}

void CMainDlg::OpenChart() {
  const PollTab* tab = CurrentTab();
  std::vector<int> rows = tab->SelectedRows();
  if (rows.empty()) {
    rows.resize(static_cast<std::size_t>(tab->model()->rowCount()));
    std::iota(rows.begin(), rows.end(), 0);
  }
  if (!chart_) {
    chart_ = new CTrendChartDlg(this);
    chart_->source = [this] {
      const PollDefinition& d = CurrentDefinition();
      return ChartSource{CurrentConnectionText(), d.slaveId, d.function, d.offset, d.length};
    };
  }
  chart_->AddRows(tab->model()->table(), CurrentDefinition().slaveId, rows,
                  session_->Count() > 1 ? PollName(CurrentPoll()) : std::string());
  chart_->show();
  chart_->raise();
  chart_->activateWindow();
}

CTrendChartDlg* CMainDlg::trendChart() const { return chart_; }

bool CMainDlg::IsCursorOnWriteColumn(const QPoint& viewportPos) const {
  return CurrentTab()->IsCursorOnWriteColumn(viewportPos);
}

void CMainDlg::OnResponseListClick(const QPoint& viewportPos) {
  PollTab* tab = CurrentTab();
  if (!tab->IsCursorOnWriteColumn(viewportPos)) return;
  const int clicked = tab->view()->indexAt(viewportPos).row();
  std::vector<int> rows = tab->SelectedRows();
  if (std::find(rows.begin(), rows.end(), clicked) == rows.end()) rows = {clicked};
  OpenWriteDialog(std::move(rows));
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == banner_ && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    OnBannerClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

// --- settings sheet -----------------------------------------------------------------

bool settingsSheetOpen = false;

void CMainDlg::OpenSettingsSheet(int startPage, bool force) {
  if (settingsSheetOpen && !force) return;
  settingsSheetOpen = true;

  // Owned by the main window so that the window manager keeps the sheet above it.
  CTreePropSheet sheet(QString::fromStdString(LoadResourceText(1)), this, 0);
  sheet.EnableTreeMode(true, true, false);
  auto* connection = new CSettings_connectionDlg2(settings_);
  auto* contact = new CSettings_contact_usDlg;
  auto* about = new CSettings_aboutDlg;
  auto* autoUpdate = new CSettings_auto_updateDlg(settings_);
  // The Request and Poll frequency pages edit the poll in front: settings.ini's for the
  // first, a copy holding its own values for another.
  ScannerSettings& req = RequestSettings();
  auto* request = new CSettings_requestDlg(req);
  auto* poll = new CSettings_PollFrequencyDlg(req);
  // The request's preview shows the frame of the mode chosen meanwhile.
  connect(connection, &CSettings_connectionDlg2::modeChanged, request, &CSettings_requestDlg::SetMode);
  for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{connection, contact, about, autoUpdate, request, poll}) {
    sheet.AddPage(page);
  }
  switch (startPage) {
    case kPageAbout:
      sheet.SetActivePage(about);
      break;
    case kPageRequest:
      sheet.SetActivePage(request);
      break;
    case kPagePollFrequency:
      sheet.SetActivePage(poll);
      break;
    default:
      sheet.SetActivePage(connection);
      break;
  }

  const int result = runSettingsSheet ? runSettingsSheet(sheet) : sheet.exec();
  if (result == QDialog::Accepted) {
    if (autoUpdate->auto_check != settings_.check_for_updates) {
      settings_.check_for_updates = autoUpdate->auto_check;
      if (settings_.check_for_updates != 0) SetTimer(TIMER_VERSION_CHECK, 3600000);
    }

    if (!connection->Matches(settings_) || (!master_.IsOpen() && !session_->Connecting())) {
      connection->StoreIn(settings_);
      for (PollTab* tab : tabs_) tab->Clear();  // the line's, shared by every poll
      UpdateConnectionSummary();
      ConnectSerialPort();
    }

    if (request->request_function_code < 1 || request->request_function_code > 4) request->request_function_code = 1;
    if (request->request_offset == 0) request->request_offset = 1;
    if (request->request_id != req.request_id || request->request_length != req.request_length ||
        request->request_offset != req.request_offset || request->request_function_code != req.request_function_code) {
      req.request_id = request->request_id;
      req.request_length = request->request_length;
      req.request_offset = request->request_offset;
      req.request_function_code = request->request_function_code;
      StoreRequest(req);
      UpdateRequestSummary();
      EmptyResponseList();
    }
    ValidateRequest();  // a request that fails opens a further sheet on "Request" here

    req.keep_polling_on_failure = poll->keep_polling_on_failure;
    if (poll->poll_period_ms != req.PollPeriodMs()) {
      req.SetPollPeriodMs(poll->poll_period_ms);  // a negative period polls once
      StoreRequest(req);  // a new period starts now, and lifts a Stop
      UpdatePollFrequencySummary();
      if (req.poll_frequency > 0) {
        WriteDebugLog("Poll frequency: %d", req.poll_frequency);
        Poll();
      }
    }
    StoreRequest(req);
    AfterSession();
    settings_.Save();
  }
  settingsSheetOpen = false;
}

// --- finding devices ----------------------------------------------------------------

void CMainDlg::PauseForScan() {
  scanning_ = true;
  session_->Pause("the scan");
  AfterSession();
}

void CMainDlg::ResumeAfterScan(bool lineChanged) {
  scanning_ = false;
  session_->Resume(lineChanged);
  AfterSession();
}

bool CMainDlg::SetScanLine(const LineSettings& line) {
  master_.Close();
  const int opened = settings_.device_path.empty()
                         ? line_.serial().Open(settings_.com_port, line.baud, line.parity, line.dataBits, line.stopBits)
                         : line_.serial().OpenDevice(settings_.device_path, line.baud, line.parity, line.dataBits,
                                                   line.stopBits);
  return opened != 0;
}

CBusMonitorDlg* CMainDlg::OpenBusMonitor() {
  auto* monitor = new CBusMonitorDlg(ConnectionFromSettings(), [this] {
    return line_.serial().IsOpen() ? line_.serial().Device() : std::string();
  }, this);
  monitor->setAttribute(Qt::WA_DeleteOnClose);
  monitor->show();
  return monitor;
}

CTrafficDlg* CMainDlg::OpenTraffic() {
  if (!traffic_) {
    traffic_ = new CTrafficDlg(this);
    traffic_->setAttribute(Qt::WA_DeleteOnClose);
  }
  traffic_->show();
  traffic_->raise();
  return traffic_;
}

CDiagnosticsDlg* CMainDlg::OpenDiagnostics() {
  if (!diagnostics_) {
    diagnostics_ = new CDiagnosticsDlg(PduSenderOfLine(), [this] { return CurrentSlaveId(); }, this);
    diagnostics_->setAttribute(Qt::WA_DeleteOnClose);
  }
  diagnostics_->show();
  diagnostics_->raise();
  return diagnostics_;
}

CTestCenterDlg* CMainDlg::OpenTestCenter() {
  if (!testCenter_) {
    testCenter_ = new CTestCenterDlg([this] { return Connection(); }, PduSenderOfLine(), CurrentSlaveId(), this);
    testCenter_->LoadHistory(workspace_.testCenter);
  }
  testCenter_->show();
  testCenter_->raise();
  testCenter_->activateWindow();
  return testCenter_;
}

void CMainDlg::OpenFindDevices() {
  PauseForScan();
  const LineSettings line{settings_.buad_rate, settings_.parity, settings_.data_bits,
                          settings_.stop_bits == 2 ? 2 : 1};
  CFindDevicesDlg dialog(master_, IsNetworkMode(ConnectionFromSettings().mode), CurrentConnectionText(), line, this);
  bool swept = false;
  dialog.setLine = [this, &swept](const LineSettings& l) {
    swept = true;
    return SetScanLine(l);
  };
  int chosenId = 0;
  std::optional<LineSettings> chosenLine;
  bool asNewPoll = false;
  dialog.chosen = [&](int id, const LineSettings* l, bool newPoll) {
    chosenId = id;
    if (l != nullptr) chosenLine = *l;
    asNewPoll = newPoll;
  };
  AddLogLine("Find devices: polling is paused");
  if (runFindDevices) {
    runFindDevices(dialog);
  } else {
    dialog.exec();
  }
  if (const DeviceScan* scan = dialog.scan()) {
    for (const ScanFind& f : scan->finds()) {
      const std::string where = f.line >= 0 ? LineSettingsText(scan->options().lines[static_cast<std::size_t>(f.line)])
                                            : CurrentConnectionText();
      AddLogLine("Found: %s", scan->FindText(f, where).c_str());
    }
  }
  if (chosenId == 0) {
    ResumeAfterScan(swept);
    return;
  }
  // The find is taken as the settings sheet's OK would take it (saved, and polled once):
  // into the poll in front, or as a new poll of the request the scan read.
  if (chosenLine) {
    settings_.buad_rate = chosenLine->baud;
    settings_.parity = chosenLine->parity;
    settings_.data_bits = chosenLine->dataBits;
    settings_.stop_bits = chosenLine->stopBits;
  }
  PollDefinition found;
  if (asNewPoll) {
    const ScanOptions& o = dialog.scan()->options();
    found.name = "Slave " + std::to_string(chosenId);
    found.slaveId = chosenId;
    found.function = o.function;
    found.offset = o.offset;
    found.length = o.length;
  } else {
    ScannerSettings& req = RequestSettings();
    req.request_id = chosenId;
    StoreRequest(req);
  }
  settings_.Save();
  UpdateConnectionSummary();
  UpdateRequestSummary();
  SyncConnection();  // the line settings found, opened as the scan ends
  SyncDefinition();  // the slave found, before a poll that fell due during the scan goes
  ResumeAfterScan(swept || chosenLine.has_value());
  if (asNewPoll) {
    const int poll = AddPoll(found);
    AddLogLine("New poll: %s", PollName(poll).c_str());
    tabWidget_->setCurrentIndex(poll);
  }
  Poll();
}

void CMainDlg::ShowDeviceIdentification() {
  if (!master_.IsOpen()) {
    ShowMessage("The connection is not open: check it on the Connection page, then ask again.");
    return;
  }
  PauseForScan();
  const PollDefinition& d = CurrentDefinition();
  ScanOptions options;
  options.firstId = options.lastId = d.slaveId;
  options.function = d.function >= 1 && d.function <= 4 ? d.function : 3;
  options.offset = d.offset;
  options.length = 1;
  options.timeoutMs = std::clamp(settings_.recv_time_out, kMinScanTimeoutMs, kMaxScanTimeoutMs);
  ScanDriver driver(master_);
  QEventLoop wait;
  driver.finished = [&wait] { wait.quit(); };
  driver.Start(options, nullptr);
  wait.exec();  // the window stays live meanwhile
  const std::string text = driver.scan()->IdentificationText();
  MessageAndLog(kBoxOk, "%s", text.c_str());
  ResumeAfterScan(false);
}

// --- polls as tabs ---------------------------------------------------------------------

int CMainDlg::CurrentPoll() const { return std::max(tabWidget_->currentIndex(), 0); }

QTableView* CMainDlg::responseList() const { return CurrentTab()->view(); }
ResponseModel* CMainDlg::responseModel() const { return CurrentTab()->model(); }
QLabel* CMainDlg::statusLine() const { return CurrentTab()->statusLine(); }

PollTab* CMainDlg::CurrentTab() const { return tabs_.at(static_cast<std::size_t>(CurrentPoll())); }

const PollDefinition& CMainDlg::CurrentDefinition() const {
  static const PollDefinition none;
  return CurrentPoll() < session_->Count() ? session_->Definition(CurrentPoll()) : none;
}

std::string CMainDlg::PollName(int poll) const {
  const std::string& name = poll < session_->Count() ? session_->Definition(poll).name : std::string();
  return name.empty() ? "Poll " + std::to_string(poll + 1) : name;
}

PollTab* CMainDlg::AddTab() {
  auto* tab = new PollTab;
  tab->view()->addActions(tableActions_);
  tab->writeClicked = [this](std::vector<int> rows) { OpenWriteDialog(std::move(rows)); };
  tab->resetClicked = [this] { ResetStatistics(); };
  WireMapTab(tab);
  tabs_.push_back(tab);
  tabWidget_->addTab(tab, QString::fromStdString(PollName(static_cast<int>(tabs_.size()) - 1)));
  ShowStatistics(static_cast<int>(tabs_.size()) - 1);
  return tab;
}

int CMainDlg::AddPoll(const PollDefinition& definition) {
  const int poll = session_->Add(definition);
  PollTab* tab = AddTab();
  tab->shown = definition;
  tab->lastPollTime = Now();
  tabWidget_->setTabText(poll, QString::fromStdString(PollName(poll)));
  AfterSession();
  return poll;
}

void CMainDlg::ShowCurrentPoll() {
  if (tabs_.empty() || session_->Count() == 0) return;
  // The steps show the poll in front; a tab chosen is no change of the request, so the log
  // gets no line for it.
  SetSummary(requestButton_, RequestText());
  SetSummary(pollFrequencyButton_, PollFrequencySummary(PeriodShown()));
  UpdateMapActions();
  UpdateStartButton();
}

void CMainDlg::NewPoll() {
  if (session_->Count() == 0) return;
  PollDefinition d;
  d.slaveId = CurrentDefinition().slaveId;  // most often the same device, another block
  d.function = 3;
  d.length = 10;
  d.name = "Poll " + std::to_string(session_->Count() + 1);
  const int poll = AddPoll(d);
  AddLogLine("New poll: %s", PollName(poll).c_str());
  tabWidget_->setCurrentIndex(poll);
  OpenSettingsSheet(kPageRequest, false);
}

void CMainDlg::DuplicatePoll() {
  if (session_->Count() == 0) return;
  PollDefinition d = CurrentDefinition();
  d.name = PollName(CurrentPoll()) + " (copy)";
  const int poll = AddPoll(d);
  AddLogLine("New poll: %s", PollName(poll).c_str());
  tabWidget_->setCurrentIndex(poll);
}

void CMainDlg::RenamePoll() {
  const int poll = CurrentPoll();
  if (poll >= session_->Count()) return;
  const std::string name = askText ? askText("Name of the poll", PollName(poll)) : std::string();
  if (name.empty() || name == PollName(poll)) return;
  PollDefinition d = session_->Definition(poll);
  AddLogLine("Poll %s is now %s", PollName(poll).c_str(), name.c_str());
  d.name = name;
  session_->Change(poll, d);
  tabWidget_->setTabText(poll, QString::fromStdString(name));
}

void CMainDlg::ClosePoll(int poll) {
  if (session_->Count() <= 1 || poll < 0 || poll >= session_->Count()) return;  // the last poll stays
  AddLogLine("Poll %s closed", PollName(poll).c_str());
  session_->Remove(poll);
  PollTab* tab = tabs_[static_cast<std::size_t>(poll)];
  tabs_.erase(tabs_.begin() + poll);
  tabWidget_->removeTab(poll);
  tab->deleteLater();
  if (poll == 0) FirstPollChanged();
  ShowCurrentPoll();
  AfterSession();
}

void CMainDlg::OnTabMoved(int from, int to) {
  session_->Move(from, to);
  PollTab* tab = tabs_[static_cast<std::size_t>(from)];
  tabs_.erase(tabs_.begin() + from);
  tabs_.insert(tabs_.begin() + to, tab);
  if (from == 0 || to == 0) FirstPollChanged();
}

void CMainDlg::FirstPollChanged() {
  // settings.ini keeps the first poll's request, for older readers and for a start without
  // a workspace.
  Workspace ws;
  ws.connection = ConnectionFromSettings();
  ws.polls.push_back(session_->Definition(0));
  StoreInSettings(ws, settings_);
  settings_.Save();
}

// --- close --------------------------------------------------------------------------

void CMainDlg::OnCloseRequest() {
  if (closing_) return;  // Close again while the report waits: it goes once
  closing_ = true;
  const std::string version = VersionText();
  tattler_.Report(kProductName, version);
  settings_.Save();
  accept();
}

void CMainDlg::reject() {
  if (!closing_) QDialog::reject();
}

// --- banner and version check ---------------------------------------------------------

void CMainDlg::RotateBanner() {
  // rand() unseeded on purpose: every run shows the same sequence, seven in ten slot 0.
  m_bannerIndex = std::rand() % 10;
  if (m_bannerIndex > 3) m_bannerIndex = 0;
  banner_->setPixmap(QPixmap(QString::fromLatin1(kBannerPictures[m_bannerIndex])));
}

void CMainDlg::OnBannerClick() {
  const std::string version = VersionText();
  switch (m_bannerIndex) {
    case 2:
      OpenInBrowser(WithReferral(VendorUrl("/forums/"), kProductName, version));
      break;
    case 3:
      OpenInBrowser(WithReferral(VendorUrl("/a/resources/BACnet/"), kProductName, version));
      break;
    default:
      Referral(kProductName, version);
      break;
  }
}

void CMainDlg::CheckForNewVersion() {
  SetTimer(TIMER_VERSION_CHECK, 3600000);
  if (!settings_.check_for_updates) {
    KillTimer(TIMER_VERSION_CHECK);
    return;
  }
  if (closing_) return;
  const int check = CheckVersion(kProductName, VersionText(), "");
  if (closing_) {
    // Close came while the answer was awaited: no question on top of a closing window.
    if (check > 0) WriteDebugLog("New version answer after closing began: not shown");
    return;
  }
  if (check > 0 && !versionPromptOpen) {
    versionPromptOpen = true;
    const int answer = MessageAndLog(
        kBoxYesNo,
        "There is a new version of this application available.\nWould you like to download the "
        "new version?");
    if (answer == IDYES) {
      OpenInBrowser(VendorUrl("/files/resources/Installer_Vantrel Modbus Scanner.exe"));
    }
    versionPromptOpen = false;
  }
}

}  // namespace vantrel
