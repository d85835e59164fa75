// The real program in a real X server (Xvfb), started in a temporary folder with COM3
// linked to vantrel-slave and the vendor's server stood in for on 127.0.0.1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/VendorServer.h"

using namespace vantrel::test;

namespace {

constexpr char kTitle[] = "^Vantrel Modbus Scanner$";

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(x_.ok()) << "Xvfb did not start: " << x_.failure();
    ASSERT_TRUE(vendor_.ok());
  }
  void StartSlave() {
    slave_ = std::make_unique<SlaveProcess>(dir_.path(), "COM3", std::vector<std::string>{"-b", "115200"});
    ASSERT_TRUE(slave_->ready());
  }
  void WriteSettings(const std::string& text) { std::ofstream(dir_ / "settings.ini") << text; }
  // Starts the program (in dir_ unless told another folder, with extra arguments and
  // environment) and waits for its window; returns the window id.
  std::string Start(const std::vector<std::string>& args = {}, const std::string& cwd = "",
                    std::vector<std::string> env = {}) {
    std::vector<std::string> argv{VANTREL_BIN_DIR "/vantrel-modbus-scanner-under-test"};
    argv.insert(argv.end(), args.begin(), args.end());
    env.insert(env.end(), {"DISPLAY=" + x_.display(), "QT_QPA_PLATFORM=xcb", "VANTREL_TEST_VENDOR_URL=" + vendor_.RootUrl()});
    program_ = std::make_unique<BackgroundProcess>(argv, cwd.empty() ? dir_.path() : cwd, env, dir_ / "program.out");
    return Window();
  }
  // The first of the program's windows that is on screen, waiting for one.
  std::string Window() {
    const RunResult found = x_.Client({"xdotool", "search", "--sync", "--onlyvisible", "--name", kTitle});
    std::istringstream ids(found.out);
    std::string first;
    ids >> first;
    return first;
  }
  // Waits (bounded) until the file holds every one of the texts.
  static bool Holds(const std::string& path, const std::vector<std::string>& texts, int timeoutMs = 30000) {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
      const std::string content = ReadFile(path);
      bool all = true;
      for (const auto& t : texts) all = all && content.find(t) != std::string::npos;
      if (all) return true;
      usleep(100000);
    }
    return false;
  }
  bool FileHolds(const std::string& name, const std::vector<std::string>& texts, int timeoutMs = 30000) {
    return Holds(dir_ / name, texts, timeoutMs);
  }
  std::string ExpectedSettings(int pollFrequency, const std::string& logFolder = "") const {
    return "[Vantrel Modbus Scanner]\ncheck_for_updates=0\npoll_frequency=" + std::to_string(pollFrequency) +
           "\nrecv_time_out=10000\nmodbus_mode=1\ncom_port=3\nbuad_rate=115200\ndata_bits=8\nstop_bits=1\n"
           "parity=N\nlogfile_path=" + (logFolder.empty() ? dir_.path() : logFolder) + "/log.txt\ndata_format=0\nrequest_id=11\n"
           "request_length=10\nrequest_offset=1\nrequest_function_code=3\nalways_write_multiple=0\nword_order=0\nshow_64bit=0\n"
           "poll_period_ms=" + std::to_string(pollFrequency * 1000) +
           "\nkeep_polling_on_failure=0\nshow_wire_address=0\ndata_log=0\ndata_log_path=\ndata_log_32bit=0\n"
           "device_path=\nrs485=0\ntcp_host=\ntcp_port=502\nturnaround_ms=100\n\n";  // and the empty last line
  }

  TempDir dir_;
  XServer x_;
  VendorServer vendor_;
  std::unique_ptr<SlaveProcess> slave_;
  std::unique_ptr<BackgroundProcess> program_;
};

const char kSettings[] =
    "[Vantrel Modbus Scanner]\ncheck_for_updates=0\npoll_frequency=1\nbuad_rate=115200\n"
    "request_function_code=3\nrequest_length=10\n";

}  // namespace

TEST_F(Program, polls_logs_and_close_reports_and_saves) {
  StartSlave();
  WriteSettings(kSettings);
  const std::string window = Start();
  ASSERT_FALSE(window.empty()) << ReadFile(dir_ / "program.out");
  ASSERT_TRUE(FileHolds("log.txt", {"] =>Request: 0B 03 00 00 00 0A C5 67 \n", "] <= Responce: 00 01 00 02 "}))
      << ReadFile(dir_ / "log.txt");
  const RunResult shot = x_.Client({"import", "-window", "root", VANTREL_ARTIFACT_DIR "/program_polling.png"});
  EXPECT_EQ(shot.status, 0) << shot.err;

  // the Close button, at the right end of the row of steps
  const RunResult geometry = x_.Client({"xdotool", "getwindowgeometry", "--shell", window});
  const auto width = std::stoi(geometry.out.substr(geometry.out.find("WIDTH=") + 6));
  x_.Client({"xdotool", "mousemove", "--window", window, std::to_string(width - 52), "138", "click", "1"});
  ASSERT_EQ(program_->Wait(20000), 0) << "closed by the Close button";

  EXPECT_EQ(ReadFile(dir_ / "settings.ini"), ExpectedSettings(1));
  const auto requests = vendor_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/script/tattler.php");
  EXPECT_NE(requests[0].body.find("&PollCount="), std::string::npos) << requests[0].body;
  EXPECT_NE(requests[0].body.find("&RespCount="), std::string::npos) << requests[0].body;
}

TEST_F(Program, escape_ends_without_report_or_save) {
  StartSlave();
  WriteSettings(kSettings);
  const std::string window = Start();
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(FileHolds("log.txt", {"<= Responce: "}));
  x_.Client({"xdotool", "key", "--window", window, "Escape"});
  ASSERT_EQ(program_->Wait(20000), 0);
  EXPECT_EQ(ReadFile(dir_ / "settings.ini"), kSettings);
  EXPECT_EQ(vendor_.RequestCount(), 0u);
}

TEST_F(Program, without_a_slave_it_explains_and_stays_usable) {
  WriteSettings(kSettings);
  const std::string window = Start();
  ASSERT_FALSE(window.empty());
  ASSERT_TRUE(FileHolds("log.txt", {"MessageAndLog iType=[0] msg=[Error - Can not connect to the serial port\n"}));
  const RunResult shot = x_.Client({"import", "-window", "root", VANTREL_ARTIFACT_DIR "/program_no_slave.png"});
  EXPECT_EQ(shot.status, 0);
  x_.Client({"xdotool", "key", "Return"});  // the box has the focus
  ASSERT_TRUE(FileHolds("log.txt", {"MessageAndLog return = [ 1]"}));
  usleep(300000);
  EXPECT_TRUE(program_->Running()) << "the window stays after the error";
  EXPECT_TRUE(FileHolds("log.txt", {"] Error - Can not connect to the serial port  This problem"}));
  x_.Client({"xdotool", "key", "--window", window, "Escape"});
  EXPECT_EQ(program_->Wait(20000), 0);
}

// Started from the desktop menu (in the home folder, which holds no settings.ini), the
// program keeps its files in the XDG folders, none at the top of the home folder; started
// in a work folder, it keeps them there, as always.
TEST_F(Program, keeps_its_files_in_the_xdg_folders_when_started_in_home_else_in_the_work_folder) {
  TempDir home;
  const std::string config = home / ".config/vantrel-modbus-scanner";
  const std::string state = home / ".local/state/vantrel-modbus-scanner";
  const struct {
    std::string cwd, settingsFolder, logFolder;
  } cases[] = {{dir_.path(), dir_.path(), dir_.path()}, {home.path(), config, state}};
  for (const auto& c : cases) {
    std::filesystem::create_directories(c.settingsFolder);
    std::ofstream(c.settingsFolder + "/settings.ini") << kSettings;
    SlaveProcess slave(c.settingsFolder, "COM3", {"-b", "115200"});  // COM3 beside settings.ini
    ASSERT_TRUE(slave.ready());
    const std::string window =
        Start({}, c.cwd, {"HOME=" + home.path(), "XDG_CONFIG_HOME=", "XDG_STATE_HOME="});
    ASSERT_FALSE(window.empty()) << ReadFile(dir_ / "program.out");
    ASSERT_TRUE(Holds(c.logFolder + "/log.txt", {"] <= Responce: 00 01 00 02 "})) << c.cwd;
    x_.Client({"xdotool", "key", "--window", window, "Return"});  // Close: the settings are saved
    ASSERT_EQ(program_->Wait(20000), 0) << c.cwd;

    EXPECT_EQ(ReadFile(c.settingsFolder + "/settings.ini"), ExpectedSettings(1, c.logFolder)) << c.cwd;
    EXPECT_NE(ReadFile(c.logFolder + "/Debuglog.txt").find("Start up path " + c.settingsFolder), std::string::npos);
    EXPECT_EQ(std::filesystem::exists(state), c.logFolder == state) << c.cwd;
    for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
      EXPECT_EQ(entry.path().filename().string().front(), '.') << entry.path() << " at the top of home";
    }
  }
}

// A workspace file named on the command line is opened at start-up, on its own line; one that
// cannot be is explained in a box naming the file and why, and the window goes on.
TEST_F(Program, explains_a_workspace_file_that_cannot_be_opened) {
  StartSlave();
  WriteSettings("[Vantrel Modbus Scanner]\ncheck_for_updates=0\nbuad_rate=115200\n");
  std::ofstream(dir_ / "bad.vantrel.json") << R"({"format": "vantrel-workspace", "version": 1, "polls": [{"length": 0}]})";
  // A good one on the simulator's line: opened, its polls as tabs.
  const std::string good = dir_ / "good.vantrel.json";
  std::ofstream(good) << R"({"format": "vantrel-workspace", "version": 1,
    "connection": {"mode": "rtu", "device": "COM3", "baud": 115200, "timeout_ms": 1000},
    "polls": [{"name": "A", "slave_id": 11, "function": 3, "offset": 1, "length": 2},
              {"name": "B", "slave_id": 11, "function": 4, "offset": 1, "length": 2},
              {"name": "C", "slave_id": 11, "function": 1, "offset": 1, "length": 8}]})";
  const struct {
    std::string file, box;
  } cases[] = {
      {"absent.vantrel.json", dir_ / "absent.vantrel.json" + ": cannot be read: No such file or directory"},
      {"bad.vantrel.json", dir_ / "bad.vantrel.json" + ": polls[0].length: must be 1 to 2000 for function 1, not 0"},
      {good, ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dir_ / "log.txt");
    ASSERT_FALSE(Start({c.file}).empty()) << ReadFile(dir_ / "program.out");
    if (c.box.empty()) {
      EXPECT_TRUE(FileHolds("Debuglog.txt", {"Workspace opened: " + good + " (3 polls)"}));
    } else {
      ASSERT_TRUE(FileHolds("log.txt", {"MessageAndLog iType=[16] msg=[Error - Can not open the workspace\n\n" +
                                        c.box + "\n\nThe program goes on with its settings as they were.]"}))
          << ReadFile(dir_ / "log.txt");
      x_.Client({"import", "-window", "root", VANTREL_ARTIFACT_DIR "/program_workspace_refused.png"});
      x_.Client({"xdotool", "key", "Return"});  // the box has the focus
      ASSERT_TRUE(FileHolds("log.txt", {"MessageAndLog return = [ 1]"}));
    }
    x_.Client({"xdotool", "key", "--window", Window(), "Escape"});
    EXPECT_EQ(program_->Wait(20000), 0) << c.file;
    EXPECT_EQ(ReadFile(dir_ / "log.txt").find("MessageAndLog") != std::string::npos, !c.box.empty()) << c.file;
  }
}
