#include "diag/Diagnostics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "diag/Clock.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"

using namespace vantrel;
using vantrel::test::ReadFile;
using vantrel::test::RecordingPresenter;
using vantrel::test::ScopedCwd;
using vantrel::test::TempDir;

namespace {

// Each test writes its logs in a fresh folder at a fixed local time.
class DiagnosticsTest : public ::testing::Test {
 protected:
  DiagnosticsTest() : cwd_(dir_.path()) {
    ResetLogPathsForTesting();
    std::tm t{};
    t.tm_year = 2007 - 1900;
    t.tm_mon = 6;
    t.tm_mday = 3;
    t.tm_hour = 14;
    t.tm_min = 38;
    t.tm_sec = 44;
    t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    SetClock([when] { return when; });
  }
  ~DiagnosticsTest() override {
    SetClock(nullptr);
    ResetLogPathsForTesting();
  }
  std::string Debug() { return ReadFile(dir_ / "Debuglog.txt"); }
  std::string Messages() { return ReadFile(dir_ / "log.txt"); }

  TempDir dir_;
  ScopedCwd cwd_;
};

}  // namespace

TEST_F(DiagnosticsTest, record_is_a_new_line_with_the_date_and_time_first) {
  WriteDebugLog("Start up path %s", "/tmp/x");
  WriteDebugLog("Poll frequency: %d", 5);
  EXPECT_EQ(Debug(),
            "\n[03-07-2007 14:38:44] Start up path /tmp/x"
            "\n[03-07-2007 14:38:44] Poll frequency: 5");
}

TEST_F(DiagnosticsTest, write_log_goes_to_both_files) {
  WriteLog("one %d", 1);
  EXPECT_EQ(Messages(), "\n[03-07-2007 14:38:44] one 1");
  EXPECT_EQ(Debug(), "\n[03-07-2007 14:38:44] one 1");
}

TEST_F(DiagnosticsTest, message_and_log_records_text_and_answer) {
  RecordingPresenter box(IDYES);
  EXPECT_EQ(MessageAndLog(kBoxYesNo, "Download %s?", "now"), IDYES);
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text, "Download now?");
  EXPECT_EQ(box.boxes[0].type, kBoxYesNo);
  const std::string expected =
      "\n[03-07-2007 14:38:44] MessageAndLog iType=[4] msg=[Download now?]"
      "\n[03-07-2007 14:38:44] MessageAndLog return = [ 6]";
  EXPECT_EQ(Messages(), expected);
  EXPECT_EQ(Debug(), expected);
}

TEST_F(DiagnosticsTest, percent_signs_in_arguments_stay_literal_everywhere) {
  RecordingPresenter box;
  ShowMessage("%s", "100% sure, %d %s %n");
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text, "100% sure, %d %s %n");
  EXPECT_EQ(box.boxes[0].type, kBoxOk);
  EXPECT_NE(Messages().find("msg=[100% sure, %d %s %n]"), std::string::npos);
  EXPECT_NE(Debug().find("msg=[100% sure, %d %s %n]"), std::string::npos);
  WriteDebugLogText("50% off %s");
  EXPECT_NE(Debug().find("] 50% off %s"), std::string::npos);
}

TEST_F(DiagnosticsTest, box_text_is_cut_at_4095_but_debug_log_is_not) {
  RecordingPresenter box;
  const std::string longText(5000, 'x');
  ShowMessage("%s", longText.c_str());
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text.size(), 4095u);
  WriteDebugLog("%s", longText.c_str());
  EXPECT_NE(Debug().find(longText), std::string::npos);
}

TEST_F(DiagnosticsTest, write_log_cuts_only_the_debug_copy) {
  const std::string longText(5000, 'y');
  WriteLog("%s", longText.c_str());
  EXPECT_NE(Messages().find(longText), std::string::npos);
  EXPECT_EQ(Debug().find(longText), std::string::npos);
  EXPECT_NE(Debug().find(std::string(4095, 'y')), std::string::npos);
}

TEST_F(DiagnosticsTest, unwritable_message_log_drops_both_records_but_shows_the_box) {
  // a folder in place of the file cannot be opened for appending, even by root
  std::filesystem::create_directory(dir_ / "log.txt");
  RecordingPresenter box(IDOK);
  EXPECT_EQ(ShowMessage("still shown"), IDOK);
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(Debug(), "");
  WriteDebugLog("direct record");
  EXPECT_EQ(Debug(), "\n[03-07-2007 14:38:44] direct record");
}

TEST_F(DiagnosticsTest, unwritable_debug_log_is_silent) {
  std::filesystem::create_directory(dir_ / "Debuglog.txt");
  WriteDebugLog("lost");
  WriteLog("kept");
  EXPECT_EQ(Messages(), "\n[03-07-2007 14:38:44] kept");
}

TEST_F(DiagnosticsTest, logs_stay_where_they_were_first_written) {
  WriteDebugLog("first");
  TempDir other;
  ScopedCwd moved(other.path());
  WriteDebugLog("second");
  EXPECT_EQ(Debug(), "\n[03-07-2007 14:38:44] first\n[03-07-2007 14:38:44] second");
  EXPECT_FALSE(std::filesystem::exists(other / "Debuglog.txt"));
}

TEST_F(DiagnosticsTest, panic_names_file_line_and_build_time) {
  RecordingPresenter box;
  Panic("Vantrel Modbus TestDlg", 42, "Dec  7 2026", "10:00:00", "Unknown function code ");
  ASSERT_EQ(box.boxes.size(), 1u);
  EXPECT_EQ(box.boxes[0].text,
            "PANIC!\r\n\r\nFile=[Vantrel Modbus TestDlg] \r\nLine=[42]\r\nDate=[Dec  7 2026]\r\n"
            "Time=[10:00:00]\r\n\r\nMessage=[Unknown function code ]");
  EXPECT_EQ(box.boxes[0].type, kBoxOk);
}

TEST_F(DiagnosticsTest, switched_off_debug_log_writes_nothing) {
  debug_log_enabled = false;
  WriteDebugLog("nothing");
  WriteLog("message only");
  debug_log_enabled = true;
  EXPECT_EQ(Debug(), "");
  EXPECT_EQ(Messages(), "\n[03-07-2007 14:38:44] message only");
}

TEST(default_presenter, answers_ok_or_no) {
  SetMessagePresenter(nullptr);
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ResetLogPathsForTesting();
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageAndLog(kBoxOk, "plain"), IDOK);
  EXPECT_EQ(MessageAndLog(kBoxYesNo, "question"), IDNO);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("question"), std::string::npos);
  ResetLogPathsForTesting();
}
