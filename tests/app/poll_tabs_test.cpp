// Several polls on one line, each a tab of the window: polled side by side, named in the log,
// renamed, duplicated, moved and closed, and kept in workspace files.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <fstream>
#include <functional>

#include "app/MainWindowTest.h"
#include "app/PollTab.h"
#include "session/Workspace.h"
#include "support/LibmodbusSlave.h"

using namespace vantrel;
using namespace std::chrono_literals;
using vantrel::test::MainWindow;
using vantrel::test::ReadFile;

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 5000) { return QTest::qWaitFor(done, ms); }

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

PollDefinition Block(const char* name, int slave, int function, int offset, int length, int periodMs) {
  PollDefinition d;
  d.name = name;
  d.slaveId = slave;
  d.function = function;
  d.offset = offset;
  d.length = length;
  d.periodMs = periodMs;
  return d;
}

}  // namespace

class PollTabs : public MainWindow {
 protected:
  void SetUp() override {
    StartSlave({"-a", "1,2", "-b", "115200"});
    WriteSettings("request_function_code=3\nrequest_length=2\npoll_frequency=1\npoll_period_ms=200\n");
    StartWindow();
    dlg_->askText = [this](const std::string&, const std::string&) { return answer_; };
  }
  std::string Log() const { return dlg_->LogText().toStdString(); }
  std::vector<std::vector<std::string>> RowsOf(int poll) const {
    return dlg_->pollTab(poll)->model()->table().rows;
  }

  std::string answer_;
};

// Two blocks of two devices on one line: each polled at its own period in a tab of its own,
// values kept current in the tab behind, each counted on its own status line, and each log
// line naming its poll. The steps act on the tab in front.
TEST_F(PollTabs, two_polls_share_the_line) {
  QTabBar* bar = dlg_->pollTabs()->tabBar();
  EXPECT_FALSE(bar->isVisibleTo(dlg_.get())) << "one poll: the first release's window, no tab bar";
  const int input = dlg_->AddPoll(Block("Inputs", 2, 4, 10, 3, 300));
  EXPECT_EQ(input, 1);
  EXPECT_TRUE(bar->isVisibleTo(dlg_.get()));
  EXPECT_EQ(bar->tabText(1), "Inputs");
  EXPECT_EQ(bar->tabText(0), "Poll 1");
  ASSERT_TRUE(WaitFor([&] { return RowsOf(0).size() == 2 && RowsOf(1).size() == 3; }));
  EXPECT_EQ(RowsOf(0)[1][5], "2") << "holding register 2 of slave 1";
  EXPECT_EQ(RowsOf(1)[0][5], "100") << "input register 10 of slave 2, the tab behind";
  EXPECT_NE(Log().find("] [Inputs] =>Request: 02 04 00 09 00 03 "), std::string::npos) << Log();
  EXPECT_NE(Log().find("] [Poll 1] <= Responce: 00 01 00 02 "), std::string::npos);

  // The steps show and act on the tab in front; choosing a tab logs nothing.
  const int updates = Count(Log(), "string has been updated");
  dlg_->pollTabs()->setCurrentIndex(1);
  EXPECT_EQ(dlg_->requestButton()->text(), "04 Input registers, Device: 2 Offset: 10 Length: 3");
  EXPECT_EQ(dlg_->pollFrequencyButton()->text(), "0.3 seconds");
  EXPECT_EQ(Count(Log(), "string has been updated"), updates);
  dlg_->stopButton()->click();
  EXPECT_TRUE(dlg_->session().Stopped(1));
  const std::int64_t inputPolls = dlg_->session().Statistics(1).polls();
  const std::int64_t firstPolls = dlg_->session().Statistics(0).polls();
  QTest::qWait(700);
  EXPECT_EQ(dlg_->session().Statistics(1).polls(), inputPolls) << "stopped";
  EXPECT_GE(dlg_->session().Statistics(0).polls(), firstPolls + 2) << "the other polls on";
  EXPECT_EQ(dlg_->statusLine()->text().toStdString(), dlg_->session().Statistics(1).StatusLine());
  EXPECT_EQ(dlg_->pollTab(0)->statusLine()->text().toStdString(), dlg_->session().Statistics(0).StatusLine());

  // Stop all, then Start all.
  dlg_->StopAll();
  EXPECT_TRUE(dlg_->session().Stopped(0));
  dlg_->StartAll();
  ASSERT_TRUE(WaitFor([&] { return dlg_->session().Statistics(1).polls() > inputPolls; }));
  EXPECT_FALSE(dlg_->session().Stopped(0));
  EXPECT_TRUE(box_.boxes.empty());
}

// Rename, duplicate, move and close: the session follows the tabs, and settings.ini keeps
// the first poll's request.
TEST_F(PollTabs, tabs_are_renamed_duplicated_moved_and_closed) {
  dlg_->AddPoll(Block("Inputs", 2, 4, 10, 3, 0));
  dlg_->pollTabs()->setCurrentIndex(1);
  answer_ = "Flow";
  dlg_->RenamePoll();
  EXPECT_EQ(dlg_->pollTabs()->tabText(1), "Flow");
  EXPECT_EQ(dlg_->session().Definition(1).name, "Flow");
  dlg_->DuplicatePoll();
  ASSERT_EQ(dlg_->PollCount(), 3);
  EXPECT_EQ(dlg_->pollTabs()->tabText(2), "Flow (copy)");
  EXPECT_EQ(dlg_->CurrentPoll(), 2);

  dlg_->pollTabs()->tabBar()->moveTab(2, 0);
  EXPECT_EQ(dlg_->session().Definition(0).name, "Flow (copy)");
  EXPECT_EQ(dlg_->session().Definition(1).name, "") << "settings.ini's own, which has no name";
  EXPECT_EQ(dlg_->session().Definition(2).name, "Flow");
  EXPECT_EQ(settings_.request_id, 2) << "settings.ini keeps the first poll";
  EXPECT_EQ(settings_.request_function_code, 4);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\nrequest_offset=10\n"), std::string::npos);

  dlg_->ClosePoll(0);
  dlg_->ClosePoll(0);
  ASSERT_EQ(dlg_->PollCount(), 1);
  EXPECT_EQ(dlg_->session().Definition(0).name, "Flow");
  dlg_->ClosePoll(0);
  EXPECT_EQ(dlg_->PollCount(), 1) << "the last poll stays";
  dlg_->Poll();
  ASSERT_TRUE(WaitFor([&] { return RowsOf(0).size() == 3; }));
  EXPECT_EQ(RowsOf(0)[2][5], "120");
}

// A workspace file holds the line and every poll: saved, opened again (the polls as tabs,
// the first one in settings.ini), its unknown members kept; a file that cannot be read is
// explained, and nothing of it is taken.
TEST_F(PollTabs, workspace_files) {
  dlg_->AddPoll(Block("Inputs", 2, 4, 10, 3, 0));
  std::vector<std::string> asked;
  dlg_->chooseWorkspace = [&](const std::string&, bool save) {
    asked.push_back(save ? "save" : "open");
    return dir_ / "site.vantrel.json";
  };
  ASSERT_TRUE(dlg_->SaveWorkspaceFile(false)) << "no name yet: asked for one";
  Workspace saved;
  std::string error;
  ASSERT_TRUE(LoadWorkspace(dir_ / "site.vantrel.json", saved, error)) << error;
  ASSERT_EQ(saved.polls.size(), 2u);
  EXPECT_EQ(saved.polls[1].name, "Inputs");
  EXPECT_EQ(saved.polls[0].periodMs, 200);
  EXPECT_EQ(saved.connection.device, "COM3");

  // Another file, with a member this version does not know.
  std::ofstream(dir_ / "other.vantrel.json") << R"({"format": "vantrel-workspace", "version": 1, "site": "pump 4",
    "connection": {"mode": "rtu", "device": "COM3", "baud": 115200, "timeout_ms": 1000},
    "polls": [{"name": "Setpoints", "slave_id": 2, "function": 3, "offset": 5, "length": 2},
              {"name": "Coils", "slave_id": 1, "function": 1, "offset": 1, "length": 8, "period_ms": 250},
              {"name": "Status", "slave_id": 2, "function": 2, "offset": 1, "length": 4}]})";
  ASSERT_TRUE(dlg_->OpenWorkspace(dir_ / "other.vantrel.json"));
  ASSERT_EQ(dlg_->PollCount(), 3);
  EXPECT_EQ(dlg_->pollTabs()->tabText(2), "Status");
  EXPECT_EQ(settings_.request_id, 2);
  EXPECT_EQ(settings_.request_offset, 5);
  EXPECT_EQ(settings_.PollPeriodMs(), 0);
  EXPECT_EQ(dlg_->requestButton()->text(), "03 Holding registers, Device: 2 Offset: 5 Length: 2");
  ASSERT_TRUE(WaitFor([&] { return RowsOf(1).size() == 8; })) << "Coils polls at its period";
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\nrecent_workspace_1=" + (dir_ / "other.vantrel.json") + "\n"),
            std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "settings.ini").find("\nrecent_workspace_2=" + (dir_ / "site.vantrel.json") + "\n"),
            std::string::npos);
  ASSERT_TRUE(dlg_->SaveWorkspaceFile(true));
  EXPECT_NE(ReadFile(dir_ / "site.vantrel.json").find("\"site\": \"pump 4\""), std::string::npos)
      << "members this version does not know stay";

  std::ofstream(dir_ / "bad.vantrel.json") << R"({"format": "vantrel-workspace", "version": 1,
    "polls": [{"slave_id": 1, "function": 3, "offset": 1, "length": 200}]})";
  box_.boxes.clear();
  EXPECT_FALSE(dlg_->OpenWorkspace(dir_ / "bad.vantrel.json"));
  ASSERT_EQ(box_.boxes.size(), 1u);
  EXPECT_NE(box_.boxes[0].text.find("polls[0].length"), std::string::npos) << box_.boxes[0].text;
  EXPECT_EQ(dlg_->PollCount(), 3) << "nothing of it taken";
  EXPECT_EQ(asked, (std::vector<std::string>{"save", "save"}));
}

// A server written with libmodbus over Modbus TCP: two tabs of a workspace named at start-up,
// holding and input registers, each filled with what that server's map holds.
TEST_F(MainWindow, two_tabs_poll_a_libmodbus_server) {
  vantrel::test::LibmodbusSlave server(vantrel::test::LibmodbusSlave::Tcp{});
  ASSERT_NE(server.port(), 0);
  std::ofstream(dir_ / "site.vantrel.json")
      << R"({"format": "vantrel-workspace", "version": 1,
    "connection": {"mode": "tcp", "host": "127.0.0.1", "port": )"
      << server.port() << R"(, "timeout_ms": 1000},
    "polls": [{"name": "Holding", "slave_id": 1, "function": 3, "offset": 1, "length": 3, "period_ms": 100},
              {"name": "Inputs", "slave_id": 1, "function": 4, "offset": 5, "length": 2, "period_ms": 100}]})";
  WriteSettings("");  // settings.ini's line is COM3, where nothing answers: it is not opened
  StartWindow(dir_ / "site.vantrel.json");
  EXPECT_EQ(dlg_->connectionButton()->text().toStdString(), "TCP 127.0.0.1:" + std::to_string(server.port()));
  const auto rows = [&](int poll) { return dlg_->pollTab(poll)->model()->table().rows; };
  ASSERT_TRUE(WaitFor([&] {
    return dlg_->session().Statistics(0).replies() >= 3 && dlg_->session().Statistics(1).replies() >= 3;
  }));
  ASSERT_EQ(rows(0).size(), 3u);
  ASSERT_EQ(rows(1).size(), 2u);
  EXPECT_EQ(rows(0)[2][5], std::to_string(0x1000 + 2)) << "holding register 3 (address 2)";
  EXPECT_EQ(rows(1)[0][5], std::to_string(0xF000 - 4)) << "input register 5 (address 4)";
  const PollStatistics& line = dlg_->session().LineStatistics();
  EXPECT_EQ(line.polls(), line.replies() + (dlg_->session().AwaitingReply() ? 1 : 0)) << line.StatusLine();
  EXPECT_TRUE(box_.boxes.empty()) << box_.boxes[0].text;
}
