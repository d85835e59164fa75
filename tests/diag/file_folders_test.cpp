// Where the files go: the working folder, except for a start from a desktop menu.
#include "diag/FileFolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "diag/Diagnostics.h"
#include "support/TempDir.h"

namespace vantrel {
namespace {

using test::TempDir;

TEST(file_folders, the_home_folder_without_settings_means_the_xdg_folders_any_other_the_working_folder) {
  TempDir home, work, withSettings, xdg;
  std::ofstream(withSettings / "settings.ini") << "[Vantrel Modbus Scanner]\n";
  std::filesystem::create_directory(home / "sub");
  const std::string config = home / ".config/vantrel-modbus-scanner";
  const std::string state = home / ".local/state/vantrel-modbus-scanner";
  const struct {
    StartPlace place;
    FileFolders expected;
  } cases[] = {
      {{home.path(), home.path(), "", ""}, {config, state}},
      {{home.path() + "/sub/..", home.path(), "", ""}, {config, state}},  // however it is spelt
      {{home.path(), home.path(), xdg / "c", xdg / "s"},
       {xdg / "c/vantrel-modbus-scanner", xdg / "s/vantrel-modbus-scanner"}},
      {{home.path(), home.path(), "relative/c", "relative/s"}, {config, state}},  // ignored
      {{"/", home.path(), "", ""}, {config, state}},                             // some launchers
      {{work.path(), home.path(), xdg / "c", xdg / "s"}, {work.path(), work.path()}},
      {{home / "sub", home.path(), "", ""}, {home / "sub", home / "sub"}},
      {{withSettings.path(), withSettings.path(), "", ""}, {withSettings.path(), withSettings.path()}},
      {{work.path(), "", "", ""}, {work.path(), work.path()}},
      {{"/", "", "", ""}, {"/", "/"}},  // nowhere else to go
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseFileFolders(c.place), c.expected) << c.place.workingFolder << " HOME=" << c.place.home;
  }
  EXPECT_FALSE(std::filesystem::exists(home / ".config")) << "choosing makes nothing";
}

// Sets an environment variable for the test's time, restoring it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(file_folders, started_in_home_the_logs_go_to_the_state_folder_made_private) {
  TempDir home;
  ScopedEnv h("HOME", home.path()), c("XDG_CONFIG_HOME", ""), s("XDG_STATE_HOME", "");
  test::ScopedCwd cwd(home.path());
  ResetLogPathsForTesting();
  const FileFolders folders = ProgramFileFolders();
  WriteLog("written at start-up");
  ResetLogPathsForTesting();

  EXPECT_EQ(folders.logs, home / ".local/state/vantrel-modbus-scanner");
  for (const std::string& folder : {folders.settings, folders.logs}) {
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
  }
  EXPECT_NE(test::ReadFile(folders.logs + "/log.txt").find("written at start-up"), std::string::npos);
  EXPECT_NE(test::ReadFile(folders.logs + "/Debuglog.txt").find("written at start-up"), std::string::npos);
  for (const auto& entry : std::filesystem::directory_iterator(home.path())) {
    EXPECT_EQ(entry.path().filename().string().front(), '.') << entry.path() << " at the top of home";
  }
}

}  // namespace
}  // namespace vantrel
