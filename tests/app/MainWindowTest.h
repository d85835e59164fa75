// The main window offscreen against vantrel-slave, linked as COM3 in a temporary start-up
// folder; ticks are stepped through OnTimer, as the window timers would.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/MainDlg.h"
#include "app/ResponseModel.h"
#include "diag/Clock.h"
#include "modbus/ModbusMaster.h"
#include "session/Line.h"
#include "sheet/PropertyPage.h"
#include "settings/ScannerSettings.h"
#include "sheet/TreePropSheet.h"
#include "support/Process.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"
#include "support/VendorServer.h"
#include "web/Tattler.h"
#include "web/WebServices.h"

namespace vantrel::test {

using namespace std::chrono_literals;

class MainWindow : public ::testing::Test {
 protected:
  MainWindow() : cwd_(dir_.path()), settings_(dir_.path()) {
    ResetLogPathsForTesting();
    SetVendorRootUrl(vendor_.RootUrl());
    SetBrowserOpener([this](const std::string& url) { opened_.push_back(url); });
  }
  ~MainWindow() override {
    dlg_.reset();
    SetBrowserOpener(nullptr);
    SetVendorRootUrl("");
    SetClock(nullptr);
    ResetLogPathsForTesting();
  }

  // Writes settings.ini with these lines after the defaults that matter here.
  void WriteSettings(const std::string& extra) {
    std::ofstream(dir_ / "settings.ini") << "[Vantrel Modbus Scanner]\ncom_port=3\nbuad_rate=115200\n"
                                            "request_id=1\ncheck_for_updates=0\n"
                                         << extra;
  }
  void StartSlave(std::vector<std::string> options = {"-a", "1", "-b", "115200"}) {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3", std::move(options));
    ASSERT_TRUE(slave_->ready());
  }
  // Starts the window on settings.ini, or on a workspace named as the command line names it.
  void StartWindow(const std::string& workspace = "") {
    dlg_ = std::make_unique<CMainDlg>(settings_, line_, tattler_);
    dlg_->workspaceAtStartUp = workspace;
    dlg_->runSettingsSheet = [this](CTreePropSheet& sheet) {
      sheets_.push_back(sheet.GetActivePage()->Caption().toStdString());
      return int(QDialog::Rejected);
    };
    dlg_->OnTimer(TIMER_STARTUP);
  }
  // Steps reply ticks 100 ms apart until the reply timer stops; returns the ticks taken.
  int StepReplyTicks(int limit = 200) {
    int ticks = 0;
    while (dlg_->IsTimerArmed(TIMER_REPLY) && ticks < limit) {
      std::this_thread::sleep_for(100ms);
      dlg_->OnTimer(TIMER_REPLY);
      ++ticks;
    }
    return ticks;
  }
  // The poll timer runs to the next poll: one period from the last send, less the time the
  // send itself took (a slow build may take some milliseconds).
  void ExpectPollTimer(int periodMs) const {
    ASSERT_TRUE(dlg_->IsTimerArmed(TIMER_POLL));
    EXPECT_LE(dlg_->TimerPeriod(TIMER_POLL), periodMs);
    EXPECT_GT(dlg_->TimerPeriod(TIMER_POLL), periodMs - 100);
  }
  std::vector<std::vector<std::string>> Rows() const { return dlg_->responseModel()->table().rows; }

  TempDir dir_;
  ScopedCwd cwd_;
  ScannerSettings settings_;
  Line line_;
  ModbusMaster& master_ = line_.master();
  Tattler tattler_;
  RecordingPresenter box_;
  std::unique_ptr<SlaveProcess> slave_;
  std::unique_ptr<CMainDlg> dlg_;
  std::vector<std::string> sheets_;  // the start page of each sheet run
  vantrel::test::VendorServer vendor_;
  std::vector<std::string> opened_;
};

using Row = std::vector<std::string>;

}  // namespace vantrel::test
